// The service's request path: frames as the helper sends them, read by the
// wire reader, each handed to the operation it names (all eight), as root,
// inside a temporary install root.
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "FuzzSupport.h"
#include "MibWalk.h"
#include "QVmacServiceXPC.h"
#include "XPCWire.h"

namespace {

// The walk arguments as the service finds them, or npos.
size_t WalkArguments(const std::string& payload) {
  size_t model = payload.find(":ModelName:END");
  size_t user = model == std::string::npos ? model : payload.find(":USErName:END", model);
  return user == std::string::npos ? user : user + std::strlen(":USErName:END");
}

// A walk request whose second argument is "-j" is never the plug-in's walk,
// so the service refuses it before any packet is sent; the request's own
// arguments go through the walk's rules separately.
void DisarmWalk(std::string* payload) {
  size_t args = WalkArguments(*payload);
  if (args == std::string::npos) return;
  std::string why;
  (void)ParseWalkRequest(payload->substr(args), &why);  // only its safety matters here
  size_t arg = payload->find(":arg:", args);
  if (arg != std::string::npos) payload->insert(arg + 5, "-j:arg:");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = fuzz::ProfileFolder();
  // The reader reads a socket; what fits into the socket's buffer is sent
  // and the sending side closed.
  int fds[2];
  if (size > 100000 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  const bool sent = size == 0 || ::send(fds[1], data, size, MSG_DONTWAIT) == static_cast<ssize_t>(size);
  ::close(fds[1]);
  if (!sent) {
    ::close(fds[0]);
    return 0;
  }
  const int fd = fds[0];
  QVmacServiceXPC service(QVXPCPeer{1, 0, 0});
  xpcwire::Reader reader(fd);
  std::string operation, payload;
  for (int i = 0; i < 8 && reader.readRequest(&operation, &payload) == xpcwire::Reader::Status::kOk; ++i) {
    if (operation == "mibwalk_XPC") DisarmWalk(&payload);
    service.perform(operation, payload);
  }
  ::close(fd);
  // Every input starts from an empty profile folder.
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) std::filesystem::remove_all(e.path(), ec);
  return 0;
}
