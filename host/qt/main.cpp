// r2740-print-dialog: the print dialog with the plug-in panels of one queue,
// in Qt. Without --action it shows the dialog; with --action it runs as a
// batch (no window is shown; screenshots are still rendered).
#include <unistd.h>

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "cf/plist.h"
#include "dialog.h"
#include "dialogstart.h"
#include "frontend.h"
#include "host.h"
#include "generalpanel.h"
#include "i18n.h"
#include "jobs.h"
#include "lsan.h"
#include "modal.h"
#include "system/layout.h"
#include "ui/ui.h"

namespace {

using namespace host;  // exit statuses

constexpr const char* kUsage = R"(usage: r2740-print-dialog [--queue NAME | --ppd FILE --queue-id ID [--device-uri URI]]
                          [--bundles DIR] [--settings-in FILE] [--set KEY=VALUE]...
                          [--action save|print|cancel] [--settings-out FILE]
                          [--screenshot DIR] [--destination NAME]
                          [general options] [--preset NAME] [--save-preset NAME]
                          [--save-default] [--document FILE]... [FILE]...
                          [--settings-only] [--job KEY=VALUE]...

The print dialog of one queue with the plug-in panels its PPD names.

  --queue NAME         a CUPS queue: its PPD and device URI come from cupsd
                       (without a queue, the dialog offers cupsd's queues)
  --ppd FILE           a queue given by hand: its PPD file,
  --queue-id ID          the printer identifier the panels see,
  --device-uri URI       and its device URI (default: empty)
  --bundles DIR        load every *.plugin of DIR; default: the bundles the
                       PPD names in its *APDialogExtension lines, under the
                       install root ($R2740_ROOT, "/" when unset)
  --settings-in FILE   starting print settings (XML property list)
  --set KEY=VALUE      set the control whose identifier is KEY as a user
                       would, after the dialog opened (repeatable)
  --action ACTION      batch run, no window: save (every panel saves),
                       print (save, every panel must agree to print, the
                       document goes to the queue) or cancel (nothing is
                       saved or printed, no settings are written)
  --settings-out FILE  write the final print settings there (XML property
                       list; a new file is readable by its owner only; a
                       link is followed, a device or FIFO written into, "-"
                       is standard output)
  --screenshot DIR     write <panel>-<pane>.png for every panel and pane and
                       Summary.png into DIR
  FILE                 a document Print sends, like --document FILE (default:
                       a generated one-page PDF); several make one job
  --destination NAME   the CUPS queue Print sends to (default: the --queue;
                       a queue given by hand prints only with this)
  --settings-only      Print sends nothing: it only writes the final settings
                       to --settings-out, for a caller that holds the job
                       itself (r2740-print-agent); Cancel writes nothing;
                       what was written or cancelled is not reported
  --job KEY=VALUE      the held job the dialog is for, shown in the window
                       title and a line on top (repeatable; KEY is id, name,
                       pages, application, host, or sent in seconds since
                       the epoch); r2740-print-agent gives them
  --help               this text
  --version            the version
)";
// After the general options' lines (kDialogFlagsUsage).
constexpr const char* kUsageTail = R"(
Batch runs (and --screenshot) need no display: QT_QPA_PLATFORM defaults to
"offscreen" for them. Standard output carries only the settings of
"--settings-out -"; what was written where, the job line and notes go to
standard error. Alerts in batch runs go to standard error, one line
each ("alert: <message> | <informative>"), and are answered with their
first button; open panels are cancelled and modal windows aborted.

Exit status: 0 success (a cancel too); 2 bad arguments; 3 queue or PPD could
not be opened; 4 a bundle failed to load; 5 the starting settings could not
be read; 6 a --set key is unknown or its value was not taken; 7 a panel
refused to save or print; 8 an output could not be written; 9 the job was
not accepted. A print whose job was submitted exits 0 even when an output
(a screenshot, the settings) could not be written, and says so; an output
that fails does not stop the others. Before the dialog is up, a failure
also shows a message box unless --action is given.
)";

// One line on standard error: reports, notes and failures alike, so that
// standard output carries only the data "-" asks for.
void Say(const std::string& line) { std::fprintf(stderr, "r2740-print-dialog: %s\n", line.c_str()); }

int Die(int code, const std::string& why) {
  Say(why);
  return code;
}

// Before the dialog is up: one line on standard error, and a message box
// for a person (a batch run has nobody to read it).
int StartupFailed(int code, const std::string& why, bool batch) {
  Die(code, why);
  if (!batch) qthost::ShowStartupFailure(why);
  return code;
}

struct TempFile {
  std::string path;
  ~TempFile() {
    if (!path.empty()) unlink(path.c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  host::FrontEndOptions o;
  host::DialogFlags flags;
  std::string shots, destination, why;
  bool settingsOnly = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(host::kDialogFlagsUsage, stdout);
      std::fputs(kUsageTail, stdout);
      return kOK;
    }
    if (a == "--version") {
      std::printf("r2740-print-dialog %s\n", sys::Version());
      return kOK;
    }
    if (a == "--settings-only") {
      settingsOnly = true;
      continue;
    }
    host::Flag f = host::TakeSharedFlag(argc, argv, &i, &o, &why);
    if (f == host::Flag::Error) return Die(kUsageErr, why);
    if (f == host::Flag::Taken) continue;
    f = host::TakeDialogFlag(argc, argv, &i, &flags, &why);
    if (f == host::Flag::Error) return Die(kUsageErr, why);
    if (f == host::Flag::Taken) continue;
    if (!a.empty() && a[0] != '-') {
      flags.documents.push_back(a);
      continue;
    }
    std::string* into = a == "--screenshot" ? &shots : a == "--destination" ? &destination : nullptr;
    if (!into) return Die(kUsageErr, "unknown argument \"" + a + "\" (see --help)");
    if (i + 1 >= argc) return Die(kUsageErr, a + " needs a value (see --help)");
    *into = argv[++i];
  }
  const std::string& action = o.action;
  bool batch = !action.empty();
  if (batch && action != "save" && action != "print" && action != "cancel")
    return Die(kUsageErr, "--action is save, print or cancel, not \"" + action + "\"");
  if (!host::CheckQueueFlags(o, false, &why)) return Die(kUsageErr, why);
  if (settingsOnly && o.settingsOut.empty()) return Die(kUsageErr, "--settings-only needs --settings-out FILE");
  if (batch && o.queueName.empty() && o.ppdPath.empty())
    return Die(kUsageErr, "a batch run needs --queue NAME or --ppd FILE (see --help)");

  // A batch run never shows a window, so it needs no display.
  if ((batch || !shots.empty()) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  qthost::InstallTranslations();

  // The queue: given, or chosen among cupsd's.
  if (o.queueName.empty() && o.ppdPath.empty()) {
    auto queues = host::CupsQueues(&why);
    if (queues.empty()) return StartupFailed(kQueueErr, "no CUPS queue to choose from: " + why, batch);
    QStringList names;
    for (const auto& q : queues) names << QString::fromStdString(q.name);
    bool ok = false;
    QString chosen = QInputDialog::getItem(nullptr, QObject::tr("Print"), QObject::tr("Printer:"), names, 0, false, &ok);
    if (!ok) return kOK;
    o.queueName = chosen.toStdString();
  }
  host::OpenedQueue opened;
  if (int code = host::OpenQueue(o, &opened, &why); code != kOK) return StartupFailed(code, why, batch);
  const host::Queue& queue = opened.queue;
  if (destination.empty()) destination = queue.name;

  if (batch) ui::SetModalHandler(std::make_shared<qthost::BatchModalHandler>());
  else ui::SetModalHandler(std::make_shared<qthost::QtModalHandler>());

  // A caller that holds the job (--settings-only) reads the file and
  // reports itself: the dialog's own report lines would only repeat it.
  auto report = [settingsOnly](const std::string& line) {
    if (!settingsOnly) Say(line);
  };
  auto callback = std::make_shared<host::HostCallback>(queue, std::move(opened.ppd));
  int code = kOK;
  std::string settingsXML;
  std::vector<std::string> outputFailures;
  bool submitted = false;
  bool writeSettings = false;
  {
    host::DialogSession session(callback, std::move(opened.plugins));
    if (opened.startSettings) session.loadSettings(opened.startSettings);
    host::DialogStart start;
    if (int c = host::StartDialog(session, queue, flags, &start, &why); c != kOK) return Die(c, why);
    for (const auto& d : start.dropped) std::fprintf(stderr, "r2740-print-dialog: note: %s\n", d.c_str());
    std::string label = queue.name.empty() ? queue.id : queue.name;
    bool opened = batch ? session.open(&why) : qthost::OpenShowingProgress(session, QString::fromStdString(label), &why);
    if (!opened) std::fprintf(stderr, "r2740-print-dialog: %s\n", why.c_str());
    qthost::PrintDialog dialog(session, QString::fromStdString(label));
    dialog.setJob(o.job);
    auto* general = new qthost::GeneralPanel(session, queue, start);
    qthost::AttachGeneral(dialog, general);
    std::string notices;
    for (const auto& n : host::TakeNotices(session)) {
      if (batch) std::fprintf(stderr, "r2740-print-dialog: note: %s\n", n.c_str());
      notices += (notices.empty() ? "" : "\n") + n;
    }
    if (!notices.empty()) dialog.status()->setText(QString::fromStdString(notices));
    if (!batch) {
      if (auto h = std::dynamic_pointer_cast<qthost::QtModalHandler>(ui::GetModalHandler())) h->setParent(&dialog);
    }

    int jobId = 0;
    std::string queueState;
    TempFile generated;
    auto submit = [&](std::string* message) {
      if (!general->commit(message)) return false;
      // Said before the job goes, also when the agent sends it.
      auto options = host::JobOptions(session.settingsDictionary(), callback->ppdFile());
      host::NoticeUnenforcedSecurity(options, callback->ppdFile());
      if (settingsOnly) return true;
      std::vector<std::string> documents = flags.documents;
      if (documents.empty()) {
        if (generated.path.empty())
          generated.path = host::WriteTemporaryFile(host::SamplePDF("R2740 test page for " + label), ".pdf", message);
        if (generated.path.empty()) return false;
        documents.push_back(generated.path);
      }
      if (destination.empty()) {
        *message = "queue " + label + " is not a CUPS queue; give --destination NAME to print";
        return false;
      }
      jobId = host::PrintDocuments(destination, documents, flags.documents.empty() ? "R2740 test page" : documents[0],
                                   options, message);
      queueState = host::QueueState(destination);
      if (jobId <= 0) *message += " (queue " + destination + ": " + queueState + ")";
      else dialog.status()->setText(QString::fromStdString("Job " + std::to_string(jobId) + " sent to " + destination + ": " + queueState));
      return jobId > 0;
    };

    for (const auto& [key, value] : o.sets)
      if (!session.setControl(key, value, &why)) return Die(kSetErr, why);

    if (!shots.empty()) {
      // Screenshots are a by-product: the settings and the job still go.
      std::vector<std::string> written;
      if (!qthost::WriteScreenshots(dialog, session, shots, &written, &why)) outputFailures.push_back(why);
      for (const auto& p : written) report("screenshot written to " + p);
    }

    if (batch) {
      if (action == "save") {
        if (!dialog.commitEditing() || !session.save(&why))
          return Die(kPanelErr, why.empty() ? "a text field does not accept what was set" : why);
        writeSettings = true;
      } else if (action == "print") {
        // The panels agree first; the job goes only after that.
        if (!dialog.commitEditing()) return Die(kPanelErr, "a text field does not accept what was set");
        if (!session.print(&why)) return Die(kPanelErr, why);
        writeSettings = true;
        if (!submit(&why)) code = kJobErr;
      } else {
        report("cancelled: nothing saved or printed");
      }
    } else {
      dialog.setSubmit(submit);
      if (dialog.exec() == QDialog::Accepted) {
        writeSettings = true;
        // Started from a file manager, this is all the user sees of the job.
        if (jobId > 0) QMessageBox::information(nullptr, QObject::tr("Print"), dialog.status()->text());
      } else {
        report("cancelled: nothing printed");
      }
    }
    submitted = jobId > 0;
    if (submitted) Say("job " + std::to_string(jobId) + " submitted to " + destination + " (" + queueState + ")");
    if (writeSettings && code == kOK) {
      // With --settings-only the caller sends the job.
      bool printed = submitted || (settingsOnly && action != "save");
      if (int c = host::KeepSettings(session, queue, flags, start, printed, &why); c != kOK) {
        if (!submitted) return Die(c, why);
        std::fprintf(stderr, "r2740-print-dialog: %s (the job was submitted all the same)\n", why.c_str());
      }
    }
    if (writeSettings) {
      auto xml = cf::PropertyListCreateXMLData(session.settingsDictionary(), &why);
      if (!xml) return Die(kOutputErr, "the final settings cannot be written as a property list: " + why);
      settingsXML = *xml;
    }
    if (code == kJobErr) Die(kJobErr, why);
    ui::SetModalHandler(nullptr);
  }
  if (writeSettings && !o.settingsOut.empty()) {
    if (!host::WriteFileAtomic(o.settingsOut, settingsXML, &why, host::kSecretFileMode))
      outputFailures.push_back(why);
    else if (o.settingsOut != "-")
      report("settings written to " + o.settingsOut);
  }
  // A script that retries a failed print must not print twice: once the job
  // is in, a lost output is said but is no failure.
  for (const auto& failure : outputFailures)
    Die(kOutputErr, submitted ? failure + " (the job was submitted all the same)" : failure);
  if (!outputFailures.empty() && !submitted && code == kOK) code = kOutputErr;
  return code;
}
