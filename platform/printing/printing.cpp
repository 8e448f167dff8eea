#include "printing/printing.h"

namespace pm {

// ---- PrintSettings --------------------------------------------------------

cf::DictionaryRef PrintSettings::asDictionary() const {
  auto dict = cf::Dictionary::create();
  for (const auto& [key, entry] : entries_)
    if (entry.value) dict->setValue(key, entry.value);
  return dict;
}

void PrintSettings::loadDictionary(const cf::DictionaryRef& dict) {
  entries_.clear();
  if (!dict) return;
  dict->forEach([this](const cf::Ref& key, const cf::Ref& value) {
    // Print settings are keyed by strings only.
    if (auto s = cf::As<cf::String>(key); s && value) entries_[s->utf8()] = Entry{value, false};
  });
}

cf::Ref PrintSettings::value(const std::string& key) const {
  auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : it->second.value;
}

void PrintSettings::setValue(const std::string& key, cf::Ref value, bool locked) {
  if (!value) {
    entries_.erase(key);
    return;
  }
  entries_[key] = Entry{std::move(value), locked};
}

bool PrintSettings::isLocked(const std::string& key) const {
  auto it = entries_.find(key);
  return it != entries_.end() && it->second.locked;
}

void PrintSettings::remove(const std::string& key) { entries_.erase(key); }

// ---- the platform calls ---------------------------------------------------

OSStatus PMPrintSettingsGetValue(PMPrintSettings settings, const cf::StringRef& key, cf::Ref* value) {
  if (!key) {
    if (value) *value = nullptr;
    return paramErr;
  }
  return PMPrintSettingsGetValue(settings, key->utf8(), value);
}

OSStatus PMPrintSettingsGetValue(PMPrintSettings settings, const std::string& key, cf::Ref* value) {
  if (!value) return paramErr;
  *value = nullptr;
  if (!settings) return paramErr;
  cf::Ref v = settings->value(key);
  if (!v) return kPMKeyNotFound;
  // The very object held, so that changes made through it are kept.
  *value = std::move(v);
  return noErr;
}

OSStatus PMPrintSettingsSetValue(PMPrintSettings settings, const cf::StringRef& key, cf::Ref value, bool locked) {
  if (!key) return paramErr;
  return PMPrintSettingsSetValue(settings, key->utf8(), std::move(value), locked);
}

OSStatus PMPrintSettingsSetValue(PMPrintSettings settings, const std::string& key, cf::Ref value, bool locked) {
  if (!settings || key.empty()) return paramErr;
  settings->setValue(key, std::move(value), locked);
  return noErr;
}

OSStatus PMSessionGetCurrentPrinter(PMPrintSession session, PMPrinter* printer) {
  if (!printer) return paramErr;
  *printer = nullptr;
  if (!session) return paramErr;
  Printer* p = session->currentPrinter();
  if (!p) return kPMInvalidPrinter;
  *printer = p;
  return noErr;
}

cf::StringRef PMPrinterGetID(PMPrinter printer) {
  if (!printer) return nullptr;
  return cf::String::create(printer->id());
}

OSStatus PMPrinterCopyDeviceURI(PMPrinter printer, cf::URLRef* uri) {
  if (!uri) return paramErr;
  *uri = nullptr;
  if (!printer) return paramErr;
  cf::URLRef u = cf::URL::createWithString(printer->deviceURI());
  if (!u) return kPMObjectNotFound;
  *uri = std::move(u);
  return noErr;
}

OSStatus PMSessionGetDataFromSession(PMPrintSession session, const std::string& key, cf::Ref* data) {
  if (!data) return paramErr;
  *data = nullptr;
  if (!session || key.empty()) return paramErr;
  cf::Ref v = session->data(key);
  if (!v) return kPMKeyNotFound;
  *data = std::move(v);
  return noErr;
}

OSStatus PMSessionSetDataInSession(PMPrintSession session, const std::string& key, cf::Ref data) {
  if (!session || key.empty()) return paramErr;
  session->setData(key, std::move(data));
  return noErr;
}

OSStatus PMGetPageFormatPaper(PMPageFormat format, PMPaper* paper) {
  if (!paper) return paramErr;
  *paper = nullptr;
  if (!format) return paramErr;
  if (!format->paper()) return kPMInvalidPaper;
  *paper = format->paper();
  return noErr;
}

OSStatus PMPaperGetName(PMPaper paper, cf::StringRef* name) {
  if (!name) return paramErr;
  *name = nullptr;
  if (!paper) return paramErr;
  *name = cf::String::create(paper->name());
  return noErr;
}

OSStatus PMPaperGetID(PMPaper paper, cf::StringRef* id) {
  if (!id) return paramErr;
  *id = nullptr;
  if (!paper) return paramErr;
  *id = cf::String::create(paper->id());
  return noErr;
}

OSStatus PMGetOrientation(PMPageFormat format, PMOrientation* orientation) {
  if (!orientation) return paramErr;
  if (!format) {
    *orientation = 0;
    return paramErr;
  }
  *orientation = format->orientation();
  return noErr;
}

OSStatus PMGetUnadjustedPaperRect(PMPageFormat format, PMRect* rect) {
  if (!rect) return paramErr;
  *rect = PMRect{};
  if (!format) return paramErr;
  Paper* paper = format->paper();
  if (!paper) return kPMInvalidPaper;
  rect->top = 0;
  rect->left = 0;
  rect->bottom = paper->height();
  rect->right = paper->width();
  return noErr;
}

OSStatus PMPrintSettingsGetPaperName(PMPrintSettings settings, cf::StringRef* name) {
  if (!name) return paramErr;
  *name = nullptr;
  if (!settings) return paramErr;
  auto s = cf::As<cf::String>(settings->value(kPMDestinationPaperNameKey));
  if (!s) return kPMKeyNotFound;
  *name = std::move(s);
  return noErr;
}

}  // namespace pm
