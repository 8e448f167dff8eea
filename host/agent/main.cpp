// r2740-print-agent: per-user, started with the desktop session. Jobs that
// applications send to an ask queue wait there (held); for each job of its
// own user the agent opens the print dialog on the real queue, and sends
// the job on with the dialog's options or cancels it.
#include <cups/cups.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
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

constexpr const char* kUsage = R"(usage: r2740-print-agent [--once | --job ID] [--action print|cancel]
                         [--set KEY=VALUE]... [--bundles DIR] [--interval SECONDS]

Opens the R2740 print dialog for each job of this user that waits on an ask
queue (made with r2740-setup-queue), then sends the job to the real queue
with the dialog's options (Print) or cancels it (Cancel).

  --once             handle the jobs waiting now and exit; otherwise watch
                     until stopped (SIGTERM, SIGINT)
  --job ID           open the dialog for that job only, and exit: for a job
                     whose dialog failed three times in a watching agent
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
r2740-print-dialog beside this program, else the one on the PATH. It needs
the desktop's display (WAYLAND_DISPLAY or DISPLAY) unless --action is given.

A watching agent opens a dialog that failed or was killed again after
$R2740_AGENT_RETRY_SECONDS (default 20) seconds, three times in all; the
job then stays held, and `lpstat -l -o` says how to open it again.

Jobs on an ask queue without an ask policy of r2740-setup-queue (r2740-ask,
or r2740-NAME-ask; r2740-setup-queue --check tells) are left waiting: anyone could have sent them in this user's name.

Exit status: 0 every job handled; 1 a job was left waiting (its dialog
failed, cupsd refused, another agent has it open, or its ask queue lacks
the policy r2740-ask), or the --job is not one of yours waiting on an ask
queue; 2 bad arguments; 3 cupsd could not be asked.
)";

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

struct Options {
  bool once = false;
  int job = 0;  // --job: this job only
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

// Runs the dialog, which holds the job's lock (`lockFd`) as long as it
// runs; empty when it exited 0, else what became of it.
std::string RunDialog(const std::vector<std::string>& args, int lockFd) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) return std::string("the print dialog could not be started: ") + std::strerror(errno);
  if (pid == 0) {
    // Its report lines are the dialog's own business; errors still show.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    if (lockFd >= 0) fcntl(lockFd, F_SETFD, 0);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "r2740-print-agent: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::string("the print dialog was lost: ") + std::strerror(errno);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  if (WIFEXITED(status)) return "the print dialog failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
  int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  const char* abbrev = sig ? sigabbrev_np(sig) : nullptr;
  return "the print dialog was ended by signal " + std::to_string(sig) + " (" +
         (abbrev ? "SIG" + std::string(abbrev) + ", " : "") + (sig ? strsignal(sig) : "unknown") + ")";
}

// Why no window can open: empty when WAYLAND_DISPLAY or DISPLAY names a
// display whose socket answers (an X display on another host is taken on
// trust), or when Qt is told to draw elsewhere (QT_QPA_PLATFORM).
std::string NoDisplay() {
  std::string platform = getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "";
  if (!platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0) return "";
  auto answers = [](const std::string& path, bool abstract) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() + 1 >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path + (abstract ? 1 : 0), path.data(), path.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 1 : 0));
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0;
    if (fd >= 0) close(fd);
    return ok;
  };
  std::string tried;
  if (const char* w = getenv("WAYLAND_DISPLAY"); w && *w) {
    const char* run = getenv("XDG_RUNTIME_DIR");
    std::string path = *w == '/' ? w : std::string(run ? run : "") + "/" + w;
    if (answers(path, false)) return "";
    tried = "WAYLAND_DISPLAY=" + std::string(w) + " (no display answers at " + path + ")";
  }
  if (const char* x = getenv("DISPLAY"); x && *x) {
    std::string d = x;
    if (d.rfind("unix:", 0) == 0) d = d.substr(4);
    if (d[0] != ':') return "";  // on another host, or a path Xlib knows how to reach
    std::string path = "/tmp/.X11-unix/X" + d.substr(1, d.find('.') - 1);
    if (answers(path, true) || answers(path, false)) return "";
    tried += (tried.empty() ? "" : " and ") + ("DISPLAY=" + std::string(x) + " (no display answers at " + path + ")");
  }
  if (tried.empty())
    return "no display for the print dialog: neither WAYLAND_DISPLAY nor DISPLAY is set; run the agent inside the "
           "desktop session (it starts with it), or set WAYLAND_DISPLAY or DISPLAY to the session's display";
  return "no display for the print dialog: " + tried +
         "; run the agent inside the desktop session, or set WAYLAND_DISPLAY or DISPLAY to the session's display";
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

enum class Outcome { kDone, kBusy, kFailed };

// One job: kDone when it was printed or cancelled (or handled elsewhere),
// kBusy when another agent of the user has it open, else kFailed with the
// reason in *why.
Outcome Handle(const Options& o, const std::string& user, agent::HeldJob job, std::string* why) {
  std::string note;
  agent::PrivateFolder folder;
  if (!folder.open(why, &note)) return Outcome::kFailed;
  // Which folder it uses is said once, when it is not the first choice.
  static std::string said;
  if (!note.empty() && note != said)
    std::fprintf(stderr, "r2740-print-agent: using %s: %s\n", folder.path().c_str(), note.c_str());
  said = note;
  agent::JobLock lock;
  if (!lock.lock(folder, job.id, why)) return Outcome::kBusy;
  // Another agent may have handled it between the listing and the lock.
  if (!agent::StillWaiting(user, &job)) {
    std::printf("job %d: handled elsewhere\n", job.id);
    return Outcome::kDone;
  }
  if (o.action.empty()) {
    *why = NoDisplay();
    if (!why->empty()) return Outcome::kFailed;
  }

  std::string temporary = folder.makeTemporaryFolder("job-" + std::to_string(job.id) + "-", why);
  if (temporary.empty()) return Outcome::kFailed;
  struct Cleanup {
    const agent::PrivateFolder& folder;
    std::string dir, ppd;
    ~Cleanup() {
      if (!ppd.empty()) unlink(ppd.c_str());
      folder.removeTemporaryFolder(dir);
    }
  } cleanup{folder, temporary, ""};
  ScopedTmpDir tmpdir(temporary);
  auto queue = host::CupsQueue(job.realQueue, why);
  if (!queue) return Outcome::kFailed;
  cleanup.ppd = queue->ppdPath;
  auto ppd = host::PPDFile::open(queue->ppdPath, why);
  if (!ppd) return Outcome::kFailed;
  std::string settingsPath = temporary + "/settings.plist";

  std::vector<std::string> args = {DialogProgram(), "--queue", job.realQueue, "--settings-only", "--settings-out",
                                   settingsPath};
  for (const auto& a : JobArguments(job)) args.push_back(a);
  for (const auto& a : agent::DialogArguments(job, ppd->get())) args.push_back(a);
  if (!o.bundles.empty()) args.insert(args.end(), {"--bundles", o.bundles});
  if (!o.action.empty()) args.insert(args.end(), {"--action", o.action});
  for (const auto& s : o.sets) args.insert(args.end(), {"--set", s});
  (void)agent::SetWaitingReason(user, job, "Waiting for its user to answer the R2740 print dialog");  // a hint only
  *why = RunDialog(args, lock.fd());
  if (!why->empty()) return Outcome::kFailed;

  if (!std::filesystem::exists(settingsPath)) {
    if (!agent::CancelJob(user, job, why)) return Outcome::kFailed;
    std::printf("job %d (%s): cancelled\n", job.id, host::PlainText(job.name).c_str());
    return Outcome::kDone;
  }
  auto settings = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(settingsPath));
  if (!settings) return *why = "the dialog's settings cannot be read", Outcome::kFailed;
  // The same options the dialog sends with a job of its own.
  auto options = host::JobOptions(settings, ppd->get());
  if (!agent::PrintJob(user, job, options, why)) return Outcome::kFailed;
  std::printf("job %d (%s): sent to %s with %zu options\n", job.id, host::PlainText(job.name).c_str(),
              job.realQueue.c_str(), options.size());
  return Outcome::kDone;
}

// The exit statuses of --once (man page).
enum AgentExit { kAgentOK = 0, kAgentJobLeft = 1, kAgentUsage = 2, kAgentNoCupsd = 3 };

// A watching agent opens a failed dialog again after a pause, kDialogTries
// times in all; then the job stays held until the user asks for it.
constexpr int kDialogTries = 3;
using Clock = std::chrono::steady_clock;
struct Tries {
  int failed = 0;
  Clock::time_point next;
  bool toldBusy = false;
};

double RetryPause() {
  const char* v = getenv("R2740_AGENT_RETRY_SECONDS");
  char* end = nullptr;
  double s = v && *v ? std::strtod(v, &end) : 20;
  return end && *end ? 20 : std::clamp(s, 0.1, 3600.0);
}

// Every waiting job once (only o.job when given); kAgentJobLeft when a job
// was left waiting, kAgentNoCupsd when cupsd did not answer (said unless
// `quiet`). `tries` is null for a single pass.
AgentExit Pass(const Options& o, const std::string& user, std::map<int, Tries>* tries, bool quiet) {
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
                   "r2740-print-agent: %s lacks an ask policy of r2740-setup-queue, so anyone could have sent its "
                   "jobs in your name; no dialog opens for them until the administrator runs: r2740-setup-queue %s "
                   "(r2740-setup-queue --check %s tells what is missing)\n",
                   ask.c_str(), real.c_str(), real.c_str());
  if (o.job) {
    std::erase_if(jobs, [&](const agent::HeldJob& j) { return j.id != o.job; });
    if (jobs.empty()) {
      std::fprintf(stderr, "r2740-print-agent: job %d is not a job of %s waiting on an ask queue\n", o.job,
                   user.c_str());
      return kAgentJobLeft;
    }
  }
  if (tries)  // jobs gone from the ask queues are forgotten
    std::erase_if(*tries, [&](const auto& t) {
      return std::none_of(jobs.begin(), jobs.end(), [&](const agent::HeldJob& j) { return j.id == t.first; });
    });
  const double pause = RetryPause();
  auto afterPause = [&] {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(pause));
  };
  for (auto& job : jobs) {
    if (gStop) break;
    Tries* t = tries ? &(*tries)[job.id] : nullptr;
    if (t && (t->failed >= kDialogTries || Clock::now() < t->next)) continue;
    Outcome outcome = Handle(o, user, job, &why);
    std::fflush(stdout);
    if (outcome == Outcome::kDone) {
      if (t) tries->erase(job.id);
      continue;
    }
    code = kAgentJobLeft;
    const std::string head =
        "r2740-print-agent: job " + std::to_string(job.id) + " (" + host::PlainText(job.name) + "): ";
    const std::string reopen = "r2740-print-agent --job " + std::to_string(job.id);
    if (outcome == Outcome::kBusy) {
      if (t) t->next = afterPause();
      if (!t || !t->toldBusy) std::fprintf(stderr, "%s%s\n", head.c_str(), why.c_str());
      if (t) t->toldBusy = true;
      continue;
    }
    std::string next, state;
    if (t && ++t->failed < kDialogTries) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", pause);
      t->next = afterPause();
      next = "; the dialog opens again in " + std::string(seconds) + " s (try " + std::to_string(t->failed + 1) +
             " of " + std::to_string(kDialogTries) + ")";
      state = "The R2740 print dialog failed; the print agent opens it again in " + std::string(seconds) + " s";
    } else {
      next = std::string("; the job stays held") + (t ? " after " + std::to_string(kDialogTries) + " tries" : "") +
             ". To open its dialog again, run: " + reopen;
      state = "The R2740 print dialog failed; to open it again, run: " + reopen;
    }
    std::fprintf(stderr, "%s%s%s\n", head.c_str(), why.c_str(), next.c_str());
    (void)agent::SetWaitingReason(user, job, state);  // a hint only
  }
  return code;
}

// When the next failed dialog is due again, if any.
std::optional<Clock::time_point> NextTry(const std::map<int, Tries>& tries) {
  std::optional<Clock::time_point> next;
  for (const auto& [id, t] : tries)
    if (t.failed < kDialogTries && (!next || t.next < *next)) next = t.next;
  return next;
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
    if (i + 1 >= argc ||
        (a != "--action" && a != "--set" && a != "--bundles" && a != "--interval" && a != "--job")) {
      std::fprintf(stderr, "r2740-print-agent: unknown argument or missing value \"%s\" (see --help)\n", a.c_str());
      return kAgentUsage;
    }
    std::string v = argv[++i];
    if (a == "--action") o.action = v;
    else if (a == "--set") o.sets.push_back(v);
    else if (a == "--bundles") o.bundles = v;
    else if (a == "--job") {
      o.job = v.size() <= 9 && v.find_first_not_of("0123456789") == std::string::npos ? std::atoi(v.c_str()) : 0;
      if (o.job <= 0) {
        std::fprintf(stderr, "r2740-print-agent: --job is a job number, not \"%s\"\n", v.c_str());
        return kAgentUsage;
      }
      o.once = true;
    } else {
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

  // Job folders an agent that was killed left behind.
  {
    agent::PrivateFolder folder;
    std::string why, note;
    if (folder.open(&why, &note)) (void)folder.removeStaleJobFolders();  // Handle says what is wrong with it
  }
  if (o.once) return Pass(o, user, nullptr, false);
  std::map<int, Tries> tries;
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
    auto retry = NextTry(tries);
    if (events != agent::Notified::kNone || now >= lookAt || (retry && now >= *retry)) {
      AgentExit code = Pass(o, user, &tries, down);
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
