// Bundles: a directory with Contents/Info.plist, Contents/lib/<library>.so
// and Contents/Resources/ holding interface files and <lang>.lproj folders of
// .strings tables.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cf/cf.h"

namespace bndl {

class Bundle;
using BundleRef = std::shared_ptr<Bundle>;

// A parsed .strings table: "key" = "value"; with /* */ and // comments,
// escapes \" \\ \n \t \r \0 and \Uxxxx (UTF-16 unit, surrogate pairs joined).
// UTF-8, or UTF-16 with a byte-order mark.
struct StringsTable {
  std::map<std::string, std::string, std::less<>> entries;
};
// Null with a reason on malformed input.
std::optional<StringsTable> ParseStrings(std::string_view bytes, std::string* error = nullptr);

// The user's languages, most wanted first: R2740_LANG (colon-separated),
// then LANGUAGE (colon-separated), then the language of the first of
// LC_ALL / LC_MESSAGES / LANG that is set (none for C or POSIX). A regional
// name ("ja_JP") is followed by its language ("ja"); duplicates are
// dropped. The host and the bundles both choose their texts by it.
std::vector<std::string> PreferredLanguages();

class Bundle {
 public:
  // Null when the directory or its Contents/Info.plist is missing or the
  // Info.plist is not a dictionary (reason in *error).
  static BundleRef bundleWithPath(const std::string& path, std::string* error = nullptr);

  const std::string& bundlePath() const { return path_; }
  std::string resourcePath() const { return path_ + "/Contents/Resources"; }
  std::string libraryPath() const { return path_ + "/Contents/lib"; }
  cf::DictionaryRef infoDictionary() const { return info_; }
  cf::Ref objectForInfoDictionaryKey(const std::string& key) const;
  std::string bundleIdentifier() const;  // CFBundleIdentifier, empty if none
  // The path of a resource "<name>.<type>", looked up in the preferred
  // language folders first, then in Resources itself; nullopt if absent.
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;

  // The localization of a key in a table ("Localizable" when empty), from
  // the first preferred language that has the table (else a table directly
  // in Resources). nullopt means "no localization" and is different from an
  // empty value; a malformed table answers nullopt for every key.
  std::optional<std::string> localizedString(const std::string& key, const std::string& table = "") const;
  // The table localizedString reads for the current languages, null when
  // none (or malformed); it lives as long as the bundle. For many lookups
  // in a row.
  const StringsTable* localizedTable(const std::string& table = "") const;
  cf::StringRef localizedCFString(const std::string& key, const std::string& table = "") const;

  // The languages tried, in order: PreferredLanguages(), then the bundle's
  // CFBundleDevelopmentRegion, then "en", then "Base".
  std::vector<std::string> preferredLocalizations() const;

 private:
  explicit Bundle(std::string path) : path_(std::move(path)) {}
  const StringsTable* table(const std::string& lang, const std::string& name) const;
  enum class TableState { Absent, Malformed, Loaded };
  // Reads (once) "<folder>/<name>.strings" under Resources; folder may be "".
  TableState loadTable(const std::string& folder, const std::string& name, const StringsTable** out) const;

  std::string path_;
  cf::DictionaryRef info_;
  mutable std::mutex mu_;
  mutable std::map<std::string, std::optional<StringsTable>> tables_;  // "lang/table"
  mutable std::set<std::string> absent_;                               // tables with no file
  // The table each lookup settled on, by language settings and table name
  // (null: none); panels ask for dozens of strings per dialog.
  mutable std::map<std::string, const StringsTable*, std::less<>> chosen_;
};

}  // namespace bndl
