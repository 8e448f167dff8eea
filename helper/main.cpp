// R2740Helper: relays one command of the colour plug-in to R2740XPCService
// and prints "<command>=<reply>". Starts the service when nobody listens and
// this user may; otherwise says what to do once per login session.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "XPCWire.h"
#include "system/layout.h"
#include "system/system.h"

namespace {

constexpr const char* kServicePath = "/Library/Application Support/ORVESSA/R2740/XPCServices/R2740XPCService";
// How long a started service may take to answer on its socket.
constexpr auto kStartWait = std::chrono::seconds(5);
constexpr auto kRetryInterval = std::chrono::milliseconds(50);
// A reply must come within this time (a walk of an agent that stops
// answering ends after the library's retries, far below it).
constexpr int kReplySeconds = 300;

constexpr int kExitOK = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoService = 3;

void Usage() {
  std::fprintf(stderr,
               "usage: R2740Helper COMMAND ARGUMENTS... | --version\n"
               "  qvPListIsAdminProfile_XPC PATH\n"
               "  qvPListExistProfile_XPC PATH\n"
               "  qvPListRemove_XPC PATH\n"
               "  qvPListSwapProfile_XPC TYPE CURRENT-PATH BACKUP-PATH\n"
               "  writeDataToPlistFile_XPC FILE-URL PIECE\n"
               "  writeDataToPlistFileRename_XPC FILE-URL\n"
               "  writeDictionaryToPlistFile_XPC FILE-URL TEXT\n"
               "  mibwalk_XPC MODEL USER WALK-ARGUMENTS...\n");
}

// The request string of a command: its arguments joined with the
// operation's markers; nullopt for an unknown command or missing arguments.
std::optional<std::string> JoinRequest(const std::string& cmd, const std::vector<std::string>& a) {
  auto need = [&](size_t n) { return a.size() == n; };
  if (cmd == "qvPListIsAdminProfile_XPC" || cmd == "qvPListExistProfile_XPC" || cmd == "qvPListRemove_XPC" ||
      cmd == "writeDataToPlistFileRename_XPC") {
    if (!need(1)) return std::nullopt;
    return a[0];
  }
  if (cmd == "qvPListSwapProfile_XPC") {
    // Absent fields travel as "NULL".
    if (a.size() > 3) return std::nullopt;
    auto field = [&](size_t i) { return i < a.size() && !a[i].empty() ? a[i] : std::string("NULL"); };
    return field(0) + ":ARG_iSwapType" + field(1) + ":ARG_cFooCurrentString" + field(2) + ":ARG_cFooPrevString";
  }
  if (cmd == "writeDataToPlistFile_XPC" || cmd == "writeDictionaryToPlistFile_XPC") {
    if (!need(2)) return std::nullopt;
    return a[0] + ":AddURL:END" + a[1];
  }
  if (cmd == "mibwalk_XPC") {
    if (a.size() < 2) return std::nullopt;
    std::string s = a[0] + ":ModelName:END" + a[1] + ":USErName:END";
    for (size_t i = 2; i < a.size(); ++i) s += a[i] + ":arg:";
    return s;
  }
  return std::nullopt;
}

// The nearest folder of `path` that exists: the service makes the rest.
std::string ExistingFolderOf(const std::string& path) {
  std::string dir = path;
  for (int i = 0; i < 64; ++i) {
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos) return ".";
    dir = slash == 0 ? "/" : dir.substr(0, slash);
    if (::access(dir.c_str(), F_OK) == 0 || dir == "/") return dir;
  }
  return dir;
}

std::string WhatToDo() {
  return "ask the administrator to enable the service's socket unit (systemctl enable --now r2740-xpc.socket) "
         "or to run R2740XPCService --foreground as root under a supervisor; until then the printer's profiles "
         "are not refreshed";
}

// The caller of this run: its parent process (the dialog), by pid and start
// time; empty when /proc does not say.
std::string CallerKey() {
  pid_t parent = ::getppid();
  auto stat = sys::ReadFile("/proc/" + std::to_string(parent) + "/stat");
  if (!stat) return {};
  // Field 22, the start time, counted after the command name's ")".
  size_t at = stat->rfind(')');
  std::string start;
  for (int field = 2; at != std::string::npos && field <= 22; ++field) {
    size_t begin = stat->find_first_not_of(' ', at + 1);
    if (begin == std::string::npos) return {};
    at = stat->find(' ', begin);
    if (field == 22) start = stat->substr(begin, at == std::string::npos ? std::string::npos : at - begin);
  }
  if (start.empty()) return {};
  return std::to_string(parent) + " " + start;
}

// What the user was told about an unreachable service, kept for the login
// session: the first dialog that meets the outage says it in full (what to
// do), later dialogs one short line each (their profiles are not refreshed
// either, and a user who sees only that dialog's output should know why),
// and the helper's later runs for the same dialog nothing. The note names
// the socket; once the service at that socket answers, it is removed, so a
// later outage is told in full again. A session's end removes it with
// $XDG_RUNTIME_DIR.
//
// Trusted because it is opened without following a link and checked on its
// descriptor: a regular file of this user with one link, in
// $XDG_RUNTIME_DIR when that is this user's own 0700 folder, else at
// /tmp/r2740-helper-<uid>.unreachable. Anything else there (another
// user's file, a link, a second name) is never followed, read or written:
// the message is then said in full every time.
class SessionNote {
 public:
  enum class Told { kNever, kThisSession, kThisCaller };

  SessionNote() {
    dir_ = PrivateRuntimeFolder();
    if (dir_ < 0) dir_ = ::open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    openNote(0);
  }
  ~SessionNote() {
    if (fd_ >= 0) ::close(fd_);
    if (dir_ >= 0) ::close(dir_);
  }
  SessionNote(const SessionNote&) = delete;
  SessionNote& operator=(const SessionNote&) = delete;

  Told told(const std::string& socketPath, const std::string& caller) const {
    if (fd_ < 0) return Told::kNever;
    char buf[1024];
    ssize_t n = ::pread(fd_, buf, sizeof buf, 0);
    if (n <= 0) return Told::kNever;
    std::string text(buf, static_cast<size_t>(n));
    if (text.compare(0, socketPath.size() + 1, socketPath + "\n") != 0) return Told::kNever;
    if (!caller.empty() && text == socketPath + "\n" + caller + "\n") return Told::kThisCaller;
    return Told::kThisSession;
  }
  void note(const std::string& socketPath, const std::string& caller) {
    if (fd_ < 0) openNote(O_CREAT);
    if (fd_ < 0) return;
    std::string text = socketPath + "\n" + caller + "\n";
    // A lost note only repeats the message.
    if (::ftruncate(fd_, 0) == 0) (void)!::pwrite(fd_, text.data(), text.size(), 0);
  }
  // The service at socketPath answers: a later outage is news again.
  void forget(const std::string& socketPath) const {
    if (told(socketPath, {}) != Told::kNever) ::unlinkat(dir_, Name().c_str(), 0);
  }

 private:
  static std::string Name() { return "r2740-helper-" + std::to_string(::getuid()) + ".unreachable"; }
  void openNote(int create) {
    if (dir_ < 0) return;
    int fd = ::openat(dir_, Name().c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | create, 0600);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid() && st.st_nlink == 1) {
      fd_ = fd;
      return;
    }
    if (fd >= 0) ::close(fd);
  }
  // $XDG_RUNTIME_DIR when it is this user's own folder, mode 0700; else -1.
  static int PrivateRuntimeFolder() {
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    if (!run || *run != '/') return -1;
    int fd = ::open(run, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 07777) == 0700) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
  }

  int dir_ = -1;
  int fd_ = -1;
};

// After a connection failed with `connectError`: starts the service when
// nobody listens and this user may, and connects to it.
int StartAndConnect(const std::string& socketPath, int connectError, std::string* error) {
  if (connectError != ENOENT && connectError != ECONNREFUSED) {
    *error = "cannot reach the profile service at " + socketPath + " (" + std::strerror(connectError) + "); " +
             WhatToDo();
    return -1;
  }
  // A service started here runs as this user and must make its socket;
  // where this user may not write, starting it could only time out.
  std::string folder = ExistingFolderOf(socketPath);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    *error = "the profile service is not running, and user " + sys::LoginName() + " cannot start it (" + folder +
             " is not writable for this user); " + WhatToDo();
    return -1;
  }
  std::string service = sys::ResolvePath(kServicePath);
  if (!sys::IsExecutableFile(service)) {
    *error = "the profile service is not running and not installed at " + service;
    return -1;
  }
  // A second helper may start it at the same moment; the service lets only
  // one instance run, and both of us connect to that one.
  if (!sys::LaunchDetached(service, {"--on-demand"})) {
    *error = "cannot start the profile service " + service;
    return -1;
  }
  auto deadline = std::chrono::steady_clock::now() + kStartWait;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kRetryInterval);
    int fd = xpcwire::Connect(socketPath);
    if (fd >= 0) return fd;
  }
  *error = "the profile service was started but did not answer on " + socketPath + " within 5 seconds";
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage();
    return kExitUsage;
  }
  std::string cmd = argv[1];
  if (cmd == "--version") {
    std::printf("R2740Helper %s\n", sys::Version());
    return kExitOK;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  auto request = JoinRequest(cmd, args);
  if (!request) {
    std::fprintf(stderr, "R2740Helper: unknown command or wrong arguments: %s\n", cmd.c_str());
    Usage();
    return kExitUsage;
  }
  if (request->size() > xpcwire::kMaxRequestBytes) {
    std::fprintf(stderr, "R2740Helper: request too large\n");
    return kExitUsage;
  }

  std::string socketPath = xpcwire::SocketPath();
  int fd = xpcwire::Connect(socketPath);
  if (fd < 0) {
    const int connectError = errno;
    const std::string caller = CallerKey();
    SessionNote note;
    const SessionNote::Told told = note.told(socketPath, caller);
    if (told == SessionNote::Told::kThisCaller) return kExitNoService;
    std::string error;
    fd = StartAndConnect(socketPath, connectError, &error);
    if (fd < 0) {
      if (told == SessionNote::Told::kThisSession)
        error = "the profile service at " + socketPath +
                " is still not reachable; the printer's profiles are not refreshed (what to do was said at the "
                "first dialog that met this)";
      std::fprintf(stderr, "R2740Helper: %s\n", error.c_str());
      note.note(socketPath, caller);
      return kExitNoService;
    }
  }
  SessionNote().forget(socketPath);
  timeval tv{kReplySeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  std::string reply;
  bool ok = xpcwire::Call(fd, cmd, *request, &reply);
  ::close(fd);
  if (!ok) {
    std::fprintf(stderr, "R2740Helper: no reply from the service\n");
    return kExitNoService;
  }
  std::printf("%s=%s\n", cmd.c_str(), reply.c_str());
  std::fflush(stdout);
  return reply.compare(0, 6, "ERROR:") == 0 ? kExitRefused : kExitOK;
}
