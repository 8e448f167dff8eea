// Another local user plants a folder, a link or a file where the print agent
// kept its locks (/tmp/r2740-agent-UID, or a folder handed to it as
// XDG_RUNTIME_DIR). The victim's agent still locks and handles its job, and
// nothing is written through a planted link. Victim ("nobody") and attacker
// (a uid of no account) are unprivileged, switched to with setpriv; cupsd is
// a private one, the dialog a stand-in that records how it was started and
// answers Cancel.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "private_cupsd.h"

using namespace hosttest;

namespace {

constexpr uid_t kVictim = 65534;
constexpr uid_t kAttacker = 64917;

class AgentPlants : public PrivateCupsd {
 protected:
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740", "State Stopped\nAccepting Yes"}};
  }

  void SetUp() override {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv";
    PrivateCupsd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string out;
    ASSERT_EQ(RunShell("CUPS_SERVER='" + socket_ + "' " + Program("r2740-setup-queue") + " R2740", &out), 0) << out;
    // A folder every user may write in, as /tmp is.
    std::filesystem::create_directories(dir_.file("pub"));
    chmod(dir_.file("pub").c_str(), 01777);
    home_ = dir_.file("victim");
    for (const char* sub : {"", "/precious", "/run"}) {
      std::filesystem::create_directories(home_ + sub);
      ASSERT_EQ(chown((home_ + sub).c_str(), kVictim, kVictim), 0);
      chmod((home_ + sub).c_str(), 0700);
    }
    dir_.write("doc.txt", "Quarterly report\n");
    chmod(dir_.file("doc.txt").c_str(), 0644);
    // Cancel, after noting its temporary folder and arguments in the home.
    dir_.write("dialog", "#!/bin/sh\nprintf '%s\\n' \"TMPDIR=$TMPDIR\" \"$@\" >\"$HOME/dialog.args\"\n");
    chmod(dir_.file("dialog").c_str(), 0755);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(OldName(), ec);
    PrivateCupsd::TearDown();
  }

  static std::string Program(const std::string& name) { return std::string(R2740_BINARY_DIR) + "/bin/" + name; }
  static std::string OldName() { return "/tmp/r2740-agent-" + std::to_string(kVictim); }
  static std::string As(uid_t uid) {
    return "setpriv --reuid=" + std::to_string(uid) + " --regid=" + std::to_string(uid) + " --clear-groups ";
  }
  int AsAttacker(const std::string& command) {
    std::string out;
    int code = RunShell(As(kAttacker) + "sh -c '" + command + "'", &out);
    EXPECT_EQ(code, 0) << command << ": " << out;
    return code;
  }
  // As the victim, in a clean environment (`env` adds to it); the dialog
  // needs no display (offscreen).
  int AsVictim(const std::string& env, const std::string& command, std::string* out) {
    return RunShell(As(kVictim) + "env -i PATH=/usr/bin:/bin HOME='" + home_ + "' CUPS_SERVER='" + socket_ +
                        "' QT_QPA_PLATFORM=offscreen R2740_PRINT_DIALOG='" + dir_.file("dialog") + "' " + env + " " +
                        command,
                    out);
  }
  // A job of the victim's on the ask queue, handled by the victim's agent:
  // the agent's exit status, with what it said and the dialog's arguments.
  int Handle(const std::string& env, int* job, std::string* said, std::string* dialogArgs) {
    std::string out;
    EXPECT_EQ(AsVictim("", "lp -d R2740-Ask '" + dir_.file("doc.txt") + "'", &out), 0) << out;
    *job = std::stoi(out.substr(out.find("R2740-Ask-") + 10));
    std::filesystem::remove(home_ + "/dialog.args");
    int code = AsVictim(env, Program("r2740-print-agent") + " --once", said);
    *dialogArgs = ReadAll(home_ + "/dialog.args");
    return code;
  }

  std::string home_;
};

TEST_F(AgentPlants, APlantedFolderLinkOrFileStopsNothingAndIsNeverWrittenThrough) {
  const std::string precious = home_ + "/precious";
  const std::string cache = home_ + "/.cache/r2740-agent";
  const std::string shared = dir_.file("pub/shared");
  ASSERT_EQ(AsAttacker("mkdir -m 777 " + shared + " && ln -s " + precious + " " + shared + "/r2740-agent"), 0);
  struct Plant {
    std::string what, command, env;
  };
  const std::vector<Plant> plants = {
      {"a folder at the old name", "mkdir -m 777 " + OldName(), ""},
      {"a link at the old name", "ln -s " + precious + " " + OldName(), ""},
      {"a file at the old name", "touch " + OldName(), ""},
      {"a link in a shared folder given as XDG_RUNTIME_DIR", "true", "XDG_RUNTIME_DIR=" + shared},
  };
  for (const auto& plant : plants) {
    SCOPED_TRACE(plant.what);
    std::error_code ec;
    std::filesystem::remove_all(OldName(), ec);
    ASSERT_EQ(AsAttacker(plant.command), 0);
    int job = 0;
    std::string said, args;
    EXPECT_EQ(Handle(plant.env, &job, &said, &args), 0) << said;
    EXPECT_EQ(JobAttributes(job)["job-state"], "canceled") << said;
    // The dialog was told which job it is for, and every file of the job
    // lay in the victim's own folder.
    EXPECT_NE(args.find("\n--job\nid=" + std::to_string(job) + "\n"), std::string::npos) << args;
    EXPECT_EQ(args.rfind("TMPDIR=" + cache + "/job-" + std::to_string(job) + "-", 0), 0u) << args;
    EXPECT_NE(args.find("--settings-out\n" + cache + "/job-"), std::string::npos) << args;
    EXPECT_TRUE(std::filesystem::is_empty(precious));
  }
  struct stat st;
  ASSERT_EQ(lstat(cache.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kVictim);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

// In the victim's own runtime folder: a link left at a lock's name is
// replaced, not followed.
TEST_F(AgentPlants, ALinkAtTheLockIsReplacedInTheRuntimeFolder) {
  const std::string run = home_ + "/run";
  std::string out;
  ASSERT_EQ(AsVictim("", "mkdir -m 700 " + run + "/r2740-agent", &out), 0) << out;
  // The next job's number: one more than the last.
  int last = 0;
  std::string said, args;
  ASSERT_EQ(Handle("XDG_RUNTIME_DIR=" + run, &last, &said, &args), 0) << said;
  EXPECT_EQ(args.rfind("TMPDIR=" + run + "/r2740-agent/job-", 0), 0u) << args;
  ASSERT_EQ(AsVictim("", "ln -s " + home_ + "/precious/lock " + run + "/r2740-agent/job-" + std::to_string(last + 1) +
                             ".lock",
                     &out),
            0)
      << out;
  int job = 0;
  EXPECT_EQ(Handle("XDG_RUNTIME_DIR=" + run, &job, &said, &args), 0) << said;
  ASSERT_EQ(job, last + 1);
  EXPECT_EQ(JobAttributes(job)["job-state"], "canceled") << said;
  EXPECT_TRUE(std::filesystem::is_empty(home_ + "/precious"));
  EXPECT_TRUE(std::filesystem::is_empty(run + "/r2740-agent"));
}

}  // namespace
