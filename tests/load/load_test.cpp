// Load: eight users walk their own printers and rewrite their own profile
// files at once, through the real helper and one service, for a bounded
// time. Afterwards every file holds exactly its own printer's profiles, and
// the service holds no more descriptors or threads than before.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>

#include "ProfileTestSupport.h"

using namespace proftest;

namespace {

constexpr int kClients = 8;
constexpr int kRows = 24;
constexpr auto kDuration = std::chrono::seconds(15);
constexpr int kMaxRounds = 400;

std::string User(int c) { return "load" + std::to_string(c); }

// Printer c: rows of classes 1 (RGB) and 3 (SIM and DST), names unique to c.
std::vector<Row> Device(int c) {
  std::vector<Row> rows;
  for (int r = 1; r <= kRows; ++r) {
    char file[16];
    std::snprintf(file, sizeof file, "C%dR%02d.ICC", c, r);
    rows.push_back({r, kProfileLocationDisk, "Client " + std::to_string(c), file, r % 3 == 0 ? 3 : 1});
  }
  return rows;
}

std::set<std::string> Names(const ProfileList& l) {
  std::set<std::string> out;
  for (int i = 0; i < l.iNum; ++i) out.insert(l.entry[i].FileName);
  return out;
}

// Reads the user's file, shows every profile, and writes it back the way
// the plug-in does: pieces through the helper, then the rename.
bool Rewrite(const ServiceRoot& svc, const std::string& path) {
  Lists l;
  if (!ReadLists(path, &l)) return false;
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < l.l[k].iNum; ++i) l.l[k].entry[i].InMenu = kProfileStateUserShown;
  std::string xml = QVPListCreateXMLText(&l.rgb(), &l.sim(), &l.dst());
  std::string url = "file://" + path;
  svc.Reply({"qvPListRemove_XPC", path + ".dummy"});
  for (size_t at = 0; at < xml.size(); at += 90000)
    if (svc.Reply({"writeDataToPlistFile_XPC", url, xml.substr(at, 90000)}) != "TRUE") return false;
  return svc.Reply({"writeDataToPlistFileRename_XPC", url}) == "TRUE";
}

size_t Count(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(Load, EightClientsWalkAndWriteAtOnce) {
  std::vector<std::unique_ptr<Agent>> agents;
  for (int c = 0; c < kClients; ++c) {
    agents.push_back(std::make_unique<Agent>("127.0.1." + std::to_string(c + 1), 16401, Device(c)));
    ASSERT_TRUE(agents.back()->ready()) << "snmpd " << c;
  }
  ServiceRoot svc;
  svc.Setting("R2740_XPC_SNMP_PORT", "16401");
  svc.Setting("R2740_XPC_WALK_SHARE_SECONDS", "0");  // every walk reaches its printer
  ASSERT_EQ("iRet=0", svc.Reply(WalkArgs(User(0), agents[0]->host())));  // starts the service
  const pid_t pid = svc.ServicePid();
  ASSERT_GT(pid, 0);
  const std::string proc = "/proc/" + std::to_string(pid);
  // ServicePid's own connection is closed; give its thread a moment to end.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const size_t fdsBefore = Count(proc + "/fd"), threadsBefore = Count(proc + "/task");

  const auto until = std::chrono::steady_clock::now() + kDuration;
  std::vector<std::future<std::string>> clients;
  for (int c = 0; c < kClients; ++c)
    clients.push_back(std::async(std::launch::async, [&, c]() -> std::string {
      const std::string path = svc.ProfilePath(User(c));
      int rounds = 0;
      for (; rounds < kMaxRounds && std::chrono::steady_clock::now() < until; ++rounds) {
        std::string walk = svc.Reply(WalkArgs(User(c), agents[c]->host()));
        if (walk != "iRet=0") return "walk " + std::to_string(rounds) + ": " + walk;
        if (!Rewrite(svc, path)) return "write " + std::to_string(rounds) + " failed";
      }
      return rounds > 0 ? "" : "no round ran";
    }));
  for (int c = 0; c < kClients; ++c) EXPECT_EQ("", clients[c].get()) << User(c);

  for (int c = 0; c < kClients; ++c) {
    Lists l;
    ASSERT_TRUE(ReadLists(svc.ProfilePath(User(c)), &l)) << User(c);
    std::set<std::string> rgb, sim;
    for (const Row& r : Device(c)) (r.profileClass == 3 ? sim : rgb).insert(r.fileName);
    EXPECT_EQ(rgb, Names(l.rgb())) << User(c);
    EXPECT_EQ(sim, Names(l.sim())) << User(c);
    EXPECT_EQ(sim, Names(l.dst())) << User(c);
    EXPECT_FALSE(sys::FileExists(svc.ProfilePath(User(c)) + ".dummy")) << User(c);
  }

  // Connections are closed; their threads and descriptors must go.
  size_t fds = 0, threads = 0;
  for (int i = 0; i < 100; ++i) {
    fds = Count(proc + "/fd");
    threads = Count(proc + "/task");
    if (fds <= fdsBefore && threads <= threadsBefore) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_LE(fds, fdsBefore);
  EXPECT_LE(threads, threadsBefore);
}

}  // namespace
