#include "XPCWire.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "system/layout.h"

namespace xpcwire {

std::string SocketPath() {
  const char* env = std::getenv("R2740_XPC_SOCKET");
  if (env && *env) return env;
  return sys::DefaultServiceSocketPath();
}

int Connect(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int r;
  do {
    r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

Reader::Status Reader::receive(size_t want, size_t* got) {
  char tmp[65536];
  want = std::min(want, sizeof tmp);
  for (;;) {
    if (deadline_ || cancelFd_ >= 0) {
      int timeout = -1;
      if (deadline_) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - Clock::now()).count();
        if (left <= 0) return Status::kTimedOut;
        timeout = static_cast<int>(std::min<decltype(left)>(left, 60000));
      }
      pollfd p[2] = {{fd_, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
      int r = ::poll(p, cancelFd_ >= 0 ? 2 : 1, timeout);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return Status::kError;
      if (r == 0) continue;  // the deadline is checked above
      if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) return Status::kCancelled;
    }
    ssize_t n = ::recv(fd_, tmp, want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::kError;
    buf_.append(tmp, static_cast<size_t>(n));
    *got = static_cast<size_t>(n);
    return Status::kOk;
  }
}

Reader::Status Reader::readLine(std::string* line) {
  for (;;) {
    size_t nl = buf_.find('\n');
    if (nl != std::string::npos) {
      if (nl > kMaxHeaderBytes) return Status::kMalformed;
      *line = buf_.substr(0, nl);
      buf_.erase(0, nl + 1);
      return Status::kOk;
    }
    if (buf_.size() > kMaxHeaderBytes) return Status::kMalformed;
    size_t got = 0;
    Status st = receive(512, &got);
    if (st != Status::kOk) return st;
    if (got == 0) return buf_.empty() ? Status::kEof : Status::kMalformed;
  }
}

Reader::Status Reader::readBytes(size_t n, std::string* out) {
  while (buf_.size() < n) {
    size_t got = 0;
    Status st = receive(n - buf_.size(), &got);
    if (st != Status::kOk) return st;
    if (got == 0) return Status::kError;
  }
  *out = buf_.substr(0, n);
  buf_.erase(0, n);
  return Status::kOk;
}

namespace {
// A decimal length without sign, spaces or leading junk.
bool ParseLength(const std::string& s, size_t limit, size_t* out, bool* tooLarge) {
  if (s.empty() || s.size() > 12) return false;
  size_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<size_t>(c - '0');
  }
  *tooLarge = v > limit;
  *out = v;
  return true;
}
}  // namespace

Reader::Status Reader::readRequest(std::string* operation, std::string* payload,
                                   std::optional<Clock::time_point> deadline) {
  deadline_ = deadline;
  std::string line;
  Status st = readLine(&line);
  if (st != Status::kOk) return st;
  // "<magic> <operation> <length>"
  size_t a = line.find(' ');
  size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
  if (b == std::string::npos || line.compare(0, a, kMagic) != 0) return Status::kMalformed;
  *operation = line.substr(a + 1, b - a - 1);
  size_t len = 0;
  bool tooLarge = false;
  if (operation->empty() || !ParseLength(line.substr(b + 1), kMaxRequestBytes, &len, &tooLarge))
    return Status::kMalformed;
  if (tooLarge) return Status::kTooLarge;
  return readBytes(len, payload);
}

Reader::Status Reader::readReply(std::string* payload) {
  deadline_.reset();
  std::string line;
  Status st = readLine(&line);
  if (st == Status::kEof) return Status::kError;
  if (st != Status::kOk) return st;
  size_t a = line.find(' ');
  if (a == std::string::npos || line.compare(0, a, kMagic) != 0) return Status::kMalformed;
  size_t len = 0;
  bool tooLarge = false;
  if (!ParseLength(line.substr(a + 1), kMaxReplyBytes, &len, &tooLarge)) return Status::kMalformed;
  if (tooLarge) return Status::kTooLarge;
  return readBytes(len, payload);
}

std::string RequestFrame(const std::string& operation, const std::string& payload) {
  return std::string(kMagic) + " " + operation + " " + std::to_string(payload.size()) + "\n" + payload;
}

std::string ReplyFrame(const std::string& payload) {
  return std::string(kMagic) + " " + std::to_string(payload.size()) + "\n" + payload;
}

bool Call(int fd, const std::string& operation, const std::string& payload, std::string* reply) {
  (void)WriteAll(fd, RequestFrame(operation, payload));  // a refusal may have closed it first
  return Reader(fd).readReply(reply) == Reader::Status::kOk;
}

}  // namespace xpcwire
