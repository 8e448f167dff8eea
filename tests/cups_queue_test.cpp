// CUPS queues from a real cupsd, started privately in a temporary folder
// with one queue on the colour PPD and stopped at the end.
#include <cups/cups.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "host.h"
#include "host_test_util.h"

using namespace hosttest;
using ::testing::HasSubstr;

namespace {

constexpr const char* kCupsd = "/usr/sbin/cupsd";

class PrivateCupsd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kCupsd, X_OK) != 0) GTEST_SKIP() << "no cupsd";
    if (geteuid() != 0) GTEST_SKIP() << "cupsd wants root to start";
    const std::string& d = dir_.path();
    chmod(d.c_str(), 0755);
    for (const char* sub : {"etc/ppd", "spool", "tmp", "cache", "state", "log"})
      std::filesystem::create_directories(dir_.file(sub));
    socket_ = dir_.file("cups.sock");
    dir_.write("etc/cupsd.conf", "Listen " + socket_ +
                                     "\nLogLevel warn\nWebInterface No\nBrowsing No\n"
                                     "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n");
    dir_.write("etc/cups-files.conf", "ServerRoot " + d + "/etc\nRequestRoot " + d + "/spool\nTempDir " + d +
                                          "/tmp\nCacheDir " + d + "/cache\nStateDir " + d + "/state\nAccessLog " +
                                          d + "/log/access_log\nErrorLog " + d + "/log/error_log\nPageLog " + d +
                                          "/log/page_log\nUser lp\nGroup lp\nSystemGroup root\n");
    dir_.write("etc/printers.conf",
               "<Printer R2740Test>\nInfo R2740 test queue\nDeviceURI lpd://127.0.0.1/queue\nState Idle\n"
               "Accepting Yes\nShared No\n</Printer>\n");
    std::filesystem::copy_file(ColorPPD(), dir_.file("etc/ppd/R2740Test.ppd"));

    pid_ = fork();
    if (pid_ == 0) {
      execl(kCupsd, kCupsd, "-f", "-c", dir_.file("etc/cupsd.conf").c_str(), "-s",
            dir_.file("etc/cups-files.conf").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
    // Ready once it answers on its socket (bounded wait).
    cupsSetServer(socket_.c_str());
    for (int i = 0; i < 100; ++i) {
      if (std::filesystem::exists(socket_)) {
        std::string error;
        if (!host::CupsQueues(&error).empty()) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    FAIL() << "cupsd did not come up: " << ReadAll(dir_.file("log/error_log"));
  }
  void TearDown() override {
    cupsSetServer(nullptr);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  TempDir dir_;
  std::string socket_;
  pid_t pid_ = -1;
};

}  // namespace

TEST_F(PrivateCupsd, QueuesComeWithDeviceURIAndPPD) {
  std::string error;
  auto queues = host::CupsQueues(&error);
  ASSERT_EQ(queues.size(), 1u) << error;
  EXPECT_EQ(queues[0].id, "R2740Test");
  EXPECT_EQ(queues[0].deviceURI, "lpd://127.0.0.1/queue");
  EXPECT_TRUE(queues[0].ppdPath.empty());

  auto q = host::CupsQueue("R2740Test", &error);
  ASSERT_TRUE(q) << error;
  EXPECT_EQ(q->name, "R2740Test");
  EXPECT_EQ(q->deviceURI, "lpd://127.0.0.1/queue");
  ASSERT_TRUE(q->temporaryPPD);
  auto ppd = host::PPDFile::open(q->ppdPath, &error);
  ASSERT_TRUE(ppd) << error;
  EXPECT_TRUE(ppdFindOption(ppd->get(), "QVQuickColor"));
  unlink(q->ppdPath.c_str());

  EXPECT_FALSE(host::CupsQueue("NoSuchQueue", &error));
  EXPECT_THAT(error, HasSubstr("no CUPS queue named NoSuchQueue"));

  // The command line on the queue by name.
  std::string cmd = "CUPS_SERVER='" + socket_ + "' '" + R2740_CLI + "' --queue R2740Test --bundles '" +
                    R2740_TEST_BUNDLE_DIR + "' --summary-out '" + dir_.file("summary.txt") + "' >/dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_THAT(ReadAll(dir_.file("summary.txt")), HasSubstr("Test Panel A\n"));
}
