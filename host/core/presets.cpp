// Presets as property-list files of the user's own.
#include "presets.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cf/plist.h"
#include "defaults.h"
#include "system/system.h"

namespace host {

namespace {

constexpr const char* kSuffix = ".plist";
constexpr size_t kMaxName = 200;
const std::string kTicketPrefix = "jp.orvessa.printers.R2740.";

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// File names keep letters, digits, space, '-', '_' and '.' (not leading);
// every other byte is %XX, so any name maps to one file and back.
std::string FileName(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool keep = std::isalnum(c) || c == ' ' || c == '-' || c == '_' || (c == '.' && i > 0);
    if (keep) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out + kSuffix;
}

std::string NameOf(const std::string& file) {
  std::string base = file.substr(0, file.size() - std::strlen(kSuffix));
  std::string out;
  for (size_t i = 0; i < base.size(); ++i) {
    if (base[i] == '%' && i + 2 < base.size() && std::isxdigit(static_cast<unsigned char>(base[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(base[i + 2]))) {
      out += static_cast<char>(std::stoi(base.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += base[i];
    }
  }
  return out;
}

bool IsSecret(const std::string& key) {
  if (pm::FindTypedOption(key)) return true;
  return key.size() > kTicketPrefix.size() + 3 && key.compare(0, kTicketPrefix.size(), kTicketPrefix) == 0 &&
         key.compare(key.size() - 3, 3, "Key") == 0;
}

void DropSecrets(const cf::DictionaryRef& dict, int depth) {
  std::vector<std::string> secrets;
  dict->forEach([&](const cf::Ref& k, const cf::Ref& v) {
    auto key = cf::As<cf::String>(k);
    if (!key) return;
    if (IsSecret(key->utf8())) secrets.push_back(key->utf8());
    else if (auto inner = cf::As<cf::Dictionary>(v); inner && depth < 2) DropSecrets(inner, depth + 1);
  });
  for (const auto& k : secrets) dict->removeValue(k);
}

}  // namespace

std::string PresetFolder() { return sys::UserPreferencesFolder() + "/presets"; }

std::vector<std::string> PresetNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(PresetFolder(), ec)) {
    std::string file = entry.path().filename().string();
    if (file.size() <= std::strlen(kSuffix) || file.compare(file.size() - std::strlen(kSuffix), std::string::npos, kSuffix) != 0)
      continue;
    if (!entry.is_regular_file(ec)) continue;
    names.push_back(NameOf(file));
  }
  std::sort(names.begin(), names.end());
  auto last = std::find(names.begin(), names.end(), kLastUsedSettings);
  if (last != names.end()) std::rotate(names.begin(), last, last + 1);
  return names;
}

bool SavePreset(const std::string& name, const cf::DictionaryRef& settings, const std::string& queueId,
                std::string* error) {
  if (name.empty() || name.size() > kMaxName) return Fail(error, "a preset needs a name of 1 to 200 bytes");
  if (name == kDefaultSettings) return Fail(error, "\"" + name + "\" is the queue's defaults, not a preset");
  if (!settings) return Fail(error, "no settings to keep");
  auto copy = cf::As<cf::Dictionary>(cf::DeepCopy(settings));
  copy->removeValue(kPageRangesOption);
  DropSecrets(copy, 0);
  copy->setValue(kPresetQueueKey, cf::str(queueId));
  std::string folder = PresetFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) return Fail(error, "cannot create " + folder + ": " + ec.message());
  chmod(folder.c_str(), 0700);
  std::string path = folder + "/" + FileName(name);
  std::string why;
  // Created readable by the user only, before any content is there.
  mode_t old = umask(077);
  bool ok = cf::PropertyListWriteToFile(copy, path, true, &why);
  umask(old);
  if (!ok) return Fail(error, "cannot write the preset " + path + ": " + why);
  return true;
}

cf::DictionaryRef LoadPreset(const std::string& name, const std::string& queueId, std::string* error) {
  std::string path = PresetFolder() + "/" + FileName(name);
  std::string why;
  auto dict = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(path, &why));
  if (!dict) {
    Fail(error, sys::FileExists(path) ? "preset \"" + name + "\" cannot be read: " + (why.empty() ? "no dictionary" : why)
                                      : "no preset named \"" + name + "\"");
    return nullptr;
  }
  auto from = cf::As<cf::String>(dict->getValue(kPresetQueueKey));
  dict->removeValue(kPresetQueueKey);
  if (from && from->utf8() != queueId && !queueId.empty()) {
    // Model dictionaries: the top-level dictionaries holding one for the
    // queue the preset was saved on.
    dict->forEach([&](const cf::Ref&, const cf::Ref& v) {
      auto model = cf::As<cf::Dictionary>(v);
      if (!model || model->contains(queueId)) return;
      if (auto values = cf::As<cf::Dictionary>(model->getValue(from->utf8())))
        model->setValue(queueId, cf::DeepCopy(values));
    });
  }
  return dict;
}

bool ApplyPreset(DialogSession& session, const cf::DictionaryRef& preset, const OptionList& destination,
                 std::string* error) {
  session.loadSettings(preset ? preset : cf::Dictionary::create());
  (void)StartFromDefaults(session.callback(), destination);  // a value the queue cannot take falls back silently
  for (auto& p : session.panels()) {
    pde::PDEError e;
    if (!p.panel->restoreValuesAndReturnError(&e))
      return Fail(error, "panel \"" + p.name + "\" failed to restore its values" + (e.message.empty() ? "" : ": " + e.message));
  }
  for (auto& p : session.panels()) (void)p.panel->summaryInfo();
  return true;
}

}  // namespace host
