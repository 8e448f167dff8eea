// Jobs are addressed as lp, lpmove and cancel address them: job-uri
// "ipp://localhost/jobs/ID" on the server libcups is set up for, with the
// agent's user as requesting-user-name.
#include "agent.h"
#include "policies.h"
#include "printing/typed_options.h"

#include <cups/cups.h>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>

#include "jobs.h"

namespace agent {

std::string PrinterURI(const std::string& queue) { return "ipp://localhost/printers/" + queue; }

bool IsAskPolicy(const std::string& name) {
  bool ask = false;
  return policy::IsOurs(name, nullptr, &ask) && ask;
}

std::string LastError(const char* what) { return host::CupsRequestError(what); }

ipp_t* Ask(ipp_t* request, const char* resource) {
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, resource);
  if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
    ippDelete(response);
    return nullptr;
  }
  return response;
}

namespace {

std::string JobURI(int id) { return "ipp://localhost/jobs/" + std::to_string(id); }

ipp_t* JobRequest(ipp_op_t op, const std::string& user, int id) {
  ipp_t* request = ippNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, JobURI(id).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user.c_str());
  return request;
}

// What an ask queue says of itself: the real queue it names (empty for any
// other queue) and its printer-op-policy.
struct AskQueue {
  std::string real, policy;
};
AskQueue AskQueueOf(const std::string& queue) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterURI(queue).c_str());
  static const char* const kWanted[] = {kRealQueueDefault, "printer-op-policy"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
  ipp_t* response = Ask(request, "/");
  AskQueue q;
  for (auto [name, out] : {std::pair{kRealQueueDefault, &q.real}, std::pair{"printer-op-policy", &q.policy}})
    if (ipp_attribute_t* a = response ? ippFindAttribute(response, name, IPP_TAG_ZERO) : nullptr)
      if (const char* v = ippGetString(a, 0, nullptr)) *out = v;
  ippDelete(response);
  return q;
}

std::string Text(ipp_attribute_t* a) {
  const char* v = ippGetString(a, 0, nullptr);
  return v ? v : "";
}

std::string QueueOfURI(const std::string& uri) {
  size_t slash = uri.rfind('/');
  return slash == std::string::npos ? "" : uri.substr(slash + 1);
}

// One job of a Get-Jobs / Get-Job-Attributes response, from `a` to the
// next separator; the attribute after it is returned in *next.
HeldJob ReadJob(ipp_t* response, ipp_attribute_t* a, ipp_attribute_t** next) {
  HeldJob job;
  int state = 0;
  for (; a && ippGetName(a); a = ippNextAttribute(response)) {
    std::string name = ippGetName(a);
    if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
    if (name == "job-id") job.id = ippGetInteger(a, 0);
    else if (name == "job-state") state = ippGetInteger(a, 0);
    else if (name == "job-originating-user-name") job.owner = Text(a);
    else if (name == "job-printer-uri") job.askQueue = QueueOfURI(Text(a));
    else if (name == "job-name") job.name = Text(a);
    char value[2048];
    ippAttributeString(a, value, sizeof value);
    job.attributes.emplace_back(name, value);
  }
  *next = a;
  job.held = state == IPP_JSTATE_HELD;
  if (state != IPP_JSTATE_HELD && state != IPP_JSTATE_PENDING) job.id = 0;
  return job;
}

// Jobs of the response that wait on an ask queue and are the user's. A job
// is the user's when cupsd says its job-originating-user-name is: the
// r2740-ask policy makes cupsd take that name only from an authenticated
// user, so jobs on an ask queue without it are left alone (noted in
// *unprotected, ask queue -> real queue).
void Collect(ipp_t* response, const std::string& user, std::map<std::string, AskQueue>* askQueues,
             std::vector<HeldJob>* jobs, std::map<std::string, std::string>* unprotected) {
  ipp_attribute_t* a = ippFirstAttribute(response);
  while (a) {
    while (a && ippGetGroupTag(a) != IPP_TAG_JOB) a = ippNextAttribute(response);
    if (!a) break;
    HeldJob job = ReadJob(response, a, &a);
    if (a) a = ippNextAttribute(response);  // past the separator
    if (job.id <= 0 || job.owner != user || job.askQueue.empty()) continue;
    auto it = askQueues->find(job.askQueue);
    if (it == askQueues->end()) it = askQueues->emplace(job.askQueue, AskQueueOf(job.askQueue)).first;
    const AskQueue& q = it->second;
    if (q.real.empty() || q.real == job.askQueue) continue;
    if (!IsAskPolicy(q.policy)) {
      if (unprotected) (*unprotected)[job.askQueue] = q.real;
      continue;
    }
    job.realQueue = q.real;
    jobs->push_back(std::move(job));
  }
}

}  // namespace

bool WaitingJobs(const std::string& user, std::vector<HeldJob>* jobs, std::string* error,
                 std::map<std::string, std::string>* unprotected) {
  jobs->clear();
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user.c_str());
  ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
  ipp_t* response = Ask(request, "/");
  if (!response) {
    *error = LastError("cannot list the jobs");
    return false;
  }
  std::map<std::string, AskQueue> askQueues;
  Collect(response, user, &askQueues, jobs, unprotected);
  ippDelete(response);
  return true;
}

bool StillWaiting(const std::string& user, HeldJob* job) {
  ipp_t* request = JobRequest(IPP_OP_GET_JOB_ATTRIBUTES, user, job->id);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
  ipp_t* response = Ask(request, "/");
  if (!response) return false;
  std::map<std::string, AskQueue> askQueues;
  std::vector<HeldJob> found;
  Collect(response, user, &askQueues, &found, nullptr);
  ippDelete(response);
  if (found.size() != 1 || found[0].id != job->id) return false;
  *job = std::move(found[0]);
  return true;
}

namespace {

const std::string* Attribute(const HeldJob& job, const std::string& name) {
  for (const auto& [k, v] : job.attributes)
    if (k == name) return &v;
  return nullptr;
}

// A choice of the PPD's option, matched as cupsd matches job options
// (case-insensitive, booleans as True/False).
const char* Choice(ppd_file_t* ppd, const std::string& keyword, const std::string& value) {
  ppd_option_t* option = ppdFindOption(ppd, keyword.c_str());
  if (!option || keyword != option->keyword) return nullptr;
  ppd_choice_t* choice = ppdFindChoice(option, value.c_str());
  return choice ? choice->choice : nullptr;
}

std::string PageSizeOfMedia(ppd_file_t* ppd, const std::string& media) {
  if (const char* c = Choice(ppd, "PageSize", media)) return c;
  for (pwg_media_t* pwg : {pwgMediaForPWG(media.c_str()), pwgMediaForLegacy(media.c_str())})
    if (pwg && pwg->ppd)
      if (const char* c = Choice(ppd, "PageSize", pwg->ppd)) return c;
  return "";
}

}  // namespace

std::vector<std::string> DialogArguments(const HeldJob& job, ppd_file_t* ppd) {
  std::vector<std::string> args;
  auto add = [&](const char* flag, const std::string& value) {
    if (value.empty()) return;
    args.push_back(flag);
    args.push_back(value);
  };
  if (const std::string* v = Attribute(job, "copies")) add("--copies", *v);
  // The application may have said either; the filters collate when either
  // asks for it, and nothing said leaves the dialog's default.
  const std::string* handling = Attribute(job, host::kCollateOption);
  const std::string* collate = Attribute(job, "collate");
  if (handling || collate) {
    bool collated = (collate && *collate == "true") || (handling && *handling != host::kUncollated);
    add("--collate", collated ? "true" : "false");
  }
  if (const std::string* v = Attribute(job, host::kPageRangesOption)) add("--page-ranges", *v);
  if (const std::string* v = Attribute(job, host::kOrientationOption)) {
    for (const char* o : {"portrait", "landscape", "reverse-landscape", "reverse-portrait"})
      if (*v == o) add("--orientation", o);
  }
  if (!ppd) return args;
  if (const std::string* v = Attribute(job, "media")) add("--paper", PageSizeOfMedia(ppd, v->substr(0, v->find(','))));
  if (const std::string* v = Attribute(job, "sides")) {
    const char* duplex = *v == "one-sided" ? "None" : *v == "two-sided-long-edge" ? "DuplexNoTumble"
                         : *v == "two-sided-short-edge" ? "DuplexTumble" : "";
    if (const char* c = Choice(ppd, host::kDuplexOption, duplex)) add("--duplex", c);
  }
  for (const auto& [name, value] : job.attributes) {
    const char* c = Choice(ppd, name, value);
    if (!c) continue;
    if (name == host::kPageSizeOption) add("--paper", c);
    else if (name == host::kDuplexOption) add("--duplex", c);
    else add("--option", name + "=" + c);
  }
  return args;
}

namespace {

// cupsd cannot delete a job attribute (Set-Job-Attributes stores a
// deleteAttribute value as it is), so the job's own choices that the
// dialog's options no longer carry are overwritten with what the dialog
// means by their absence, and media and sides follow PageSize and Duplex.
// Collation needs no neutral value: every job's options carry it.
host::OptionList Overrides(const HeldJob& job, const host::OptionList& options) {
  auto value = [&](const char* name) -> const std::string* {
    for (const auto& [k, v] : options)
      if (k == name) return &v;
    return nullptr;
  };
  host::OptionList out;
  for (const auto& [name, neutral] : std::initializer_list<std::pair<const char*, const char*>>{
           {"copies", "1"}, {host::kPageRangesOption, "1-2147483647"}, {host::kOrientationOption, "3"}})
    if (Attribute(job, name) && !value(name)) out.emplace_back(name, neutral);
  if (Attribute(job, "media"))
    if (const std::string* paper = value(host::kPageSizeOption)) out.emplace_back("media", *paper);
  if (Attribute(job, "sides"))
    if (const std::string* duplex = value(host::kDuplexOption))
      out.emplace_back("sides", *duplex == "DuplexNoTumble" ? "two-sided-long-edge"
                                : *duplex == "DuplexTumble"  ? "two-sided-short-edge"
                                                             : "one-sided");
  // What the application's dialog typed into the PPD's fields is in clear;
  // the ticket now carries it encrypted, as the user confirmed it.
  for (const auto& typed : pm::kTypedOptions)
    if (Attribute(job, typed.keyword)) out.emplace_back(typed.keyword, "None");
  return out;
}

}  // namespace

bool PrintJob(const std::string& user, const HeldJob& job, const host::OptionList& options, std::string* error) {
  cups_option_t* cupsOptions = nullptr;
  int count = 0;
  for (const auto& list : {options, Overrides(job, options)})
    for (const auto& [k, v] : list) {
      // The lp options the dialog does not show come from the user's
      // defaults only where the application chose none; banner pages are
      // fixed when a job is made (cupsd refuses to change job-sheets).
      if (k == "job-sheets" || (host::IsPassedOnOption(k) && Attribute(job, k))) continue;
      count = cupsAddOption(k.c_str(), v.c_str(), count, &cupsOptions);
    }
  ipp_t* request = JobRequest(IPP_OP_SET_JOB_ATTRIBUTES, user, job.id);
  cupsEncodeOptions2(request, count, cupsOptions, IPP_TAG_JOB);
  cupsFreeOptions(count, cupsOptions);
  // The waiting reason goes with the job's last change on the ask queue.
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_TEXT, kStateMessage, nullptr, ("Sent on to " + job.realQueue).c_str());
  ipp_t* response = Ask(request, "/jobs");
  if (!response) return *error = LastError("cannot set the options on the job"), false;
  ippDelete(response);

  request = JobRequest(IPP_OP_CUPS_MOVE_JOB, user, job.id);
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", nullptr, PrinterURI(job.realQueue).c_str());
  response = Ask(request, "/jobs");
  if (!response) return *error = LastError(("cannot move the job to " + job.realQueue).c_str()), false;
  ippDelete(response);

  if (!job.held) return true;
  response = Ask(JobRequest(IPP_OP_RELEASE_JOB, user, job.id), "/jobs");
  if (!response) return *error = LastError("cannot release the job"), false;
  ippDelete(response);
  return true;
}

bool SetWaitingReason(const std::string& user, const HeldJob& job, const std::string& text) {
  ipp_t* request = JobRequest(IPP_OP_SET_JOB_ATTRIBUTES, user, job.id);
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_TEXT, kStateMessage, nullptr, text.substr(0, 1023).c_str());
  ipp_t* response = Ask(request, "/jobs");
  ippDelete(response);
  return response != nullptr;
}

bool CancelJob(const std::string& user, const HeldJob& job, std::string* error) {
  ipp_t* response = Ask(JobRequest(IPP_OP_CANCEL_JOB, user, job.id), "/jobs");
  if (!response) return *error = LastError("cannot cancel the job"), false;
  ippDelete(response);
  return true;
}

int Subscribe(const std::string& user, std::string* error) {
  ipp_t* request = ippNewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user.c_str());
  ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
  static const char* const kEvents[] = {"job-created", "job-state-changed"};
  ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events", 2, nullptr, kEvents);
  ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", kLeaseSeconds);
  ipp_t* response = Ask(request, "/");
  ipp_attribute_t* id = response ? ippFindAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER) : nullptr;
  int subscription = id ? ippGetInteger(id, 0) : 0;
  if (!subscription) *error = response ? "cupsd gave no subscription" : LastError("no IPP notifications");
  ippDelete(response);
  return subscription;
}

bool Renew(const std::string& user, int subscription) {
  ipp_t* request = ippNewRequest(IPP_OP_RENEW_SUBSCRIPTION);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", subscription);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user.c_str());
  ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", kLeaseSeconds);
  ipp_t* response = Ask(request, "/");
  ippDelete(response);
  return response != nullptr;
}

Notified Events(const std::string& user, int subscription, int* sequence) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_NOTIFICATIONS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user.c_str());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids", subscription);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers", *sequence);
  ipp_t* response = Ask(request, "/");
  if (!response) return Notified::kGone;
  Notified got = Notified::kNone;
  for (ipp_attribute_t* a = ippFindAttribute(response, "notify-sequence-number", IPP_TAG_INTEGER); a;
       a = ippFindNextAttribute(response, "notify-sequence-number", IPP_TAG_INTEGER)) {
    got = Notified::kEvents;
    if (ippGetInteger(a, 0) >= *sequence) *sequence = ippGetInteger(a, 0) + 1;
  }
  ippDelete(response);
  return got;
}

namespace {

constexpr const char* kFolderName = "r2740-agent";

int OpenFolderAt(int dir, const char* name) {
  return openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The folder of `fd` is this user's and no other user may write in it
// (`strict`: nobody else may even enter it, mode 0700).
bool OwnFolder(int fd, bool strict, std::string* why) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) *why = "not a folder";
  else if (st.st_uid != geteuid()) *why = "owned by user id " + std::to_string(st.st_uid);
  else if (strict && (st.st_mode & 07777) != 0700) *why = "not mode 0700";
  else if (!strict && (st.st_mode & 022)) *why = "writable by other users";
  else return true;
  return false;
}

// A name in a folder only this user may write that holds no file of ours:
// a leftover of this user (or root); removed, or moved aside when it is a
// folder with files in it.
bool Replace(int dir, const std::string& name, std::string* why) {
  if (unlinkat(dir, name.c_str(), 0) == 0 || unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT)
    return true;
  std::string aside = "." + name + ".stale-" + std::to_string(getpid()) + "-" + std::to_string(time(nullptr));
  if (renameat(dir, name.c_str(), dir, aside.c_str()) == 0) return true;
  *why = "cannot replace " + name + ": " + std::strerror(errno);
  return false;
}

// r2740-agent in the checked folder `base`, made 0700 when missing.
int SubFolder(int base, std::string* why) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (mkdirat(base, kFolderName, 0700) != 0 && errno != EEXIST) {
      *why = std::string("cannot make ") + kFolderName + ": " + std::strerror(errno);
      return -1;
    }
    int fd = OpenFolderAt(base, kFolderName);
    if (fd >= 0) {
      struct stat st;
      if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && ((st.st_mode & 077) == 0 || fchmod(fd, 0700) == 0))
        return fd;
      close(fd);
      // Only root can have put it there: not ours to remove.
      *why = std::string(kFolderName) + " there is not this user's";
      return -1;
    }
    if (errno != ELOOP && errno != ENOTDIR) {
      *why = std::string("cannot open ") + kFolderName + ": " + std::strerror(errno);
      return -1;
    }
    if (!Replace(base, kFolderName, why)) return -1;
  }
  *why = std::string(kFolderName) + " keeps being replaced";
  return -1;
}

std::string HomeFolder() {
  if (const char* h = getenv("HOME"); h && *h == '/') return h;
  passwd* pw = getpwuid(geteuid());
  return pw && pw->pw_dir ? pw->pw_dir : "";
}

}  // namespace

namespace {

// Removes `name` in `dir` and, when a folder, all it holds, opened without
// following links; false when something stayed.
bool RemoveTree(int dir, const char* name, int depth = 0) {
  if (unlinkat(dir, name, 0) == 0 || errno == ENOENT) return true;
  if ((errno != EISDIR && errno != EPERM) || depth > 16) return false;
  int fd = OpenFolderAt(dir, name);
  DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!d) {
    if (fd >= 0) close(fd);
    return false;
  }
  bool all = true;
  while (dirent* e = readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      all = RemoveTree(dirfd(d), e->d_name, depth + 1) && all;
  closedir(d);
  return unlinkat(dir, name, AT_REMOVEDIR) == 0 && all;
}

// The job of a temporary folder's name ("job-ID-XXXXXX"), or 0.
int JobOfFolder(const std::string& name) {
  if (name.rfind("job-", 0) != 0) return 0;
  size_t dash = name.find('-', 4);
  if (dash == std::string::npos || dash == 4 || dash > 13 || name.size() != dash + 7) return 0;
  if (name.find_first_not_of("0123456789", 4) != dash) return 0;
  return std::stoi(name.substr(4, dash - 4));
}

}  // namespace

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}
PrivateFolder& PrivateFolder::operator=(PrivateFolder&& other) noexcept {
  std::swap(fd_, other.fd_);
  std::swap(path_, other.path_);
  return *this;
}
PrivateFolder::~PrivateFolder() {
  if (fd_ >= 0) close(fd_);
}

bool PrivateFolder::open(std::string* error, std::string* note) {
  struct Candidate {
    std::string base;
    bool strict;  // the base itself must be 0700
  };
  std::vector<Candidate> candidates;
  if (const char* run = getenv("XDG_RUNTIME_DIR"); run && *run == '/') candidates.push_back({run, true});
  const char* cache = getenv("XDG_CACHE_HOME");
  std::string home = HomeFolder();
  if (cache && *cache == '/') candidates.push_back({cache, false});
  else if (!home.empty()) candidates.push_back({home + "/.cache", false});
  std::string reasons;
  note->clear();
  for (const auto& c : candidates) {
    if (!c.strict) (void)mkdir(c.base.c_str(), 0700);  // may exist: checked below
    std::string why;
    int base = ::open(c.base.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (base < 0) why = std::strerror(errno);
    int fd = base >= 0 && OwnFolder(base, c.strict, &why) ? SubFolder(base, &why) : -1;
    if (base >= 0) close(base);
    if (fd >= 0) {
      if (fd_ >= 0) close(fd_);
      fd_ = fd;
      path_ = c.base + "/" + kFolderName;
      *note = reasons;
      return true;
    }
    reasons += (reasons.empty() ? "" : "; ") + c.base + " is not a private folder of this user (" + why + ")";
  }
  *error = reasons.empty() ? "no private folder: neither XDG_RUNTIME_DIR nor HOME is set" : reasons;
  return false;
}

std::string PrivateFolder::makeTemporaryFolder(const std::string& prefix, std::string* error) const {
  std::string path = path_ + "/" + prefix + "XXXXXX";
  if (!mkdtemp(path.data())) {
    *error = "cannot make a temporary folder in " + path_ + ": " + std::strerror(errno);
    return "";
  }
  return path;
}

void PrivateFolder::removeTemporaryFolder(const std::string& path) const {
  if (path.size() > path_.size() + 1 && path.compare(0, path_.size() + 1, path_ + "/") == 0 &&
      path.find('/', path_.size() + 1) == std::string::npos)
    (void)RemoveTree(fd_, path.c_str() + path_.size() + 1);  // best effort: left over, swept at the next start
}

int PrivateFolder::removeStaleJobFolders() const {
  int dup = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  DIR* d = dup >= 0 ? fdopendir(dup) : nullptr;
  if (!d) {
    if (dup >= 0) close(dup);
    return 0;
  }
  std::vector<std::pair<int, std::string>> found;
  while (dirent* e = readdir(d)) {
    struct stat st;
    int job = JobOfFolder(e->d_name);
    if (job > 0 && fstatat(fd_, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == geteuid())
      found.emplace_back(job, e->d_name);
  }
  closedir(d);
  int removed = 0;
  for (const auto& [job, name] : found) {
    // A live agent, or the dialog it left running, holds the job's lock.
    JobLock lock;
    std::string busy;
    if (lock.lock(*this, job, &busy) && RemoveTree(fd_, name.c_str())) ++removed;
  }
  return removed;
}

JobLock::~JobLock() {
  if (fd_ >= 0) {
    unlinkat(dir_, name_.c_str(), 0);
    close(fd_);
  }
  if (dir_ >= 0) close(dir_);
}

bool JobLock::lock(const PrivateFolder& folder, int jobId, std::string* error) {
  name_ = "job-" + std::to_string(jobId) + ".lock";
  if (dir_ < 0) dir_ = fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0);
  if (dir_ < 0) return *error = std::string("no private folder: ") + std::strerror(errno), false;
  int fd = -1;
  for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
    fd = openat(dir_, name_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid()) break;
    if (fd < 0 && errno != ELOOP && errno != EISDIR && errno != ENXIO && errno != EACCES)
      return *error = "cannot open " + name_ + " in " + folder.path() + ": " + std::strerror(errno), false;
    if (fd >= 0) close(fd);
    fd = -1;
    if (!Replace(dir_, name_, error)) return false;
  }
  if (fd < 0) return *error = name_ + " in " + folder.path() + " keeps being replaced", false;
  // The holder removes the file when done: a lock on a removed file is no
  // lock, since the next agent makes a new one.
  struct stat held, named;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &held) != 0 ||
      fstatat(dir_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || held.st_ino != named.st_ino ||
      held.st_dev != named.st_dev) {
    close(fd);
    return *error = "another print agent of this user has job " + std::to_string(jobId) + " open", false;
  }
  fd_ = fd;
  return true;
}

}  // namespace agent
