// A hostile print server: it answers the lookup of a queue's printer with
// device URIs no real cupsd gives (cupsd checks its own). None of them may
// reach the walk. The server is libcups' own HTTP and IPP code on a
// loopback port, one answer per connection.
#include <arpa/inet.h>
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ProfilePrintServer.h"

namespace {

using R2740_COLOR_NS::PrintersBehindQueue;

class HostileServer {
 public:
  // resource -> (device-uri, member-uris)
  using Answers = std::map<std::string, std::pair<std::string, std::vector<std::string>>>;

  explicit HostileServer(Answers answers) : answers_(std::move(answers)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~HostileServer() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  std::string Uri(const std::string& resource) const {
    return "ipp://127.0.0.1:" + std::to_string(port_) + resource;
  }
  int port() const { return port_; }

 private:
  void Serve() {
    while (!stop_) {
      http_t* http = httpAcceptConnection(fd_, 1);
      if (!http) return;
      char resource[1024];
      http_state_t state = httpReadRequest(http, resource, sizeof resource);
      http_status_t status;
      while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
      }
      ipp_t* request = ippNew();
      if (state == HTTP_STATE_POST && status == HTTP_STATUS_OK && ippRead(http, request) == IPP_STATE_DATA) {
        ipp_t* response = ippNewResponse(request);
        auto it = answers_.find(resource);
        if (it != answers_.end()) {
          if (!it->second.first.empty())
            ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, it->second.first.c_str());
          std::vector<const char*> members;
          for (const auto& m : it->second.second) members.push_back(m.c_str());
          if (!members.empty())
            ippAddStrings(response, IPP_TAG_PRINTER, IPP_TAG_URI, "member-uris", static_cast<int>(members.size()),
                          nullptr, members.data());
        }
        httpClearFields(http);
        httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
        httpSetLength(http, ippLength(response));
        if (httpWriteResponse(http, HTTP_STATUS_OK) == 0)
          while (ippWrite(http, response) != IPP_STATE_DATA) {
          }
        ippDelete(response);
      }
      ippDelete(request);
      httpFlushWrite(http);
      httpClose(http);
    }
  }

  Answers answers_;
  int fd_ = -1, port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(HostilePrintServer, DeviceUrisNoCupsdGivesNeverReachTheWalk) {
  const std::string good = "socket://127.24.5.1:9100";
  const std::vector<std::string> hostile = {
      "socket://127.24.5.2\x01:9100",           // a control byte
      "socket://127.24.5.2 lpd://127.24.5.3",   // a blank
      "socket://127.24.5.2/" + std::string(2000, 'a'),
      "gopher://127.24.5.2/",                   // a scheme nobody walks
      "usb://R2740/serial",                     // a device the network cannot reach
  };
  HostileServer::Answers answers = {{"/printers/Good", {good, {}}}};
  std::vector<std::string> members = {"ipp://server/printers/Good"};
  for (size_t i = 0; i < hostile.size(); ++i) {
    std::string name = "/printers/Bad" + std::to_string(i);
    answers[name] = {hostile[i], {}};
    members.insert(members.begin(), "ipp://server" + name);  // before the good one
  }
  answers["/classes/Pool"] = {"", members};
  HostileServer server(answers);
  ASSERT_GT(server.port(), 0);

  ASSERT_EQ(PrintersBehindQueue(server.Uri("/printers/Good")), std::vector<std::string>{good});
  for (size_t i = 0; i < hostile.size(); ++i)
    EXPECT_EQ(PrintersBehindQueue(server.Uri("/printers/Bad" + std::to_string(i))), std::vector<std::string>{})
        << "answer " << i;
  // A class whose members answer so: only the good member is walked.
  EXPECT_EQ(PrintersBehindQueue(server.Uri("/classes/Pool")), std::vector<std::string>{good});
}

}  // namespace
