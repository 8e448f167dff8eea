// The panels run as the print system runs them for a print, with nobody to
// answer: one session per job, nothing kept after it.
#include "ticket.h"

#include <cups/cups.h>
#include <strings.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <set>

#include "defaults.h"
#include "frontend.h"
#include "host.h"
#include "printing/typed_options.h"

namespace filter {

namespace {

using Result = Completion::Result;

// A job message is one line.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Alerts are the panels' words for the refusal: kept for the job's messages.
class RecordingModalHandler : public ui::ModalHandler {
 public:
  explicit RecordingModalHandler(std::vector<std::string>* alerts) : alerts_(alerts) {}
  int runAlert(ui::Alert& alert) override {
    std::string line = OneLine(alert.messageText), more = OneLine(alert.informativeText);
    alerts_->push_back(more.empty() ? line : line + " " + more);
    return ui::kAlertFirstButtonReturn;
  }
  int runOpenPanel(ui::OpenPanel&) override { return ui::kModalResponseCancel; }
  void runModalForWindow(const ui::WindowRef&) override {
    ui::Application::shared().stopModalWithCode(ui::kModalResponseAbort);
  }

 private:
  std::vector<std::string>* alerts_;
};

const std::string* Find(const host::OptionList& list, const std::string& name) {
  for (const auto& [k, v] : list)
    if (k == name) return &v;
  return nullptr;
}

bool IsTicketKey(const std::string& name) { return name.rfind(kTicketPrefix, 0) == 0; }

// What the host itself keeps beside the panels: copies, collation, pages,
// orientation and the lp options it passes on.
bool IsGeneral(const std::string& name) {
  for (const char* general : host::kPlainGeneralOptions)
    if (name == general) return true;
  return name == "collate" || host::IsPassedOnOption(name);
}

// The job's options the panels keep in their ticket: what host::JobOptions
// takes of them, less the general options the host keeps itself.
host::OptionList PanelEntries(const host::OptionList& job, ppd_file_t* ppd) {
  auto dict = cf::Dictionary::create();
  for (const auto& [k, v] : job) dict->setValue(k, cf::str(v));
  host::OptionList out;
  for (const auto& [k, v] : host::JobOptions(dict, ppd)) {
    if (IsGeneral(k) || !Find(job, k)) continue;
    // cupsd hands booleans over in lower case; the panels store the PPD's spelling.
    ppd_option_t* option = host::IsMainKeyword(ppd, k) ? ppdFindOption(ppd, k.c_str()) : nullptr;
    ppd_choice_t* choice = option ? ppdFindChoice(option, v.c_str()) : nullptr;
    out.emplace_back(k, choice ? choice->choice : v);
  }
  return out;
}

// The panels keep what they show in a dictionary per queue inside a
// top-level dictionary of their own (presets move the same dictionaries
// between queues): the ticket goes there, and every panel restores from it
// as from a chosen preset.
bool RestoreTicket(host::DialogSession& session, const std::string& queue, const host::OptionList& entries,
                   std::string* error) {
  for (const auto& [key, entry] : session.callback().settings().entries()) {
    auto model = cf::As<cf::Dictionary>(entry.value);
    auto stored = model ? cf::As<cf::Dictionary>(model->getValue(queue)) : nullptr;
    if (!stored) continue;
    for (const auto& [k, v] : entries) stored->setValue(k, cf::str(v));
  }
  for (auto& p : session.panels()) {
    pde::PDEError e;
    if (!p.panel->restoreValuesAndReturnError(&e)) {
      *error = "panel \"" + p.name + "\" failed to restore the job's ticket" + (e.message.empty() ? "" : ": " + e.message);
      return false;
    }
  }
  return true;
}

// The value typed into a one-parameter custom option, "Custom.VALUE" as GTK
// and lp -o send it; empty for "None" and the like. (The "{PARAM=VALUE}"
// form reaches no filter: lp sends it as a collection, which cupsd leaves
// out of a filter's options.)
std::string TypedValue(const std::string& option) {
  return option.rfind("Custom.", 0) == 0 ? option.substr(7) : "";
}

// Values that hold a name or password in clear: never the driver's.
bool ClearValue(const std::string& name) {
  return pm::FindTypedOption(name) || name == "job-password" || name == "job-password-encryption";
}

Completion Fail(Result result, const std::string& why, std::vector<std::string> alerts = {}) {
  Completion c;
  c.result = result;
  c.reason = why;
  c.alerts = std::move(alerts);
  return c;
}

}  // namespace

host::OptionList ParseOptions(const char* text) {
  cups_option_t* options = nullptr;
  int count = cupsParseOptions(text ? text : "", 0, &options);
  host::OptionList out;
  for (int i = 0; i < count; ++i) out.emplace_back(options[i].name, options[i].value);
  cupsFreeOptions(count, options);
  return out;
}

bool PlainOptionName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (!std::isalnum(c) && c != '-' && c != '_' && c != '.' && c != ':' && c != '+') return false;
  return true;
}

std::string FormatOptions(const host::OptionList& options) {
  std::string text;
  for (const auto& [k, v] : options) {
    if (!PlainOptionName(k)) continue;
    if (!text.empty()) text += ' ';
    text += k + '=';
    // A brace opens a collection in libcups' reading, which takes in every
    // option after it until the brace closes: escaped like the rest.
    for (char c : v) {
      if (std::strchr("\\'\" \t\n\r\v\f{}", c) && c) text += '\\';
      text += c;
    }
  }
  return text;
}

Completion CompleteTicket(const std::string& ppdPath, const std::string& queue, const std::string& deviceURI,
                          const host::OptionList& job) {
  std::string why;
  Completion done;
  auto ppd = host::PPDFile::open(ppdPath, &why);
  if (!ppd) return Fail(Result::kFailed, why);
  std::vector<host::PlugInRef> plugins;
  if (ppd->dialogExtensions().empty()) {  // a queue without our panels: nothing to complete
    done.result = Result::kUnchanged;
    done.options = job;
    return done;
  }
  for (const auto& path : ppd->dialogExtensions()) {
    auto plugin = host::LoadPlugIn(path, &why);
    if (!plugin) return Fail(Result::kFailed, "bundle failed to load: " + why);
    plugins.push_back(plugin);
  }

  ui::SetModalHandler(std::make_shared<RecordingModalHandler>(&done.alerts));
  struct Unset {
    ~Unset() { ui::SetModalHandler(nullptr); }
  } unset;
  auto callback = std::make_shared<host::HostCallback>(host::ManualQueue(ppdPath, queue, deviceURI), std::move(ppd));
  ppd_file_t* file = callback->ppdFile();
  const bool ours = Find(job, kTicketMark) != nullptr;
  host::OptionList completed;
  std::vector<std::string> claimed;
  {
    host::DialogSession session(callback, std::move(plugins), host::DialogSession::Views::kNone);
    (void)host::StartFromDefaults(*callback, job);  // a choice the PPD lacks leaves the PPD's default, as lp's would
    // Panels the PPD names but that cannot open would let the job print
    // without their rules: it does not print.
    if (!session.open(&why)) return Fail(Result::kFailed, "the panels did not open: " + why);
    for (const auto& p : session.panels()) claimed.insert(claimed.end(), p.keys.begin(), p.keys.end());
    if (ours) {
      if (!RestoreTicket(session, queue, PanelEntries(job, file), &why)) return Fail(Result::kFailed, why);
    } else {
      // An empty entry is an empty field, which the panel has already. A
      // value another dialog typed into the PPD's fields, or sent as the
      // IPP job password or billing, is for a field whose switch the job
      // may have left off: there it is not taken, as the panel would not.
      struct Typed {
        std::string control, value;
        bool ifEnabled;
      };
      std::vector<Typed> typed;
      for (const auto& [k, v] : job)
        if (IsTicketKey(k) && !v.empty()) typed.push_back({k, v, false});
      for (const auto& t : pm::kTypedOptions) {
        const std::string* v = Find(job, t.keyword);
        std::string value = v ? TypedValue(*v) : "";
        if (!value.empty() && !Find(job, t.control)) typed.push_back({t.control, value, true});
      }
      auto fallback = [&](const char* option, const char* field, const char* instead) {
        const std::string* v = Find(job, option);
        if (v && !v->empty() && !Find(job, field) && !Find(job, instead)) typed.push_back({field, *v, true});
      };
      const pm::TypedOption* password = pm::FindTypedOption("R2740DocumentPassword");
      const pm::TypedOption* section = pm::FindTypedOption("R2740SectionName");
      fallback("job-password", password->control, password->keyword);
      fallback("job-account-id", section->control, section->keyword);
      fallback("job-billing", section->control, section->keyword);
      // Options come sorted, not in the order a user fills the panel: a
      // field that one choice enables (the user's type enables the name)
      // gets its turn again after the others were typed.
      for (bool progress = true; progress && !typed.empty();) {
        progress = false;
        std::vector<Typed> left;
        for (const auto& t : typed) {
          if (session.setControl(t.control, t.value, &why)) progress = true;
          else left.push_back(t);
        }
        typed.swap(left);
      }
      std::erase_if(typed, [&](const Typed& t) { return t.ifEnabled && !session.controlAvailable(t.control); });
      if (!typed.empty()) {
        const Typed& t = typed.front();
        (void)session.setControl(t.control, t.value, &why);
        // A name or password never goes into the job's messages.
        if (why.find(t.value) != std::string::npos) why = t.control + ": the control did not take the job's value";
        return Fail(Result::kRefused, why, done.alerts);
      }
    }
    if (!session.print(&why)) return Fail(Result::kRefused, why, done.alerts);
    completed = host::JobOptions(session.settingsDictionary(), file);
  }

  if (ours) {
    std::set<std::string> panelKeys(claimed.begin(), claimed.end());
    for (const auto& [k, v] : completed) {
      const std::string* was = Find(job, k);
      if (!was || k == kTicketMark || (!IsTicketKey(k) && !panelKeys.count(k))) continue;
      // PPD choices match as libcups matches them, whatever their case.
      if (*was == v || (!IsTicketKey(k) && strcasecmp(was->c_str(), v.c_str()) == 0)) continue;
      // Ticket entries hold names and ciphertexts: their values are never told.
      std::string detail = IsTicketKey(k) ? k + " is not what the panels store for the job's choices"
                                          : k + " is \"" + host::PlainText(*was, 40) + "\", the panels give \"" +
                                                host::PlainText(v, 40) + "\"";
      return Fail(Result::kRefused, "the job's ticket does not agree with the panels: " + detail, done.alerts);
    }
    // Unchanged but for clear values another dialog left on the job (the
    // agent cannot delete a job's attributes).
    done.result = Result::kUnchanged;
    for (const auto& [k, v] : job)
      if (!ClearValue(k)) done.options.emplace_back(k, v);
    return done;
  }
  for (const auto& [k, v] : job)
    if (!IsTicketKey(k) && !ClearValue(k) && !Find(completed, k)) done.options.emplace_back(k, v);
  // The general options stay as the job has them: the filters before this
  // one made its copies and pages already, and the dialog's defaults
  // (collated copies) are the dialog's, not the job's.
  for (const auto& [k, v] : completed)
    if (!IsGeneral(k) || Find(job, k)) done.options.emplace_back(k, v);
  done.result = Result::kCompleted;
  return done;
}

}  // namespace filter
