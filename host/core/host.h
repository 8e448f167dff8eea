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
#include "ui/ui.h"

namespace host {

// ---- queues ------------------------------------------------------------
struct Queue {
  std::string id;         // the printer identifier panels see (PMPrinterGetID)
  std::string name;       // CUPS destination name, empty for a queue given by hand
  std::string ppdPath;    // local PPD file (CupsQueues leaves it empty)
  std::string deviceURI;  // "device-uri"
  bool temporaryPPD = false;  // ppdPath is a fetched copy the caller removes
};

// A queue given by hand: nothing is asked of cupsd.
Queue ManualQueue(const std::string& ppdPath, const std::string& id, const std::string& deviceURI);
// Destinations of the cupsd that answers (cupsGetDests2 and friends); empty
// with a reason in *error when none answers. The PPDs are not fetched.
std::vector<Queue> CupsQueues(std::string* error);
// One destination by name with its PPD fetched (cupsGetPPD3, a temporary
// file: temporaryPPD is set) and its "device-uri" (the destination's option,
// else Get-Printer-Attributes); nullopt with a reason when unknown or
// unreachable.
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
// A bundle's Contents/Info.plist names, as strings:
//   "R2740PDELibrary"       the shared library's file name inside
//                           Contents/lib (a plain name, no folders); when
//                           absent, the one "*.so" file there is used
//   "R2740PDEFactoryEntry"  the exported entry point (pde::kFactoryEntryKey)
inline constexpr const char* kLibraryKey = "R2740PDELibrary";

// A loaded plug-in bundle: dlopen'ed with local symbols; the factory comes
// from the entry point its Info.plist names. The library is never unloaded
// (panels may leave observers and static objects behind); the factory goes
// with this object, so panels must go first.
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
// format, and the PPD. The session's current printer is the queue's; its
// data holds "kPMPPDReference" (the ppd_file_t* as the bytes of a Data).
// The page format's paper is the PPD's default PageSize (id and name: the
// choice keyword, size from ppdPageSize), portrait; the print settings
// name the same paper under pm::kPMDestinationPaperNameKey.
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
  // Whether the panels are shown. A session that shows none (r2740-filter's,
  // at the print server, where nobody looks) never asks a panel for its view
  // in open() nor sends willShow: the colour panel refreshes the user's
  // profile file from the printer (the walk and the backup, through
  // R2740Helper) when its view is asked for, as a dialog asks to show it.
  // setControl then reaches controls through PDEPanel::allViews() only.
  enum class Views { kShown, kNone };
  DialogSession(std::shared_ptr<HostCallback> callback, std::vector<PlugInRef> plugins, Views views = Views::kShown);
  ~DialogSession();  // terminates and releases panels before the plug-ins

  // Optional starting settings (a print-settings dictionary).
  void loadSettings(const cf::DictionaryRef& dict);
  // Asks every factory for panels and opens them. False with a reason when
  // no panel at all was offered.
  [[nodiscard]] bool open(std::string* error);

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
  //
  // Where controls are looked for, per panel: panelView() and its subviews,
  // the views of every TabView item met on the way, and every view of
  // PDEPanel::allViews(). A panel that takes a pane out of its view tree
  // while hidden keeps it reachable through one of these.
  // Pop-ups: the item whose represented object is the string `value`, else
  // the item titled `value`, else, when `key` is a PPD main keyword, the
  // item at the index of that PPD choice (menus list the PPD's choices in
  // PPD order). Radio matrices: a cell title or a 0-based row number. A
  // checkbox already in the wanted state is left alone. Text fields: begin
  // editing, select all, type, end editing; a field that ends up with other
  // text than typed (its filters refused) reports it. A value
  // "profile:FILE@disk|card" picks a stored profile (ChooseProfile below).
  [[nodiscard]] bool setControl(const std::string& key, const std::string& value, std::string* error);
  // Whether a control of that identifier is there to be set: found,
  // enabled and not hidden (what setControl checks first).
  bool controlAvailable(const std::string& key);

  // Each panel's summaryInfo: rows in the order of its "Summary Display
  // Order" array (a name listed twice shows once, at its first place), then
  // any other items of the dictionary in key order.
  std::vector<PanelSummary> summaries();
  // shouldHide + saveValuesAndReturnError on every panel. A panel that will
  // not hide is not saved; the others still are, and the first refusal or
  // failure is the reason. No panels is no failure.
  [[nodiscard]] bool save(std::string* error);
  // save (with pde::kSavingForPrintKey set in the session meanwhile), then
  // shouldPrint on every panel; false with the refusing panel's name when
  // any answers NO.
  [[nodiscard]] bool print(std::string* error);

  cf::DictionaryRef settingsDictionary() const;
  HostCallback& callback() { return *callback_; }

 private:
  std::shared_ptr<HostCallback> callback_;
  std::vector<PlugInRef> plugins_;
  // The control of that identifier (a view of that identifier that is no
  // control goes to *plainView when given).
  std::shared_ptr<ui::Control> findControl(const std::string& key, std::shared_ptr<ui::View>* plainView);
  std::vector<Panel> panels_;
  Views views_;
};

// ---- stored profiles in the colour panels' profile menus -------------------
// "profile:FILE@disk" / "profile:FILE@card": a setControl value that picks
// the stored profile FILE in a profile menu, as a user picks its item.
inline constexpr const char* kProfilePrefix = "profile:";
struct ProfileChoice {
  std::string fileName;
  int location = 0;   // 4 disk, 5 card
  std::string where;  // "disk" / "card"
};
// nullopt when the value is not "profile:FILE@disk|card".
std::optional<ProfileChoice> ParseProfileChoice(const std::string& value);
// The value that picks FILE at `location` (4 disk, 5 card).
std::string ProfileChoiceValue(const std::string& fileName, int location);
// A colour panel's model ("jp.orvessa.pde.<model>.qvco"); empty for other panels.
std::string ColourPanelModel(const DialogSession::Panel& p);
// Picks the profile in the menu KEY of every colour panel whose menu offers
// it (the item names FILE and the location itself); false with a one-line
// reason (a profile the menu does not offer, no such menu) when none took it.
[[nodiscard]] bool ChooseProfile(DialogSession& session, const std::string& key, const std::string& value,
                                 std::string* error);
// Every stored profile a colour panel's profile menu offers, per menu (a
// PPD option, in PPD order) and in menu order, each once: the item's
// title and the entry its item carries.
struct ProfileItem {
  std::string option, title, fileName;
  int location = 0;  // 4 disk, 5 card
};
std::vector<ProfileItem> ProfileItems(DialogSession& session);
// The lines the panels left for the user (pde::kNoticesKey, such as a
// profile file that could not be read and was kept aside), each once: they
// are removed from the session.
std::vector<std::string> TakeNotices(DialogSession& session);

// Every top-level string entry of the settings whose key is a main keyword
// of the PPD or begins with "jp.orvessa.printers.R2740", or is one of the
// general options that are no PPD keyword or the lp options passed on from
// the user's defaults (general.h): the job's options. Never a typed
// option (pm::kTypedOptions), whatever the settings hold.
// The profile entries of a main keyword K ("KCustom", "KCustomFilename")
// go with it, since the driver needs them to print the chosen profile.
// Collation is always there, as multiple-document-handling and collate
// (collated unless the settings say otherwise).
std::vector<std::pair<std::string, std::string>> JobOptions(const cf::DictionaryRef& settings, ppd_file_t* ppd);

}  // namespace host
