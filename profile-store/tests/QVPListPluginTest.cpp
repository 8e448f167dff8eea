// The plug-in build of the store with fake helpers: small shell scripts
// installed at the helper's path in a temporary install root.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "StoreTestSupport.h"
#include "system/system.h"

using namespace storetest;

namespace {

// Logs every call; acts like the real service on the files; refuses the
// piece whose number is in $ROOT/fail-piece.
constexpr const char* kFakeHelper = R"SH(#!/bin/sh
log="$R2740_ROOT/helper.log"
echo "$*" >> "$log"
case "$1" in
  qvPListIsAdminProfile_XPC) [ -f "$R2740_ROOT/no-admin" ] || echo "qvPListIsAdminProfile_XPC=TRUE" ;;
  qvPListExistProfile_XPC) [ -f "$2" ] && echo "qvPListExistProfile_XPC=TRUE" ;;
  qvPListRemove_XPC) rm "$2" 2>/dev/null && echo "qvPListRemove_XPC=TRUE" ;;
  qvPListSwapProfile_XPC) [ "$2" = 2 ] && cp "$3" "$4" ;;
  writeDataToPlistFile_XPC)
    n=$(grep -c '^writeDataToPlistFile_XPC ' "$log")
    if [ -f "$R2740_ROOT/fail-piece" ] && [ "$n" = "$(cat "$R2740_ROOT/fail-piece")" ]; then
      echo "writeDataToPlistFile_XPC=FALSE"; exit 0
    fi
    p="${2#file://}"; printf '%s' "$3" >> "$p.dummy" && echo "writeDataToPlistFile_XPC=TRUE" ;;
  writeDataToPlistFileRename_XPC)
    p="${2#file://}"; mv "$p.dummy" "$p" && echo "writeDataToPlistFileRename_XPC=TRUE" ;;
esac
exit 0
)SH";

class PluginStore : public ::testing::Test {
 protected:
  void SetUp() override {
    current_ = tmp_.folder() + "/" + sys::LoginName() + "-R2740-profile.plist";
    log_ = tmp_.root() + "/helper.log";
  }
  void InstallHelper() {
    std::string helper = QVPListHelperPath();
    ASSERT_EQ(0u, helper.find(tmp_.root()));
    std::filesystem::create_directories(std::filesystem::path(helper).parent_path());
    std::ofstream(helper) << kFakeHelper;
    ::chmod(helper.c_str(), 0755);
  }
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  std::unique_ptr<ProfileList> Sample() {
    auto l = EmptyList();
    for (int i = 0; i < 40; ++i) {
      std::string file = "P" + std::to_string(i) + ".ICC";
      Put(l.get(), i, i + 1, kProfileStateFoundShown, 1, file.c_str(), "Profil \xC3\xA9t\xC3\xA9", 4);
    }
    l->iNum = 40;
    return l;
  }

  TempRoot tmp_;
  std::string current_, log_;
};

TEST_F(PluginStore, WithoutHelperEverythingAnswersNoAndNothingIsWritten) {
  ASSERT_EQ(tmp_.folder() + "/" + sys::LoginName() + "-R2740-profile.plist", QVPListCurrentPath());
  std::ofstream(current_) << "old contents";
  auto l = Sample();
  EXPECT_EQ(0, QVPListIsAdminProfile());
  EXPECT_EQ(0, QVPListExistProfile());
  EXPECT_EQ(0, QVPListRemove(kQVPListRemoveCurrent));
  EXPECT_EQ(-1, QVPListWriteProfile_All(l.get(), l.get(), l.get()));
  EXPECT_EQ(-1, QVPListWriteProfile_All_Pap(l.get(), l.get(), l.get(), nullptr, nullptr, nullptr));
  QVPListSwapProfile(kQVPListSwapBackup);
  EXPECT_EQ("old contents", *sys::ReadFile(current_));
  EXPECT_FALSE(sys::FileExists(QVPListPrevPath()));
}

// The dialog reads the file itself: a FIFO or a link at its name is no
// profile file, and reading it must not wait for a writer.
TEST_F(PluginStore, ReadRefusesAFifoOrLinkAtOnce) {
  auto l = EmptyList();
  const std::string elsewhere = tmp_.root() + "/elsewhere";
  std::ofstream(elsewhere) << QVPListCreateXMLText(l.get(), l.get(), l.get());
  ASSERT_EQ(0, ::mkfifo(current_.c_str(), 0666));
  EXPECT_EQ(-1, QVPListReadProfile_Dict(l.get(), kProfileListRGB));
  ASSERT_EQ(0, ::unlink(current_.c_str()));
  ASSERT_EQ(0, ::symlink(elsewhere.c_str(), current_.c_str()));
  EXPECT_EQ(-1, QVPListReadProfile_Dict(l.get(), kProfileListRGB));
  ASSERT_EQ(0, ::rename(elsewhere.c_str(), current_.c_str()));
  EXPECT_EQ(0, QVPListReadProfile_Dict(l.get(), kProfileListRGB));
}

TEST_F(PluginStore, WriteTravelsInPiecesAndReadsBack) {
  InstallHelper();
  auto rgb = Sample(), sim = EmptyList(), dst = Sample();
  ASSERT_EQ(0, QVPListWriteProfile_All(rgb.get(), sim.get(), dst.get()));

  auto lines = LogLines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ("qvPListIsAdminProfile_XPC " + current_, lines[0]);
  EXPECT_EQ("qvPListRemove_XPC " + current_ + ".dummy", lines[1]);
  size_t pieces = 0;
  for (const auto& l : lines)
    if (l.rfind("writeDataToPlistFile_XPC file://" + current_ + " ", 0) == 0) ++pieces;
  std::string xml = QVPListCreateXMLText(rgb.get(), sim.get(), dst.get());
  size_t chars = 0;
  for (unsigned char c : xml) chars += (c & 0xC0) != 0x80;
  EXPECT_EQ((chars + 89999) / 90000, pieces);  // 90000 characters a piece
  EXPECT_EQ("writeDataToPlistFileRename_XPC file://" + current_, lines.back());
  EXPECT_EQ(xml, *sys::ReadFile(current_));

  auto r = EmptyList(), s = EmptyList(), d = EmptyList();
  ASSERT_EQ(0, QVPListReadProfile_All(r.get(), s.get(), d.get()));
  EXPECT_EQ(40, r->iNum);
  EXPECT_EQ(0, s->iNum);
  EXPECT_STREQ("Profil \xC3\xA9t\xC3\xA9", d->entry[39].ProfileName);
  EXPECT_EQ(1, QVPListExistProfile());

  QVPListSwapProfile(kQVPListSwapBackup);
  EXPECT_EQ(xml, *sys::ReadFile(QVPListPrevPath()));
  EXPECT_EQ(1, QVPListRemove(kQVPListRemovePrev));
  EXPECT_FALSE(sys::FileExists(QVPListPrevPath()));
}

TEST_F(PluginStore, UnacknowledgedPieceOrRefusedProbeKeepsTheOldFile) {
  InstallHelper();
  auto l = Sample();
  ASSERT_EQ(0, QVPListWriteProfile_All(l.get(), l.get(), l.get()));
  std::string old = *sys::ReadFile(current_);

  std::filesystem::remove(log_);
  std::ofstream(tmp_.root() + "/fail-piece") << "3";
  auto other = EmptyList();
  ASSERT_EQ(-1, QVPListWriteProfile_All(other.get(), l.get(), other.get()));
  EXPECT_EQ(old, *sys::ReadFile(current_));
  size_t pieces = 0;
  for (const auto& line : LogLines()) {
    EXPECT_EQ(std::string::npos, line.find("Rename")) << line;
    if (line.rfind("writeDataToPlistFile_XPC", 0) == 0) ++pieces;
  }
  EXPECT_EQ(3u, pieces);

  // The next write starts from an empty temporary file, not after the
  // two pieces left behind.
  std::filesystem::remove(tmp_.root() + "/fail-piece");
  ASSERT_EQ(0, QVPListWriteProfile_All(other.get(), l.get(), other.get()));
  EXPECT_EQ(QVPListCreateXMLText(other.get(), l.get(), other.get()), *sys::ReadFile(current_));

  std::ofstream(tmp_.root() + "/no-admin") << "";
  EXPECT_EQ(-1, QVPListWriteProfile_All(l.get(), l.get(), l.get()));
  EXPECT_EQ(0, QVPListIsAdminProfile());
  EXPECT_EQ(0, QVPListExistProfile());
}

}  // namespace
