// R2740XPCService: serves the profile operations over a Unix-domain stream
// socket, one thread per connection. See README.md for start-up modes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "QVPList.h"
#include "QVmacServiceXPC.h"
#include "XPCWire.h"
#include "system/layout.h"
#include "system/system.h"

namespace {

constexpr int kDefaultIdleSeconds = 60;
constexpr int kMaxConnections = 64;
// A connection that sends nothing for this long is dropped.
constexpr int kConnectionIdleSeconds = 30;

std::atomic<int> gActive{0};
std::atomic<long long> gLastActivity{0};
volatile sig_atomic_t gStop = 0;

long long NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void OnSignal(int) { gStop = 1; }

void Usage() {
  std::fprintf(stderr,
               "usage: R2740XPCService [--foreground | --on-demand] [--idle-timeout SECONDS] | --version\n"
               "  socket: $R2740_XPC_SOCKET, else %s\n",
               sys::DefaultServiceSocketPath().c_str());
}

void Serve(int fd, QVXPCPeer peer) {
  timeval tv{kConnectionIdleSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  QVmacXPCServiceDelegate delegate;
  if (!delegate.shouldAcceptNewConnection(peer)) {
    xpcwire::WriteAll(fd, xpcwire::ReplyFrame("ERROR: caller not allowed"));
    return;
  }
  QVmacServiceXPC exported(peer);
  xpcwire::Reader reader(fd);
  for (;;) {
    std::string op, payload;
    auto st = reader.readRequest(&op, &payload);
    gLastActivity = NowSeconds();
    if (st == xpcwire::Reader::Status::kEof || st == xpcwire::Reader::Status::kError) return;
    if (st == xpcwire::Reader::Status::kMalformed) {
      xpcwire::WriteAll(fd, xpcwire::ReplyFrame("ERROR: malformed request"));
      return;
    }
    if (st == xpcwire::Reader::Status::kTooLarge) {
      xpcwire::WriteAll(fd, xpcwire::ReplyFrame("ERROR: request too large"));
      return;
    }
    std::string reply = exported.perform(op, payload);
    gLastActivity = NowSeconds();
    if (!xpcwire::WriteAll(fd, xpcwire::ReplyFrame(reply))) return;
  }
}

// One thread per connection; the caller is known by its credentials.
void Spawn(int fd) {
  QVXPCPeer peer;
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
    peer.pid = cred.pid;
    peer.uid = cred.uid;
    peer.gid = cred.gid;
  }
  ++gActive;
  std::thread([fd, peer] {
    Serve(fd, peer);
    ::close(fd);
    gLastActivity = NowSeconds();
    --gActive;
  }).detach();
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

// Binds the socket path ourselves; -1 (with a message) when another instance
// holds it or it cannot be bound.
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
  *lockFd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (*lockFd < 0 || ::flock(*lockFd, LOCK_EX | LOCK_NB) != 0) {
    std::fprintf(stderr, "R2740XPCService: another instance is running on %s\n", path.c_str());
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
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
    std::fprintf(stderr, "R2740XPCService: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
    ::close(fd);
    return -1;
  }
  // Callers are checked by their credentials, not by the socket's mode.
  ::chmod(path.c_str(), 0666);
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  bool onDemand = false, foreground = false;
  int idleSeconds = -1;
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

  struct sigaction sa {};
  sa.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &sa, nullptr);
  sa.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::umask(002);

  std::string path = xpcwire::SocketPath();
  int lockFd = -1;
  int listenFd = ActivatedSocket();
  bool bound = false;
  if (listenFd < 0) {
    listenFd = BindSocket(path, &lockFd);
    if (listenFd < 0) return 1;
    bound = true;
  }
  sys::MakeDirectories(sys::ResolvePath(kQVPListProfileFolder));

  gLastActivity = NowSeconds();
  while (!gStop) {
    pollfd pfd{listenFd, POLLIN, 0};
    int r = ::poll(&pfd, 1, 500);
    if (r < 0 && errno != EINTR) break;
    if (r > 0 && (pfd.revents & POLLIN)) {
      int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      gLastActivity = NowSeconds();
      if (gActive >= kMaxConnections) {
        xpcwire::WriteAll(fd, xpcwire::ReplyFrame("ERROR: service busy"));
        ::close(fd);
        continue;
      }
      Spawn(fd);
      continue;
    }
    if (idleSeconds >= 0 && gActive == 0 && NowSeconds() - gLastActivity >= idleSeconds) break;
  }
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
  while (gActive > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return 0;
}
