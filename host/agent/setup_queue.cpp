// r2740-setup-queue QUEUE: makes the ask queue QUEUE-Ask beside a real
// queue, as lpadmin would (CUPS-Add-Modify-Printer with the real queue's
// PPD), over libcups on the server CUPS_SERVER / client.conf names. The ask
// queue keeps its jobs: every job is held on arrival, and the queue itself
// is stopped, so that a job someone releases by hand still waits for the
// print agent instead of printing without the dialog.
#include <cups/cups.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "agent.h"
#include "host.h"
#include "system/layout.h"

namespace {

constexpr const char* kUsage = R"(usage: r2740-setup-queue QUEUE

Creates (or updates) the queue QUEUE-Ask beside the CUPS queue QUEUE, with
QUEUE's PPD and device URI: applications print to QUEUE-Ask, and each
user's r2740-print-agent opens the R2740 print dialog for the job and sends
it on to QUEUE. Jobs wait held (job-hold-until indefinite) while their
user's agent is not running. The ask queue names QUEUE in its option
r2740-real-queue (lpoptions -p QUEUE-Ask shows it).
Run it as an administrator of cupsd (root, or a member of its SystemGroup).
)";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("r2740-setup-queue %s\n", sys::Version());
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs(kUsage, argc == 2 && std::string(argv[1]) == "--help" ? stdout : stderr);
    return argc == 2 && std::string(argv[1]) == "--help" ? 0 : 2;
  }
  const std::string real = argv[1];
  const std::string ask = real + agent::kAskSuffix;
  std::string why;
  auto queue = host::CupsQueue(real, &why);
  if (!queue) {
    std::fprintf(stderr, "r2740-setup-queue: %s\n", why.c_str());
    return 3;
  }
  std::string uri = "ipp://localhost/printers/" + ask;
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
  ippDelete(cupsDoFileRequest(CUPS_HTTP_DEFAULT, request, "/admin/", queue->ppdPath.c_str()));
  unlink(queue->ppdPath.c_str());
  if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
    std::fprintf(stderr, "r2740-setup-queue: cupsd refused %s: %s\n", ask.c_str(), cupsLastErrorString());
    return 1;
  }
  std::printf("%s: jobs wait there for the print agent, which sends them to %s\n", ask.c_str(), real.c_str());
  return 0;
}
