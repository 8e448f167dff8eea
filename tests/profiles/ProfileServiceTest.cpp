// The profile service over its socket, driven through the real helper, and
// the device walk against Debian's snmpd on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <regex>

#include "ProfileTestSupport.h"

using namespace proftest;

namespace {

constexpr const char* kEmptyDictPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict/>\n</plist>\n";

std::string FolderListing(const std::string& folder) {
  std::string out;
  for (auto& e : std::filesystem::directory_iterator(folder)) {
    out += e.path().filename().string() + ":";
    out += e.is_regular_file() ? std::to_string(e.file_size()) : "?";
    out += " ";
  }
  return out;
}

TEST(ProfileService, EightOperationsThroughTheHelper) {
  ServiceRoot svc;
  svc.Setting("R2740_XPC_SNMP_PORT", "16199");
  std::string cur = svc.ProfilePath("root"), prev = svc.PrevPath("root");
  std::string url = "file://" + cur;

  // The first call starts the service on demand.
  EXPECT_EQ("TRUE", svc.Reply({"qvPListIsAdminProfile_XPC", cur}));
  EXPECT_GT(svc.ServicePid(), 0);
  EXPECT_FALSE(sys::FileExists(cur));  // the probe leaves nothing behind
  EXPECT_EQ("FALSE", svc.Reply({"qvPListExistProfile_XPC", cur}));

  // Backing up without a current file: empty backup, "TRUE".
  std::ofstream(prev) << "old";
  EXPECT_EQ("TRUE", svc.Reply({"qvPListSwapProfile_XPC", "2", cur, prev}));
  ASSERT_TRUE(sys::FileExists(prev));
  EXPECT_EQ("", *sys::ReadFile(prev));

  // Three pieces and a rename.
  std::string a = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  std::string b = "<dict><key>PlistVersion</key><integer>1</integer>";
  std::string c = "</dict>\n</plist>\n";
  EXPECT_EQ("TRUE", svc.Reply({"writeDataToPlistFile_XPC", url, a}));
  EXPECT_EQ("TRUE", svc.Reply({"writeDataToPlistFile_XPC", url, b}));
  EXPECT_EQ("TRUE", svc.Reply({"writeDataToPlistFile_XPC", url, c}));
  EXPECT_EQ("TRUE", svc.Reply({"writeDataToPlistFileRename_XPC", url}));
  EXPECT_EQ(a + b + c, *sys::ReadFile(cur));
  EXPECT_FALSE(sys::FileExists(cur + ".dummy"));
  EXPECT_EQ("TRUE", svc.Reply({"qvPListExistProfile_XPC", cur}));

  // A sequence that misses a piece never replaces the file.
  EXPECT_EQ("TRUE", svc.Reply({"writeDataToPlistFile_XPC", url, a}));
  EXPECT_EQ("TRUE", svc.Reply({"writeDataToPlistFile_XPC", url, c}));
  EXPECT_EQ("FALSE", svc.Reply({"writeDataToPlistFileRename_XPC", url}));
  EXPECT_EQ(a + b + c, *sys::ReadFile(cur));
  EXPECT_FALSE(sys::FileExists(cur + ".dummy"));
  EXPECT_EQ("FALSE", svc.Reply({"writeDataToPlistFileRename_XPC", url}));  // nothing to rename
  EXPECT_TRUE(sys::FileExists(cur));

  // The one-piece write.
  std::string whole = a + "<dict><key>PlistVersion</key><integer>2</integer></dict>\n</plist>\n";
  EXPECT_EQ("TRUE", svc.Reply({"writeDictionaryToPlistFile_XPC", url, whole}));
  EXPECT_EQ(whole, *sys::ReadFile(cur));
  EXPECT_EQ("FALSE", svc.Reply({"writeDictionaryToPlistFile_XPC", url, "not a plist"}));
  EXPECT_EQ(whole, *sys::ReadFile(cur));

  // Back up, then a swap whose type is "NULL" restores (type 0).
  EXPECT_EQ("TRUE", svc.Reply({"qvPListSwapProfile_XPC", "2", cur, prev}));
  EXPECT_EQ(whole, *sys::ReadFile(prev));
  std::ofstream(cur) << "changed";
  EXPECT_EQ("TRUE", svc.Reply({"qvPListSwapProfile_XPC", "NULL", cur, prev}));
  EXPECT_EQ(whole, *sys::ReadFile(cur));
  EXPECT_FALSE(sys::FileExists(prev));

  EXPECT_EQ("TRUE", svc.Reply({"qvPListRemove_XPC", cur}));
  EXPECT_EQ("FALSE", svc.Reply({"qvPListRemove_XPC", cur}));

  // A walk to a port where nobody answers: "iRet=1", and the merge still
  // writes the user's file.
  EXPECT_EQ("iRet=1", svc.Reply(WalkArgs("root", "127.0.0.1")));
  Lists lists;
  EXPECT_TRUE(ReadLists(cur, &lists));
  // Arguments other than the plug-in's walk (here: no agent) are refused.
  EXPECT_EQ(0u, svc.Reply({"mibwalk_XPC", "R2740", "root", "snmpwalk", "-v", "1"}).rfind("ERROR: ", 0));
}

TEST(ProfileService, HostileRequestsChangeNothing) {
  ServiceRoot svc;
  std::string cur = svc.ProfilePath("root");
  EXPECT_EQ("TRUE", svc.Reply({"qvPListIsAdminProfile_XPC", cur}));  // starts the service
  std::ofstream(cur) << "keep me";
  std::string outside = svc.root() + "/outside-R2740-profile.plist";
  std::ofstream(outside) << "outside";
  ASSERT_EQ(0, ::symlink(outside.c_str(), (svc.folder() + "/evil-R2740-profile.plist").c_str()));
  std::string before = FolderListing(svc.folder());

  auto isError = [](const std::string& r) { return r.rfind("ERROR:", 0) == 0; };
  using xpcwire::RequestFrame;
  EXPECT_TRUE(isError(svc.Raw("R2740XPC1 qvPListRemove_XPC 2097152\n")));  // 2 MiB announced
  EXPECT_TRUE(isError(svc.Raw(std::string("\x00\xff\x13garbage\x01\x02\n", 13))));
  EXPECT_TRUE(isError(svc.Raw("R2740XPC1 qvPListRemove_XPC -5\n")));
  EXPECT_TRUE(isError(svc.Raw(std::string(4096, 'A'))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("qvPListRemove_XPC", std::string("\xff\xfe\x00", 3)))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("noSuchOperation", cur))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("qvPListRemove_XPC", "/etc/passwd"))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("qvPListRemove_XPC", svc.folder() + "/../outside-R2740-profile.plist"))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("qvPListRemove_XPC", svc.folder() + "/evil-R2740-profile.plist"))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("qvPListRemove_XPC", svc.folder() + "/notes.txt"))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("writeDataToPlistFile_XPC", "file://" + cur + "no marker"))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("writeDataToPlistFile_XPC", "file:///etc/passwd:AddURL:ENDx"))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("qvPListSwapProfile_XPC", "2:ARG_iSwapType" + cur))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("qvPListSwapProfile_XPC", "2:ARG_iSwapType" + cur +
                                                                         ":ARG_cFooCurrentString/tmp/x-profile.prev.plist"
                                                                         ":ARG_cFooPrevString"))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("mibwalk_XPC", "R2740:ModelName:END../../etc:USErName:ENDa:arg:"))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("mibwalk_XPC", "R2740 no markers"))));
  EXPECT_TRUE(isError(svc.Raw(RequestFrame("writeDataToPlistFile_XPC",
                                           "file://" + svc.folder() + "/evil-R2740-profile.plist:AddURL:ENDx"))));
  EXPECT_EQ(before, FolderListing(svc.folder()));
  EXPECT_EQ("keep me", *sys::ReadFile(cur));
  EXPECT_EQ("outside", *sys::ReadFile(outside));

  // Several frames on one connection are answered in order; a partial
  // frame followed by a close does no harm.
  EXPECT_EQ("FALSE", svc.Raw(RequestFrame("qvPListIsAdminProfile_XPC", "")));
  EXPECT_EQ("<none>", svc.Raw("R2740XPC1 qvPListRemove_XPC 100\nabc"));
  EXPECT_EQ("keep me", *sys::ReadFile(cur));

  // The service is still there and answers.
  EXPECT_EQ("TRUE", svc.Reply({"qvPListExistProfile_XPC", cur}));
}

TEST(ProfileService, CallerOtherThanRootTouchesOnlyItsOwnFiles) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ServiceRoot svc;
  ::chmod(svc.root().c_str(), 0755);
  std::string cur = svc.ProfilePath("root");
  EXPECT_EQ("TRUE", svc.Reply({"qvPListIsAdminProfile_XPC", cur}));
  std::ofstream(cur) << "root's";
  int pipeFd[2];
  ASSERT_EQ(0, ::pipe(pipeFd));
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFd[0]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(3);
    std::string r1 = svc.Raw(xpcwire::RequestFrame("qvPListRemove_XPC", cur));
    std::string r2 = svc.Raw(xpcwire::RequestFrame(
        "mibwalk_XPC", "R2740:ModelName:ENDroot:USErName:ENDsnmpwalk:arg:-Os:arg:-c:arg:public:arg:-v:arg:1:arg:"
                       "127.0.0.1:arg:1.3.6.1.4.1.47291.1.1.1.1.6.13.1.1:arg:"));
    std::string r3 = svc.Raw(xpcwire::RequestFrame("qvPListIsAdminProfile_XPC", svc.ProfilePath("nobody")));
    std::string all = r1 + "\n" + r2 + "\n" + r3 + "\n";
    (void)!::write(pipeFd[1], all.data(), all.size());
    _exit(0);
  }
  ::close(pipeFd[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = ::read(pipeFd[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  ::close(pipeFd[0]);
  int st;
  ::waitpid(child, &st, 0);
  EXPECT_EQ("ERROR: profile file of another user\nERROR: profile file of another user\nTRUE\n", got);
  EXPECT_EQ("root's", *sys::ReadFile(cur));
}

TEST(ProfileService, OnDemandStartIsBoundedAndSingleInstance) {
  {
    ServiceRoot svc;
    EXPECT_EQ("TRUE", svc.Reply({"qvPListIsAdminProfile_XPC", svc.ProfilePath("root")}));
    pid_t first = svc.ServicePid();
    ASSERT_GT(first, 0);
    // A second instance on the same socket refuses to start.
    auto second = sys::RunTask(svc.service(), {});
    EXPECT_EQ(1, second.exitStatus);
    EXPECT_EQ(first, svc.ServicePid());
  }
  {
    ServiceRoot missing(false);
    auto r = missing.Helper({"qvPListIsAdminProfile_XPC", missing.ProfilePath("root")});
    EXPECT_EQ(3, r.exitStatus);
    EXPECT_EQ("", r.output);
  }
  {
    // A service that never listens: the helper gives up after a few seconds.
    ServiceRoot mute(false);
    std::ofstream(mute.service()) << "#!/bin/sh\nsleep 30\n";
    ::chmod(mute.service().c_str(), 0755);
    auto start = std::chrono::steady_clock::now();
    auto r = mute.Helper({"qvPListExistProfile_XPC", mute.ProfilePath("root")});
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(3, r.exitStatus);
    EXPECT_LT(took, std::chrono::seconds(15));
  }
  {
    ServiceRoot svc;
    auto r = svc.Helper({"noSuchCommand", "x"});
    EXPECT_EQ(2, r.exitStatus);
    EXPECT_EQ(2, svc.Helper({"qvPListIsAdminProfile_XPC"}).exitStatus);
  }
}

// ---- the walk against snmpd ---------------------------------------------------

const std::vector<Row> kDeviceA = {
    {1, 4, "Rgb One", "RGB1.ICC", 1},
    {2, 5, "Sim Two", "CMYK2.ICC", 3},
    {3, 4, "Rgb Three", "RGB3.ICC", 2},
    {4, 3, "Elsewhere", "LOC3.ICC", 1},
    {5, 4, "Bad Name", "BAD NAME.ICC", 1},
    {6, 4, "Unknown Class", "CLS9.ICC", 9},
};

// A profile file that went bad costs nothing: it never replaces a backup
// that reads, it is kept as "<current>.bad" before anything rewrites it, and
// the walk merges the backup's lists, the user's own registrations with them.
TEST(ProfileService, BadProfileFileIsKeptAsideAndTheBackupMerged) {
  ServiceRoot svc;
  svc.Setting("R2740_XPC_SNMP_PORT", "16199");  // nobody answers: a failed walk
  const std::string cur = svc.ProfilePath("root"), prev = svc.PrevPath("root"), bad = cur + ".bad";
  EXPECT_EQ("TRUE", svc.Reply({"qvPListIsAdminProfile_XPC", cur}));  // starts the service
  Lists lists;
  std::memset(lists.l.get(), 0, 3 * sizeof(ProfileList));
  ProfileEntry& mine = lists.rgb().entry[0];
  mine = ProfileEntry{501, kProfileStateUserShown, 2, "MINE.ICC", "Mine", kProfileLocationDisk, 3};
  lists.rgb().iNum = 1;
  ASSERT_TRUE(WriteLists(cur, &lists));
  EXPECT_EQ("TRUE", svc.Reply({"qvPListSwapProfile_XPC", "2", cur, prev}));
  const std::string good = *sys::ReadFile(cur);
  ASSERT_TRUE(good == sys::ReadFile(prev));

  // Gone bad (cut short, or a property list without the lists): the backup
  // step keeps it aside and puts the backup back.
  for (const std::string& broken : {good.substr(0, good.size() / 2), std::string(kEmptyDictPlist)}) {
    std::ofstream(cur, std::ios::trunc) << broken;
    EXPECT_EQ("TRUE", svc.Reply({"qvPListSwapProfile_XPC", "2", cur, prev}));
    EXPECT_TRUE(good == sys::ReadFile(prev));
    EXPECT_TRUE(good == sys::ReadFile(cur));
    EXPECT_TRUE(broken == sys::ReadFile(bad));
  }

  // A walk meeting a bad file (no backup step before it) merges the backup.
  std::ofstream(cur, std::ios::trunc) << "garbage";
  EXPECT_EQ("iRet=1", svc.Reply(WalkArgs("root", "127.0.0.1")));
  EXPECT_EQ("garbage", sys::ReadFile(bad).value_or("<none>"));
  ASSERT_TRUE(ReadLists(cur, &lists));
  ASSERT_TRUE(Find(lists.rgb(), "MINE.ICC"));
  EXPECT_EQ(kProfileStateUserShown, Find(lists.rgb(), "MINE.ICC")->InMenu);

  // Without a backup that reads, a bad file is still kept before a rename
  // replaces it.
  std::ofstream(prev, std::ios::trunc) << "old";
  std::ofstream(cur, std::ios::trunc) << "garbage 2";
  EXPECT_EQ("TRUE", svc.Reply({"writeDataToPlistFile_XPC", "file://" + cur, kEmptyDictPlist}));
  EXPECT_EQ("TRUE", svc.Reply({"writeDataToPlistFileRename_XPC", "file://" + cur}));
  EXPECT_EQ("garbage 2", sys::ReadFile(bad).value_or("<none>"));
  EXPECT_EQ(kEmptyDictPlist, sys::ReadFile(cur).value_or("<none>"));

  // The kept file can be removed like the others; no other ".bad" name is one.
  EXPECT_EQ(0u, svc.Reply({"qvPListRemove_XPC", prev + ".bad"}).rfind("ERROR: ", 0));
  EXPECT_EQ(0u, svc.Reply({"qvPListRemove_XPC", bad + ".dummy"}).rfind("ERROR: ", 0));
  EXPECT_EQ(0u, svc.Reply({"qvPListExistProfile_XPC", bad}).rfind("ERROR: ", 0));
  EXPECT_EQ("TRUE", svc.Reply({"qvPListRemove_XPC", bad}));
  EXPECT_FALSE(sys::FileExists(bad));
}

TEST(DeviceWalk, MatchesSnmpwalkOfTheSameTable) {
  Agent agent(16171, kDeviceA);
  ASSERT_TRUE(agent.ready()) << *sys::ReadFile(agent.dir() + "/snmpd.log");
  ServiceRoot svc;
  svc.Setting("R2740_XPC_SNMP_PORT", std::to_string(agent.port()));

  auto walk = proftest::Run("/usr/bin/snmpwalk", {"-v", "1", "-c", "public", "-On", "-Oq", agent.address(), kTableRoot});
  ASSERT_EQ(0, walk.exitStatus);
  // ".<root>.<column>.1.<row> <value>"
  std::map<int, std::map<int, std::string>> cells;
  std::regex line("^\\." + std::regex_replace(std::string(kTableRoot), std::regex("\\."), "\\.") +
                  "\\.(\\d+)\\.1\\.(\\d+) (.*)$");
  std::istringstream in(walk.output);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    std::string v = m[3];
    if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
    cells[std::stoi(m[2])][std::stoi(m[1])] = v;
  }
  ASSERT_EQ(kDeviceA.size(), cells.size());

  ASSERT_EQ("iRet=0", svc.Reply(WalkArgs("root", agent.host())));
  Lists got;
  ASSERT_TRUE(ReadLists(svc.ProfilePath("root"), &got));
  int expectRGB = 0, expectSIM = 0;
  for (auto& [row, col] : cells) {
    int location = std::stoi(col[2]), cls = std::stoi(col[5]);
    const std::string& file = col[4];
    bool taken = (location == 4 || location == 5) && file.find(' ') == std::string::npos;
    std::vector<ProfileList*> into;
    if (taken && (cls == 1 || cls == 2)) into = {&got.rgb()};
    if (taken && cls == 3) into = {&got.sim(), &got.dst()};
    expectRGB += into.size() == 1;
    expectSIM += into.size() == 2;
    for (ProfileList* l : {&got.rgb(), &got.sim(), &got.dst()}) {
      const ProfileEntry* e = Find(*l, file);
      bool expected = std::find(into.begin(), into.end(), l) != into.end();
      ASSERT_EQ(expected, e != nullptr) << file;
      if (!e) continue;
      EXPECT_EQ(row, e->IndexOnDevice);
      EXPECT_EQ(std::stoi(col[1]), e->IndexOnDevice);
      EXPECT_EQ(location, e->Location);
      EXPECT_EQ(cls, e->ProfileClass);
      EXPECT_EQ(col[3], e->ProfileName);
      EXPECT_EQ(kProfileStateFoundHidden, e->InMenu);
    }
  }
  EXPECT_EQ(expectRGB, got.rgb().iNum);
  EXPECT_EQ(expectSIM, got.sim().iNum);
  EXPECT_EQ(expectSIM, got.dst().iNum);
  EXPECT_EQ(2, expectRGB);

  // A second walk confirms what is there and adds nothing twice.
  ASSERT_EQ("iRet=0", svc.Reply(WalkArgs("root", agent.host())));
  Lists again;
  ASSERT_TRUE(ReadLists(svc.ProfilePath("root"), &again));
  EXPECT_EQ(got.rgb().iNum, again.rgb().iNum);
  EXPECT_EQ(kProfileStateFoundHidden, again.rgb().entry[0].InMenu);
}

TEST(DeviceWalk, ConcurrentWalksOfDifferentUsersStaySeparate) {
  std::vector<Row> deviceB = {{1, 4, "Bee", "BEE.ICC", 1}, {2, 5, "Bee Sim", "BEESIM.ICC", 3}};
  Agent a("127.0.0.1", 16172, kDeviceA), b("127.0.0.2", 16172, deviceB);
  ASSERT_TRUE(a.ready() && b.ready());
  ServiceRoot svc;
  svc.Setting("R2740_XPC_SNMP_PORT", "16172");
  EXPECT_EQ("TRUE", svc.Reply({"qvPListIsAdminProfile_XPC", svc.ProfilePath("alice")}));  // start it once
  for (int round = 0; round < 3; ++round) {
    auto fa = std::async(std::launch::async, [&] { return svc.Reply(WalkArgs("alice", a.host())); });
    auto fb = std::async(std::launch::async, [&] { return svc.Reply(WalkArgs("bob", b.host())); });
    EXPECT_EQ("iRet=0", fa.get());
    EXPECT_EQ("iRet=0", fb.get());
  }
  Lists la, lb;
  ASSERT_TRUE(ReadLists(svc.ProfilePath("alice"), &la));
  ASSERT_TRUE(ReadLists(svc.ProfilePath("bob"), &lb));
  EXPECT_EQ(2, la.rgb().iNum);
  EXPECT_TRUE(Find(la.rgb(), "RGB1.ICC"));
  EXPECT_FALSE(Find(la.rgb(), "BEE.ICC"));
  EXPECT_TRUE(Find(la.sim(), "CMYK2.ICC"));
  EXPECT_EQ(1, lb.rgb().iNum);
  EXPECT_TRUE(Find(lb.rgb(), "BEE.ICC"));
  EXPECT_TRUE(Find(lb.sim(), "BEESIM.ICC"));
  EXPECT_FALSE(Find(lb.sim(), "CMYK2.ICC"));
}

TEST(DeviceWalk, AgentDyingMidWalkEndsWithFailureAndMerges) {
  // Column 4 is served by a script that kills the agent when asked.
  char tmpl[] = "/tmp/r2740-killer-XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  std::string script = dir + "/kill-agent.sh";
  std::string pidFile = dir + "/agent.pid";
  std::ofstream(script) << "#!/bin/sh\nkill -9 $(cat " << pidFile << ")\n";
  ::chmod(script.c_str(), 0755);
  std::string extra = std::string("pass .") + kTableRoot + ".4 " + script + "\n";
  Agent agent(16175, {}, extra +
                             "override ." + std::string(kTableRoot) + ".1.1.1 integer 1\n"
                             "override ." + std::string(kTableRoot) + ".2.1.1 integer 4\n"
                             "override ." + std::string(kTableRoot) + ".3.1.1 octet_str \"Rgb One\"\n");
  ASSERT_TRUE(agent.ready());
  std::filesystem::copy_file(agent.pidFile(), pidFile);

  ServiceRoot svc;
  svc.Setting("R2740_XPC_SNMP_PORT", std::to_string(agent.port()));
  Lists stored;
  std::memset(stored.l.get(), 0, 3 * sizeof(ProfileList));
  auto put = [](ProfileList& l, int slot, int state, const char* file) {
    l.entry[slot].IndexOnDevice = slot + 1;
    l.entry[slot].InMenu = state;
    l.entry[slot].ProfileClass = 1;
    std::strcpy(l.entry[slot].FileName, file);
    l.entry[slot].Location = 4;
    l.iNum = slot + 1;
  };
  put(stored.rgb(), 0, kProfileStateFoundHidden, "HIDDEN.ICC");
  put(stored.rgb(), 1, kProfileStateFoundShown, "SHOWN.ICC");
  ASSERT_TRUE(WriteLists(svc.ProfilePath("root"), &stored));

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ("iRet=1", svc.Reply(WalkArgs("root", agent.host())));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  Lists got;
  ASSERT_TRUE(ReadLists(svc.ProfilePath("root"), &got));
  ASSERT_EQ(1, got.rgb().iNum);
  EXPECT_STREQ("SHOWN.ICC", got.rgb().entry[0].FileName);
  EXPECT_EQ(kProfileStateUserShown, got.rgb().entry[0].InMenu);
  std::filesystem::remove_all(dir);
}

}  // namespace
