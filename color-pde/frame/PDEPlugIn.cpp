#include "PDEPlugIn.h"

#include "AdvancedColorOptions.h"
#include "ColorOptions.h"
#include "ColorPresetRules.h"
#include "ColorTextField.h"
#include "IconedCell.h"
#include "MainView.h"
#include "PDECommon.h"
#include "PainChangeController.h"
#include "ProfileControl.h"
#include "QVPList.h"

namespace R2740_COLOR_NS {

// ---- factory ----------------------------------------------------------------

bool PDEPlugIn::initWithBundle(const bndl::BundleRef& bundle) {
  if (!PDECommon::commonGetPlugInBundle()) PDECommon::commonSetPlugInBundle(bundle);
  return true;
}

pde::PanelList PDEPlugIn::PDEPanelsForType(const cf::StringRef& type, const pde::CallbackRef& hostInfo) {
  if (!type || type->utf8() != pde::kPrinterModuleType) return std::nullopt;
  auto panel = PDEPlugInInterface::initWithCallback(hostInfo);
  if (!panel) return std::nullopt;
  return std::vector<pde::PanelRef>{panel};
}

// ---- panel --------------------------------------------------------------------

PDEPlugInInterface::PDEPlugInInterface() {
  outlet("pdeMainView", &pdeMainView);
  outlet("onColorView", &onColorView);
  outlet("onAdvancedView", &onAdvancedView);
  outlet("profileControl", &profileControl);
  outlet("painChange", &painChange);
  action("selectItem:", [this](ui::NibObject* sender) { selectItem(sender); });
  action("constraints:", [this](ui::NibObject* sender) { constraints(sender); });
}

PDEPlugInInterface::~PDEPlugInInterface() {
  if (painChange) painChange->deallocPDEControlTableEachView();
  FreeControlTable(compTable);
}

std::shared_ptr<PDEPlugInInterface> PDEPlugInInterface::initWithCallback(const pde::CallbackRef& callback) {
  auto panel = std::make_shared<PDEPlugInInterface>();
  panel->pdePluginCallbackObject = callback;
  if (callback) {
    panel->setting = callback->printSettings();
    panel->session = callback->printSession();
  }
  return panel;
}

const ui::NibClassRegistry& PDEPlugInInterface::classRegistry() {
  static const ui::NibClassRegistry registry = [] {
    ui::NibClassRegistry r;
    r.registerClass<ColorOptions>("ColorOptions");
    r.registerClass<AdvancedColorOptions>("AdvancedColorOptions");
    r.registerClass<PainChangeController>("PainChangeController");
    r.registerClass<MainView>("MainView");
    r.registerClass<ProfileControl>("ProfileControl");
    r.registerClass<QVTextField>("QVTextField");
    r.registerClass<IconedCell>("IconedCell");
    return r;
  }();
  return registry;
}

void PDEPlugInInterface::myLoad() {
  if (pdeMainView) return;
  auto bundle = PDECommon::commonGetPlugInBundle();
  if (!bundle) return;
  ui::NibLoadResult loaded = ui::LoadNibNamed(*bundle, "PDEMain", shared_from_this(), classRegistry());
  if (!loaded.ok || !pdeMainView) return;
  topLevelObjects_ = std::move(loaded.topLevelObjects);

  ppd = pdePluginCallbackObject ? pdePluginCallbackObject->ppdFile() : nullptr;
  if (painChange) {
    painChange->setPMPrintEachView(setting, session);
    painChange->setPPDFileEachView(ppd);
    painChange->creatPDEControlTableEachView();
    PDEControlTable tables[5] = {};
    int16_t count = painChange->getControlDataEachView(tables, 5);
    FreeControlTable(compTable);
    compTable = PDECommon::commonControlTableCompound(tables, count);
  }
  if (profileControl) {
    profileControl->setPMPrint(setting, session);
    profileControl->setConstTable(compTable);
  }
  if (painChange) painChange->createPDEItemForPPDKeyEachView();
}

cf::StringRef PDEPlugInInterface::panelName() {
  static const char* const kName = "Color Options";
  auto bundle = PDECommon::commonGetPlugInBundle();
  if (bundle) {
    if (auto localized = bundle->localizedString(kName)) return cf::str(*localized);
  }
  return cf::str(kName);
}

cf::StringRef PDEPlugInInterface::panelKind() { return cf::str(R2740_PANEL_KIND); }

cf::ArrayRef PDEPlugInInterface::supportedPPDOptionKeys() {
  myLoad();
  auto keys = cf::Array::create();
  if (painChange) painChange->addPPDArrayEachView(keys);
  return keys;
}

std::shared_ptr<ui::View> PDEPlugInInterface::panelView() {
  myLoad();
  if (QVPListIsAdminProfile()) PDECommon::commonGetProfilesFromMIB(session);
  return pdeMainView;
}

bool PDEPlugInInterface::restoreValuesAndReturnError(pde::PDEError*) {
  myLoad();
  if (onColorView && onAdvancedView && painChange) painChange->defaultFromPPDInfoEachView();
  if (setting && session && painChange) painChange->getControlValueFromTickettEachView();
  if (pdeMainView) vColorPresetConstraints(compTable);
  return true;
}

void PDEPlugInInterface::willShow() {
  if (painChange) painChange->ShowAdvancedToColorView();
}

cf::DictionaryRef PDEPlugInInterface::summaryInfo() {
  myLoad();
  auto order = cf::Array::create();
  auto summary = cf::Dictionary::create();
  if (onColorView && onAdvancedView && painChange) painChange->getSummaryTextEachView(summary, order);
  summary->setValue("Summary Display Order", order);
  return summary;
}

bool PDEPlugInInterface::shouldHide() { return true; }

bool PDEPlugInInterface::saveValuesAndReturnError(pde::PDEError*) {
  if (onColorView && onAdvancedView && setting && session && painChange) painChange->setControlValueToTicketEachView();
  return true;
}

bool PDEPlugInInterface::shouldPrint() {
  if (painChange) painChange->changeAdvancedItemAccodingQuickColor();
  if (onAdvancedView) onAdvancedView->setControlValueToTicket();
  return true;
}

void PDEPlugInInterface::PPDOptionKeyValueDidChange(const cf::StringRef&, const cf::StringRef&) {}

void PDEPlugInInterface::terminate() { pdePluginCallbackObject = nullptr; }

std::vector<std::shared_ptr<ui::View>> PDEPlugInInterface::allViews() {
  myLoad();
  std::vector<std::shared_ptr<ui::View>> views;
  if (pdeMainView) views.push_back(pdeMainView);
  if (onColorView) views.push_back(onColorView);
  if (onAdvancedView) views.push_back(onAdvancedView);
  return views;
}

void PDEPlugInInterface::selectItem(ui::NibObject*) {
  if (onColorView) vColorPresetConstraints(onColorView->getControlData());
}

void PDEPlugInInterface::constraints(ui::NibObject*) { vColorPresetConstraints(compTable); }

}  // namespace R2740_COLOR_NS

R2740_EXPORT pde::PDEFactory* R2740_COLOR_FACTORY_ENTRY() { return new R2740_COLOR_NS::PDEPlugIn; }
