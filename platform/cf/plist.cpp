#include "cf/plist.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <vector>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <random>

namespace cf {

namespace {

// Deeper trees are refused rather than risking the stack.
constexpr int kMaxDepth = 512;

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

void SetError(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
}

bool ValidUTF8(const char* s, size_t n) {
  return String::createWithBytes(s, n, kCFStringEncodingUTF8) != nullptr;
}

// ---- plist_t -> cf -------------------------------------------------------

Ref FromPlist(plist_t node, int depth, std::string& why) {
  if (depth > kMaxDepth) {
    why = "nesting deeper than " + std::to_string(kMaxDepth) + " levels";
    return nullptr;
  }
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Boolean::create(b != 0);
    }
    case PLIST_UINT: {
      // The library keeps every integer as 64 unsigned bits; negative numbers
      // come back in two's complement.
      uint64_t v = 0;
      plist_get_uint_val(node, &v);
      return Number::create(static_cast<int64_t>(v));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Number::createReal(d);
    }
    case PLIST_DATE: {
      // No date type here: a date reads as its seconds since 2001-01-01 UTC.
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return Number::createReal(static_cast<double>(sec) + static_cast<double>(usec) / 1e6);
    }
    case PLIST_STRING: {
      // By pointer and length: the copying getter aborts on embedded NULs.
      uint64_t len = 0;
      const char* s = plist_get_string_ptr(node, &len);
      if (!s) len = 0;
      if (len > 0 && std::memchr(s, '\0', static_cast<size_t>(len))) {
        why = "a string holds a NUL character";
        return nullptr;
      }
      if (!ValidUTF8(s, static_cast<size_t>(len))) {
        why = "string is not valid UTF-8";
        return nullptr;
      }
      return String::create(std::string_view(s ? s : "", static_cast<size_t>(len)));
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t len = 0;
      plist_get_data_val(node, &bytes, &len);
      std::unique_ptr<char, decltype(&std::free)> hold(bytes, &std::free);
      return Data::create(bytes, static_cast<size_t>(len));
    }
    case PLIST_ARRAY: {
      auto out = Array::create();
      uint32_t n = plist_array_get_size(node);
      for (uint32_t i = 0; i < n; ++i) {
        Ref v = FromPlist(plist_array_get_item(node, i), depth + 1, why);
        if (!v) return nullptr;
        out->append(std::move(v));
      }
      return out;
    }
    case PLIST_DICT: {
      auto out = Dictionary::create();
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      std::unique_ptr<void, decltype(&std::free)> holdIter(it, &std::free);
      while (true) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(node, it, &key, &val);
        if (!val) {
          std::free(key);
          break;
        }
        std::unique_ptr<char, decltype(&std::free)> holdKey(key, &std::free);
        size_t n = key ? std::strlen(key) : 0;
        if (!ValidUTF8(key, n)) {
          why = "dictionary key is not valid UTF-8";
          return nullptr;
        }
        Ref v = FromPlist(val, depth + 1, why);
        if (!v) return nullptr;
        out->setValue(std::string_view(key ? key : "", n), std::move(v));
      }
      return out;
    }
    case PLIST_UID:
      why = "keyed-archive UID values are not supported";
      return nullptr;
    default:
      why = "unknown value type";
      return nullptr;
  }
}

// ---- cf -> plist_t -------------------------------------------------------

plist_t ToPlist(const Ref& obj, int depth, std::string& why) {
  if (depth > kMaxDepth) {
    why = "nesting deeper than " + std::to_string(kMaxDepth) + " levels (or a container holds itself)";
    return nullptr;
  }
  if (!obj) {
    why = "a null value cannot be written";
    return nullptr;
  }
  if (auto s = As<String>(obj)) {
    const std::string& u = s->utf8();
    if (u.find('\0') != std::string::npos) {
      why = "a string holds a NUL character";
      return nullptr;
    }
    if (!ValidUTF8(u.data(), u.size())) {
      why = "a string is not valid UTF-8";
      return nullptr;
    }
    return plist_new_string(u.c_str());
  }
  if (auto n = As<Number>(obj)) {
    if (n->isReal()) return plist_new_real(n->doubleValue());
    // Two's complement through the unsigned node; the writer prints it signed.
    return plist_new_uint(static_cast<uint64_t>(n->int64Value()));
  }
  if (auto b = As<Boolean>(obj)) return plist_new_bool(b->value() ? 1 : 0);
  if (auto d = As<Data>(obj)) {
    const auto& bytes = d->bytes();
    return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  if (auto a = As<Array>(obj)) {
    PlistPtr out(plist_new_array());
    for (const auto& v : *a) {
      plist_t item = ToPlist(v, depth + 1, why);
      if (!item) return nullptr;
      plist_array_append_item(out.get(), item);
    }
    return out.release();
  }
  if (auto d = As<Dictionary>(obj)) {
    PlistPtr out(plist_new_dict());
    bool ok = true;
    // forEach yields string keys in sorted order; the writer keeps that order.
    d->forEach([&](const Ref& k, const Ref& v) {
      if (!ok) return;
      auto ks = As<String>(k);
      if (!ks) {
        why = "a dictionary key is not a string";
        ok = false;
        return;
      }
      if (ks->utf8().find('\0') != std::string::npos || !ValidUTF8(ks->utf8().data(), ks->utf8().size())) {
        why = "a dictionary key is not valid text";
        ok = false;
        return;
      }
      plist_t item = ToPlist(v, depth + 1, why);
      if (!item) {
        ok = false;
        return;
      }
      plist_dict_set_item(out.get(), ks->utf8().c_str(), item);
    });
    return ok ? out.release() : nullptr;
  }
  if (As<URL>(obj)) {
    why = "a URL cannot be written to a property list";
    return nullptr;
  }
  why = "a value of an unsupported type";
  return nullptr;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; }

std::string ErrnoText(int e) { return std::strerror(e); }

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The library parses and frees trees recursively, so a deeply nested
// document would overflow the stack inside it. These scans only measure
// nesting before the library sees the bytes.

// Container nesting of XML text, counted by tags.
int XMLNestingDepth(std::string_view text) {
  int depth = 0, maxDepth = 0;
  for (size_t i = text.find('<'); i != std::string_view::npos; i = text.find('<', i + 1)) {
    std::string_view rest = text.substr(i + 1);
    bool close = !rest.empty() && rest.front() == '/';
    if (close) rest.remove_prefix(1);
    size_t nameLen = rest.substr(0, 5) == "array" ? 5 : rest.substr(0, 4) == "dict" ? 4 : 0;
    if (nameLen == 0 || rest.size() <= nameLen) continue;
    char after = rest[nameLen];
    if (after != '>' && after != '/' && !IsSpace(after)) continue;
    if (close) {
      --depth;
      continue;
    }
    size_t gt = rest.find('>');
    bool empty = gt != std::string_view::npos && gt > 0 && rest[gt - 1] == '/';
    if (!empty) maxDepth = std::max(maxDepth, ++depth);
  }
  return maxDepth;
}

uint64_t ReadBE(const unsigned char* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// Container nesting of a binary document's object graph; -1 for a cycle.
// Bytes it cannot follow count as flat (the library rejects them itself).
int BinaryNestingDepth(std::string_view bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t size = bytes.size();
  if (size < 8 + 32) return 0;
  const unsigned char* trailer = b + size - 32;
  size_t offSize = trailer[6], refSize = trailer[7];
  uint64_t count = ReadBE(trailer + 8, 8), top = ReadBE(trailer + 16, 8), table = ReadBE(trailer + 24, 8);
  if (offSize == 0 || offSize > 8 || refSize == 0 || refSize > 8 || top >= count) return 0;
  if (table >= size || count > (size - table) / offSize) return 0;
  auto offsetOf = [&](uint64_t obj) { return ReadBE(b + table + obj * offSize, offSize); };
  // Child references of a container object, or empty for anything else.
  auto children = [&](uint64_t obj, std::vector<uint64_t>& out) {
    out.clear();
    uint64_t off = offsetOf(obj);
    if (off >= size) return;
    unsigned type = b[off] >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) return;
    uint64_t n = b[off] & 0x0F;
    uint64_t pos = off + 1;
    if (n == 0x0F) {
      if (pos >= size || (b[pos] >> 4) != 0x1) return;
      size_t len = size_t{1} << (b[pos] & 0x0F);
      if (len > 8 || pos + 1 + len > size) return;
      n = ReadBE(b + pos + 1, len);
      pos += 1 + len;
    }
    uint64_t refs = type == 0xD ? n * 2 : n;
    if (n > size || pos > size || refs > (size - pos) / refSize) return;
    for (uint64_t i = 0; i < refs; ++i) {
      uint64_t r = ReadBE(b + pos + i * refSize, refSize);
      if (r < count) out.push_back(r);
    }
  };
  // Iterative depth-first walk with memoised heights.
  std::vector<int> height(count, -2);  // -2 unseen, -1 on the path
  struct Frame {
    uint64_t obj;
    std::vector<uint64_t> kids;
    size_t next = 0;
    int best = 0;
  };
  std::vector<Frame> stack;
  stack.push_back({top, {}, 0, 0});
  children(top, stack.back().kids);
  height[top] = -1;
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next < f.kids.size()) {
      uint64_t k = f.kids[f.next++];
      if (height[k] == -1) return -1;
      if (height[k] >= 0) {
        f.best = std::max(f.best, height[k]);
        continue;
      }
      if (static_cast<int>(stack.size()) > kMaxDepth) return static_cast<int>(stack.size());
      height[k] = -1;
      Frame child{k, {}, 0, 0};
      children(k, child.kids);
      stack.push_back(std::move(child));
      continue;
    }
    int h = f.best + (f.kids.empty() ? 0 : 1);
    height[f.obj] = h;
    stack.pop_back();
    if (!stack.empty()) stack.back().best = std::max(stack.back().best, h);
  }
  return height[top];
}

}  // namespace

Ref PropertyListCreateWithData(std::string_view bytes, std::string* error) {
  if (bytes.empty()) {
    SetError(error, "empty property list");
    return nullptr;
  }
  if (bytes.size() > std::numeric_limits<uint32_t>::max() / 2) {
    SetError(error, "property list too large");
    return nullptr;
  }
  // A UTF-8 byte order mark is allowed in front of XML.
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  bool binary = bytes.size() >= 8 && bytes.substr(0, 6) == "bplist";
  if (!binary) {
    size_t start = 0;
    while (start < bytes.size() && IsSpace(bytes[start])) ++start;
    if (start == bytes.size()) {
      SetError(error, "empty property list");
      return nullptr;
    }
    if (bytes[start] != '<') {
      SetError(error, "not a property list (no XML or binary header)");
      return nullptr;
    }
    // The parser accepts a document cut off after its root value; a complete
    // one ends with the closing plist tag.
    size_t end = bytes.size();
    while (end > start && IsSpace(bytes[end - 1])) --end;
    std::string_view body = bytes.substr(start, end - start);
    // Raw NUL bytes are not XML, and the parser mishandles them.
    if (body.find('\0') != std::string_view::npos) {
      SetError(error, "malformed XML property list (NUL byte in text)");
      return nullptr;
    }
    if (body.find("<plist") == std::string_view::npos) {
      SetError(error, "not a property list (no plist element)");
      return nullptr;
    }
    if (body.size() < 8 || body.substr(body.size() - 8) != "</plist>") {
      SetError(error, "truncated property list (no closing </plist>)");
      return nullptr;
    }
  }
  int depth = binary ? BinaryNestingDepth(bytes) : XMLNestingDepth(bytes);
  if (depth < 0) {
    SetError(error, "malformed binary property list (an object contains itself)");
    return nullptr;
  }
  if (depth > kMaxDepth) {
    SetError(error, "unsupported property list content: nesting deeper than " + std::to_string(kMaxDepth) +
                        " levels");
    return nullptr;
  }
  // The parser gets its own NUL-terminated copy, so that it never reads past
  // the caller's bytes.
  std::string copy(bytes);
  plist_t root = nullptr;
  if (binary)
    plist_from_bin(copy.data(), static_cast<uint32_t>(copy.size()), &root);
  else
    plist_from_xml(copy.data(), static_cast<uint32_t>(copy.size()), &root);
  PlistPtr hold(root);
  if (!root) {
    SetError(error, binary ? "malformed binary property list" : "malformed XML property list");
    return nullptr;
  }
  // libplist asserts (aborts) when a dictionary key with a NUL inside is
  // read, and only a binary list can carry one; its XML form shows any such
  // NUL as a raw byte, so a list whose XML form holds one is refused.
  if (binary) {
    char* xml = nullptr;
    uint32_t xmlLength = 0;
    plist_to_xml(root, &xml, &xmlLength);
    const bool nul = !xml || std::memchr(xml, '\0', xmlLength) != nullptr;
    if (xml) plist_to_xml_free(xml);
    if (nul) {
      SetError(error, "unsupported property list content: a key or string holds a NUL character");
      return nullptr;
    }
  }
  std::string why;
  Ref out = FromPlist(root, 0, why);
  if (!out) SetError(error, "unsupported property list content: " + why);
  return out;
}

Ref PropertyListCreateFromFile(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, "cannot open " + path + ": " + ErrnoText(errno));
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetError(error, path + " is not a regular file");
    return nullptr;
  }
  std::string bytes;
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      ::close(fd);
      SetError(error, "cannot read " + path + ": " + ErrnoText(e));
      return nullptr;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  std::string why;
  Ref out = PropertyListCreateWithData(bytes, &why);
  if (!out) SetError(error, path + ": " + why);
  return out;
}

std::optional<std::string> PropertyListCreateXMLData(const Ref& root, std::string* error) {
  std::string why;
  PlistPtr node(ToPlist(root, 0, why));
  if (!node) {
    SetError(error, "cannot write property list: " + why);
    return std::nullopt;
  }
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(node.get(), &xml, &length);
  if (!xml) {
    SetError(error, "cannot write property list: the writer produced nothing");
    return std::nullopt;
  }
  std::string out(xml, length);
  plist_to_xml_free(xml);
  return out;
}

bool PropertyListWriteToFile(const Ref& root, const std::string& path, bool atomic, std::string* error) {
  auto xml = PropertyListCreateXMLData(root, error);
  if (!xml) return false;
  if (!atomic) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      SetError(error, "cannot create " + path + ": " + ErrnoText(errno));
      return false;
    }
    bool ok = WriteAll(fd, *xml);
    int e = errno;
    if (::close(fd) != 0 && ok) {
      ok = false;
      e = errno;
    }
    if (!ok) SetError(error, "cannot write " + path + ": " + ErrnoText(e));
    return ok;
  }

  std::string dir = DirName(path);
  std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  if (base.empty()) {
    SetError(error, "cannot write " + path + ": no file name");
    return false;
  }
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = dir + "/." + base + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + "." +
          std::to_string(rd() % 1000000) + ".tmp";
    // O_EXCL with 0666 lets the process umask decide the mode, like a plain create.
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    SetError(error, "cannot create a temporary file in " + dir + ": " + ErrnoText(errno));
    return false;
  }
  bool ok = WriteAll(fd, *xml);
  int e = errno;
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    e = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    SetError(error, "cannot write " + path + ": " + ErrnoText(e));
    return false;
  }
  // Make the rename itself durable.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace cf
