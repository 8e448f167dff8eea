#include "cf/cf.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace cf {

namespace {

// Nesting depth past which renderings stop descending (cyclic containers).
constexpr int kMaxDescriptionDepth = 64;

bool IsValidUTF8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    i += len;
  }
  return true;
}

const char* ICUName(StringEncoding enc) {
  switch (enc) {
    case kCFStringEncodingMacRoman: return "macintosh";
    case kCFStringEncodingISOLatin1: return "ISO-8859-1";
    case kCFStringEncodingWindowsLatin1: return "windows-1252";
    case kCFStringEncodingShiftJIS: return "Shift_JIS";
    case kCFStringEncodingASCII: return "US-ASCII";
    case kCFStringEncodingUTF8: return "UTF-8";
    default: return nullptr;
  }
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// A converter that stops at the first byte or character it cannot map.
Converter OpenStrict(StringEncoding enc) {
  const char* name = ICUName(enc);
  if (!name) return nullptr;
  UErrorCode err = U_ZERO_ERROR;
  Converter c(ucnv_open(name, &err));
  if (U_FAILURE(err)) return nullptr;
  ucnv_setToUCallBack(c.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
  ucnv_setFromUCallBack(c.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
  ucnv_setFallback(c.get(), false);
  if (U_FAILURE(err)) return nullptr;
  return c;
}

// Shift JIS text typed on different systems uses different code points for
// the same character (wave dash, minus, double bar, dash); encoding accepts
// both through the converter's fallbacks. Decoding stays strict.
void AllowEncodeFallbacks(UConverter* c, StringEncoding enc) {
  if (enc == kCFStringEncodingShiftJIS) ucnv_setFallback(c, true);
}

std::optional<std::string> UTF16ToUTF8(std::u16string_view units) {
  if (units.empty()) return std::string();
  if (units.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 3)) return std::nullopt;
  UErrorCode err = U_ZERO_ERROR;
  int32_t needed = 0;
  // Lone surrogates cannot live in UTF-8; they become U+FFFD.
  u_strToUTF8WithSub(nullptr, 0, &needed, reinterpret_cast<const UChar*>(units.data()),
                     static_cast<int32_t>(units.size()), 0xFFFD, nullptr, &err);
  if (err != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(err)) return std::nullopt;
  std::string out(static_cast<size_t>(needed), '\0');
  err = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), needed, &needed, reinterpret_cast<const UChar*>(units.data()),
                     static_cast<int32_t>(units.size()), 0xFFFD, nullptr, &err);
  if (U_FAILURE(err)) return std::nullopt;
  return out;
}

void AppendIndent(std::string& out, int depth) { out.append(static_cast<size_t>(depth) * 4, ' '); }

std::string Describe(const Ref& obj, int depth);

std::string DescribeArray(const Array& a, int depth) {
  if (depth > kMaxDescriptionDepth) return "(...)";
  std::string out = "(\n";
  for (size_t i = 0; i < a.count(); ++i) {
    AppendIndent(out, depth + 1);
    out += Describe(a.at(i), depth + 1);
    out += i + 1 < a.count() ? ",\n" : "\n";
  }
  AppendIndent(out, depth);
  out += ")";
  return out;
}

std::string DescribeDictionary(const Dictionary& d, int depth) {
  if (depth > kMaxDescriptionDepth) return "{...}";
  std::string out = "{\n";
  d.forEach([&](const Ref& k, const Ref& v) {
    AppendIndent(out, depth + 1);
    out += Describe(k, depth + 1);
    out += " = ";
    out += Describe(v, depth + 1);
    out += ";\n";
  });
  AppendIndent(out, depth);
  out += "}";
  return out;
}

std::string Describe(const Ref& obj, int depth) {
  if (!obj) return "(null)";
  if (auto a = As<Array>(obj)) return DescribeArray(*a, depth);
  if (auto d = As<Dictionary>(obj)) return DescribeDictionary(*d, depth);
  return obj->description();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

// The parts of a URL string that the accessors answer.
struct URLParts {
  std::string_view scheme, authority, path;
  bool hasAuthority = false;
};

URLParts Split(std::string_view s) {
  URLParts p;
  size_t colon = s.find(':');
  if (colon == std::string_view::npos) return p;
  p.scheme = s.substr(0, colon);
  std::string_view rest = s.substr(colon + 1);
  size_t end = rest.find_first_of("?#");
  if (end != std::string_view::npos) rest = rest.substr(0, end);
  if (rest.substr(0, 2) == "//") {
    p.hasAuthority = true;
    rest.remove_prefix(2);
    size_t slash = rest.find('/');
    p.authority = rest.substr(0, slash);
    p.path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  } else {
    p.path = rest;
  }
  return p;
}

// host[:port] without user info; brackets of an IPv6 literal kept apart.
std::pair<std::string_view, std::string_view> HostAndPort(std::string_view authority) {
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return {authority.substr(1), {}};
    std::string_view host = authority.substr(1, close - 1);
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() == ':') return {host, rest.substr(1)};
    return {host, {}};
  }
  size_t colon = authority.rfind(':');
  if (colon == std::string_view::npos) return {authority, {}};
  return {authority.substr(0, colon), authority.substr(colon + 1)};
}

Ref DeepCopyImpl(const Ref& obj, std::unordered_map<const Object*, Ref>& done) {
  if (!obj) return nullptr;
  auto a = As<Array>(obj);
  auto d = As<Dictionary>(obj);
  if (!a && !d) return obj;
  // A container met twice (shared or cyclic) is copied once, keeping the shape.
  if (auto it = done.find(obj.get()); it != done.end()) return it->second;
  if (a) {
    auto out = Array::create();
    done[obj.get()] = out;
    for (const auto& v : *a) out->append(DeepCopyImpl(v, done));
    return out;
  }
  auto out = Dictionary::create();
  done[obj.get()] = out;
  d->forEach([&](const Ref& k, const Ref& v) { out->setValue(k, DeepCopyImpl(v, done)); });
  return out;
}

}  // namespace

// ---- generic -------------------------------------------------------------

TypeID GetTypeID(const Ref& obj) { return obj ? obj->typeID() : 0; }

bool IsType(const Ref& obj, TypeID type) { return obj && obj->typeID() == type; }

bool Equal(const Ref& a, const Ref& b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->isEqual(*b);
}

// ---- String --------------------------------------------------------------

StringRef String::create(std::string_view utf8) { return std::make_shared<String>(std::string(utf8)); }

StringRef String::createWithUTF16(std::u16string_view units) {
  auto s = UTF16ToUTF8(units);
  return s ? std::make_shared<String>(std::move(*s)) : nullptr;
}

StringRef String::createWithBytes(const void* bytes, size_t length, StringEncoding encoding) {
  if (!bytes && length > 0) return nullptr;
  std::string_view in(static_cast<const char*>(bytes), bytes ? length : 0);
  if (encoding == kCFStringEncodingUTF8) {
    return IsValidUTF8(in) ? create(in) : nullptr;
  }
  if (encoding == kCFStringEncodingASCII) {
    for (char c : in)
      if (static_cast<unsigned char>(c) > 0x7F) return nullptr;
    return create(in);
  }
  if (in.empty()) return ICUName(encoding) ? create("") : nullptr;
  if (in.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)) return nullptr;
  Converter conv = OpenStrict(encoding);
  if (!conv) return nullptr;
  std::u16string units(in.size() * 2 + 1, u'\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(conv.get(), reinterpret_cast<UChar*>(units.data()),
                            static_cast<int32_t>(units.size()), in.data(),
                            static_cast<int32_t>(in.size()), &err);
  if (U_FAILURE(err)) return nullptr;
  units.resize(static_cast<size_t>(n));
  return createWithUTF16(units);
}

StringRef String::createWithCString(const char* cstr, StringEncoding encoding) {
  if (!cstr) return nullptr;
  return createWithBytes(cstr, std::strlen(cstr), encoding);
}

StringRef String::createWithFormat(const char* format, ...) {
  if (!format) return nullptr;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) {
    va_end(args);
    return nullptr;
  }
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  va_end(args);
  out.resize(static_cast<size_t>(n));
  return std::make_shared<String>(std::move(out));
}

bool String::isEqual(const Object& other) const {
  auto* o = dynamic_cast<const String*>(&other);
  return o && o->utf8_ == utf8_;
}

std::u16string String::utf16() const {
  if (utf8_.empty()) return {};
  if (utf8_.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)) return {};
  UErrorCode err = U_ZERO_ERROR;
  int32_t needed = 0;
  // Malformed bytes (possible only through create()) read as U+FFFD.
  u_strFromUTF8WithSub(nullptr, 0, &needed, utf8_.data(), static_cast<int32_t>(utf8_.size()), 0xFFFD,
                       nullptr, &err);
  if (err != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(err)) return {};
  std::u16string out(static_cast<size_t>(needed), u'\0');
  err = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), needed, &needed, utf8_.data(),
                       static_cast<int32_t>(utf8_.size()), 0xFFFD, nullptr, &err);
  if (U_FAILURE(err)) return {};
  return out;
}

size_t String::length() const {
  bool ascii = true;
  for (char c : utf8_)
    if (static_cast<unsigned char>(c) > 0x7F) {
      ascii = false;
      break;
    }
  return ascii ? utf8_.size() : utf16().size();
}

std::optional<std::string> String::getBytes(StringEncoding encoding) const {
  if (encoding == kCFStringEncodingUTF8) {
    if (!IsValidUTF8(utf8_)) return std::nullopt;
    return utf8_;
  }
  if (encoding == kCFStringEncodingASCII) {
    for (char c : utf8_)
      if (static_cast<unsigned char>(c) > 0x7F) return std::nullopt;
    return utf8_;
  }
  if (!ICUName(encoding)) return std::nullopt;
  if (utf8_.empty()) return std::string();
  if (!IsValidUTF8(utf8_)) return std::nullopt;
  Converter conv = OpenStrict(encoding);
  if (!conv) return std::nullopt;
  AllowEncodeFallbacks(conv.get(), encoding);
  std::u16string units = utf16();
  UErrorCode err = U_ZERO_ERROR;
  int32_t needed = ucnv_fromUChars(conv.get(), nullptr, 0, reinterpret_cast<const UChar*>(units.data()),
                                   static_cast<int32_t>(units.size()), &err);
  if (err != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(err)) return std::nullopt;
  std::string out(static_cast<size_t>(needed) + 1, '\0');
  err = U_ZERO_ERROR;
  ucnv_resetFromUnicode(conv.get());
  int32_t n = ucnv_fromUChars(conv.get(), out.data(), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const UChar*>(units.data()), static_cast<int32_t>(units.size()),
                              &err);
  if (U_FAILURE(err)) return std::nullopt;
  out.resize(static_cast<size_t>(n));
  return out;
}

// ---- Number --------------------------------------------------------------

bool Number::isEqual(const Object& other) const {
  auto* o = dynamic_cast<const Number*>(&other);
  if (!o) return false;
  if (!isReal_ && !o->isReal_) return int_ == o->int_;
  if (isReal_ && o->isReal_) return real_ == o->real_;
  // An integer equals a real only when the real is exactly that integer.
  double r = isReal_ ? real_ : o->real_;
  int64_t i = isReal_ ? o->int_ : int_;
  if (!std::isfinite(r) || r != std::trunc(r)) return false;
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
  return static_cast<int64_t>(r) == i;
}

std::string Number::description() const {
  if (!isReal_) return std::to_string(int_);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", real_);
  // Prefer the shortest text that reads back as the same value.
  for (int prec = 1; prec < 17; ++prec) {
    char shorter[64];
    std::snprintf(shorter, sizeof shorter, "%.*g", prec, real_);
    if (std::strtod(shorter, nullptr) == real_) return shorter;
  }
  return buf;
}

// ---- Boolean -------------------------------------------------------------

BooleanRef Boolean::kTrue() {
  static const BooleanRef t = std::make_shared<Boolean>(true);
  return t;
}

BooleanRef Boolean::kFalse() {
  static const BooleanRef f = std::make_shared<Boolean>(false);
  return f;
}

bool Boolean::isEqual(const Object& other) const {
  auto* o = dynamic_cast<const Boolean*>(&other);
  return o && o->value_ == value_;
}

// ---- Data ----------------------------------------------------------------

DataRef Data::create(const void* bytes, size_t length) {
  if (!bytes || length == 0) return std::make_shared<Data>(std::vector<uint8_t>());
  auto* p = static_cast<const uint8_t*>(bytes);
  return std::make_shared<Data>(std::vector<uint8_t>(p, p + length));
}

bool Data::isEqual(const Object& other) const {
  auto* o = dynamic_cast<const Data*>(&other);
  return o && o->bytes_ == bytes_;
}

std::string Data::description() const {
  static const char* hex = "0123456789abcdef";
  std::string out = "<";
  for (size_t i = 0; i < bytes_.size(); ++i) {
    if (i > 0 && i % 4 == 0) out += ' ';
    out += hex[bytes_[i] >> 4];
    out += hex[bytes_[i] & 0xF];
  }
  out += ">";
  return out;
}

// ---- URL -----------------------------------------------------------------

URLRef URL::createWithString(std::string_view s) {
  if (s.empty()) return nullptr;
  size_t colon = s.find(':');
  if (colon == std::string_view::npos || colon == 0) return nullptr;
  if (!std::isalpha(static_cast<unsigned char>(s[0]))) return nullptr;
  for (size_t i = 1; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return nullptr;
  }
  for (char c : s)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return nullptr;
  return std::make_shared<URL>(std::string(s));
}

URLRef URL::createWithFileSystemPath(std::string_view path) {
  std::string abs(path);
  if (abs.empty()) return nullptr;
  if (abs.front() != '/') {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return nullptr;
    std::string base = cwd;
    if (base.empty() || base.back() != '/') base += '/';
    abs = base + abs;
  }
  static const char* hex = "0123456789ABCDEF";
  std::string out = "file://";
  for (char ch : abs) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || std::strchr("/-._~!$&'()*+,;=:@", c)) {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
  return std::make_shared<URL>(std::move(out));
}

bool URL::isEqual(const Object& other) const {
  auto* o = dynamic_cast<const URL*>(&other);
  return o && o->string_ == string_;
}

std::string URL::scheme() const {
  std::string s(Split(string_).scheme);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string URL::host() const {
  URLParts p = Split(string_);
  if (!p.hasAuthority) return {};
  return PercentDecode(HostAndPort(p.authority).first);
}

int URL::port() const {
  URLParts p = Split(string_);
  if (!p.hasAuthority) return -1;
  std::string_view digits = HostAndPort(p.authority).second;
  if (digits.empty() || digits.size() > 5) return -1;
  int v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v <= 65535 ? v : -1;
}

std::string URL::path() const { return PercentDecode(Split(string_).path); }

std::optional<std::string> URL::fileSystemPath() const {
  if (scheme() != "file") return std::nullopt;
  std::string p = path();
  if (p.empty()) return std::string("/");
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// ---- Array ---------------------------------------------------------------

ArrayRef Array::create(std::initializer_list<Ref> items) {
  auto a = create();
  a->items_.assign(items.begin(), items.end());
  return a;
}

bool Array::isEqual(const Object& other) const {
  auto* o = dynamic_cast<const Array*>(&other);
  if (!o || o->items_.size() != items_.size()) return false;
  if (o == this) return true;
  for (size_t i = 0; i < items_.size(); ++i)
    if (!Equal(items_[i], o->items_[i])) return false;
  return true;
}

std::string Array::description() const { return DescribeArray(*this, 0); }

bool Array::insert(size_t i, Ref v) {
  if (i > items_.size()) return false;
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(i), std::move(v));
  return true;
}

bool Array::set(size_t i, Ref v) {
  // Setting just past the end appends, as the platform allows.
  if (i == items_.size()) {
    items_.push_back(std::move(v));
    return true;
  }
  if (i > items_.size()) return false;
  items_[i] = std::move(v);
  return true;
}

bool Array::remove(size_t i) {
  if (i >= items_.size()) return false;
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
  return true;
}

long Array::indexOf(const Ref& v) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (Equal(items_[i], v)) return static_cast<long>(i);
  return -1;
}

ArrayRef Array::copy() const {
  auto a = create();
  a->items_ = items_;
  return a;
}

// ---- Dictionary ----------------------------------------------------------

bool Dictionary::isEqual(const Object& other) const {
  auto* o = dynamic_cast<const Dictionary*>(&other);
  if (!o || o->count() != count()) return false;
  if (o == this) return true;
  for (const auto& [k, slot] : strings_) {
    auto it = o->strings_.find(k);
    if (it == o->strings_.end() || !Equal(slot.value, it->second.value)) return false;
  }
  for (const auto& [k, v] : others_) {
    Ref ov = o->getValue(k);
    if (!ov || !Equal(v, ov)) return false;
  }
  return true;
}

std::string Dictionary::description() const { return DescribeDictionary(*this, 0); }

Ref Dictionary::getValue(std::string_view key) const {
  auto it = strings_.find(key);
  return it == strings_.end() ? nullptr : it->second.value;
}

Ref Dictionary::getValue(const Ref& key) const {
  if (!key) return nullptr;
  if (auto s = As<String>(key)) return getValue(s->utf8());
  for (const auto& [k, v] : others_)
    if (Equal(k, key)) return v;
  return nullptr;
}

void Dictionary::setValue(std::string_view key, Ref value) {
  if (!value) {
    removeValue(key);
    return;
  }
  auto it = strings_.lower_bound(key);
  if (it != strings_.end() && it->first == key) {
    // The first key object stays, as the platform keeps it on replace.
    it->second.value = std::move(value);
    return;
  }
  strings_.emplace_hint(it, std::string(key), Slot{String::create(key), std::move(value)});
}

void Dictionary::setValue(const Ref& key, Ref value) {
  if (!key) return;
  if (auto s = As<String>(key)) {
    if (!value) {
      removeValue(s->utf8());
      return;
    }
    auto it = strings_.lower_bound(s->utf8());
    if (it != strings_.end() && it->first == s->utf8()) {
      it->second.value = std::move(value);
      return;
    }
    strings_.emplace_hint(it, s->utf8(), Slot{s, std::move(value)});
    return;
  }
  if (!value) {
    removeValue(key);
    return;
  }
  for (auto& [k, v] : others_)
    if (Equal(k, key)) {
      v = std::move(value);
      return;
    }
  others_.emplace_back(key, std::move(value));
}

void Dictionary::removeValue(std::string_view key) {
  auto it = strings_.find(key);
  if (it != strings_.end()) strings_.erase(it);
}

void Dictionary::removeValue(const Ref& key) {
  if (!key) return;
  if (auto s = As<String>(key)) {
    removeValue(s->utf8());
    return;
  }
  for (auto it = others_.begin(); it != others_.end(); ++it)
    if (Equal(it->first, key)) {
      others_.erase(it);
      return;
    }
}

void Dictionary::removeAll() {
  strings_.clear();
  others_.clear();
}

void Dictionary::forEach(const std::function<void(const Ref& key, const Ref& value)>& fn) const {
  // Work on a snapshot so that fn may change this dictionary.
  std::vector<std::pair<Ref, Ref>> pairs;
  pairs.reserve(count());
  for (const auto& [k, slot] : strings_) pairs.emplace_back(slot.key, slot.value);
  for (const auto& kv : others_) pairs.push_back(kv);
  for (const auto& [k, v] : pairs) fn(k, v);
}

std::vector<Ref> Dictionary::keys() const {
  std::vector<Ref> out;
  out.reserve(count());
  for (const auto& [k, slot] : strings_) out.push_back(slot.key);
  for (const auto& kv : others_) out.push_back(kv.first);
  return out;
}

DictionaryRef Dictionary::copy() const {
  auto d = create();
  d->strings_ = strings_;
  d->others_ = others_;
  return d;
}

Ref DeepCopy(const Ref& obj) {
  std::unordered_map<const Object*, Ref> done;
  return DeepCopyImpl(obj, done);
}

}  // namespace cf
