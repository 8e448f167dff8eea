// The helper and the service talk over a Unix-domain stream socket in
// frames: a request is the line "R2740XPC1 <operation> <length>\n" and then
// <length> bytes of the request string; a reply is "R2740XPC1 <length>\n"
// and its bytes. One reply per request, in order.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace xpcwire {

inline constexpr const char* kMagic = "R2740XPC1";
// Nothing a client sends may be larger: the largest real request is one
// piece of a profile file (a command-line argument).
inline constexpr size_t kMaxRequestBytes = 1 << 20;
inline constexpr size_t kMaxReplyBytes = 1 << 20;
inline constexpr size_t kMaxHeaderBytes = 256;

// The socket path: $R2740_XPC_SOCKET, else the installed one
// (sys::DefaultServiceSocketPath, never under the install root).
std::string SocketPath();

// Connects; -1 with errno set when nobody listens (or the path is unusable).
int Connect(const std::string& path);

// Whole-buffer I/O that survives EINTR and short transfers.
bool WriteAll(int fd, const std::string& bytes);

// Reads frames from a socket with a small buffer.
class Reader {
 public:
  using Clock = std::chrono::steady_clock;
  // A read that has to wait ends with kCancelled once `cancelFd` is
  // readable (the service's stop signal); what has arrived is still read.
  explicit Reader(int fd, int cancelFd = -1) : fd_(fd), cancelFd_(cancelFd) {}
  enum class Status { kOk, kEof, kError, kMalformed, kTooLarge, kTimedOut, kCancelled };
  // A request: operation and payload. kEof when the peer closed cleanly
  // before a new frame. With a deadline the whole frame must have arrived
  // by then, however the peer cuts it into pieces (kTimedOut).
  Status readRequest(std::string* operation, std::string* payload, std::optional<Clock::time_point> deadline = {});
  Status readReply(std::string* payload);

 private:
  Status readLine(std::string* line);
  Status readBytes(size_t n, std::string* out);
  // One receive of at most `want` bytes into the buffer; 0 bytes at the
  // peer's end of stream.
  Status receive(size_t want, size_t* got);
  int fd_;
  int cancelFd_;
  std::optional<Clock::time_point> deadline_;
  std::string buf_;
};

std::string RequestFrame(const std::string& operation, const std::string& payload);
std::string ReplyFrame(const std::string& payload);

// One request and its reply on a connected socket: true with `reply` set
// when a reply came. The service refuses a connection (busy, too many of
// this user's) before it reads anything, so the refusal is read even when
// the request could not be written after it.
bool Call(int fd, const std::string& operation, const std::string& payload, std::string* reply);

}  // namespace xpcwire
