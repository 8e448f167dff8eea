// CUPS queues: destinations, their PPDs and device URIs.
#include <cups/cups.h>
#include <cups/ppd.h>
#include <unistd.h>

#include <climits>

#include "host.h"
#include "jobs.h"

namespace host {

namespace {

bool RequestFailed() { return cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE; }

// The device URI through Get-Printer-Attributes, for servers that do not put
// it among the destination's options.
std::string DeviceURIFromServer(const std::string& name) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", 0, "/printers/%s",
                   name.c_str());
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "device-uri");
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  std::string result;
  if (response) {
    if (ipp_attribute_t* attr = ippFindAttribute(response, "device-uri", IPP_TAG_URI)) {
      if (const char* v = ippGetString(attr, 0, nullptr)) result = v;
    }
    ippDelete(response);
  }
  return result;
}

}  // namespace

Queue ManualQueue(const std::string& ppdPath, const std::string& id, const std::string& deviceURI) {
  Queue q;
  q.id = id;
  q.ppdPath = ppdPath;
  q.deviceURI = deviceURI;
  return q;
}

std::vector<Queue> CupsQueues(std::string* error) {
  std::vector<Queue> queues;
  if (error) error->clear();
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  if (count == 0 && RequestFailed()) {
    if (error) *error = CupsRequestError("cannot list queues");
    cupsFreeDests(count, dests);
    return queues;
  }
  for (int i = 0; i < count; ++i) {
    if (dests[i].instance) continue;  // instances share the queue's printer
    Queue q;
    q.id = dests[i].name;
    q.name = dests[i].name;
    if (const char* uri = cupsGetOption("device-uri", dests[i].num_options, dests[i].options)) q.deviceURI = uri;
    queues.push_back(std::move(q));
  }
  cupsFreeDests(count, dests);
  return queues;
}

std::optional<Queue> CupsQueue(const std::string& name, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<Queue> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (name.empty()) return fail("no queue name given");
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  if (count == 0 && RequestFailed()) {
    cupsFreeDests(count, dests);
    return fail(CupsRequestError("cannot look up queue " + name));
  }
  cups_dest_t* dest = cupsGetDest(name.c_str(), nullptr, count, dests);
  if (!dest) {
    cupsFreeDests(count, dests);
    return fail("no CUPS queue named " + name);
  }
  Queue q;
  q.id = dest->name;
  q.name = dest->name;
  if (const char* uri = cupsGetOption("device-uri", dest->num_options, dest->options)) q.deviceURI = uri;
  cupsFreeDests(count, dests);
  if (q.deviceURI.empty()) q.deviceURI = DeviceURIFromServer(q.name);

  char path[PATH_MAX] = "";
  time_t modtime = 0;
  http_status_t status = cupsGetPPD3(CUPS_HTTP_DEFAULT, q.name.c_str(), &modtime, path, sizeof(path));
  if (status != HTTP_STATUS_OK) {
    if (path[0]) unlink(path);
    std::string why = cupsLastErrorString() ? cupsLastErrorString() : httpStatus(status);
    return fail("queue " + name + " has no PPD to fetch (" + why + ")");
  }
  q.ppdPath = path;
  q.temporaryPPD = true;
  return q;
}

}  // namespace host
