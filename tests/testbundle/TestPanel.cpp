// A small plug-in for the host's tests, built twice (builds "A" and "B")
// from this one source, each in its own namespace with its own entry point.
// It records every protocol call in the print session's data under
// "test.calls" as "<build>:<call>", so tests can check the host's order.
//
// Controls (view identifiers):
//   QVEdgeType        pop-up of the PPD choices (represented objects set),
//                     auto-enabling off, last item disabled
//   QVGlossyMode      checkbox
//   jp.orvessa.printers.R2740.testName   text field that drops digits
//   TestButton        push button;  TestPlainView  a plain view
//   QVBrightness      pop-up inside the second tab (titles only)
//   QVImageHalftone   pop-up on a pane detached from the view tree,
//                     reachable through allViews() only (titles only)
//   QVEconoMode       disabled checkbox on the detached pane
//   TestUserType      radio matrix "public" / "private"
// The print setting "test.offer.<build>" steers the factory: "nil" answers
// nil, "empty" an empty list, "two" two panels; anything else one panel.
// shouldPrint answers NO (after an alert) when the text field holds "refuse".
#include <cups/ppd.h>

#include <memory>
#include <string>

#include "cf/cf.h"
#include "printing/pde.h"
#include "ui/ui.h"

#define TEST_CAT_(a, b) a##b
#define TEST_CAT(a, b) TEST_CAT_(a, b)
#define TEST_STR_(a) #a
#define TEST_STR(a) TEST_STR_(a)

namespace TEST_CAT(r2740_test_, R2740_TEST_BUILD) {

const std::string kBuild = TEST_STR(R2740_TEST_BUILD);
// Per build: proves the two builds do not share their statics.
int gPanelsCreated = 0;

constexpr const char* kNameKey = "jp.orvessa.printers.R2740.testName";

void Record(pm::PMPrintSession session, const std::string& call) {
  if (!session) return;
  auto calls = cf::As<cf::Array>(session->data("test.calls"));
  if (!calls) {
    calls = cf::Array::create();
    session->setData("test.calls", calls);
  }
  calls->append(cf::str(kBuild + ":" + call));
}

// Receives the controls' actions.
class Controller : public ui::NibObject {
 public:
  explicit Controller(pm::PMPrintSession s) : session_(s) {
    action("changed:", [this](ui::NibObject* sender) {
      auto* v = dynamic_cast<ui::View*>(sender);
      Record(session_, "action:" + (v ? v->identifier() : std::string("?")));
    });
  }

 private:
  pm::PMPrintSession session_;
};

// A field that drops digits as they are typed.
class LettersField : public ui::TextField {
 public:
  void textDidChange(ui::FieldEditor*) override {
    std::string s = stringValue(), kept;
    for (char c : s)
      if (c < '0' || c > '9') kept += c;
    if (kept != s) setStringValue(kept);
  }
};

class TestPanel : public pde::PDEPanel {
 public:
  explicit TestPanel(pde::CallbackRef cb) : callback_(std::move(cb)) {
    ++gPanelsCreated;
    settings_ = callback_->printSettings();
    session_ = callback_->printSession();
    ppd_ = callback_->ppdFile();
  }
  ~TestPanel() override { Record(session_, "dealloc"); }

  cf::StringRef panelName() override {
    Record(session_, "panelName");
    return cf::str("Test Panel " + kBuild);
  }
  cf::StringRef panelKind() override {
    Record(session_, "panelKind");
    return cf::str("jp.orvessa.test." + kBuild);
  }
  cf::ArrayRef supportedPPDOptionKeys() override {
    Record(session_, "supportedPPDOptionKeys");
    return cf::Array::create({cf::str("QVEdgeType"), cf::str("QVGlossyMode")});
  }
  std::shared_ptr<ui::View> panelView() override {
    Record(session_, "panelView");
    load();
    return main_;
  }
  bool restoreValuesAndReturnError(pde::PDEError*) override {
    Record(session_, "restoreValues");
    load();
    restorePopUp(edge_, "QVEdgeType");
    restorePopUp(brightness_, "QVBrightness");
    restorePopUp(halftone_, "QVImageHalftone");
    glossy_->setState(value("QVGlossyMode", defaultChoice("QVGlossyMode")) == "True" ? 1 : 0);
    name_->setStringValue(value(kNameKey, ""));
    return true;
  }
  void willShow() override { Record(session_, "willShow"); }
  cf::DictionaryRef summaryInfo() override {
    Record(session_, "summaryInfo");
    load();
    auto d = cf::Dictionary::create();
    d->setValue("Edge Type", cf::str(edge_->titleOfSelectedItem()));
    d->setValue("Glossy", cf::str(glossy_->state() ? "On" : "Off"));
    d->setValue("Build", cf::str(kBuild));
    d->setValue("Panels", cf::num(gPanelsCreated));
    // "Edge Type" twice and a name without a value, as panels may list.
    d->setValue("Summary Display Order", cf::Array::create({cf::str("Edge Type"), cf::str("Glossy"),
                                                            cf::str("Edge Type"), cf::str("Build"),
                                                            cf::str("Missing")}));
    return d;
  }
  bool shouldHide() override {
    Record(session_, "shouldHide");
    return true;
  }
  bool saveValuesAndReturnError(pde::PDEError*) override {
    Record(session_, "saveValues");
    savePopUp(edge_, "QVEdgeType");
    savePopUp(brightness_, "QVBrightness");
    savePopUp(halftone_, "QVImageHalftone");
    store("QVGlossyMode", cf::str(glossy_->state() ? "True" : "False"));
    store(kNameKey, cf::str(name_->stringValue()));
    store("test.savedBy." + kBuild, cf::str(kBuild));
    return true;
  }
  bool shouldPrint() override {
    Record(session_, "shouldPrint");
    if (name_->stringValue() == "refuse") {
      ui::Alert alert;
      alert.messageText = "Test panel " + kBuild + " cannot print";
      alert.informativeText = "the name says refuse";
      alert.addButtonWithTitle("OK");
      alert.runModal();
      return false;
    }
    return true;
  }
  void PPDOptionKeyValueDidChange(const cf::StringRef&, const cf::StringRef&) override {}
  void terminate() override { Record(session_, "terminate"); }
  std::vector<std::shared_ptr<ui::View>> allViews() override { return {main_, detached_}; }

 private:
  std::string value(const std::string& key, const std::string& fallback) {
    cf::Ref v;
    if (pm::PMPrintSettingsGetValue(settings_, key, &v) == pm::noErr)
      if (auto s = cf::As<cf::String>(v)) return s->utf8();
    return fallback;
  }
  std::string defaultChoice(const char* key) {
    ppd_option_t* o = ppd_ ? ppdFindOption(ppd_, key) : nullptr;
    return o ? o->defchoice : "";
  }
  ppd_option_t* option(const char* key) { return ppd_ ? ppdFindOption(ppd_, key) : nullptr; }

  std::shared_ptr<ui::PopUpButton> popUp(const char* key, bool represented) {
    auto p = std::make_shared<ui::PopUpButton>();
    p->setIdentifier(key);
    if (ppd_option_t* o = option(key)) {
      for (int i = 0; i < o->num_choices; ++i) {
        p->addItemWithTitle(o->choices[i].text);
        if (represented) p->itemAtIndex(i)->setRepresentedObject(cf::str(o->choices[i].choice));
      }
    }
    connect(p);
    return p;
  }
  void connect(const std::shared_ptr<ui::Control>& c) {
    c->setTarget(controller_);
    c->setAction("changed:");
  }
  void restorePopUp(const std::shared_ptr<ui::PopUpButton>& p, const char* key) {
    ppd_option_t* o = option(key);
    if (!o) return;
    std::string v = value(key, o->defchoice);
    for (int i = 0; i < o->num_choices; ++i)
      if (v == o->choices[i].choice) p->selectItemAtIndex(i);
  }
  void savePopUp(const std::shared_ptr<ui::PopUpButton>& p, const char* key) {
    ppd_option_t* o = option(key);
    int i = p->indexOfSelectedItem();
    if (o && i >= 0 && i < o->num_choices)
      store(key, cf::str(o->choices[i].choice));
  }
  // The host's settings are never null and no key is empty: nothing to report.
  void store(const std::string& key, cf::Ref value) {
    (void)pm::PMPrintSettingsSetValue(settings_, key, std::move(value), false);
  }

  void load() {
    if (main_) return;
    controller_ = std::make_shared<Controller>(session_);
    main_ = std::make_shared<ui::View>();
    main_->setIdentifier("TestMainView");

    edge_ = popUp("QVEdgeType", true);
    edge_->setAutoenablesItems(false);
    if (edge_->numberOfItems() > 0) edge_->setItemEnabled(edge_->numberOfItems() - 1, false);
    main_->addSubview(edge_);

    glossy_ = std::make_shared<ui::Button>();
    glossy_->setButtonType(ui::ButtonType::Switch);
    glossy_->setIdentifier("QVGlossyMode");
    connect(glossy_);
    main_->addSubview(glossy_);

    name_ = std::make_shared<LettersField>();
    name_->setIdentifier(kNameKey);
    main_->addSubview(name_);

    auto button = std::make_shared<ui::Button>();
    button->setIdentifier("TestButton");
    main_->addSubview(button);
    auto plain = std::make_shared<ui::View>();
    plain->setIdentifier("TestPlainView");
    main_->addSubview(plain);

    auto userType = std::make_shared<ui::Matrix>();
    userType->setIdentifier("TestUserType");
    userType->addCell("public");
    userType->addCell("private");
    connect(userType);
    main_->addSubview(userType);

    auto tabs = std::make_shared<ui::TabView>();
    auto first = std::make_shared<ui::View>();
    auto second = std::make_shared<ui::View>();
    brightness_ = popUp("QVBrightness", false);
    second->addSubview(brightness_);
    tabs->addTabViewItem(ui::TabViewItem("one", "One", first));
    tabs->addTabViewItem(ui::TabViewItem("two", "Two", second));
    main_->addSubview(tabs);

    detached_ = std::make_shared<ui::View>();
    halftone_ = popUp("QVImageHalftone", false);
    detached_->addSubview(halftone_);
    auto econo = std::make_shared<ui::Button>();
    econo->setButtonType(ui::ButtonType::Switch);
    econo->setIdentifier("QVEconoMode");
    econo->setEnabled(false);
    detached_->addSubview(econo);
  }

  pde::CallbackRef callback_;
  pm::PMPrintSettings settings_ = nullptr;
  pm::PMPrintSession session_ = nullptr;
  ppd_file_t* ppd_ = nullptr;
  std::shared_ptr<Controller> controller_;
  std::shared_ptr<ui::View> main_, detached_;
  std::shared_ptr<ui::PopUpButton> edge_, brightness_, halftone_;
  std::shared_ptr<ui::Button> glossy_;
  std::shared_ptr<ui::TextField> name_;
};

class Factory : public pde::PDEFactory {
 public:
  bool initWithBundle(const bndl::BundleRef& bundle) override {
    if (!bundle_) bundle_ = bundle;
    return true;
  }
  pde::PanelList PDEPanelsForType(const cf::StringRef& type, const pde::CallbackRef& hostInfo) override {
    if (!type || type->utf8() != pde::kPrinterModuleType || !hostInfo) return std::nullopt;
    Record(hostInfo->printSession(), "PDEPanelsForType");
    std::string offer;
    cf::Ref v;
    if (pm::PMPrintSettingsGetValue(hostInfo->printSettings(), "test.offer." + kBuild, &v) == pm::noErr)
      if (auto s = cf::As<cf::String>(v)) offer = s->utf8();
    if (offer == "nil") return std::nullopt;
    std::vector<pde::PanelRef> panels;
    if (offer == "empty") return panels;
    panels.push_back(std::make_shared<TestPanel>(hostInfo));
    if (offer == "two") panels.push_back(std::make_shared<TestPanel>(hostInfo));
    return panels;
  }

 private:
  bndl::BundleRef bundle_;
};

}  // namespace r2740_test_<build>

R2740_EXPORT pde::PDEFactory* TEST_CAT(R2740TestFactory, R2740_TEST_BUILD)() {
  return new TEST_CAT(r2740_test_, R2740_TEST_BUILD)::Factory();
}
