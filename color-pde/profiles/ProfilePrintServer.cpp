// Asking a CUPS print server which printer one of its queues prints to.
// This runs in the dialog, as the user, against a server anybody on the
// network may pretend to be; so:
// - the connection is our own, never the default server's, and requests go
//   out with libcups' HTTP and IPP calls, not cupsDoRequest: those answer
//   a 401 by sending what they have (the root certificate of a local
//   server, a Kerberos ticket, a password from the callback); ours takes
//   a 401 as no answer, and no Authorization field and no user name is
//   ever sent;
// - the whole lookup runs in a thread of its own and its connection is
//   shut down at the deadline, whatever the server sends meanwhile;
// - an answer is a device URI to walk, trusted no further than the walk
//   it starts: known schemes, bounded length, no blanks or control bytes.
#include "ProfilePrintServer.h"

#include <cups/cups.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace R2740_COLOR_NS {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLookupMs = 1000;
// The queue's server and one more.
constexpr int kMaxServers = 2;
constexpr int kMaxMembers = 8;
constexpr size_t kMaxUriLength = HTTP_MAX_URI - 1;
constexpr size_t kMaxQueueNameLength = 127;
// A device-uri and a few member-uris are far below this.
constexpr size_t kMaxAnswerBytes = 64 * 1024;
// Silence longer than this has the deadline checked.
constexpr double kReadSliceSeconds = 0.1;

struct ServerQueue {
  std::string host;
  int port = 631;
  bool tls = false;
  std::string resource;  // "/printers/NAME" or "/classes/NAME"
};

// A queue name as cupsd accepts one.
bool AcceptableQueueName(const std::string& name) {
  if (name.empty() || name.size() > kMaxQueueNameLength) return false;
  for (unsigned char c : name)
    if (c <= ' ' || c == 0x7f || c == '/' || c == '\\' || c == '?' || c == '\'' || c == '"' || c == '#')
      return false;
  return true;
}

// The server queue a device URI names, or nullopt. A server's answer may
// name another server's queue, but never an implicitclass:// queue: those
// belong to the desktop's own cups-browsed.
std::optional<ServerQueue> ServerQueueOf(const std::string& uri, bool fromServer) {
  if (uri.empty() || uri.size() > kMaxUriLength) return std::nullopt;
  for (unsigned char c : uri)
    if (c <= ' ' || c == 0x7f) return std::nullopt;
  char scheme[HTTP_MAX_URI], user[HTTP_MAX_URI], host[HTTP_MAX_URI], resource[HTTP_MAX_URI];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_MOST, uri.c_str(), scheme, sizeof scheme, user, sizeof user, host, sizeof host,
                      &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
      !host[0])
    return std::nullopt;
  ServerQueue q;
  q.host = host;
  const std::string s = scheme;
  if (s == "implicitclass" && !fromServer) {
    // cups-browsed's queue: implicitclass://NAME@SERVER[:PORT]/ names the
    // server's queue NAME; without a server there is nobody to ask.
    if (!user[0] || !AcceptableQueueName(user)) return std::nullopt;
    q.port = port > 0 ? port : 631;
    q.resource = std::string("/printers/") + user;
    return q;
  }
  if (s != "ipp" && s != "ipps" && s != "http" && s != "https") return std::nullopt;
  std::string path = resource;
  path = path.substr(0, path.find('?'));
  for (const char* kind : {"/printers/", "/classes/"}) {
    if (path.rfind(kind, 0) != 0) continue;
    if (!AcceptableQueueName(path.substr(std::strlen(kind)))) return std::nullopt;
    q.port = port;
    q.tls = s == "ipps" || s == "https";
    q.resource = path;
    return q;
  }
  return std::nullopt;
}

// A device URI the walk may start from, as the server gave it.
bool AcceptableDeviceUri(const std::string& uri) {
  if (uri.empty() || uri.size() > kMaxUriLength) return false;
  for (unsigned char c : uri)
    if (c <= ' ' || c == 0x7f) return false;
  for (const char* known : {"socket://", "lpd://", "ipp://", "ipps://", "http://", "https://", "dnssd://", "mdns://"})
    if (uri.rfind(known, 0) == 0) return true;
  return false;
}

struct Answer {
  std::string deviceUri;             // empty: none given
  std::vector<std::string> members;  // a class's member-uris
};

// Reads an IPP answer through the connection, at most kMaxAnswerBytes.
struct BoundedReader {
  http_t* http;
  size_t left = kMaxAnswerBytes;
  static ssize_t Read(void* context, ipp_uchar_t* buffer, size_t length) {
    auto* r = static_cast<BoundedReader*>(context);
    if (length > r->left) return -1;
    size_t got = 0;
    while (got < length) {
      ssize_t n = httpRead2(r->http, reinterpret_cast<char*>(buffer) + got, length - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    r->left -= got;
    return static_cast<ssize_t>(got);
  }
};

// One lookup, its deadline and the connection open at the moment.
class Lookup {
 public:
  explicit Lookup(Clock::time_point deadline) : deadline_(deadline) {}

  // Waits for the lookup's thread; at the deadline cuts its connection so
  // that whatever it waits for fails at once.
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ended_.wait_until(lock, deadline_, [&] { return done_; })) {
      expired_ = true;
      // Reads end; the little still to write fits the socket's buffer.
      if (fd_ >= 0) ::shutdown(fd_, SHUT_RD);
      ended_.wait(lock, [&] { return done_; });
    }
  }
  void Done() {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    ended_.notify_all();
  }

  // Get-Printer-Attributes for `resource` at the server of `q`; nullopt
  // when it does not answer, or not with success.
  std::optional<Answer> Ask(const ServerQueue& q, const std::string& resource) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    // A plain connection first, bounded by the time left; TLS is asked for
    // on it (HTTP upgrade), so that the deadline can cut the handshake too.
    http_t* http = httpConnect2(q.host.c_str(), q.port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                                static_cast<int>(left), nullptr);
    if (!http) return std::nullopt;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (expired_) {
        httpClose(http);
        return std::nullopt;
      }
      fd_ = httpGetFd(http);
    }
    httpSetTimeout(http, kReadSliceSeconds, &Lookup::KeepWaiting, this);
    std::optional<Answer> answer;
    if (!q.tls || httpEncryption(http, HTTP_ENCRYPTION_REQUIRED) == 0) answer = Request(http, q, resource);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fd_ = -1;
    }
    httpClose(http);
    return answer;
  }

 private:
  static int KeepWaiting(http_t*, void* self) {
    return Clock::now() < static_cast<Lookup*>(self)->deadline_ ? 1 : 0;
  }

  static std::optional<Answer> Request(http_t* http, const ServerQueue& q, const std::string& resource) {
    char printerUri[HTTP_MAX_URI];
    if (httpAssembleURI(HTTP_URI_CODING_ALL, printerUri, sizeof printerUri, q.tls ? "ipps" : "ipp", nullptr,
                        q.host.c_str(), q.port, resource.c_str()) < HTTP_URI_STATUS_OK)
      return std::nullopt;
    // No requesting-user-name: the server learns nothing of the user.
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri);
    static const char* const kWanted[] = {"device-uri", "member-uris"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
    httpClearFields(http);
    httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
    httpSetLength(http, ippLength(request));
    bool sent = httpPost(http, resource.c_str()) == 0;
    ipp_state_t state = IPP_STATE_IDLE;
    while (sent && (state = ippWrite(http, request)) != IPP_STATE_DATA)
      if (state == IPP_STATE_ERROR) sent = false;
    ippDelete(request);
    if (!sent) return std::nullopt;
    http_status_t status;
    while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
    }
    if (status != HTTP_STATUS_OK) return std::nullopt;  // 401 and 426 included: nothing more is tried

    ipp_t* response = ippNew();
    BoundedReader reader{http};
    while ((state = ippReadIO(&reader, &BoundedReader::Read, 1, nullptr, response)) != IPP_STATE_DATA)
      if (state == IPP_STATE_ERROR) break;
    std::optional<Answer> answer;
    if (state == IPP_STATE_DATA && ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE) {
      answer.emplace();
      ipp_attribute_t* device = ippFindAttribute(response, "device-uri", IPP_TAG_URI);
      if (device && ippGetCount(device) == 1 && ippGetString(device, 0, nullptr))
        answer->deviceUri = ippGetString(device, 0, nullptr);
      ipp_attribute_t* members = ippFindAttribute(response, "member-uris", IPP_TAG_URI);
      for (int i = 0; members && i < ippGetCount(members) && i < kMaxMembers; ++i)
        if (const char* m = ippGetString(members, i, nullptr)) answer->members.push_back(m);
    }
    ippDelete(response);
    return answer;
  }

  const Clock::time_point deadline_;
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false, expired_ = false;
  int fd_ = -1;
};

std::optional<std::vector<std::string>> Follow(Lookup& lookup, const ServerQueue& q, int serversLeft);

// What to walk for a device URI a server gave: the printer behind it when
// it is another server's queue that tells, else the URI itself.
std::vector<std::string> Behind(Lookup& lookup, const std::string& deviceUri, int serversLeft) {
  if (!AcceptableDeviceUri(deviceUri)) return {};
  auto next = ServerQueueOf(deviceUri, true);
  if (!next || serversLeft == 0) return {deviceUri};
  auto found = Follow(lookup, *next, serversLeft - 1);
  return found ? *found : std::vector<std::string>{deviceUri};
}

// nullopt when the server gives no device URI; the members' devices in
// member order for a class (a member is asked at the same server: only its
// queue name is taken from the answer).
std::optional<std::vector<std::string>> Follow(Lookup& lookup, const ServerQueue& q, int serversLeft) {
  auto answer = lookup.Ask(q, q.resource);
  if (!answer) return std::nullopt;
  // A class may carry a device-uri of its own that leads nowhere.
  if (answer->members.empty()) {
    if (answer->deviceUri.empty()) return std::nullopt;
    return Behind(lookup, answer->deviceUri, serversLeft);
  }
  std::vector<std::string> devices;
  for (const std::string& member : answer->members) {
    auto m = ServerQueueOf(member, true);
    if (!m) continue;
    auto a = lookup.Ask(q, m->resource);
    if (!a || a->deviceUri.empty()) continue;
    for (auto& d : Behind(lookup, a->deviceUri, serversLeft)) devices.push_back(std::move(d));
  }
  return devices;
}

}  // namespace

std::vector<std::string> PrintersBehindQueue(const std::string& deviceUri) {
  // An implicitclass:// URI's host is not a host.
  const bool implicitClass = deviceUri.rfind("implicitclass://", 0) == 0;
  auto q = ServerQueueOf(deviceUri, false);
  if (!q) return implicitClass ? std::vector<std::string>{} : std::vector<std::string>{deviceUri};
  Lookup lookup(Clock::now() + std::chrono::milliseconds(kLookupMs));
  std::optional<std::vector<std::string>> found;
  std::thread worker([&] {
    // libcups writes without MSG_NOSIGNAL: a server that drops the
    // connection must not end the dialog. A SIGPIPE of this thread stays
    // pending and goes with the thread.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    found = Follow(lookup, *q, kMaxServers - 1);
    lookup.Done();
  });
  lookup.Wait();
  worker.join();
  if (found) return *found;
  // A host that does not tell (no IPP, no device URI, no answer in time)
  // may be the printer itself.
  if (implicitClass) return {};
  return {deviceUri};
}

}  // namespace R2740_COLOR_NS
