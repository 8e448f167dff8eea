// R2740XPCService: serves the profile operations over a Unix-domain stream
// socket, one thread per connection. See README.md for start-up modes.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "MibWalk.h"
#include "QVPList.h"
#include "QVmacServiceXPC.h"
#include "XPCWire.h"
#include "system/layout.h"
#include "system/system.h"

namespace {

constexpr int kDefaultIdleSeconds = 60;
// Slots: every user but root holds at most kMaxConnectionsPerUser of the
// kMaxConnections, so one user cannot take them all. A dialog needs one
// at a time; root (administration, tests, many walks at once) is bounded
// by the total only.
constexpr int kMaxConnections = 128;
constexpr int kMaxConnectionsPerUser = 8;
// A whole request must arrive within this many seconds of the service
// waiting for it, however it is cut up; an idle connection is closed then.
constexpr int kDefaultRequestSeconds = 10;
// After SIGTERM, requests that are running get this long to finish.
constexpr auto kStopGrace = std::chrono::seconds(3);
// A reply is a short string; a caller that does not read it is dropped.
constexpr int kSendTimeoutSeconds = 5;

std::atomic<int> gActive{0};
std::atomic<long long> gLastActivity{0};
volatile sig_atomic_t gStop = 0;
// Readable once a stop signal came: wakes every connection waiting for input.
int gStopFd = -1;
int gRequestSeconds = kDefaultRequestSeconds;

std::mutex gSlotsMutex;
std::map<uid_t, int> gSlotsPerUser;

long long NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void OnSignal(int) {
  gStop = 1;
  uint64_t one = 1;
  (void)!::write(gStopFd, &one, sizeof one);
}

void Usage() {
  std::fprintf(stderr,
               "usage: R2740XPCService [--foreground | --on-demand] [--idle-timeout SECONDS]\n"
               "                       [--request-timeout SECONDS] | --version\n"
               "  socket: $R2740_XPC_SOCKET, else %s\n",
               sys::DefaultServiceSocketPath().c_str());
}

// A connection slot for `uid`; null when there is none, else the refusal.
const char* TakeSlot(uid_t uid) {
  std::lock_guard<std::mutex> lock(gSlotsMutex);
  if (gActive >= kMaxConnections) return "ERROR: service busy";
  if (uid != 0 && gSlotsPerUser[uid] >= kMaxConnectionsPerUser) return "ERROR: too many connections of this user";
  ++gSlotsPerUser[uid];
  ++gActive;
  return nullptr;
}

void ReleaseSlot(uid_t uid) {
  std::lock_guard<std::mutex> lock(gSlotsMutex);
  if (--gSlotsPerUser[uid] == 0) gSlotsPerUser.erase(uid);
  --gActive;
}

void Serve(int fd, QVXPCPeer peer) {
  timeval tv{kSendTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  QVmacXPCServiceDelegate delegate;
  if (!delegate.shouldAcceptNewConnection(peer)) {
    xpcwire::WriteAll(fd, xpcwire::ReplyFrame("ERROR: caller not allowed"));
    return;
  }
  QVmacServiceXPC exported(peer);
  xpcwire::Reader reader(fd, gStopFd);
  for (;;) {
    std::string op, payload;
    auto st = reader.readRequest(&op, &payload,
                                 std::chrono::steady_clock::now() + std::chrono::seconds(gRequestSeconds));
    gLastActivity = NowSeconds();
    using Status = xpcwire::Reader::Status;
    const char* refusal = nullptr;
    switch (st) {
      case Status::kOk:
        break;
      case Status::kMalformed:
        refusal = "ERROR: malformed request";
        break;
      case Status::kTooLarge:
        refusal = "ERROR: request too large";
        break;
      case Status::kTimedOut:
        refusal = "ERROR: request not complete in time";
        break;
      default:  // closed, failed, or the service stops
        return;
    }
    if (refusal) {
      xpcwire::WriteAll(fd, xpcwire::ReplyFrame(refusal));
      return;
    }
    std::string reply = exported.perform(op, payload);
    gLastActivity = NowSeconds();
    if (!xpcwire::WriteAll(fd, xpcwire::ReplyFrame(reply))) return;
  }
}

// One thread per connection; the caller is known by its credentials, and
// holds one of its slots while the connection lasts.
void Spawn(int fd) {
  QVXPCPeer peer;
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
    peer.pid = cred.pid;
    peer.uid = cred.uid;
    peer.gid = cred.gid;
  }
  auto refuse = [fd](const char* refusal) {
    // The refusal fits into an empty socket buffer: this never waits.
    std::string frame = xpcwire::ReplyFrame(refusal);
    (void)!::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
  };
  if (const char* refusal = TakeSlot(peer.uid)) return refuse(refusal);
  try {
    std::thread([fd, peer] {
      Serve(fd, peer);
      ::close(fd);
      gLastActivity = NowSeconds();
      ReleaseSlot(peer.uid);
    }).detach();
  } catch (const std::system_error&) {  // no thread to be had
    ReleaseSlot(peer.uid);
    refuse("ERROR: service busy");
  }
}

// What a world-writable folder of an older install may have left is
// removed at start: every entry that is not a file the service may use
// (QVPListRefusal: a regular file of its own with one link). Nothing is
// followed: entries are looked at with fstatat(AT_SYMLINK_NOFOLLOW) and
// removed with unlinkat relative to their folder's descriptor, so a link
// goes and never what it names, and a hard link loses only the folder's
// name. A directory is emptied the same way, entry by entry, within the
// folder's file system and kMaxPlantDepth levels; what cannot be removed
// so stays and is logged.
constexpr int kMaxPlantDepth = 16;
// Bounds the start-up whatever a plant holds.
constexpr long kMaxPlantEntries = 100000;

const char* EntryKind(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a folder";
  return "a file";
}

// The names in the folder `fd` but "." and "..", read before any is
// removed, through a descriptor of their own (`fd` stays open).
std::optional<std::vector<std::string>> NamesIn(int fd) {
  int listing = ::dup(fd);
  DIR* d = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (!d) {
    if (listing >= 0) ::close(listing);
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

// Removes the folder `name` of `dir` and what it holds; false when some of
// it stays.
bool RemovePlantedFolder(int dir, const char* name, dev_t dev, int depth, long* budget) {
  if (depth > kMaxPlantDepth) return false;
  int fd = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  auto names = ::fstat(fd, &st) == 0 && st.st_dev == dev ? NamesIn(fd) : std::nullopt;
  if (!names) {
    ::close(fd);
    return false;
  }
  for (const std::string& n : *names) {
    if (--*budget < 0) break;
    if (::fstatat(fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // What stays in a sub-folder makes this folder's removal fail below.
    if (S_ISDIR(st.st_mode)) (void)RemovePlantedFolder(fd, n.c_str(), dev, depth + 1, budget);
    else ::unlinkat(fd, n.c_str(), 0);
  }
  ::close(fd);
  return ::unlinkat(dir, name, AT_REMOVEDIR) == 0;
}

void RemovePlants(int folder, const std::string& path, dev_t dev) {
  auto names = NamesIn(folder);
  if (!names) return;
  long budget = kMaxPlantEntries;
  for (const std::string& n : *names) {
    struct stat st;
    if (::fstatat(folder, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const char* why = QVPListRefusal(st);
    if (!why) continue;
    bool removed = S_ISDIR(st.st_mode) ? RemovePlantedFolder(folder, n.c_str(), dev, 0, &budget)
                                       : ::unlinkat(folder, n.c_str(), 0) == 0;
    const char* kind = EntryKind(st.st_mode);
    // A planted name must not make lines of its own in the log.
    std::string shown = n;
    for (char& c : shown)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    const std::string line = std::string(removed ? "removed " : "cannot remove ") + kind + " (" + why + ", owner " +
                             std::to_string(st.st_uid) + ") from the profile folder " + path + ": " + shown;
    std::fprintf(stderr, "R2740XPCService: %s\n", line.c_str());
    sys::SystemLog(removed ? LOG_WARNING : LOG_ERR, "R2740XPCService: %s", line.c_str());
  }
}

// The profile folder is written by the service alone; every user's write
// comes through it. An older install left it writable for everybody: the
// folder loses that first, so nobody adds a plant while the rest are
// removed.
void PrepareProfileFolder() {
  std::string folder = sys::ResolvePath(kQVPListProfileFolder);
  if (!sys::MakeDirectories(folder)) return;
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  constexpr mode_t kLoose = S_IWGRP | S_IWOTH | S_ISVTX;
  // A folder of somebody else's is not the service's to clean.
  if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()) {
    if (!(st.st_mode & kLoose) || ::fchmod(fd, st.st_mode & 07777 & ~kLoose) == 0) RemovePlants(fd, folder, st.st_dev);
  }
  ::close(fd);
}

// The socket handed over by the service manager (LISTEN_FDS), or -1.
int ActivatedSocket() {
  const char* pid = std::getenv("LISTEN_PID");
  const char* fds = std::getenv("LISTEN_FDS");
  if (!pid || !fds || std::atol(pid) != static_cast<long>(::getpid()) || std::atoi(fds) < 1) return -1;
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  int fd = 3;
  int type = 0, domain = 0;
  socklen_t len = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_STREAM) return -1;
  len = sizeof domain;
  if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0 || domain != AF_UNIX) return -1;
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

// Binds the socket path ourselves, not yet listening; -1 (with a message)
// when another instance holds it or it cannot be bound.
int BindSocket(const std::string& path, int* lockFd) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    std::fprintf(stderr, "R2740XPCService: socket path too long: %s\n", path.c_str());
    return -1;
  }
  std::string dir = path.substr(0, path.rfind('/'));
  if (!dir.empty() && !sys::MakeDirectories(dir)) {
    std::fprintf(stderr, "R2740XPCService: cannot create %s\n", dir.c_str());
    return -1;
  }
  // One instance per socket: the lock lives as long as the process.
  std::string lock = path + ".lock";
  *lockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (*lockFd < 0) {
    std::fprintf(stderr, "R2740XPCService: cannot open the lock file %s: %s\n", lock.c_str(), std::strerror(errno));
    return -1;
  }
  if (::flock(*lockFd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK)
      std::fprintf(stderr, "R2740XPCService: another instance is running on %s\n", path.c_str());
    else
      std::fprintf(stderr, "R2740XPCService: cannot lock %s: %s\n", lock.c_str(), std::strerror(errno));
    return -1;
  }
  int probe = xpcwire::Connect(path);
  if (probe >= 0) {
    ::close(probe);
    std::fprintf(stderr, "R2740XPCService: another instance answers on %s\n", path.c_str());
    return -1;
  }
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      std::fprintf(stderr, "R2740XPCService: %s exists and is not a socket\n", path.c_str());
      return -1;
    }
    ::unlink(path.c_str());  // left by an instance that died
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::fprintf(stderr, "R2740XPCService: cannot bind %s: %s\n", path.c_str(), std::strerror(errno));
    ::close(fd);
    return -1;
  }
  // Callers are checked by their credentials, not by the socket's mode.
  ::chmod(path.c_str(), 0666);
  return fd;
}

// A number of seconds from a flag or the environment; `fallback` when it is
// absent or not one.
int Seconds(const char* text, int fallback) {
  if (!text || !*text) return fallback;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  return *end == '\0' && v >= 0 && v <= 86400 ? static_cast<int>(v) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  bool onDemand = false, foreground = false;
  int idleSeconds = -1;
  const char* requestSeconds = std::getenv("R2740_XPC_REQUEST_TIMEOUT");
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("R2740XPCService %s\n", sys::Version());
      return 0;
    } else if (std::strcmp(argv[i], "--foreground") == 0) {
      // Under a supervisor other than systemd: serve until SIGTERM, binding
      // the socket ourselves (what no option does too; named for unit files).
      foreground = true;
    } else if (std::strcmp(argv[i], "--on-demand") == 0) {
      onDemand = true;
    } else if (std::strcmp(argv[i], "--idle-timeout") == 0 && i + 1 < argc) {
      idleSeconds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--request-timeout") == 0 && i + 1 < argc) {
      requestSeconds = argv[++i];
    } else {
      Usage();
      return 2;
    }
  }
  if (foreground && onDemand) {
    Usage();
    return 2;
  }
  if (idleSeconds < 0 && onDemand) {
    const char* env = std::getenv("R2740_XPC_IDLE_TIMEOUT");
    idleSeconds = env && *env ? std::atoi(env) : kDefaultIdleSeconds;
  }
  gRequestSeconds = std::max(1, Seconds(requestSeconds, kDefaultRequestSeconds));

  gStopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (gStopFd < 0) {
    std::fprintf(stderr, "R2740XPCService: cannot create the stop event: %s\n", std::strerror(errno));
    return 1;
  }

  // Walk settings are the service's own, fixed for its lifetime.
  WalkSettings walk;
  std::string why;
  if (!WalkSettingsFromEnvironment(&walk, &why)) {
    std::fprintf(stderr, "R2740XPCService: %s\n", why.c_str());
    return 2;
  }
  MibWalkSetup(walk);

  struct sigaction sa {};
  sa.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &sa, nullptr);
  sa.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::umask(022);

  std::string path = xpcwire::SocketPath();
  int lockFd = -1;
  int listenFd = ActivatedSocket();
  bool bound = false;
  if (listenFd < 0) {
    listenFd = BindSocket(path, &lockFd);
    if (listenFd < 0) return 1;
    bound = true;
  }
  PrepareProfileFolder();
  // Connections are taken only once the folder is clean: a caller that can
  // connect meets the folder as every request will.
  if (bound && ::listen(listenFd, 64) != 0) {
    std::fprintf(stderr, "R2740XPCService: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
    ::unlink(path.c_str());
    return 1;
  }

  gLastActivity = NowSeconds();
  while (!gStop) {
    pollfd pfd{listenFd, POLLIN, 0};
    int r = ::poll(&pfd, 1, 500);
    if (r < 0 && errno != EINTR) break;
    if (r > 0 && (pfd.revents & POLLIN)) {
      int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      gLastActivity = NowSeconds();
      Spawn(fd);
      continue;
    }
    if (idleSeconds >= 0 && gActive == 0 && NowSeconds() - gLastActivity >= idleSeconds) break;
  }
  MibWalkStopAll();  // no walk keeps the stop waiting for its deadline
  // Stop taking connections: a helper that comes now starts a new instance
  // (path and lock are free again); connections already queued are served.
  if (bound) {
    ::unlink(path.c_str());
    if (lockFd >= 0) ::close(lockFd);
    ::fcntl(listenFd, F_SETFL, ::fcntl(listenFd, F_GETFL) | O_NONBLOCK);
    for (int fd; (fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      Spawn(fd);
    }
  }
  ::close(listenFd);
  // Every wait for input is bounded by the request deadline and ends at a
  // stop signal; after one, running requests get a short grace.
  std::optional<std::chrono::steady_clock::time_point> giveUp;
  while (gActive > 0) {
    if (gStop && !giveUp) giveUp = std::chrono::steady_clock::now() + kStopGrace;
    if (giveUp && std::chrono::steady_clock::now() >= *giveUp) std::_Exit(0);  // threads still run: no teardown
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}
