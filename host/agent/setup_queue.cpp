// r2740-setup-queue QUEUE: makes the ask queue QUEUE-Ask beside a real
// queue, as lpadmin would (CUPS-Add-Modify-Printer with the real queue's
// PPD), over libcups on the server CUPS_SERVER / client.conf names. The ask
// queue keeps its jobs: every job is held on arrival, and the queue itself
// is stopped, so that a job someone releases by hand still waits for the
// print agent instead of printing without the dialog.
//
// Who owns a job is only as true as cupsd makes it: without authentication
// cupsd believes the requesting-user-name a client sends. So the command
// also keeps a pair of policies of ours in cupsd.conf, fetched and put back
// through cupsd's own /admin/conf interface as cupsctl does (cupsd restarts
// by itself), and names them in printer-op-policy. Each pair is built on
// the policy the real queue had (policies.h), so a queue never becomes
// weaker than its administrator made it. Ours ask for a password
// ("AuthType Basic") where the base asked for less: on the local socket
// libcups answers that with the peer's credentials, without a prompt.
#include <cups/cups.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent.h"
#include "host.h"
#include "jobs.h"
#include "policies.h"
#include "refresh.h"
#include "system/layout.h"

namespace {

constexpr const char* kUsage = R"(usage: r2740-setup-queue [--force] QUEUE
       r2740-setup-queue --remove QUEUE
       r2740-setup-queue --check QUEUE
       r2740-setup-queue --refresh QUEUE
       r2740-setup-queue --refresh-all

Creates (or updates) the queue QUEUE-Ask beside the CUPS queue QUEUE, with
QUEUE's PPD and device URI: applications print to QUEUE-Ask, and each
user's r2740-print-agent opens the R2740 print dialog for the job and sends
it on to QUEUE. Jobs wait held (job-hold-until indefinite) while their
user's agent is not running. The ask queue names QUEUE in its option
r2740-real-queue (lpoptions -p QUEUE-Ask shows it).

It also adds (or brings up to date) a pair of policies in cupsd.conf, built
on the policy QUEUE had (r2740 and r2740-ask on "default", r2740-NAME and
r2740-NAME-ask on a policy NAME), and sets them as printer-op-policy of
QUEUE and QUEUE-Ask. They keep every limit of that policy and add to it:
the ticket's user and section names and passwords are private to the job's
owner, only the authenticated owner (or the system group) may change,
move, hold, release or cancel a job, and only an authenticated user may
send a job to QUEUE-Ask. Every other line of cupsd.conf stays as it was.
Policy names beginning with r2740 belong to this command; a block of ours
changed by hand is replaced only with --force.

--remove deletes QUEUE-Ask, gives QUEUE back the policy it had before, and
takes our policies out of cupsd.conf once no queue uses them.
--check changes nothing: it says whether QUEUE and QUEUE-Ask have our
current policies and what to run if not (exit status 0 only then).
--refresh walks QUEUE's printer (as the colour panel does when a dialog
opens, into your own profile file) and makes the stored profiles its menus
offer choices of QUEUE's and QUEUE-Ask's profile options, so that every
dialog and lp -o can choose them; setting up QUEUE does it too.
--refresh-all refreshes every queue whose PPD names R2740 panels (the
package's daily timer runs it).
Run it as an administrator of cupsd (root, or a member of its SystemGroup).
)";

constexpr const char* kConfResource = "/admin/conf/cupsd.conf";
constexpr const char* kAdmin = "/admin/";
namespace policy = agent::policy;

// cupsd.conf as cupsd has it, through a file of our own that nobody else
// can replace (cupsTempFd, removed at once).
bool Transfer(bool put, std::string* text, std::string* error) {
  char name[1024];
  int fd = cupsTempFd(name, sizeof name);
  if (fd < 0) return *error = "cannot make a temporary file", false;
  unlink(name);
  bool ok = true;
  if (put) ok = write(fd, text->data(), text->size()) == static_cast<ssize_t>(text->size()) && lseek(fd, 0, SEEK_SET) == 0;
  http_status_t status = ok ? (put ? cupsPutFd(CUPS_HTTP_DEFAULT, kConfResource, fd)
                                   : cupsGetFd(CUPS_HTTP_DEFAULT, kConfResource, fd))
                            : HTTP_STATUS_ERROR;
  if (status != HTTP_STATUS_OK && status != HTTP_STATUS_CREATED) {
    close(fd);
    *error = std::string("cupsd refused ") + (put ? "the new " : "to give ") + "cupsd.conf: " + httpStatus(status);
    return false;
  }
  if (!put) {
    text->clear();
    char buf[8192];
    ssize_t n;
    (void)lseek(fd, 0, SEEK_SET);  // a failure shows as an empty read below
    while ((n = read(fd, buf, sizeof buf)) > 0) text->append(buf, static_cast<size_t>(n));
    if (text->empty()) ok = false, *error = "cupsd gave an empty cupsd.conf";
  }
  close(fd);
  return ok;
}

bool FetchConf(policy::Conf* conf, std::string* error) {
  std::string text;
  return Transfer(false, &text, error) && policy::Parse(text, conf, error);
}

// Puts cupsd.conf and waits (bounded) until the restarted cupsd offers the
// policies `present` and none of `absent`.
bool PutAndAwait(std::string text, const std::string& queue, const std::set<std::string>& present,
                 const std::set<std::string>& absent, std::string* error) {
  if (!Transfer(true, &text, error)) return false;
  for (int i = 0; i < 450; ++i) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, agent::PrinterURI(queue).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-op-policy-supported");
    ipp_t* response = agent::Ask(request, "/");
    std::set<std::string> offered;
    ipp_attribute_t* a = response ? ippFindAttribute(response, "printer-op-policy-supported", IPP_TAG_ZERO) : nullptr;
    for (int v = 0; a && v < ippGetCount(a); ++v)
      if (const char* p = ippGetString(a, v, nullptr)) offered.insert(p);
    ippDelete(response);
    bool done = a && std::all_of(present.begin(), present.end(), [&](auto& p) { return offered.count(p); }) &&
                std::none_of(absent.begin(), absent.end(), [&](auto& p) { return offered.count(p); });
    if (done) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  *error = "cupsd did not take the new cupsd.conf within 90 s (it restarts once no job is printing)";
  return false;
}

// A printer attribute as text; empty when the queue or the attribute is missing.
std::string PrinterValue(const std::string& queue, const char* name) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, agent::PrinterURI(queue).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name);
  ipp_t* response = agent::Ask(request, "/");
  ipp_attribute_t* a = response ? ippFindAttribute(response, name, IPP_TAG_ZERO) : nullptr;
  const char* v = a ? ippGetString(a, 0, nullptr) : nullptr;
  std::string out = v ? v : "";
  ippDelete(response);
  return out;
}

bool SetPolicy(const std::string& queue, const std::string& policy, std::string* error) {
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, agent::PrinterURI(queue).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-op-policy", nullptr, policy.c_str());
  ipp_t* response = agent::Ask(request, kAdmin);
  ippDelete(response);
  if (!response) *error = agent::LastError(("cupsd refused the policy " + policy + " for " + queue).c_str());
  return response != nullptr;
}

// Every queue whose printer-op-policy is one of ours, with that policy.
std::map<std::string, std::string> QueuesWithOurPolicies() {
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  static const char* const kWanted[] = {"printer-name", "printer-op-policy"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
  ipp_t* response = agent::Ask(request, "/");
  std::map<std::string, std::string> out;
  std::string name, pol;
  auto flush = [&] {
    if (!name.empty() && policy::IsOurs(pol)) out[name] = pol;
    name.clear();
    pol.clear();
  };
  for (ipp_attribute_t* a = response ? ippFirstAttribute(response) : nullptr; a; a = ippNextAttribute(response)) {
    if (!ippGetName(a)) {
      flush();
      continue;
    }
    const char* v = ippGetString(a, 0, nullptr);
    if (!strcmp(ippGetName(a), "printer-name")) name = v ? v : "";
    if (!strcmp(ippGetName(a), "printer-op-policy")) pol = v ? v : "";
  }
  flush();
  ippDelete(response);
  return out;
}

// The policy the real queue is (or was, before ours) on: what our pair
// is built on and what --remove gives back.
std::string BaseOf(const std::string& real, const std::string& ask, const policy::Conf& conf) {
  std::string current = PrinterValue(real, "printer-op-policy"), base;
  if (!policy::IsOurs(current, &base)) return current.empty() ? conf.defaultPolicy : current;
  std::string recorded = PrinterValue(ask, agent::kRealPolicyBefore);
  return recorded.empty() || policy::IsOurs(recorded) ? base : recorded;
}

// The blocks of ours that the queues in `users` name, as they stand.
std::vector<std::pair<std::string, std::string>> InUse(const policy::Conf& conf,
                                                       const std::map<std::string, std::string>& users) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [queue, name] : users) {
    const policy::Block* b = conf.Find(name);
    bool listed = std::any_of(out.begin(), out.end(), [&](auto& o) { return o.first == name; });
    if (b && !listed) out.push_back({name, conf.Text(*b)});
  }
  return out;
}

std::set<std::string> OursIn(const policy::Conf& conf) {
  std::set<std::string> out;
  for (const auto& b : conf.blocks)
    if (policy::IsOurs(b.name)) out.insert(b.name);
  return out;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "r2740-setup-queue: %s\n", why.c_str());
  return 1;
}

// Takes out the blocks of ours that no queue names any more.
bool DropUnused(const std::string& real, std::string* why) {
  policy::Conf conf;
  if (!FetchConf(&conf, why)) return false;
  auto users = QueuesWithOurPolicies();
  std::string text = policy::Rewrite(conf, InUse(conf, users));
  if (text == conf.Text()) return true;
  std::set<std::string> kept, gone = OursIn(conf);
  for (const auto& [queue, name] : users) kept.insert(name), gone.erase(name);
  return PutAndAwait(text, real, kept, gone, why);
}

int Remove(const std::string& real, const std::string& ask) {
  std::string why;
  policy::Conf conf;
  if (!FetchConf(&conf, &why)) return Fail(why);
  std::string current = PrinterValue(real, "printer-op-policy"), before = BaseOf(real, ask, conf);
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_DELETE_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, agent::PrinterURI(ask).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippDelete(agent::Ask(request, kAdmin));
  if (cupsLastError() > IPP_STATUS_OK_CONFLICTING && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)
    return Fail(agent::LastError(("cupsd refused to delete " + ask).c_str()));
  if (policy::IsOurs(current) && !SetPolicy(real, before, &why)) return Fail(why);
  if (!DropUnused(real, &why)) return Fail(why);
  std::printf("%s removed; %s has the policy %s\n", ask.c_str(), real.c_str(),
              policy::IsOurs(current) ? before.c_str() : current.c_str());
  for (const auto& [queue, name] : QueuesWithOurPolicies())
    std::printf("the policy %s stays in cupsd.conf for %s\n", name.c_str(), queue.c_str());
  return 0;
}

std::string Describe(policy::State s) {
  switch (s) {
    case policy::State::kUnchanged: return "unchanged since r2740-setup-queue wrote it";
    case policy::State::kEarlierVersion: return "written by an earlier version of r2740-setup-queue";
    case policy::State::kChanged: break;
  }
  return "changed by hand since r2740-setup-queue wrote it (or it carries no fingerprint of it)";
}

// --check: one line per queue and per policy; 0 when all is in place.
int Check(const std::string& real, const std::string& ask) {
  std::string why;
  policy::Conf conf;
  if (!FetchConf(&conf, &why)) return Fail(why);
  const std::string base = BaseOf(real, ask, conf);
  bool ok = true, force = false;
  for (const auto& [queue, wanted] : {std::pair{real, policy::PairName(base, false)}, {ask, policy::PairName(base, true)}}) {
    std::string has = PrinterValue(queue, "printer-op-policy");
    if (has.empty()) {
      std::printf("%s: no such queue\n", queue.c_str());
      ok = false;
    } else if (has != wanted) {
      std::printf("%s: has the policy %s, not %s (r2740-setup-queue's, built on %s)\n", queue.c_str(), has.c_str(),
                  wanted.c_str(), base.c_str());
      ok = false;
    } else {
      std::printf("%s: has the policy %s, built on %s\n", queue.c_str(), has.c_str(), base.c_str());
    }
    int copies = 0;
    for (const auto& b : conf.blocks) copies += b.name == wanted;
    const policy::Block* b = conf.Find(wanted);
    std::string built = policy::Build(conf, wanted, &why);
    if (!b) {
      std::printf("policy %s: not in cupsd.conf\n", wanted.c_str());
      ok = false;
      continue;
    }
    policy::State state = policy::StateOf(conf, *b);
    force |= state == policy::State::kChanged;
    bool current = !built.empty() && policy::Same(conf, *b, built);
    std::printf("policy %s: in cupsd.conf%s, %s, %s\n", wanted.c_str(),
                copies > 1 ? (" " + std::to_string(copies) + " times").c_str() : "", Describe(state).c_str(),
                current ? "up to date" : built.empty() ? ("cannot be built again: " + why).c_str()
                                                         : ("not up to date with " + base).c_str());
    ok &= copies == 1 && current && state == policy::State::kUnchanged;
  }
  if (ok) {
    std::printf("all in place\n");
    return 0;
  }
  std::printf("run: r2740-setup-queue %s%s\n", force ? "--force " : "", real.c_str());
  return 1;
}

int Setup(const host::Queue& queue, const std::string& real, const std::string& ask, bool force) {
  std::string why;
  // The policies first: a queue can only name a policy cupsd has.
  policy::Conf conf;
  if (!FetchConf(&conf, &why)) return Fail(why);
  const std::string base = BaseOf(real, ask, conf);
  if (std::string bad = policy::UnusableBase(base); !bad.empty())
    return Fail(real + " has the policy " + base + ": " + bad + "; give it another policy");
  const std::string realPolicy = policy::PairName(base, false), askPolicy = policy::PairName(base, true);
  auto users = QueuesWithOurPolicies();
  auto blocks = InUse(conf, users);  // the other queues' keep theirs as they are
  for (const std::string& name : {realPolicy, askPolicy}) {
    std::string text = policy::Build(conf, name, &why);
    if (text.empty()) return Fail(why);
    for (const auto& b : conf.blocks)
      if (b.name == name && !policy::Same(conf, b, text) && policy::StateOf(conf, b) == policy::State::kChanged &&
          !force)
        return Fail("the policy " + name + " in cupsd.conf was changed by hand since r2740-setup-queue wrote it " +
                    "(or carries no fingerprint of it); look at it, then run r2740-setup-queue --force " + real +
                    " to replace it");
    std::erase_if(blocks, [&](auto& b) { return b.first == name; });
    blocks.push_back({name, text});
  }
  std::string text = policy::Rewrite(conf, blocks);
  std::set<std::string> present;
  for (const auto& b : blocks) present.insert(b.first);
  if (text != conf.Text() && !PutAndAwait(text, real, present, {}, &why)) return Fail(why);

  std::string uri = agent::PrinterURI(ask);
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, queue.deviceURI.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr,
               (real + " (choose R2740 options on your desktop)").c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-state-message", nullptr, agent::kAskQueueMessage);
  ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_STOPPED);
  ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
  ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-shared", 0);
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "job-hold-until-default", nullptr, "indefinite");
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, agent::kRealQueueDefault, nullptr, real.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, agent::kRealPolicyBefore, nullptr, base.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-op-policy", nullptr, askPolicy.c_str());
  ippDelete(cupsDoFileRequest(CUPS_HTTP_DEFAULT, request, kAdmin, queue.ppdPath.c_str()));
  if (cupsLastError() > IPP_STATUS_OK_CONFLICTING)
    return Fail(agent::LastError(("cupsd refused " + ask).c_str()));
  if (!SetPolicy(real, realPolicy, &why)) return Fail(why);
  // A pair the queues used before (another base, an earlier version) goes.
  if (!DropUnused(real, &why)) return Fail(why);
  std::printf("%s: jobs wait there for the print agent, which sends them to %s\n", ask.c_str(), real.c_str());
  std::printf("%s has the policy %s and %s the policy %s, built on %s\n", real.c_str(), realPolicy.c_str(),
              ask.c_str(), askPolicy.c_str(), base.c_str());
  return 0;
}

// Every queue whose PPD names R2740 panels, ask queues aside (each is
// refreshed with its real queue).
int RefreshAll() {
  std::string why;
  auto queues = host::CupsQueues(&why);
  if (queues.empty() && !why.empty()) return Fail(why);
  int failed = 0;
  for (const auto& q : queues) {
    if (!PrinterValue(q.name, agent::kRealQueueDefault).empty()) continue;
    auto opened = host::CupsQueue(q.name, &why);
    if (!opened) continue;
    auto ppd = host::PPDFile::open(opened->ppdPath, &why);
    bool ours = ppd && !ppd->dialogExtensions().empty();
    ppd.reset();
    unlink(opened->ppdPath.c_str());
    if (!ours) continue;
    std::string report;
    if (agent::RefreshStoredProfiles(q.name, &report, &why)) std::printf("%s\n", report.c_str());
    else failed = Fail(q.name + ": " + why);
  }
  return failed;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("r2740-setup-queue %s\n", sys::Version());
    return 0;
  }
  bool help = args.size() == 1 && args[0] == "--help";
  if (args.size() == 1 && args[0] == "--refresh-all") return RefreshAll();
  std::string mode = args.size() == 2 ? args[0] : "";
  bool valid = (args.size() == 1 && args[0][0] != '-') ||
               (args.size() == 2 && (mode == "--remove" || mode == "--check" || mode == "--force" || mode == "--refresh") && args[1][0] != '-');
  if (help || !valid) {
    std::fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }
  const std::string real = args.back();
  const std::string ask = real + agent::kAskSuffix;
  std::string why;
  auto queue = host::CupsQueue(real, &why);
  if (!queue) {
    std::fprintf(stderr, "r2740-setup-queue: %s\n", why.c_str());
    return 3;
  }
  struct RemovePPD {
    std::string path;
    ~RemovePPD() { unlink(path.c_str()); }
  } ppdFile{queue->ppdPath};
  if (mode == "--remove") return Remove(real, ask);
  if (mode == "--check") return Check(real, ask);
  if (mode == "--refresh") {
    std::string report;
    if (!agent::RefreshStoredProfiles(real, &report, &why)) return Fail(why);
    std::printf("%s\n", report.c_str());
    return 0;
  }
  if (int code = Setup(*queue, real, ask, mode == "--force")) return code;
  // The ask queue is there: the profiles go into both PPDs.
  std::string report;
  if (!agent::RefreshStoredProfiles(real, &report, &why)) {
    std::fprintf(stderr, "r2740-setup-queue: the printer's stored profiles were not offered as choices: %s\n", why.c_str());
    return 0;
  }
  std::printf("%s\n", report.c_str());
  return 0;
}
