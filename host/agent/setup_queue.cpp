// r2740-setup-queue QUEUE: makes the ask queue QUEUE-Ask beside a real
// queue, as lpadmin would (CUPS-Add-Modify-Printer with the real queue's
// PPD), over libcups on the server CUPS_SERVER / client.conf names. The ask
// queue keeps its jobs: every job is held on arrival, and the queue itself
// is stopped, so that a job someone releases by hand still waits for the
// print agent instead of printing without the dialog.
//
// Who owns a job is only as true as cupsd makes it: without authentication
// cupsd believes the requesting-user-name a client sends. So the command
// also keeps two policies of ours in cupsd.conf, fetched and put back
// through cupsd's own /admin/conf interface as cupsctl does (cupsd restarts
// by itself), and names them in printer-op-policy. Both ask for "AuthType
// Basic" themselves: on the local socket libcups answers that with the
// peer's credentials, without a prompt, whatever DefaultAuthType says.
#include <cups/cups.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent.h"
#include "host.h"
#include "jobs.h"
#include "system/layout.h"

namespace {

constexpr const char* kUsage = R"(usage: r2740-setup-queue QUEUE
       r2740-setup-queue --remove QUEUE

Creates (or updates) the queue QUEUE-Ask beside the CUPS queue QUEUE, with
QUEUE's PPD and device URI: applications print to QUEUE-Ask, and each
user's r2740-print-agent opens the R2740 print dialog for the job and sends
it on to QUEUE. Jobs wait held (job-hold-until indefinite) while their
user's agent is not running. The ask queue names QUEUE in its option
r2740-real-queue (lpoptions -p QUEUE-Ask shows it).

It also adds (or brings up to date) the policies r2740 and r2740-ask in
cupsd.conf and sets them as printer-op-policy of QUEUE and QUEUE-Ask: the
ticket's user and section names and passwords are private to the job's
owner, only the authenticated owner (or the system group) may change,
move, hold, release or cancel a job, and only an authenticated user may
send a job to QUEUE-Ask. Every other line of cupsd.conf stays as it was.

--remove deletes QUEUE-Ask, gives QUEUE back the policy it had before, and
takes the two policies out of cupsd.conf once no queue uses them.
Run it as an administrator of cupsd (root, or a member of its SystemGroup).
)";

constexpr const char* kConfResource = "/admin/conf/cupsd.conf";
// Our block in cupsd.conf runs from a line beginning with kBegin to the
// line kEnd. A file whose last line had no end of line gets one before the
// block, said in the marker so that --remove gives back the same bytes.
constexpr const char* kBegin = "# r2740-setup-queue: policies of the R2740 queues, up to the line \"";
constexpr const char* kEnd = "# r2740-setup-queue end\n";
constexpr const char* kAddedNewline = " (an end of line was added above)";

// The operations our policies decide; every other one keeps what the
// server's default policy says (its <Limit> blocks are copied without ours).
const std::vector<const char*> kReadOps = {"Get-Jobs", "Get-Job-Attributes"};
const std::vector<const char*> kJobOps = {
    "Hold-Job",         "Release-Job",       "Restart-Job",   "Purge-Jobs",        "Set-Job-Attributes",
    "Reprocess-Job",    "Cancel-Current-Job", "Suspend-Current-Job", "Resume-Job", "Cancel-My-Jobs",
    "Close-Job",        "CUPS-Move-Job",     "Cancel-Job",    "CUPS-Authenticate-Job", "CUPS-Get-Document"};
const std::vector<const char*> kCreateOps = {"Create-Job", "Print-Job", "Print-URI", "Validate-Job"};
const std::vector<const char*> kSendOps = {"Send-Document", "Send-URI"};

constexpr const char* kAdmin = "/admin/";

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  size_t b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool Is(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Lines with their end of line.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

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

// Splits cupsd.conf into the administrator's bytes and our block (empty
// when there is none). False when a block begins and never ends.
bool SplitOurs(const std::string& text, std::string* theirs, std::string* ours, std::string* error) {
  size_t begin = std::string::npos;
  for (size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at + 1))
    if (at == 0 || text[at - 1] == '\n') {
      begin = at;
      break;
    }
  if (begin == std::string::npos) {
    *theirs = text;
    ours->clear();
    return true;
  }
  size_t end = text.find(kEnd, begin);
  if (end == std::string::npos || (end > 0 && text[end - 1] != '\n')) {
    *error = "cupsd.conf holds a damaged r2740-setup-queue block (no line \"" + Trim(kEnd) + "\"); mend it by hand";
    return false;
  }
  end += std::strlen(kEnd);
  *ours = text.substr(begin, end - begin);
  size_t cut = begin;
  if (ours->substr(0, ours->find('\n')).find(kAddedNewline) != std::string::npos && cut > 0) --cut;
  *theirs = text.substr(0, cut) + text.substr(end);
  return true;
}

// The server's default policy: its name (DefaultPolicy, else "default")
// and its lines, without <Policy> and </Policy>. False when it has none.
bool DefaultPolicy(const std::string& conf, std::vector<std::string>* body, std::string* name) {
  *name = "default";
  auto lines = Lines(conf);
  for (const auto& l : lines) {
    auto w = Words(l);
    if (w.size() == 2 && Is(w[0], "DefaultPolicy")) *name = w[1];
  }
  bool in = false;
  for (const auto& l : lines) {
    std::string t = Trim(l);
    if (!in) {
      in = Is(t, ("<Policy " + *name + ">").c_str());
      continue;
    }
    if (Is(t, "</Policy>")) return true;
    body->push_back(l);
  }
  return false;
}

bool Ours(const std::string& op, const std::vector<std::vector<const char*>>& lists) {
  for (const auto& list : lists)
    for (const char* o : list)
      if (Is(op, o)) return true;
  return false;
}

std::string LimitBlock(const std::vector<const char*>& ops, const char* require) {
  std::string s = "  <Limit";
  for (const char* o : ops) s += std::string(" ") + o;
  return s + ">\n    AuthType Basic\n    Require " + require + "\n    Order deny,allow\n  </Limit>\n";
}

// One of our policies: the server's default policy less the operations we
// decide, with our limits and private job values put in their place.
std::string Policy(const char* name, bool ask, const std::vector<std::string>& base) {
  std::vector<std::vector<const char*>> mine = {kReadOps, kJobOps};
  if (ask) mine.insert(mine.end(), {kCreateOps, kSendOps});
  std::string s = std::string("<Policy ") + name + ">\n  JobPrivateAccess @OWNER @SYSTEM\n  JobPrivateValues default";
  for (const char* key : host::kPrivateTicketKeys) s += std::string(" ") + key;
  s += "\n" + LimitBlock(kReadOps, "valid-user") + LimitBlock(kJobOps, "user @OWNER @SYSTEM");
  if (ask) s += LimitBlock(kCreateOps, "valid-user") + LimitBlock(kSendOps, "user @OWNER @SYSTEM");
  for (size_t i = 0; i < base.size(); ++i) {
    std::string t = Trim(base[i]);
    if (t.rfind("SubscriptionPrivate", 0) == 0) s += base[i];
    if (t.size() < 7 || strncasecmp(t.c_str(), "<Limit ", 7) != 0 || t.back() != '>') continue;
    std::string left;
    for (const auto& op : Words(t.substr(7, t.size() - 8)))
      if (!Ours(op, mine)) left += " " + op;
    size_t end = i + 1;
    while (end < base.size() && !Is(Trim(base[end]), "</Limit>")) ++end;
    if (!left.empty()) {
      s += "  <Limit" + left + ">\n";
      for (size_t j = i + 1; j <= end && j < base.size(); ++j) s += base[j];
    }
    i = end;
  }
  return s + "</Policy>\n";
}

std::string OurBlock(const std::string& theirs, std::string* error) {
  std::vector<std::string> base;
  std::string name;
  if (!DefaultPolicy(theirs, &base, &name)) {
    *error = "cupsd.conf has no <Policy " + name + "> (its DefaultPolicy) to take the other operations from";
    return "";
  }
  bool joined = !theirs.empty() && theirs.back() != '\n';
  return std::string(joined ? "\n" : "") + kBegin + Trim(kEnd) + "\"" + (joined ? kAddedNewline : "") +
         "; r2740-setup-queue --remove QUEUE takes them away\n" + Policy(agent::kRealPolicy, false, base) +
         Policy(agent::kAskPolicy, true, base) + kEnd;
}

// Puts cupsd.conf and waits (bounded) until the restarted cupsd offers our
// policies (`wanted`) or no longer does.
bool PutAndAwait(std::string text, const std::string& queue, bool wanted, std::string* error) {
  if (!Transfer(true, &text, error)) return false;
  for (int i = 0; i < 450; ++i) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, agent::PrinterURI(queue).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-op-policy-supported");
    ipp_t* response = agent::Ask(request, "/");
    int found = 0;
    ipp_attribute_t* a = response ? ippFindAttribute(response, "printer-op-policy-supported", IPP_TAG_ZERO) : nullptr;
    for (int v = 0; a && v < ippGetCount(a); ++v) {
      const char* p = ippGetString(a, v, nullptr);
      found += p && (!strcmp(p, agent::kRealPolicy) || !strcmp(p, agent::kAskPolicy));
    }
    ippDelete(response);
    if (a && found == (wanted ? 2 : 0)) return true;
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

// The queues other than `except` whose printer-op-policy is one of ours.
std::vector<std::string> QueuesWithOurPolicies(const std::string& except) {
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  static const char* const kWanted[] = {"printer-name", "printer-op-policy"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
  ipp_t* response = agent::Ask(request, "/");
  std::vector<std::string> out;
  std::string name, policy;
  auto flush = [&] {
    if (!name.empty() && name != except && (policy == agent::kRealPolicy || policy == agent::kAskPolicy))
      out.push_back(name);
    name.clear();
    policy.clear();
  };
  for (ipp_attribute_t* a = response ? ippFirstAttribute(response) : nullptr; a; a = ippNextAttribute(response)) {
    if (!ippGetName(a)) {
      flush();
      continue;
    }
    const char* v = ippGetString(a, 0, nullptr);
    if (!strcmp(ippGetName(a), "printer-name")) name = v ? v : "";
    if (!strcmp(ippGetName(a), "printer-op-policy")) policy = v ? v : "";
  }
  flush();
  ippDelete(response);
  return out;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "r2740-setup-queue: %s\n", why.c_str());
  return 1;
}

int Remove(const std::string& real, const std::string& ask) {
  std::string why, conf, theirs, ours;
  // What the real queue had before our first run, kept on the ask queue.
  std::string before = PrinterValue(ask, agent::kRealPolicyBefore);
  if (before.empty()) before = "default";
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_DELETE_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, agent::PrinterURI(ask).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippDelete(agent::Ask(request, kAdmin));
  if (cupsLastError() > IPP_STATUS_OK_CONFLICTING && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)
    return Fail(agent::LastError(("cupsd refused to delete " + ask).c_str()));
  if (PrinterValue(real, "printer-op-policy") == agent::kRealPolicy && !SetPolicy(real, before, &why)) return Fail(why);
  if (!Transfer(false, &conf, &why) || !SplitOurs(conf, &theirs, &ours, &why)) return Fail(why);
  auto users = QueuesWithOurPolicies(real);
  if (!ours.empty() && users.empty() && !PutAndAwait(theirs, real, false, &why)) return Fail(why);
  std::printf("%s removed; %s has the policy %s again\n", ask.c_str(), real.c_str(), before.c_str());
  if (!ours.empty() && !users.empty())
    std::printf("the policies %s and %s stay in cupsd.conf for %s\n", agent::kRealPolicy, agent::kAskPolicy,
                users.front().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("r2740-setup-queue %s\n", sys::Version());
    return 0;
  }
  bool help = args.size() == 1 && args[0] == "--help";
  bool remove = args.size() == 2 && args[0] == "--remove";
  if (help || (!remove && (args.size() != 1 || args[0][0] == '-')) || (remove && args[1][0] == '-')) {
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
  if (remove) {
    unlink(queue->ppdPath.c_str());
    return Remove(real, ask);
  }
  struct RemovePPD {
    std::string path;
    ~RemovePPD() { unlink(path.c_str()); }
  } ppdFile{queue->ppdPath};

  // The policies first: a queue can only name a policy cupsd has.
  std::string conf, theirs, ours;
  if (!Transfer(false, &conf, &why) || !SplitOurs(conf, &theirs, &ours, &why)) return Fail(why);
  std::string block = OurBlock(theirs, &why);
  if (block.empty()) return Fail(why);
  if (theirs + block != conf && !PutAndAwait(theirs + block, real, true, &why)) return Fail(why);

  std::string before = PrinterValue(real, "printer-op-policy");
  if (before == agent::kRealPolicy) before = PrinterValue(ask, agent::kRealPolicyBefore);
  if (before.empty()) before = "default";

  std::string uri = agent::PrinterURI(ask);
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, queue->deviceURI.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr,
               (real + " (choose R2740 options on your desktop)").c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-state-message", nullptr, agent::kAskQueueMessage);
  ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_STOPPED);
  ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
  ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-shared", 0);
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "job-hold-until-default", nullptr, "indefinite");
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, agent::kRealQueueDefault, nullptr, real.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, agent::kRealPolicyBefore, nullptr, before.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-op-policy", nullptr, agent::kAskPolicy);
  ippDelete(cupsDoFileRequest(CUPS_HTTP_DEFAULT, request, kAdmin, queue->ppdPath.c_str()));
  if (cupsLastError() > IPP_STATUS_OK_CONFLICTING)
    return Fail(agent::LastError(("cupsd refused " + ask).c_str()));
  if (!SetPolicy(real, agent::kRealPolicy, &why)) return Fail(why);
  std::printf("%s: jobs wait there for the print agent, which sends them to %s\n", ask.c_str(), real.c_str());
  return 0;
}
