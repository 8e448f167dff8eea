// Test peers for the profile integration tests: a temporary install root
// with the service in place, the real helper, and Debian's snmpd serving a
// profile table on loopback.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "QVPList.h"
#include "XPCWire.h"
#include "cf/plist.h"
#include "system/system.h"

namespace proftest {

inline constexpr const char* kTableRoot = "1.3.6.1.4.1.47291.1.1.1.1.6.13.1.1";
inline std::string HelperProgram() { return std::string(R2740_BINARY_DIR) + "/bin/R2740Helper"; }
inline std::string ServiceProgram() { return std::string(R2740_BINARY_DIR) + "/bin/R2740XPCService"; }

// Runs a program and answers its standard output.
inline sys::TaskResult Run(const std::string& program, const std::vector<std::string>& args) {
  return sys::RunTask(program, args);
}

// A temporary install root holding the service at its install path, the
// profile folder and a private socket. The service is started on demand by
// the helper and stopped at the end.
class ServiceRoot {
 public:
  explicit ServiceRoot(bool installService = true) {
    char tmpl[] = "/tmp/r2740-prof-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    ::setenv("R2740_ROOT", root_.c_str(), 1);
    folder_ = sys::ResolvePath(kQVPListProfileFolder);
    std::filesystem::create_directories(folder_);
    socket_ = root_ + "/xpc.sock";
    service_ = sys::ResolvePath("/Library/Application Support/ORVESSA/R2740/XPCServices/R2740XPCService");
    std::filesystem::create_directories(std::filesystem::path(service_).parent_path());
    if (installService) std::filesystem::copy_file(ServiceProgram(), service_);
    ::setenv("R2740_XPC_SOCKET", socket_.c_str(), 1);
    ::setenv("R2740_XPC_IDLE_TIMEOUT", "30", 1);
  }
  ~ServiceRoot() {
    StopService();
    ::unsetenv("R2740_ROOT");
    ::unsetenv("R2740_XPC_SOCKET");
    ::unsetenv("R2740_XPC_IDLE_TIMEOUT");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  // The running service's process, found through the socket's peer.
  pid_t ServicePid() const {
    int fd = xpcwire::Connect(socket_);
    if (fd < 0) return -1;
    ucred cred{};
    socklen_t len = sizeof cred;
    pid_t pid = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 ? cred.pid : -1;
    ::close(fd);
    return pid;
  }
  void StopService() {
    pid_t pid = ServicePid();
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  // One helper run: "<command>=<reply>" lines on its output.
  sys::TaskResult Helper(const std::vector<std::string>& args) const { return Run(HelperProgram(), args); }
  std::string Reply(const std::vector<std::string>& args) const {
    std::string out = Helper(args).output;
    std::string prefix = args[0] + "=";
    if (out.rfind(prefix, 0) != 0) return "<no reply: " + out + ">";
    out.erase(0, prefix.size());
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  // One raw request frame; answers the reply or "<none>".
  std::string Raw(const std::string& bytes) const {
    int fd = xpcwire::Connect(socket_);
    if (fd < 0) return "<no service>";
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string reply;
    bool sent = xpcwire::WriteAll(fd, bytes);
    ::shutdown(fd, SHUT_WR);  // nothing more comes: a partial frame ends here
    bool ok = sent && xpcwire::Reader(fd).readReply(&reply) == xpcwire::Reader::Status::kOk;
    ::close(fd);
    return ok ? reply : "<none>";
  }
  std::string ProfilePath(const std::string& user, const std::string& model = "R2740") const {
    return folder_ + "/" + user + "-" + model + "-profile.plist";
  }
  std::string PrevPath(const std::string& user, const std::string& model = "R2740") const {
    return folder_ + "/" + user + "-" + model + "-profile.prev.plist";
  }
  const std::string& root() const { return root_; }
  const std::string& folder() const { return folder_; }
  const std::string& socket() const { return socket_; }
  const std::string& service() const { return service_; }

 private:
  std::string root_, folder_, socket_, service_;
};

// One row of the device's profile table.
struct Row {
  int row;
  int location;
  std::string profileName;
  std::string fileName;
  int profileClass;
  int availability = 1;
};

// snmpd on 127.0.0.1:<port> serving the rows under the table root with
// "override" directives; extra configuration lines are appended.
class Agent {
 public:
  Agent(int port, const std::vector<Row>& rows, const std::string& extra = "") : port_(port) {
    char tmpl[] = "/tmp/r2740-snmpd-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    pidFile_ = dir_ + "/snmpd.pid";
    std::ostringstream conf;
    conf << "agentaddress udp:127.0.0.1:" << port << "\n"
         << "rocommunity public 127.0.0.1\n";
    for (const Row& r : rows) {
      std::string cell = std::string(".") + kTableRoot + ".";
      std::string idx = ".1." + std::to_string(r.row);
      conf << "override " << cell << "1" << idx << " integer " << r.row << "\n"
           << "override " << cell << "2" << idx << " integer " << r.location << "\n"
           << "override " << cell << "3" << idx << " octet_str \"" << r.profileName << "\"\n"
           << "override " << cell << "4" << idx << " octet_str \"" << r.fileName << "\"\n"
           << "override " << cell << "5" << idx << " integer " << r.profileClass << "\n"
           << "override " << cell << "7" << idx << " integer " << r.availability << "\n";
    }
    conf << extra;
    std::ofstream(dir_ + "/snmpd.conf") << conf.str();
    pid_ = ::fork();
    if (pid_ == 0) {
      int log = ::open((dir_ + "/snmpd.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(log, 1);
      ::dup2(log, 2);
      ::setenv("SNMP_PERSISTENT_DIR", dir_.c_str(), 1);
      ::setenv("MIBS", "", 1);
      std::string confPath = dir_ + "/snmpd.conf";
      ::execl("/usr/sbin/snmpd", "snmpd", "-f", "-Lo", "-C", "-c", confPath.c_str(), "-p", pidFile_.c_str(),
              static_cast<char*>(nullptr));
      _exit(127);
    }
    // Ready when a walk of the table answers.
    for (int i = 0; i < 100 && !ready_; ++i) {
      auto r = Run("/usr/bin/snmpget", {"-v", "1", "-c", "public", "-t", "0.2", "-r", "0", "-On", address(),
                                        std::string(kTableRoot) + ".1.1.1"});
      ready_ = r.exitStatus == 0 && r.output.find(kTableRoot) != std::string::npos;
      if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Agent() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int st;
      ::waitpid(pid_, &st, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  bool ready() const { return ready_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::string& dir() const { return dir_; }
  const std::string& pidFile() const { return pidFile_; }

 private:
  int port_;
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string dir_, pidFile_;
};

// The walk command of the plug-in, aimed at a test agent.
inline std::vector<std::string> WalkArgs(const std::string& user, const std::string& agent,
                                         const std::vector<std::string>& extra = {}) {
  std::vector<std::string> a = {"mibwalk_XPC", "R2740", user, "snmpwalk", "-Os", "-c", "public", "-v", "1"};
  a.insert(a.end(), extra.begin(), extra.end());
  a.push_back(agent);
  a.push_back(kTableRoot);
  return a;
}

// Reads the three lists of a profile file.
struct Lists {
  std::unique_ptr<ProfileList[]> l = std::make_unique<ProfileList[]>(3);
  ProfileList& rgb() { return l[0]; }
  ProfileList& sim() { return l[1]; }
  ProfileList& dst() { return l[2]; }
};

}  // namespace proftest
