// Queues that print to a CUPS print server, through the command line: the
// desktop's cupsd has queues ipp://SERVER/printers/... and /classes/...,
// the server's cupsd the real queues socket://PRINTER:9100. The user's
// session fills the profile file from the printer's snmpd, and the
// server's address gets no SNMP request.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>

#include "cli_root.h"
#include "private_cupsd.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kServer = "127.24.0.1";  // the print server's IPP port, and its SNMP port listened to
constexpr const char* kPrinter = "127.24.0.2";
constexpr const char* kSilentPrinter = "127.24.0.3";  // a class member that does not answer
constexpr const char* kMuteServer = "127.24.0.9";     // accepts connections, never answers
constexpr int kIppPort = 16631;
constexpr int kSnmpPort = 16424;

std::string Ipp(const char* host, const std::string& path) {
  return std::string("ipp://") + host + ":" + std::to_string(kIppPort) + path;
}

// The print server: the real queues, a class of both (the silent member
// first), reachable at kServer:kIppPort.
class ServerCupsd : public hosttest::PrivateCupsd {
 public:
  void TestBody() override {}
  void Begin() { SetUp(); }
  void End() { TearDown(); }
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740", "State Idle\nAccepting Yes"}, {"R2740Off", "State Idle\nAccepting Yes"}};
  }
  std::string DeviceURI(const std::string& name) const override {
    return std::string("socket://") + (name == "R2740" ? kPrinter : kSilentPrinter) + ":9100";
  }
  std::string ExtraConf() const override { return "Listen " + std::string(kServer) + ":" + std::to_string(kIppPort) + "\n"; }
  const std::string& socket() const { return socket_; }
};

// The desktop: queues on the server, and one on a server that never answers.
class PrintServerQueue : public hosttest::PrivateCupsd {
 protected:
  void SetUp() override {
    server_.Begin();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string out;
    for (const char* member : {"R2740Off", "R2740"})
      ASSERT_EQ(0, hosttest::RunShell("lpadmin -h " + server_.socket() + " -p " + member + " -c R2740Pool", &out)) << out;
    PrivateCupsd::SetUp();
  }
  void TearDown() override {
    PrivateCupsd::TearDown();
    server_.End();
  }
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740", "State Idle\nAccepting Yes"}, {"R2740Pool", "State Idle\nAccepting Yes"},
            {"R2740Mute", "State Idle\nAccepting Yes"}};
  }
  std::string DeviceURI(const std::string& name) const override {
    if (name == "R2740Pool") return Ipp(kServer, "/classes/R2740Pool");
    return Ipp(name == "R2740" ? kServer : kMuteServer, "/printers/R2740");
  }
  ServerCupsd server_;
};

TEST_F(PrintServerQueue, SessionWalksThePrinterBehindTheServer) {
  proftest::CliRoot root;
  root.Setting("R2740_XPC_SNMP_PORT", std::to_string(kSnmpPort));
  root.Setting("CUPS_SERVER", socket_);
  proftest::Agent agent(kPrinter, kSnmpPort, {{1, 4, "Studio", "PHOTO.ICC", 1}, {2, 5, "Card", "CARD.ICC", 3}});
  ASSERT_TRUE(agent.ready());
  // Whatever asks the server's or the silent member's address over SNMP
  // is counted.
  proftest::Printer server(kServer, kSnmpPort), silent(kSilentPrinter, kSnmpPort);
  ASSERT_TRUE(server.bound() && silent.bound());

  const std::string profile = root.ProfilePath(sys::LoginName());
  auto session = [&](const std::string& queue) {
    std::filesystem::remove(profile);
    auto start = Clock::now();
    auto r = root.Session({"--queue", queue});
    EXPECT_EQ(0, r.exitStatus) << queue << ": " << r.output;
    return Clock::now() - start;
  };
  auto expectPrintersProfiles = [&](const std::string& queue) {
    proftest::Lists l;
    ASSERT_TRUE(proftest::ReadLists(profile, &l)) << queue;
    ASSERT_EQ(1, l.rgb().iNum) << queue;
    EXPECT_STREQ("PHOTO.ICC", l.rgb().entry[0].FileName);
    ASSERT_EQ(1, l.sim().iNum) << queue;
    EXPECT_STREQ("CARD.ICC", l.sim().entry[0].FileName);
  };

  session("R2740");
  expectPrintersProfiles("R2740");

  // The class: its first member is asked (once, then its retry), the
  // second answers.
  session("R2740Pool");
  expectPrintersProfiles("R2740Pool");
  EXPECT_EQ(2u, silent.arrivals().size());
  EXPECT_TRUE(server.arrivals().empty());

  // A server that takes the connection and says nothing costs the lookup's
  // second; its address is then walked as any queue's host.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = proftest::Address(kMuteServer, kIppPort);
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, ::listen(fd, 8));
  proftest::Printer mute(kMuteServer, kSnmpPort);
  ASSERT_TRUE(mute.bound());
  auto took = session("R2740Mute");
  ::close(fd);
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  EXPECT_EQ(2u, mute.arrivals().size());
}

}  // namespace
