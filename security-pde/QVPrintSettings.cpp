#include "QVPrintSettings.h"

#include <strings.h>

#include <cmath>
#include <cstring>

#include "PDEControlData.h"
#include "cf/plist.h"
#include "system/system.h"

namespace R2740_SECURITY_NS {

namespace {

// The model dictionary and the per-queue dictionary are ours; a value of the
// wrong type under either key cannot be read by anybody, so it is replaced
// by a fresh dictionary rather than leaving the panel unable to save.
cf::DictionaryRef DictionaryUnder(const std::function<cf::Ref()>& get,
                                  const std::function<void(const cf::Ref&)>& set, const char* what) {
  cf::Ref v = get();
  if (auto d = cf::As<cf::Dictionary>(v)) return d;
  if (v) sys::NSLog("[Security]%s is not a dictionary; replaced", what);
  set(cf::Dictionary::create());
  return cf::As<cf::Dictionary>(get());
}

cf::DictionaryRef QueueDictionary(pm::PMPrintSettings settings, const cf::StringRef& modelKey,
                                  const cf::StringRef& queue) {
  if (!settings || !modelKey) return nullptr;
  cf::DictionaryRef model = DictionaryUnder(
      [&] {
        cf::Ref v;
        pm::PMPrintSettingsGetValue(settings, modelKey, &v);
        return v;
      },
      // settings is not null, so the store cannot fail
      [&](const cf::Ref& v) { (void)pm::PMPrintSettingsSetValue(settings, modelKey, v, false); },
      "model dictionary");
  if (!model || !queue) return nullptr;
  return DictionaryUnder([&] { return model->getValue(queue->utf8()); },
                         [&](const cf::Ref& v) { model->setValue(queue->utf8(), v); }, "queue dictionary");
}

// Marks a choice in the PPD unless it is marked already.
void MarkInPPD(ppd_file_t* ppd, const std::string& keyword, const std::string& choice) {
  if (!ppd || keyword.empty() || choice.empty()) return;
  if (!ppdIsMarked(ppd, keyword.c_str(), choice.c_str())) ppdMarkOption(ppd, keyword.c_str(), choice.c_str());
}

bool IsASCII(const std::string& s) {
  for (unsigned char c : s) {
    if (c > 0x7F) return false;
  }
  return true;
}

}  // namespace

// ---- ticket dictionaries -------------------------------------------------

cf::StringRef ticketGetPrintQueueName(pm::PMPrintSession session) {
  pm::PMPrinter printer = nullptr;
  if (pm::PMSessionGetCurrentPrinter(session, &printer) != pm::noErr || !printer) return nullptr;
  return pm::PMPrinterGetID(printer);
}

cf::DictionaryRef ticketGetModelDictionary(pm::PMPrintSettings settings, pm::PMPrintSession session) {
  if (!settings) return nullptr;
  return QueueDictionary(settings, cf::str(kSecurityModelKey), ticketGetPrintQueueName(session));
}

void ticketCFDictionaryMapToTicket(pm::PMPrintSettings settings, const cf::DictionaryRef& dict) {
  if (!settings || !dict) return;
  dict->forEach([&](const cf::Ref& key, const cf::Ref& value) {
    // An empty key is skipped.
    if (auto k = cf::As<cf::String>(key)) (void)pm::PMPrintSettingsSetValue(settings, k, value, false);
  });
}

void ticketCopyToRoot(pm::PMPrintSettings settings, pm::PMPrintSession session) {
  if (cf::DictionaryRef dict = ticketGetModelDictionary(settings, session)) ticketCFDictionaryMapToTicket(settings, dict);
}

cf::DictionaryRef PDECoreGetModelDictionary(QVSession* session) {
  pm::PMPrintSettings settings = nullptr;
  QVGetPrintSettings(session, &settings);
  cf::StringRef product = PDECoreGetPPDProductNameArgument(session);
  if (!settings || !product) {
    sys::NSLog("PDECoreGetModelDictionary error1:%d", settings ? 0 : -1);
    return nullptr;
  }
  cf::StringRef queue = PDECoreGetPrintQueueNameArgument(session);
  cf::DictionaryRef dict = QueueDictionary(settings, product, queue);
  if (!dict) sys::NSLog("PDECoreGetModelDictionary error3");
  return dict;
}

pm::OSStatus PDECustomGetJobTicketPPDDict(QVSession* session, const cf::StringRef& key, cf::StringRef* value) {
  if (value) *value = nullptr;
  cf::DictionaryRef dict = PDECoreGetModelDictionary(session);
  if (!dict) {
    sys::NSLog("PDECoreGetModelDictionary ERR");
    return -1;
  }
  if (!key || !value) return -1;
  *value = dict->get<cf::String>(key->utf8());
  return *value ? pm::noErr : -1;
}

pm::OSStatus PDECustomSetJobTicketPPDDict(QVSession* session, const char* keyword, const char* choice) {
  if (!keyword || !choice) return pm::paramErr;
  ppd_file_t* ppd = nullptr;
  if (GetPPDReference(session, &ppd) != pm::noErr || !ppd) return pm::kPMObjectNotFound;
  std::string k(keyword, strnlen(keyword, 254));
  std::string c(choice, strnlen(choice, 254));
  if (!IsASCII(k) || !IsASCII(c)) return pm::paramErr;
  if (cf::DictionaryRef dict = PDECoreGetModelDictionary(session)) dict->setValue(k, cf::str(c));
  MarkInPPD(ppd, k, c);
  FreePPDReference(ppd);
  return pm::noErr;
}

pm::OSStatus UpdateTicketWithPPDOption(QVSession* session, PPDUIOption* option, int index) {
  if (!option || index < 0 || index >= option->numChoices) return pm::paramErr;
  cf::StringRef keyword = PPDUIOptionGetSelfKey(option);
  cf::StringRef choice = PPDUIOptionIndexToKey(option, index);
  if (!keyword || !choice) return pm::paramErr;
  if (cf::DictionaryRef dict = PDECoreGetModelDictionary(session)) dict->setValue(keyword->utf8(), choice);
  ppd_file_t* ppd = nullptr;
  if (GetPPDReference(session, &ppd) == pm::noErr && ppd) {
    MarkInPPD(ppd, keyword->utf8().substr(0, 254), choice->utf8().substr(0, 254));
    FreePPDReference(ppd);
  }
  return pm::noErr;
}

pm::OSStatus PDECustomSetJobTicketWithArgument(PDEControlData* record, QVSession* session) {
  if (!record || !record->key) return pm::paramErr;
  ppd_file_t* ppd = nullptr;
  GetPPDReference(session, &ppd);
  PPDUIOption* option = record->ppdInfo;
  PPDUIOption* temporary = nullptr;
  if (!option) option = temporary = CreatePPDUIOptionWithCFKey(ppd, record->key);
  pm::OSStatus status = pm::kPMPPDOptionNotFound;
  if (option) {
    int index = PDEControlDataGetPPDIndex(record);
    cf::StringRef choice = PPDUIOptionIndexToKey(option, index);
    if (choice) {
      option->curIndex = static_cast<int16_t>(index);
      const std::string& k = record->key->utf8();
      const std::string& c = choice->utf8();
      if (!k.empty() && !c.empty() && k.size() <= PPD_MAX_NAME - 1 && c.size() <= PPD_MAX_NAME - 1) {
        if (cf::DictionaryRef dict = PDECoreGetModelDictionary(session)) dict->setValue(k, choice);
        MarkInPPD(ppd, k, c);
        status = pm::noErr;
      } else {
        status = pm::paramErr;
      }
    }
  }
  DeletePPDUIOption(temporary);
  FreePPDReference(ppd);
  return status;
}

pm::OSStatus PDECustomGetJobTicketPPDDictRoot(QVSession* session, const cf::StringRef& key, cf::StringRef* value) {
  if (value) *value = nullptr;
  pm::PMPrintSettings settings = nullptr;
  if (QVGetPrintSettings(session, &settings) != pm::noErr) return -1;
  return QVPrintSettingsGetString(settings, key, value);
}

pm::OSStatus PDECustomGetJobTicketSInt32DictPMPrintSettingsRef(QVSession* session, const char* key, int32_t* value) {
  if (value) *value = -1;
  if (!key) return -10;
  cf::StringRef k = cf::String::createWithBytes(key, strlen(key), cf::kCFStringEncodingUTF8);
  if (!k) return -10;
  pm::PMPrintSettings settings = nullptr;
  if (QVGetPrintSettings(session, &settings) != pm::noErr) return -1;
  pm::OSStatus s = QVPrintSettingsGetSInt32(settings, k, value);
  if (s != pm::noErr && value) *value = -1;
  return s;
}

pm::OSStatus PDECustomGetJobTicketSInt32DictPMPageFormatRef(QVSession* session, const char* key, int32_t* value) {
  if (value) *value = -1;
  pm::PMPageFormat format = nullptr;
  if (!key || QVGetPageFormat(session, &format) != pm::noErr) return -1;
  return QVPageFormatGetSInt32(format, cf::str(key), value);
}

// ---- print-settings readers ----------------------------------------------

bool QVIsPrintSettingsItem(pm::PMPrintSettings settings, const cf::StringRef& key) {
  cf::Ref v;
  return key && pm::PMPrintSettingsGetValue(settings, key, &v) == pm::noErr;
}

pm::OSStatus QVPrintSettingsSetItem(pm::PMPrintSettings settings, const char* /*domain*/, const cf::StringRef& key,
                                    const cf::Ref& value, bool locked) {
  if (!key) return pm::paramErr;
  return pm::PMPrintSettingsSetValue(settings, key, value, locked);
}

pm::OSStatus QVPrintSettingsGetCFDictionary(pm::PMPrintSettings settings, const cf::StringRef& key, cf::Ref* value) {
  if (value) *value = nullptr;
  if (!key || !value) return pm::paramErr;
  return pm::PMPrintSettingsGetValue(settings, key, value);
}

pm::OSStatus QVPrintSettingsGetCFNumber(pm::PMPrintSettings settings, const cf::StringRef& key, cf::Ref* value) {
  return QVPrintSettingsGetCFDictionary(settings, key, value);
}

pm::OSStatus QVPrintSettingsGetString(pm::PMPrintSettings settings, const cf::StringRef& key, cf::StringRef* value) {
  if (value) *value = nullptr;
  if (!key || !value) return pm::paramErr;
  cf::Ref v;
  pm::OSStatus s = pm::PMPrintSettingsGetValue(settings, key, &v);
  if (s != pm::noErr) return s;
  *value = cf::As<cf::String>(v);
  return *value ? pm::noErr : -1;
}

pm::OSStatus QVPrintSettingsGetBoolean(pm::PMPrintSettings settings, const cf::StringRef& key, bool* value) {
  if (value) *value = false;
  if (!key || !value) return pm::paramErr;
  cf::Ref v;
  pm::OSStatus s = pm::PMPrintSettingsGetValue(settings, key, &v);
  if (s != pm::noErr) return s;
  auto b = cf::As<cf::Boolean>(v);
  if (!b) return -1;
  *value = b == cf::Boolean::kTrue() || b->value();
  return pm::noErr;
}

pm::OSStatus QVPrintSettingsGetSInt32(pm::PMPrintSettings settings, const cf::StringRef& key, int32_t* value) {
  if (value) *value = 0;
  if (!key || !value) return pm::paramErr;
  cf::Ref v;
  pm::OSStatus s = pm::PMPrintSettingsGetValue(settings, key, &v);
  if (s != pm::noErr) return s;
  auto n = cf::As<cf::Number>(v);
  if (!n) return -1;
  *value = n->sint32Value();
  return pm::noErr;
}

pm::OSStatus QVPrintSettingsGetPaperName(QVSession* session, pm::PMPrintSettings settings, cf::StringRef* name) {
  if (!session || !settings || !name) return pm::paramErr;
  *name = nullptr;
  // A step that yields nothing leaves the name empty, not an error.
  pm::PMPrintSettingsGetPaperName(settings, name);
  return pm::noErr;
}

pm::OSStatus QVPageFormatGetSInt32(pm::PMPageFormat format, const cf::StringRef& key, int32_t* value) {
  if (value) *value = -1;
  if (!key || !value || key->utf8() != pm::kPMOrientationKey) return -1;
  pm::PMOrientation o = 0;
  pm::OSStatus s = pm::PMGetOrientation(format, &o);
  if (s != pm::noErr) return s;
  switch (o) {
    case pm::kPMPortrait: *value = 1; break;
    case pm::kPMLandscape: *value = 2; break;
    case pm::kPMReversePortrait: *value = 4; break;
    case pm::kPMReverseLandscape: *value = 3; break;
    default: *value = -1; break;
  }
  return pm::noErr;
}

pm::OSStatus QVPageFormatGetPaperName(pm::PMPageFormat format, cf::StringRef* name) {
  if (name) *name = nullptr;
  if (!name) return pm::paramErr;
  pm::PMPaper paper = nullptr;
  pm::OSStatus s = pm::PMGetPageFormatPaper(format, &paper);
  if (s != pm::noErr) return s;
  return pm::PMPaperGetName(paper, name);
}

pm::OSStatus QVPageFormatGetOrientation(pm::PMPageFormat format, pm::PMOrientation* orientation) {
  return pm::PMGetOrientation(format, orientation);
}

pm::OSStatus QVGetDocumentPaperRect(QVSession* session, pm::PMRect* rect) {
  if (!session || !rect) return -1;
  pm::PMPageFormat format = nullptr;
  if (QVGetPageFormat(session, &format) != pm::noErr) return -1;
  return pm::PMGetUnadjustedPaperRect(format, rect);
}

// ---- paper queries -------------------------------------------------------

uint32_t GetSystemVersion() {
  // The old version gate only told apart systems that predate the paper
  // calls used here; every system this runs on is new enough, so the
  // version is reported as always new enough.
  return 0x1040;
}

bool IsDocumentUseFitToPage(QVSession* session) {
  if (GetSystemVersion() < 0x1040) return false;
  pm::PMPrintSettings settings = nullptr;
  if (QVGetPrintSettings(session, &settings) != pm::noErr) return false;
  int32_t mapping = 0;
  if (QVPrintSettingsGetSInt32(settings, cf::str(pm::kPMPageToPaperMappingTypeKey), &mapping) != pm::noErr) {
    return false;
  }
  return mapping == 2;
}

pm::OSStatus GetDestinationPaperName(QVSession* session, cf::StringRef* name) {
  if (name) *name = nullptr;
  if (!name) return pm::paramErr;
  if (GetSystemVersion() < 0x1040) return pm::noErr;
  pm::PMPrintSettings settings = nullptr;
  if (QVGetPrintSettings(session, &settings) != pm::noErr) return pm::kPMObjectNotFound;
  QVPrintSettingsGetPaperName(session, settings, name);
  return *name ? pm::noErr : pm::kPMObjectNotFound;
}

pm::OSStatus GetDocumentPaperName(QVSession* session, cf::StringRef* name, bool* isCustom) {
  if (name) *name = nullptr;
  if (isCustom) *isCustom = false;
  if (!name) return pm::paramErr;
  pm::PMPageFormat format = nullptr;
  if (QVGetPageFormat(session, &format) != pm::noErr) return pm::kPMObjectNotFound;
  cf::StringRef paperName;
  pm::OSStatus s = QVPageFormatGetPaperName(format, &paperName);
  if (s != pm::noErr) return s;
  if (GetSystemVersion() >= 0x1040) {
    if (!paperName) return pm::kPMObjectNotFound;
    *name = paperName;
    return pm::noErr;
  }
  bool found = false;
  s = GetCustomPaperNameFromPlist(paperName, name, &found);
  if (isCustom) *isCustom = found;
  return s;
}

pm::OSStatus GetCustomPaperNameFromPlist(const cf::StringRef& paperID, cf::StringRef* name, bool* found) {
  if (found) *found = false;
  if (name) *name = paperID;
  std::string folder = sys::UserPreferencesFolder();
  if (folder.empty() || !sys::IsDirectory(folder)) return pm::kPMObjectNotFound;
  if (!paperID || !name) return pm::noErr;
  cf::DictionaryRef papers = MyPListCreateDictionaryFromPath(folder + "/com.apple.print.custompapers.plist");
  if (!papers) return pm::noErr;
  auto entry = papers->get<cf::Dictionary>(paperID->utf8());
  if (!entry) return pm::noErr;
  auto paperName = entry->get<cf::String>("name");
  if (!paperName) return pm::noErr;
  *name = cf::str(paperName->utf8());
  if (found) *found = true;
  return pm::noErr;
}

pm::OSStatus GetDocumentPaperRect(QVSession* session, pm::PMRect* rect) { return QVGetDocumentPaperRect(session, rect); }

pm::OSStatus GetDocumentOrientation(QVSession* session, pm::PMOrientation* orientation) {
  pm::PMPageFormat format = nullptr;
  if (QVGetPageFormat(session, &format) != pm::noErr) return -1;
  return pm::PMGetOrientation(format, orientation);
}

bool IsCustomPaperSizeWithinRange(QVSession* session, const pm::PMRect& rect, pm::PMOrientation /*orientation*/) {
  ppd_file_t* ppd = nullptr;
  if (GetPPDReference(session, &ppd) != pm::noErr || !ppd) return false;
  float width = static_cast<float>(std::fabs(rect.right - rect.left));
  float height = static_cast<float>(std::fabs(rect.bottom - rect.top));
  bool within = width >= ppd->custom_min[0] && width <= ppd->custom_max[0] && height >= ppd->custom_min[1] &&
                height <= ppd->custom_max[1];
  FreePPDReference(ppd);
  return within;
}

// ---- value helpers -------------------------------------------------------

bool CFTypeIsValid(const cf::Ref& object, cf::TypeID type) { return cf::IsType(object, type); }

namespace {
bool HasTypeCode(const cf::Ref& v, int typeCode) {
  switch (typeCode) {
    case kTypeDictionary: return cf::IsType(v, cf::kDictionaryTypeID);
    case kTypeArray: return cf::IsType(v, cf::kArrayTypeID);
    case kTypeString: return cf::IsType(v, cf::kStringTypeID);
    case kTypeURL: return cf::IsType(v, cf::kURLTypeID);
    case kTypeNumber: return cf::IsType(v, cf::kNumberTypeID);
    case kTypeBoolean: return cf::IsType(v, cf::kBooleanTypeID);
    default: return v != nullptr;
  }
}
}  // namespace

cf::Ref CFDictionaryGetValueWithType(const cf::Ref& dictionary, const cf::StringRef& key, int typeCode) {
  auto d = cf::As<cf::Dictionary>(dictionary);
  if (!d || d->empty() || !key) return nullptr;
  cf::Ref v = d->getValue(key->utf8());
  return HasTypeCode(v, typeCode) ? v : nullptr;
}

bool CFDictionaryGetValueIfPresentWithType(const cf::Ref& dictionary, const cf::StringRef& key, cf::Ref* value,
                                           int typeCode) {
  cf::Ref v = CFDictionaryGetValueWithType(dictionary, key, typeCode);
  if (value) *value = v;
  return v != nullptr;
}

cf::Ref CFArrayGetValueAtIndexWithType(const cf::Ref& array, long index, int typeCode) {
  auto a = cf::As<cf::Array>(array);
  if (!a || index < 0 || static_cast<size_t>(index) >= a->count() || typeCode >= 7 || typeCode < 0) return nullptr;
  cf::Ref v = a->at(static_cast<size_t>(index));
  return HasTypeCode(v, typeCode) ? v : nullptr;
}

bool CFStringIsEmpty(const cf::StringRef& s) { return !s || s->empty(); }

cf::StringRef CFStringCreateWithIntValue(int32_t value) { return cf::String::createWithFormat("%d", value); }

bool CFStringEqualTo(const cf::StringRef& a, const cf::StringRef& b, bool caseSensitive) {
  if (!a || !b) return false;
  if (caseSensitive) return a->utf8() == b->utf8();
  return strcasecmp(a->utf8().c_str(), b->utf8().c_str()) == 0;
}

long str2num(const char* text) {
  if (!text) return 0;
  long value = 0;
  bool negative = false;
  for (const char* p = text; *p; ++p) {
    if (*p == '-' && p == text) {
      negative = true;
      continue;
    }
    if (*p < '0' || *p > '9') break;
    value = value * 10 + (*p - '0');
  }
  return negative && value != 0 ? -value : value;
}

cf::DictionaryRef MyPListCreateDictionaryFromPath(const std::string& path) {
  if (path.empty()) return nullptr;
  return cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(path));
}

cf::DictionaryRef MyPListCreateDictionaryMutableFromPath(const std::string& path) {
  // Containers of this platform are always mutable.
  return MyPListCreateDictionaryFromPath(path);
}

void CoArrayAddObject(const cf::ArrayRef& array, const cf::Ref& object) {
  if (array && object) array->append(object);
}

}  // namespace R2740_SECURITY_NS
