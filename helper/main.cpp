// R2740Helper: relays one command of the colour plug-in to R2740XPCService
// and prints "<command>=<reply>". Starts the service when nobody listens.
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "XPCWire.h"
#include "system/layout.h"
#include "system/system.h"

namespace {

constexpr const char* kServicePath = "/Library/Application Support/ORVESSA/R2740/XPCServices/R2740XPCService";
// How long a started service may take to answer on its socket.
constexpr auto kStartWait = std::chrono::seconds(5);
constexpr auto kRetryInterval = std::chrono::milliseconds(50);
// A reply must come within this time (a walk of an agent that stops
// answering ends after the library's retries, far below it).
constexpr int kReplySeconds = 300;

constexpr int kExitOK = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoService = 3;

void Usage() {
  std::fprintf(stderr,
               "usage: R2740Helper COMMAND ARGUMENTS... | --version\n"
               "  qvPListIsAdminProfile_XPC PATH\n"
               "  qvPListExistProfile_XPC PATH\n"
               "  qvPListRemove_XPC PATH\n"
               "  qvPListSwapProfile_XPC TYPE CURRENT-PATH BACKUP-PATH\n"
               "  writeDataToPlistFile_XPC FILE-URL PIECE\n"
               "  writeDataToPlistFileRename_XPC FILE-URL\n"
               "  writeDictionaryToPlistFile_XPC FILE-URL TEXT\n"
               "  mibwalk_XPC MODEL USER WALK-ARGUMENTS...\n");
}

// The request string of a command: its arguments joined with the
// operation's markers; nullopt for an unknown command or missing arguments.
std::optional<std::string> JoinRequest(const std::string& cmd, const std::vector<std::string>& a) {
  auto need = [&](size_t n) { return a.size() == n; };
  if (cmd == "qvPListIsAdminProfile_XPC" || cmd == "qvPListExistProfile_XPC" || cmd == "qvPListRemove_XPC" ||
      cmd == "writeDataToPlistFileRename_XPC") {
    if (!need(1)) return std::nullopt;
    return a[0];
  }
  if (cmd == "qvPListSwapProfile_XPC") {
    // Absent fields travel as "NULL".
    if (a.size() > 3) return std::nullopt;
    auto field = [&](size_t i) { return i < a.size() && !a[i].empty() ? a[i] : std::string("NULL"); };
    return field(0) + ":ARG_iSwapType" + field(1) + ":ARG_cFooCurrentString" + field(2) + ":ARG_cFooPrevString";
  }
  if (cmd == "writeDataToPlistFile_XPC" || cmd == "writeDictionaryToPlistFile_XPC") {
    if (!need(2)) return std::nullopt;
    return a[0] + ":AddURL:END" + a[1];
  }
  if (cmd == "mibwalk_XPC") {
    if (a.size() < 2) return std::nullopt;
    std::string s = a[0] + ":ModelName:END" + a[1] + ":USErName:END";
    for (size_t i = 2; i < a.size(); ++i) s += a[i] + ":arg:";
    return s;
  }
  return std::nullopt;
}

int ConnectOrStart(const std::string& socketPath, std::string* error) {
  int fd = xpcwire::Connect(socketPath);
  if (fd >= 0) return fd;
  if (errno != ENOENT && errno != ECONNREFUSED) {
    *error = "cannot connect to " + socketPath + ": " + std::strerror(errno);
    return -1;
  }
  std::string service = sys::ResolvePath(kServicePath);
  // A service we start runs as we do and must make its socket; where only
  // root may (the installed /run/r2740 without the socket unit), waiting for
  // it would only end in its "another instance" refusal.
  auto folderOf = [](const std::string& p) {
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : p.substr(0, slash);
  };
  std::string folder = folderOf(socketPath);
  if (::geteuid() != 0 && ::access((sys::IsDirectory(folder) ? folder : folderOf(folder)).c_str(), W_OK) != 0) {
    *error = "the profile service is not running and only root can start it (" + socketPath +
             "); ask the administrator to enable it (systemctl enable --now r2740-xpc.socket) or to run "
             "R2740XPCService --foreground under a supervisor";
    return -1;
  }
  if (!sys::IsExecutableFile(service)) {
    *error = "the service is not installed at " + service;
    return -1;
  }
  // A second helper may start it at the same moment; the service lets only
  // one instance run, and both of us connect to that one.
  if (!sys::LaunchDetached(service, {"--on-demand"})) {
    *error = "cannot start " + service;
    return -1;
  }
  auto deadline = std::chrono::steady_clock::now() + kStartWait;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kRetryInterval);
    fd = xpcwire::Connect(socketPath);
    if (fd >= 0) return fd;
  }
  *error = "the service did not answer on " + socketPath + " within 5 seconds";
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage();
    return kExitUsage;
  }
  std::string cmd = argv[1];
  if (cmd == "--version") {
    std::printf("R2740Helper %s\n", sys::Version());
    return kExitOK;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  auto request = JoinRequest(cmd, args);
  if (!request) {
    std::fprintf(stderr, "R2740Helper: unknown command or wrong arguments: %s\n", cmd.c_str());
    Usage();
    return kExitUsage;
  }
  if (request->size() > xpcwire::kMaxRequestBytes) {
    std::fprintf(stderr, "R2740Helper: request too large\n");
    return kExitUsage;
  }

  std::string socketPath = xpcwire::SocketPath();
  std::string error;
  int fd = ConnectOrStart(socketPath, &error);
  if (fd < 0) {
    std::fprintf(stderr, "R2740Helper: %s\n", error.c_str());
    return kExitNoService;
  }
  timeval tv{kReplySeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  std::string reply;
  bool ok = xpcwire::WriteAll(fd, xpcwire::RequestFrame(cmd, *request)) &&
            xpcwire::Reader(fd).readReply(&reply) == xpcwire::Reader::Status::kOk;
  ::close(fd);
  if (!ok) {
    std::fprintf(stderr, "R2740Helper: no reply from the service\n");
    return kExitNoService;
  }
  std::printf("%s=%s\n", cmd.c_str(), reply.c_str());
  std::fflush(stdout);
  return reply.compare(0, 6, "ERROR:") == 0 ? kExitRefused : kExitOK;
}
