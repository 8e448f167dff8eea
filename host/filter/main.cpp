// r2740-filter: a CUPS filter. It completes the job's R2740 ticket with the
// queue's own plug-in bundles (as our dialog does when it prints), refuses a
// job the panels refuse, and runs the printer's driver filter with the
// completed options. Data goes to standard output only; every message to
// standard error with its CUPS prefix; nothing is kept between jobs.
//
// The options it trusts are the job's as cupsd hands them over (argv[5]):
// cupsd checked who sent them and on which queue, and the panels check
// what they mean, as they would in a dialog.
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver.h"
#include "host.h"
#include "stored_profiles.h"
#include "system/system.h"
#include "ticket.h"

namespace {

constexpr int kExitOK = 0;
// cupsd stops a job whose filter exits with any other status ("stopped",
// job-completed-with-errors): it is neither printed nor retried by itself.
constexpr int kExitStopJob = 1;

void Say(const char* prefix, const std::string& line) { std::fprintf(stderr, "%s: %s\n", prefix, line.c_str()); }

int Stop(const std::string& why) {
  Say("ERROR", why);
  return kExitStopJob;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string Self() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// The colour panel asks R2740Helper whether the user may manage profiles;
// the helper keeps a note of an unreachable service in the user's runtime
// folder, else in /tmp. A filter's user has no session: the job gets a
// runtime folder of its own in TMPDIR, gone before the driver starts.
class JobRuntimeFolder {
 public:
  JobRuntimeFolder() {
    std::string tmp = Env("TMPDIR");
    if (tmp.empty()) tmp = "/tmp";
    had_ = std::getenv("XDG_RUNTIME_DIR") != nullptr;
    before_ = Env("XDG_RUNTIME_DIR");
    std::string tmpl = tmp + "/r2740-filter-XXXXXX";
    if (::mkdtemp(tmpl.data())) {  // 0700, this user's
      path_ = tmpl;
      ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
    }
  }
  ~JobRuntimeFolder() { release(); }
  void release() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    path_.clear();
    if (had_) ::setenv("XDG_RUNTIME_DIR", before_.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
  }

 private:
  std::string path_, before_;
  bool had_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || argc > 7) {
    return Stop("r2740-filter: usage: r2740-filter job-id user title copies options [file] (run by cupsd)");
  }
  const std::string ppdPath = Env("PPD"), printer = Env("PRINTER");
  if (ppdPath.empty()) return Stop("r2740-filter: no PPD (the PPD variable cupsd sets for a queue's filters is empty)");
  if (printer.empty()) return Stop("r2740-filter: no queue name (the PRINTER variable is empty)");
  const char* file = argc == 7 ? argv[6] : nullptr;
  if (file && ::access(file, R_OK) != 0) return Stop(std::string("r2740-filter: cannot read the job's file ") + file);

  std::string why, driver;
  std::vector<host::StoredProfileChoice> stored;
  {
    auto ppd = host::PPDFile::open(ppdPath, &why);
    if (!ppd) return Stop("r2740-filter: " + why);
    stored = host::StoredProfileChoices(ppd->get());
    if (!filter::DriverFilter(ppd->get(), Env("CUPS_SERVERBIN"), Self(), &driver, &why))
      return Stop("r2740-filter: " + why + "; the job was not printed");
  }

  // The ticket names the job's owner, as cupsd gives it (under the queue's
  // policies, the user it authenticated), not the filter's user lp.
  if (!sys::SetActingUser(argv[2]))
    Say("INFO", "r2740-filter: the job's user name is no login name; the ticket names the filter's user");
  JobRuntimeFolder runtime;
  filter::Completion done =
      filter::CompleteTicket(ppdPath, printer, Env("DEVICE_URI"), filter::ParseOptions(argv[5]));
  runtime.release();
  using Result = filter::Completion::Result;
  switch (done.result) {
    case Result::kFailed:
      return Stop("r2740-filter: the R2740 panels could not be run (" + done.reason + "); the job was not printed");
    case Result::kRefused:
      // cupsd keeps a job's first error as its message: the panel's own words.
      for (const auto& alert : done.alerts) Say("ERROR", alert);
      Say("ERROR", "r2740-filter: the job was not printed: " + done.reason);
      return kExitStopJob;
    case Result::kUnchanged:
      Say("INFO", "R2740 ticket checked");
      break;
    case Result::kCompleted:
      Say("INFO", "R2740 ticket completed");
      break;
  }
  for (const auto& alert : done.alerts) Say("INFO", alert);
  // A stored profile chosen in a dialog that shows only PPD choices.
  host::ApplyStoredProfiles(stored, &done.options);

  if (!driver.empty()) {
    std::fflush(stderr);
    std::vector<std::string> args(argv, argv + argc);
    return Stop("r2740-filter: " + filter::RunDriver(driver, args, filter::FormatOptions(done.options)));
  }
  if (!filter::PassThrough(file, &why)) return Stop("r2740-filter: " + why);
  return kExitOK;
}
