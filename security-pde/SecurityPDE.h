// The "Security" panel: print mode with a document password, user
// authentication and section management. Values live in the panel rows and
// travel through the per-queue ticket dictionary on every refresh; names
// are stored hex-encoded and passwords encrypted.
#pragma once

#include <cups/ppd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PDEControlData.h"
#include "PDECore.h"
#include "PPDUIConstraints.h"
#include "SecurityBuild.h"
#include "bundle/bundle.h"
#include "printing/pde.h"
#include "ui/nib.h"
#include "ui/ui.h"

namespace R2740_SECURITY_NS {

// Identifiers of the controls that constraints act on.
enum : int16_t {
  kPrintModeControlID = 400,
  kAuthenticationControlID = 401,
  kSectionManagementControlID = 402,
  kPrintModeLabelControlID = 450,
};
inline constexpr uint32_t kNoEncryption = 0xFFFFFFFFu;

// The PPD keywords the constraint engine watches for this panel.
const PPDKeyTableRecord* SetupPPDKeyTableSecurity();
inline constexpr int32_t kSecurityKeyTableCount = 3;

// The classes the panel's interface file may name.
const ui::NibClassRegistry& SecurityNibClasses();

class SecurityUtil {
 public:
  static void showAlert(const std::string& message);
  // The alert text for a missing entry: with loadTiming "EmptyStringAlert"
  // (item, action, item), else "EmptyStringAlertOnChange" (action, item).
  static cf::StringRef SecurityEmptyAlert(const char* bundleID, const char* actionKey, const char* itemKey,
                                          bool loadTiming);
  static cf::StringRef BoxNumberZeroValueAlert(int32_t value);
};

// Substitutes "%@" and "%n$@" with the arguments; "%%" is a percent sign.
// Anything else is copied as it is, so a translated format can never read
// arguments that are not there.
std::string FormatWithObjects(const std::string& format, const std::vector<std::string>& args);

// Ticket text routines over the per-queue dictionary.
void SaveEditText(const cf::DictionaryRef& dict, const cf::StringRef& key, const cf::StringRef& value);
void SaveEditTextNumber(const cf::DictionaryRef& dict, const cf::StringRef& key, const cf::StringRef& value);
void SaveEditTextPassword(const cf::DictionaryRef& dict, const cf::StringRef& key, uint32_t keyID, uint32_t subID,
                          const cf::StringRef& value);
cf::StringRef LoadEditText(const cf::DictionaryRef& dict, const cf::StringRef& key);
cf::StringRef LoadEditTextNumber(const cf::DictionaryRef& dict, const cf::StringRef& key);
cf::StringRef LoadEditTextPassword(const cf::DictionaryRef& dict, const cf::StringRef& key, uint32_t keyID,
                                   uint32_t subID);
bool IsEmptyEditText(const ui::Control* control);
bool IsZeroEditText(const ui::Control* control);
long GetLengthEditText(const ui::Control* control);

class SecurityPDE : public ui::NibObject, public pde::PDEPanel {
 public:
  SecurityPDE();
  ~SecurityPDE() override;
  // Owns its tables and frees them in the destructor.
  SecurityPDE(const SecurityPDE&) = delete;
  SecurityPDE& operator=(const SecurityPDE&) = delete;
  std::string className() const override { return "SecurityPDE"; }

  // False (and the panel must be dropped) without a PPD or a table.
  bool initWithCallback(const pde::CallbackRef& callback, const bndl::BundleRef& bundle);

  // ---- panel protocol ----
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

  // ---- panel work ----
  void ControlTable();
  void updateUI();
  void updatePaperSize();
  void UpdateCST();
  bool SecurityErrorCheck(bool atPrint);
  void SecurityEnableControls();
  void summarySupport(int rowIndex, const cf::DictionaryRef& dict, const cf::ArrayRef& order);
  void SecurityAction(ui::NibObject* sender);
  void getPPDSettingsFromPrintSettings();
  void writePPDSettingsToPrintSettings();

  // For tests and hosts.
  SecurityRow* securityTable() const { return SecurityTable; }
  PDEControlDataTblRef controlDataTable() const { return mCTLtableRef; }
  QVSession* session() { return mQVSession; }

 private:
  bool loadNib();
  cf::StringRef localized(const std::string& key) const;
  int rowIndexForKeyword(const char* keyword) const;
  void unbindFields();
  // The host saves the panels on the way to shouldPrint.
  bool savingForPrint() const;
  // A save-time rule's choice for a PPD option of the table.
  void switchTo(int rowIndex, const char* keyword, const cf::StringRef& choice);

  pde::CallbackRef pdePluginCallbackObject;
  cf::StringRef thePDEName;
  ppd_file_t* ppd = nullptr;
  bndl::BundleRef pluginBundle;
  SecurityRow* SecurityTable = nullptr;
  std::shared_ptr<ui::View> pdeView;
  std::shared_ptr<ui::PopUpButton> waitModePopUp;
  std::shared_ptr<ui::Button> userAuthenticationCheckBox;
  std::shared_ptr<ui::Button> sectionManagementCheckBox;
  std::shared_ptr<ui::Matrix> userRadioButton;
  std::shared_ptr<ui::TextField> securePasswordEditText;
  std::shared_ptr<ui::TextField> userNameEditText;
  std::shared_ptr<ui::TextField> userPasswordEditText;
  std::shared_ptr<ui::TextField> sectionNameEditText;
  std::shared_ptr<ui::TextField> sectionPasswordEditText;
  std::shared_ptr<ui::TextField> waitModeStaticText;
  std::shared_ptr<ui::TextField> secureTitleStaticText;
  std::shared_ptr<ui::TextField> securePasswordStaticText;
  std::shared_ptr<ui::TextField> userNameStaticText;
  std::shared_ptr<ui::TextField> userPasswordStaticText;
  std::shared_ptr<ui::TextField> sectionNameStaticText;
  std::shared_ptr<ui::TextField> sectionPasswordStaticText;
  PDEControlDataTblRef mCTLtableRef = nullptr;
  CoreContext mCoreContext;
  QVSession mSession;
  QVSession* mQVSession = nullptr;
  ppd_const_t* mPPDCstTable = nullptr;
  int32_t mPPDCstTableCount = 0;

  std::vector<ui::NibObjectRef> nibObjects_;  // keeps the file's objects alive
  bool observing_ = false;
};

class SecurityPDEPlugIn : public pde::PDEFactory {
 public:
  bool initWithBundle(const bndl::BundleRef& bundle) override;
  pde::PanelList PDEPanelsForType(const cf::StringRef& type, const pde::CallbackRef& hostInfo) override;

 private:
  bndl::BundleRef Bundle;
};

}  // namespace R2740_SECURITY_NS
