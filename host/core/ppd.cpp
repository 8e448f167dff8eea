// Opening PPDs and reading the plug-in bundles they name.
#include <algorithm>
#include <cstring>

#include "bundle/bundle.h"
#include "host.h"
#include "system/system.h"

// libcups' own opener with a choice of the translations kept. The public
// ppdOpenFile keeps only those of the C library's locale (and caches that
// language per thread), so a language chosen through LANGUAGE or
// R2740_LANG would find none; 3 is _PPD_LOCALIZATION_ALL, 2
// _PPD_LOCALIZATION_NONE.
extern "C" ppd_file_t* _ppdOpenFile(const char* filename, int localization);

namespace host {

namespace {

constexpr int kAllTranslations = 3;
constexpr int kNoTranslations = 2;

std::string OwnLanguage(const ppd_file_t* ppd) {
  return ppd->lang_version && std::strcmp(ppd->lang_version, "Japanese") == 0 ? "ja" : "en";
}

// "en", "en_US" and "en-GB" all read an English PPD's own texts.
bool IsLanguage(const std::string& lang, const std::string& primary) {
  return lang.compare(0, lang.find_first_of("_-"), primary) == 0;
}

// A text cut to the field's size ends on a whole UTF-8 character.
void CopyText(char* into, size_t size, const ppd_attr_t* attr) {
  if (!attr || !attr->text[0]) return;
  size_t n = std::strlen(attr->text);
  if (n >= size) {
    n = size - 1;
    while (n > 0 && (static_cast<unsigned char>(attr->text[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(into, attr->text, n);
  into[n] = '\0';
}

// The PPD's texts in the first of the user's languages that the PPD speaks:
// its own language (English here) keeps them; else "*ll.Translation"
// lines name options and groups and "*ll.<option>" lines the choices, as
// libcups' ppdLocalize reads them. ppdLocalize itself follows only the C
// locale, not the order host and bundles share (R2740_LANG, LANGUAGE...).
void Localize(ppd_file_t* ppd, const std::vector<std::string>& languages) {
  const std::string own = OwnLanguage(ppd);
  for (const std::string& lang : languages) {
    if (IsLanguage(lang, own)) return;
    std::string translation = lang + ".Translation";
    if (!ppdFindAttr(ppd, translation.c_str(), nullptr)) continue;
    for (int g = 0; g < ppd->num_groups; ++g) {
      ppd_group_t& group = ppd->groups[g];
      CopyText(group.text, sizeof group.text, ppdFindAttr(ppd, translation.c_str(), group.name));
      for (int o = 0; o < group.num_options; ++o) {
        ppd_option_t& option = group.options[o];
        CopyText(option.text, sizeof option.text, ppdFindAttr(ppd, translation.c_str(), option.keyword));
        std::string choices = lang + "." + option.keyword;
        for (int c = 0; c < option.num_choices; ++c)
          CopyText(option.choices[c].text, sizeof option.choices[c].text,
                   ppdFindAttr(ppd, choices.c_str(), option.choices[c].choice));
      }
    }
    return;
  }
}

}  // namespace

std::unique_ptr<PPDFile> PPDFile::open(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<PPDFile> {
    if (error) *error = why;
    return nullptr;
  };
  if (path.empty()) return fail("no PPD file given");
  if (!sys::FileExists(path)) return fail("PPD not found: " + path);
  // Keeping every translation is a sixth of an open; a user who reads the
  // PPD's own language needs none (an English PPD for English or no
  // preference, the common case; anything else opens with them all).
  const std::vector<std::string> languages = bndl::PreferredLanguages();
  const bool english =
      std::all_of(languages.begin(), languages.end(), [](const std::string& l) { return IsLanguage(l, "en"); });
  ppd_file_t* ppd = _ppdOpenFile(path.c_str(), english ? kNoTranslations : kAllTranslations);
  if (ppd && english && !languages.empty() && OwnLanguage(ppd) != "en") {
    ppdClose(ppd);
    ppd = _ppdOpenFile(path.c_str(), kAllTranslations);
  }
  if (!ppd) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    return fail("PPD " + path + " failed to open: " + ppdErrorString(status) + " (line " +
                std::to_string(line) + ")");
  }
  ppdMarkDefaults(ppd);
  Localize(ppd, languages);
  return std::unique_ptr<PPDFile>(new PPDFile(ppd));
}

PPDFile::~PPDFile() {
  if (ppd_) ppdClose(ppd_);
}

std::vector<std::string> PPDFile::dialogExtensions() const {
  std::vector<std::string> paths;
  if (!ppd_) return paths;
  for (ppd_attr_t* attr = ppdFindAttr(ppd_, "APDialogExtension", nullptr); attr;
       attr = ppdFindNextAttr(ppd_, "APDialogExtension", nullptr)) {
    if (!attr->value) continue;
    std::string v = attr->value;
    size_t b = v.find_first_not_of(" \t\r\n");
    size_t e = v.find_last_not_of(" \t\r\n");
    if (b == std::string::npos) continue;
    v = v.substr(b, e - b + 1);
    paths.push_back(sys::ResolvePath(v));
  }
  return paths;
}

}  // namespace host
