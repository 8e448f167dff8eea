// r2740-pde-cli: opens the print dialog's plug-in panels for one queue
// without a screen, sets controls as a user would, saves or prints, and
// reports the panel summaries and the final print settings.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "cf/plist.h"
#include "frontend.h"
#include "host.h"
#include "system/layout.h"
#include "system/system.h"
#include "ui/ui.h"

namespace {

using namespace host;  // exit statuses

constexpr const char* kUsage = R"(usage: r2740-pde-cli (--queue NAME | --ppd FILE --queue-id ID [--device-uri URI])
                     [--bundles DIR] [--settings-in FILE] [--set KEY=VALUE]...
                     [--action save|print] [--settings-out FILE] [--summary-out FILE]

Opens the plug-in panels of a print dialog for one queue, drives them in the
print system's order, and reports what they leave in the print settings.

  --queue NAME         a CUPS queue: its PPD and device URI come from cupsd
  --ppd FILE           a queue given by hand: its PPD file,
  --queue-id ID          the printer identifier the panels see,
  --device-uri URI       and its device URI (default: empty)
  --bundles DIR        load every *.plugin of DIR; default: the bundles the
                       PPD names in its *APDialogExtension lines, under the
                       install root ($R2740_ROOT, "/" when unset)
  --settings-in FILE   starting print settings (XML property list, a dictionary)
  --set KEY=VALUE      set the control whose identifier is KEY as a user would
                       (after the dialog opened; repeatable, applied in order):
                       pop-up: a PPD choice keyword or an item title;
                       checkbox: True or False; text field: the text;
                       radio buttons: a cell title or a row number
  --set KEY=profile:FILE@disk   (or @card) in a profile menu (KEY such as
                       QVImageRGBSource) choose the stored profile whose file
                       on the printer is FILE, as a user picks its menu item
                       "FILE(name)Disk" after the PPD choices; a profile the
                       profile file does not hold, or holds hidden from the
                       menus, is an error
  --action save|print  save: every panel hides and saves (default);
                       print: save, then every panel is asked to print
  --settings-out FILE  write the final print settings there (XML property list;
                       a new file is made readable by its owner only)
  --summary-out FILE   write the summaries there (text, see below)
                       An out FILE is replaced whole; a link is followed, a
                       device or FIFO written into, "-" is standard output
  --help               this text
  --version            the version

Without an out file, the summaries and then the settings go to standard
output. The summary text has one block per panel: its name on a line, then
one "    item: value" line per item in the panel's display order; a last block
"Job options" lists the options a CUPS job would carry ("    KEY=VALUE").

Alerts raised by panels are printed to standard error, one line each, as
"alert: <message> | <informative>" and answered with their first button;
open panels are cancelled and modal windows aborted.

Exit status: 0 success; 2 bad arguments; 3 queue or PPD could not be opened;
4 a bundle failed to load; 5 the starting settings could not be read;
6 a --set key is unknown or its value was not taken; 7 a panel refused to
save or print; 8 an output could not be written. Every failure prints one
line naming the reason on standard error.
)";

int Die(int code, const std::string& why) {
  std::fprintf(stderr, "r2740-pde-cli: %s\n", why.c_str());
  return code;
}

class CliModalHandler : public ui::ModalHandler {
 public:
  int runAlert(ui::Alert& alert) override {
    std::fprintf(stderr, "%s\n", host::AlertLine(alert).c_str());
    return ui::kAlertFirstButtonReturn;
  }
  int runOpenPanel(ui::OpenPanel&) override { return ui::kModalResponseCancel; }
  void runModalForWindow(const ui::WindowRef&) override {
    ui::Application::shared().stopModalWithCode(ui::kModalResponseAbort);
  }
};

std::string SummaryText(const std::vector<host::PanelSummary>& summaries,
                        const std::vector<std::pair<std::string, std::string>>& jobOptions,
                        const std::string& note) {
  std::ostringstream out;
  if (!note.empty()) out << "(" << note << ")\n";
  for (const auto& s : summaries) {
    out << s.panelName << "\n";
    for (const auto& [item, value] : s.rows) out << "    " << item << ": " << value << "\n";
  }
  out << "Job options\n";
  for (const auto& [k, v] : jobOptions) out << "    " << k << "=" << v << "\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  host::FrontEndOptions o;
  o.action = "save";
  std::string summaryOut, why;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return kOK;
    }
    if (a == "--version") {
      std::printf("r2740-pde-cli %s\n", sys::Version());
      return kOK;
    }
    host::Flag f = host::TakeSharedFlag(argc, argv, &i, &o, &why);
    if (f == host::Flag::Error) return Die(kUsageErr, why);
    if (f == host::Flag::Taken) continue;
    if (a == "--summary-out" && i + 1 < argc) summaryOut = argv[++i];
    else if (a == "--summary-out") return Die(kUsageErr, a + " needs a value (see --help)");
    else return Die(kUsageErr, "unknown argument \"" + a + "\" (see --help)");
  }
  if (o.action != "save" && o.action != "print")
    return Die(kUsageErr, "--action is save or print, not \"" + o.action + "\"");
  if (!host::CheckQueueFlags(o, true, &why)) return Die(kUsageErr, why);

  ui::SetModalHandler(std::make_shared<CliModalHandler>());

  host::OpenedQueue opened;
  if (int code = host::OpenQueue(o, &opened, &why); code != kOK) return Die(code, why);
  const std::string& action = o.action;
  const std::string& settingsOut = o.settingsOut;

  auto callback = std::make_shared<host::HostCallback>(opened.queue, std::move(opened.ppd));
  int code = kOK;
  std::string summaryText, settingsXML;
  {
    host::DialogSession session(callback, std::move(opened.plugins));
    if (opened.startSettings) session.loadSettings(opened.startSettings);
    std::string note;
    if (!session.open(&why)) note = why;  // a dialog without extra panels is still a dialog
    for (const auto& [key, value] : o.sets) {
      if (!session.setControl(key, value, &why)) return Die(kSetErr, why);
    }
    bool done = action == "print" ? session.print(&why) : session.save(&why);
    if (!done) return Die(kPanelErr, why);

    cf::DictionaryRef settings = session.settingsDictionary();
    summaryText = SummaryText(session.summaries(), host::JobOptions(settings, callback->ppdFile()), note);
    auto xml = cf::PropertyListCreateXMLData(settings, &why);
    if (!xml) return Die(kOutputErr, "the final settings cannot be written as a property list: " + why);
    settingsXML = *xml;
  }

  // Summaries first, then settings, whether to files or standard output.
  auto emit = [&](const std::string& path, const std::string& text, unsigned mode, const char* what) {
    if (!host::WriteFileAtomic(path.empty() ? "-" : path, text, &why, mode)) return false;
    if (!path.empty() && path != "-") std::printf("%s written to %s\n", what, path.c_str());
    return true;
  };
  if (!emit(summaryOut, summaryText, 0666, "summaries")) return Die(kOutputErr, why);
  if (!emit(settingsOut, settingsXML, host::kSecretFileMode, "settings")) return Die(kOutputErr, why);
  std::fflush(stdout);
  return code;
}
