// The print dialog host's core: queues, PPDs, plug-in bundles, the callback
// object, and one dialog session driven in the print system's order.
#pragma once

#include <cups/ppd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "cf/cf.h"
#include "printing/pde.h"
#include "printing/printing.h"

namespace host {

// ---- queues ------------------------------------------------------------
struct Queue {
  std::string id;         // the printer identifier panels see (PMPrinterGetID)
  std::string name;       // CUPS destination name, empty for a queue given by hand
  std::string ppdPath;    // local PPD file
  std::string deviceURI;  // "device-uri"
};

// A queue given by hand: nothing is asked of cupsd.
Queue ManualQueue(const std::string& ppdPath, const std::string& id, const std::string& deviceURI);
// Destinations of the cupsd that answers (cupsGetDests2 and friends); empty
// with a reason in *error when none answers.
std::vector<Queue> CupsQueues(std::string* error);
// One destination by name with its PPD fetched (cupsGetPPD2) and its
// "device-uri"; nullopt with a reason when unknown or unreachable.
std::optional<Queue> CupsQueue(const std::string& name, std::string* error);

// ---- PPD ---------------------------------------------------------------
// An opened PPD (ppdOpenFile) with its defaults marked (ppdMarkDefaults).
class PPDFile {
 public:
  static std::unique_ptr<PPDFile> open(const std::string& path, std::string* error);
  ~PPDFile();
  ppd_file_t* get() const { return ppd_; }
  // Paths of the bundles its "*APDialogExtension" lines name, resolved
  // under the install root, in file order.
  std::vector<std::string> dialogExtensions() const;

 private:
  explicit PPDFile(ppd_file_t* p) : ppd_(p) {}
  ppd_file_t* ppd_;
};

// ---- bundles -----------------------------------------------------------
// A loaded plug-in bundle: dlopen'ed with local symbols; the factory comes
// from the entry point its Info.plist names. The library stays loaded as
// long as this object lives (panels must go first).
class PlugIn {
 public:
  ~PlugIn();
  const bndl::BundleRef& bundle() const { return bundle_; }
  pde::PDEFactory* factory() const { return factory_.get(); }
  const std::string& path() const { return path_; }

 private:
  friend std::shared_ptr<PlugIn> LoadPlugIn(const std::string&, std::string*);
  PlugIn() = default;
  std::string path_;
  bndl::BundleRef bundle_;
  void* handle_ = nullptr;
  std::unique_ptr<pde::PDEFactory> factory_;
};
using PlugInRef = std::shared_ptr<PlugIn>;

// Null with a reason for a bundle that is missing, malformed or lacks its
// entry point. initWithBundle has been sent on success.
PlugInRef LoadPlugIn(const std::string& bundlePath, std::string* error);
// Every "*.plugin" of a folder, in name order; failures are reported in
// *errors (one line each) and skipped.
std::vector<PlugInRef> LoadPlugInFolder(const std::string& folder, std::vector<std::string>* errors);

// ---- the callback object ------------------------------------------------
// Owns what the print system owns: print settings, session, printer, page
// format, and the PPD.
class HostCallback : public pde::PDEPluginCallback {
 public:
  HostCallback(const Queue& queue, std::unique_ptr<PPDFile> ppd);
  pm::PMPrintSettings printSettings() override { return &settings_; }
  pm::PMPrintSession printSession() override { return &session_; }
  pm::PMPageFormat pageFormat() override { return &pageFormat_; }
  ppd_file_t* ppdFile() override { return ppd_ ? ppd_->get() : nullptr; }

  pm::PrintSettings& settings() { return settings_; }
  pm::PrintSession& session() { return session_; }
  pm::PageFormat& pageFormatObject() { return pageFormat_; }
  pm::Printer& printer() { return printer_; }
  // Replaces the queue's printer (identifier, URI) the session points at.
  void setPrinter(const std::string& id, const std::string& deviceURI);

 private:
  std::unique_ptr<PPDFile> ppd_;
  pm::PrintSettings settings_;
  pm::Printer printer_;
  pm::PrintSession session_;
  pm::PageFormat pageFormat_;
};

// ---- one dialog session ---------------------------------------------------
struct PanelSummary {
  std::string panelName;
  std::vector<std::pair<std::string, std::string>> rows;  // in display order
};

// Drives factory and panels in the print system's order:
// PDEPanelsForType (printer-module type) -> panelName, panelKind,
// supportedPPDOptionKeys -> restoreValues -> panelView -> willShow ->
// summaryInfo; save = shouldHide + saveValues; print = save + shouldPrint of
// every panel.
class DialogSession {
 public:
  DialogSession(std::shared_ptr<HostCallback> callback, std::vector<PlugInRef> plugins);
  ~DialogSession();  // terminates and releases panels before the plug-ins

  // Optional starting settings (a print-settings dictionary).
  void loadSettings(const cf::DictionaryRef& dict);
  // Asks every factory for panels and opens them. False with a reason when
  // no panel at all was offered.
  bool open(std::string* error);

  struct Panel {
    PlugInRef plugin;
    pde::PanelRef panel;
    std::string name, kind;
    std::vector<std::string> keys;  // supportedPPDOptionKeys
    std::shared_ptr<ui::View> view;
  };
  std::vector<Panel>& panels() { return panels_; }

  // Sets a control the way a user would: finds the view whose identifier is
  // `key` in every panel's view tree, including hidden panes; a pop-up takes
  // a choice keyword (represented object) or an item title, a checkbox
  // "True"/"False", a text field the typed text; the control's action is
  // sent. False with a one-line reason (unknown key, value not accepted,
  // control disabled).
  bool setControl(const std::string& key, const std::string& value, std::string* error);

  std::vector<PanelSummary> summaries();
  // shouldHide + saveValuesAndReturnError on every panel.
  bool save(std::string* error);
  // save, then shouldPrint on every panel; false with the refusing panel's
  // name when any answers NO.
  bool print(std::string* error);

  cf::DictionaryRef settingsDictionary() const;
  HostCallback& callback() { return *callback_; }

 private:
  std::shared_ptr<HostCallback> callback_;
  std::vector<PlugInRef> plugins_;
  std::vector<Panel> panels_;
};

// Every top-level string entry of the settings whose key is a main keyword
// of the PPD or begins with "jp.orvessa.printers.R2740": the job's options.
std::vector<std::pair<std::string, std::string>> JobOptions(const cf::DictionaryRef& settings, ppd_file_t* ppd);

}  // namespace host
