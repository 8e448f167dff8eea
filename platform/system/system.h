// Process, user, log and install-root services the system relies on.
#pragma once

#include <sys/types.h>

#include <cstdarg>
#include <optional>
#include <string>
#include <vector>

namespace sys {

// ---- install root -------------------------------------------------------
// Every absolute path the system compiles in ("/Library/...",
// "/Applications/...") is mapped to its installed place (layout.h) and that
// is resolved under the directory named by R2740_ROOT, "/" when unset or
// empty: a root holds the installed layout (/usr/..., /var/lib/...), as a
// package unpacked there or `scripts/stage-root` lays it out. Relative paths
// are returned unchanged, and so is a path already inside the root, so that
// resolving twice is harmless.
std::string InstallRoot();
std::string ResolvePath(const std::string& absolutePath);

// ---- users ---------------------------------------------------------------
// The user the panels act for: the real user (getuid()), unless a program
// that runs them for someone else's job (the print server's filter, as
// user lp) names the job's owner here, as cupsd gave it. Process-wide;
// empty gives the real user back. The login names files (the profile
// file's name), so a name that is no file name (a '/', a control byte,
// "." or "..", as a client on another machine may send) is refused:
// false, and the acting user stays as it was.
[[nodiscard]] bool SetActingUser(const std::string& login);
// The acting user's login name; empty if unknown.
std::string LoginName();
// The acting user's full name from the password database's GECOS field
// (first comma-separated part); the login name when the field is empty or
// the user has no account here (a client on another machine).
std::string FullUserName();
// The user's preferences folder: $R2740_USER_PREFS, else
// $XDG_CONFIG_HOME/r2740, else $HOME/.config/r2740.
std::string UserPreferencesFolder();

// ---- system log ----------------------------------------------------------
// syslog(3) with the ident "r2740"; priority as in <syslog.h>.
void SystemLog(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A diagnostic line in the system log (notice priority).
void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void NSLogv(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// ---- files ---------------------------------------------------------------
bool FileExists(const std::string& path);
bool IsExecutableFile(const std::string& path);
bool IsDirectory(const std::string& path);
// Whole file; nullopt when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);
// Creates the directory and its parents (mode 0755); true if it exists after.
[[nodiscard]] bool MakeDirectories(const std::string& path);

// ---- task launch ---------------------------------------------------------
// A child process with its standard output on a pipe; standard input,
// standard error and environment are inherited, no other descriptor is.
// Mirrors the platform's task object.
class Task {
 public:
  Task() = default;
  ~Task();
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;

  void setLaunchPath(std::string path) { launchPath_ = std::move(path); }
  void setArguments(std::vector<std::string> args) { arguments_ = std::move(args); }
  // Extra environment entries ("NAME=value") on top of the inherited ones.
  void setEnvironmentAdditions(std::vector<std::string> env) { env_ = std::move(env); }
  // Standard output goes to a pipe read by readToEndOfOutput (default on).
  void setCaptureOutput(bool on) { capture_ = on; }

  // Starts the child; false (with error()) when the path does not exist, is
  // not executable or cannot be started. Never throws.
  [[nodiscard]] bool launch();
  // Reads the whole standard output until the child closes it (or has exited
  // and a process it left behind still holds the pipe). Safe with any
  // amount of output (the pipe is drained while the child runs).
  std::string readToEndOfOutput();
  // Waits for the child; answers its exit status (128+signal when killed).
  int waitUntilExit();
  bool isRunning();
  pid_t processIdentifier() const { return pid_; }
  int terminationStatus() const { return status_; }
  const std::string& error() const { return error_; }

 private:
  std::string launchPath_;
  std::vector<std::string> arguments_;
  std::vector<std::string> env_;
  bool capture_ = true;
  pid_t pid_ = -1;
  int outFd_ = -1;
  int status_ = -1;
  bool exited_ = false;
  std::string error_;
  // Output read while waiting, handed out by readToEndOfOutput.
  std::string pending_;
  void collectOutput();
};

struct TaskResult {
  bool launched = false;   // false: missing or not executable; see error
  int exitStatus = -1;
  std::string output;      // whole standard output
  std::string error;
};
// Launch, read the whole output, wait. The usual way to run a helper.
TaskResult RunTask(const std::string& path, const std::vector<std::string>& args,
                   const std::vector<std::string>& envAdditions = {});

// Starts a program detached (new session, standard streams on /dev/null, not
// our child, so never a zombie); false when it cannot be started.
[[nodiscard]] bool LaunchDetached(const std::string& path, const std::vector<std::string>& args);

}  // namespace sys
