// The print-dialog-extension protocol: what a plug-in bundle's factory and
// panels answer, and the host's callback object they are handed.
#pragma once

#include <cups/ppd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "cf/cf.h"
#include "printing/printing.h"
#include "ui/view.h"

namespace pde {

// The printer-module panel type.
inline constexpr const char* kPrinterModuleType = "BDB091F4-E57F-11D3-B5CC-0050E4603277";
// Another type the print system asks for (the general print-dialog panels).
inline constexpr const char* kGeneralPanelType = "6E6ED964-B738-11D3-952F-0050E4603277";

// Session data (PMSessionGetDataFromSession) that is a true Boolean while
// the host saves the panels on the way to shouldPrint. A panel that would
// change the user's choice when a plain save meets a missing entry leaves
// the refusal to shouldPrint then, so a refused print changes nothing.
inline constexpr const char* kSavingForPrintKey = "PDESavingForPrint";
// Session data: an array of one-line strings that a panel leaves for the
// user; the host shows each once (status line, standard error in batch
// runs) and removes them.
inline constexpr const char* kNoticesKey = "PDENotices";

// The host's callback object; borrowed handles, owned by the host.
class PDEPluginCallback {
 public:
  virtual ~PDEPluginCallback() = default;
  virtual pm::PMPrintSettings printSettings() = 0;
  virtual pm::PMPrintSession printSession() = 0;
  virtual pm::PMPageFormat pageFormat() = 0;
  virtual ppd_file_t* ppdFile() = 0;
};
using CallbackRef = std::shared_ptr<PDEPluginCallback>;

// Error out-argument of restore/save; the panels never fill it.
struct PDEError {
  int code = 0;
  std::string message;
};

class PDEPanel {
 public:
  virtual ~PDEPanel() = default;
  virtual cf::StringRef panelName() = 0;
  virtual cf::StringRef panelKind() = 0;
  virtual cf::ArrayRef supportedPPDOptionKeys() = 0;
  virtual std::shared_ptr<ui::View> panelView() = 0;
  [[nodiscard]] virtual bool restoreValuesAndReturnError(PDEError* error) = 0;
  virtual void willShow() = 0;
  virtual cf::DictionaryRef summaryInfo() = 0;
  virtual bool shouldHide() = 0;
  [[nodiscard]] virtual bool saveValuesAndReturnError(PDEError* error) = 0;
  virtual bool shouldPrint() = 0;
  virtual void PPDOptionKeyValueDidChange(const cf::StringRef& option, const cf::StringRef& choice) = 0;
  // Called by the host before it lets the panel go.
  virtual void terminate() {}
  // Every view the panel keeps, including panes detached from the view tree
  // while hidden, so that a host can find any control by its identifier.
  // Panels that detach panes answer them here as well.
  virtual std::vector<std::shared_ptr<ui::View>> allViews() { return {panelView()}; }
};
using PanelRef = std::shared_ptr<PDEPanel>;
// nullopt stands for nil; an empty vector for an empty array.
using PanelList = std::optional<std::vector<PanelRef>>;

class PDEFactory {
 public:
  virtual ~PDEFactory() = default;
  [[nodiscard]] virtual bool initWithBundle(const bndl::BundleRef& bundle) = 0;
  virtual PanelList PDEPanelsForType(const cf::StringRef& type, const CallbackRef& hostInfo) = 0;
};

// Info.plist key naming the bundle's exported entry point, a function
// `extern "C" pde::PDEFactory* NAME()` returning a factory the host owns.
inline constexpr const char* kFactoryEntryKey = "R2740PDEFactoryEntry";
using FactoryEntry = PDEFactory* (*)();

}  // namespace pde

// Marks the one symbol a bundle exports.
#define R2740_EXPORT extern "C" __attribute__((visibility("default")))
