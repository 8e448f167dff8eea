// Local users attacking the profile service. The service runs as root, as
// in a real install; the test makes its own unprivileged users (and removes
// them), sends requests as them from child processes, and checks that each
// attack is refused without a thread hanging, that nothing but the caller's
// own files changes, and that other users are still served. Walk answers
// are forged from another loopback address against snmpd and the relay of
// tests/profiles.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../profiles/ProfileTestSupport.h"
#include "QVPList.h"
#include "XPCWire.h"
#include "system/layout.h"
#include "system/system.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

long long Millis(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

const std::string kPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict/>\n</plist>\n";

// A local user for one test, made with useradd and removed afterwards.
class LocalUser {
 public:
  explicit LocalUser(std::string name) : name_(std::move(name)) {
    // Another test process may hold the user database's lock for a moment.
    for (int i = 0; i < 50 && !made_; ++i) {
      made_ = sys::RunTask("/usr/sbin/useradd", {"-M", "-N", "-s", "/usr/sbin/nologin", "--badname", name_})
                  .exitStatus == 0;
      if (!made_) std::this_thread::sleep_for(100ms);
    }
    passwd* pw = made_ ? ::getpwnam(name_.c_str()) : nullptr;
    if (pw) {
      uid_ = pw->pw_uid;
      gid_ = pw->pw_gid;
    }
  }
  ~LocalUser() {
    for (int i = 0; i < 50 && made_; ++i) {
      int st = sys::RunTask("/usr/sbin/userdel", {name_}).exitStatus;
      made_ = st != 0 && st != 6;  // 6: no such user
      if (made_) std::this_thread::sleep_for(100ms);
    }
  }
  LocalUser(const LocalUser&) = delete;
  LocalUser& operator=(const LocalUser&) = delete;
  bool ok() const { return made_ && uid_ != 0; }
  const std::string& name() const { return name_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }

 private:
  std::string name_;
  bool made_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

using Settings = std::vector<std::pair<std::string, std::string>>;

// The service, started by the test as root in a fresh install root whose
// profile folder is root's, mode 0755, as an install lays it out; `settings`
// go into its environment, `before` sees the folder before it starts, and
// its standard error goes to log().
class Service {
 public:
  explicit Service(int requestSeconds, const Settings& settings = {},
                   const std::function<void(const std::string& folder)>& before = {}) {
    char tmpl[] = "/tmp/r2740-attack-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    folder_ = root_ + sys::InstalledPath(kQVPListProfileFolder);
    std::filesystem::create_directories(folder_);
    for (std::filesystem::path p = folder_; p.string().size() >= root_.size(); p = p.parent_path())
      ::chmod(p.c_str(), 0755);
    socket_ = root_ + "/xpc.sock";
    if (before) before(folder_);
    std::string seconds = std::to_string(requestSeconds);
    std::string program = std::string(R2740_BINARY_DIR) + "/bin/R2740XPCService";
    const std::string log = root_ + "/service.log";
    pid_ = ::fork();
    if (pid_ == 0) {
      int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd >= 0) ::dup2(fd, 2);
      for (const auto& [name, value] : settings) ::setenv(name.c_str(), value.c_str(), 1);
      ::setenv("R2740_ROOT", root_.c_str(), 1);
      ::setenv("R2740_XPC_SOCKET", socket_.c_str(), 1);
      ::execl(program.c_str(), "R2740XPCService", "--request-timeout", seconds.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 250 && !up_; ++i) {
      int fd = xpcwire::Connect(socket_);
      up_ = fd >= 0;
      if (up_) ::close(fd);
      else std::this_thread::sleep_for(20ms);
    }
  }
  ~Service() {
    (void)stop(10s);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  // SIGTERM; how long the service took to exit (status 0), or nullopt when
  // it did not within `limit` (it is killed then).
  std::optional<Clock::duration> stop(Clock::duration limit) {
    if (pid_ <= 0) return Clock::duration::zero();
    auto start = Clock::now();
    ::kill(pid_, SIGTERM);
    int st = 0;
    while (::waitpid(pid_, &st, WNOHANG) == 0) {
      if (Clock::now() - start > limit) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &st, 0);
        pid_ = -1;
        return std::nullopt;
      }
      std::this_thread::sleep_for(10ms);
    }
    pid_ = -1;
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) return std::nullopt;
    return Clock::now() - start;
  }
  bool up() const { return up_; }
  const std::string& root() const { return root_; }
  const std::string& folder() const { return folder_; }
  const std::string& socket() const { return socket_; }
  std::string log() const { return sys::ReadFile(root_ + "/service.log").value_or(""); }
  std::string path(const std::string& login, const char* kind = "profile.plist") const {
    return folder_ + "/" + login + "-R2740-" + kind;
  }

 private:
  std::string root_, folder_, socket_;
  pid_t pid_ = -1;
  bool up_ = false;
};

// ---- clients --------------------------------------------------------------

// One request on its own connection, as the helper sends it: the reply, or
// "<none>" when none comes within 10 s.
std::string Request(const std::string& socket, const std::string& op, const std::string& payload) {
  int fd = xpcwire::Connect(socket);
  if (fd < 0) return "<no service>";
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string reply;
  bool ok = xpcwire::Call(fd, op, payload, &reply);
  ::close(fd);
  return ok ? reply : "<none>";
}

// Every file operation the plug-in's commands reach, on one path; one reply
// line each, and the slowest request's time.
struct Replies {
  std::vector<std::string> lines;
  long long slowestMs = 0;
};
Replies EveryOperation(const std::string& socket, const std::string& path, const std::string& ownPrev) {
  const std::string url = "file://" + path;
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"qvPListIsAdminProfile_XPC", path},
      {"qvPListExistProfile_XPC", path},
      {"qvPListSwapProfile_XPC", "2:ARG_iSwapType" + path + ":ARG_cFooCurrentString" + ownPrev + ":ARG_cFooPrevString"},
      {"writeDictionaryToPlistFile_XPC", url + ":AddURL:END" + kPlist},
      {"writeDataToPlistFile_XPC", url + ":AddURL:END" + kPlist},
      {"writeDataToPlistFileRename_XPC", url},
      {"qvPListRemove_XPC", path},
      {"qvPListRemove_XPC", path + ".dummy"},
  };
  Replies out;
  for (const auto& [op, payload] : requests) {
    auto start = Clock::now();
    out.lines.push_back(op + " " + Request(socket, op, payload));
    out.slowestMs = std::max(out.slowestMs, Millis(Clock::now() - start));
  }
  return out;
}

// The lines of requests that were carried out ("TRUE") or hung.
std::vector<std::string> NotRefused(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.find(" TRUE") != std::string::npos || l.find("<none>") != std::string::npos) out.push_back(l);
  return out;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

// A child process running `work` as `user`; it may signal readiness once.
class AsUser {
 public:
  AsUser(const LocalUser& user, const std::function<std::string(int readyFd)>& work) {
    int out[2], ready[2];
    if (::pipe(out) != 0 || ::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(out[0]);
      ::close(ready[0]);
      std::string result = "<cannot become " + user.name() + ">";
      if (::setgroups(0, nullptr) == 0 && ::setgid(user.gid()) == 0 && ::setuid(user.uid()) == 0)
        result = work(ready[1]);
      (void)!::write(out[1], result.data(), result.size());
      _exit(0);
    }
    ::close(out[1]);
    ::close(ready[1]);
    out_ = out[0];
    ready_ = ready[0];
  }
  ~AsUser() { (void)finish(1s); }
  AsUser(const AsUser&) = delete;
  AsUser& operator=(const AsUser&) = delete;

  bool waitReady(Clock::duration limit) {
    pollfd p{ready_, POLLIN, 0};
    char c;
    return ::poll(&p, 1, static_cast<int>(Millis(limit))) == 1 && ::read(ready_, &c, 1) == 1;
  }
  // What `work` answered; "<timeout>" when it took longer than `limit`.
  std::string finish(Clock::duration limit) {
    if (pid_ <= 0) return result_;
    auto until = Clock::now() + limit;
    bool timedOut = false;
    for (char buf[4096];;) {
      pollfd p{out_, POLLIN, 0};
      long long left = Millis(until - Clock::now());
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) != 1) {
        timedOut = true;
        break;
      }
      ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) break;
      result_.append(buf, static_cast<size_t>(n));
    }
    if (timedOut) ::kill(pid_, SIGKILL);
    int st;
    ::waitpid(pid_, &st, 0);
    ::close(out_);
    ::close(ready_);
    pid_ = -1;
    if (timedOut) result_ = "<timeout>";
    return result_;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1, ready_ = -1;
  std::string result_;
};

std::string AsUserNow(const LocalUser& user, const std::function<std::string()>& work) {
  return AsUser(user, [&](int) { return work(); }).finish(60s);
}

// Name, type and mode, size, owner and links of everything in the folder.
std::string Listing(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    std::string name = e.path().filename();
    struct stat st;
    ::lstat(e.path().c_str(), &st);
    entries[name] = std::to_string(st.st_mode) + "/" + std::to_string(st.st_size) + "/" + std::to_string(st.st_uid) +
                    "/" + std::to_string(st.st_nlink);
  }
  std::string out;
  for (const auto& [name, what] : entries) out += name + " " + what + "\n";
  return out;
}

std::string Prefix() { return "r2740atk-" + std::to_string(::getpid()) + "-"; }

class Attack : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: makes local users and runs requests as them";
    if (!sys::IsExecutableFile("/usr/sbin/useradd")) GTEST_SKIP() << "needs useradd to make local users";
  }
};

// ---- names ------------------------------------------------------------------

class AttackNames : public Attack {};

TEST_F(AttackNames, EachLoginNamesExactlyItsOwnFiles) {
  // "ann" begins "anna" and "ann-x" (whose file names begin "ann-"); the
  // last login holds "." and "@".
  LocalUser ann(Prefix() + "ann"), anna(Prefix() + "anna"), annx(Prefix() + "ann-x"), dotted(Prefix() + "j.doe@corp");
  ASSERT_TRUE(ann.ok() && anna.ok() && annx.ok() && dotted.ok()) << "useradd failed";
  Service svc(10);
  ASSERT_TRUE(svc.up());
  const std::string sock = svc.socket();

  // Every real login works through the whole sequence of a save.
  for (const LocalUser* u : {&ann, &anna, &annx, &dotted}) {
    const std::string cur = svc.path(u->name()), url = "file://" + cur;
    std::string got = AsUserNow(*u, [&] {
      return Join({Request(sock, "qvPListIsAdminProfile_XPC", cur),
                   Request(sock, "writeDataToPlistFile_XPC", url + ":AddURL:END" + kPlist),
                   Request(sock, "writeDataToPlistFileRename_XPC", url),
                   Request(sock, "qvPListSwapProfile_XPC", "2:ARG_iSwapType" + cur + ":ARG_cFooCurrentString" +
                                                               svc.path(u->name(), "profile.prev.plist") +
                                                               ":ARG_cFooPrevString"),
                   Request(sock, "qvPListExistProfile_XPC", cur)});
    });
    EXPECT_EQ("TRUE\nTRUE\nTRUE\nTRUE\nTRUE\n", got) << u->name();
    struct stat st;
    ASSERT_EQ(0, ::stat(cur.c_str(), &st)) << u->name();
    EXPECT_EQ(0u, st.st_uid);
    EXPECT_EQ(0644u, st.st_mode & 07777);
    EXPECT_EQ(kPlist, sys::ReadFile(cur).value_or(""));
  }
  struct stat folder;
  ASSERT_EQ(0, ::stat(svc.folder().c_str(), &folder));
  EXPECT_EQ(0755u, folder.st_mode & 07777);

  // ann against anna's and ann-x's files (and anna against ann's), files of
  // a model that does not exist, and a file made by hand: all refused.
  const std::string before = Listing(svc.folder());
  auto attack = [&](const LocalUser& self, const std::string& victim) {
    return AsUserNow(self, [&] {
      std::vector<std::string> lines;
      const std::string prev = svc.path(self.name(), "profile.prev.plist");
      for (const std::string& path :
           {svc.path(victim), svc.path(victim, "profile.prev.plist"), svc.path(victim) + ".dummy",
            svc.folder() + "/" + self.name() + "-R2740x-profile.plist",
            svc.folder() + "/" + self.name() + "-R2740-R2740-profile.plist",
            svc.folder() + "/" + self.name() + "-Other-profile.prev.plist"})
        for (const std::string& l : NotRefused(EveryOperation(sock, path, prev).lines)) lines.push_back(l);
      int fd = ::open((svc.folder() + "/" + self.name() + "-R2740-profile.plist.planted").c_str(),
                      O_WRONLY | O_CREAT | O_EXCL, 0644);
      if (fd >= 0) lines.push_back("created a file in the folder");
      return Join(lines);
    });
  };
  EXPECT_EQ("", attack(ann, anna.name()));
  EXPECT_EQ("", attack(ann, annx.name()));
  EXPECT_EQ("", attack(anna, ann.name()));
  EXPECT_EQ("", attack(dotted, ann.name()));
  EXPECT_EQ(before, Listing(svc.folder()));
}

// ---- planted files ------------------------------------------------------------

class AttackFiles : public Attack {};

TEST_F(AttackFiles, LinksFifosAndDevicesAreRefusedAtOnce) {
  LocalUser eve(Prefix() + "eve"), vic(Prefix() + "vic");
  ASSERT_TRUE(eve.ok() && vic.ok()) << "useradd failed";
  Service svc(10);
  ASSERT_TRUE(svc.up());
  // What a plant could reach: a root-only file outside the folder.
  const std::string secret = svc.root() + "/secret";
  std::ofstream(secret) << "root only";
  ::chmod(secret.c_str(), 0600);

  // The folder is root's: no user can plant anything; what an older,
  // world-writable folder may have left is planted here by root.
  using Plant = std::function<int(const std::string&)>;
  const std::vector<std::pair<std::string, Plant>> plants = {
      {"symlink", [&](const std::string& at) { return ::symlink(secret.c_str(), at.c_str()); }},
      {"fifo", [](const std::string& at) { return ::mkfifo(at.c_str(), 0666); }},
      {"hard link", [&](const std::string& at) { return ::link(secret.c_str(), at.c_str()); }},
      {"device", [](const std::string& at) { return ::mknod(at.c_str(), S_IFCHR | 0666, ::makedev(1, 3)); }},
  };
  for (const auto& [kind, plant] : plants) {
    // At eve's own current name and at the victim's absent ones.
    const std::vector<std::string> at = {svc.path(eve.name()), svc.path(vic.name()),
                                         svc.path(vic.name(), "profile.prev.plist"), svc.path(vic.name()) + ".dummy"};
    for (const auto& p : at) ASSERT_EQ(0, plant(p)) << kind << " at " << p << ": " << std::strerror(errno);
    const std::string before = Listing(svc.folder());

    for (const LocalUser* u : {&eve, &vic}) {
      const std::string prev = svc.path(u->name(), "profile.prev.plist");
      std::string got = AsUserNow(*u, [&] {
        std::vector<std::string> lines;
        long long slowest = 0;
        for (const auto& p : at) {
          Replies r = EveryOperation(svc.socket(), p, prev);
          slowest = std::max(slowest, r.slowestMs);
          for (const auto& l : NotRefused(r.lines)) lines.push_back(l);
        }
        if (slowest > 2000) lines.push_back("a request took " + std::to_string(slowest) + " ms");
        return Join(lines);
      });
      EXPECT_EQ("", got) << kind << " as " << u->name();
    }
    EXPECT_EQ(before, Listing(svc.folder())) << kind;
    EXPECT_EQ("root only", sys::ReadFile(secret).value_or("")) << kind;
    for (const auto& p : at) ::unlink(p.c_str());
  }
  // Each plant was refused on the spot, and everybody is still served.
  EXPECT_EQ("TRUE\n", AsUserNow(vic, [&] {
              return Request(svc.socket(), "writeDictionaryToPlistFile_XPC",
                             "file://" + svc.path(vic.name()) + ":AddURL:END" + kPlist) + "\n";
            }));
}

TEST_F(AttackFiles, SwappingOwnFileWithAFifoHangsNoThreadAndStopStillWorks) {
  LocalUser eve(Prefix() + "eve");
  ASSERT_TRUE(eve.ok()) << "useradd failed";
  Service svc(10);
  ASSERT_TRUE(svc.up());
  const std::string cur = svc.path(eve.name()), prev = svc.path(eve.name(), "profile.prev.plist");
  const std::string url = "file://" + cur;

  // Root swaps eve's file between a regular file and a FIFO (each swap one
  // rename) while eve's requests run.
  pid_t swapper = ::fork();
  if (swapper == 0) {
    const std::string tmp = svc.folder() + "/.swap";
    auto until = Clock::now() + 3s;
    for (int i = 0; i < 20000 && Clock::now() < until; ++i) {
      ::unlink(tmp.c_str());
      if (i % 2) {
        if (::mkfifo(tmp.c_str(), 0666) != 0) _exit(1);
      } else {
        int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0 || ::write(fd, kPlist.data(), kPlist.size()) < 0) _exit(1);
        ::close(fd);
      }
      if (::rename(tmp.c_str(), cur.c_str()) != 0) _exit(1);
    }
    _exit(0);
  }
  std::string got = AsUserNow(eve, [&] {
    long long slowest = 0;
    int n = 0;
    auto until = Clock::now() + 3s;
    for (; n < 2000 && Clock::now() < until; ++n) {
      Replies r = EveryOperation(svc.socket(), cur, prev);
      slowest = std::max(slowest, r.slowestMs);
      for (const auto& l : r.lines)
        if (l.find("<none>") != std::string::npos) return "no reply: " + l;
    }
    return n > 0 && slowest < 2000 ? std::string("ok") : "slowest " + std::to_string(slowest) + " ms";
  });
  int st;
  ::waitpid(swapper, &st, 0);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "the swapper failed";
  EXPECT_EQ("ok", got);
  auto took = svc.stop(5s);
  ASSERT_TRUE(took) << "the service did not end within 5 s of SIGTERM";
}

TEST_F(AttackFiles, KeptAsideFileReachesNoOtherFile) {
  LocalUser eve(Prefix() + "eve"), vic(Prefix() + "vic");
  ASSERT_TRUE(eve.ok() && vic.ok()) << "useradd failed";
  Service svc(10);
  ASSERT_TRUE(svc.up());
  const std::string secret = svc.root() + "/secret";
  std::ofstream(secret) << "root only";
  ::chmod(secret.c_str(), 0600);
  // The smallest file that reads as the three lists.
  std::string lists = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>";
  for (const char* kind : {"RGB", "SIM", "DST"}) {
    lists += std::string("<key>") + kind + "</key><dict>";
    for (const char* field : {"IndexOnDevice", "InMenu", "ProfileClass", "Location", "FileName", "ProfileName"})
      lists += std::string("<key>") + field + "</key><dict/>";
    lists += "</dict>";
  }
  lists += "</dict>\n</plist>\n";
  // Eve's file went bad beside a good backup; her ".bad" name holds a link
  // to a root-only file (what an older, world-writable folder may have
  // left); the victim has a kept file of its own.
  const std::string cur = svc.path(eve.name()), prev = svc.path(eve.name(), "profile.prev.plist");
  std::ofstream(prev) << lists;
  std::ofstream(cur) << "gone bad";
  ASSERT_EQ(0, ::symlink(secret.c_str(), (cur + ".bad").c_str()));
  const std::string vicBad = svc.path(vic.name()) + ".bad";
  std::ofstream(vicBad) << "vic's own";

  std::string got = AsUserNow(eve, [&] {
    std::vector<std::string> lines = {
        Request(svc.socket(), "qvPListSwapProfile_XPC",
                "2:ARG_iSwapType" + cur + ":ARG_cFooCurrentString" + prev + ":ARG_cFooPrevString")};
    for (const std::string& path : {vicBad, svc.path(vic.name(), "profile.prev.plist") + ".bad", cur + ".bad.dummy"})
      for (const char* op : {"qvPListRemove_XPC", "qvPListExistProfile_XPC", "qvPListIsAdminProfile_XPC"})
        lines.push_back(Request(svc.socket(), op, path));
    return Join(lines);
  });
  std::vector<std::string> replies;
  for (size_t at = 0, nl; (nl = got.find('\n', at)) != std::string::npos; at = nl + 1) replies.push_back(got.substr(at, nl - at));
  ASSERT_EQ(10u, replies.size()) << got;
  EXPECT_EQ("TRUE", replies[0]);
  for (size_t i = 1; i < replies.size(); ++i) EXPECT_EQ(0u, replies[i].rfind("ERROR: ", 0)) << replies[i];
  // The link was replaced, never written through; the backup took over.
  EXPECT_EQ("root only", sys::ReadFile(secret).value_or(""));
  struct stat st;
  ASSERT_EQ(0, ::lstat((cur + ".bad").c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ("gone bad", sys::ReadFile(cur + ".bad").value_or(""));
  EXPECT_EQ(lists, sys::ReadFile(cur).value_or(""));
  EXPECT_EQ("vic's own", sys::ReadFile(vicBad).value_or(""));
}

// ---- connections ---------------------------------------------------------------

class AttackConnections : public Attack {};

TEST_F(AttackConnections, SlowConnectionsOfOneUserLeaveOthersServedAndStopStillWorks) {
  LocalUser eve(Prefix() + "eve"), vic(Prefix() + "vic");
  ASSERT_TRUE(eve.ok() && vic.ok()) << "useradd failed";
  Service svc(30);  // far longer than the test: only the per-user limit protects
  ASSERT_TRUE(svc.up());
  constexpr int kSlow = 40;
  AsUser slow(eve, [&](int readyFd) {
    // Each connection sends one byte of a frame at a time.
    std::vector<int> fds;
    for (int i = 0; i < kSlow; ++i) {
      int fd = xpcwire::Connect(svc.socket());
      if (fd < 0) continue;
      // A refused connection may be closed before this byte arrives.
      (void)!::send(fd, "R", 1, MSG_NOSIGNAL);
      fds.push_back(fd);
    }
    std::this_thread::sleep_for(300ms);
    // Refused: answered or closed by the service; held: still waiting.
    int refused = 0;
    for (int fd : fds) {
      char buf[128];
      ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) ++refused;
    }
    (void)!::write(readyFd, "r", 1);
    // Until the service is gone.
    auto until = Clock::now() + 8s;
    for (bool sent = true; sent && Clock::now() < until;) {
      sent = false;
      for (int fd : fds) sent |= ::send(fd, "2", 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
      std::this_thread::sleep_for(200ms);
    }
    return std::to_string(fds.size()) + " " + std::to_string(refused);
  });
  ASSERT_TRUE(slow.waitReady(20s));
  EXPECT_EQ("TRUE\n", AsUserNow(vic, [&] {
              return Request(svc.socket(), "qvPListIsAdminProfile_XPC", svc.path(vic.name())) + "\n";
            }));
  EXPECT_EQ("TRUE", Request(svc.socket(), "qvPListIsAdminProfile_XPC", svc.path("root")));
  auto took = svc.stop(5s);
  EXPECT_TRUE(took) << "the service did not end within 5 s of SIGTERM";
  std::string counts = slow.finish(20s);
  int held = -1, refused = -1;
  ASSERT_EQ(2, std::sscanf(counts.c_str(), "%d %d", &held, &refused)) << counts;
  EXPECT_EQ(kSlow, held);
  EXPECT_GT(refused, 0) << "one user held all " << kSlow << " connections";
}

TEST_F(AttackConnections, RequestTrickledPastTheDeadlineIsDropped) {
  LocalUser eve(Prefix() + "eve");
  ASSERT_TRUE(eve.ok()) << "useradd failed";
  Service svc(2);
  ASSERT_TRUE(svc.up());
  const std::string cur = svc.path(eve.name());
  std::string got = AsUserNow(eve, [&] {
    int fd = xpcwire::Connect(svc.socket());
    if (fd < 0) return std::string("<no service>");
    std::string frame =
        xpcwire::RequestFrame("writeDictionaryToPlistFile_XPC", "file://" + cur + ":AddURL:END" + kPlist);
    auto start = Clock::now();
    std::string reply;
    // One byte every 100 ms: the whole frame would take far longer than 2 s.
    for (size_t i = 0; i < frame.size() && Clock::now() - start < 10s; ++i) {
      if (::send(fd, &frame[i], 1, MSG_NOSIGNAL) != 1) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) == 1) break;
    }
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    bool ok = xpcwire::Reader(fd).readReply(&reply) == xpcwire::Reader::Status::kOk;
    ::close(fd);
    return (ok ? reply : std::string("<none>")) + "|" + std::to_string(Millis(Clock::now() - start));
  });
  size_t bar = got.find('|');
  ASSERT_NE(std::string::npos, bar) << got;
  EXPECT_EQ("ERROR: request not complete in time", got.substr(0, bar));
  long long ms = std::atoll(got.c_str() + bar + 1);
  EXPECT_GE(ms, 1500);  // the deadline, not the first pause, ended it
  EXPECT_LT(ms, 5000);
  EXPECT_FALSE(sys::FileExists(cur));
}

TEST_F(AttackConnections, EachUserHoldsEightConnectionsAndTheNinthIsRefused) {
  LocalUser eve(Prefix() + "eve");
  ASSERT_TRUE(eve.ok()) << "useradd failed";
  Service svc(30);
  ASSERT_TRUE(svc.up());
  std::string got = AsUserNow(eve, [&] {
    // Taken in the order they connect: the service accepts one at a time.
    std::vector<int> fds;
    for (int i = 0; i < 9; ++i) fds.push_back(xpcwire::Connect(svc.socket()));
    timeval tv{5, 0};
    ::setsockopt(fds[8], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    // The ninth asks only once the service has closed it, as a slow caller
    // would: the refusal is still its answer.
    pollfd p{fds[8], POLLRDHUP, 0};
    for (int i = 0; i < 50 && !(p.revents & (POLLRDHUP | POLLHUP)); ++i) (void)::poll(&p, 1, 100);
    std::string ninth;
    if (!xpcwire::Call(fds[8], "qvPListExistProfile_XPC", svc.path(eve.name()), &ninth)) ninth = "<none>";
    std::string held;
    for (int i = 0; i < 8; ++i) {
      char c;
      held += fds[i] >= 0 && ::recv(fds[i], &c, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN ? "h" : "-";
    }
    for (int fd : fds) ::close(fd);
    return held + " " + ninth;
  });
  EXPECT_EQ("hhhhhhhh ERROR: too many connections of this user", got);
}

// ---- callers ---------------------------------------------------------------------

class AttackCallers : public Attack {};

TEST_F(AttackCallers, UidWithoutPasswdEntryActsForNobody) {
  // Rootless containers run under uids that the user database does not know.
  uid_t stranger = 3900000 + static_cast<uid_t>(::getpid() % 10000);
  ASSERT_EQ(nullptr, ::getpwuid(stranger));
  Service svc(10);
  ASSERT_TRUE(svc.up());
  const std::string before = Listing(svc.folder());
  int out[2];
  ASSERT_EQ(0, ::pipe(out));
  pid_t child = ::fork();
  if (child == 0) {
    ::close(out[0]);
    std::string lines = "<cannot become the stranger>";
    if (::setgroups(0, nullptr) == 0 && ::setgid(stranger) == 0 && ::setuid(stranger) == 0) {
      std::vector<std::string> refused;
      // Root's names, a real user's, and every login the uid could be taken for.
      for (const std::string& login : std::vector<std::string>{"root", "daemon", "nobody", std::to_string(stranger), "x"})
        for (const auto& l : NotRefused(EveryOperation(svc.socket(), svc.path(login), svc.path(login, "profile.prev.plist")).lines))
          refused.push_back(login + ": " + l);
      std::string walk = Request(svc.socket(), "mibwalk_XPC",
                                 "R2740:ModelName:ENDdaemon:USErName:ENDsnmpwalk:arg:-Os:arg:-c:arg:public:arg:-v:arg:1:arg:"
                                 "127.0.0.1:arg:1.3.6.1.4.1.47291.1.1.1.1.6.13.1.1:arg:");
      if (walk.rfind("ERROR: ", 0) != 0) refused.push_back("walk: " + walk);
      lines = Join(refused);
    }
    (void)!::write(out[1], lines.data(), lines.size());
    _exit(0);
  }
  ::close(out[1]);
  std::string got;
  for (char buf[4096]; ssize_t n = ::read(out[0], buf, sizeof buf);) {
    if (n < 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  int st;
  ::waitpid(child, &st, 0);
  EXPECT_EQ("", got);
  EXPECT_EQ(before, Listing(svc.folder()));
}

// ---- files planted by an older install ---------------------------------------------

TEST_F(AttackFiles, PlantsOfAnOlderInstallAreRemovedAtStart) {
  LocalUser eve(Prefix() + "eve"), vic(Prefix() + "vic");
  ASSERT_TRUE(eve.ok() && vic.ok()) << "useradd failed";
  // Outside the folder: a root-only file and a folder with a file in it.
  std::string outside;
  const std::string kept = "root-R2740-profile.plist";
  auto plant = [&](const std::string& folder) {
    const std::string root = folder.substr(0, folder.size() - sys::InstalledPath(kQVPListProfileFolder).size());
    outside = root + "/outside";
    std::filesystem::create_directories(outside + "/dir");
    std::ofstream(outside + "/secret") << "root only";
    std::ofstream(outside + "/dir/file") << "keep";
    ::chmod((outside + "/secret").c_str(), 0600);
    // The folder as an older install left it; eve plants at vic's names.
    ::chmod(folder.c_str(), 01777);
    std::ofstream(folder + "/" + kept) << kPlist;
    const std::string vicCur = folder + "/" + vic.name() + "-R2740-profile.plist";
    const std::string vicPrev = folder + "/" + vic.name() + "-R2740-profile.prev.plist";
    std::string made = AsUserNow(eve, [&] {
      bool ok = ::symlink((outside + "/secret").c_str(), vicCur.c_str()) == 0 &&
                ::mkfifo(vicPrev.c_str(), 0666) == 0 && ::symlink((outside + "/dir").c_str(), (vicCur + ".dummy").c_str()) == 0 &&
                ::mkdir((vicPrev + ".dummy").c_str(), 0777) == 0 &&
                ::symlink((outside + "/dir/file").c_str(), (vicPrev + ".dummy/link").c_str()) == 0 &&
                ::mkdir((vicPrev + ".dummy/deeper").c_str(), 0777) == 0;
      std::ofstream(vicPrev + ".dummy/deeper/file") << "eve's";
      std::ofstream(vicCur + ".bad") << "eve's";
      std::ofstream(folder + "/x\nR2740XPCService: forged line") << "eve's";
      return std::string(ok ? "ok" : std::strerror(errno));
    });
    EXPECT_EQ("ok", made);
    // Root-owned oddities: a second name of the outside file and a device.
    EXPECT_EQ(0, ::link((outside + "/secret").c_str(), (folder + "/" + eve.name() + "-R2740-profile.plist").c_str()));
    EXPECT_EQ(0, ::mknod((folder + "/" + eve.name() + "-R2740-profile.prev.plist").c_str(), S_IFCHR | 0666, ::makedev(1, 3)));
  };
  Service svc(10, {}, plant);
  ASSERT_TRUE(svc.up());
  // Once a caller can connect, only root's own file stays and the folder
  // is closed again.
  EXPECT_EQ(kept + "\n", [&] {
    std::string names;
    for (const auto& e : std::filesystem::directory_iterator(svc.folder())) names += e.path().filename().string() + "\n";
    return names;
  }());
  EXPECT_EQ("TRUE", Request(svc.socket(), "qvPListExistProfile_XPC", svc.folder() + "/" + kept));
  struct stat st;
  ASSERT_EQ(0, ::stat(svc.folder().c_str(), &st));
  EXPECT_EQ(0755u, st.st_mode & 07777);
  // Nothing outside was touched, followed or lost a link.
  EXPECT_EQ("root only", sys::ReadFile(outside + "/secret").value_or(""));
  ASSERT_EQ(0, ::stat((outside + "/secret").c_str(), &st));
  EXPECT_EQ(1u, st.st_nlink);
  EXPECT_EQ("keep", sys::ReadFile(outside + "/dir/file").value_or(""));
  // Each removal is logged by name.
  const std::string log = svc.log();
  for (const std::string& name :
       {vic.name() + "-R2740-profile.plist", vic.name() + "-R2740-profile.prev.plist", vic.name() + "-R2740-profile.plist.dummy",
        vic.name() + "-R2740-profile.prev.plist.dummy", vic.name() + "-R2740-profile.plist.bad",
        eve.name() + "-R2740-profile.plist", eve.name() + "-R2740-profile.prev.plist"})
    EXPECT_NE(std::string::npos, log.find(") from the profile folder " + svc.folder() + ": " + name + "\n"))
        << name << " in\n" << log;
  EXPECT_EQ(std::string::npos, log.find("cannot remove")) << log;
  EXPECT_EQ(std::string::npos, log.find("\nR2740XPCService: forged")) << log;
  // vic has its names back.
  EXPECT_EQ("TRUE\n", AsUserNow(vic, [&] {
              return Request(svc.socket(), "writeDictionaryToPlistFile_XPC",
                             "file://" + svc.path(vic.name()) + ":AddURL:END" + kPlist) + "\n";
            }));
}

// ---- printer answers ----------------------------------------------------------------

// Where an SNMPv1 message (RFC 1157) keeps its PDU tag, request id and error
// status; nullopt for anything else.
struct V1Fields {
  size_t pduTag = 0, errorStatus = 0;
  long requestId = 0;
};
std::optional<V1Fields> ParseV1(const std::string& m) {
  size_t at = 0;
  // Steps to the content of the element at `at`; its length in `*len`.
  auto enter = [&](size_t* len) {
    if (at + 2 > m.size()) return false;
    unsigned char first = static_cast<unsigned char>(m[at + 1]);
    at += 2;
    *len = first;
    if (first & 0x80) {
      size_t bytes = first & 0x7f;
      if (bytes == 0 || bytes > 2 || at + bytes > m.size()) return false;
      for (*len = 0; bytes--;) *len = *len << 8 | static_cast<unsigned char>(m[at++]);
    }
    return at + *len <= m.size();
  };
  size_t len = 0;
  V1Fields f;
  if (!enter(&len) || !enter(&len)) return std::nullopt;  // message, version
  at += len;
  if (!enter(&len)) return std::nullopt;  // community
  at += len;
  f.pduTag = at;
  if (!enter(&len) || !enter(&len) || len == 0 || len > 4) return std::nullopt;  // PDU, request id
  for (size_t i = 0; i < len; ++i) f.requestId = f.requestId << 8 | static_cast<unsigned char>(m[at++]);
  if (!enter(&len) || len != 1) return std::nullopt;
  f.errorStatus = at;
  return f;
}

// The plug-in's walk request for `login`'s file.
std::string WalkPayload(const std::string& login, const std::string& community, const std::string& address) {
  std::string p = "R2740:ModelName:END" + login + ":USErName:END";
  for (const std::string& a : {std::string("snmpwalk"), std::string("-Os"), std::string("-c"), community, std::string("-v"),
                               std::string("1"), address, std::string(proftest::kTableRoot)})
    p += a + ":arg:";
  return p;
}

class AttackWalk : public Attack {};

TEST_F(AttackWalk, ForgedAnswersAndErrorsFromAnotherAddressAreIgnored) {
  constexpr int kPort = 16431;
  LocalUser vic(Prefix() + "vic"), ann(Prefix() + "ann");
  ASSERT_TRUE(vic.ok() && ann.ok()) << "useradd failed";
  proftest::Agent real("127.21.1.2", kPort, {{1, 4, "Real", "REAL.ICC", 1}});
  proftest::Agent evil("127.21.1.3", kPort, {{1, 4, "Evil", "EVIL.ICC", 1}, {2, 5, "Evil Two", "EVIL2.ICC", 3}});
  ASSERT_TRUE(real.ready() && evil.ready());
  // The printer answers each request 50 ms late; the attacker, who sees
  // every request (its id and the service's port), answers at once from
  // another local address: the evil agent's answer, or an error.
  proftest::Printer printer("127.21.1.1", kPort, &real, 50ms);
  ASSERT_TRUE(printer.bound());
  int forger = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in self = proftest::Address("127.21.1.4", 0);
  ASSERT_EQ(0, ::bind(forger, reinterpret_cast<sockaddr*>(&self), sizeof self));
  std::mutex mutex;
  std::vector<long> ids;
  bool forgeErrors = false;
  printer.watch([&](const std::string& request, const sockaddr_in& service) {
    auto f = ParseV1(request);
    if (!f) return;
    std::string forged = request;
    {
      std::lock_guard<std::mutex> lock(mutex);
      ids.push_back(f->requestId);
      if (forgeErrors) {
        forged[f->pduTag] = static_cast<char>(0xa2);  // GetResponse
        forged[f->errorStatus] = 5;                   // genErr
      }
    }
    if (forged == request) {
      sockaddr_in to = proftest::Address(evil.host(), evil.port());
      ::sendto(forger, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      pollfd p{forger, POLLIN, 0};
      char buf[65536];
      ssize_t n = ::poll(&p, 1, 1000) == 1 ? ::recv(forger, buf, sizeof buf, 0) : -1;
      if (n <= 0) return;
      forged.assign(buf, static_cast<size_t>(n));
    }
    for (int i = 0; i < 3; ++i)
      ::sendto(forger, forged.data(), forged.size(), 0, reinterpret_cast<const sockaddr*>(&service), sizeof service);
  });
  // Every walk goes to the printer (no success sharing), so each is forged at.
  Service svc(10, {{"R2740_XPC_SNMP_PORT", std::to_string(kPort)},
                   {"R2740_XPC_WALK_TIMEOUT_MS", "1000"},
                   {"R2740_XPC_WALK_SHARE_SECONDS", "0"}});
  ASSERT_TRUE(svc.up());
  auto walk = [&](const LocalUser& u) {
    return AsUserNow(u, [&] { return Request(svc.socket(), "mibwalk_XPC", WalkPayload(u.name(), "public", printer.host())); });
  };
  // Each walk's file lists the printer's profile and nothing of the attacker's.
  auto listed = [&](const LocalUser& u) {
    proftest::Lists lists;
    if (!proftest::ReadLists(svc.path(u.name()), &lists)) return std::string("<unreadable>");
    std::string names;
    for (ProfileList* l : {&lists.rgb(), &lists.sim(), &lists.dst()})
      for (int i = 0; i < l->iNum; ++i) names += std::string(l->entry[i].FileName) + " ";
    return names;
  };

  EXPECT_EQ("iRet=0", walk(vic));
  EXPECT_EQ("REAL.ICC ", listed(vic));
  {
    std::lock_guard<std::mutex> lock(mutex);
    forgeErrors = true;
  }
  EXPECT_EQ("iRet=0", walk(ann));
  EXPECT_EQ("REAL.ICC ", listed(ann));
  // The forged error is not held: the next walk asks the printer again.
  const size_t asked = printer.arrivals().size();
  EXPECT_EQ("iRet=0", walk(vic));
  EXPECT_GT(printer.arrivals().size(), asked);
  printer.watch({});
  ::close(forger);
  // Nobody can tell a request's id from the ids before it.
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_GE(ids.size(), 6u);
  int following = 0;
  for (size_t i = 1; i < ids.size(); ++i) following += ids[i] == ids[i - 1] + 1;
  EXPECT_EQ(0, following) << "of " << ids.size() << " requests";
}

}  // namespace
