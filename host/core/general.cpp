// The general options: checked, stored under their CUPS names, and echoed
// into the page format the panels read.
#include "general.h"

#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>

#include "bundle/bundle.h"
#include "ui/notifications.h"

namespace host {

namespace {

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// A whole decimal number without sign or spaces, at most 9 digits.
bool Number(const std::string& s, long* out) {
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  *out = std::strtol(s.c_str(), nullptr, 10);
  return true;
}

bool ValidRanges(const std::string& text) {
  long previous = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t dash = part.find('-');
    long low = 0, high = 0;
    if (dash == std::string::npos) {
      if (!Number(part, &low)) return false;
      high = low;
    } else {
      if (!Number(part.substr(0, dash), &low)) return false;
      std::string upper = part.substr(dash + 1);
      if (upper.empty()) high = LONG_MAX;  // to the last page
      else if (!Number(upper, &high)) return false;
    }
    // IPP wants them ascending and apart; cupsd refuses the job otherwise.
    if (low < 1 || high < low || low <= previous) return false;
    if (comma == std::string::npos) return true;
    if (high == LONG_MAX) return false;
    previous = high;
    start = comma + 1;
  }
  return false;
}

// IPP orientation-requested and the platform's page format numbering.
struct Orientation {
  const char* ipp;
  const char* name;
  const char* title;
  pm::PMOrientation format;
};
constexpr Orientation kOrientations[] = {
    {"3", "portrait", "Portrait", pm::kPMPortrait},
    {"4", "landscape", "Landscape", pm::kPMLandscape},
    {"5", "reverse-landscape", "Reverse Landscape", pm::kPMReverseLandscape},
    {"6", "reverse-portrait", "Reverse Portrait", pm::kPMReversePortrait},
};

void Store(HostCallback& cb, const std::string& name, const std::string& value) {
  cb.settings().setValue(name, cf::str(value), false);
}

bool SetPaper(HostCallback& cb, const std::string& value, std::string* error) {
  ppd_file_t* ppd = cb.ppdFile();
  double width = 0, length = 0;
  if (!PaperSize(ppd, value, &width, &length, error)) return false;
  ppdMarkOption(ppd, kPageSizeOption, value.c_str());
  Store(cb, kPageSizeOption, value);
  cb.settings().setValue(pm::kPMDestinationPaperNameKey, cf::str(value), false);
  cb.pageFormatObject().setPaper(std::make_shared<pm::Paper>(value, value, width, length));
  ui::NotificationCenter::defaultCenter().postNotification(pm::kPMPaperDidChangeNotification);
  return true;
}

}  // namespace

bool IsPassedOnOption(const std::string& name) {
  static const std::set<std::string, std::less<>> kNames = {
      "number-up", "number-up-layout", "page-border", "fit-to-page", "print-scaling", "mirror", "page-set",
      "outputorder", "job-sheets", "job-priority", "job-hold-until", "job-cancel-after", "cpi", "lpi",
      "page-left", "page-right", "page-top", "page-bottom", "prettyprint", "scaling", "ppi", "natural-scaling",
      "position"};
  return kNames.count(name) > 0;
}

bool IsMainKeyword(ppd_file_t* ppd, const std::string& keyword) {
  ppd_option_t* o = ppd && !keyword.empty() ? ppdFindOption(ppd, keyword.c_str()) : nullptr;
  return o && keyword == o->keyword;
}

bool IsGeneralPPDOption(const std::string& keyword) {
  return keyword == kPageSizeOption || keyword == "PageRegion" || keyword == kDuplexOption;
}

bool PaperSize(ppd_file_t* ppd, const std::string& value, double* width, double* length, std::string* error) {
  if (!ppd) return Fail(error, "no PPD, so no paper sizes");
  bool custom = value.rfind("Custom.", 0) == 0;
  if (!custom && !ppdFindChoice(ppdFindOption(ppd, kPageSizeOption), value.c_str()))
    return Fail(error, "PageSize: the printer has no paper \"" + value + "\"");
  ppd_size_t* size = ppdPageSize(ppd, value.c_str());
  if (!size || size->width <= 0 || size->length <= 0) {
    if (custom && !ppd->variable_sizes) return Fail(error, "PageSize: the printer takes no custom paper size");
    return Fail(error, "PageSize: \"" + value + "\" is no paper size (write Custom.WIDTHxHEIGHT, in points or with in, cm, mm)");
  }
  if (custom) {
    ppd_size_t low, high;
    if (!ppdPageSizeLimits(ppd, &low, &high)) return Fail(error, "PageSize: the printer takes no custom paper size");
    // The PPD gives whole points; allow for rounding of other units.
    constexpr double kSlack = 0.01;
    if (size->width < low.width - kSlack || size->width > high.width + kSlack ||
        size->length < low.length - kSlack || size->length > high.length + kSlack) {
      char range[160];
      std::snprintf(range, sizeof range, "%gx%g to %gx%g points", low.width, low.length, high.width, high.length);
      return Fail(error, "PageSize: custom size \"" + value + "\" is outside the printer's range " + range);
    }
  }
  *width = size->width;
  *length = size->length;
  return true;
}

bool SetGeneralOption(HostCallback& cb, const std::string& name, const std::string& value, std::string* error) {
  if (name == kCopiesOption) {
    long n = 0;
    if (!Number(value, &n) || n < 1 || n > 9999) return Fail(error, "copies: a number from 1 to 9999, not \"" + value + "\"");
    Store(cb, name, std::to_string(n));
    return true;
  }
  if (name == kCollateOption || name == "collate") {
    std::string v = value;
    if (strcasecmp(v.c_str(), "true") == 0 || v == kCollated) v = kCollated;
    else if (strcasecmp(v.c_str(), "false") == 0 || v == kUncollated) v = kUncollated;
    else return Fail(error, "collate: true or false, not \"" + value + "\"");
    Store(cb, kCollateOption, v);
    return true;
  }
  if (name == kPageRangesOption) {
    if (value.empty()) {
      cb.settings().remove(name);
      return true;
    }
    if (!ValidRanges(value))
      return Fail(error, "page-ranges: ascending pages or ranges such as 1-3,5,8- (pages from 1), not \"" + value + "\"");
    Store(cb, name, value);
    return true;
  }
  if (name == kOrientationOption) {
    for (const auto& o : kOrientations) {
      if (value != o.ipp && value != o.name) continue;
      Store(cb, name, o.ipp);
      cb.pageFormatObject().setOrientation(o.format);
      return true;
    }
    return Fail(error, "orientation: portrait, landscape, reverse-landscape or reverse-portrait, not \"" + value + "\"");
  }
  ppd_file_t* ppd = cb.ppdFile();
  if (name == kPageSizeOption) return SetPaper(cb, value, error);
  if (!IsMainKeyword(ppd, name)) return Fail(error, name + ": the printer has no such option");
  if (const pm::TypedOption* typed = pm::FindTypedOption(name)) {
    // What another dialog's job carries (the agent starts us from it):
    // "None", or "Custom" without its value, says nothing to keep.
    if (value == "None" || value == "Custom") return true;
    return Fail(error, name + ": a value typed into the Security panel, which this dialog never sends as an option; "
                              "give it as --set " + typed->control + "=VALUE");
  }
  ppd_option_t* option = ppdFindOption(ppd, name.c_str());
  if (!ppdFindChoice(option, value.c_str()))
    return Fail(error, name + ": the printer offers no choice \"" + value + "\"");
  ppdMarkOption(ppd, option->keyword, value.c_str());
  Store(cb, name, value);
  return true;
}

std::string GeneralOptionValue(HostCallback& cb, const std::string& name) {
  if (auto s = cf::As<cf::String>(cb.settings().value(name))) return s->utf8();
  if (ppd_file_t* ppd = cb.ppdFile()) {
    if (ppd_choice_t* c = ppdFindMarkedChoice(ppd, name.c_str())) return c->choice;
    if (ppd_option_t* o = ppdFindOption(ppd, name.c_str())) return o->defchoice;
  }
  if (name == kCopiesOption) return "1";
  if (name == kCollateOption) return kCollated;
  if (name == kOrientationOption) return "3";
  return {};
}

std::string PPDText(ppd_file_t* /*ppd*/, const char* text) {
  if (!text) return {};
  // libcups converts option, choice and group texts to UTF-8 when it opens
  // a PPD, whatever its LanguageEncoding; translation strings are UTF-8.
  cf::StringRef s = cf::String::createWithCString(text, cf::kCFStringEncodingUTF8);
  if (!s) s = cf::String::createWithCString(text, cf::kCFStringEncodingISOLatin1);
  return s ? s->utf8() : std::string();
}

namespace {

// The general part's own words in the languages the host speaks. They are
// translated here, where the summary block is made, because both faces
// show it and the command line links no Qt; the PPD's words come from the
// PPD.
constexpr const char* kSummaryLanguages[] = {"en", "ja"};
constexpr const char* kSummaryWords[][std::size(kSummaryLanguages)] = {
    {"General", "一般"},
    {"Copies", "部数"},
    {"Collated", "部単位"},
    {"On", "オン"},
    {"Off", "オフ"},
    {"Pages", "ページ"},
    {"All", "すべて"},
    {"Paper Size", "用紙サイズ"},
    {"Custom Size", "カスタムサイズ"},
    {"Orientation", "方向"},
    {"Portrait", "縦"},
    {"Landscape", "横"},
    {"Reverse Landscape", "横 (逆向き)"},
    {"Reverse Portrait", "縦 (逆向き)"},
    {"Two-Sided", "両面"},
};

// The column of the first preferred language the host has words for, the
// choice the Qt face makes for its own texts; English without one.
size_t SummaryLanguage() {
  for (const std::string& lang : bndl::PreferredLanguages())
    for (size_t i = 0; i < std::size(kSummaryLanguages); ++i)
      if (lang == kSummaryLanguages[i]) return i;
  return 0;
}

std::string Word(const char* english, size_t lang) {
  for (const auto& words : kSummaryWords)
    if (std::strcmp(words[0], english) == 0) return words[lang];
  return english;
}

}  // namespace

std::string GeneralWord(const char* english) { return Word(english, SummaryLanguage()); }

PanelSummary GeneralSummary(HostCallback& cb, const std::vector<ppd_option_t*>& features) {
  const size_t lang = SummaryLanguage();
  auto say = [lang](const char* english) { return Word(english, lang); };
  PanelSummary s;
  s.panelName = say("General");
  ppd_file_t* ppd = cb.ppdFile();
  auto text = [&](const char* keyword) {
    std::string v = GeneralOptionValue(cb, keyword);
    ppd_choice_t* c = ppd ? ppdFindChoice(ppdFindOption(ppd, keyword), v.c_str()) : nullptr;
    return c && *c->text ? PPDText(ppd, c->text) : v;
  };
  s.rows.emplace_back(say("Copies"), GeneralOptionValue(cb, kCopiesOption));
  s.rows.emplace_back(say("Collated"), say(GeneralOptionValue(cb, kCollateOption) == kUncollated ? "Off" : "On"));
  std::string pages = GeneralOptionValue(cb, kPageRangesOption);
  s.rows.emplace_back(say("Pages"), pages.empty() ? say("All") : pages);
  // A custom size as the paper list names it, with its size.
  std::string paper = GeneralOptionValue(cb, kPageSizeOption);
  ppd_size_t* custom = ppd && paper.rfind("Custom.", 0) == 0 ? ppdPageSize(ppd, paper.c_str()) : nullptr;
  if (custom) {
    char size[64];
    std::snprintf(size, sizeof size, " %g x %g pt", custom->width, custom->length);
    s.rows.emplace_back(say("Paper Size"), say("Custom Size") + size);
  } else {
    s.rows.emplace_back(say("Paper Size"), text(kPageSizeOption));
  }
  std::string orientation = GeneralOptionValue(cb, kOrientationOption);
  for (const auto& o : kOrientations)
    if (orientation == o.ipp) s.rows.emplace_back(say("Orientation"), say(o.title));
  if (ppd && ppdFindOption(ppd, kDuplexOption)) s.rows.emplace_back(say("Two-Sided"), text(kDuplexOption));
  for (ppd_option_t* o : features) s.rows.emplace_back(PPDText(ppd, *o->text ? o->text : o->keyword), text(o->keyword));
  return s;
}

std::vector<ppd_option_t*> FeatureOptions(ppd_file_t* ppd, const std::vector<std::string>& claimed) {
  std::vector<ppd_option_t*> out;
  if (!ppd) return out;
  for (ppd_option_t* o = ppdFirstOption(ppd); o; o = ppdNextOption(ppd)) {
    std::string k = o->keyword;
    if (IsGeneralPPDOption(k) || pm::FindTypedOption(k) || o->num_choices < 1) continue;
    bool taken = false;
    for (const auto& c : claimed) taken = taken || c == k;
    if (!taken) out.push_back(o);
  }
  return out;
}

std::vector<std::string> Conflicts(ppd_file_t* ppd) {
  std::vector<std::string> lines;
  if (!ppd || ppdConflicts(ppd) == 0) return lines;
  auto marked = [ppd](const char* option, const char* choice) {
    ppd_choice_t* c = ppdFindMarkedChoice(ppd, option);
    if (!c) return false;
    // An empty choice stands for any choice but the "off" ones.
    if (!*choice) return strcasecmp(c->choice, "None") != 0 && strcasecmp(c->choice, "False") != 0 &&
                         strcasecmp(c->choice, "Off") != 0;
    return strcmp(c->choice, choice) == 0;
  };
  // PPDs state most constraints both ways round; one line per pair.
  std::set<std::pair<std::string, std::string>> seen;
  for (int i = 0; i < ppd->num_consts; ++i) {
    const ppd_const_t& k = ppd->consts[i];
    if (!marked(k.option1, k.choice1) || !marked(k.option2, k.choice2)) continue;
    std::string a = k.option1, b = k.option2;
    if (!seen.insert(a < b ? std::make_pair(a, b) : std::make_pair(b, a)).second) continue;
    lines.push_back(std::string(k.option1) + " " + ppdFindMarkedChoice(ppd, k.option1)->choice + " conflicts with " +
                    k.option2 + " " + ppdFindMarkedChoice(ppd, k.option2)->choice);
  }
  return lines;
}

}  // namespace host
