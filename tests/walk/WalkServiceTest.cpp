// The walk as the root service runs it for every local user: only the
// plug-in's request is walked, a silent or slow printer costs little and is
// not asked again at once (for the configured time), printers are walked at
// the same time, and users of one printer and community share its walk,
// also one after another for a short while. Printers are snmpd or a plain
// UDP peer on a
// 127.11.x.y address of their own; the service's port setting names the
// port.
#include <gtest/gtest.h>

#include <pwd.h>

#include <future>
#include <set>

#include "ProfileTestSupport.h"

using namespace proftest;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kPort = 16411;

using Settings = std::vector<std::pair<std::string, std::string>>;

// A running service whose walks go to kPort.
struct Service : ServiceRoot {
  explicit Service(const Settings& settings = {}) {
    Setting("R2740_XPC_SNMP_PORT", std::to_string(kPort));
    for (const auto& [name, value] : settings) Setting(name, value);
    started = Reply({"qvPListIsAdminProfile_XPC", ProfilePath("root")}) == "TRUE";
  }
  // One walk request: the reply and how long it took.
  std::pair<std::string, Clock::duration> Walk(const std::vector<std::string>& args) const {
    auto start = Clock::now();
    std::string reply = Reply(args);
    return {reply, Clock::now() - start};
  }
  bool started = false;
};

void PutEntry(ProfileList& l, int slot, int state, const char* file, int location, int index) {
  ProfileEntry& e = l.entry[slot];
  e.IndexOnDevice = index;
  e.InMenu = state;
  e.ProfileClass = 1;
  e.Location = location;
  std::strcpy(e.FileName, file);
  std::strcpy(e.ProfileName, file);
  l.iNum = std::max(l.iNum, slot + 1);
}

TEST(WalkRequest, OnlyThePluginsWalkIsSent) {
  Printer printer("127.11.1.1", kPort);
  ASSERT_TRUE(printer.bound());
  Service svc;
  ASSERT_TRUE(svc.started);
  const std::string host = printer.host();
  const std::string log = svc.root() + "/walk.log";
  const std::string victim = svc.root() + "/victim";
  std::ofstream(victim) << "keep";
  auto plain = [&](const std::string& version, const std::string& address, const std::string& root) {
    return std::vector<std::string>{"mibwalk_XPC", "R2740", "root",  "snmpwalk", "-Os", "-c",
                                    "public",      "-v",    version, address,    root};
  };
  std::vector<std::vector<std::string>> refused = {
      WalkArgs("root", host, {"-Lf", log}),
      WalkArgs("root", host, {"-Lf", victim}),
      WalkArgs("root", host, {"-d"}),
      WalkArgs("root", host, {"-DALL"}),
      WalkArgs("root", host, {"-t", "15", "-r", "9"}),
      WalkArgs("root", host, {"-m", "ALL", "-M", svc.root()}),
      WalkArgs("root", host, {"-Ci"}),
      plain("1", "-Lf" + log, kTableRoot),  // an address read as an option
      plain("1", host + ":161", kTableRoot),
      plain("1", "udp:" + host, kTableRoot),
      plain("1", "unix:" + svc.root() + "/s", kTableRoot),
      plain("2c", host, kTableRoot),
      plain("1", host, "1.3.6.1.2.1"),
      plain("1", host, std::string(kTableRoot) + ".1"),
  };
  auto extra = WalkArgs("root", host);
  extra.push_back("1.3.6.1.2.1");
  refused.push_back(extra);
  auto noCommunity = WalkArgs("root", host);
  noCommunity[6] = "";
  refused.push_back(noCommunity);
  for (const auto& args : refused) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(0u, svc.Reply(args).rfind("ERROR: ", 0)) << joined;
  }
  EXPECT_FALSE(sys::FileExists(log));
  EXPECT_EQ("keep", *sys::ReadFile(victim));
  EXPECT_FALSE(sys::FileExists(svc.ProfilePath("root")));
  EXPECT_TRUE(printer.arrivals().empty());

  // The plug-in's own walk goes out (and, unanswered, is tried twice).
  EXPECT_EQ("iRet=1", svc.Reply(WalkArgs("root", host)));
  EXPECT_EQ(2u, printer.arrivals().size());
  EXPECT_TRUE(sys::FileExists(svc.ProfilePath("root")));
}

TEST(WalkLoad, SilentPrinterCostsLittleAndIsNotAskedAgainAtOnce) {
  Printer silent("127.11.2.1", kPort);
  ASSERT_TRUE(silent.bound());
  Service svc;
  ASSERT_TRUE(svc.started);
  // daemon shows a device profile: a failed walk turns it into its own.
  Lists stored;
  std::memset(stored.l.get(), 0, 3 * sizeof(ProfileList));
  PutEntry(stored.rgb(), 0, kProfileStateFoundShown, "SHOWN.ICC", kProfileLocationDisk, 3);
  ASSERT_TRUE(WriteLists(svc.ProfilePath("daemon"), &stored));

  auto [first, took] = svc.Walk(WalkArgs("root", silent.host()));
  EXPECT_EQ("iRet=1", first);
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_EQ(2u, silent.arrivals().size());

  // Within the hold time: the failed walk's answer and merge, no packet.
  auto [second, tookAgain] = svc.Walk(WalkArgs("daemon", silent.host()));
  EXPECT_EQ("iRet=1", second);
  // No timeout is waited for again: only the merge is left of the first
  // walk's cost.
  EXPECT_LT(tookAgain, took);
  EXPECT_EQ(2u, silent.arrivals().size());
  Lists got;
  ASSERT_TRUE(ReadLists(svc.ProfilePath("daemon"), &got));
  ASSERT_EQ(1, got.rgb().iNum);
  EXPECT_STREQ("SHOWN.ICC", got.rgb().entry[0].FileName);
  EXPECT_EQ(kProfileStateUserShown, got.rgb().entry[0].InMenu);
}

TEST(WalkLoad, SlowPrinterEndsAtTheDeadline) {
  Agent agent("127.11.5.2", kPort, {{1, 4, "One", "ONE.ICC", 1}, {2, 4, "Two", "TWO.ICC", 1}});
  ASSERT_TRUE(agent.ready());
  // Each answer comes after 150 ms: the whole table (13 requests) would
  // take about 2 s.
  Printer slow("127.11.5.1", kPort, &agent, milliseconds(150));
  ASSERT_TRUE(slow.bound());
  Service svc(Settings{{"R2740_XPC_WALK_DEADLINE_MS", "1000"}});
  ASSERT_TRUE(svc.started);
  auto [reply, took] = svc.Walk(WalkArgs("root", slow.host()));
  EXPECT_EQ("iRet=1", reply);
  EXPECT_LT(took, milliseconds(1900));
  EXPECT_LT(slow.arrivals().size(), 13u);
}

TEST(WalkLoad, StopEndsARunningWalkAtOnce) {
  Agent agent("127.11.6.2", kPort, {{1, 4, "One", "ONE.ICC", 1}, {2, 4, "Two", "TWO.ICC", 1}});
  ASSERT_TRUE(agent.ready());
  Printer slow("127.11.6.1", kPort, &agent, milliseconds(300));
  ASSERT_TRUE(slow.bound());
  Service svc;
  ASSERT_TRUE(svc.started);
  auto reply = std::async(std::launch::async, [&] { return svc.Reply(WalkArgs("root", slow.host())); });
  for (int i = 0; i < 250 && slow.arrivals().empty(); ++i) std::this_thread::sleep_for(milliseconds(20));
  ASSERT_FALSE(slow.arrivals().empty());
  auto start = Clock::now();
  svc.StopService();
  EXPECT_EQ("iRet=1", reply.get());
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_LT(slow.arrivals().size(), 13u);
}

TEST(WalkLoad, TwoPrintersAreWalkedAtOnce) {
  Printer a("127.11.3.1", kPort), b("127.11.3.2", kPort);
  ASSERT_TRUE(a.bound() && b.bound());
  Service svc;
  ASSERT_TRUE(svc.started);
  auto fa = std::async(std::launch::async, [&] { return svc.Reply(WalkArgs("root", a.host())); });
  auto fb = std::async(std::launch::async, [&] { return svc.Reply(WalkArgs("daemon", b.host())); });
  EXPECT_EQ("iRet=1", fa.get());
  EXPECT_EQ("iRet=1", fb.get());
  auto ta = a.arrivals(), tb = b.arrivals();
  ASSERT_EQ(2u, ta.size());
  ASSERT_EQ(2u, tb.size());
  // Each printer was asked while the other's walk was still waiting.
  EXPECT_LT(tb.front(), ta.back());
  EXPECT_LT(ta.front(), tb.back());
}

TEST(WalkLoad, UsersOfOnePrinterShareOneWalk) {
  Agent agent("127.11.4.2", kPort, {{1, 4, "Rgb One", "RGB1.ICC", 1}, {2, 5, "Sim Two", "SIM2.ICC", 3}});
  ASSERT_TRUE(agent.ready());
  // The first request is held long enough for the second user to come.
  Printer printer("127.11.4.1", kPort, &agent, milliseconds(0), milliseconds(1500));
  ASSERT_TRUE(printer.bound());
  Service svc(Settings{{"R2740_XPC_WALK_TIMEOUT_MS", "3000"}});
  ASSERT_TRUE(svc.started);
  // root registered RGB1.ICC itself; daemon has nothing yet.
  Lists stored;
  std::memset(stored.l.get(), 0, 3 * sizeof(ProfileList));
  PutEntry(stored.rgb(), 0, kProfileStateUserShown, "RGB1.ICC", kProfileLocationDisk, 501);
  ASSERT_TRUE(WriteLists(svc.ProfilePath("root"), &stored));

  auto fa = std::async(std::launch::async, [&] { return svc.Reply(WalkArgs("root", printer.host())); });
  for (int i = 0; i < 250 && printer.arrivals().empty(); ++i) std::this_thread::sleep_for(milliseconds(20));
  ASSERT_FALSE(printer.arrivals().empty());
  auto fb = std::async(std::launch::async, [&] { return svc.Reply(WalkArgs("daemon", printer.host())); });
  EXPECT_EQ("iRet=0", fa.get());
  EXPECT_EQ("iRet=0", fb.get());
  // One walk: six columns of two rows, then the step out of the table.
  EXPECT_EQ(13u, printer.arrivals().size());

  Lists root, daemon;
  ASSERT_TRUE(ReadLists(svc.ProfilePath("root"), &root));
  ASSERT_TRUE(ReadLists(svc.ProfilePath("daemon"), &daemon));
  ASSERT_EQ(1, root.rgb().iNum);
  EXPECT_EQ(kProfileStateFoundShown, root.rgb().entry[0].InMenu);
  EXPECT_EQ(501, root.rgb().entry[0].IndexOnDevice);
  ASSERT_EQ(1, daemon.rgb().iNum);
  EXPECT_EQ(kProfileStateFoundHidden, daemon.rgb().entry[0].InMenu);
  EXPECT_EQ(1, daemon.rgb().entry[0].IndexOnDevice);
  EXPECT_STREQ("Rgb One", daemon.rgb().entry[0].ProfileName);
  for (Lists* l : {&root, &daemon}) {
    for (ProfileList* list : {&l->sim(), &l->dst()}) {
      const ProfileEntry* e = Find(*list, "SIM2.ICC");
      ASSERT_TRUE(e);
      EXPECT_EQ(kProfileStateFoundHidden, e->InMenu);
      EXPECT_EQ(kProfileLocationCard, e->Location);
    }
  }
}

TEST(WalkLoad, WalksAreSharedAndHeldPerCommunity) {
  // "secret" may read only the system group: the table has no rows for it.
  Agent agent("127.11.7.2", kPort, {{1, 4, "Rgb One", "RGB1.ICC", 1}}, "rocommunity secret 127.0.0.0/8 .1.3.6.1.2.1.1\n");
  ASSERT_TRUE(agent.ready());
  Printer printer("127.11.7.1", kPort, &agent, milliseconds(0), milliseconds(800));
  ASSERT_TRUE(printer.bound());
  // No success sharing: each community's own walk is what is counted here.
  Service svc(Settings{{"R2740_XPC_WALK_TIMEOUT_MS", "1500"}, {"R2740_XPC_WALK_SHARE_SECONDS", "0"}});
  ASSERT_TRUE(svc.started);
  auto args = [&](const std::string& user, const std::string& community) {
    auto a = WalkArgs(user, printer.host());
    a[6] = community;
    return a;
  };
  auto rgb = [&](const std::string& user) {
    Lists l;
    if (!ReadLists(svc.ProfilePath(user), &l)) return std::string("<unreadable>");
    std::string names;
    for (int i = 0; i < l.rgb().iNum; ++i) names += std::string(l.rgb().entry[i].FileName) + " ";
    return names;
  };

  // A walk of another community while "public" waits for its first answer
  // walks on its own and gets only what its community may read.
  auto publicWalk = std::async(std::launch::async, [&] { return svc.Reply(args("root", "public")); });
  for (int i = 0; i < 250 && printer.arrivals().empty(); ++i) std::this_thread::sleep_for(milliseconds(20));
  ASSERT_FALSE(printer.arrivals().empty());
  EXPECT_EQ("iRet=0", svc.Reply(args("daemon", "secret")));
  EXPECT_EQ("iRet=0", publicWalk.get());
  EXPECT_EQ("", rgb("daemon"));
  EXPECT_EQ("RGB1.ICC ", rgb("root"));

  // A community the printer ignores fails, and that failure is held for it
  // alone.
  EXPECT_EQ("iRet=1", svc.Reply(args("lp", "wrong")));
  size_t asked = printer.arrivals().size();
  EXPECT_EQ("iRet=1", svc.Reply(args("daemon", "wrong")));
  EXPECT_EQ(asked, printer.arrivals().size());
  EXPECT_EQ("iRet=0", svc.Reply(args("lp", "public")));
  EXPECT_GT(printer.arrivals().size(), asked);
  EXPECT_EQ("RGB1.ICC ", rgb("lp"));
}

TEST(WalkLoad, FailedWalkIsHeldForTheConfiguredTime) {
  Printer silent("127.11.8.1", kPort);
  ASSERT_TRUE(silent.bound());
  Service svc(Settings{{"R2740_XPC_WALK_HOLD_SECONDS", "3"}});
  ASSERT_TRUE(svc.started);
  EXPECT_EQ("iRet=1", svc.Reply(WalkArgs("root", silent.host())));
  const auto ended = Clock::now();
  EXPECT_EQ(2u, silent.arrivals().size());
  EXPECT_EQ("iRet=1", svc.Reply(WalkArgs("daemon", silent.host())));
  EXPECT_EQ(2u, silent.arrivals().size());
  // Past the hold, the printer is asked again.
  std::this_thread::sleep_until(ended + std::chrono::milliseconds(3500));
  EXPECT_EQ("iRet=1", svc.Reply(WalkArgs("daemon", silent.host())));
  EXPECT_EQ(4u, silent.arrivals().size());
}

TEST(WalkLoad, UsersOneAfterAnotherWithinTheShareTimeMakeOneWalk) {
  Agent agent("127.11.7.2", kPort, {{1, 4, "Rgb One", "RGB1.ICC", 1}, {2, 5, "Sim Two", "SIM2.ICC", 3}});
  ASSERT_TRUE(agent.ready());
  Printer printer("127.11.7.1", kPort, &agent);
  ASSERT_TRUE(printer.bound());
  // Long enough for 20 helper runs on a busy machine under the sanitizers.
  Service svc(Settings{{"R2740_XPC_WALK_SHARE_SECONDS", "10"}});
  ASSERT_TRUE(svc.started);
  std::set<std::string> users;
  ::setpwent();
  for (passwd* pw; users.size() < 20 && (pw = ::getpwent());) users.insert(pw->pw_name);
  ::endpwent();
  ASSERT_EQ(20u, users.size());

  // One walk: six columns of two rows, then the step out of the table;
  // every user merges it into a file of their own.
  const auto start = Clock::now();
  Clock::time_point walked;
  for (const auto& user : users) {
    EXPECT_EQ("iRet=0", svc.Reply(WalkArgs(user, printer.host()))) << user;
    if (walked == Clock::time_point{}) walked = Clock::now();
  }
  ASSERT_LT(Clock::now() - start, std::chrono::seconds(10)) << "too slow to stay within the share time";
  EXPECT_EQ(13u, printer.arrivals().size());
  for (const auto& user : users) {
    Lists l;
    ASSERT_TRUE(ReadLists(svc.ProfilePath(user), &l)) << user;
    EXPECT_TRUE(Find(l.rgb(), "RGB1.ICC")) << user;
    EXPECT_TRUE(Find(l.sim(), "SIM2.ICC")) << user;
  }

  // After the share time the next dialog walks again.
  std::this_thread::sleep_until(walked + std::chrono::milliseconds(10100));
  EXPECT_EQ("iRet=0", svc.Reply(WalkArgs("root", printer.host())));
  EXPECT_EQ(26u, printer.arrivals().size());
}

}  // namespace
