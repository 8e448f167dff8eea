// Faults met by the plug-in side and the host: the helper missing or not
// executable, no cupsd, PPDs that do not open. (The command line without a
// cupsd is covered by Cli.CupsQueueWithoutServer.)
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "QVPList.h"
#include "host.h"
#include "system/system.h"

namespace {

std::string PPDPath() { return std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd"; }

class TempRoot {
 public:
  TempRoot() {
    char tmpl[] = "/tmp/r2740-faults-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    ::setenv("R2740_ROOT", root_.c_str(), 1);
    ::setenv("R2740_LANG", "en", 1);
    std::filesystem::create_directories(sys::ResolvePath(kQVPListProfileFolder));
  }
  ~TempRoot() {
    ::unsetenv("R2740_ROOT");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(root_ + "/" + name) << text;
    return root_ + "/" + name;
  }
  const std::string& path() const { return root_; }

 private:
  std::string root_;
};

TEST(HostFaults, WithoutAWorkingHelperWritesFailAndThePanelOpensWithoutProfiles) {
  TempRoot root;
  auto lists = std::make_unique<ProfileList[]>(3);
  std::memset(lists.get(), 0, 3 * sizeof(ProfileList));
  lists[0].iNum = 1;
  lists[0].entry[0] = {1, kProfileStateFoundShown, 1, "RGB1.ICC", "Rgb One", kProfileLocationDisk, 1};
  const std::string cur = QVPListCurrentPath();
  ASSERT_FALSE(cur.empty());
  const std::string helper = QVPListHelperPath();

  host::PlugInRef plugin;
  for (const std::string state : {"missing", "not executable", "a folder"}) {
    if (state == "not executable") {
      std::filesystem::create_directories(std::filesystem::path(helper).parent_path());
      std::ofstream(helper) << "#!/bin/sh\necho \"$1=TRUE\"\n";
      ::chmod(helper.c_str(), 0644);
    } else if (state == "a folder") {
      std::filesystem::remove(helper);
      std::filesystem::create_directory(helper);
    }
    std::ofstream(cur) << "old";
    EXPECT_EQ(-1, QVPListWriteProfile_All(&lists[0], &lists[1], &lists[2])) << state;
    EXPECT_EQ(0, QVPListIsAdminProfile()) << state;
    EXPECT_EQ("old", *sys::ReadFile(cur)) << state;
    std::filesystem::remove(cur);

    // The colour panel opens on a network queue; no profile menu item.
    std::string error;
    if (!plugin) plugin = host::LoadPlugIn(std::string(R2740_BUNDLE_DIR) + "/ColorOptionsPDE_R2740.plugin", &error);
    ASSERT_TRUE(plugin) << error;
    auto ppd = host::PPDFile::open(PPDPath(), &error);
    ASSERT_TRUE(ppd) << error;
    ppd_option_t* rgb = ppdFindOption(ppd->get(), "QVImageRGBSource");
    ASSERT_TRUE(rgb);
    int choices = rgb->num_choices;
    auto cb = std::make_shared<host::HostCallback>(
        host::ManualQueue(PPDPath(), "R2740_Queue_1", "lpd://127.0.0.1:16999/queue"), std::move(ppd));
    host::DialogSession session(cb, {plugin});
    ASSERT_TRUE(session.open(&error)) << state << ": " << error;
    auto& panel = *session.panels().at(0).panel;
    std::shared_ptr<ui::PopUpButton> menu;
    std::shared_ptr<ui::Button> manage;
    for (const auto& v : panel.allViews()) {
      if (!menu) menu = std::dynamic_pointer_cast<ui::PopUpButton>(v->findByIdentifier("QVImageRGBSource"));
      if (!manage) manage = std::dynamic_pointer_cast<ui::Button>(v->findByIdentifier("button_ManageProfile"));
    }
    ASSERT_TRUE(menu) << state;
    EXPECT_EQ(choices, menu->numberOfItems()) << state;
    if (manage) {
      EXPECT_FALSE(manage->isEnabled()) << state;
    }
    EXPECT_TRUE(session.print(&error)) << state << ": " << error;
  }
  std::filesystem::remove_all(helper);
}

// A user who is not root, on a machine without the service's socket unit:
// the helper cannot start the service where its socket goes. It says so and
// what to do, at once, and only once for the process that runs it.
TEST(HostFaults, HelperThatCannotStartTheServiceSaysSoOnce) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the helper as another user";
  const uid_t kNobody = 65534;
  TempRoot root;
  ::chmod(root.path().c_str(), 0755);
  const std::string sockets = root.path() + "/run", notes = root.path() + "/notes";
  std::filesystem::create_directories(sockets);
  std::filesystem::create_directories(notes);
  ASSERT_EQ(::chown(notes.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chmod(notes.c_str(), 0700), 0);
  std::string out = root.path() + "/out", err = root.path() + "/err";

  pid_t pid = ::fork();
  if (pid == 0) {
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::setenv("R2740_XPC_SOCKET", (sockets + "/xpc.socket").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", notes.c_str(), 1);
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) _exit(126);
    std::string twice = std::string("for i in 1 2; do '") + R2740_HELPER + "' qvPListExistProfile_XPC '" +
                        QVPListCurrentPath() + "'; echo \"exit $?\"; done";
    ::execl("/bin/sh", "sh", "-c", twice.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(*sys::ReadFile(out), "exit 3\nexit 3\n");
  std::string said = *sys::ReadFile(err);
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("R2740Helper: the profile service is not running, and user nobody cannot start it (" + sockets +
                      " is not writable for this user)"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("systemctl enable --now r2740-xpc.socket"), std::string::npos) << said;
  EXPECT_FALSE(std::filesystem::exists(sockets + "/xpc.socket.lock"));  // nothing was started
}

// Dialogs that meet a service nobody can reach, each running the helper
// twice as a dialog does while it opens (the helper's parent is the dialog):
// standard output, and standard error's lines.
struct Dialogs {
  std::string out;
  std::vector<std::string> said;
};
Dialogs RunDialogs(const TempRoot& root, const std::string& env, int dialogs, int runsEach) {
  std::string one;
  for (int i = 0; i < runsEach; ++i) one += "\"$H\" qvPListExistProfile_XPC /p; echo \"exit $?\"\n";
  std::string script = root.write("dialog.sh", one), out = root.path() + "/out", err = root.path() + "/err";
  std::string command = "H='" + std::string(R2740_HELPER) + "'; export H; : >'" + err + "'; for i in $(seq " +
                        std::to_string(dialogs) + "); do env " + env + " sh '" + script + "'; done >'" + out +
                        "' 2>>'" + err + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  Dialogs d{sys::ReadFile(out).value_or(""), {}};
  std::string text = sys::ReadFile(err).value_or(""), line;
  for (char c : text) {
    if (c != '\n') line += c;
    else d.said.push_back(std::exchange(line, {}));
  }
  return d;
}

// The note about an unreachable service comes once per login session in
// full, then one short line per dialog; once the service answers, a later
// outage is news again.
TEST(HostFaults, HelperTellsAnUnreachableServiceOncePerLoginSession) {
  TempRoot root;
  const std::string run = root.path() + "/run", socket = root.path() + "/svc/xpc.socket";
  std::filesystem::create_directories(run);
  ASSERT_EQ(::chmod(run.c_str(), 0700), 0);
  root.write("svc", "");  // a file where the socket's folder goes: no service, and none can start
  const std::string env = "XDG_RUNTIME_DIR='" + run + "' R2740_XPC_SOCKET='" + socket + "'";

  Dialogs d = RunDialogs(root, env, 3, 2);
  EXPECT_EQ(d.out, "exit 3\nexit 3\nexit 3\nexit 3\nexit 3\nexit 3\n");
  ASSERT_EQ(d.said.size(), 3u) << ::testing::PrintToString(d.said);
  EXPECT_EQ(d.said[0].rfind("R2740Helper: cannot reach the profile service at " + socket + " (Not a directory); ", 0),
            0u)
      << d.said[0];
  EXPECT_NE(d.said[0].find("systemctl enable --now r2740-xpc.socket"), std::string::npos) << d.said[0];
  const std::string again = "R2740Helper: the profile service at " + socket +
                            " is still not reachable; the printer's profiles are not refreshed (what to do was said "
                            "at the first dialog that met this)";
  EXPECT_EQ(d.said[1], again);
  EXPECT_EQ(d.said[2], again);

  // The service answers (here: takes the connection, then hangs up).
  std::filesystem::remove(root.path() + "/svc");
  std::filesystem::create_directories(root.path() + "/svc");
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socket.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << std::strerror(errno);
  ASSERT_EQ(::listen(listener, 1), 0);
  std::thread service([listener] { ::close(::accept(listener, nullptr, nullptr)); });
  d = RunDialogs(root, env, 1, 1);
  service.join();
  ::close(listener);
  std::filesystem::remove(socket);
  EXPECT_EQ(d.said, std::vector<std::string>{"R2740Helper: no reply from the service"});

  // Gone again: told in full (here, that it is not installed).
  d = RunDialogs(root, env, 1, 2);
  ASSERT_EQ(d.said.size(), 1u) << ::testing::PrintToString(d.said);
  EXPECT_EQ(d.said[0].rfind("R2740Helper: the profile service is not running and not installed at ", 0), 0u)
      << d.said[0];
}

// Without a private XDG_RUNTIME_DIR (here one other users may read) the
// note lives in /tmp, where a link at its name is never followed: the
// message is said in full every time and the link's target never made.
TEST(HostFaults, HelperNeverFollowsALinkAtItsNoteInTmp) {
  TempRoot root;
  const std::string run = root.path() + "/run", socket = root.path() + "/svc/xpc.socket";
  std::filesystem::create_directories(run);
  ASSERT_EQ(::chmod(run.c_str(), 0755), 0);
  root.write("svc", "");
  const std::string name = "/tmp/r2740-helper-" + std::to_string(::getuid()) + ".unreachable",
                    target = root.path() + "/target";
  std::filesystem::remove(name);  // this user's note of earlier runs
  std::filesystem::create_symlink(target, name);

  Dialogs d = RunDialogs(root, "XDG_RUNTIME_DIR='" + run + "' R2740_XPC_SOCKET='" + socket + "'", 2, 1);
  EXPECT_EQ(d.said.size(), 2u) << ::testing::PrintToString(d.said);
  for (const auto& line : d.said) EXPECT_NE(line.find("systemctl enable"), std::string::npos) << line;
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(std::filesystem::is_symlink(name));
  EXPECT_FALSE(std::filesystem::exists(run + "/r2740-helper-" + std::to_string(::getuid()) + ".unreachable"));
  std::filesystem::remove(name);
}

TEST(HostFaults, NoCupsdAnswersWithAReason) {
  TempRoot root;
  // A socket path where nobody listens.
  cupsSetServer((root.path() + "/cupsd.sock").c_str());
  std::string error;
  EXPECT_TRUE(host::CupsQueues(&error).empty());
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(std::string::npos, error.find('\n')) << error;
  error.clear();
  EXPECT_FALSE(host::CupsQueue("R2740", &error).has_value());
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(std::string::npos, error.find('\n')) << error;
  cupsSetServer(nullptr);
}

TEST(HostFaults, PPDsThatDoNotOpen) {
  TempRoot root;
  std::string whole = *sys::ReadFile(PPDPath());
  std::string folder = root.path() + "/folder.ppd";
  std::filesystem::create_directory(folder);
  const std::vector<std::string> bad = {
      root.write("truncated.ppd", whole.substr(0, whole.size() / 3)),
      root.write("empty.ppd", ""),
      root.write("binary.ppd", std::string("\x00\x01\xff*PPD-Adobe", 13)),
      folder,
  };
  for (const auto& path : bad) {
    std::string error;
    auto ppd = host::PPDFile::open(path, &error);
    if (ppd) {
      // libcups may take a cut file; then the dialog must still work on it.
      auto cb = std::make_shared<host::HostCallback>(host::ManualQueue(path, "Q", ""), std::move(ppd));
      host::DialogSession session(cb, {});
      EXPECT_FALSE(session.open(&error)) << path;  // no plug-ins, no panel
      continue;
    }
    EXPECT_FALSE(error.empty()) << path;
    // The session on a queue whose PPD did not open: the panels decline or
    // open; nothing crashes and printing either works or says why.
    std::string loadError;
    auto color = host::LoadPlugIn(std::string(R2740_BUNDLE_DIR) + "/ColorOptionsPDE_R2740.plugin", &loadError);
    auto security = host::LoadPlugIn(std::string(R2740_BUNDLE_DIR) + "/SecurityPanelPDE.plugin", &loadError);
    ASSERT_TRUE(color && security) << loadError;
    auto cb = std::make_shared<host::HostCallback>(host::ManualQueue(path, "Q", ""), nullptr);
    host::DialogSession session(cb, {color, security});
    std::string why;
    if (session.open(&why)) {
      bool printed = session.print(&why);
      EXPECT_TRUE(printed || !why.empty()) << path;
    } else {
      EXPECT_FALSE(why.empty()) << path;
    }

    // The command line: exit 3 and one line naming the file.
    std::string errFile = root.path() + "/cli.err";
    std::string cmd = std::string("'") + R2740_CLI + "' --ppd '" + path + "' --queue-id Q >/dev/null 2>'" + errFile + "'";
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(3, WEXITSTATUS(status)) << path;
    std::string err = *sys::ReadFile(errFile);
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
    EXPECT_EQ(0u, err.rfind("r2740-pde-cli: ", 0)) << err;
  }
}

}  // namespace
