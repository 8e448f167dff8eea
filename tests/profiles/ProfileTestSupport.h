// Test peers for the profile integration tests: a temporary install root
// with the service in place, the real helper, and Debian's snmpd serving a
// profile table on loopback.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
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
    for (const auto& name : settings_) ::unsetenv(name.c_str());
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
  // A setting of the service (its environment, read when it starts): set
  // before the first request.
  void Setting(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
    settings_.push_back(name);
  }
  const std::string& root() const { return root_; }
  const std::string& folder() const { return folder_; }
  const std::string& socket() const { return socket_; }
  const std::string& service() const { return service_; }

 private:
  std::string root_, folder_, socket_, service_;
  std::vector<std::string> settings_;
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

// snmpd on <host>:<port> (a loopback address) serving the rows under the
// table root with "override" directives; extra configuration lines are
// appended.
class Agent {
 public:
  Agent(int port, const std::vector<Row>& rows, const std::string& extra = "") : Agent("127.0.0.1", port, rows, extra) {}
  Agent(const std::string& host, int port, const std::vector<Row>& rows, const std::string& extra = "")
      : host_(host), port_(port) {
    char tmpl[] = "/tmp/r2740-snmpd-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    pidFile_ = dir_ + "/snmpd.pid";
    std::ostringstream conf;
    conf << "agentaddress udp:" << host << ":" << port << "\n"
         << "rocommunity public 127.0.0.0/8\n";
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
  std::string address() const { return host_ + ":" + std::to_string(port_); }
  const std::string& host() const { return host_; }
  int port() const { return port_; }
  const std::string& dir() const { return dir_; }
  const std::string& pidFile() const { return pidFile_; }

 private:
  std::string host_;
  int port_;
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string dir_, pidFile_;
};

inline sockaddr_in Address(const std::string& host, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, host.c_str(), &a.sin_addr);
  return a;
}

// A printer's UDP port on <host>:<port>: records when each datagram
// arrives and, given an agent, hands it on after a delay (the first after
// its own) and sends the agent's answer back. One datagram at a time.
class Printer {
 public:
  using Clock = std::chrono::steady_clock;
  using milliseconds = std::chrono::milliseconds;
  Printer(const std::string& host, int port, const Agent* agent = nullptr, milliseconds delay = {},
          milliseconds firstDelay = {})
      : host_(host), agent_(agent), delay_(delay), firstDelay_(firstDelay) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Address(host, port);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    thread_ = std::thread([this] { Serve(); });
  }
  ~Printer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  bool bound() const { return bound_; }
  const std::string& host() const { return host_; }
  std::vector<Clock::time_point> arrivals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
  }
  // Called with each datagram and its sender as it arrives, before it is
  // handed on (an attacker who sees every request).
  using Watcher = std::function<void(const std::string& datagram, const sockaddr_in& from)>;
  void watch(Watcher w) {
    std::lock_guard<std::mutex> lock(mutex_);
    watcher_ = std::move(w);
  }

 private:
  void Serve() {
    int upstream = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    char buf[65536];
    // At most half an hour and ten million datagrams (benchmarks relay long).
    long served = 0;
    for (auto end = Clock::now() + std::chrono::minutes(30); !stop_ && Clock::now() < end && served < 10000000;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) != 1) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      bool first = served++ == 0;
      Watcher watcher;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (arrivals_.size() < 100000) arrivals_.push_back(Clock::now());
        watcher = watcher_;
      }
      if (watcher) watcher(std::string(buf, static_cast<size_t>(n)), from);
      if (!agent_) continue;
      std::this_thread::sleep_for(first ? firstDelay_ : delay_);
      sockaddr_in to = Address(agent_->host(), agent_->port());
      ::sendto(upstream, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      pollfd q{upstream, POLLIN, 0};
      if (::poll(&q, 1, 1000) != 1) continue;
      ssize_t m = ::recv(upstream, buf, sizeof buf, 0);
      if (m > 0) ::sendto(fd_, buf, static_cast<size_t>(m), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
    ::close(upstream);
  }

  std::string host_;
  const Agent* agent_;
  milliseconds delay_, firstDelay_;
  int fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Clock::time_point> arrivals_;
  Watcher watcher_;
  std::thread thread_;
};

// The walk command of the plug-in, aimed at a test agent's host (the
// service's port setting names its port).
inline std::vector<std::string> WalkArgs(const std::string& user, const std::string& agent,
                                         const std::vector<std::string>& extra = {}) {
  std::vector<std::string> a = {"mibwalk_XPC", "R2740", user, "snmpwalk", "-Os", "-c", "public", "-v", "1"};
  a.insert(a.end(), extra.begin(), extra.end());
  a.push_back(agent);
  a.push_back(kTableRoot);
  return a;
}

#if QV_PLIST_SERVICE_BUILD
// The store's own file access: only in programs linked with its service build.
// Reads the three lists of a profile file.
struct Lists {
  std::unique_ptr<ProfileList[]> l = std::make_unique<ProfileList[]>(3);
  ProfileList& rgb() { return l[0]; }
  ProfileList& sim() { return l[1]; }
  ProfileList& dst() { return l[2]; }
};

inline bool ReadLists(const std::string& path, Lists* lists) {
  std::memset(lists->l.get(), 0, 3 * sizeof(ProfileList));
  QV_PLIST_PROFILE_PATH = path.c_str();
  int r = QVPListReadProfile_All(&lists->rgb(), &lists->sim(), &lists->dst());
  QV_PLIST_PROFILE_PATH = nullptr;
  return r == 0;
}

inline bool WriteLists(const std::string& path, Lists* lists) {
  QV_PLIST_PROFILE_PATH = path.c_str();
  int r = QVPListWriteProfile_All(&lists->rgb(), &lists->sim(), &lists->dst());
  QV_PLIST_PROFILE_PATH = nullptr;
  return r == 0;
}
#endif

inline const ProfileEntry* Find(ProfileList& l, const std::string& file) {
  for (int i = 0; i < l.iNum; ++i)
    if (file == l.entry[i].FileName) return &l.entry[i];
  return nullptr;
}

}  // namespace proftest
