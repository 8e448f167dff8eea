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

// HOST:PORT of a cupsd's IPP port.
std::string At(const char* host) { return std::string(host) + ":" + std::to_string(kIppPort); }

// The print server (TLS on request too): the real queues, a class of both
// (the silent member first), a queue that prints to another of its queues, one that prints to
// itself, and one whose attributes only an authenticated user may read;
// reachable at kServer:kIppPort.
class ServerCupsd : public hosttest::PrivateCupsd {
 public:
  void TestBody() override {}
  void Begin() { SetUp(); }
  void End() { TearDown(); }
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    const std::string state = "State Idle\nAccepting Yes";
    return {{"R2740", state}, {"R2740Off", state}, {"R2740Relay", state}, {"R2740Loop", state},
            {"R2740Secret", state + "\nOpPolicy secret"}};
  }
  std::string DeviceURI(const std::string& name) const override {
    if (name == "R2740Relay") return "ipp://" + At(kServer) + "/printers/R2740";
    if (name == "R2740Loop") return "ipp://" + At(kServer) + "/printers/R2740Loop";
    return std::string("socket://") + (name == "R2740Off" ? kSilentPrinter : kPrinter) + ":9100";
  }
  std::string ExtraConf() const override {
    return "Listen " + At(kServer) +
           "\nAccessLogLevel all\n<Policy secret>\n  <Limit Get-Printer-Attributes>\n    AuthType Basic\n"
           "    Require valid-user\n  </Limit>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
  }
  // cupsd makes its self-signed certificate there for the first TLS client.
  std::string ExtraFilesConf() const override {
    std::filesystem::create_directories(dir_.file("etc/ssl"));
    return "";
  }
  const std::string& socket() const { return socket_; }
  std::string AccessLog() const { return hosttest::ReadAll(dir_.file("log/access_log")); }
};

// The desktop: queues on the server, and one on a server that never answers.
class PrintServerQueue : public hosttest::PrivateCupsd {
 protected:
  void SetUp() override {
    server_.Begin();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string out;
    for (const std::string member : {"R2740Off", "R2740"})
      ASSERT_EQ(0, hosttest::RunShell("lpadmin -h " + server_.socket() + " -p " + member + " -c R2740Pool", &out))
          << out;
    PrivateCupsd::SetUp();
  }
  void TearDown() override {
    PrivateCupsd::TearDown();
    server_.End();
  }
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    std::vector<std::pair<std::string, std::string>> queues;
    for (const char* name :
         {"R2740", "R2740Tls", "R2740Pool", "R2740Relay", "R2740Browsed", "R2740Loop", "R2740Secret", "R2740Mute"})
      queues.push_back({name, "State Idle\nAccepting Yes"});
    return queues;
  }
  std::string DeviceURI(const std::string& name) const override {
    if (name == "R2740Pool") return "ipp://" + At(kServer) + "/classes/R2740Pool";
    if (name == "R2740Mute") return "ipp://" + At(kMuteServer) + "/printers/R2740";
    if (name == "R2740Tls") return "ipps://" + At(kServer) + "/printers/R2740";
    // cups-browsed's form: the server's queue name before the "@".
    if (name == "R2740Browsed") return "implicitclass://R2740@" + At(kServer) + "/";
    return "ipp://" + At(kServer) + "/printers/" + name;
  }
  ServerCupsd server_;
};

TEST_F(PrintServerQueue, SessionWalksThePrinterBehindTheServer) {
  proftest::CliRoot root;
  root.Setting("R2740_XPC_SNMP_PORT", std::to_string(kSnmpPort));
  root.Setting("CUPS_SERVER", socket_);
  // Every walk of a silent address goes out, so that each session's are counted.
  root.Setting("R2740_XPC_WALK_HOLD_SECONDS", "0");
  proftest::Agent agent(kPrinter, kSnmpPort, {{1, 4, "Studio", "PHOTO.ICC", 1}, {2, 5, "Card", "CARD.ICC", 3}});
  ASSERT_TRUE(agent.ready());
  // Whatever asks the server's or the silent member's address over SNMP
  // is counted.
  proftest::Printer server(kServer, kSnmpPort), silent(kSilentPrinter, kSnmpPort);
  ASSERT_TRUE(server.bound() && silent.bound());

  const std::string profile = root.ProfilePath(sys::LoginName());
  auto session = [&](const std::string& queue, std::vector<std::string> args = {}) {
    std::filesystem::remove(profile);
    if (args.empty()) args = {"--queue", queue};
    auto start = Clock::now();
    auto r = root.Session(args);
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

  // The server's queue, over TLS too, and a server queue that prints to
  // another (one more hop).
  Clock::duration base{};  // a session whose lookup and walk are answered at once
  for (const char* queue : {"R2740", "R2740Tls", "R2740Relay"}) {
    base = session(queue);
    expectPrintersProfiles(queue);
  }
  // cups-browsed's form with the server named; cupsd hides a device URI's
  // user part from its clients, so its queue names no server and is not
  // walked.
  const std::string browsed = "implicitclass://R2740@" + At(kServer) + "/";
  session(browsed, {"--ppd", hosttest::ColorPPD(), "--queue-id", "R2740Browsed", "--device-uri", browsed});
  expectPrintersProfiles(browsed);
  session("R2740Browsed");
  EXPECT_FALSE(sys::FileExists(profile));

  // The class: its first member is asked (once, then its retry), the
  // second answers.
  session("R2740Pool");
  expectPrintersProfiles("R2740Pool");
  EXPECT_EQ(2u, silent.arrivals().size());
  EXPECT_TRUE(server.arrivals().empty());

  // A queue that prints to itself is followed once more, then walked at
  // its host; one the server tells only an authenticated user is walked
  // at its host, and no credentials are sent for it.
  session("R2740Loop");
  EXPECT_EQ(2u, server.arrivals().size());
  session("R2740Secret");
  EXPECT_EQ(4u, server.arrivals().size());
  const std::string log = server_.AccessLog();
  EXPECT_NE(std::string::npos, log.find("POST /printers/R2740Secret HTTP/1.1\" 401")) << log;
  EXPECT_EQ(std::string::npos, log.find("POST /printers/R2740Secret HTTP/1.1\" 200")) << log;
  EXPECT_EQ(std::string::npos, log.find("- root [")) << log;

  // A server that takes the connection and says nothing costs the lookup's
  // second; its address is then walked as any queue's host (a second for a
  // silent one).
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = proftest::Address(kMuteServer, kIppPort);
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, ::listen(fd, 8));
  proftest::Printer mute(kMuteServer, kSnmpPort);
  ASSERT_TRUE(mute.bound());
  auto took = session("R2740Mute");
  ::close(fd);
  EXPECT_LT(took - base, std::chrono::milliseconds(2800));
  EXPECT_EQ(2u, mute.arrivals().size());
}

}  // namespace
