#include "PPDUIOption.h"

#include <strings.h>

#include <cmath>
#include <cstring>
#include <new>

#include "PDECore.h"
#include "system/system.h"

namespace R2740_SECURITY_NS {

namespace {

bool EqualNoCase(const cf::StringRef& a, const cf::StringRef& b) {
  if (!a || !b) return false;
  return strcasecmp(a->utf8().c_str(), b->utf8().c_str()) == 0;
}

bool IsKeyword(const PPDUIOption* option, const char* keyword) {
  return option && option->keyword && strcasecmp(option->keyword->utf8().c_str(), keyword) == 0;
}

}  // namespace

cf::StringEncoding GetCFStringEncodingFromPPD(ppd_file_t* ppd) {
  const char* enc = ppd ? ppd->lang_encoding : nullptr;
  if (!enc) return cf::kCFStringEncodingMacRoman;
  if (strcmp(enc, "ISOLatin1") == 0) return cf::kCFStringEncodingISOLatin1;
  if (strcmp(enc, "WindowsANSI") == 0) return cf::kCFStringEncodingWindowsLatin1;
  // The platform's Japanese Mac encoding is Shift-JIS based.
  if (strcmp(enc, "JIS83-RKSJ") == 0) return cf::kCFStringEncodingShiftJIS;
  if (strcmp(enc, "UTF-8") == 0 || strcmp(enc, "UTF8") == 0) return cf::kCFStringEncodingUTF8;
  return cf::kCFStringEncodingMacRoman;
}

cf::StringRef PPDTextToString(ppd_file_t* ppd, const char* text) {
  if (!text) return nullptr;
  size_t len = strlen(text);
  // libcups converts translation strings to UTF-8 while it reads the file;
  // reading them again in the declared encoding would garble them.
  if (auto s = cf::String::createWithBytes(text, len, cf::kCFStringEncodingUTF8)) return s;
  if (auto s = cf::String::createWithBytes(text, len, GetCFStringEncodingFromPPD(ppd))) return s;
  return cf::String::createWithBytes(text, len, cf::kCFStringEncodingISOLatin1);
}

pm::OSStatus GetPPDReference(QVSession* session, ppd_file_t** ppd) {
  if (!ppd) return pm::paramErr;
  *ppd = nullptr;
  if (!session) return pm::paramErr;
  pm::OSStatus status = pm::kPMKeyNotFound;
  if (pm::PMPrintSession ps = QVGetPMPrintSession(session)) {
    cf::Ref data;
    status = pm::PMSessionGetDataFromSession(ps, "kPMPPDReference", &data);
    if (status == pm::noErr) {
      auto bytes = cf::As<cf::Data>(data);
      if (bytes && bytes->length() == sizeof(ppd_file_t*)) {
        memcpy(ppd, bytes->bytes().data(), sizeof(ppd_file_t*));
      }
    }
  }
  // Hosts that do not publish the reference in the session still hand the
  // PPD to the panel through the callback.
  if (!*ppd && session->object) *ppd = session->object->ppdFile();
  if (*ppd) return pm::noErr;
  return status == pm::noErr ? pm::kPMObjectNotFound : status;
}

void FreePPDReference(ppd_file_t* /*ppd*/) {
  // The PPD belongs to the print system.
}

bool SetupPPDUIOption(PPDUIOption* option, ppd_file_t* ppd, const char* keyword) {
  if (!option || !ppd || !keyword) return false;
  ppd_option_t* o = ppdFindOption(ppd, keyword);
  if (!o || o->num_choices <= 0) return false;
  if (o->num_choices > INT16_MAX) return false;

  ClearPPDUIOption(option);
  try {
    option->choices.resize(static_cast<size_t>(o->num_choices));
  } catch (const std::bad_alloc&) {
    return false;
  }
  option->keyword = cf::String::createWithBytes(o->keyword, strlen(o->keyword), cf::kCFStringEncodingUTF8);
  option->alias = PPDTextToString(ppd, o->text);
  option->numChoices = static_cast<int16_t>(o->num_choices);
  option->defIndex = -1;
  option->curIndex = -1;

  ppd_choice_t* marked = ppdFindMarkedChoice(ppd, keyword);
  for (int i = 0; i < o->num_choices; ++i) {
    ppd_choice_t& c = o->choices[i];
    PPDUIChoice& ch = option->choices[static_cast<size_t>(i)];
    ch.owner = option;
    ch.key = cf::String::createWithBytes(c.choice, strlen(c.choice), cf::kCFStringEncodingUTF8);
    ch.alias = PPDTextToString(ppd, c.text);
    ch.data.reset();
    if (strcmp(o->defchoice, c.choice) == 0) option->defIndex = static_cast<int16_t>(i);
    if (marked && strncmp(marked->choice, c.choice, strlen(c.choice)) == 0) {
      option->curIndex = static_cast<int16_t>(i);
    }
  }
  if (option->defIndex == -1) option->defIndex = 0;

  bool result = true;
  if (option->curIndex == -1) {
    option->curIndex = option->defIndex;
    result = strcmp(keyword, "InputSlot") != 0 && strcmp(keyword, "PageSize") != 0 &&
             strcmp(keyword, "PageRegion") != 0;
  }
  if (strcmp(keyword, "PageSize") == 0) SetupPPDPageSize(option, ppd);
  return result;
}

void ClearPPDUIOption(PPDUIOption* option) {
  if (!option) return;
  option->keyword = nullptr;
  option->alias = nullptr;
  option->choices.clear();
  option->choices.shrink_to_fit();
  option->numChoices = 0;
  option->defIndex = 0;
  option->curIndex = 0;
  option->conflicted = 0;
}

PPDUIOption* CreatePPDUIOption(ppd_file_t* ppd, const char* keyword) {
  if (!ppd || !keyword) return nullptr;
  ppd_option_t* o = ppdFindOption(ppd, keyword);
  PPDUIOption* option = nullptr;
  if (o && o->num_choices > 0) {
    option = new (std::nothrow) PPDUIOption;
    if (option && !SetupPPDUIOption(option, ppd, keyword)) {
      DeletePPDUIOption(option);
      option = nullptr;
    }
  }
  if (!option) sys::NSLog("keyword:%s is NULL", keyword);
  return option;
}

PPDUIOption* CreatePPDUIOptionWithCFKey(ppd_file_t* ppd, const cf::StringRef& keyword) {
  if (!keyword) return nullptr;
  const std::string& k = keyword->utf8();
  if (k.empty() || k.size() > PPD_MAX_NAME - 1) return nullptr;
  return CreatePPDUIOption(ppd, k.c_str());
}

void DeletePPDUIOption(PPDUIOption* option) {
  if (!option) return;
  ClearPPDUIOption(option);
  delete option;
}

cf::StringRef PPDUIOptionGetSelfKey(const PPDUIOption* option) { return option ? option->keyword : nullptr; }
cf::StringRef PPDUIOptionGetSelfAlias(const PPDUIOption* option) { return option ? option->alias : nullptr; }
int16_t PPDUIOptionGetItemCount(const PPDUIOption* option) { return option ? option->numChoices : 0; }
int16_t PPDUIOptionGetDefaultIndex(const PPDUIOption* option) { return option ? option->defIndex : 0; }

cf::StringRef PPDUIOptionGetDefaultKey(const PPDUIOption* option) {
  return PPDUIOptionIndexToKey(option, option ? option->defIndex : -1);
}

cf::StringRef PPDUIOptionGetDefaultAlias(const PPDUIOption* option) {
  return PPDUIOptionIndexToAlias(option, option ? option->defIndex : -1);
}

int PPDUIOptionKeyToIndex(const PPDUIOption* option, const cf::StringRef& key) {
  if (!option || !key) return -1;
  int found = -1;
  for (int i = 0; i < option->numChoices && i < static_cast<int>(option->choices.size()); ++i) {
    if (EqualNoCase(option->choices[static_cast<size_t>(i)].key, key)) found = i;
  }
  return found;
}

cf::StringRef PPDUIOptionKeyToAlias(const PPDUIOption* option, const cf::StringRef& key) {
  int i = PPDUIOptionKeyToIndex(option, key);
  return i < 0 ? nullptr : option->choices[static_cast<size_t>(i)].alias;
}

cf::StringRef PPDUIOptionAliasToKey(const PPDUIOption* option, const cf::StringRef& alias) {
  if (!option || !alias) return nullptr;
  cf::StringRef found;
  for (int i = 0; i < option->numChoices && i < static_cast<int>(option->choices.size()); ++i) {
    const PPDUIChoice& c = option->choices[static_cast<size_t>(i)];
    if (EqualNoCase(c.alias, alias)) found = c.key;
  }
  return found;
}

cf::StringRef PPDUIOptionIndexToKey(const PPDUIOption* option, int index) {
  if (!option || index < 0 || index >= option->numChoices || static_cast<size_t>(index) >= option->choices.size()) {
    return nullptr;
  }
  return option->choices[static_cast<size_t>(index)].key;
}

cf::StringRef PPDUIOptionIndexToAlias(const PPDUIOption* option, int index) {
  if (!option || index < 0 || index >= option->numChoices || static_cast<size_t>(index) >= option->choices.size()) {
    return nullptr;
  }
  return option->choices[static_cast<size_t>(index)].alias;
}

bool SetupPPDPageSize(PPDUIOption* option, ppd_file_t* ppd) {
  if (!ppd || !IsKeyword(option, "PageSize")) return false;
  if (ppd->num_sizes != option->numChoices || static_cast<size_t>(option->numChoices) != option->choices.size()) {
    return false;
  }
  for (int i = 0; i < ppd->num_sizes; ++i) {
    PPDUIChoice& c = option->choices[static_cast<size_t>(i)];
    if (!c.data) {
      c.data.reset(new (std::nothrow) PPDPaperBlock);
      if (!c.data) return false;
    }
    const ppd_size_t& s = ppd->sizes[i];
    c.data->width = s.width;
    c.data->length = s.length;
    c.data->top = s.top;
    c.data->left = s.left;
    c.data->bottom = s.bottom;
    c.data->right = s.right;
  }
  return true;
}

bool PPDPaperSizeFindAdjustedPMRect(const PPDUIOption* option, const pm::PMRect& rect,
                                    pm::PMOrientation /*orientation*/, cf::StringRef* key) {
  if (key) *key = nullptr;
  if (!IsKeyword(option, "PageSize")) return false;
  float width = static_cast<float>(std::fabs(rect.right - rect.left));
  float height = static_cast<float>(std::fabs(rect.bottom - rect.top));
  for (const PPDUIChoice& c : option->choices) {
    if (!c.data) continue;
    if (static_cast<float>(c.data->width) == width && static_cast<float>(c.data->length) == height) {
      if (key) *key = c.key;
      return true;
    }
  }
  return false;
}

}  // namespace R2740_SECURITY_NS
