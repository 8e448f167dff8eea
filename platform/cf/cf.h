// Reference-counted values with identity semantics: a container hands out the
// very object it holds, so a change made through one holder is seen by all.
// Type checks answer like the platform's type identifiers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cf {

using TypeID = unsigned long;
// Values mirror the platform's identifiers only in being distinct and stable.
inline constexpr TypeID kStringTypeID = 7;
inline constexpr TypeID kNumberTypeID = 22;
inline constexpr TypeID kBooleanTypeID = 21;
inline constexpr TypeID kDataTypeID = 20;
inline constexpr TypeID kArrayTypeID = 19;
inline constexpr TypeID kDictionaryTypeID = 18;
inline constexpr TypeID kURLTypeID = 29;

using StringEncoding = uint32_t;
inline constexpr StringEncoding kCFStringEncodingMacRoman = 0;
inline constexpr StringEncoding kCFStringEncodingISOLatin1 = 0x0201;
inline constexpr StringEncoding kCFStringEncodingWindowsLatin1 = 0x0500;
inline constexpr StringEncoding kCFStringEncodingShiftJIS = 0x0A01;
inline constexpr StringEncoding kCFStringEncodingASCII = 0x0600;
inline constexpr StringEncoding kCFStringEncodingUTF8 = 0x08000100;

class Object;
class String;
class Number;
class Boolean;
class Data;
class Array;
class Dictionary;
class URL;

using Ref = std::shared_ptr<Object>;
using StringRef = std::shared_ptr<String>;
using NumberRef = std::shared_ptr<Number>;
using BooleanRef = std::shared_ptr<Boolean>;
using DataRef = std::shared_ptr<Data>;
using ArrayRef = std::shared_ptr<Array>;
using DictionaryRef = std::shared_ptr<Dictionary>;
using URLRef = std::shared_ptr<URL>;

class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;
  virtual TypeID typeID() const = 0;
  // Value equality (CFEqual): same type and equal contents.
  virtual bool isEqual(const Object& other) const = 0;
  // A readable rendering for logs and tests.
  virtual std::string description() const = 0;
};

// The type identifier of a value; 0 for null.
TypeID GetTypeID(const Ref& obj);
// Non-null and of the given type.
bool IsType(const Ref& obj, TypeID type);
// Null-safe value equality; two nulls are equal.
bool Equal(const Ref& a, const Ref& b);

// The value as T when it is one, else null. Never throws.
template <class T>
std::shared_ptr<T> As(const Ref& obj) {
  return std::dynamic_pointer_cast<T>(obj);
}

class String final : public Object {
 public:
  explicit String(std::string utf8) : utf8_(std::move(utf8)) {}
  static StringRef create(std::string_view utf8);
  static StringRef createWithUTF16(std::u16string_view units);
  // Decodes bytes in the given encoding; null when they are not valid in it
  // (ASCII rejects bytes above 0x7F, UTF-8 rejects malformed sequences).
  static StringRef createWithBytes(const void* bytes, size_t length, StringEncoding encoding);
  static StringRef createWithCString(const char* cstr, StringEncoding encoding);
  static StringRef createWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

  TypeID typeID() const override { return kStringTypeID; }
  bool isEqual(const Object& other) const override;
  std::string description() const override { return utf8_; }

  const std::string& utf8() const { return utf8_; }
  std::u16string utf16() const;
  // Length in UTF-16 units, as the platform counts string length.
  size_t length() const;
  bool empty() const { return utf8_.empty(); }
  // Encodes into the given encoding; nullopt when a character cannot be
  // represented.
  std::optional<std::string> getBytes(StringEncoding encoding) const;

 private:
  std::string utf8_;
};

class Number final : public Object {
 public:
  explicit Number(int64_t v) : int_(v), real_(static_cast<double>(v)), isReal_(false) {}
  explicit Number(double v) : int_(Saturate(v)), real_(v), isReal_(true) {}
  static NumberRef create(int64_t v) { return std::make_shared<Number>(v); }
  static NumberRef createReal(double v) { return std::make_shared<Number>(v); }

  TypeID typeID() const override { return kNumberTypeID; }
  bool isEqual(const Object& other) const override;
  std::string description() const override;

  bool isReal() const { return isReal_; }
  int64_t int64Value() const { return int_; }
  // The value as a signed 32-bit number, truncated as the platform does.
  int32_t sint32Value() const { return static_cast<int32_t>(int_); }
  double doubleValue() const { return real_; }

 private:
  // The integer view of a real: truncated, clamped to the 64-bit range,
  // 0 for NaN (a plain cast is undefined there).
  static int64_t Saturate(double v) {
    if (v != v) return 0;
    if (v >= 9223372036854775807.0) return INT64_MAX;
    if (v <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(v);
  }
  int64_t int_;
  double real_;
  bool isReal_;
};

class Boolean final : public Object {
 public:
  explicit Boolean(bool v) : value_(v) {}
  // The two shared boolean objects; "the boolean true object" is kTrue().
  static BooleanRef kTrue();
  static BooleanRef kFalse();
  static BooleanRef create(bool v) { return v ? kTrue() : kFalse(); }

  TypeID typeID() const override { return kBooleanTypeID; }
  bool isEqual(const Object& other) const override;
  std::string description() const override { return value_ ? "true" : "false"; }
  bool value() const { return value_; }

 private:
  bool value_;
};

class Data final : public Object {
 public:
  explicit Data(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  static DataRef create(const void* bytes, size_t length);
  static DataRef create(std::string_view bytes) { return create(bytes.data(), bytes.size()); }

  TypeID typeID() const override { return kDataTypeID; }
  bool isEqual(const Object& other) const override;
  std::string description() const override;

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& mutableBytes() { return bytes_; }
  size_t length() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

// A URL string as given; file URLs also answer their POSIX path.
class URL final : public Object {
 public:
  explicit URL(std::string s) : string_(std::move(s)) {}
  // Null for an empty string or one without a scheme.
  static URLRef createWithString(std::string_view s);
  // "file://" + the percent-encoded absolute path.
  static URLRef createWithFileSystemPath(std::string_view path);

  TypeID typeID() const override { return kURLTypeID; }
  bool isEqual(const Object& other) const override;
  std::string description() const override { return string_; }

  const std::string& string() const { return string_; }
  std::string scheme() const;   // lower case, without ":"
  std::string host() const;     // without user info and port; empty if none
  int port() const;             // -1 when none
  std::string path() const;     // percent-decoded path component
  // The POSIX path of a file URL; nullopt for other schemes.
  std::optional<std::string> fileSystemPath() const;

 private:
  std::string string_;
};

class Array final : public Object {
 public:
  Array() = default;
  static ArrayRef create() { return std::make_shared<Array>(); }
  static ArrayRef create(std::initializer_list<Ref> items);

  TypeID typeID() const override { return kArrayTypeID; }
  bool isEqual(const Object& other) const override;
  std::string description() const override;

  size_t count() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // Null when out of range.
  Ref at(size_t i) const { return i < items_.size() ? items_[i] : nullptr; }
  template <class T>
  std::shared_ptr<T> at(size_t i) const { return As<T>(at(i)); }
  void append(Ref v) { items_.push_back(std::move(v)); }
  bool insert(size_t i, Ref v);
  bool set(size_t i, Ref v);
  bool remove(size_t i);
  void removeAll() { items_.clear(); }
  // Index of the first value equal to v, or -1.
  long indexOf(const Ref& v) const;
  // A new array holding the same objects.
  ArrayRef copy() const;

  const std::vector<Ref>& items() const { return items_; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<Ref> items_;
};

// Keys are usually strings and kept in sorted order, which makes every
// written property list stable. Keys of other types are allowed (the
// platform allows them) and kept in insertion order after the string keys.
class Dictionary final : public Object {
 public:
  Dictionary() = default;
  static DictionaryRef create() { return std::make_shared<Dictionary>(); }

  TypeID typeID() const override { return kDictionaryTypeID; }
  bool isEqual(const Object& other) const override;
  std::string description() const override;

  size_t count() const { return strings_.size() + others_.size(); }
  bool empty() const { return count() == 0; }

  Ref getValue(std::string_view key) const;
  Ref getValue(const Ref& key) const;
  template <class T>
  std::shared_ptr<T> get(std::string_view key) const { return As<T>(getValue(key)); }
  bool contains(std::string_view key) const { return getValue(key) != nullptr; }
  bool contains(const Ref& key) const { return getValue(key) != nullptr; }

  // A null value removes the key.
  void setValue(std::string_view key, Ref value);
  void setValue(const Ref& key, Ref value);
  void removeValue(std::string_view key);
  void removeValue(const Ref& key);
  void removeAll();

  // Visits every pair, string keys first in sorted order.
  void forEach(const std::function<void(const Ref& key, const Ref& value)>& fn) const;
  std::vector<Ref> keys() const;
  // A new dictionary holding the same objects.
  DictionaryRef copy() const;

 private:
  struct Slot {
    StringRef key;
    Ref value;
  };
  std::map<std::string, Slot, std::less<>> strings_;
  std::vector<std::pair<Ref, Ref>> others_;
};

// A new tree in which every container is a fresh copy; leaves are shared
// (they are immutable).
Ref DeepCopy(const Ref& obj);

// Short makers for code and tests.
inline StringRef str(std::string_view s) { return String::create(s); }
inline NumberRef num(int64_t v) { return Number::create(v); }

}  // namespace cf
