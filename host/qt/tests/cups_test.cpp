// Printing through the dialog to a cupsd of the test's own: a temporary
// server on a loopback port with one queue on the sample PPD and a file
// device. Skipped with the reason when cupsd cannot run here.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "cups_layout.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;
using qttest::Sh;

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

bool Connects(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

void Write(const fs::path& p, const std::string& text) {
  std::ofstream out(p);
  out << text;
}

// cupsd in the foreground, configured entirely inside one temporary folder.
class Cupsd {
 public:
  explicit Cupsd(const fs::path& dir) : dir_(dir) {}
  ~Cupsd() { stop(); }

  bool start(std::string* why) {
    const char* cupsd = "/usr/sbin/cupsd";
    if (access(cupsd, X_OK) != 0) return fail(why, "no cupsd at /usr/sbin/cupsd");
    port_ = FreePort();
    if (!port_) return fail(why, "no free loopback port");
    for (const char* d : {"etc", "etc/ppd", "spool", "spool/tmp", "cache", "state", "log", "out"})
      fs::create_directories(dir_ / d);
    // Filters run as another user; they need to reach the spool and output.
    fs::permissions(dir_, fs::perms::all);
    for (const char* d : {"spool", "spool/tmp", "out"}) fs::permissions(dir_ / d, fs::perms::all);
    Write(dir_ / "etc/cupsd.conf",
          "Listen 127.0.0.1:" + std::to_string(port_) +
              "\nLogLevel debug\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
              "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    const std::string filterRun = hosttest::LayOutFilterRun(dir_.string());
    if (filterRun.empty()) return fail(why, "r2740-filter is not built");
    Write(dir_ / "etc/cups-files.conf",
          "ServerRoot " + (dir_ / "etc").string() + "\nRequestRoot " + (dir_ / "spool").string() +
              "\nCacheDir " + (dir_ / "cache").string() + "\nStateDir " + (dir_ / "state").string() +
              "\nTempDir " + (dir_ / "spool/tmp").string() + "\nAccessLog " + (dir_ / "log/access_log").string() +
              "\nErrorLog " + (dir_ / "log/error_log").string() + "\nPageLog " + (dir_ / "log/page_log").string() +
              "\nFileDevice Yes\nSystemGroup root\n" + filterRun);
    pid_ = fork();
    if (pid_ < 0) return fail(why, "fork failed");
    if (pid_ == 0) {
      setsid();
      execl(cupsd, cupsd, "-f", "-c", (dir_ / "etc/cupsd.conf").c_str(), "-s", (dir_ / "etc/cups-files.conf").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return fail(why, "cupsd exited at start: " + log());
      }
      if (Connects(port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return fail(why, "cupsd did not listen within 10 s: " + log());
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string log() const {
    std::string text = qttest::ReadFile(dir_ / "log/error_log");
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
  }

 private:
  bool fail(std::string* why, const std::string& w) {
    *why = w;
    stop();
    return false;
  }
  fs::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

TEST(CupsPrint, BatchPrintSubmitsAJobWithThePanelsOptions) {
  qttest::TempDir tmp;
  ASSERT_FALSE(tmp.path.empty());
  fs::path bundles = tmp.path / "bundles";
  if (!qttest::LinkBundles(bundles, {"ColorOptionsPDE_R2740", "SecurityPanelPDE"}))
    GTEST_SKIP() << "the colour and security bundles are not built in " << R2740_BUNDLE_DIR;
  if (access("/usr/sbin/lpadmin", X_OK) != 0) GTEST_SKIP() << "lpadmin is not installed";

  Cupsd cupsd(tmp.path / "cups");
  std::string why;
  if (!cupsd.start(&why)) GTEST_SKIP() << "cupsd cannot run here: " << why;

  std::string output;
  std::string ppd = std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd";
  int rc = qttest::Run("/usr/sbin/lpadmin -h " + cupsd.server() + " -p Test -v " +
                   Sh("file://" + (tmp.path / "cups/out/job").string()) + " -P " + Sh(ppd) + " -E",
               &output);
  if (rc != 0) GTEST_SKIP() << "lpadmin could not add the queue: " << output << "\n" << cupsd.log();

  fs::path settings = tmp.path / "settings.plist";
  fs::create_directories(tmp.path / "root");
  std::string env = "QT_QPA_PLATFORM=offscreen R2740_USER_PREFS=" + Sh((tmp.path / "prefs").string()) +
                    " CUPS_SERVER=" + cupsd.server() +
                    " R2740_ROOT=" + Sh((tmp.path / "root").string()) + " ";
  rc = qttest::Run(env + Sh(R2740_PRINT_DIALOG) + " --queue Test --bundles " + Sh(bundles.string()) +
               " --set QVBrightness=Lighter1 --set QVGlossyMode=True --action print --settings-out " +
               Sh(settings.string()),
           &output);
  ASSERT_EQ(rc, 0) << output << "\n" << cupsd.log();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(output, m, std::regex("job ([0-9]+) submitted to Test"))) << output;
  int job = std::stoi(m[1]);
  EXPECT_GT(job, 0);
  EXPECT_TRUE(fs::exists(settings));

  // The job's options are in its control file (IPP attributes).
  char name[32];
  std::snprintf(name, sizeof name, "c%05d", job);
  fs::path control = tmp.path / "cups/spool" / name;
  std::string attrs;
  for (int i = 0; i < 100 && attrs.empty(); ++i) {
    attrs = qttest::ReadFile(control);
    if (attrs.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(attrs.empty()) << "no control file " << control << "\n" << cupsd.log();
  for (const char* s : {"QVBrightness", "Lighter1", "QVGlossyMode", "QVQuickColor"})
    EXPECT_NE(attrs.find(s), std::string::npos) << s << " not in the job's attributes";

  // And the server lists the job.
  EXPECT_EQ(qttest::Run("/usr/bin/lpstat -h " + cupsd.server() + " -W all -o Test", &output), 0) << output;
  EXPECT_NE(output.find("Test-" + std::to_string(job)), std::string::npos) << output;

  // Cancel prints nothing: no new job appears.
  rc = qttest::Run(env + Sh(R2740_PRINT_DIALOG) + " --queue Test --bundles " + Sh(bundles.string()) + " --action cancel",
           &output);
  EXPECT_EQ(rc, 0) << output;
  std::snprintf(name, sizeof name, "c%05d", job + 1);
  EXPECT_FALSE(fs::exists(tmp.path / "cups/spool" / name));

  // Secure print without its password: refused, and nothing reaches cupsd.
  fs::path refused = tmp.path / "refused.plist";
  rc = qttest::Run(env + Sh(R2740_PRINT_DIALOG) + " --queue Test --bundles " + Sh(bundles.string()) +
                       " --set PrintModeR2740=SecurePrint --action print --settings-out " + Sh(refused.string()),
                   &output);
  EXPECT_EQ(rc, 7) << output;
  EXPECT_EQ(output.find("submitted"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(refused));
  EXPECT_FALSE(fs::exists(tmp.path / "cups/spool" / name));

  // Once the job is in, outputs that cannot be written do not make a
  // script print again: exit 0, and stderr says what was not written.
  fs::path blocker = tmp.path / "a-file";
  std::ofstream(blocker) << "x";
  rc = qttest::Run(env + Sh(R2740_PRINT_DIALOG) + " --queue Test --bundles " + Sh(bundles.string()) +
                       " --action print --screenshot " + Sh((blocker / "shots").string()) + " --settings-out " +
                       Sh((blocker / "s.plist").string()),
                   &output);
  EXPECT_EQ(rc, 0) << output;
  EXPECT_NE(output.find("job " + std::to_string(job + 1) + " submitted to Test"), std::string::npos) << output;
  EXPECT_NE(output.find("cannot write " + (blocker / "s.plist").string()), std::string::npos) << output;
  EXPECT_NE(output.find("cannot create " + (blocker / "shots").string()), std::string::npos) << output;
  EXPECT_NE(output.find("the job was submitted all the same"), std::string::npos) << output;
}

}  // namespace
