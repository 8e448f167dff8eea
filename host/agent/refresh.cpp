#include "refresh.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>

#include "agent.h"
#include "dialogstart.h"
#include "frontend.h"
#include "QVPList.h"
#include "host.h"
#include "stored_profiles.h"
#include "system/layout.h"
#include "system/system.h"

namespace agent {
namespace {

// Nobody is there to answer: alerts take their first button and are told.
class ReportingModalHandler : public ui::ModalHandler {
 public:
  explicit ReportingModalHandler(std::string* said) : said_(said) {}
  int runAlert(ui::Alert& alert) override {
    *said_ += "\n" + host::AlertLine(alert);
    return ui::kAlertFirstButtonReturn;
  }
  int runOpenPanel(ui::OpenPanel&) override { return ui::kModalResponseCancel; }
  void runModalForWindow(const ui::WindowRef&) override {
    ui::Application::shared().stopModalWithCode(ui::kModalResponseAbort);
  }

 private:
  std::string* said_;
};

// The walk goes into a profile file of the refresh's own (one per run, so
// that two refreshes at once keep apart), so that no user's menus change;
// it is removed afterwards.
const std::string& RefreshLogin() {
  static const std::string login = "r2740-queue-refresh-" + std::to_string(::getpid());
  return login;
}

struct ActingAs {
  std::string before = sys::LoginName();
  bool ok = sys::SetActingUser(RefreshLogin());
  ~ActingAs() { (void)sys::SetActingUser(before); }
};

std::vector<std::string> ColourModels(host::DialogSession& session) {
  std::vector<std::string> out;
  for (const auto& p : session.panels())
    if (std::string model = host::ColourPanelModel(p); !model.empty()) out.push_back(model);
  return out;
}

std::string ProfileFile(const std::string& model, const char* kind) {
  return sys::ResolvePath(kQVPListProfileFolder) + "/" + RefreshLogin() + "-" + model + "-" + kind;
}

// What the printer holds now (the last walk found it) is shown in menus,
// nothing else: the profile window's own "show" state, set in the file.
bool ShowWhatThePrinterHolds(const std::string& path) {
  std::vector<ProfileList> lists(3);
  QV_PLIST_PROFILE_PATH = path.c_str();
  bool ok = QVPListReadProfile_All(&lists[0], &lists[1], &lists[2]) == 0;
  for (auto& list : lists)
    for (auto& e : list.entry) {
      if (e.InMenu == kProfileStateFoundHidden) e.InMenu = kProfileStateFoundShown;
      else if (e.InMenu == kProfileStateDeviceShown) e.InMenu = kProfileStateDeviceHidden;
      else if (e.InMenu == kProfileStateUserShown) e.InMenu = kProfileStateUserHidden;
    }
  ok = ok && QVPListWriteProfile_All(&lists[0], &lists[1], &lists[2]) == 0;
  QV_PLIST_PROFILE_PATH = nullptr;
  return ok;
}

// One dialog session on the queue, as a user opens the dialog: the colour
// panel walks the printer when its view is shown.
struct QueueSession {
  host::OpenedQueue opened;
  std::unique_ptr<host::DialogSession> session;
  bool open(const std::string& queue, std::string* said, std::string* error) {
    host::FrontEndOptions o;
    o.queueName = queue;
    if (host::OpenQueue(o, &opened, error) != host::kOK) return false;
    auto callback = std::make_shared<host::HostCallback>(opened.queue, std::move(opened.ppd));
    session = std::make_unique<host::DialogSession>(callback, std::move(opened.plugins));
    host::DialogStart start;
    if (host::StartDialog(*session, opened.queue, host::DialogFlags{}, &start, error) != host::kOK) return false;
    if (!session->open(error)) return false;
    for (const auto& n : host::TakeNotices(*session)) *said += "\n" + n;
    return true;
  }
};

// What the colour panel writes for each stored profile of the printer.
bool PanelChoices(const std::string& queue, std::vector<host::StoredProfileChoice>* out, std::string* said,
                  std::string* error) {
  ActingAs acting;
  if (!acting.ok) return *error = "cannot act as " + RefreshLogin(), false;
  struct RemoveFiles {
    ~RemoveFiles() {
      for (const char* m : {"R2740", "R2740Mono"})
        for (const char* kind : {"profile.plist", "profile.prev.plist", "profile.plist.bad"})
          ::unlink(ProfileFile(m, kind).c_str());
    }
  } removeFiles;
  std::vector<std::string> models;
  {
    QueueSession walk;  // the walk fills the refresh's profile file
    if (!walk.open(queue, said, error)) return false;
    models = ColourModels(*walk.session);
  }
  if (models.empty()) return *error = "the queue's PPD names no R2740 colour panel", false;
  for (const auto& m : models)
    if (sys::FileExists(ProfileFile(m, "profile.plist")) && !ShowWhatThePrinterHolds(ProfileFile(m, "profile.plist")))
      return *error = "cannot read the profiles the walk found (" + ProfileFile(m, "profile.plist") + ")", false;

  QueueSession menus;
  if (!menus.open(queue, said, error)) return false;
  host::DialogSession& session = *menus.session;
  std::map<std::string, int> counts;
  for (const host::ProfileItem& item : host::ProfileItems(session)) {
    std::string why;
    const std::string pick = host::ProfileChoiceValue(item.fileName, item.location);
    if (!session.setControl(item.option, pick, &why) || !session.save(&why)) {
      *said += "\nnot offered: " + item.title + " (" + why + ")";
      continue;
    }
    cf::DictionaryRef settings = session.settingsDictionary();
    auto first = settings ? settings->get<cf::String>(item.option) : nullptr;
    auto coded = settings ? settings->get<cf::String>(item.option + "CustomFilename") : nullptr;
    if (!first || !coded || coded->utf8().empty()) {
      *said += "\nnot offered: " + item.title + " (the panel wrote no profile for it)";
      continue;
    }
    host::StoredProfileChoice c;
    c.option = item.option;
    c.choice = host::kStoredChoicePrefix + std::to_string(++counts[item.option]);
    c.title = item.title;
    c.first = first->utf8();
    c.coded = coded->utf8();
    out->push_back(std::move(c));
  }
  return true;
}

bool SendPPD(const std::string& queue, const std::string& text, std::string* error) {
  char name[1024];
  int fd = cupsTempFd(name, sizeof name);
  if (fd < 0) return *error = "cannot make a temporary file", false;
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  // cupsd takes any file; the dialogs need one libcups reads.
  ppd_file_t* check = written ? ppdOpenFile(name) : nullptr;
  if (written && !check) {
    int line = 0;
    std::string why = ppdErrorString(ppdLastError(&line));
    ::unlink(name);
    return *error = "the PPD with the stored profiles would not be readable (" + why + ", line " +
                    std::to_string(line) + "); it was not sent", false;
  }
  ppdClose(check);
  if (written) {
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterURI(queue).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippDelete(cupsDoFileRequest(CUPS_HTTP_DEFAULT, request, "/admin/", name));
  }
  ::unlink(name);
  if (!written) return *error = "cannot write a temporary file", false;
  if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) return *error = LastError(("cupsd refused the PPD of " + queue).c_str()), false;
  return true;
}

}  // namespace

bool RefreshStoredProfiles(const std::string& queue, std::string* report, std::string* error) {
  std::string said;
  ui::SetModalHandler(std::make_shared<ReportingModalHandler>(&said));
  std::vector<host::StoredProfileChoice> choices;
  bool ok = PanelChoices(queue, &choices, &said, error);
  ui::SetModalHandler(nullptr);
  if (!ok) return false;

  int changed = 0;
  bool kept = false;
  for (const std::string& q : {queue, queue + kAskSuffix}) {
    auto opened = host::CupsQueue(q, error);
    if (!opened) {
      if (q == queue) return false;
      continue;  // no ask queue
    }
    auto text = sys::ReadFile(opened->ppdPath);
    ::unlink(opened->ppdPath.c_str());
    if (!text) return *error = "cannot read the PPD of " + q, false;
    std::string updated = host::WithStoredProfiles(*text, choices);
    // A walk that got no answer leaves the lists as empty as a printer
    // without profiles: choices are never all taken away. One the printer
    // no longer has costs nothing: it prints with the option's first choice.
    if (choices.empty() && updated != *text) {
      kept = true;
      continue;
    }
    if (updated == *text) continue;
    if (!SendPPD(q, updated, error)) return false;
    ++changed;
  }
  std::map<std::string, int> perOption;
  for (const auto& c : choices) ++perOption[c.option];
  *report = queue + ": " + std::to_string(choices.size()) + " stored profile choice" + (choices.size() == 1 ? "" : "s");
  std::string sep = " (";
  for (const auto& [option, n] : perOption) *report += sep + option + " " + std::to_string(n), sep = ", ";
  if (!perOption.empty()) *report += ")";
  *report += kept      ? "; the printer reported none (or did not answer), so the choices it had stay"
             : changed ? "; the PPD was updated"
                       : "; the PPD was already up to date";
  *report += said;
  return true;
}

}  // namespace agent
