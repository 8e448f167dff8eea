#include "system/system.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <gtest/gtest.h>

#include "system/layout.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "system_test.XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string Script(const TempDir& dir, const std::string& name, const std::string& body, bool exec = true) {
  std::string path = dir.file(name);
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  chmod(path.c_str(), exec ? 0755 : 0644);
  return path;
}

class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvGuard() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// No child of this process is left unreaped.
bool NoZombieChildren() {
  int st = 0;
  pid_t r = waitpid(-1, &st, WNOHANG);
  return r == -1 && errno == ECHILD;
}

int OpenFdCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace

TEST(InstallRoot, ResolvesUnderRootWithoutDoublingSlashes) {
  {
    EnvGuard g("R2740_ROOT", nullptr);
    EXPECT_EQ(sys::InstallRoot(), "/");
    EXPECT_EQ(sys::ResolvePath("/Library/Printers"), "/Library/Printers");
  }
  {
    EnvGuard g("R2740_ROOT", "");
    EXPECT_EQ(sys::ResolvePath("/Library/Printers"), "/Library/Printers");
  }
  {
    EnvGuard g("R2740_ROOT", "/tmp/stage/");
    EXPECT_EQ(sys::InstallRoot(), "/tmp/stage");
    EXPECT_EQ(sys::ResolvePath("/Library/Printers/ORVESSA"), "/tmp/stage/Library/Printers/ORVESSA");
    EXPECT_EQ(sys::ResolvePath("//Library/x"), "/tmp/stage/Library/x");
    EXPECT_EQ(sys::ResolvePath("/"), "/tmp/stage");
    EXPECT_EQ(sys::ResolvePath("relative/path"), "relative/path");
    // Resolving twice does not root twice; a sibling name is not "inside".
    EXPECT_EQ(sys::ResolvePath(sys::ResolvePath("/Library/a")), "/tmp/stage/Library/a");
    EXPECT_EQ(sys::ResolvePath("/tmp/stagex/a"), "/tmp/stage/tmp/stagex/a");
  }
}

// The places a Debian install keeps each part, for the default prefix.
TEST(InstallRoot, MapsLogicalFoldersToTheInstalledLayout) {
  if (std::string(R2740_INSTALL_PREFIX) != "/usr") GTEST_SKIP() << "built for prefix " << R2740_INSTALL_PREFIX;
  EnvGuard g("R2740_ROOT", "/tmp/unpacked");
  const std::string pde = sys::ResolvePath("/Library/Printers/ORVESSA/R2740/PDEs/SecurityPanelPDE.plugin");
  EXPECT_TRUE(std::regex_match(pde, std::regex("/tmp/unpacked/usr/lib/([a-z0-9_]+-linux-gnu[a-z0-9_]*/)?r2740/PDEs/"
                                               "SecurityPanelPDE\\.plugin")))
      << pde;
  EXPECT_EQ(sys::ResolvePath("/Library/Application Support/ORVESSA/R2740/Helpers/R2740Helper.app/Contents/MacOS/"
                             "R2740Helper"),
            "/tmp/unpacked/usr/libexec/r2740/R2740Helper");
  EXPECT_EQ(sys::ResolvePath("/Library/Application Support/ORVESSA/R2740/XPCServices/R2740XPCService"),
            "/tmp/unpacked/usr/libexec/r2740/R2740XPCService");
  EXPECT_EQ(sys::ResolvePath("/Library/Printers/ORVESSA/Preferences/jp.orvessa.printers.R2740/u-R2740-profile.plist"),
            "/tmp/unpacked/var/lib/r2740/profiles/u-R2740-profile.plist");
  EXPECT_EQ(sys::ResolvePath("/Library/Printers/ORVESSA/R2740/Icons/fileExistvxR2740.icns"),
            "/tmp/unpacked/usr/share/r2740/icons/fileExistvxR2740.icns");
  // Only whole folder names map; what the package does not install stays.
  EXPECT_EQ(sys::ResolvePath("/Library/Printers/ORVESSA/R2740/PDEsX"), "/tmp/unpacked/Library/Printers/ORVESSA/R2740/PDEsX");
  EXPECT_EQ(sys::ResolvePath("/Applications/Download Manager R2740"), "/tmp/unpacked/Applications/Download Manager R2740");
  // Mapped once: the installed path resolves to itself.
  EXPECT_EQ(sys::ResolvePath(sys::ResolvePath("/Library/Printers/ORVESSA/R2740/PDEs")),
            sys::ResolvePath("/Library/Printers/ORVESSA/R2740/PDEs"));
  // The socket never moves under a root (a long root would overflow it).
  EXPECT_EQ(sys::DefaultServiceSocketPath(), "/run/r2740/R2740XPCService.socket");
}

TEST(Users, LoginAndFullName) {
  EXPECT_FALSE(sys::LoginName().empty());
  EXPECT_FALSE(sys::FullUserName().empty());
  EXPECT_EQ(sys::FullUserName().find(','), std::string::npos);
  EnvGuard g("R2740_USER_PREFS", "/x/prefs");
  EXPECT_EQ(sys::UserPreferencesFolder(), "/x/prefs");
}

// The print server's filter acts for a job's owner, whom cupsd names.
TEST(Users, ActingUserIsAnAccountANameOrRefused) {
  const std::string real = sys::LoginName();
  ASSERT_TRUE(sys::SetActingUser("bin"));  // every Debian system has it, named "bin" in GECOS
  EXPECT_EQ(sys::LoginName(), "bin");
  EXPECT_EQ(sys::FullUserName(), "bin");
  ASSERT_TRUE(sys::SetActingUser("remote-client"));  // no account here: the name is all
  EXPECT_EQ(sys::LoginName(), "remote-client");
  EXPECT_EQ(sys::FullUserName(), "remote-client");
  for (const char* bad : {"../x", "a/b", "..", "x\ny"}) EXPECT_FALSE(sys::SetActingUser(bad)) << bad;
  EXPECT_EQ(sys::LoginName(), "remote-client");
  ASSERT_TRUE(sys::SetActingUser(""));
  EXPECT_EQ(sys::LoginName(), real);
}

TEST(Files, MakeDirectoriesAndRead) {
  TempDir dir;
  EXPECT_TRUE(sys::MakeDirectories(dir.file("a/b/c")));
  EXPECT_TRUE(sys::IsDirectory(dir.file("a/b/c")));
  EXPECT_TRUE(sys::MakeDirectories(dir.file("a/b/c")));
  std::ofstream(dir.file("f")) << "x";
  EXPECT_FALSE(sys::MakeDirectories(dir.file("f/g")));
  EXPECT_EQ(sys::ReadFile(dir.file("f")), "x");
  EXPECT_EQ(sys::ReadFile(dir.file("nope")), std::nullopt);
  EXPECT_EQ(sys::ReadFile(dir.path()), std::nullopt);
  EXPECT_FALSE(sys::IsExecutableFile(dir.file("f")));
  EXPECT_FALSE(sys::IsExecutableFile(dir.path()));
}

TEST(TaskLaunch, FailuresAreReportedNotCrashes) {
  TempDir dir;
  int fds = OpenFdCount();
  auto missing = sys::RunTask(dir.file("no-such-helper"), {"x"});
  EXPECT_FALSE(missing.launched);
  EXPECT_NE(missing.error.find("does not exist"), std::string::npos);

  auto plain = sys::RunTask(Script(dir, "plain", "echo hi", false), {});
  EXPECT_FALSE(plain.launched);
  EXPECT_NE(plain.error.find("not an executable"), std::string::npos);

  EXPECT_FALSE(sys::RunTask(dir.path(), {}).launched);
  EXPECT_FALSE(sys::RunTask("", {}).launched);

  // Executable bit but no valid format: exec fails, reported, child reaped.
  std::string junk = dir.file("junk");
  std::ofstream(junk) << "\x7f" "ELF garbage";
  chmod(junk.c_str(), 0755);
  auto bad = sys::RunTask(junk, {});
  EXPECT_FALSE(bad.launched);
  EXPECT_FALSE(bad.error.empty());

  sys::Task t;
  t.setLaunchPath(dir.file("missing"));
  EXPECT_FALSE(t.launch());
  EXPECT_FALSE(t.error().empty());
  EXPECT_EQ(t.readToEndOfOutput(), "");
  EXPECT_EQ(t.waitUntilExit(), -1);
  EXPECT_FALSE(t.isRunning());

  EXPECT_TRUE(NoZombieChildren());
  EXPECT_EQ(OpenFdCount(), fds);
}

TEST(TaskLaunch, OutputStatusArgumentsAndEnvironment) {
  TempDir dir;
  int fds = OpenFdCount();
  std::string s = Script(dir, "s",
                         "printf '%s|' \"$@\"; echo \"$R2740_X\"; echo err >&2; exit 3");
  auto r = sys::RunTask(s, {"a b", "", "c"}, {"R2740_X=val"});
  ASSERT_TRUE(r.launched) << r.error;
  EXPECT_EQ(r.exitStatus, 3);
  // Only standard output is captured.
  EXPECT_EQ(r.output, "a b||c|val\n");

  auto killed = sys::RunTask(Script(dir, "k", "kill -9 $$"), {});
  ASSERT_TRUE(killed.launched);
  EXPECT_EQ(killed.exitStatus, 128 + 9);

  // The child holds no descriptor of ours beyond 0-2.
  std::string fdlist = Script(dir, "fds", "ls /proc/$$/fd");
  auto fdsOut = sys::RunTask(fdlist, {});
  ASSERT_TRUE(fdsOut.launched);
  for (size_t pos = 0; pos < fdsOut.output.size();) {
    size_t nl = fdsOut.output.find('\n', pos);
    int fd = std::atoi(fdsOut.output.substr(pos, nl - pos).c_str());
    // 10 is the shell's own copy of the script.
    EXPECT_TRUE(fd <= 2 || fd == 10) << fdsOut.output;
    pos = nl == std::string::npos ? fdsOut.output.size() : nl + 1;
  }
  EXPECT_TRUE(NoZombieChildren());
  EXPECT_EQ(OpenFdCount(), fds);
}

TEST(TaskLaunch, LargeOutputDoesNotDeadlock) {
  TempDir dir;
  // 8 MB, far beyond any pipe buffer.
  std::string big = Script(dir, "big", "head -c 8388608 /dev/zero | tr '\\0' 'x'; echo end");
  auto r = sys::RunTask(big, {});
  ASSERT_TRUE(r.launched) << r.error;
  EXPECT_EQ(r.exitStatus, 0);
  ASSERT_EQ(r.output.size(), 8388608u + 4);
  EXPECT_EQ(r.output.substr(r.output.size() - 4), "end\n");

  // Waiting first, reading after: still no deadlock and nothing lost.
  sys::Task t;
  t.setLaunchPath(big);
  ASSERT_TRUE(t.launch());
  EXPECT_EQ(t.waitUntilExit(), 0);
  EXPECT_EQ(t.readToEndOfOutput().size(), 8388608u + 4);
  EXPECT_FALSE(t.isRunning());
  EXPECT_TRUE(NoZombieChildren());
}

TEST(TaskLaunch, GrandchildHoldingStdoutDoesNotHang) {
  TempDir dir;
  // The child leaves a background process that keeps the pipe open.
  std::string s = Script(dir, "bg", "sleep 30 2>/dev/null & echo $!; exit 0");
  auto r = sys::RunTask(s, {});
  ASSERT_TRUE(r.launched);
  EXPECT_EQ(r.exitStatus, 0);
  pid_t bg = std::atoi(r.output.c_str());
  ASSERT_GT(bg, 0) << r.output;
  kill(bg, SIGTERM);
}

TEST(TaskLaunch, DroppedTaskIsReapedAndDetachedLaunchWorks) {
  TempDir dir;
  {
    sys::Task t;
    t.setLaunchPath(Script(dir, "quick", "exit 0"));
    ASSERT_TRUE(t.launch());
  }  // never waited for
  std::string marker = dir.file("marker");
  ASSERT_TRUE(sys::LaunchDetached(Script(dir, "d", "echo ok > \"$1\""), {marker}));
  EXPECT_FALSE(sys::LaunchDetached(dir.file("missing"), {}));
  EXPECT_FALSE(sys::LaunchDetached(Script(dir, "n", "true", false), {}));
  // The detached program is not our child.
  for (int i = 0; i < 500 && !fs::exists(marker); ++i) usleep(10000);
  EXPECT_TRUE(fs::exists(marker));
  for (int i = 0; i < 500 && !NoZombieChildren(); ++i) usleep(10000);
  EXPECT_TRUE(NoZombieChildren());
}
