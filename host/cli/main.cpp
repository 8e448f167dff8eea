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
#include "host.h"
#include "system/system.h"
#include "ui/ui.h"

namespace {

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
  --settings-out FILE  write the final print settings there (XML property list)
  --summary-out FILE   write the summaries there (text, see below)
  --help               this text

Without an out file, the summaries and then the settings go to standard
output. The summary text has one block per panel: its name on a line, then
one "    item: value" line per item in the panel's display order; a last block
"Job options" lists the options a CUPS job would carry ("    KEY=VALUE").

Alerts raised by panels are printed to standard error as
"alert: <message> | <informative>" and answered with their first button;
open panels are cancelled and modal windows aborted.

Exit status: 0 success; 2 bad arguments; 3 queue or PPD could not be opened;
4 a bundle failed to load; 5 the starting settings could not be read;
6 a --set key is unknown or its value was not taken; 7 a panel refused to
save or print; 8 an output could not be written. Every failure prints one
line naming the reason on standard error.
)";

enum Exit { kOK = 0, kUsageErr = 2, kQueueErr = 3, kBundleErr = 4, kSettingsErr = 5, kSetErr = 6,
            kPanelErr = 7, kOutputErr = 8 };

int Die(int code, const std::string& why) {
  std::fprintf(stderr, "r2740-pde-cli: %s\n", why.c_str());
  return code;
}

class CliModalHandler : public ui::ModalHandler {
 public:
  int runAlert(ui::Alert& alert) override {
    std::fprintf(stderr, "alert: %s | %s\n", alert.messageText.c_str(), alert.informativeText.c_str());
    return ui::kAlertFirstButtonReturn;
  }
  int runOpenPanel(ui::OpenPanel&) override { return ui::kModalResponseCancel; }
  void runModalForWindow(const ui::WindowRef&) override {
    ui::Application::shared().stopModalWithCode(ui::kModalResponseAbort);
  }
};

// Whole text into a file: a temporary beside it renamed over it, so a
// failed write leaves no half file.
bool WriteFileAtomic(const std::string& path, const std::string& text, std::string* error) {
  std::string tmp = path + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      unlink(tmp.c_str());
      *error = "cannot write " + path + ": " + std::strerror(errno);
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

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

struct TempFile {
  std::string path;
  ~TempFile() {
    if (!path.empty()) unlink(path.c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::string queueName, ppdPath, queueId, deviceURI, bundles, settingsIn, settingsOut, summaryOut;
  std::string action = "save";
  bool haveDeviceURI = false;
  std::vector<std::pair<std::string, std::string>> sets;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return kOK;
    }
    auto value = [&](std::string* into) {
      if (i + 1 >= argc) return false;
      *into = argv[++i];
      return true;
    };
    bool ok = true;
    if (a == "--queue") ok = value(&queueName);
    else if (a == "--ppd") ok = value(&ppdPath);
    else if (a == "--queue-id") ok = value(&queueId);
    else if (a == "--device-uri") ok = haveDeviceURI = value(&deviceURI);
    else if (a == "--bundles") ok = value(&bundles);
    else if (a == "--settings-in") ok = value(&settingsIn);
    else if (a == "--settings-out") ok = value(&settingsOut);
    else if (a == "--summary-out") ok = value(&summaryOut);
    else if (a == "--action") ok = value(&action);
    else if (a == "--set") {
      std::string kv;
      ok = value(&kv);
      if (ok) {
        size_t eq = kv.find('=');
        if (eq == std::string::npos || eq == 0) return Die(kUsageErr, "--set wants KEY=VALUE, got \"" + kv + "\"");
        sets.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
        const std::string& v = sets.back().second;
        if (v.rfind(host::kProfilePrefix, 0) == 0 && !host::ParseProfileChoice(v))
          return Die(kUsageErr, "--set " + kv + ": write profile:FILE@disk or profile:FILE@card");
      }
    } else {
      return Die(kUsageErr, "unknown argument \"" + a + "\" (see --help)");
    }
    if (!ok) return Die(kUsageErr, a + " needs a value (see --help)");
  }
  if (action != "save" && action != "print") return Die(kUsageErr, "--action is save or print, not \"" + action + "\"");
  if (!queueName.empty() && !ppdPath.empty()) return Die(kUsageErr, "give either --queue or --ppd, not both");
  if (queueName.empty() && ppdPath.empty()) return Die(kUsageErr, "give --queue NAME or --ppd FILE (see --help)");
  if (!ppdPath.empty() && queueId.empty()) return Die(kUsageErr, "--ppd needs --queue-id");
  if (!queueName.empty() && (!queueId.empty() || haveDeviceURI))
    return Die(kUsageErr, "--queue-id and --device-uri go with --ppd, not --queue");

  ui::SetModalHandler(std::make_shared<CliModalHandler>());

  // The queue and its PPD.
  host::Queue queue;
  TempFile fetchedPPD;
  std::string why;
  if (!queueName.empty()) {
    auto q = host::CupsQueue(queueName, &why);
    if (!q) return Die(kQueueErr, why);
    queue = *q;
    if (queue.temporaryPPD) fetchedPPD.path = queue.ppdPath;
  } else {
    queue = host::ManualQueue(ppdPath, queueId, deviceURI);
  }
  auto ppd = host::PPDFile::open(queue.ppdPath, &why);
  if (!ppd) return Die(kQueueErr, why);

  // The plug-ins.
  std::vector<host::PlugInRef> plugins;
  if (!bundles.empty()) {
    std::vector<std::string> errors;
    plugins = host::LoadPlugInFolder(bundles, &errors);
    if (!errors.empty()) return Die(kBundleErr, "bundle failed to load: " + errors.front());
  } else {
    for (const auto& path : ppd->dialogExtensions()) {
      auto p = host::LoadPlugIn(path, &why);
      if (!p) return Die(kBundleErr, "bundle failed to load: " + why);
      plugins.push_back(p);
    }
  }

  cf::DictionaryRef startSettings;
  if (!settingsIn.empty()) {
    cf::Ref root = cf::PropertyListCreateFromFile(settingsIn, &why);
    if (!root) return Die(kSettingsErr, "cannot read settings " + settingsIn + ": " + why);
    startSettings = cf::As<cf::Dictionary>(root);
    if (!startSettings) return Die(kSettingsErr, "settings " + settingsIn + " are not a dictionary");
  }

  auto callback = std::make_shared<host::HostCallback>(queue, std::move(ppd));
  int code = kOK;
  std::string summaryText, settingsXML;
  {
    host::DialogSession session(callback, std::move(plugins));
    if (startSettings) session.loadSettings(startSettings);
    std::string note;
    if (!session.open(&why)) note = why;  // a dialog without extra panels is still a dialog
    for (const auto& [key, value] : sets) {
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

  if (!summaryOut.empty()) {
    if (!WriteFileAtomic(summaryOut, summaryText, &why)) return Die(kOutputErr, why);
  }
  if (!settingsOut.empty()) {
    if (!WriteFileAtomic(settingsOut, settingsXML, &why)) return Die(kOutputErr, why);
  }
  if (summaryOut.empty()) std::fputs(summaryText.c_str(), stdout);
  else std::printf("summaries written to %s\n", summaryOut.c_str());
  if (settingsOut.empty()) std::fputs(settingsXML.c_str(), stdout);
  else std::printf("settings written to %s\n", settingsOut.c_str());
  std::fflush(stdout);
  return code;
}
