#include "bundle/bundle.h"

#include <sys/stat.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cf/plist.h"

namespace bndl {

// ---- .strings parsing ------------------------------------------------------

namespace {

bool ToUTF8(const std::u16string& in, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  UErrorCode status = U_ZERO_ERROR;
  int32_t needed = 0;
  u_strToUTF8(nullptr, 0, &needed, in.data(), static_cast<int32_t>(in.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
  out->assign(static_cast<size_t>(needed), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8(out->data(), needed, nullptr, in.data(), static_cast<int32_t>(in.size()), &status);
  return U_SUCCESS(status);
}

// The text as UTF-16 units; false with a reason when it cannot be decoded.
bool Decode(std::string_view bytes, std::u16string* out, std::string* error) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && ((b(0) == 0xFF && b(1) == 0xFE) || (b(0) == 0xFE && b(1) == 0xFF))) {
    bool little = b(0) == 0xFF;
    if (bytes.size() % 2 != 0) {
      *error = "UTF-16 text with an odd number of bytes";
      return false;
    }
    out->clear();
    for (size_t i = 2; i < bytes.size(); i += 2)
      out->push_back(static_cast<char16_t>(little ? (b(i) | (b(i + 1) << 8)) : ((b(i) << 8) | b(i + 1))));
    return true;
  }
  if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) bytes.remove_prefix(3);
  out->clear();
  if (bytes.empty()) return true;
  UErrorCode status = U_ZERO_ERROR;
  int32_t needed = 0;
  u_strFromUTF8(nullptr, 0, &needed, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
    *error = "text is neither UTF-8 nor UTF-16 with a byte-order mark";
    return false;
  }
  out->assign(static_cast<size_t>(needed), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8(out->data(), needed, nullptr, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) {
    *error = "text is neither UTF-8 nor UTF-16 with a byte-order mark";
    return false;
  }
  return true;
}

class StringsParser {
 public:
  explicit StringsParser(const std::u16string& text) : s_(text) {}

  bool parse(StringsTable* table, std::string* error) {
    while (true) {
      if (!skipSpace()) return fail(error);
      if (i_ >= s_.size()) return true;
      std::u16string key, value;
      if (!readString(&key)) return fail(error);
      if (!skipSpace()) return fail(error);
      if (i_ < s_.size() && s_[i_] == u';') {
        value = key;  // "key"; stands for "key" = "key";
      } else {
        if (i_ >= s_.size() || s_[i_] != u'=') return fail(error, "expected \"=\" or \";\" after a key");
        ++i_;
        if (!skipSpace()) return fail(error);
        if (!readString(&value)) return fail(error);
        if (!skipSpace()) return fail(error);
        if (i_ >= s_.size() || s_[i_] != u';') return fail(error, "expected \";\" after a value");
      }
      ++i_;
      std::string k, v;
      if (!ToUTF8(key, &k) || !ToUTF8(value, &v)) return fail(error, "unpaired surrogate in a string");
      table->entries[std::move(k)] = std::move(v);
    }
  }

 private:
  bool fail(std::string* error, const char* why = nullptr) {
    if (why) why_ = why;
    if (error) *error = "line " + std::to_string(line()) + ": " + why_;
    return false;
  }
  size_t line() const {
    size_t n = 1;
    for (size_t k = 0; k < i_ && k < s_.size(); ++k) n += s_[k] == u'\n';
    return n;
  }

  // Whitespace and comments; false on an unterminated comment.
  bool skipSpace() {
    while (i_ < s_.size()) {
      char16_t c = s_[i_];
      if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v' || c == 0xFEFF) {
        ++i_;
      } else if (c == u'/' && i_ + 1 < s_.size() && s_[i_ + 1] == u'*') {
        size_t end = s_.find(u"*/", i_ + 2);
        if (end == std::u16string::npos) {
          why_ = "unterminated comment";
          return false;
        }
        i_ = end + 2;
      } else if (c == u'/' && i_ + 1 < s_.size() && s_[i_ + 1] == u'/') {
        while (i_ < s_.size() && s_[i_] != u'\n') ++i_;
      } else {
        break;
      }
    }
    return true;
  }

  static bool IsBareChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
           c == u'$' || c == u'+' || c == u'/' || c == u':' || c == u'.' || c == u'-';
  }
  static int Hex(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
  }

  bool readString(std::u16string* out) {
    out->clear();
    if (i_ >= s_.size()) {
      why_ = "unexpected end of text";
      return false;
    }
    if (s_[i_] != u'"') {
      while (i_ < s_.size() && IsBareChar(s_[i_])) out->push_back(s_[i_++]);
      if (out->empty()) {
        why_ = "expected a quoted string";
        return false;
      }
      return true;
    }
    ++i_;
    while (true) {
      if (i_ >= s_.size()) {
        why_ = "unterminated string";
        return false;
      }
      char16_t c = s_[i_++];
      if (c == u'"') return true;
      if (c != u'\\') {
        out->push_back(c);
        continue;
      }
      if (i_ >= s_.size()) {
        why_ = "unterminated string";
        return false;
      }
      char16_t e = s_[i_++];
      switch (e) {
        case u'n': out->push_back(u'\n'); break;
        case u't': out->push_back(u'\t'); break;
        case u'r': out->push_back(u'\r'); break;
        case u'a': out->push_back(u'\a'); break;
        case u'b': out->push_back(u'\b'); break;
        case u'f': out->push_back(u'\f'); break;
        case u'v': out->push_back(u'\v'); break;
        case u'U':
        case u'u': {
          unsigned v = 0;
          for (int k = 0; k < 4; ++k) {
            int h = i_ < s_.size() ? Hex(s_[i_]) : -1;
            if (h < 0) {
              why_ = "\\U needs four hex digits";
              return false;
            }
            v = v * 16 + static_cast<unsigned>(h);
            ++i_;
          }
          out->push_back(static_cast<char16_t>(v));  // pairs join in the units
          break;
        }
        default:
          if (e >= u'0' && e <= u'7') {
            unsigned v = e - u'0';
            for (int k = 0; k < 2 && i_ < s_.size() && s_[i_] >= u'0' && s_[i_] <= u'7'; ++k)
              v = v * 8 + (s_[i_++] - u'0');
            out->push_back(static_cast<char16_t>(v));
          } else {
            out->push_back(e);  // \" \\ \' and any other character stand for themselves
          }
      }
    }
  }

  const std::u16string& s_;
  size_t i_ = 0;
  std::string why_ = "syntax error";
};

}  // namespace

std::optional<StringsTable> ParseStrings(std::string_view bytes, std::string* error) {
  std::u16string text;
  std::string why;
  if (!Decode(bytes, &text, &why)) {
    if (error) *error = why;
    return std::nullopt;
  }
  StringsTable table;
  StringsParser parser(text);
  if (!parser.parse(&table, error)) return std::nullopt;
  return table;
}

// ---- Bundle ------------------------------------------------------------------

namespace {

bool IsDir(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool Exists(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}
bool IsFile(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Folder names for a language: its code and the old English name some
// bundles still use.
std::vector<std::string> FolderNames(const std::string& lang) {
  static const std::map<std::string, std::string> kOldNames = {
      {"en", "English"}, {"ja", "Japanese"}, {"fr", "French"},   {"de", "German"},
      {"it", "Italian"}, {"es", "Spanish"},  {"nl", "Dutch"},    {"English", "en"},
      {"Japanese", "ja"}, {"French", "fr"},  {"German", "de"},   {"Italian", "it"},
      {"Spanish", "es"}, {"Dutch", "nl"}};
  std::vector<std::string> out{lang};
  auto it = kOldNames.find(lang);
  if (it != kOldNames.end()) out.push_back(it->second);
  return out;
}

bool ValidName(const std::string& s) { return !s.empty() && s.find('/') == std::string::npos && s != "." && s != ".."; }

}  // namespace

BundleRef Bundle::bundleWithPath(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) -> BundleRef {
    if (error) *error = why;
    return nullptr;
  };
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty() || !IsDir(p)) return fail("no bundle directory at " + path);
  std::string infoPath = p + "/Contents/Info.plist";
  if (!Exists(infoPath)) return fail("bundle " + p + " has no Contents/Info.plist");
  std::string why;
  auto info = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(infoPath, &why));
  if (!info) return fail(infoPath + " is not a dictionary property list" + (why.empty() ? "" : ": " + why));
  BundleRef bundle(new Bundle(p));
  bundle->info_ = info;
  return bundle;
}

cf::Ref Bundle::objectForInfoDictionaryKey(const std::string& key) const {
  return info_ ? info_->getValue(key) : nullptr;
}

std::string Bundle::bundleIdentifier() const {
  auto s = cf::As<cf::String>(objectForInfoDictionaryKey("CFBundleIdentifier"));
  return s ? s->utf8() : std::string();
}

namespace {

// A regional name ("ja_JP") is followed by its language ("ja").
void AddLanguage(std::vector<std::string>& out, const std::string& lang) {
  for (const std::string& l : {lang, lang.substr(0, lang.find_first_of("_-"))}) {
    if (l.empty() || std::find(out.begin(), out.end(), l) != out.end()) continue;
    out.push_back(l);
  }
}

void AddLanguageList(std::vector<std::string>& out, const char* list) {
  if (!list) return;
  std::stringstream ss(list);
  std::string part;
  while (std::getline(ss, part, ':')) AddLanguage(out, part);
}

}  // namespace

std::vector<std::string> PreferredLanguages() {
  std::vector<std::string> out;
  AddLanguageList(out, std::getenv("R2740_LANG"));
  AddLanguageList(out, std::getenv("LANGUAGE"));
  // POSIX precedence: the first of these that is set decides.
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (!v || !*v) continue;
    std::string locale(v);
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale != "C" && locale != "POSIX") AddLanguage(out, locale);
    break;
  }
  return out;
}

std::vector<std::string> Bundle::preferredLocalizations() const {
  std::vector<std::string> out = PreferredLanguages();
  if (auto region = cf::As<cf::String>(objectForInfoDictionaryKey("CFBundleDevelopmentRegion")))
    AddLanguage(out, region->utf8());
  AddLanguage(out, "en");
  AddLanguage(out, "Base");
  return out;
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& type) const {
  if (name.empty()) return std::nullopt;
  std::string file = type.empty() ? name : name + "." + type;
  std::string res = resourcePath();
  for (const auto& lang : preferredLocalizations()) {
    for (const auto& folder : FolderNames(lang)) {
      if (!ValidName(folder)) continue;
      std::string p = res + "/" + folder + ".lproj/" + file;
      if (Exists(p)) return p;
    }
  }
  std::string p = res + "/" + file;
  if (Exists(p)) return p;
  return std::nullopt;
}

Bundle::TableState Bundle::loadTable(const std::string& folder, const std::string& name,
                                     const StringsTable** out) const {
  *out = nullptr;
  std::string key = folder + "/" + name;
  std::lock_guard<std::mutex> lock(mu_);
  auto it = tables_.find(key);
  if (it == tables_.end()) {
    std::string path = resourcePath() + "/" + (folder.empty() ? "" : folder + "/") + name + ".strings";
    if (!IsFile(path)) {
      it = tables_.emplace(key, std::nullopt).first;
      absent_.insert(key);
    } else {
      std::ifstream in(path, std::ios::binary);
      std::stringstream buf;
      buf << in.rdbuf();
      std::optional<StringsTable> parsed;
      if (in) parsed = ParseStrings(buf.str());
      it = tables_.emplace(key, std::move(parsed)).first;
    }
  }
  if (absent_.count(key)) return TableState::Absent;
  if (!it->second) return TableState::Malformed;
  *out = &*it->second;  // map nodes never move and are never erased
  return TableState::Loaded;
}

const StringsTable* Bundle::table(const std::string& lang, const std::string& name) const {
  const StringsTable* t = nullptr;
  for (const auto& folder : FolderNames(lang)) {
    if (!ValidName(folder)) continue;
    if (loadTable(folder + ".lproj", name, &t) != TableState::Absent) return t;
  }
  return nullptr;
}

namespace {

// Everything PreferredLanguages() reads, as one string: equal settings give
// equal languages. An empty variable counts as unset there too.
void AppendLanguageSettings(std::string& out) {
  for (const char* var : {"R2740_LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* v = std::getenv(var)) out += v;
    out += '\0';
  }
}

}  // namespace

std::optional<std::string> Bundle::localizedString(const std::string& key, const std::string& table) const {
  const StringsTable* t = localizedTable(table);
  if (!t) return std::nullopt;
  auto it = t->entries.find(key);
  if (it == t->entries.end()) return std::nullopt;
  return it->second;
}

const StringsTable* Bundle::localizedTable(const std::string& table) const {
  std::string name = table.empty() ? "Localizable" : table;
  if (!ValidName(name)) return nullptr;
  // Which table serves depends only on the language settings and on files
  // whose presence loadTable keeps for good, so the choice is kept too.
  std::string choice;
  AppendLanguageSettings(choice);
  choice += name;
  const StringsTable* t = nullptr;
  bool known = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = chosen_.find(choice);
    if (it != chosen_.end()) {
      t = it->second;
      known = true;
    }
  }
  if (!known) {
    TableState state = TableState::Absent;
    for (const auto& lang : preferredLocalizations()) {
      for (const auto& folder : FolderNames(lang)) {
        if (!ValidName(folder)) continue;
        state = loadTable(folder + ".lproj", name, &t);
        if (state != TableState::Absent) break;
      }
      if (state != TableState::Absent) break;
    }
    // A table outside the language folders serves every language.
    if (state == TableState::Absent) state = loadTable("", name, &t);
    if (state != TableState::Loaded) t = nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    chosen_.emplace(std::move(choice), t);
  }
  return t;
}

cf::StringRef Bundle::localizedCFString(const std::string& key, const std::string& table) const {
  auto s = localizedString(key, table);
  return s ? cf::str(*s) : nullptr;
}

}  // namespace bndl
