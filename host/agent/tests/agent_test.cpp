// The print agent against a private cupsd: a real queue R2740 (a file
// device, stopped, so that a job sent on stays in the spool to be read) and
// its ask queue made by r2740-setup-queue, with its policies. Jobs are sent
// with lp by two local users without privileges, as themselves (cupsd
// authenticates them on its socket); the agent runs as the first, in batch
// mode, with the real colour and security panels.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <fcntl.h>
#include <pwd.h>

#include <map>
#include <regex>
#include <sstream>

#include "agent.h"
#include "private_cupsd.h"

using namespace hosttest;

namespace {

// Accounts every Debian system has, without privileges: the agent's user
// and another user.
constexpr const char* kUser = "daemon";
constexpr const char* kOther = "bin";

// The ask queue R2740-Ask before R2740, made by r2740-setup-queue, and the
// agent's user with a home and a runtime folder of its own.
class AgentBase : public PrivateCupsd {
 protected:
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740", "State Stopped\nAccepting Yes"}};
  }
  std::string DeviceURI(const std::string&) const override { return "file://" + dir_.file("out.prn"); }
  std::string ExtraConf() const override { return "PreserveJobFiles Yes\nDirtyCleanInterval 0\n"; }
  std::string ExtraFilesConf() const override { return "FileDevice Yes\n"; }

  void SetUp() override {
    PrivateCupsd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    passwd* pw = getpwnam(kUser);
    ASSERT_NE(pw, nullptr);
    for (const char* sub : {"home", "root", "run"}) {
      std::filesystem::create_directories(dir_.file(sub));
      ASSERT_EQ(chown(dir_.file(sub).c_str(), pw->pw_uid, pw->pw_gid), 0);
    }
    chmod(dir_.file("run").c_str(), 0700);
    env_ = "env -u R2740_USER_PREFS -u XDG_CONFIG_HOME CUPS_SERVER='" + socket_ + "' HOME='" + dir_.file("home") +
           "' R2740_ROOT='" + dir_.file("root") + "' XDG_RUNTIME_DIR='" + dir_.file("run") +
           "' QT_QPA_PLATFORM=offscreen ";
    std::string out;
    ASSERT_EQ(Run(env_ + Program("r2740-setup-queue") + " R2740", &out), 0) << out;
  }
  static std::string Program(const std::string& name) { return std::string(R2740_BINARY_DIR) + "/bin/" + name; }
  // The agent as kUser; `env` runs before it ("env -u VAR NAME=VALUE ").
  std::string Agent(const std::string& args, const std::string& env = "") {
    return AsUser(kUser) + env_ + env + Program("r2740-print-agent") + " --bundles '" + dir_.file("bundles") + "' " +
           args;
  }
  // A watching agent, its output into `log`; stopped with SIGTERM.
  pid_t Watch(const std::string& args, const std::string& log, const std::string& env = "") {
    pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", ("exec " + Agent(args, env) + " >'" + log + "' 2>&1").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
  static int Run(const std::string& command, std::string* output) { return hosttest::RunShell(command, output); }
  // lp as `user`; the job id.
  int Submit(const std::string& user, const std::string& args) {
    std::string out;
    EXPECT_EQ(Run(AsUser(user) + env_ + "/usr/bin/lp -d R2740-Ask " + args, &out), 0) << out;
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("R2740-Ask-([0-9]+)"))) return 0;
    return std::stoi(m[1]);
  }
  std::map<std::string, std::string> Job(int id) { return hosttest::JobAttributes(id); }
  std::string Spooled(int job) {
    char name[32];
    std::snprintf(name, sizeof name, "spool/d%05d-001", job);
    return ReadAll(dir_.file(name));
  }
  std::string Document() { return dir_.write("doc.txt", "Quarterly report\nPage one.\n\fPage two.\n"); }

  std::string env_;
};

// The real dialog, answering in batch mode with the real panels.
class AgentTest : public AgentBase {
 protected:
  void SetUp() override {
    AgentBase::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (access(Program("r2740-print-dialog").c_str(), X_OK) != 0) GTEST_SKIP() << "the Qt dialog is not built";
    std::filesystem::create_directories(dir_.file("bundles"));
    for (std::string name : {"ColorOptionsPDE_R2740", "SecurityPanelPDE"}) {
      std::string b = std::string(R2740_BUNDLE_DIR) + "/" + name + ".plugin";
      if (!std::filesystem::exists(b + "/Contents/lib/" + name + ".so")) GTEST_SKIP() << name << " is not built";
      std::filesystem::create_directory_symlink(b, dir_.file("bundles/" + name + ".plugin"));
    }
  }
};

TEST_F(AgentTest, AskQueueHoldsJobsAndNamesItsRealQueue) {
  std::string out;
  ASSERT_EQ(Run(env_ + "/usr/bin/lpstat -l -p R2740-Ask", &out), 0) << out;
  EXPECT_NE(out.find(agent::kAskQueueMessage), std::string::npos) << out;
  ASSERT_EQ(Run(env_ + "/usr/bin/lpoptions -p R2740-Ask", &out), 0) << out;
  EXPECT_NE(out.find("r2740-real-queue=R2740"), std::string::npos) << out;
  EXPECT_NE(out.find("job-hold-until=indefinite"), std::string::npos) << out;

  // With no agent running the job stays, held; even released by hand it
  // does not print, the ask queue being stopped.
  int job = Submit(kUser, "'" + Document() + "'");
  ASSERT_GT(job, 0);
  auto attrs = Job(job);
  EXPECT_EQ(attrs["job-state"], "pending-held");
  EXPECT_EQ(attrs["job-hold-until"], "indefinite");
  ASSERT_EQ(Run(AsUser(kUser) + env_ + "/usr/bin/lp -i " + std::to_string(job) + " -H resume", &out), 0) << out;
  EXPECT_EQ(Job(job)["job-state"], "pending");
  EXPECT_NE(Job(job)["job-printer-uri"].find("/R2740-Ask"), std::string::npos);

  // Running it again updates the queue in place.
  ASSERT_EQ(Run(env_ + Program("r2740-setup-queue") + " R2740", &out), 0) << out;
  EXPECT_NE(Run(env_ + Program("r2740-setup-queue") + " NoSuchQueue", &out), 0) << out;
}

TEST_F(AgentTest, PrintSendsTheJobOnWithThePanelsOptionsAndLeavesOthersAlone) {
  // The user's defaults for the real queue fill in what the application
  // left open.
  std::string out;
  ASSERT_EQ(Run(AsUser(kUser) + env_ + "/usr/bin/lpoptions -p R2740 -o number-up=4 -o fit-to-page=true", &out), 0)
      << out;
  // Sent while no agent runs; the application chose copies, pages, paper, layout.
  std::string doc = Document();
  int mine = Submit(kUser, "-n 2 -P 1-2 -o media=iso_a5_148x210mm -o sides=two-sided-long-edge -o number-up=2 "
                           "-o QVEdgeType=Strong -o R2740UserPassword=Custom.pw77 '" + doc + "'");
  int theirs = Submit(kOther, "'" + doc + "'");
  ASSERT_GT(mine, 0);
  ASSERT_GT(theirs, 0);

  ASSERT_EQ(Run(Agent("--once --action print --set QVBrightness=Lighter1 --set PrintModeR2740=SecurePrint"
                      " --set jp.orvessa.printers.R2740.secureKey=24681357"),
                &out),
            0)
      << out;
  auto attrs = Job(mine);
  EXPECT_NE(attrs["job-printer-uri"].find("/printers/R2740"), std::string::npos) << attrs["job-printer-uri"];
  EXPECT_EQ(attrs["job-printer-uri"].find("R2740-Ask"), std::string::npos);
  EXPECT_EQ(attrs["job-state"], "pending");  // released; the real queue is stopped
  EXPECT_EQ(attrs["QVBrightness"], "Lighter1");
  EXPECT_EQ(attrs["PrintModeR2740"], "SecurePrint");
  // The application's choices came through the dialog, a panel's too.
  EXPECT_EQ(attrs["QVEdgeType"], "Strong");
  // A value the application's dialog typed in clear does not stay on the job.
  EXPECT_EQ(attrs["R2740UserPassword"], "None");
  EXPECT_EQ(attrs["copies"], "2");
  EXPECT_EQ(attrs["page-ranges"], "1-2");
  EXPECT_EQ(attrs["PageSize"], "A5");
  EXPECT_EQ(attrs["Duplex"], "DuplexNoTumble");
  EXPECT_EQ(attrs["media"], "A5");  // follows the paper, no second opinion for the filters
  EXPECT_EQ(attrs["sides"], "two-sided-long-edge");
  EXPECT_EQ(attrs["number-up"], "2");
  EXPECT_EQ(attrs["fit-to-page"], "true");
  // The password is in the job only encrypted.
  const std::string key = attrs["jp.orvessa.printers.R2740.secureKey"];
  EXPECT_FALSE(key.empty());
  EXPECT_EQ(key.find("24681357"), std::string::npos) << key;
  EXPECT_EQ(out.find("24681357"), std::string::npos) << out;
  // The document is intact, and the control file carries the options.
  EXPECT_EQ(Spooled(mine), ReadAll(doc));
  // cupsd writes the control file a moment after a change (DirtyCleanInterval).
  char control[32];
  std::snprintf(control, sizeof control, "spool/c%05d", mine);
  std::string written;
  for (int i = 0; i < 100 && written.find("Lighter1") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    written = ReadAll(dir_.file(control));
  }
  EXPECT_NE(written.find("Lighter1"), std::string::npos);

  // The other user's job is still held on the ask queue, untouched.
  auto other = Job(theirs);
  EXPECT_EQ(other["job-state"], "pending-held");
  EXPECT_NE(other["job-printer-uri"].find("R2740-Ask"), std::string::npos);
  EXPECT_EQ(other.count("QVBrightness"), 0u);
}

TEST_F(AgentTest, TheApplicationsCollationReachesTheRealQueueAndSilenceMeansCollated) {
  // Either name an application may use; nothing at all leaves the dialog's
  // default. The filters collate when either attribute asks for it.
  std::string doc = Document();
  int byCollate = Submit(kUser, "-n 3 -o collate=false '" + doc + "'");
  int byHandling =
      Submit(kUser, "-n 3 -o multiple-document-handling=separate-documents-uncollated-copies '" + doc + "'");
  int silent = Submit(kUser, "-n 3 '" + doc + "'");
  std::string out;
  ASSERT_EQ(Run(Agent("--once --action print"), &out), 0) << out;
  for (int job : {byCollate, byHandling}) {
    auto attrs = Job(job);
    EXPECT_NE(attrs["job-printer-uri"].find("/printers/R2740"), std::string::npos);
    EXPECT_EQ(attrs["multiple-document-handling"], "separate-documents-uncollated-copies") << job;
    EXPECT_EQ(attrs["collate"], "false") << job;
  }
  auto attrs = Job(silent);
  EXPECT_EQ(attrs["multiple-document-handling"], "separate-documents-collated-copies");
  EXPECT_EQ(attrs["collate"], "true");
}

TEST_F(AgentTest, AnAskQueueWithoutItsPolicyOpensNoDialog) {
  // As on an ask queue made before the policies: cupsd takes any name for
  // the job's owner there.
  std::string out;
  ASSERT_EQ(Run(env_ + "/usr/sbin/lpadmin -p R2740-Ask -o printer-op-policy=default", &out), 0) << out;
  int first = Submit(kUser, "'" + Document() + "'"), second = Submit(kUser, "'" + Document() + "'");
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_EQ(Run(Agent("--once --action print"), &out), 1) << out;
  const std::string advice = "r2740-setup-queue R2740 (r2740-setup-queue --check R2740";
  ASSERT_NE(out.find(advice), std::string::npos) << out;
  EXPECT_EQ(out.find(advice), out.rfind(advice)) << "said once per queue: " << out;
  for (int job : {first, second}) EXPECT_EQ(Job(job)["job-state"], "pending-held");
  // Once the administrator ran it, the jobs go.
  ASSERT_EQ(Run(env_ + Program("r2740-setup-queue") + " R2740", &out), 0) << out;
  EXPECT_EQ(Run(Agent("--once --action print"), &out), 0) << out;
  for (int job : {first, second}) EXPECT_EQ(Job(job)["job-state"], "pending");
}

TEST_F(AgentTest, AnotherUsersJobIsNeverTheAgents) {
  // Asked by job id, cupsd answers for any job to an authenticated user
  // (here root, who sees every attribute): the agent's own owner check is
  // what refuses it.
  int theirs = Submit(kOther, "'" + Document() + "'");
  ASSERT_GT(theirs, 0);
  agent::HeldJob job;
  job.id = theirs;
  EXPECT_FALSE(agent::StillWaiting(kUser, &job));
  job.id = theirs;
  EXPECT_TRUE(agent::StillWaiting(kOther, &job));
  EXPECT_EQ(job.owner, kOther);
}

TEST_F(AgentTest, CancelRemovesTheJob) {
  int job = Submit(kUser, "'" + Document() + "'");
  ASSERT_GT(job, 0);
  std::string out;
  ASSERT_EQ(Run(Agent("--once --action cancel"), &out), 0) << out;
  EXPECT_EQ(Job(job)["job-state"], "canceled");
  // Nothing left to do.
  ASSERT_EQ(Run(Agent("--once --action print"), &out), 0) << out;
  EXPECT_EQ(Job(job)["job-state"], "canceled");
}

TEST_F(AgentTest, AJobAnotherAgentHasOpenIsLeftToIt) {
  int job = Submit(kUser, "'" + Document() + "'");
  ASSERT_GT(job, 0);
  std::string lock = dir_.file("run/r2740-agent/job-" + std::to_string(job) + ".lock");
  std::filesystem::create_directories(dir_.file("run/r2740-agent"));
  chmod(dir_.file("run/r2740-agent").c_str(), 0700);
  int fd = open(lock.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  passwd* pw = getpwnam(kUser);
  ASSERT_NE(pw, nullptr);
  for (const std::string& p : {dir_.file("run/r2740-agent"), lock}) ASSERT_EQ(chown(p.c_str(), pw->pw_uid, pw->pw_gid), 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  std::string out;
  EXPECT_EQ(Run(Agent("--once --action print"), &out), 1) << out;
  EXPECT_NE(out.find("another print agent"), std::string::npos) << out;
  EXPECT_EQ(Job(job)["job-state"], "pending-held");
  close(fd);
  EXPECT_EQ(Run(Agent("--once --action print"), &out), 0) << out;
  EXPECT_EQ(Job(job)["job-state"], "pending");
}

TEST_F(AgentTest, AWatchingAgentOutlivesACupsdRestart) {
  std::string log = dir_.file("agent.log");
  pid_t agentPid = Watch("--action print --interval 0.2", log);
  ASSERT_GE(agentPid, 0);
  auto notified = [&] {
    std::string text = ReadAll(log);
    size_t n = 0;
    for (size_t at = text.find("IPP notifications"); at != std::string::npos; at = text.find("IPP notifications", at + 1)) ++n;
    return n;
  };
  auto await = [&](size_t count) {
    for (int i = 0; i < 100 && notified() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return notified() >= count;
  };
  ASSERT_TRUE(await(1)) << ReadAll(log);
  Stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Start();
  ASSERT_FALSE(HasFatalFailure());
  // Subscribed again and had its first look: from now on only an event
  // brings the job to it within the wait below (the periodic look is a minute).
  ASSERT_TRUE(await(2)) << ReadAll(log);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  int job = Submit(kUser, "'" + Document() + "'");
  ASSERT_GT(job, 0);
  std::string state;
  for (int i = 0; i < 200 && state != "pending"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    state = Job(job)["job-state"];
  }
  kill(agentPid, SIGTERM);
  int status = 0;
  waitpid(agentPid, &status, 0);
  EXPECT_EQ(state, "pending") << ReadAll(log);
  EXPECT_EQ(Job(job)["job-printer-uri"].find("R2740-Ask"), std::string::npos);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadAll(log);
}

// A stand-in for the dialog: notes each start (its TMPDIR) and what
// `lpstat -l -o` says meanwhile, leaves a file in its TMPDIR, then exits 3
// the first time and is killed (SIGKILL) after.
class StandInTest : public AgentBase {
 protected:
  void SetUp() override {
    AgentBase::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Dialog("echo \"$TMPDIR\" >>\"$HOME/starts\"\n/usr/bin/lpstat -l -o >\"$HOME/lpstat-open.txt\"\n"
           "touch \"$TMPDIR/left-by-the-dialog\"\n[ $(wc -l <\"$HOME/starts\") = 1 ] && exit 3\nkill -9 $$\n");
  }
  void Dialog(const std::string& body) {
    dir_.write("dialog", "#!/bin/sh\n" + body);
    chmod(dir_.file("dialog").c_str(), 0755);
  }
  std::string StandIn() const { return "env R2740_PRINT_DIALOG='" + dir_.file("dialog") + "' "; }
  std::vector<std::string> Starts() {
    std::vector<std::string> lines;
    std::istringstream in(ReadAll(dir_.file("home/starts")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(StandInTest, AFailedOrKilledDialogOpensAgainThenTheJobSaysHowToReopenIt) {
  int job = Submit(kUser, "'" + Document() + "'");
  ASSERT_GT(job, 0);
  const std::string reopen = "r2740-print-agent --job " + std::to_string(job);
  std::string log = dir_.file("agent.log");
  pid_t agentPid = Watch("--interval 0.2", log, StandIn() + "R2740_AGENT_RETRY_SECONDS=1 ");
  ASSERT_GT(agentPid, 0);
  for (int i = 0; i < 300 && ReadAll(log).find(reopen) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // past another pause: no fourth dialog
  kill(agentPid, SIGTERM);
  waitpid(agentPid, nullptr, 0);
  const std::string said = ReadAll(log);
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 3u) << said;
  EXPECT_NE(said.find("(exit status 3); the dialog opens again in 1 s (try 2 of 3)"), std::string::npos) << said;
  EXPECT_NE(said.find("signal 9 (SIGKILL, Killed); the dialog opens again in 1 s (try 3 of 3)"), std::string::npos)
      << said;
  EXPECT_NE(said.find("the job stays held after 3 tries. To open its dialog again, run: " + reopen + "\n"),
            std::string::npos)
      << said;
  // Every file of each dialog went, its folder too.
  for (const auto& tmp : starts) {
    EXPECT_EQ(tmp.rfind(dir_.file("run/r2740-agent/job-" + std::to_string(job) + "-"), 0), 0u) << tmp;
    EXPECT_FALSE(std::filesystem::exists(tmp)) << tmp;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_.file("run/r2740-agent")));
  // lpstat says why the job waits, while the dialog is open and after.
  EXPECT_NE(ReadAll(dir_.file("home/lpstat-open.txt"))
                .find("\tStatus: Waiting for its user to answer the R2740 print dialog\n"),
            std::string::npos)
      << ReadAll(dir_.file("home/lpstat-open.txt"));
  std::string out;
  ASSERT_EQ(Run(env_ + "/usr/bin/lpstat -l -o", &out), 0) << out;
  EXPECT_NE(out.find("\tStatus: The R2740 print dialog failed; to open it again, run: " + reopen + "\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(Job(job)["job-state"], "pending-held");

  // The command it names opens the dialog; Cancel there cancels the job.
  Dialog("exit 0\n");
  EXPECT_EQ(Run(Agent("--job " + std::to_string(job), StandIn()), &out), 0) << out;
  EXPECT_EQ(Job(job)["job-state"], "canceled");
  EXPECT_EQ(Run(Agent("--job " + std::to_string(job), StandIn()), &out), 1) << out;
}

TEST_F(StandInTest, NoDisplayOrNoCupsdSaysWhatToDo) {
  int job = Submit(kUser, "'" + Document() + "'");
  ASSERT_GT(job, 0);
  std::string out;
  EXPECT_EQ(Run(Agent("--once", "env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY " + StandIn()), &out), 1);
  EXPECT_NE(out.find("neither WAYLAND_DISPLAY nor DISPLAY is set"), std::string::npos) << out;
  EXPECT_NE(out.find("To open its dialog again, run: r2740-print-agent --job " + std::to_string(job)),
            std::string::npos)
      << out;
  const std::string socket = dir_.file("no-display");
  EXPECT_EQ(Run(Agent("--once", "env -u QT_QPA_PLATFORM -u DISPLAY WAYLAND_DISPLAY=" + socket + " " + StandIn()), &out),
            1);
  EXPECT_NE(out.find("WAYLAND_DISPLAY=" + socket + " (no display answers at " + socket + ")"), std::string::npos)
      << out;
  EXPECT_TRUE(Starts().empty()) << "no dialog without a display";
  EXPECT_EQ(Job(job)["job-state"], "pending-held");

  const std::string server = dir_.file("no-cupsd.sock");
  EXPECT_EQ(Run(Agent("--once", StandIn() + "CUPS_SERVER=" + server + " "), &out), 3);
  EXPECT_NE(out.find("cannot list the jobs: no CUPS server answers at " + server + ";"), std::string::npos) << out;
  EXPECT_EQ(out.find("Bad file descriptor"), std::string::npos) << out;
}

TEST_F(StandInTest, AKilledAgentsJobFolderGoesAtTheNextStart) {
  const std::string folder = dir_.file("run/r2740-agent");
  std::filesystem::create_directories(folder + "/job-77-aB3dE9");
  std::filesystem::create_directories(folder + "/job-78-xY7zW2");
  std::filesystem::create_directories(dir_.file("home/kept"));
  dir_.write("run/r2740-agent/job-77-aB3dE9/settings.plist", "x");
  std::filesystem::create_directory_symlink(dir_.file("home/kept"), folder + "/job-79-link00");
  // Job 78's dialog still runs: its lock is held.
  int fd = open((folder + "/job-78.lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  passwd* pw = getpwnam(kUser);
  ASSERT_NE(pw, nullptr);
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.file("run")))
    ASSERT_EQ(lchown(e.path().c_str(), pw->pw_uid, pw->pw_gid), 0);
  chmod(folder.c_str(), 0700);
  std::string out;
  EXPECT_EQ(Run(Agent("--once", StandIn()), &out), 0) << out;
  close(fd);
  EXPECT_FALSE(std::filesystem::exists(folder + "/job-77-aB3dE9"));
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/job-78-xY7zW2"));
  EXPECT_TRUE(std::filesystem::is_symlink(folder + "/job-79-link00"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.file("home/kept")));
}

}  // namespace
