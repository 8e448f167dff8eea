// In-process tests of the service: the 8.3 rule, the spool, the merge of a
// walk into the stored lists, and the confinement of request paths.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "MibWalk.h"
#include "QVmacServiceXPC.h"
#include "system/layout.h"
#include "system/system.h"

namespace {

std::unique_ptr<ProfileList> EmptyList() {
  auto l = std::make_unique<ProfileList>();
  std::memset(l.get(), 0, sizeof(ProfileList));
  return l;
}

void Put(ProfileList* l, int slot, int index, int state, int cls, const char* file, int location) {
  ProfileEntry& e = l->entry[slot];
  std::memset(&e, 0, sizeof e);
  e.IndexOnDevice = index;
  e.InMenu = state;
  e.ProfileClass = cls;
  std::strncpy(e.FileName, file, 31);
  std::strncpy(e.ProfileName, file, 31);
  e.Location = location;
}

// One cell of the device's table, as the library hands it to the spool.
void Spool(ProfileList* spool, oid column, oid row, int value) {
  oid name[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, column, 1, row};
  netsnmp_variable_list v{};
  long n = value;
  v.type = ASN_INTEGER;
  v.val.integer = &n;
  v.val_len = sizeof n;
  vSpoolPlist(spool, name, 18, &v, 0);
}
void Spool(ProfileList* spool, oid column, oid row, const std::string& text) {
  oid name[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, column, 1, row};
  netsnmp_variable_list v{};
  std::string copy = text;
  v.type = ASN_OCTET_STR;
  v.val.string = reinterpret_cast<u_char*>(copy.data());
  v.val_len = copy.size();
  vSpoolPlist(spool, name, 18, &v, 0);
}
void SpoolRow(ProfileList* spool, oid row, int cls, const char* file, int location) {
  Spool(spool, 1, row, static_cast<int>(row));
  Spool(spool, 2, row, location);
  Spool(spool, 3, row, std::string("Name ") + file);
  Spool(spool, 4, row, file);
  Spool(spool, 5, row, cls);
  Spool(spool, 7, row, 1);
}

TEST(EightDotThree, AcceptsAndRejects) {
  EXPECT_EQ(1, bJudgement8point3Format("PROFILE1.ICC"));
  EXPECT_EQ(1, bJudgement8point3Format("a.b.c"));
  EXPECT_EQ(1, bJudgement8point3Format((std::string(27, 'B') + ".ICC").c_str()));
  EXPECT_EQ(1, bJudgement8point3Format("NOEXT."));
  EXPECT_EQ(1, bJudgement8point3Format(std::string(27, 'n').c_str()));
  EXPECT_EQ(1, bJudgement8point3Format("a!#$%&'()-^_`{}~.x"));
  EXPECT_EQ(0, bJudgement8point3Format(std::string(28, 'n').c_str()));
  EXPECT_EQ(0, bJudgement8point3Format("A.ICCX"));
  EXPECT_EQ(0, bJudgement8point3Format((std::string(28, 'B') + ".ICC").c_str()));
  EXPECT_EQ(0, bJudgement8point3Format("MY FILE.ICC"));
  EXPECT_EQ(0, bJudgement8point3Format("a@b.ICC"));
  EXPECT_EQ(0, bJudgement8point3Format(".ICC"));
  EXPECT_EQ(0, bJudgement8point3Format("caf\xC3\xA9.icc"));
  EXPECT_EQ(0, bJudgement8point3Format(""));
  EXPECT_EQ(0, bJudgement8point3Format(nullptr));
}

TEST(WalkRequest, OnlyThePluginsShapeIsAccepted) {
  auto args = [](const std::string& community, const std::string& address) {
    return "snmpwalk:arg:-Os:arg:-c:arg:" + community + ":arg:-v:arg:1:arg:" + address +
           ":arg:1.3.6.1.4.1.47291.1.1.1.1.6.13.1.1:arg:";
  };
  std::string why;
  auto ok = ParseWalkRequest(args("public", "printer-1.example"), &why);
  ASSERT_TRUE(ok) << why;
  EXPECT_EQ("public", ok->community);
  EXPECT_EQ("printer-1.example", ok->address);
  // Text after the last marker is dropped; without the last marker the
  // table root is the dropped field.
  EXPECT_TRUE(ParseWalkRequest(args("public", "10.0.0.5") + "junk", &why));
  std::string noLastMarker = args("public", "10.0.0.5");
  EXPECT_FALSE(ParseWalkRequest(noLastMarker.substr(0, noLastMarker.size() - 5), &why));
  EXPECT_TRUE(ParseWalkRequest(args("public", std::string(255, 'a')), &why));
  for (const std::string& address : {std::string(256, 'a'), std::string("-d"), std::string(".x"), std::string("_x"),
                                     std::string("a b"), std::string("a/b"), std::string("[::1]"), std::string("")})
    EXPECT_FALSE(ParseWalkRequest(args("public", address), &why)) << address;
  EXPECT_FALSE(ParseWalkRequest(args("", "h"), &why));
  EXPECT_FALSE(ParseWalkRequest(args("pub\nlic", "h"), &why));
}

TEST(Spool, RowsOutsideTheListAndLongStringsStayInBounds) {
  auto list = EmptyList();
  ProfileList* spool = list.get();
  Spool(spool, 1, 0, 5);    // row 0: no slot
  Spool(spool, 1, 501, 5);  // beyond the list
  Spool(spool, 4, 1000000, "X.ICC");
  EXPECT_EQ(0, spool->iNum);
  Spool(spool, 4, 500, std::string(40, 'L'));
  EXPECT_EQ(std::string(31, 'L'), spool->entry[499].FileName);
  Spool(spool, 3, 2, std::string("AB\0CD", 5));
  EXPECT_STREQ("AB", spool->entry[1].ProfileName);
  Spool(spool, 4, 3, 7);  // wrong type for the column
  EXPECT_STREQ("", spool->entry[2].FileName);
  Spool(spool, 1, 1, 11);
  EXPECT_EQ(1, spool->iNum);
  EXPECT_EQ(11, spool->entry[0].IndexOnDevice);
  vSpoolPlist(spool, nullptr, 0, nullptr, 1);
  EXPECT_STREQ("", spool->entry[499].FileName);
}

class Merge : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/r2740-merge-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    std::filesystem::create_directories(root_ + sys::InstalledPath(kQVPListProfileFolder));
    current_ = root_ + sys::InstalledPath(kQVPListProfileFolder) + "/u-R2740-profile.plist";
    prev_ = root_ + sys::InstalledPath(kQVPListProfileFolder) + "/u-R2740-profile.prev.plist";
    QV_PLIST_PROFILE_PATH = current_.c_str();
    QV_PLIST_PROFILE_PREV_PATH = prev_.c_str();
  }
  void TearDown() override {
    QV_PLIST_PROFILE_PATH = nullptr;
    QV_PLIST_PROFILE_PREV_PATH = nullptr;
    std::filesystem::remove_all(root_);
  }
  void Read(ProfileList* r, ProfileList* s, ProfileList* d) { ASSERT_EQ(0, QVPListReadProfile_All(r, s, d)); }
  std::unique_ptr<ProfileList> spool_ = EmptyList();
  std::string root_, current_, prev_;
};

TEST_F(Merge, SuccessfulWalkMatchesAddsAndSorts) {
  auto rgb = EmptyList(), sim = EmptyList(), dst = EmptyList();
  Put(rgb.get(), 0, 503, kProfileStateUserShown, 2, "USER.ICC", 4);   // the device has it too
  Put(rgb.get(), 1, 8, kProfileStateFoundHidden, 1, "OLD.ICC", 4);    // no longer on the device
  Put(rgb.get(), 2, 9, kProfileStateFoundShown, 1, "KEEP.ICC", 5);    // shown, not on the device
  Put(rgb.get(), 3, 10, kProfileStateDeviceHidden, 1, "BAD NAME.ICC", 4);
  rgb->iNum = 4;
  Put(sim.get(), 0, 4, kProfileStateDeviceHidden, 1, "BAD NAME.ICC", 4);  // a hole before the match
  Put(sim.get(), 1, 4, kProfileStateDeviceShown, 3, "SIM.ICC", 4);
  sim->iNum = 2;
  ASSERT_EQ(0, QVPListWriteProfile_All(rgb.get(), sim.get(), dst.get()));

  SpoolRow(spool_.get(), 1, 2, "USER.ICC", 4);
  SpoolRow(spool_.get(), 2, 3, "SIM.ICC", 4);
  SpoolRow(spool_.get(), 3, 1, "ONLOC3.ICC", 3);  // location 3: not taken
  SpoolRow(spool_.get(), 5, 1, "NEW.ICC", 5);     // after a gap in the rows
  SpoolRow(spool_.get(), 6, 9, "CLASS9.ICC", 4);  // unknown class
  ASSERT_EQ(0, vRestructPlistSpool2Current(*spool_, 0));

  auto r = EmptyList(), s = EmptyList(), d = EmptyList();
  Read(r.get(), s.get(), d.get());
  ASSERT_EQ(4, r->iNum);
  EXPECT_STREQ("USER.ICC", r->entry[0].FileName);
  EXPECT_EQ(kProfileStateFoundShown, r->entry[0].InMenu);
  EXPECT_EQ(503, r->entry[0].IndexOnDevice);  // own index and name kept
  EXPECT_STREQ("USER.ICC", r->entry[0].ProfileName);
  EXPECT_STREQ("OLD.ICC", r->entry[1].FileName);
  EXPECT_EQ(kProfileStateDeviceHidden, r->entry[1].InMenu);
  EXPECT_STREQ("KEEP.ICC", r->entry[2].FileName);
  EXPECT_EQ(kProfileStateUserShown, r->entry[2].InMenu);  // 4 -> 3 -> salvaged
  EXPECT_STREQ("NEW.ICC", r->entry[3].FileName);
  EXPECT_EQ(kProfileStateFoundHidden, r->entry[3].InMenu);
  EXPECT_STREQ("Name NEW.ICC", r->entry[3].ProfileName);
  // Class 3 goes to both SIM and DST; SIM matched once, not twice.
  ASSERT_EQ(1, s->iNum);
  EXPECT_STREQ("SIM.ICC", s->entry[0].FileName);
  EXPECT_EQ(kProfileStateFoundShown, s->entry[0].InMenu);
  ASSERT_EQ(1, d->iNum);
  EXPECT_EQ(kProfileStateFoundHidden, d->entry[0].InMenu);
}

// States table: a hidden user entry that the device lists becomes a hidden
// device entry (5 -> 2), keeping its own index and name.
TEST_F(Merge, HiddenUserEntryTheDeviceListsBecomesFound) {
  auto rgb = EmptyList(), none = EmptyList();
  Put(rgb.get(), 0, 501, kProfileStateUserHidden, 2, "MINE.ICC", 5);
  rgb->iNum = 1;
  ASSERT_EQ(0, QVPListWriteProfile_All(rgb.get(), none.get(), none.get()));
  SpoolRow(spool_.get(), 7, 1, "MINE.ICC", 5);
  ASSERT_EQ(0, vRestructPlistSpool2Current(*spool_, 0));

  auto r = EmptyList(), s = EmptyList(), d = EmptyList();
  Read(r.get(), s.get(), d.get());
  ASSERT_EQ(1, r->iNum);
  EXPECT_STREQ("MINE.ICC", r->entry[0].FileName);
  EXPECT_EQ(kProfileStateFoundHidden, r->entry[0].InMenu);
  EXPECT_EQ(501, r->entry[0].IndexOnDevice);
  EXPECT_STREQ("MINE.ICC", r->entry[0].ProfileName);
}

TEST_F(Merge, FailedWalkDropsHiddenAndKeepsShownAsUserEntries) {
  auto rgb = EmptyList(), none = EmptyList();
  Put(rgb.get(), 0, 1, kProfileStateDeviceHidden, 1, "H1.ICC", 4);
  Put(rgb.get(), 1, 2, kProfileStateFoundHidden, 1, "H2.ICC", 4);
  Put(rgb.get(), 2, 3, kProfileStateDeviceShown, 1, "S3.ICC", 4);
  Put(rgb.get(), 3, 4, kProfileStateFoundShown, 1, "S4.ICC", 4);
  Put(rgb.get(), 4, 505, kProfileStateUserHidden, 2, "U5.ICC", 5);
  rgb->iNum = 5;
  ASSERT_EQ(0, QVPListWriteProfile_All(rgb.get(), none.get(), none.get()));
  SpoolRow(spool_.get(), 1, 1, "H2.ICC", 4);  // received before the failure
  ASSERT_EQ(0, vRestructPlistSpool2Current(*spool_, 1));

  auto r = EmptyList(), s = EmptyList(), d = EmptyList();
  Read(r.get(), s.get(), d.get());
  ASSERT_EQ(4, r->iNum);
  EXPECT_STREQ("S3.ICC", r->entry[0].FileName);
  EXPECT_EQ(kProfileStateUserShown, r->entry[0].InMenu);
  EXPECT_STREQ("S4.ICC", r->entry[1].FileName);
  EXPECT_EQ(kProfileStateUserShown, r->entry[1].InMenu);
  EXPECT_STREQ("U5.ICC", r->entry[2].FileName);
  EXPECT_STREQ("H2.ICC", r->entry[3].FileName);
  EXPECT_EQ(kProfileStateFoundHidden, r->entry[3].InMenu);
  // Free slots are written clean.
  EXPECT_STREQ("", r->entry[4].FileName);
}

TEST(Confinement, OnlyProfileFilesOfTheCallerInTheFolder) {
  char tmpl[] = "/tmp/r2740-conf-XXXXXX";
  std::string root = ::mkdtemp(tmpl);
  ::setenv("R2740_ROOT", root.c_str(), 1);
  std::string folder = sys::ResolvePath(kQVPListProfileFolder);
  std::filesystem::create_directories(folder);
  std::string why;
  auto ok = QVConfineProfilePath(folder + "/bob-R2740-profile.plist", QVProfileFileKind::kCurrent, 0, &why);
  ASSERT_TRUE(ok) << why;
  EXPECT_EQ(folder + "/bob-R2740-profile.plist", *ok);
  // The compiled-in form resolves to the same file.
  EXPECT_EQ(*ok, QVConfineProfilePath(std::string(kQVPListProfileFolder) + "/bob-R2740-profile.plist",
                                      QVProfileFileKind::kCurrent, 0, &why));
  for (const std::string& bad :
       {folder + "/../x-R2740-profile.plist", folder + "/./bob-R2740-profile.plist", folder + "//bob-R2740-profile.plist",
        folder + "/sub/bob-R2740-profile.plist", std::string("/etc/passwd"), std::string("relative-profile.plist"),
        folder + "/bob-R2740-profile.plistx", folder, root + "/Library/bob-R2740-profile.plist", std::string()}) {
    EXPECT_FALSE(QVConfineProfilePath(bad, QVProfileFileKind::kAnyOrTemporary, 0, &why)) << bad;
    EXPECT_FALSE(why.empty());
  }
  EXPECT_FALSE(QVConfineProfilePath(folder + "/bob-R2740-profile.prev.plist", QVProfileFileKind::kCurrent, 0, &why));
  EXPECT_FALSE(QVConfineProfilePath(folder + "/bob-R2740-profile.plist.dummy", QVProfileFileKind::kAnyProfile, 0, &why));
  EXPECT_TRUE(QVConfineProfilePath(folder + "/bob-R2740-profile.plist.dummy", QVProfileFileKind::kAnyOrTemporary, 0,
                                   &why));
  // A link planted in the folder is refused, whatever it points at.
  std::string link = folder + "/eve-R2740-profile.plist";
  ASSERT_EQ(0, ::symlink("/etc/passwd", link.c_str()));
  EXPECT_FALSE(QVConfineProfilePath(link, QVProfileFileKind::kCurrent, 0, &why));
  std::string hard = folder + "/bob-R2740Mono-profile.plist";
  std::ofstream(hard) << "x";
  ASSERT_EQ(0, ::link(hard.c_str(), (folder + "/bob-R2740-profile.prev.plist").c_str()));
  EXPECT_FALSE(QVConfineProfilePath(hard, QVProfileFileKind::kCurrent, 0, &why));
  EXPECT_EQ("file has more than one link", why);
  // The name is exactly "<login>-<model key>-profile...": any login root
  // names, one model key.
  EXPECT_TRUE(QVConfineProfilePath(folder + "/j.doe@corp-R2740Mono-profile.prev.plist", QVProfileFileKind::kPrev, 0,
                                   &why))
      << why;
  for (const char* bad : {"/bob-R2740x-profile.plist", "/bob-Other-profile.plist", "/bob-profile.plist",
                          "/-R2740-profile.plist", "/..-R2740-profile.plist", "/bob-R2740-profile.plist.dummy"})
    EXPECT_FALSE(QVConfineProfilePath(folder + bad, QVProfileFileKind::kAnyProfile, 0, &why)) << bad;
  // A caller other than root names only its own login, not one it begins.
  for (const char* other : {"/bob-R2740-profile.plist", "/nobod-R2740-profile.plist",
                            "/nobody-x-R2740-profile.plist", "/nobodyx-R2740-profile.plist"}) {
    EXPECT_FALSE(QVConfineProfilePath(folder + other, QVProfileFileKind::kCurrent, 65534, &why)) << other;
    EXPECT_EQ("profile file of another user", why);
  }
  EXPECT_TRUE(QVConfineProfilePath(folder + "/nobody-R2740-profile.plist", QVProfileFileKind::kCurrent, 65534, &why))
      << why;
  EXPECT_TRUE(QVCallerMayActFor(0, "j.doe@corp", &why));
  for (const std::string& bad : {std::string(), std::string("."), std::string(".."), std::string("a/b"),
                                 std::string("a\0b", 3)})
    EXPECT_FALSE(QVCallerMayActFor(0, bad, &why)) << bad;
  ::unsetenv("R2740_ROOT");
  std::filesystem::remove_all(root);
}

TEST(Requests, MalformedRequestsAreRefusedAndChangeNothing) {
  QVmacServiceXPC service(QVXPCPeer{1, 0, 0});
  for (const char* op : {"qvPListSwapProfile_XPC", "writeDataToPlistFile_XPC", "mibwalk_XPC",
                                "writeDictionaryToPlistFile_XPC", "noSuchOperation"})
    EXPECT_EQ(0u, service.perform(op, "no markers at all").rfind("ERROR:", 0)) << op;
  EXPECT_EQ(0u, service.perform("qvPListRemove_XPC", std::string("a\0b", 3)).rfind("ERROR:", 0));
  EXPECT_EQ(0u, service.perform("qvPListRemove_XPC", "\xFF\xFE").rfind("ERROR:", 0));
  EXPECT_EQ("FALSE", service.perform("qvPListIsAdminProfile_XPC", ""));
  // Names are checked on a walk request the walk's rules accept.
  const std::string walk =
      "snmpwalk:arg:-Os:arg:-c:arg:public:arg:-v:arg:1:arg:printer.invalid:arg:1.3.6.1.4.1.47291.1.1.1.1.6.13.1.1:arg:";
  EXPECT_EQ(0u, service.perform("mibwalk_XPC", "R2740:ModelName:END../x:USErName:END" + walk).rfind("ERROR:", 0));
  EXPECT_EQ(0u, service.perform("mibwalk_XPC", "R/2740:ModelName:ENDu:USErName:END" + walk).rfind("ERROR:", 0));
  EXPECT_EQ(0u, service.perform("mibwalk_XPC", "R2740:ModelName:ENDu:USErName:ENDa:arg:").rfind("ERROR:", 0));
  EXPECT_EQ(0u, service.perform("qvPListSwapProfile_XPC", "x:ARG_iSwapTypeNULL:ARG_cFooCurrentStringNULL:ARG_cFooPrevString")
                    .rfind("ERROR:", 0));
  EXPECT_EQ("TRUE",
            service.perform("qvPListSwapProfile_XPC", "NULL:ARG_iSwapTypeNULL:ARG_cFooCurrentStringNULL:ARG_cFooPrevString"));
}

}  // namespace
