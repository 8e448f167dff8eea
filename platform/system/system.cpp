#include "system/system.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "system/layout.h"

extern char** environ;

namespace sys {

// ---- install root -------------------------------------------------------

std::string InstallRoot() {
  const char* env = std::getenv("R2740_ROOT");
  std::string root = env ? env : "";
  if (root.empty()) return "/";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string ResolvePath(const std::string& absolutePath) {
  if (absolutePath.empty() || absolutePath.front() != '/') return absolutePath;
  std::string root = InstallRoot();
  if (root == "/") return InstalledPath(absolutePath);
  // A path already inside the root is not rooted a second time, so that
  // resolved paths may be handed on and resolved again.
  if (absolutePath == root ||
      (absolutePath.compare(0, root.size(), root) == 0 && absolutePath[root.size()] == '/'))
    return absolutePath;
  std::string installed = InstalledPath(absolutePath);
  size_t start = installed.find_first_not_of('/');
  if (start == std::string::npos) return root;
  return root + "/" + installed.substr(start);
}

// ---- users ---------------------------------------------------------------

namespace {

std::string& ActingUser() {
  static std::string user;
  return user;
}

bool LookUpUser(std::string* login, std::string* gecos) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buf(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
  struct passwd pw {};
  struct passwd* result = nullptr;
  const std::string& acting = ActingUser();
  while (true) {
    int rc = acting.empty() ? getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result)
                            : getpwnam_r(acting.c_str(), &pw, buf.data(), buf.size(), &result);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (!acting.empty() && !result) {
      // A job's owner from another machine has no account here: the name is all.
      if (login) *login = acting;
      if (gecos) gecos->clear();
      return true;
    }
    if (rc != 0 || !result) return false;
    break;
  }
  if (login) *login = pw.pw_name ? pw.pw_name : "";
  if (gecos) *gecos = pw.pw_gecos ? pw.pw_gecos : "";
  return true;
}

}  // namespace

bool SetActingUser(const std::string& login) {
  if (login == "." || login == "..") return false;
  for (unsigned char c : login)
    if (c == '/' || c < 0x20 || c == 0x7f) return false;
  ActingUser() = login;
  return true;
}

std::string LoginName() {
  std::string login;
  return LookUpUser(&login, nullptr) ? login : std::string();
}

std::string FullUserName() {
  std::string login, gecos;
  if (!LookUpUser(&login, &gecos)) return {};
  std::string full = gecos.substr(0, gecos.find(','));
  return full.empty() ? login : full;
}

std::string UserPreferencesFolder() {
  if (const char* p = std::getenv("R2740_USER_PREFS"); p && *p) return p;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/r2740";
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) {
    home = h;
  } else {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buf(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    struct passwd pw {};
    struct passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && pw.pw_dir)
      home = pw.pw_dir;
  }
  if (home.empty()) home = "/tmp";
  return home + "/.config/r2740";
}

// ---- system log ----------------------------------------------------------

namespace {
void OpenLogOnce() {
  static std::once_flag once;
  std::call_once(once, [] { openlog("r2740", LOG_PID, LOG_USER); });
}
}  // namespace

void SystemLog(int priority, const char* format, ...) {
  if (!format) return;
  OpenLogOnce();
  va_list args;
  va_start(args, format);
  vsyslog(priority, format, args);
  va_end(args);
}

void NSLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  NSLogv(format, args);
  va_end(args);
}

void NSLogv(const char* format, va_list args) {
  if (!format) return;
  OpenLogOnce();
  vsyslog(LOG_NOTICE, format, args);
}

// ---- files ---------------------------------------------------------------

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // access() answers yes to root for any file with one execute bit; also
  // demand that bit so that root and users agree.
  return (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0 && ::access(path.c_str(), X_OK) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> ReadFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string out;
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  if (IsDirectory(path)) return true;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (part.empty() || part.back() == '/') continue;
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return IsDirectory(path);
}

// ---- task launch ---------------------------------------------------------

namespace {

// Closes every descriptor from 3 up; runs in a forked child, so only
// async-signal-safe calls.
void CloseFrom3(int keep) {
#ifdef SYS_close_range
  if (keep < 0) {
    if (syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
  } else if (keep >= 3) {
    bool ok = keep == 3 || syscall(SYS_close_range, 3u, static_cast<unsigned>(keep - 1), 0u) == 0;
    if (ok && syscall(SYS_close_range, static_cast<unsigned>(keep + 1), ~0u, 0u) == 0) return;
  }
#endif
  long max = sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 65536) max = 65536;
  for (int fd = 3; fd < max; ++fd)
    if (fd != keep) ::close(fd);
}

// The environment for the child: inherited entries, with additions replacing
// entries of the same name.
std::vector<std::string> BuildEnvironment(const std::vector<std::string>& additions) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& a : additions)
      if (a.substr(0, a.find('=')) == name) replaced = true;
    if (!replaced) env.push_back(std::move(entry));
  }
  for (const auto& a : additions) env.push_back(a);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

void WriteErrno(int fd, int err) {
  ssize_t ignored = ::write(fd, &err, sizeof err);
  (void)ignored;
}

// Reads the errno a child sent before its exec failed; 0 when exec succeeded
// (the descriptor closed on exec without data).
int ReadExecErrno(int fd) {
  int err = 0;
  ssize_t n;
  do {
    n = ::read(fd, &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

pid_t WaitPid(pid_t pid, int* status, int flags) {
  pid_t r;
  do {
    r = ::waitpid(pid, status, flags);
  } while (r < 0 && errno == EINTR);
  return r;
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// A fork from inside a forked child of a threaded process: _Fork runs no
// fork handlers, which might wait on locks held by threads that were not
// copied.
pid_t ForkInChild() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  return ::_Fork();
#else
  return ::fork();
#endif
}

std::string CheckLaunchPath(const std::string& path) {
  if (path.empty()) return "no launch path";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "launch path " + path + " does not exist";
  if (!IsExecutableFile(path)) return "launch path " + path + " is not an executable file";
  return {};
}

}  // namespace

Task::~Task() {
  if (outFd_ >= 0) {
    ::close(outFd_);
    outFd_ = -1;
  }
  if (pid_ > 0 && !exited_) {
    int st = 0;
    if (WaitPid(pid_, &st, WNOHANG) == 0) {
      // Nobody waits for this child any more; reap it when it ends so that
      // it never lingers as a zombie. It is not killed.
      pid_t pid = pid_;
      std::thread([pid] {
        int s = 0;
        WaitPid(pid, &s, 0);
      }).detach();
    }
  }
}

bool Task::launch() {
  if (pid_ > 0) {
    error_ = "task already launched";
    return false;
  }
  error_ = CheckLaunchPath(launchPath_);
  if (!error_.empty()) return false;

  std::vector<std::string> argStrings;
  argStrings.push_back(launchPath_);
  for (const auto& a : arguments_) argStrings.push_back(a);
  std::vector<std::string> envStrings = BuildEnvironment(env_);
  std::vector<char*> argv = Pointers(argStrings);
  std::vector<char*> envp = Pointers(envStrings);

  int out[2] = {-1, -1};
  if (capture_ && ::pipe2(out, O_CLOEXEC) != 0) {
    error_ = std::string("cannot create pipe: ") + std::strerror(errno);
    return false;
  }
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    error_ = std::string("cannot create pipe: ") + std::strerror(errno);
    if (capture_) {
      ::close(out[0]);
      ::close(out[1]);
    }
    return false;
  }

  pid_t pid = ::fork();
  if (pid < 0) {
    error_ = std::string("cannot fork: ") + std::strerror(errno);
    if (capture_) {
      ::close(out[0]);
      ::close(out[1]);
    }
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls from here to exec.
    if (capture_) {
      if (::dup2(out[1], STDOUT_FILENO) < 0) {
        WriteErrno(report[1], errno);
        _exit(127);
      }
    }
    int keep = report[1];
    if (keep < 3) {
      // Cannot happen with 0-2 open, but stay safe.
      keep = ::fcntl(report[1], F_DUPFD_CLOEXEC, 3);
    }
    CloseFrom3(keep);
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &sa, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    WriteErrno(keep, errno);
    _exit(127);
  }

  ::close(report[1]);
  if (capture_) ::close(out[1]);
  int execErr = ReadExecErrno(report[0]);
  ::close(report[0]);
  if (execErr != 0) {
    int st = 0;
    WaitPid(pid, &st, 0);
    if (capture_) ::close(out[0]);
    error_ = "cannot start " + launchPath_ + ": " + std::strerror(execErr);
    return false;
  }
  pid_ = pid;
  outFd_ = capture_ ? out[0] : -1;
  return true;
}

// Reads the output into pending_ until the child closes it, or until the
// child has ended and nothing more is ready (a grandchild that kept the pipe
// open must not keep us waiting).
void Task::collectOutput() {
  char buf[65536];
  while (outFd_ >= 0) {
    struct pollfd p {outFd_, POLLIN, 0};
    int pr = ::poll(&p, 1, exited_ ? 0 : 100);
    if (pr < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (pr == 0) {
      if (exited_) break;
      int st = 0;
      pid_t r = WaitPid(pid_, &st, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        status_ = DecodeStatus(st);
      } else if (r < 0) {
        break;
      }
      continue;
    }
    ssize_t n = ::read(outFd_, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    if (n == 0) break;
    pending_.append(buf, static_cast<size_t>(n));
  }
  if (outFd_ >= 0) {
    ::close(outFd_);
    outFd_ = -1;
  }
}

std::string Task::readToEndOfOutput() {
  collectOutput();
  std::string result = std::move(pending_);
  pending_.clear();
  return result;
}

int Task::waitUntilExit() {
  if (pid_ <= 0) return status_;
  // A child blocked on a full pipe would never exit, so the output is kept
  // flowing (and kept for a later readToEndOfOutput).
  collectOutput();
  if (!exited_) {
    int st = 0;
    status_ = WaitPid(pid_, &st, 0) == pid_ ? DecodeStatus(st) : -1;
    exited_ = true;
  }
  return status_;
}

bool Task::isRunning() {
  if (pid_ <= 0 || exited_) return false;
  int st = 0;
  pid_t r = WaitPid(pid_, &st, WNOHANG);
  if (r == pid_) {
    exited_ = true;
    status_ = DecodeStatus(st);
    return false;
  }
  return r == 0;
}

TaskResult RunTask(const std::string& path, const std::vector<std::string>& args,
                   const std::vector<std::string>& envAdditions) {
  TaskResult result;
  Task task;
  task.setLaunchPath(path);
  task.setArguments(args);
  task.setEnvironmentAdditions(envAdditions);
  if (!task.launch()) {
    result.error = task.error();
    return result;
  }
  result.launched = true;
  result.output = task.readToEndOfOutput();
  result.exitStatus = task.waitUntilExit();
  return result;
}

bool LaunchDetached(const std::string& path, const std::vector<std::string>& args) {
  if (!CheckLaunchPath(path).empty()) return false;
  std::vector<std::string> argStrings;
  argStrings.push_back(path);
  for (const auto& a : args) argStrings.push_back(a);
  std::vector<char*> argv = Pointers(argStrings);
  std::vector<std::string> envStrings = BuildEnvironment({});
  std::vector<char*> envp = Pointers(envStrings);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;
  pid_t mid = ::fork();
  if (mid < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (mid == 0) {
    // Intermediate child: new session, then the real program in a grandchild
    // that init adopts, so that nobody has to wait for it.
    ::setsid();
    pid_t pid = ForkInChild();
    if (pid < 0) {
      WriteErrno(report[1], errno);
      _exit(1);
    }
    if (pid > 0) _exit(0);
    // The detached program holds none of our descriptors: a pipe it kept
    // open would make whoever reads our output wait for it.
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, STDIN_FILENO);
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      if (null > STDERR_FILENO) ::close(null);
    }
    int keep = report[1];
    if (keep < 3) keep = ::fcntl(report[1], F_DUPFD_CLOEXEC, 3);
    CloseFrom3(keep);
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    WriteErrno(keep, errno);
    _exit(127);
  }
  ::close(report[1]);
  int st = 0;
  WaitPid(mid, &st, 0);
  // EOF arrives when the grandchild's exec closed the descriptor.
  int execErr = ReadExecErrno(report[0]);
  ::close(report[0]);
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) return false;
  return execErr == 0;
}

}  // namespace sys
