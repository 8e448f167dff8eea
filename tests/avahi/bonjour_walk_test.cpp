// Bonjour queues against a real avahi-daemon. The test runs itself again
// under `unshare -n -m`, so that everything it starts lives in a network and
// mount namespace of its own: a veth pair with private addresses, a tmpfs on
// /run, a private system bus, avahi-daemon on the veth ends, avahi-publish
// for the printer's services and host name, and snmpd as the printer on the
// veth address. The plug-in resolves the queue's dnssd:// URI and the real
// helper and service walk the printer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "PDECommon.h"
#include "ProfileTestSupport.h"

namespace {

namespace fs = std::filesystem;
using R2740_COLOR_NS::PDECommon;

constexpr const char* kInside = "R2740_BONJOUR_NAMESPACE";
constexpr const char* kPrinterAddress = "10.217.0.2";

// A program started in the background with its output in a log file,
// stopped when it goes.
class Daemon {
 public:
  Daemon(const std::vector<std::string>& argv, std::string log) : log_(std::move(log)) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Daemon() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Waits up to 10 s for the text in the log.
  bool WaitFor(const std::string& text) const {
    for (int i = 0; i < 200; ++i) {
      auto log = sys::ReadFile(log_);
      if (log && log->find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  std::string Log() const { return sys::ReadFile(log_).value_or(""); }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

class BonjourQueue : public ::testing::Test {
 protected:
  // Inside the namespace: the network, the bus, the daemon, the printer and
  // an install root whose helper records each command and runs the real one.
  void SetUp() override {
    if (!::getenv(kInside)) return;
    auto net = sys::RunTask("/bin/sh", {"-c",
                                        "exec 2>&1; mount -t tmpfs -o mode=0755 r2740 /run && ip link set lo up && "
                                        "ip link add r2740a type veth peer name r2740b && "
                                        "ip addr add 10.217.0.1/24 dev r2740a && ip link set r2740a up && "
                                        "ip addr add 10.217.0.2/24 dev r2740b && ip link set r2740b up"});
    if (net.exitStatus != 0) GTEST_SKIP() << "no veth pair in the test's network namespace: " << net.output;

    const std::string dir = root_.root();
    std::ofstream(dir + "/bus.conf") << "<busconfig><type>system</type><listen>unix:path=" << dir
                                     << "/bus</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                        "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                                        "<allow receive_sender=\"*\"/></policy></busconfig>\n";
    std::ofstream(dir + "/avahi.conf") << "[server]\nhost-name=r2740-test\nuse-ipv4=yes\nuse-ipv6=no\n"
                                          "allow-interfaces=r2740a,r2740b\nenable-dbus=yes\n"
                                          "[wide-area]\nenable-wide-area=no\n"
                                          "[publish]\npublish-hinfo=no\npublish-workstation=no\n";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir + "/bus").c_str(), 1);
    bus_ =
        std::make_unique<Daemon>(std::vector<std::string>{"/usr/bin/dbus-daemon", "--config-file=" + dir + "/bus.conf",
                                                          "--nofork", "--nopidfile", "--print-address"},
                                 dir + "/bus.log");
    ASSERT_TRUE(bus_->WaitFor("unix:path=")) << bus_->Log();
    avahi_ = std::make_unique<Daemon>(
        std::vector<std::string>{"/usr/sbin/avahi-daemon", "--no-drop-root", "--no-chroot", "-f", dir + "/avahi.conf"},
        dir + "/avahi.log");
    ASSERT_TRUE(avahi_->WaitFor("Server startup complete")) << avahi_->Log();

    agent_ = std::make_unique<proftest::Agent>(
        161, std::vector<proftest::Row>{{1, 4, "Studio", "PHOTO.ICC", 1}, {2, 5, "Card", "CARD.ICC", 2}},
        std::string("agentaddress udp:") + kPrinterAddress + ":161\nrocommunity public 10.217.0.0/24\n");
    ASSERT_TRUE(agent_->ready());

    const std::string helper = QVPListHelperPath();
    fs::create_directories(fs::path(helper).parent_path());
    std::ofstream(helper) << "#!/bin/sh\necho \"$*\" >> \"$R2740_ROOT/helper.log\"\n'" << proftest::HelperProgram()
                          << "' \"$@\"\nstatus=$?\ndate +%s.%N > \"$R2740_ROOT/helper.done\"\nexit $status\n";
    ::chmod(helper.c_str(), 0755);
  }
  void TearDown() override { ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }

  // Publishes one record with avahi-publish until the test ends.
  void Publish(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/avahi-publish"};
    argv.insert(argv.end(), args.begin(), args.end());
    published_.push_back(
        std::make_unique<Daemon>(argv, root_.root() + "/publish" + std::to_string(published_.size()) + ".log"));
    ASSERT_TRUE(published_.back()->WaitFor("Established under name")) << published_.back()->Log();
  }

  // The walk the plug-in starts for a queue with this URI ("" for none), and
  // how long the call went on after its last helper run: the resolution,
  // when no walk follows.
  std::string Walk(const std::string& uri, double* seconds = nullptr) {
    fs::remove(root_.root() + "/helper.log");
    fs::remove(root_.root() + "/helper.done");
    pm::Printer printer("R2740_Bonjour", uri);
    pm::PrintSession session;
    session.setCurrentPrinter(&printer);
    EXPECT_EQ(0, PDECommon::commonGetProfilesFromMIB(&session));
    auto end = std::chrono::system_clock::now();
    if (seconds) {
      auto done = sys::ReadFile(root_.root() + "/helper.done");
      EXPECT_TRUE(done);
      *seconds = std::chrono::duration<double>(end.time_since_epoch()).count() - std::stod(done.value_or("0"));
    }
    std::istringstream log(sys::ReadFile(root_.root() + "/helper.log").value_or(""));
    for (std::string line; std::getline(log, line);)
      if (line.rfind("mibwalk_XPC ", 0) == 0) return line;
    return "";
  }
  static std::string WalkTo(const std::string& address) {
    return "mibwalk_XPC R2740 " + sys::LoginName() + " snmpwalk -Os -c public -v 1 " + address + " " +
           proftest::kTableRoot;
  }

  // Outside the namespace: runs this test again inside one, and skips
  // where none can be made.
  static void RunInsideNamespace() {
    if (sys::RunTask("/usr/bin/unshare", {"-n", "-m", "true"}).exitStatus != 0)
      GTEST_SKIP() << "a network namespace cannot be made here (unshare -n -m needs root or CAP_SYS_ADMIN)";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    auto self = fs::read_symlink("/proc/self/exe").string();
    auto r = sys::RunTask(
        "/bin/sh",
        {"-c", "exec 2>&1; exec /usr/bin/unshare -n -m \"$@\"", "sh", self,
         std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name(), "--gtest_repeat=1"},
        {std::string(kInside) + "=1"});
    std::cout << r.output;
    if (r.exitStatus == 0 && r.output.find("[  SKIPPED ]") != std::string::npos)
      GTEST_SKIP() << "skipped inside the namespace (see above)";
    EXPECT_EQ(r.exitStatus, 0) << "the run inside the namespace failed (see above)";
  }

  proftest::ServiceRoot root_;
  std::unique_ptr<Daemon> bus_, avahi_;
  std::vector<std::unique_ptr<Daemon>> published_;
  std::unique_ptr<proftest::Agent> agent_;
};

TEST_F(BonjourQueue, DnssdQueueWalksThePrinterItsServiceResolvesTo) {
  if (!::getenv(kInside)) return RunInsideNamespace();
  Publish({"-a", "-R", "r2740-office.local", kPrinterAddress});
  Publish({"-s", "-H", "r2740-office.local", "R2740 Büro (2.1)", "_pdl-datastream._tcp", "9100"});
  Publish({"-s", "-H", "r2740-office.local", "R2740 Büro (2.1)", "_ipp._tcp", "631"});

  // As CUPS writes them: percent escapes (a space, UTF-8), a plain dot in
  // the name, a query or path after the host; or with DNS-SD escapes.
  for (const char* uri : {"dnssd://R2740%20B%C3%BCro%20(2.1)._pdl-datastream._tcp.local/?uuid=4509a320-00a0-008f",
                          "dnssd://R2740%20B%C3%BCro%20(2.1)._ipp._tcp.local./cups",
                          "mdns://R2740%5C032B%5C195%5C188ro%20(2%5C.1)._pdl-datastream._tcp.local"}) {
    EXPECT_EQ(WalkTo(kPrinterAddress), Walk(uri)) << uri;
  }
  auto rgb = std::make_unique<ProfileList>();
  ASSERT_EQ(0, QVPListReadProfile_Dict(rgb.get(), kProfileListRGB));
  ASSERT_EQ(2, rgb->iNum);
  EXPECT_STREQ("PHOTO.ICC", rgb->entry[0].FileName);
  EXPECT_STREQ("CARD.ICC", rgb->entry[1].FileName);
  EXPECT_EQ(2, rgb->entry[1].InMenu);  // found on the printer, not yet shown

  // A host with no IPv4 address, and a service nobody answers for: no walk;
  // the resolution waits for the daemon and gives up after its 1.0 s.
  Publish({"-a", "-R", "r2740-v6.local", "fd17::2"});
  Publish({"-s", "-H", "r2740-v6.local", "R2740 V6", "_ipp._tcp", "631"});
  for (const char* uri : {"dnssd://R2740%20V6._ipp._tcp.local/", "dnssd://Nobody._pdl-datastream._tcp.local/"}) {
    double seconds = 0;
    EXPECT_EQ("", Walk(uri, &seconds)) << uri;
    EXPECT_GT(seconds, 0.9) << uri;
    EXPECT_LT(seconds, 2.5) << uri;  // room for a loaded machine, not for a second wait
  }

  // No daemon on the bus: no walk, at once.
  avahi_.reset();
  double seconds = 0;
  EXPECT_EQ("", Walk("dnssd://R2740%20B%C3%BCro%20(2.1)._ipp._tcp.local/", &seconds));
  EXPECT_LT(seconds, 0.9);  // less than one resolution's wait
}

}  // namespace
