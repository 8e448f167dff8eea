// The queue's and the user's defaults, read and written through libcups.
#include "defaults.h"

#include <cups/cups.h>

#include <cstdio>
#include <cstring>

#include "jobs.h"

namespace host {

namespace {

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

const std::string* Find(const OptionList& list, const std::string& name) {
  for (const auto& [k, v] : list)
    if (k == name) return &v;
  return nullptr;
}

// The plain general option a destination option gives, if any.
bool PlainDefault(const OptionList& dest, const std::string& name, std::string* value) {
  if (const std::string* v = Find(dest, name)) {
    *value = *v;
    return true;
  }
  if (name == kCollateOption) {
    if (const std::string* v = Find(dest, "collate")) {
      *value = *v;
      return true;
    }
  }
  if (name == kOrientationOption && Find(dest, "landscape")) {
    *value = std::string(1, '4');  // a literal here trips GCC 12's -Wrestrict
    return true;
  }
  return false;
}

}  // namespace

bool DestinationOptions(const std::string& queue, OptionList* options, std::string* error) {
  options->clear();
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  cups_dest_t* dest = cupsGetDest(queue.c_str(), nullptr, count, dests);
  if (!dest) {
    cupsFreeDests(count, dests);
    return Fail(error, "no CUPS queue named " + queue + " to take defaults from");
  }
  for (int i = 0; i < dest->num_options; ++i) options->emplace_back(dest->options[i].name, dest->options[i].value);
  cupsFreeDests(count, dests);
  return true;
}

OptionList StartFromDefaults(HostCallback& cb, const OptionList& destination, std::vector<std::string>* dropped) {
  ppd_file_t* ppd = cb.ppdFile();
  auto& settings = cb.settings();
  auto absent = [&](const std::string& k) { return !cf::As<cf::String>(settings.value(k)); };
  if (ppd) {
    // From the PPD's defaults each time, so that a second start (a preset
    // chosen) does not take the first one's choices for defaults.
    ppdMarkDefaults(ppd);
    int num = 0;
    cups_option_t* opts = nullptr;
    for (const auto& [k, v] : destination) num = cupsAddOption(k.c_str(), v.c_str(), num, &opts);
    (void)cupsMarkOptions(ppd, num, opts);  // conflicts are shown by the dialog, not refused here
    cupsFreeOptions(num, opts);
    for (ppd_option_t* o = ppdFirstOption(ppd); o; o = ppdNextOption(ppd)) {
      ppd_choice_t* marked = ppdFindMarkedChoice(ppd, o->keyword);
      // A typed value in the user's defaults stays there: never in our settings.
      if (!marked || pm::FindTypedOption(o->keyword)) continue;
      bool changed = std::strcmp(o->defchoice, marked->choice) != 0;
      std::snprintf(o->defchoice, sizeof o->defchoice, "%s", marked->choice);
      std::string k = o->keyword;
      if ((changed || IsGeneralPPDOption(k)) && k != "PageRegion" && absent(k))
        settings.setValue(k, cf::str(marked->choice), false);
    }
    // A custom size is marked as the choice "Custom"; its size is in the
    // option's value only.
    const std::string* custom = Find(destination, kPageSizeOption);
    auto paper = cf::As<cf::String>(settings.value(kPageSizeOption));
    if (custom && custom->rfind("Custom.", 0) == 0 && paper && paper->utf8() == "Custom")
      settings.setValue(kPageSizeOption, cf::str(*custom), false);
  }
  for (const auto& [k, v] : destination)
    if (IsPassedOnOption(k) && absent(k)) settings.setValue(k, cf::str(v), false);
  for (const char* name : kPlainGeneralOptions) {
    std::string v;
    if (absent(name) && PlainDefault(destination, name, &v)) {
      std::string why;
      if (!SetGeneralOption(cb, name, v, &why) && dropped) dropped->push_back(why);
    }
  }
  // The settings' general values drive marks and page format; those this
  // PPD cannot take give way to its defaults.
  std::vector<std::pair<std::string, std::string>> general;
  for (const auto& [k, e] : settings.entries()) {
    auto v = cf::As<cf::String>(e.value);
    bool plain = false;
    for (const char* name : kPlainGeneralOptions) plain = plain || k == name;
    if (v && (plain || (IsGeneralPPDOption(k) && k != "PageRegion"))) general.emplace_back(k, v->utf8());
  }
  for (const auto& [k, v] : general) {
    std::string why;
    if (SetGeneralOption(cb, k, v, &why)) continue;
    settings.remove(k);
    if (dropped) dropped->push_back(why);
    if (ppd_option_t* o = ppd && k == kPageSizeOption ? ppdFindOption(ppd, k.c_str()) : nullptr)
      (void)SetGeneralOption(cb, k, o->defchoice, nullptr);  // the PPD's own paper always fits
  }
  OptionList start;
  for (const char* name : kPlainGeneralOptions) start.emplace_back(name, GeneralOptionValue(cb, name));
  if (ppd)
    for (ppd_option_t* o = ppdFirstOption(ppd); o; o = ppdNextOption(ppd))
      start.emplace_back(o->keyword, GeneralOptionValue(cb, o->keyword));
  return start;
}

OptionList OptionsToSave(const cf::DictionaryRef& settings, ppd_file_t* ppd, const OptionList& start) {
  OptionList out;
  if (!settings) return out;
  auto value = [&](const std::string& k) {
    auto s = cf::As<cf::String>(settings->getValue(k));
    return s ? s->utf8() : std::string();
  };
  for (const char* name : kPlainGeneralOptions) {
    // A page range belongs to one document, never to every later one.
    if (std::string(name) == kPageRangesOption) continue;
    std::string v = value(name);
    const std::string* was = Find(start, name);
    if (!v.empty() && (!was || *was != v)) out.emplace_back(name, v);
  }
  settings->forEach([&](const cf::Ref& key, const cf::Ref& val) {
    auto k = cf::As<cf::String>(key);
    auto v = cf::As<cf::String>(val);
    if (!k || !v || !IsMainKeyword(ppd, k->utf8()) || k->utf8() == "PageRegion" || pm::FindTypedOption(k->utf8()))
      return;
    const std::string* was = Find(start, k->utf8());
    if (!was || *was != v->utf8()) out.emplace_back(k->utf8(), v->utf8());
  });
  return out;
}

bool SaveAsDefault(const std::string& queue, const OptionList& options, std::string* error) {
  if (queue.empty()) return Fail(error, "a queue given by hand has no CUPS defaults to save to");
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  cups_dest_t* dest = cupsGetDest(queue.c_str(), nullptr, count, dests);
  if (!dest) {
    cupsFreeDests(count, dests);
    return Fail(error, "no CUPS queue named " + queue + " to save defaults for");
  }
  for (const auto& [k, v] : options) {
    if (k == kPageSizeOption) {
      dest->num_options = cupsRemoveOption("media", dest->num_options, &dest->options);
      dest->num_options = cupsRemoveOption("PageRegion", dest->num_options, &dest->options);
    }
    if (k == kDuplexOption) dest->num_options = cupsRemoveOption("sides", dest->num_options, &dest->options);
    if (k == kCollateOption) dest->num_options = cupsRemoveOption("collate", dest->num_options, &dest->options);
    if (k == kOrientationOption) dest->num_options = cupsRemoveOption("landscape", dest->num_options, &dest->options);
    dest->num_options = cupsAddOption(k.c_str(), v.c_str(), dest->num_options, &dest->options);
  }
  int rc = cupsSetDests2(CUPS_HTTP_DEFAULT, count, dests);
  cupsFreeDests(count, dests);
  // cupsSetDests2 asks the server for its queues before it writes lpoptions.
  if (rc != 0) return Fail(error, CupsRequestError("cannot save the defaults of " + queue));
  return true;
}

}  // namespace host
