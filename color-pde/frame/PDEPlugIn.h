// The colour plug-in's factory and its one panel, "Color Options".
#pragma once

#include <cups/ppd.h>

#include <memory>
#include <vector>

#include "BuildSuffix.h"
#include "PDEControlTable.h"
#include "printing/pde.h"
#include "ui/nib.h"
#include "ui/ui.h"

namespace R2740_COLOR_NS {

class ColorOptions;
class AdvancedColorOptions;
class ProfileControl;
class MainView;
class PainChangeController;

class PDEPlugIn : public pde::PDEFactory {
 public:
  // Keeps the first bundle it is given for the life of the process.
  bool initWithBundle(const bndl::BundleRef& bundle) override;
  // One panel for the printer-module type; nil for every other type.
  pde::PanelList PDEPanelsForType(const cf::StringRef& type, const pde::CallbackRef& hostInfo) override;
};

class PDEPlugInInterface : public pde::PDEPanel, public ui::NibObject {
 public:
  PDEPlugInInterface();
  ~PDEPlugInInterface() override;
  std::string className() const override { return "PDEPlugInInterface"; }

  static std::shared_ptr<PDEPlugInInterface> initWithCallback(const pde::CallbackRef& callback);

  cf::StringRef panelName() override;
  cf::StringRef panelKind() override;
  cf::ArrayRef supportedPPDOptionKeys() override;
  std::shared_ptr<ui::View> panelView() override;
  bool restoreValuesAndReturnError(pde::PDEError* error) override;
  void willShow() override;
  cf::DictionaryRef summaryInfo() override;
  bool shouldHide() override;
  bool saveValuesAndReturnError(pde::PDEError* error) override;
  bool shouldPrint() override;
  void PPDOptionKeyValueDidChange(const cf::StringRef& option, const cf::StringRef& choice) override;
  void terminate() override;
  // The main view and both panes, the hidden one included.
  std::vector<std::shared_ptr<ui::View>> allViews() override;

  // Actions of the panes' controls.
  void selectItem(ui::NibObject* sender);
  void constraints(ui::NibObject* sender);

  // The classes this build's interface file may name.
  static const ui::NibClassRegistry& classRegistry();

  // State, as the interface file and the tests see it.
  pde::CallbackRef pdePluginCallbackObject;
  PDEControlTable compTable = nullptr;
  pm::PMPrintSettings setting = nullptr;
  pm::PMPrintSession session = nullptr;
  std::shared_ptr<ColorOptions> onColorView;
  std::shared_ptr<AdvancedColorOptions> onAdvancedView;
  std::shared_ptr<ProfileControl> profileControl;
  std::shared_ptr<MainView> pdeMainView;
  std::shared_ptr<PainChangeController> painChange;
  ppd_file_t* ppd = nullptr;

 private:
  void myLoad();
  std::vector<ui::NibObjectRef> topLevelObjects_;
};

}  // namespace R2740_COLOR_NS
