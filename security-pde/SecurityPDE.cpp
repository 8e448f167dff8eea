#include "SecurityPDE.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "EditInfo.h"
#include "QVCrypto.h"
#include "QVPrintSettings.h"
#include "QVTextField.h"
#include "SecurityKeys.h"
#include "system/system.h"

namespace R2740_SECURITY_NS {

namespace {

constexpr const char* kSummaryOrderKey = "Summary Display Order";
constexpr int kSecurityTableRows = 17;  // with the end mark

const int32_t kPrintModeRelatedIDs[] = {kPrintModeLabelControlID, -1};
const PPDRelatedControls kPrintModeRelated = {1, kPrintModeRelatedIDs};

const PPDKeyTableRecord kSecurityKeyTable[] = {
    {"PrintModeR2740", kPrintModeControlID, &kPrintModeRelated},
    {"QVAuthenticationR2740", kAuthenticationControlID, nullptr},
    {"QVSectionManagementR2740", kSectionManagementControlID, nullptr},
    {"", 0, nullptr},
};

bool IsSecureField(const ui::Control* control) { return dynamic_cast<const ui::SecureTextField*>(control) != nullptr; }

cf::StringRef Copy(const cf::StringRef& s) { return s ? cf::str(s->utf8()) : nullptr; }

}  // namespace

const PPDKeyTableRecord* SetupPPDKeyTableSecurity() { return kSecurityKeyTable; }

const ui::NibClassRegistry& SecurityNibClasses() {
  static const ui::NibClassRegistry registry = [] {
    ui::NibClassRegistry r;
    r.registerClass<QVTextField>("QVTextField");
    r.registerClass<QVSecureTextField>("QVSecureTextField");
    return r;
  }();
  return registry;
}

// ---- alerts --------------------------------------------------------------

std::string FormatWithObjects(const std::string& format, const std::vector<std::string>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    if (format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    if (format[i + 1] == '@') {
      if (next < args.size()) out += args[next];
      ++next;
      ++i;
      continue;
    }
    // Positional "%n$@".
    size_t j = i + 1;
    size_t position = 0;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9' && position < 1000) {
      position = position * 10 + static_cast<size_t>(format[j] - '0');
      ++j;
    }
    if (j + 1 < format.size() && j > i + 1 && format[j] == '$' && format[j + 1] == '@' && position >= 1) {
      if (position <= args.size()) out += args[position - 1];
      i = j + 1;
      continue;
    }
    out += c;
  }
  return out;
}

void SecurityUtil::showAlert(const std::string& message) {
  ui::Alert alert;
  alert.messageText = message;
  alert.informativeText = "";
  alert.addButtonWithTitle("OK");
  alert.runModal();
}

cf::StringRef SecurityUtil::SecurityEmptyAlert(const char* bundleID, const char* actionKey, const char* itemKey,
                                               bool loadTiming) {
  bndl::BundleRef bundle = BundleWithIdentifier(bundleID);
  if (!bundle || !actionKey || !itemKey) return nullptr;
  std::string item = bundle->localizedString(itemKey).value_or(itemKey);
  std::string action = bundle->localizedString(actionKey).value_or(actionKey);
  if (loadTiming) {
    std::optional<std::string> format = bundle->localizedString("EmptyStringAlert");
    if (!format) return nullptr;
    return cf::str(FormatWithObjects(*format, {item, action, item}));
  }
  std::optional<std::string> format = bundle->localizedString("EmptyStringAlertOnChange");
  if (!format) return nullptr;
  return cf::str(FormatWithObjects(*format, {action, item}));
}

cf::StringRef SecurityUtil::BoxNumberZeroValueAlert(int32_t /*value*/) { return nullptr; }

// ---- ticket text routines ------------------------------------------------

namespace {
cf::StringRef TextOf(const cf::StringRef& value) { return value ? cf::String::createWithFormat("%s", value->utf8().c_str()) : nullptr; }
}  // namespace

void SaveEditText(const cf::DictionaryRef& dict, const cf::StringRef& key, const cf::StringRef& value) {
  cf::StringRef text = TextOf(value);
  if (!dict || !key || CFStringIsEmpty(text)) return;
  if (cf::StringRef encoded = QVCFStringEncode(text)) dict->setValue(key->utf8(), encoded);
}

void SaveEditTextNumber(const cf::DictionaryRef& dict, const cf::StringRef& key, const cf::StringRef& value) {
  SaveEditText(dict, key, value);
}

void SaveEditTextPassword(const cf::DictionaryRef& dict, const cf::StringRef& key, uint32_t keyID, uint32_t subID,
                          const cf::StringRef& value) {
  cf::StringRef text = TextOf(value);
  if (!dict || !key || CFStringIsEmpty(text)) return;
  cf::StringRef encoded = keyID < kNoEncryption && subID < kNoEncryption
                              ? QVCFStringEncodeWithEncrypt(text, keyID, subID)
                              : QVCFStringEncode(text);
  if (encoded) dict->setValue(key->utf8(), encoded);
}

cf::StringRef LoadEditText(const cf::DictionaryRef& dict, const cf::StringRef& key) {
  if (!dict || !key) return nullptr;
  auto v = dict->get<cf::String>(key->utf8());
  return v ? QVCFStringDecode(v) : nullptr;
}

cf::StringRef LoadEditTextNumber(const cf::DictionaryRef& dict, const cf::StringRef& key) {
  return LoadEditText(dict, key);
}

cf::StringRef LoadEditTextPassword(const cf::DictionaryRef& dict, const cf::StringRef& key, uint32_t keyID,
                                   uint32_t subID) {
  if (!dict || !key) return nullptr;
  auto v = dict->get<cf::String>(key->utf8());
  if (!v) return nullptr;
  if (keyID == kNoEncryption || subID == kNoEncryption) return QVCFStringDecode(v);
  return QVCFStringDecodeWithDecrypt(v, keyID, subID);
}

bool IsEmptyEditText(const ui::Control* control) { return !control || control->stringValue().empty(); }

bool IsZeroEditText(const ui::Control* control) {
  return !control || std::strtol(control->stringValue().c_str(), nullptr, 10) == 0;
}

long GetLengthEditText(const ui::Control* control) {
  return control ? static_cast<long>(cf::str(control->stringValue())->length()) : 0;
}

// ---- the panel -------------------------------------------------------------

SecurityPDE::SecurityPDE() {
  outlet("pdeView", &pdeView);
  outlet("waitModePopUp", &waitModePopUp);
  outlet("userAuthenticationCheckBox", &userAuthenticationCheckBox);
  outlet("sectionManagementCheckBox", &sectionManagementCheckBox);
  outlet("userRadioButton", &userRadioButton);
  outlet("securePasswordEditText", &securePasswordEditText);
  outlet("userNameEditText", &userNameEditText);
  outlet("userPasswordEditText", &userPasswordEditText);
  outlet("sectionNameEditText", &sectionNameEditText);
  outlet("sectionPasswordEditText", &sectionPasswordEditText);
  outlet("waitModeStaticText", &waitModeStaticText);
  outlet("secureTitleStaticText", &secureTitleStaticText);
  outlet("securePasswordStaticText", &securePasswordStaticText);
  outlet("userNameStaticText", &userNameStaticText);
  outlet("userPasswordStaticText", &userPasswordStaticText);
  outlet("sectionNameStaticText", &sectionNameStaticText);
  outlet("sectionPasswordStaticText", &sectionPasswordStaticText);
  action("SecurityAction:", [this](ui::NibObject* sender) { SecurityAction(sender); });
}

bool SecurityPDE::initWithCallback(const pde::CallbackRef& callback, const bndl::BundleRef& bundle) {
  pdePluginCallbackObject = callback;
  ppd = callback ? callback->ppdFile() : nullptr;
  pluginBundle = bundle;
  RegisterBundle(bundle);

  if (ppd && loadNib()) ControlTable();

  mSession.object = pdePluginCallbackObject.get();
  mSession.Context = &mCoreContext;
  mSession.Bundle = pluginBundle;
  mQVSession = &mSession;

  PDECoreOnInitialize(mQVSession);

  UIConstraintsPPDInitializeArgument(ppd, &mCoreContext.CstList);
  mPPDCstTable = CreateUIConstrainstPPDListForEveryUserPaneArgument(SetupPPDKeyTableSecurity(), &mPPDCstTableCount,
                                                                   &mCoreContext.CstList);

  if (SecurityTable) {
    setDefaults(ppd, SecurityTable);
    ui::NotificationCenter::defaultCenter().addObserver(this, pm::kPMPaperDidChangeNotification,
                                                        [this] { updatePaperSize(); });
    observing_ = true;
    getPPDSettingsFromPrintSettings();
    updateUI();
    return true;
  }
  pdePluginCallbackObject.reset();
  pluginBundle.reset();
  mSession.object = nullptr;
  mSession.Bundle.reset();
  return false;
}

SecurityPDE::~SecurityPDE() {
  ReleaseUIConstrainstPPDListForEveryUserPaneArgument(&mCoreContext.CstList);
  UIConstraintsPPDFinalize(&mCoreContext.CstList);
  mPPDCstTable = nullptr;
  if (observing_) ui::NotificationCenter::defaultCenter().removeObserver(this, pm::kPMPaperDidChangeNotification);
  if (SecurityTable) {
    // The fields may outlive the panel in a host's view tree; they must
    // not keep pointing into the freed table.
    unbindFields();
    delete[] SecurityTable;
    SecurityTable = nullptr;
  }
  CTblRelease(&mCTLtableRef);
  pdePluginCallbackObject.reset();
  pluginBundle.reset();
  thePDEName.reset();
}

bool SecurityPDE::loadNib() {
  if (!pluginBundle) return false;
  ui::NibLoadResult result = ui::LoadNibNamed(*pluginBundle, "SecurityPDE", shared_from_this(), SecurityNibClasses());
  if (!result.ok) {
    sys::NSLog("[Security]interface file SecurityPDE: %s", result.error.c_str());
    return false;
  }
  nibObjects_ = std::move(result.topLevelObjects);
  return pdeView != nullptr;
}

void SecurityPDE::unbindFields() {
  if (!SecurityTable) return;
  for (int i = 0; SecurityTable[i].kind != kRowEnd; ++i) {
    if (auto* field = dynamic_cast<QVFieldBinding*>(SecurityTable[i].control.get())) field->setTable(nullptr);
  }
}

void SecurityPDE::ControlTable() {
  if (SecurityTable) {
    unbindFields();
    delete[] SecurityTable;
    SecurityTable = nullptr;
  }
  auto row = [](std::shared_ptr<ui::Control> control, int16_t kind, const char* keyword, const char* key,
                intptr_t colon) {
    SecurityRow r;
    r.control = std::move(control);
    r.kind = kind;
    r.keyword = keyword;
    r.key = key ? cf::str(key) : nullptr;
    r.colonFlag = colon;
    return r;
  };
  const SecurityRow rows[kSecurityTableRows] = {
      row(waitModePopUp, kRowPopUp, kPrintModeKey, "PrintModeR2740", 0),
      row(userAuthenticationCheckBox, kRowCheckBox, kAuthenticationKey, "QVAuthenticationR2740", 0),
      row(sectionManagementCheckBox, kRowCheckBox, kSectionManagementKey, "QVSectionManagementR2740", 0),
      row(userRadioButton, kRowRadio, kUserTypeKey, nullptr, 0),
      row(securePasswordEditText, kRowEditText, kSecureKey, "SecurePass", 0),
      row(userNameEditText, kRowEditText, kUserNameKey, "UserName", 0),
      row(userPasswordEditText, kRowEditText, kUserKey, "UserPass", 0),
      row(sectionNameEditText, kRowEditText, kSectionNameKey, "SectionName", 0),
      row(sectionPasswordEditText, kRowEditText, kSectionKey, "SectionPass", 0),
      row(waitModeStaticText, kRowStaticText, nullptr, "PrintModeR2740", 1),
      row(secureTitleStaticText, kRowStaticText, nullptr, "SecureTitle", 0),
      row(securePasswordStaticText, kRowStaticText, nullptr, "SecurePass", 1),
      row(userNameStaticText, kRowStaticText, nullptr, "UserName", 1),
      row(userPasswordStaticText, kRowStaticText, nullptr, "UserPass", 1),
      row(sectionNameStaticText, kRowStaticText, nullptr, "SectionName", 1),
      row(sectionPasswordStaticText, kRowStaticText, nullptr, "SectionPass", 1),
      SecurityRow{},  // end mark
  };
  SecurityTable = new (std::nothrow) SecurityRow[kSecurityTableRows];
  if (!SecurityTable) return;
  for (int i = 0; i < kSecurityTableRows; ++i) SecurityTable[i] = rows[i];

  initializeUI(ppd, SecurityTable, kSecurityBundleID);
  QVTextFieldSetup(SecurityTable);
  QVTextFieldClassCheck(SecurityTable);

  const PDEControlDataInput input[4] = {
      {kPrintModeControlID, waitModePopUp, kKindPopUp, cf::str("PrintModeR2740")},
      {kAuthenticationControlID, userAuthenticationCheckBox, kKindCheckBox, cf::str("QVAuthenticationR2740")},
      {kSectionManagementControlID, sectionManagementCheckBox, kKindCheckBox, cf::str("QVSectionManagementR2740")},
      {kPrintModeLabelControlID, waitModeStaticText, kKindStaticText, cf::str("PrintModeR2740")},
  };
  CTblRelease(&mCTLtableRef);
  CTblCreate(&mCTLtableRef, input, 4, ppd);
}

cf::StringRef SecurityPDE::localized(const std::string& key) const {
  if (!pluginBundle) return nullptr;
  std::optional<std::string> s = pluginBundle->localizedString(key);
  return s ? cf::str(*s) : nullptr;
}

int SecurityPDE::rowIndexForKeyword(const char* keyword) const {
  if (!SecurityTable) return -1;
  for (int i = 0; SecurityTable[i].kind != kRowEnd; ++i) {
    if (SecurityTable[i].keyword == keyword) return i;
  }
  return -1;
}

cf::StringRef SecurityPDE::panelName() {
  if (thePDEName) return thePDEName;
  cf::StringRef name = localized("PDETitle");
  // Like the platform's lookup, a missing localization answers the key.
  thePDEName = name ? name : cf::str("PDETitle");
  return thePDEName;
}

cf::StringRef SecurityPDE::panelKind() { return cf::str(kSecurityPanelKind); }

cf::ArrayRef SecurityPDE::supportedPPDOptionKeys() { return CustomSupportedPPDOptionKeys(SecurityTable); }

std::shared_ptr<ui::View> SecurityPDE::panelView() {
  if (!pdeView) {
    if (loadNib() && !SecurityTable) ControlTable();
  }
  return pdeView;
}

bool SecurityPDE::restoreValuesAndReturnError(pde::PDEError* /*error*/) {
  setDefaults(ppd, SecurityTable);
  if (SecurityTable) getPPDSettingsFromPrintSettings();
  updateUI();
  return true;
}

void SecurityPDE::willShow() { updateUI(); }

bool SecurityPDE::shouldHide() {
  if (!SecurityTable) return true;
  for (int i = 0; SecurityTable[i].kind != kRowEnd; ++i) {
    SecurityRow& row = SecurityTable[i];
    if (row.kind != kRowEditText || !row.control || !row.control->isEnabled()) continue;
    if (auto* field = dynamic_cast<ui::TextField*>(row.control.get())) field->abortEditing();
  }
  return true;
}

bool SecurityPDE::saveValuesAndReturnError(pde::PDEError* /*error*/) {
  updateUI();
  // A save on the way to a print leaves a missing entry to shouldPrint:
  // switching the function off here would send the job in the open.
  if (!savingForPrint()) SecurityErrorCheck(false);
  return true;
}

bool SecurityPDE::savingForPrint() const {
  cf::Ref flag;
  if (!pdePluginCallbackObject ||
      pm::PMSessionGetDataFromSession(pdePluginCallbackObject->printSession(), pde::kSavingForPrintKey, &flag) != pm::noErr)
    return false;
  auto b = cf::As<cf::Boolean>(flag);
  return b && b->value();
}

bool SecurityPDE::shouldPrint() {
  updateUI();
  bool ok = SecurityErrorCheck(true);
  if (ok && pdePluginCallbackObject) {
    ticketCopyToRoot(pdePluginCallbackObject->printSettings(), pdePluginCallbackObject->printSession());
  }
  return ok;
}

void SecurityPDE::PPDOptionKeyValueDidChange(const cf::StringRef& option, const cf::StringRef& choice) {
  if (SecurityTable && option) {
    for (int i = 0; SecurityTable[i].kind != kRowEnd; ++i) {
      SecurityRow& row = SecurityTable[i];
      if (row.kind == kRowStaticText || !row.key) continue;
      if (row.key->utf8() == option->utf8()) {
        row.value = Copy(choice);
        break;
      }
    }
  }
  updateUI();
}

cf::DictionaryRef SecurityPDE::summaryInfo() {
  auto dict = cf::Dictionary::create();
  if (!SecurityTable) {
    sys::NSLog("[Security]summaryInfo");
    return dict;
  }
  auto order = cf::Array::create();
  for (int i = 0; SecurityTable[i].kind != kRowEnd; ++i) {
    const SecurityRow& row = SecurityTable[i];
    if (row.keyword == kPrintModeKey) {
      summarySupport(i, dict, order);
    } else if (row.keyword == kAuthenticationKey) {
      cf::StringRef title = row.key ? localized(row.key->utf8()) : nullptr;
      int radio = rowIndexForKeyword(kUserTypeKey);
      bool registered = row.value && row.value->utf8() == "True" && radio >= 0 && SecurityTable[radio].value &&
                        SecurityTable[radio].value->utf8() == "private";
      cf::StringRef value = localized(registered ? "UserTypePrivate" : "UserTypePublic");
      if (title && value) {
        order->append(title);
        dict->setValue(title->utf8(), value);
      }
      if (registered) summarySupport(rowIndexForKeyword(kUserNameKey), dict, order);
    } else if (row.keyword == kSectionManagementKey) {
      summarySupport(i, dict, order);
      if (row.value && row.value->utf8() == "True") summarySupport(rowIndexForKeyword(kSectionNameKey), dict, order);
    }
  }
  dict->setValue(kSummaryOrderKey, order);
  return dict;
}

void SecurityPDE::summarySupport(int rowIndex, const cf::DictionaryRef& dict, const cf::ArrayRef& order) {
  if (!SecurityTable || rowIndex < 0 || !dict || !order) return;
  const SecurityRow& row = SecurityTable[rowIndex];
  // Passwords never reach the summary.
  if (IsEditTextPassword(row.keyword)) return;
  cf::StringRef title = row.key ? localized(row.key->utf8()) : nullptr;
  cf::StringRef value = getLocalizeValueFromControl(&row, ppd);
  if (!title || !value) return;
  order->append(title);
  dict->setValue(title->utf8(), value);
}

void SecurityPDE::updatePaperSize() { updateUI(); }

void SecurityPDE::UpdateCST() {
  if (!mPPDCstTable) return;
  mEnableALL(mCTLtableRef);
  UpdateUIConstraintsPPDArgument(mPPDCstTable, mPPDCstTableCount, SetupPPDKeyTableSecurity(), kSecurityKeyTableCount,
                                 mCTLtableRef, mQVSession);
}

void SecurityPDE::updateUI() {
  writePPDSettingsToPrintSettings();
  UpdateCST();
  getPPDSettingsFromPrintSettings();
  if (!SecurityTable) {
    sys::NSLog("[Security]updateUI");
    return;
  }
  for (int i = 0; SecurityTable[i].kind != kRowEnd; ++i) {
    SecurityRow& row = SecurityTable[i];
    if (!row.value) continue;
    if (setPPDValueToControl(&row, row.value) != 0) {
      // A value the control cannot show would otherwise go on to the
      // ticket and the printer while the user sees something else.
      if (cf::StringRef shown = getPPDValueFromControl(&row)) row.value = shown;
    }
    if (row.kind == kRowEditText && row.control) {
      std::string text = row.control->stringValue();
      row.value = cf::str(text);
      if (auto* field = dynamic_cast<QVFieldBinding*>(row.control.get())) field->setOldValue(text);
    }
  }
  SecurityEnableControls();
}

void SecurityPDE::SecurityEnableControls() {
  auto label = [](const std::shared_ptr<ui::TextField>& text, bool enabled) {
    if (text) text->setTextColor(enabled ? ui::Color::black() : ui::Color::disabledText());
  };
  auto enable = [](const std::shared_ptr<ui::TextField>& field, bool enabled) {
    if (field) field->setEnabled(enabled);
  };

  bool secure = waitModePopUp && waitModePopUp->indexOfSelectedItem() == 1;
  enable(securePasswordEditText, secure);
  label(secureTitleStaticText, secure);
  label(securePasswordStaticText, secure);

  bool authentication = userAuthenticationCheckBox && userAuthenticationCheckBox->state() == 1;
  if (userRadioButton) userRadioButton->setEnabled(authentication);
  bool registered = authentication && userRadioButton && userRadioButton->selectedRow() == 1;
  enable(userNameEditText, registered);
  enable(userPasswordEditText, registered);
  label(userNameStaticText, registered);
  label(userPasswordStaticText, registered);

  bool section = sectionManagementCheckBox && sectionManagementCheckBox->state() == 1;
  enable(sectionNameEditText, section);
  enable(sectionPasswordEditText, section);
  label(sectionNameStaticText, section);
  label(sectionPasswordStaticText, section);
}

bool SecurityPDE::SecurityErrorCheck(bool atPrint) {
  if (!SecurityTable) return true;
  int printModeIndex = searchTableIndex(SecurityTable, waitModePopUp.get());
  int authenticationIndex = searchTableIndex(SecurityTable, userAuthenticationCheckBox.get());
  std::string message;
  bool failed = false;
  for (int i = 0; SecurityTable[i].kind != kRowEnd; ++i) {
    SecurityRow& row = SecurityTable[i];
    if (!IsEditTextRequired(row.keyword) || !row.control || !row.control->isEnabled()) continue;
    bool ok = true;
    cf::StringRef alert;
    if (row.keyword == kSecureKey) {
      ok = !IsEmptyEditText(row.control.get()) && GetLengthEditText(row.control.get()) >= 4;
      // At print time nothing is turned off, so the print-time text applies.
      if (!ok) alert = SecurityUtil::SecurityEmptyAlert(kSecurityBundleID, "SecurePrint", "SecurePass", atPrint);
    } else if (row.keyword == kUserNameKey) {
      ok = !IsEmptyEditText(row.control.get());
      if (!ok) alert = SecurityUtil::SecurityEmptyAlert(kSecurityBundleID, "QVAuthenticationR2740", "UserName", atPrint);
    } else {
      continue;  // no other field is checked
    }
    if (ok) continue;
    failed = true;
    if (!atPrint) {
      if (row.keyword == kUserNameKey) {
        switchTo(authenticationIndex, kAuthenticationKey, cf::str("False"));
      } else {
        switchTo(printModeIndex, kPrintModeKey, getDefaultValueFromPPD(ppd, kPrintModeKey));
      }
    }
    // Without its string table the check must still refuse: a silent pass
    // would print without the required entry.
    if (!alert) alert = cf::str(row.keyword == kSecureKey ? "The document password must have at least 4 characters."
                                                          : "The user name is empty.");
    message += alert->utf8();
    message += "\n";
  }
  if (!failed) return true;
  if (!atPrint) updateUI();
  SecurityUtil::showAlert(message);
  return false;
}

void SecurityPDE::switchTo(int rowIndex, const char* keyword, const cf::StringRef& choice) {
  if (!SecurityTable || rowIndex < 0 || !choice) return;
  SecurityTable[rowIndex].value = choice;
  // The choice goes wherever the option's choice is kept, as a user's does:
  // the ticket, the PPD's mark (the host reads conflicts and saved defaults
  // from the marks), and the flat copy at the top of the print settings
  // that a panel sharing the ticket may have made earlier in this save.
  (void)PDECustomSetJobTicketPPDDict(mQVSession, keyword, choice->utf8().c_str());  // no PPD: no mark to move
  if (!pdePluginCallbackObject) return;
  pm::PMPrintSettings settings = pdePluginCallbackObject->printSettings();
  cf::StringRef key = cf::str(keyword);
  cf::Ref top;
  if (settings && pm::PMPrintSettingsGetValue(settings, key, &top) == pm::noErr && cf::As<cf::String>(top))
    (void)pm::PMPrintSettingsSetValue(settings, key, choice, false);  // the key exists: the store cannot fail
}

void SecurityPDE::SecurityAction(ui::NibObject* sender) {
  auto* view = dynamic_cast<ui::View*>(sender);
  int32_t id = CTblGetID(mCTLtableRef, view);
  if (PDEControlData* record = PDEControlDataGetByID(mCTLtableRef, id)) UpdateTicketWithPDEControl(record, mQVSession);
  if (!SecurityTable) {
    sys::NSLog("[Security]Action");
    return;
  }
  int index = searchTableIndex(SecurityTable, view);
  if (index >= 0 && SecurityTable[index].kind != kRowStaticText) {
    if (cf::StringRef v = getPPDValueFromControl(&SecurityTable[index])) SecurityTable[index].value = v;
  }
  updateUI();
}

void SecurityPDE::writePPDSettingsToPrintSettings() {
  if (!pdePluginCallbackObject) return;
  cf::DictionaryRef dict =
      ticketGetModelDictionary(pdePluginCallbackObject->printSettings(), pdePluginCallbackObject->printSession());
  if (!dict) return;
  if (SecurityTable) {
    for (int i = 0; SecurityTable[i].kind != kRowEnd; ++i) {
      const SecurityRow& row = SecurityTable[i];
      if (row.kind == kRowStaticText || !row.keyword) continue;
      cf::StringRef key = cf::String::createWithBytes(row.keyword, strlen(row.keyword), cf::kCFStringEncodingASCII);
      if (!key) continue;
      if (row.kind == kRowEditText && !CFStringIsEmpty(row.value)) {
        if (GetEditTextType(row.keyword) != kEditTextNumeric) {
          if (IsSecureField(row.control.get())) {
            SaveEditTextPassword(dict, key, kQVPanelKeyID, kQVPanelSubID, row.value);
          } else {
            SaveEditText(dict, key, row.value);
          }
        } else {
          SaveEditTextNumber(dict, key, row.value);
        }
      } else if (row.value) {
        dict->setValue(key->utf8(), row.value);
      }
    }
  }
  dict->setValue(kLoginNameKey, cf::str(sys::FullUserName()));
}

void SecurityPDE::getPPDSettingsFromPrintSettings() {
  if (!pdePluginCallbackObject || !SecurityTable) return;
  cf::DictionaryRef dict =
      ticketGetModelDictionary(pdePluginCallbackObject->printSettings(), pdePluginCallbackObject->printSession());
  if (!dict) return;
  for (int i = 0; SecurityTable[i].kind != kRowEnd; ++i) {
    SecurityRow& row = SecurityTable[i];
    if (row.kind == kRowStaticText || !row.keyword) continue;
    // Values of another type are not ours to read; the row keeps its value.
    auto v = dict->get<cf::String>(row.keyword);
    if (!v) continue;
    if (row.kind == kRowEditText && !v->empty()) {
      cf::StringRef key = cf::str(row.keyword);
      cf::StringRef decoded;
      if (GetEditTextType(row.keyword) == kEditTextNumeric) {
        decoded = LoadEditTextNumber(dict, key);
      } else if (IsSecureField(row.control.get())) {
        // The stored form of a password ends at its first "+". When the
        // ticket holds exactly what this row wrote, the row already has the
        // whole text; decoding it again would cut what the user typed.
        cf::StringRef mine =
            CFStringIsEmpty(row.value) ? nullptr : QVCFStringEncodeWithEncrypt(row.value, kQVPanelKeyID, kQVPanelSubID);
        if (mine && mine->utf8() == v->utf8()) continue;
        decoded = LoadEditTextPassword(dict, key, kQVPanelKeyID, kQVPanelSubID);
        // A password that does not decrypt (another key table, a damaged
        // preset) is no password: kept as text it would reach the printer
        // as a new password nobody typed.
        if (!decoded) decoded = cf::str("");
      } else {
        decoded = LoadEditText(dict, key);
      }
      if (decoded) v = decoded;
    }
    row.value = Copy(v);
  }
}

// ---- the factory -----------------------------------------------------------

bool SecurityPDEPlugIn::initWithBundle(const bndl::BundleRef& bundle) {
  if (!Bundle) Bundle = bundle;
  RegisterBundle(Bundle);
  return true;
}

pde::PanelList SecurityPDEPlugIn::PDEPanelsForType(const cf::StringRef& type, const pde::CallbackRef& hostInfo) {
  std::vector<pde::PanelRef> panels;
  if (!type || type->utf8() != pde::kPrinterModuleType) return panels;
  auto panel = std::make_shared<SecurityPDE>();
  if (!panel->initWithCallback(hostInfo, Bundle)) return std::nullopt;
  panels.push_back(panel);
  return panels;
}

}  // namespace R2740_SECURITY_NS

R2740_EXPORT pde::PDEFactory* SecurityPanelPDE_Factory() {
  return new (std::nothrow) R2740_SECURITY_NS::SecurityPDEPlugIn;
}
