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
#include "dialogstart.h"
#include "frontend.h"
#include "host.h"
#include "jobs.h"
#include "system/layout.h"
#include "system/system.h"
#include "ui/ui.h"

namespace {

using namespace host;  // exit statuses

constexpr const char* kUsage = R"(usage: r2740-pde-cli (--queue NAME | --ppd FILE --queue-id ID [--device-uri URI])
                     [--bundles DIR] [--settings-in FILE] [--set KEY=VALUE]...
                     [--action save|print] [--settings-out FILE] [--summary-out FILE]
                     [general options] [--preset NAME] [--save-preset NAME]
                     [--save-default] [--document FILE]... [--destination NAME]
                     [--job KEY=VALUE]...

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
                       print: save, then every panel is asked to print, then
                       the documents (default: a generated test page) go to
                       the CUPS queue as one job with every option; the job
                       id and the queue's state are said on standard error
  --destination NAME   the CUPS queue a print goes to (default: the --queue;
                       a queue given by hand sends no job without it)
  --job KEY=VALUE      the held job the settings are for, said on standard
                       error (repeatable; KEY is id, name, pages,
                       application, host, or sent in seconds since the epoch)
)";
// After the general options' lines (kDialogFlagsUsage).
constexpr const char* kUsageTail = R"(  --settings-out FILE  write the final print settings there (XML property list;
                       a new file is made readable by its owner only)
  --summary-out FILE   write the summaries there (text, see below)
                       An out FILE is replaced whole; a link is followed, a
                       device or FIFO written into, "-" is standard output
  --help               this text
  --version            the version

Without an out file, the summaries and then the settings go to standard
output. Standard output carries nothing else: what was written where, the
job line, notes and alerts go to standard error.

The summary text has one block per panel: its name on a line, then
one "    item: value" line per item in the panel's display order; then the
block "General" (copies, pages, paper, ..., and the other PPD options), named and
worded in the user's language as the panels are; a last block "Job options" lists the options a CUPS job would carry ("    KEY=VALUE").

Alerts raised by panels are printed to standard error, one line each, as
"alert: <message> | <informative>" and answered with their first button;
open panels are cancelled and modal windows aborted.

Exit status: 0 success; 2 bad arguments; 3 queue or PPD could not be opened;
4 a bundle failed to load; 5 the starting settings could not be read;
6 a --set key is unknown or its value was not taken (or a general option's);
7 a panel refused to save or print; 8 an output could not be written (or
the defaults or a preset could not be saved); 9 the job was not accepted.
Every failure prints one line naming the reason on standard error.

The dialog starts from the queue's defaults and the user's lpoptions (what
cupsGetDests2 gives for the queue), then the general options given here.
)";

struct TempFile {
  std::string path;
  ~TempFile() {
    if (!path.empty()) unlink(path.c_str());
  }
};

// One line on standard error: reports, notes and failures alike, so that
// standard output carries only the data "-" asks for.
void Say(const std::string& line) { std::fprintf(stderr, "r2740-pde-cli: %s\n", line.c_str()); }

int Die(int code, const std::string& why) {
  Say(why);
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
  host::DialogFlags flags;
  std::string summaryOut, destination, why;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(host::kDialogFlagsUsage, stdout);
      std::fputs(kUsageTail, stdout);
      return kOK;
    }
    if (a == "--version") {
      std::printf("r2740-pde-cli %s\n", sys::Version());
      return kOK;
    }
    host::Flag f = host::TakeSharedFlag(argc, argv, &i, &o, &why);
    if (f == host::Flag::Error) return Die(kUsageErr, why);
    if (f == host::Flag::Taken) continue;
    f = host::TakeDialogFlag(argc, argv, &i, &flags, &why);
    if (f == host::Flag::Error) return Die(kUsageErr, why);
    if (f == host::Flag::Taken) continue;
    std::string* into = a == "--summary-out" ? &summaryOut : a == "--destination" ? &destination : nullptr;
    if (!into) return Die(kUsageErr, "unknown argument \"" + a + "\" (see --help)");
    if (i + 1 >= argc) return Die(kUsageErr, a + " needs a value (see --help)");
    *into = argv[++i];
  }
  if (o.action != "save" && o.action != "print")
    return Die(kUsageErr, "--action is save or print, not \"" + o.action + "\"");
  if (!host::CheckQueueFlags(o, true, &why)) return Die(kUsageErr, why);
  if (!flags.documents.empty() && o.action != "print") return Die(kUsageErr, "--document goes with --action print");

  ui::SetModalHandler(std::make_shared<CliModalHandler>());
  if (!o.job.empty()) std::fprintf(stderr, "r2740-pde-cli: note: for %s\n", host::JobLine(o.job).c_str());

  host::OpenedQueue opened;
  if (int code = host::OpenQueue(o, &opened, &why); code != kOK) return Die(code, why);
  const std::string& action = o.action;
  const std::string& settingsOut = o.settingsOut;

  auto callback = std::make_shared<host::HostCallback>(opened.queue, std::move(opened.ppd));
  int code = kOK;
  std::string summaryText, settingsXML, jobLine;
  {
    host::DialogSession session(callback, std::move(opened.plugins));
    if (opened.startSettings) session.loadSettings(opened.startSettings);
    host::DialogStart start;
    if (int c = host::StartDialog(session, opened.queue, flags, &start, &why); c != kOK) return Die(c, why);
    for (const auto& d : start.dropped) std::fprintf(stderr, "r2740-pde-cli: note: %s\n", d.c_str());
    std::string note;
    if (!session.open(&why)) note = why;  // a dialog without extra panels is still a dialog
    for (const auto& n : host::TakeNotices(session)) std::fprintf(stderr, "r2740-pde-cli: note: %s\n", n.c_str());
    for (const auto& [key, value] : o.sets) {
      if (!session.setControl(key, value, &why)) return Die(kSetErr, why);
    }
    bool done = action == "print" ? session.print(&why) : session.save(&why);
    if (!done) return Die(kPanelErr, why);
    if (destination.empty()) destination = opened.queue.name;
    if (action == "print" && !destination.empty()) {
      std::vector<std::string> documents = flags.documents;
      TempFile generated;
      if (documents.empty()) {
        generated.path = host::WriteTemporaryFile(host::SamplePDF("R2740 test page for " + destination), ".pdf", &why);
        if (generated.path.empty()) return Die(kOutputErr, why);
        documents.push_back(generated.path);
      }
      auto options = host::JobOptions(session.settingsDictionary(), callback->ppdFile());
      host::NoticeUnenforcedSecurity(options, callback->ppdFile());
      int job = host::PrintDocuments(destination, documents, flags.documents.empty() ? "R2740 test page" : documents[0],
                                     options, &why);
      std::string state = host::QueueState(destination);
      if (job <= 0) return Die(kJobErr, why + " (queue " + destination + ": " + state + ")");
      jobLine = "job " + std::to_string(job) + " submitted to " + destination + " (" + state + ")";
    }
    if (int c = host::KeepSettings(session, opened.queue, flags, start, !jobLine.empty(), &why); c != kOK) {
      if (jobLine.empty()) return Die(c, why);
      std::fprintf(stderr, "r2740-pde-cli: %s (the job was submitted all the same)\n", why.c_str());
    }

    cf::DictionaryRef settings = session.settingsDictionary();
    std::vector<std::string> claimed;
    for (const auto& p : session.panels()) claimed.insert(claimed.end(), p.keys.begin(), p.keys.end());
    auto summaries = session.summaries();
    summaries.push_back(host::GeneralSummary(*callback, host::FeatureOptions(callback->ppdFile(), claimed)));
    summaryText = SummaryText(summaries, host::JobOptions(settings, callback->ppdFile()), note);
    auto xml = cf::PropertyListCreateXMLData(settings, &why);
    if (!xml) return Die(kOutputErr, "the final settings cannot be written as a property list: " + why);
    settingsXML = *xml;
  }

  if (!jobLine.empty()) Say(jobLine);
  // Summaries first, then settings, whether to files or standard output.
  // Once a job went out the run succeeds whatever the outputs do: a script
  // that retries must not print twice.
  const bool submitted = !jobLine.empty();
  auto emit = [&](const std::string& path, const std::string& text, unsigned mode, const char* what) {
    if (!host::WriteFileAtomic(path.empty() ? "-" : path, text, &why, mode)) {
      if (submitted) std::fprintf(stderr, "r2740-pde-cli: %s (the job was submitted all the same)\n", why.c_str());
      return submitted;
    }
    if (!path.empty() && path != "-") Say(std::string(what) + " written to " + path);
    return true;
  };
  if (!emit(summaryOut, summaryText, 0666, "summaries")) return Die(kOutputErr, why);
  if (!emit(settingsOut, settingsXML, host::kSecretFileMode, "settings")) return Die(kOutputErr, why);
  std::fflush(stdout);
  return code;
}
