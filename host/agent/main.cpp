// r2740-print-agent: per-user, started with the desktop session. Jobs that
// applications send to an ask queue wait there (held); for each job of its
// own user the agent opens the print dialog on the real queue, and sends
// the job on with the dialog's options or cancels it.
#include <cups/cups.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent.h"
#include "cf/plist.h"
#include "frontend.h"
#include "host.h"
#include "system/layout.h"

namespace {

constexpr const char* kUsage = R"(usage: r2740-print-agent [--once] [--action print|cancel] [--set KEY=VALUE]...
                         [--bundles DIR] [--interval SECONDS]

Opens the R2740 print dialog for each job of this user that waits on an ask
queue (made with r2740-setup-queue), then sends the job to the real queue
with the dialog's options (Print) or cancels it (Cancel).

  --once             handle the jobs waiting now and exit; otherwise watch
                     until stopped (SIGTERM, SIGINT)
  --action ACTION    answer every dialog without a window, as
                     r2740-print-dialog --action does (print or cancel)
  --set KEY=VALUE    passed to each dialog (repeatable; with --action)
  --bundles DIR      the dialog's plug-ins (default: those the PPD names)
  --interval S       seconds between asking cupsd for job events (IPP
                     notifications), or for the jobs where cupsd offers no
                     notifications (default 2)
  --help             this text
  --version          the version

The user is cupsUser() (CUPS_USER, else the login); only jobs whose owner
is that user are touched. The dialog is $R2740_PRINT_DIALOG, else
r2740-print-dialog beside this program, else the one on the PATH.

Jobs on an ask queue without the policy r2740-ask (see r2740-setup-queue)
are left waiting: anyone could have sent them in this user's name.

Exit status: 0 every job handled; 1 a job was left waiting (its dialog
failed, cupsd refused, another agent has it open, or its ask queue lacks
the policy r2740-ask); 2 bad arguments;
3 cupsd could not be asked.
)";

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

struct Options {
  bool once = false;
  std::string action, bundles;
  std::vector<std::string> sets;
  double interval = 2;
};

std::string DialogProgram() {
  if (const char* p = getenv("R2740_PRINT_DIALOG"); p && *p) return p;
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    auto beside = self.parent_path() / "r2740-print-dialog";
    if (access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return "r2740-print-dialog";
}

// Runs the dialog; its exit status, or -1 when it could not run.
int RunDialog(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // Its report lines are the dialog's own business; errors still show.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "r2740-print-agent: cannot run %s\n", argv[0]);
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// --job values that name the held job in the dialog: cupsd's copies of what
// the job's sender chose, which the dialog shows as plain text only.
// Numbers that are not plain digits are left out, so they never stop it.
std::vector<std::string> JobArguments(const agent::HeldJob& job) {
  auto attribute = [&](const char* name) -> std::string {
    for (const auto& [k, v] : job.attributes)
      if (k == name) return v;
    return "";
  };
  std::vector<std::string> args = {"--job", "id=" + std::to_string(job.id)};
  auto add = [&](const std::string& key, const std::string& value) {
    if (!value.empty()) args.insert(args.end(), {"--job", key + "=" + value});
  };
  auto digits = [](const std::string& v) {
    return v.size() <= 12 && v.find_first_not_of("0123456789") == std::string::npos ? v : std::string();
  };
  add("name", job.name);
  add("pages", digits(attribute("job-impressions")));
  add("host", attribute("job-originating-host-name"));
  add("sent", digits(attribute("time-at-creation")));
  return args;
}

// TMPDIR for the job's time: libcups' downloaded PPD (cupsTempFd), and
// whatever the dialog makes for itself, go into the job's private folder.
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const std::string& dir) {
    if (const char* old = getenv("TMPDIR")) old_ = old;
    had_ = getenv("TMPDIR") != nullptr;
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~ScopedTmpDir() {
    if (had_) setenv("TMPDIR", old_.c_str(), 1);
    else unsetenv("TMPDIR");
  }

 private:
  std::string old_;
  bool had_ = false;
};

// One job: true when it was printed or cancelled.
bool Handle(const Options& o, const std::string& user, agent::HeldJob job) {
  std::string why, note;
  auto fail = [&](const std::string& reason) {
    std::fprintf(stderr, "r2740-print-agent: job %d (%s): %s\n", job.id, host::PlainText(job.name).c_str(),
                 reason.c_str());
    return false;
  };
  agent::PrivateFolder folder;
  if (!folder.open(&why, &note)) return fail(why);
  // Which folder it uses is said once, when it is not the first choice.
  static std::string said;
  if (!note.empty() && note != said)
    std::fprintf(stderr, "r2740-print-agent: using %s: %s\n", folder.path().c_str(), note.c_str());
  said = note;
  agent::JobLock lock;
  if (!lock.lock(folder, job.id, &why)) return fail(why);
  // Another agent may have handled it between the listing and the lock.
  if (!agent::StillWaiting(user, &job)) {
    std::printf("job %d: handled elsewhere\n", job.id);
    return true;
  }

  std::string temporary = folder.makeTemporaryFolder("job-" + std::to_string(job.id) + "-", &why);
  if (temporary.empty()) return fail(why);
  struct Cleanup {
    std::string dir, ppd;
    ~Cleanup() {
      std::error_code ec;
      if (!ppd.empty()) std::filesystem::remove(ppd, ec);
      std::filesystem::remove_all(dir, ec);
    }
  } cleanup{temporary, ""};
  ScopedTmpDir tmpdir(temporary);
  auto queue = host::CupsQueue(job.realQueue, &why);
  if (!queue) return fail(why);
  cleanup.ppd = queue->ppdPath;
  auto ppd = host::PPDFile::open(queue->ppdPath, &why);
  if (!ppd) return fail(why);
  std::string settingsPath = temporary + "/settings.plist";

  std::vector<std::string> args = {DialogProgram(), "--queue", job.realQueue, "--settings-only", "--settings-out",
                                   settingsPath};
  for (const auto& a : JobArguments(job)) args.push_back(a);
  for (const auto& a : agent::DialogArguments(job, ppd->get())) args.push_back(a);
  if (!o.bundles.empty()) args.insert(args.end(), {"--bundles", o.bundles});
  if (!o.action.empty()) args.insert(args.end(), {"--action", o.action});
  for (const auto& s : o.sets) args.insert(args.end(), {"--set", s});
  int status = RunDialog(args);
  if (status != 0) return fail("the print dialog failed (exit status " + std::to_string(status) + "); the job waits");

  if (!std::filesystem::exists(settingsPath)) {
    if (!agent::CancelJob(user, job, &why)) return fail(why);
    std::printf("job %d (%s): cancelled\n", job.id, host::PlainText(job.name).c_str());
    return true;
  }
  auto settings = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(settingsPath));
  if (!settings) return fail("the dialog's settings cannot be read");
  // The same options the dialog sends with a job of its own.
  auto options = host::JobOptions(settings, ppd->get());
  if (!agent::PrintJob(user, job, options, &why)) return fail(why);
  std::printf("job %d (%s): sent to %s with %zu options\n", job.id, host::PlainText(job.name).c_str(),
              job.realQueue.c_str(), options.size());
  return true;
}

// The exit statuses of --once (man page).
enum AgentExit { kAgentOK = 0, kAgentJobLeft = 1, kAgentUsage = 2, kAgentNoCupsd = 3 };

// Every waiting job once; kAgentJobLeft when a job was left waiting,
// kAgentNoCupsd when cupsd did not answer (said unless `quiet`).
AgentExit Pass(const Options& o, const std::string& user, std::set<int>* failed, bool quiet) {
  std::vector<agent::HeldJob> jobs;
  std::map<std::string, std::string> unprotected;
  std::string why;
  if (!agent::WaitingJobs(user, &jobs, &why, &unprotected)) {
    if (!quiet) std::fprintf(stderr, "r2740-print-agent: %s\n", why.c_str());
    return kAgentNoCupsd;
  }
  AgentExit code = unprotected.empty() ? kAgentOK : kAgentJobLeft;
  // Said once per queue for as long as the agent runs.
  static std::set<std::string> told;
  for (const auto& [ask, real] : unprotected)
    if (told.insert(ask).second)
      std::fprintf(stderr,
                   "r2740-print-agent: %s lacks the policy %s, so anyone could have sent its jobs in your name; "
                   "no dialog opens for them until the administrator runs: r2740-setup-queue %s\n",
                   ask.c_str(), agent::kAskPolicy, real.c_str());
  for (auto& job : jobs) {
    if (gStop) break;
    // A watching agent does not reopen a dialog that failed for a job.
    if (failed->count(job.id)) continue;
    if (!Handle(o, user, job)) {
      code = kAgentJobLeft;
      failed->insert(job.id);
    }
    std::fflush(stdout);
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("r2740-print-agent %s\n", sys::Version());
      return 0;
    }
    if (a == "--once") {
      o.once = true;
      continue;
    }
    if (i + 1 >= argc || (a != "--action" && a != "--set" && a != "--bundles" && a != "--interval")) {
      std::fprintf(stderr, "r2740-print-agent: unknown argument or missing value \"%s\" (see --help)\n", a.c_str());
      return kAgentUsage;
    }
    std::string v = argv[++i];
    if (a == "--action") o.action = v;
    else if (a == "--set") o.sets.push_back(v);
    else if (a == "--bundles") o.bundles = v;
    else {
      char* end = nullptr;
      o.interval = std::strtod(v.c_str(), &end);
      if (*end || !(o.interval >= 0.1 && o.interval <= 3600)) {
        std::fprintf(stderr, "r2740-print-agent: --interval is 0.1 to 3600 seconds, not \"%s\"\n", v.c_str());
        return kAgentUsage;
      }
    }
  }
  if (!o.action.empty() && o.action != "print" && o.action != "cancel") {
    std::fprintf(stderr, "r2740-print-agent: --action is print or cancel, not \"%s\"\n", o.action.c_str());
    return kAgentUsage;
  }
  const std::string user = cupsUser();
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  signal(SIGPIPE, SIG_IGN);

  std::set<int> failed;
  if (o.once) return Pass(o, user, &failed, false);
  // Watching: with IPP notifications, a look at the jobs when cupsd
  // reports a job created or changed (and once a minute besides); without,
  // a look every interval. Each request goes on libcups' default
  // connection, which reconnects by itself after a cupsd restart; an
  // unreachable cupsd is said once until it answers again.
  bool down = false;
  int subscription = 0, sequence = 1;
  std::string mode;  // said when it changes
  auto renewAt = std::chrono::steady_clock::now();
  auto lookAt = renewAt;
  while (!gStop) {
    auto now = std::chrono::steady_clock::now();
    if (subscription && now >= renewAt && !agent::Renew(user, subscription)) subscription = 0;
    if (!subscription) {
      std::string why;
      subscription = agent::Subscribe(user, &why);
      sequence = 1;
      std::string now_mode = subscription ? "watching with IPP notifications" : "watching by asking for the jobs";
      if (subscription || !down) {
        if (now_mode != mode) std::fprintf(stderr, "r2740-print-agent: %s\n", now_mode.c_str());
        mode = now_mode;
      }
      lookAt = now;  // events before the subscription are unknown
    }
    if (subscription && now >= renewAt) renewAt = now + std::chrono::seconds(agent::kLeaseSeconds / 3);
    agent::Notified events = subscription ? agent::Events(user, subscription, &sequence) : agent::Notified::kGone;
    if (events == agent::Notified::kGone && subscription) {
      subscription = 0;
      mode.clear();  // say how it watches once cupsd is back
    }
    if (events != agent::Notified::kNone || now >= lookAt) {
      AgentExit code = Pass(o, user, &failed, down);
      if (code == kAgentNoCupsd && !down) std::fprintf(stderr, "r2740-print-agent: waiting for cupsd\n");
      down = code == kAgentNoCupsd;
      std::fflush(stderr);
      lookAt = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      if (!subscription) lookAt = std::chrono::steady_clock::now();
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(o.interval);
    while (!gStop && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}
