// The print system's part around the panels, shared by both faces.
#include "dialogstart.h"

#include <set>

#include <cstdio>

#include "defaults.h"
#include "presets.h"

namespace host {

const char* const kDialogFlagsUsage = R"(  --copies N           copies, 1 to 9999
  --collate true|false collated copies (default true)
  --page-ranges RANGES pages such as 1-3,5,8- (default: every page)
  --paper NAME         a PageSize choice of the PPD, or Custom.WxH (points,
                       or with in, cm, mm) within the PPD's custom range
  --orientation O      portrait, landscape, reverse-landscape, reverse-portrait
  --duplex CHOICE      a Duplex choice of the PPD (None, DuplexNoTumble, ...)
  --option KEY=VALUE   any other PPD option (the "Printer Features")
  --preset NAME        start from a preset ("Last Used Settings" or one
                       saved with --save-preset) instead of the defaults
  --save-preset NAME   keep the final settings as a preset
  --save-default       write the final general and panel options as the
                       user's defaults for the queue (~/.cups/lpoptions)
  --document FILE      a document to print (repeatable; PDF, PostScript,
                       images, text: what the queue's filters take)
)";

Flag TakeDialogFlag(int argc, char** argv, int* i, DialogFlags* f, std::string* error) {
  const std::string a = argv[*i];
  if (a == "--save-default") {
    f->saveDefault = true;
    return Flag::Taken;
  }
  static const std::pair<const char*, const char*> kGeneral[] = {
      {"--copies", kCopiesOption},          {"--collate", kCollateOption}, {"--page-ranges", kPageRangesOption},
      {"--paper", kPageSizeOption},         {"--orientation", kOrientationOption},
      {"--duplex", kDuplexOption},
  };
  const char* general = nullptr;
  for (const auto& [flag, name] : kGeneral)
    if (a == flag) general = name;
  bool other = a == "--option" || a == "--preset" || a == "--save-preset" || a == "--document";
  if (!general && !other) return Flag::NotShared;
  if (*i + 1 >= argc) {
    *error = a + " needs a value (see --help)";
    return Flag::Error;
  }
  std::string v = argv[++*i];
  if (general) f->general.emplace_back(general, v);
  else if (a == "--preset") f->preset = v;
  else if (a == "--save-preset") f->savePreset = v;
  else if (a == "--document") f->documents.push_back(v);
  else {
    size_t eq = v.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = "--option wants KEY=VALUE, got \"" + v + "\"";
      return Flag::Error;
    }
    f->general.emplace_back(v.substr(0, eq), v.substr(eq + 1));
  }
  return Flag::Taken;
}

Exit StartDialog(DialogSession& session, const Queue& queue, const DialogFlags& flags, DialogStart* start,
                 std::string* error) {
  if (!flags.preset.empty() && flags.preset != kDefaultSettings) {
    cf::DictionaryRef preset = LoadPreset(flags.preset, queue.id, error);
    if (!preset) return kSettingsErr;
    session.loadSettings(preset);
  }
  start->destination.clear();
  // A queue without destination options still prints from its PPD's
  // defaults, so a failure here is no reason to stop.
  if (!queue.name.empty()) (void)DestinationOptions(queue.name, &start->destination, nullptr);
  // A panel's PPD option given as a flag (the agent's from a held job, or
  // --option) must be in the PPD's defaults before the panels restore,
  // where the panels read it; marked afterwards it would be lost. It is a
  // change from the start, as far as "Save as default" goes.
  OptionList startWith = start->destination;
  std::set<std::string> flagged;
  ppd_file_t* ppd = session.callback().ppdFile();
  for (const auto& [k, v] : flags.general)
    if (ppd && IsMainKeyword(ppd, k) && !IsGeneralPPDOption(k)) startWith.emplace_back(k, v), flagged.insert(k);
  start->start = StartFromDefaults(session.callback(), startWith, &start->dropped);
  std::erase_if(start->start, [&](const auto& o) { return flagged.count(o.first) > 0; });
  for (const auto& [k, v] : flags.general)
    if (!SetGeneralOption(session.callback(), k, v, error)) return kSetErr;
  return kOK;
}

Exit KeepSettings(DialogSession& session, const Queue& queue, const DialogFlags& flags, const DialogStart& start,
                  bool printed, std::string* error) {
  cf::DictionaryRef settings = session.settingsDictionary();
  std::string why;
  if (printed && !SavePreset(kLastUsedSettings, settings, queue.id, &why)) {
    // Not keeping them is no reason to fail a print that went out.
    std::fprintf(stderr, "note: %s\n", why.c_str());
  }
  if (!flags.savePreset.empty() && !SavePreset(flags.savePreset, settings, queue.id, error)) return kOutputErr;
  if (flags.saveDefault &&
      !SaveAsDefault(queue.name, OptionsToSave(settings, session.callback().ppdFile(), start.start), error))
    return kOutputErr;
  return kOK;
}

}  // namespace host
