// A real cupsd, started privately in a temporary folder (its own
// configuration, spool and socket) with the queues a test names, and
// stopped at the end. Skips when cupsd is missing or cannot run here.
// Its filter folder holds the system's filters and the build's r2740-filter,
// which the sample PPDs name, and its filters find the build's bundles under
// an install root of the folder's own.
#pragma once

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host.h"
#include "host_test_util.h"
#include "cups_layout.h"

namespace hosttest {

class PrivateCupsd : public ::testing::Test {
 protected:
  static constexpr const char* kCupsd = "/usr/sbin/cupsd";

  void SetUp() override {
    if (access(kCupsd, X_OK) != 0) GTEST_SKIP() << "no cupsd";
    if (geteuid() != 0) GTEST_SKIP() << "cupsd wants root to start";
    const std::string& d = dir_.path();
    chmod(d.c_str(), 0755);
    for (const char* sub : {"etc/ppd", "spool", "tmp", "cache", "state", "log"})
      std::filesystem::create_directories(dir_.file(sub));
    const std::string filterRun = LayOutFilterRun(d);
    if (filterRun.empty()) {
      GTEST_FAIL() << "r2740-filter is not built in " R2740_BINARY_DIR;
    }
    if (passwd* lp = getpwnam("lp")) {
      ASSERT_EQ(chown(dir_.file("tmp").c_str(), lp->pw_uid, lp->pw_gid), 0);
    }
    socket_ = dir_.file("cups.sock");
    // lpadmin may set queue defaults over the socket without a password.
    dir_.write("etc/cupsd.conf", "Listen " + socket_ +
                                     "\nLogLevel warn\nWebInterface No\nBrowsing No\nDefaultAuthType None\n" +
                                     ExtraConf() +
                                     "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n" + Policies());
    dir_.write("etc/cups-files.conf", "ServerRoot " + d + "/etc\nRequestRoot " + d + "/spool\nTempDir " + d +
                                          "/tmp\nCacheDir " + d + "/cache\nStateDir " + d + "/state\nAccessLog " +
                                          d + "/log/access_log\nErrorLog " + d + "/log/error_log\nPageLog " + d +
                                          "/log/page_log\nUser lp\nGroup lp\nSystemGroup root\n" + filterRun +
                                          ExtraFilesConf());
    std::string printers;
    for (const auto& [name, state] : Queues()) {
      printers += "<Printer " + name + ">\nInfo R2740 test queue\nDeviceURI " + DeviceURI(name) + "\n" + state +
                  "\nShared No\n</Printer>\n";
      std::filesystem::copy_file(ColorPPD(), dir_.file("etc/ppd/" + name + ".ppd"));
    }
    dir_.write("etc/printers.conf", printers);
    Start();
  }
  // Queue name -> its state lines in printers.conf.
  virtual std::vector<std::pair<std::string, std::string>> Queues() const {
    return {{"R2740Test", "State Idle\nAccepting Yes"}};
  }
  virtual std::string DeviceURI(const std::string&) const { return "lpd://127.0.0.1/queue"; }
  virtual std::string ExtraConf() const { return ""; }
  // The <Policy> blocks of cupsd.conf.
  virtual std::string Policies() const {
    return "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
  }
  // More lines of cups-files.conf (CUPS 2.4 takes SetEnv there).
  virtual std::string ExtraFilesConf() const { return ""; }

  // Starts cupsd on the folder's configuration; ready once it answers on
  // its socket (bounded wait).
  void Start() {
    pid_ = fork();
    if (pid_ == 0) {
      execl(kCupsd, kCupsd, "-f", "-c", dir_.file("etc/cupsd.conf").c_str(), "-s",
            dir_.file("etc/cups-files.conf").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
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
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  void TearDown() override {
    cupsSetServer(nullptr);
    Stop();
  }

  TempDir dir_;
  std::string socket_;
  pid_t pid_ = -1;
};

// The default policy of the cupsd.conf that CUPS installs, as Debian ships it.
inline std::string StockDefaultPolicy() {
  std::string conf = ReadAll("/usr/share/cups/cupsd.conf.default");
  size_t begin = conf.find("<Policy default>"), end = conf.find("</Policy>\n", begin);
  return begin == std::string::npos || end == std::string::npos ? "" : conf.substr(begin, end + 10 - begin);
}

// The shell words that run a command as another local user (uid, gid and
// groups; no shell of theirs, no password), in place, so that a signal to
// it reaches the command; without a terminal, so that a password prompt
// fails instead of waiting.
inline std::string AsUser(const std::string& user) {
  passwd* pw = getpwnam(user.c_str());
  std::string uid = pw ? std::to_string(pw->pw_uid) : "no-such-user", gid = pw ? std::to_string(pw->pw_gid) : "";
  return "/usr/bin/setsid -w /usr/bin/setpriv --reuid=" + uid + " --regid=" + gid + " --init-groups -- ";
}

// Runs a shell command; its exit status, with stdout and stderr in *output.
inline int RunShell(const std::string& command, std::string* output) {
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  output->clear();
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output->append(buf, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A job's attributes as cupsd answers Get-Job-Attributes (the default
// server: a fixture's cupsd once started), each as ippAttributeString gives it.
inline std::map<std::string, std::string> JobAttributes(int id) {
  std::map<std::string, std::string> out;
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
               ("ipp://localhost/jobs/" + std::to_string(id)).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  for (ipp_attribute_t* a = response ? ippFirstAttribute(response) : nullptr; a; a = ippNextAttribute(response)) {
    if (!ippGetName(a)) continue;
    char value[2048];
    ippAttributeString(a, value, sizeof value);
    out[ippGetName(a)] = value;
  }
  ippDelete(response);
  return out;
}

}  // namespace hosttest
