// One print dialog: panels driven in the print system's order.
#include <strings.h>

#include <cstdlib>
#include <optional>
#include <set>

#include "general.h"
#include "host.h"

namespace host {

namespace {

constexpr const char* kSummaryOrderKey = "Summary Display Order";

std::string Utf8(const cf::StringRef& s) { return s ? s->utf8() : std::string(); }

std::string Display(const cf::Ref& v) {
  if (auto s = cf::As<cf::String>(v)) return s->utf8();
  return v ? v->description() : std::string();
}

// The view and everything reachable from it: subviews and the views of tab
// items (which a tab view may keep out of its subviews while not selected).
void Walk(const ui::ViewRef& v, std::vector<ui::ViewRef>& out, std::set<const ui::View*>& seen) {
  if (!v || !seen.insert(v.get()).second) return;
  out.push_back(v);
  for (const auto& s : v->subviews()) Walk(s, out, seen);
  if (auto* tab = dynamic_cast<ui::TabView*>(v.get())) {
    for (int i = 0; i < tab->numberOfTabViewItems(); ++i)
      if (ui::TabViewItem* item = tab->tabViewItemAtIndex(i)) Walk(item->view(), out, seen);
  }
}

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

DialogSession::DialogSession(std::shared_ptr<HostCallback> callback, std::vector<PlugInRef> plugins, Views views)
    : callback_(std::move(callback)), plugins_(std::move(plugins)), views_(views) {}

DialogSession::~DialogSession() {
  for (auto& p : panels_)
    if (p.panel) p.panel->terminate();
  panels_.clear();
  plugins_.clear();
}

void DialogSession::loadSettings(const cf::DictionaryRef& dict) {
  if (!dict) return;
  auto& settings = callback_->settings();
  cf::Ref paper = settings.value(pm::kPMDestinationPaperNameKey);
  settings.loadDictionary(dict);
  if (paper && !settings.value(pm::kPMDestinationPaperNameKey))
    settings.setValue(pm::kPMDestinationPaperNameKey, paper, false);
}

bool DialogSession::open(std::string* error) {
  if (!panels_.empty()) return true;
  cf::StringRef type = cf::str(pde::kPrinterModuleType);
  pde::CallbackRef hostInfo = callback_;
  for (const auto& plugin : plugins_) {
    if (!plugin || !plugin->factory()) continue;
    pde::PanelList list = plugin->factory()->PDEPanelsForType(type, hostInfo);
    if (!list) continue;  // nil: this plug-in has nothing for the dialog
    for (const auto& panel : *list)
      if (panel) panels_.push_back(Panel{plugin, panel, {}, {}, {}, nullptr});
  }
  if (panels_.empty()) {
    return Fail(error, plugins_.empty() ? "no plug-in loaded, so no panel to show"
                                        : "no plug-in offered a panel for this printer");
  }
  for (auto& p : panels_) {
    p.name = Utf8(p.panel->panelName());
    p.kind = Utf8(p.panel->panelKind());
    if (cf::ArrayRef keys = p.panel->supportedPPDOptionKeys())
      for (const auto& k : *keys)
        if (auto s = cf::As<cf::String>(k)) p.keys.push_back(s->utf8());
  }
  for (auto& p : panels_) {
    pde::PDEError e;
    if (!p.panel->restoreValuesAndReturnError(&e))
      return Fail(error, "panel " + Quoted(p.name) + " failed to restore its values" +
                             (e.message.empty() ? std::string() : ": " + e.message));
  }
  if (views_ == Views::kShown) {
    for (auto& p : panels_) p.view = p.panel->panelView();
    for (auto& p : panels_) p.panel->willShow();
  }
  for (auto& p : panels_) (void)p.panel->summaryInfo();
  return true;
}

namespace {

// What setControl asks of the one control it found.
struct SetRequest {
  const std::string& key;
  const std::string& value;
  std::string* error;
  ppd_file_t* ppd;
};

// A menu item by its represented choice keyword, then its title, then the
// PPD choice of the same position.
bool SetPopUp(ui::PopUpButton& pop, const SetRequest& r) {
  const std::string& key = r.key;
  const std::string& value = r.value;
  std::string* error = r.error;
  int n = pop.numberOfItems();
  int index = -1;
  for (int i = 0; i < n && index < 0; ++i) {
    ui::MenuItem* item = pop.itemAtIndex(i);
    auto rep = item ? cf::As<cf::String>(item->representedObject()) : nullptr;
    if (rep && rep->utf8() == value) index = i;
  }
  if (index < 0) index = pop.indexOfItemWithTitle(value);
  if (index < 0 && r.ppd) {
    ppd_option_t* o = ppdFindOption(r.ppd, key.c_str());
    if (o && key == o->keyword)
      for (int i = 0; i < o->num_choices; ++i)
        if (value == o->choices[i].choice) {
          if (i < n) index = i;
          break;
        }
  }
  if (index < 0) return Fail(error, key + ": no menu item for value " + Quoted(value));
  if (!pop.isItemEnabled(index))
    return Fail(error, key + ": menu item " + Quoted(pop.itemTitleAtIndex(index)) + " is disabled");
  if (!pop.userSelectItem(index) || pop.indexOfSelectedItem() != index)
    return Fail(error, key + ": the menu refused item " + Quoted(pop.itemTitleAtIndex(index)));
  return true;
}

bool SetCheckbox(ui::Button& button, const SetRequest& r) {
  const std::string& key = r.key;
  const std::string& value = r.value;
  std::string* error = r.error;
  if (button.buttonType() == ui::ButtonType::Push) return Fail(error, key + ": a push button takes no value");
  int wanted;
  if (strcasecmp(value.c_str(), "True") == 0)
    wanted = 1;
  else if (strcasecmp(value.c_str(), "False") == 0)
    wanted = 0;
  else
    return Fail(error, key + ": a checkbox takes True or False, not " + Quoted(value));
  if (button.state() == wanted) return true;
  button.userClick();
  if (button.state() != wanted) return Fail(error, key + ": the checkbox refused " + value);
  return true;
}

// A radio button by its title, else by its row number.
bool SetRadio(ui::Matrix& matrix, const SetRequest& r) {
  const std::string& key = r.key;
  const std::string& value = r.value;
  std::string* error = r.error;
  int row = -1;
  for (int i = 0; i < matrix.numberOfRows() && row < 0; ++i)
    if (matrix.cellTitle(i) == value) row = i;
  if (row < 0 && !value.empty() && value.find_first_not_of("0123456789") == std::string::npos && value.size() < 9)
    row = std::atoi(value.c_str());
  if (row < 0 || row >= matrix.numberOfRows()) return Fail(error, key + ": no radio button for value " + Quoted(value));
  if (!matrix.isCellEnabled(row)) return Fail(error, key + ": radio button " + Quoted(value) + " is disabled");
  if (!matrix.userSelectCell(row) || matrix.selectedRow() != row)
    return Fail(error, key + ": the radio buttons refused " + Quoted(value));
  return true;
}

// Typed as a user would: select all, type (or delete), end editing.
bool SetText(ui::TextField& field, const SetRequest& r) {
  const std::string& key = r.key;
  const std::string& value = r.value;
  std::string* error = r.error;
  if (!field.isEditable()) return Fail(error, key + ": the text field is not editable");
  if (!field.userBeginEditing()) return Fail(error, key + ": the text field refused editing");
  field.userSelect(ui::Range{0, 1L << 30});
  if (value.empty()) {
    if (field.length() > 0) field.userDeleteBackward();
  } else {
    field.userType(value);
  }
  if (!field.userEndEditing()) {
    field.abortEditing();
    return Fail(error, key + ": the text field refused to end editing with the typed text");
  }
  if (field.stringValue() != value) {
    if (field.isSecure()) return Fail(error, key + ": the field did not take the typed text");
    return Fail(error,
                key + ": the field did not take " + Quoted(value) + " (it holds " + Quoted(field.stringValue()) + ")");
  }
  if (field.target() && !field.action().empty()) field.sendAction();
  return true;
}

// The setter of one widget kind; nullopt when the control is of another.
using Setter = std::optional<bool> (*)(ui::Control& control, const SetRequest& r);

template <class Widget, bool (*Set)(Widget&, const SetRequest&)>
std::optional<bool> Apply(ui::Control& control, const SetRequest& r) {
  auto* widget = dynamic_cast<Widget*>(&control);
  if (!widget) return std::nullopt;
  return Set(*widget, r);
}

// The first kind that matches sets the value: a pop-up is a button too.
constexpr Setter kSetters[] = {Apply<ui::PopUpButton, SetPopUp>, Apply<ui::Button, SetCheckbox>,
                               Apply<ui::Matrix, SetRadio>, Apply<ui::TextField, SetText>};

}  // namespace

std::shared_ptr<ui::Control> DialogSession::findControl(const std::string& key, std::shared_ptr<ui::View>* plainView) {
  std::shared_ptr<ui::Control> control;
  for (auto& p : panels_) {
    std::vector<ui::ViewRef> views;
    std::set<const ui::View*> seen;
    if (views_ == Views::kShown) Walk(p.view ? p.view : p.panel->panelView(), views, seen);
    for (const auto& v : p.panel->allViews()) Walk(v, views, seen);
    for (const auto& v : views) {
      if (v->identifier() != key) continue;
      if (auto c = std::dynamic_pointer_cast<ui::Control>(v)) {
        control = c;
        break;
      }
      if (plainView && !*plainView) *plainView = v;
    }
    if (control) break;
  }
  return control;
}

bool DialogSession::controlAvailable(const std::string& key) {
  auto control = findControl(key, nullptr);
  return control && control->isEnabled() && !control->isHidden();
}

bool DialogSession::setControl(const std::string& key, const std::string& value, std::string* error) {
  if (key.empty()) return Fail(error, "empty key");
  if (value.rfind(kProfilePrefix, 0) == 0) return ChooseProfile(*this, key, value, error);
  std::shared_ptr<ui::View> plainView;
  std::shared_ptr<ui::Control> control = findControl(key, &plainView);
  if (!control) {
    if (plainView) return Fail(error, key + ": the view is no control (" + plainView->className() + ")");
    return Fail(error, "unknown key: " + key + " (no panel has a control for it)");
  }
  if (!control->isEnabled()) return Fail(error, key + ": the control is disabled");
  if (control->isHidden()) return Fail(error, key + ": the control is hidden");

  const SetRequest request{key, value, error, callback_->ppdFile()};
  for (Setter set : kSetters)
    if (auto done = set(*control, request)) return *done;
  return Fail(error, key + ": a " + control->className() + " takes no value");
}

std::vector<PanelSummary> DialogSession::summaries() {
  std::vector<PanelSummary> result;
  for (auto& p : panels_) {
    PanelSummary s;
    s.panelName = p.name;
    cf::DictionaryRef info = p.panel->summaryInfo();
    if (info) {
      std::set<std::string> seen{kSummaryOrderKey};
      if (auto order = info->get<cf::Array>(kSummaryOrderKey)) {
        for (const auto& item : *order) {
          auto name = cf::As<cf::String>(item);
          if (!name || seen.count(name->utf8())) continue;
          cf::Ref v = info->getValue(name->utf8());
          if (!v) continue;
          seen.insert(name->utf8());
          s.rows.emplace_back(name->utf8(), Display(v));
        }
      }
      info->forEach([&](const cf::Ref& k, const cf::Ref& v) {
        auto name = cf::As<cf::String>(k);
        if (!name || seen.count(name->utf8())) return;
        s.rows.emplace_back(name->utf8(), Display(v));
      });
    }
    result.push_back(std::move(s));
  }
  return result;
}

bool DialogSession::save(std::string* error) {
  std::string first;
  for (auto& p : panels_) {
    if (!p.panel->shouldHide()) {
      if (first.empty()) first = "panel " + Quoted(p.name) + " refused to hide";
      continue;
    }
    pde::PDEError e;
    if (!p.panel->saveValuesAndReturnError(&e) && first.empty())
      first = "panel " + Quoted(p.name) + " failed to save its values" +
              (e.message.empty() ? std::string() : ": " + e.message);
  }
  if (!first.empty()) return Fail(error, first);
  return true;
}

bool DialogSession::print(std::string* error) {
  pm::PrintSession& session = callback_->session();
  session.setData(pde::kSavingForPrintKey, cf::Boolean::kTrue());
  bool saved = save(error);
  session.setData(pde::kSavingForPrintKey, nullptr);
  if (!saved) return false;
  for (auto& p : panels_)
    if (!p.panel->shouldPrint()) return Fail(error, "panel " + Quoted(p.name) + " refused to print");
  return true;
}

cf::DictionaryRef DialogSession::settingsDictionary() const { return callback_->settings().asDictionary(); }

std::vector<std::pair<std::string, std::string>> JobOptions(const cf::DictionaryRef& settings, ppd_file_t* ppd) {
  std::vector<std::pair<std::string, std::string>> options;
  if (!settings) return options;
  static const std::string kTicketPrefix = "jp.orvessa.printers.R2740";
  auto isMainKeyword = [ppd](const std::string& k) { return IsMainKeyword(ppd, k); };
  auto endsWith = [](const std::string& s, const std::string& tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  };
  settings->forEach([&](const cf::Ref& k, const cf::Ref& v) {
    auto key = cf::As<cf::String>(k);
    auto value = cf::As<cf::String>(v);
    if (!key || !value) return;
    const std::string& name = key->utf8();
    // A typed option carries a clear value; the panel's ticket has it encrypted.
    if (pm::FindTypedOption(name)) return;
    for (const std::string tail : {"Custom", "CustomFilename"})
      if (endsWith(name, tail) && pm::FindTypedOption(name.substr(0, name.size() - tail.size()))) return;
    bool take = name.compare(0, kTicketPrefix.size(), kTicketPrefix) == 0 || isMainKeyword(name);
    for (const char* general : kPlainGeneralOptions) take = take || name == general;
    take = take || IsPassedOnOption(name);
    if (!take && endsWith(name, "CustomFilename")) take = isMainKeyword(name.substr(0, name.size() - 14));
    if (!take && endsWith(name, "Custom")) take = isMainKeyword(name.substr(0, name.size() - 6));
    if (take && name != kCollateOption) options.emplace_back(name, value->utf8());
  });
  // Without a word on collation cupsd and the filters make uncollated
  // copies, not the dialog's default; both names, as lp sends them, since
  // the filters collate when either asks for it.
  auto collate = cf::As<cf::String>(settings->getValue(kCollateOption));
  bool collated = !collate || collate->utf8() != kUncollated;
  options.emplace_back(kCollateOption, collated ? kCollated : kUncollated);
  options.emplace_back("collate", collated ? "true" : "false");
  return options;
}

}  // namespace host
