#include "PDEControlData.h"

#include <cstring>
#include <map>
#include <new>

#include "QVPrintSettings.h"
#include "system/system.h"

namespace R2740_SECURITY_NS {

// ---- bundles by identifier -----------------------------------------------

namespace {
std::map<std::string, std::weak_ptr<bndl::Bundle>>& Bundles() {
  static std::map<std::string, std::weak_ptr<bndl::Bundle>> bundles;
  return bundles;
}
}  // namespace

void RegisterBundle(const bndl::BundleRef& bundle) {
  if (!bundle) return;
  std::string id = bundle->bundleIdentifier();
  if (!id.empty()) Bundles()[id] = bundle;
}

bndl::BundleRef BundleWithIdentifier(const char* bundleID) {
  if (!bundleID) return nullptr;
  auto it = Bundles().find(bundleID);
  return it == Bundles().end() ? nullptr : it->second.lock();
}

cf::StringRef LocalizedString(const char* bundleID, const std::string& key) {
  bndl::BundleRef bundle = BundleWithIdentifier(bundleID);
  if (!bundle) return nullptr;
  std::optional<std::string> s = bundle->localizedString(key);
  return s ? cf::str(*s) : nullptr;
}

// ---- panel table ---------------------------------------------------------

int searchTableIndex(const SecurityRow* table, const ui::View* control) {
  if (!table || !control) return -1;
  for (int i = 0; table[i].kind != kRowEnd; ++i) {
    if (table[i].control.get() == control) return i;
  }
  return -1;
}

cf::ArrayRef CustomSupportedPPDOptionKeys(const SecurityRow* table) {
  auto keys = cf::Array::create();
  if (!table) return keys;
  for (int i = 0; table[i].kind != kRowEnd; ++i) {
    if (table[i].kind == kRowStaticText || !table[i].key) continue;
    keys->append(table[i].key);
  }
  return keys;
}

void initializeUI(ppd_file_t* ppd, SecurityRow* table, const char* bundleID) {
  if (!table) return;
  for (int i = 0; table[i].kind != kRowEnd; ++i) {
    SecurityRow* row = &table[i];
    switch (row->kind) {
      case kRowStaticText: initializeStaticText(row, bundleID); break;
      case kRowPopUp: initializePopup(ppd, row); break;
      case kRowCheckBox: initializeCheckBox(row, bundleID); break;
      case kRowRadio: initializeRadioButton(row, bundleID); break;
      case kRowEditText:
        if (row->control) row->control->setStringValue("");
        break;
      default: break;
    }
  }
}

void initializePopup(ppd_file_t* ppd, SecurityRow* row) {
  if (!row || !row->keyword) return;
  auto popup = std::dynamic_pointer_cast<ui::PopUpButton>(row->control);
  if (!popup) return;
  popup->removeAllItems();
  ppd_option_t* option = ppd ? ppdFindOption(ppd, row->keyword) : nullptr;
  if (!option) {
    sys::NSLog("init Popup Error!");
    popup->setHidden(true);
    return;
  }
  for (int i = 0; i < option->num_choices; ++i) {
    const ppd_choice_t& c = option->choices[i];
    cf::StringRef title = PPDTextToString(ppd, c.text);
    popup->addItemWithTitle(title ? title->utf8() : c.choice);
    cf::StringRef key = cf::String::createWithBytes(c.choice, strlen(c.choice), cf::kCFStringEncodingASCII);
    if (!key) key = cf::String::createWithBytes(c.choice, strlen(c.choice), cf::kCFStringEncodingUTF8);
    if (ui::MenuItem* item = popup->itemAtIndex(popup->numberOfItems() - 1)) item->setRepresentedObject(key);
  }
}

void initializeCheckBox(SecurityRow* row, const char* bundleID) {
  if (!row || !row->key) return;
  auto box = std::dynamic_pointer_cast<ui::Button>(row->control);
  if (!box) return;
  cf::StringRef title = LocalizedString(bundleID, row->key->utf8());
  if (!title) {
    sys::NSLog("init CheckBox Error!");
    box->setHidden(true);
    return;
  }
  box->setTitle(title->utf8());
}

void initializeStaticText(SecurityRow* row, const char* bundleID) {
  if (!row || !row->key || !row->control) return;
  cf::StringRef text = LocalizedString(bundleID, row->key->utf8());
  if (!text) {
    sys::NSLog("init StaticText Error!");
    return;
  }
  row->control->setStringValue(row->colonFlag ? text->utf8() + ":" : text->utf8());
}

void initializeRadioButton(SecurityRow* row, const char* bundleID) {
  if (!row) return;
  auto matrix = std::dynamic_pointer_cast<ui::Matrix>(row->control);
  if (!matrix) return;
  cf::StringRef pub = LocalizedString(bundleID, "UserTypePublic");
  cf::StringRef priv = LocalizedString(bundleID, "UserTypePrivate");
  if (!pub || !priv || matrix->numberOfRows() < 2) {
    sys::NSLog("init RadioButton Error!");
    return;
  }
  matrix->setCellTitle(0, pub->utf8());
  matrix->setCellTitle(1, priv->utf8());
}

void initializeEditText(ppd_file_t* /*ppd*/, SecurityRow* row) {
  if (row && row->control) row->control->setStringValue("");
}

cf::StringRef getDefaultValueFromPPD(ppd_file_t* ppd, const char* keyword) {
  if (!ppd || !keyword) return nullptr;
  ppd_option_t* option = ppdFindOption(ppd, keyword);
  if (!option) return nullptr;
  return cf::String::createWithBytes(option->defchoice, strlen(option->defchoice), cf::kCFStringEncodingUTF8);
}

void setDefaults(ppd_file_t* ppd, SecurityRow* table) {
  if (!table) return;
  for (int i = 0; table[i].kind != kRowEnd; ++i) {
    SecurityRow* row = &table[i];
    cf::StringRef value = getDefaultValueFromPPD(ppd, row->keyword);
    if (!value) {
      switch (row->kind) {
        case kRowEditText: value = cf::str(""); break;
        case kRowRadio: value = cf::str("public"); break;
        case kRowCheckBox: value = cf::str("False"); break;
        default: break;
      }
    }
    row->value = value;
    setPPDValueToControl(row, value);
  }
}

int setPPDValueToControl(SecurityRow* row, const cf::StringRef& value) {
  if (!row || !value || !row->control) return 0;
  switch (row->kind) {
    case kRowPopUp: {
      auto popup = std::dynamic_pointer_cast<ui::PopUpButton>(row->control);
      int index = popup ? popup->indexOfItemWithRepresentedObject(value) : -1;
      if (index < 0) {
        sys::NSLog("[PopUp] index is Not Found");
        return 1;
      }
      popup->selectItemAtIndex(index);
      return 0;
    }
    case kRowCheckBox: {
      auto box = std::dynamic_pointer_cast<ui::Button>(row->control);
      if (box && value->utf8() == "True") {
        box->setState(1);
      } else if (box && value->utf8() == "False") {
        box->setState(0);
      } else {
        sys::NSLog("[CheckBox] Error!");
        return 1;
      }
      return 0;
    }
    case kRowRadio: {
      auto matrix = std::dynamic_pointer_cast<ui::Matrix>(row->control);
      if (matrix && value->utf8() == "public") {
        matrix->selectCellAtRow(0);
      } else if (matrix && value->utf8() == "private") {
        matrix->selectCellAtRow(1);
      } else {
        sys::NSLog("[RadioButton] Error!");
        return 1;
      }
      return 0;
    }
    case kRowEditText: row->control->setStringValue(value->utf8()); return 0;
    default: return 0;
  }
}

cf::StringRef getPPDValueFromControl(const SecurityRow* row) {
  if (!row || !row->control) return nullptr;
  switch (row->kind) {
    case kRowPopUp: {
      auto popup = std::dynamic_pointer_cast<ui::PopUpButton>(row->control);
      ui::MenuItem* item = popup ? popup->selectedItem() : nullptr;
      auto key = item ? cf::As<cf::String>(item->representedObject()) : nullptr;
      return key ? cf::str(key->utf8()) : nullptr;
    }
    case kRowCheckBox: {
      auto box = std::dynamic_pointer_cast<ui::Button>(row->control);
      int state = box ? box->state() : -1;
      if (state == 0) return cf::str("False");
      if (state == 1) return cf::str("True");
      sys::NSLog("Error!(%d)", state);
      return nullptr;
    }
    case kRowRadio: {
      auto matrix = std::dynamic_pointer_cast<ui::Matrix>(row->control);
      return cf::str(matrix && matrix->selectedRow() == 1 ? "private" : "public");
    }
    case kRowEditText: return cf::str(row->control->stringValue());
    default: return nullptr;
  }
}

cf::StringRef getLocalizeValueFromPPD(ppd_file_t* ppd, const char* keyword, const char* choice) {
  if (!ppd || !keyword || !choice) return nullptr;
  ppd_choice_t* c = ppdFindChoice(ppdFindOption(ppd, keyword), choice);
  return c ? PPDTextToString(ppd, c->text) : nullptr;
}

cf::StringRef getLocalizeValueFromControl(const SecurityRow* row, ppd_file_t* ppd) {
  if (!row || !row->control) return nullptr;
  switch (row->kind) {
    case kRowEditText: return cf::str(row->control->stringValue());
    case kRowPopUp: {
      auto popup = std::dynamic_pointer_cast<ui::PopUpButton>(row->control);
      if (!popup || popup->indexOfSelectedItem() < 0) return nullptr;
      return cf::str(popup->titleOfSelectedItem());
    }
    case kRowCheckBox: {
      auto box = std::dynamic_pointer_cast<ui::Button>(row->control);
      if (!box) return nullptr;
      if (box->state() == 1) {
        cf::StringRef s = getLocalizeValueFromPPD(ppd, row->keyword, "True");
        return s ? s : cf::str("On");
      }
      if (box->state() == 0) {
        cf::StringRef s = getLocalizeValueFromPPD(ppd, row->keyword, "False");
        return s ? s : cf::str("Off");
      }
      return nullptr;
    }
    default: return nullptr;
  }
}

void ticketGetPrintSettings(SecurityRow* table, pm::PMPrintSettings settings, pm::PMPrintSession session) {
  if (!table) return;
  cf::DictionaryRef dict = ticketGetModelDictionary(settings, session);
  if (!dict) return;
  for (int i = 0; table[i].kind != kRowEnd; ++i) {
    SecurityRow& row = table[i];
    if (row.kind == kRowStaticText || !row.keyword) continue;
    if (auto v = dict->get<cf::String>(row.keyword)) row.value = cf::str(v->utf8());
  }
}

void ticketWritePrintSettings(const SecurityRow* table, pm::PMPrintSettings settings, pm::PMPrintSession session) {
  if (!table) return;
  cf::DictionaryRef dict = ticketGetModelDictionary(settings, session);
  if (!dict) return;
  for (int i = 0; table[i].kind != kRowEnd; ++i) {
    const SecurityRow& row = table[i];
    if (row.kind == kRowStaticText || !row.keyword || !row.value) continue;
    dict->setValue(row.keyword, row.value);
  }
}

// ---- control data table --------------------------------------------------

namespace {

bool IsEditKind(uint32_t kind) { return kind == kKindEditText || kind == kKindEditUnicodeText; }

ui::PopUpButton* PopUp(const PDEControlData* r) { return dynamic_cast<ui::PopUpButton*>(r->control.get()); }
ui::Matrix* RadioMatrix(const PDEControlData* r) { return dynamic_cast<ui::Matrix*>(r->control.get()); }

}  // namespace

void mGetRadioItemNum(const ui::Matrix* matrix, int* columns, int* rows) {
  int c = 0, r = 0;
  if (matrix) {
    // This platform's matrix is a single column of cells.
    c = 1;
    r = matrix->numberOfRows();
    if (c != 1 && r != 1) c = r = 0;
  }
  if (columns) *columns = c;
  if (rows) *rows = r;
}

void CTblCreate(PDEControlDataTblRef* table, const PDEControlDataInput* input, int16_t count, ppd_file_t* ppd) {
  if (!table) return;
  *table = nullptr;
  auto* header = new (std::nothrow) PDEControlDataTbl;
  if (!header) return;
  *table = header;
  if (count <= 0 || !input) return;
  header->records = new (std::nothrow) PDEControlData[static_cast<size_t>(count)];
  if (!header->records) return;
  header->count = count;
  for (int i = 0; i < count; ++i) {
    const PDEControlDataInput& in = input[i];
    PDEControlData& r = header->records[i];
    r.identifier = static_cast<uint32_t>(in.identifier);
    r.control = in.control;
    r.kind = in.kind;
    r.key = in.key;
    if (ppd && in.key && in.kind != kKindStaticText) r.ppdInfo = CreatePPDUIOptionWithCFKey(ppd, in.key);
    if (in.kind == kKindPopUp) {
      if (auto* p = PopUp(&r)) p->setAutoenablesItems(false);
    }
  }
}

void CTblRelease(PDEControlDataTblRef* table) {
  if (!table || !*table) return;
  PDEControlDataTbl* t = *table;
  if (t->records) {
    for (int i = 0; i < t->count; ++i) DeletePPDUIOption(t->records[i].ppdInfo);
    delete[] t->records;
  }
  delete t;
  *table = nullptr;
}

int32_t CTblGetID(PDEControlDataTblRef table, const ui::View* control) {
  if (!table) return 0;
  for (int i = 0; table->records && i < table->count; ++i) {
    if (table->records[i].control.get() == control && control) return static_cast<int32_t>(table->records[i].identifier);
  }
  return -1;
}

int16_t PDEControlDataTblGetCount(PDEControlDataTblRef table) { return table && table->records ? table->count : 0; }

PDEControlData* PDEControlDataGetByIndex(PDEControlDataTblRef table, int index) {
  if (!table || !table->records || index < 0 || index >= table->count) return nullptr;
  return &table->records[index];
}

PDEControlData* PDEControlDataGetByID(PDEControlDataTblRef table, int32_t identifier) {
  if (!table || !table->records) return nullptr;
  for (int i = 0; i < table->count; ++i) {
    if (static_cast<int32_t>(table->records[i].identifier) == identifier) return &table->records[i];
  }
  return nullptr;
}

uint32_t PDEControlDataID(const PDEControlData* r) { return r ? r->identifier : 0; }
cf::StringRef PDEControlDataKey(const PDEControlData* r) { return r ? r->key : nullptr; }
PPDUIOption* PDEControlDataPPDInfo(const PDEControlData* r) { return r ? r->ppdInfo : nullptr; }
uint32_t PDEControlDataKind(const PDEControlData* r) { return r ? r->kind : 0xFFFFFFFFu; }
std::shared_ptr<ui::Control> PDEControlDataControl(const PDEControlData* r) { return r ? r->control : nullptr; }
uint8_t PDEControlDataInitEnable(const PDEControlData* r) { return r ? r->initEnable : 0; }
int32_t PDEControlDataMinValue(const PDEControlData* r) { return r ? r->minValue : -1; }
int32_t PDEControlDataMaxValue(const PDEControlData* r) { return r ? r->maxValue : -1; }
int32_t PDEControlDataDefValue(const PDEControlData* r) { return r ? r->defValue : -1; }
int32_t PDEControlDataValue(const PDEControlData* r) { return r ? r->value : -1; }
void* PDEControlDataData(const PDEControlData* r) { return r ? r->data : nullptr; }

cf::StringRef PDEControlDataDefString(const PDEControlData* r) {
  return r && IsEditKind(r->kind) ? r->defString : nullptr;
}
cf::StringRef PDEControlDataString(const PDEControlData* r) { return r && IsEditKind(r->kind) ? r->string : nullptr; }
cf::StringRef PDEControlDataGetEditTextString(const PDEControlData* r) {
  return r && IsEditKind(r->kind) ? r->editString : nullptr;
}

void PDEControlDataDefSetString(PDEControlData* r, const cf::StringRef& s) {
  if (r && IsEditKind(r->kind)) r->defString = s;
}

void PDEControlDataSetEditTextString(PDEControlData* r, const cf::StringRef& s) {
  if (r && IsEditKind(r->kind)) r->editString = s ? cf::str(s->utf8()) : nullptr;
}

void PDEControlDataSetStringValue(PDEControlData* r, const cf::StringRef& s) {
  if (r && r->kind == kKindStaticText && r->control && s) r->control->setStringValue(s->utf8());
}

void PDEControlDataSetHidden(PDEControlData* r, bool hidden) {
  if (r && r->control) r->control->setHidden(hidden);
}

bool PDEControlDataIsHidden(const PDEControlData* r) { return r && r->control && r->control->isHidden(); }

void PDEControlDataSetEnabled(PDEControlData* r, bool enabled) {
  if (!r || !r->control) return;
  if (r->kind == kKindDataBrowser || r->kind == kKindGroupBox) return;
  if (r->kind == kKindStaticText) {
    r->control->setTextColor(enabled ? ui::Color::black() : ui::Color::disabledText());
    return;
  }
  r->control->setEnabled(enabled);
}

bool PDEControlDataIsEnabled(const PDEControlData* r) { return r && r->control && r->control->isEnabled(); }

int32_t PDEControlDataGetIntValue(const PDEControlData* r, bool zeroBased) {
  if (!r || !r->control) return -1;
  int add = zeroBased ? 0 : 1;
  if (r->kind == kKindPopUp) {
    auto* p = PopUp(r);
    if (!r->ppdInfo || !p) return -1;
    return p->indexOfSelectedItem() + add;
  }
  if (r->kind == kKindRadioGroup) {
    auto* m = RadioMatrix(r);
    int columns = 0, rows = 0;
    mGetRadioItemNum(m, &columns, &rows);
    if (!m || (columns == 0 && rows == 0)) return -1;
    // A single-row matrix counts along its columns; this platform's
    // matrices have one column, so the row is the axis.
    if (rows == 1 && columns != 1) return 0 + add;
    return m->selectedRow() + add;
  }
  return r->control->intValue();
}

void PDEControlDataSetIntValue(PDEControlData* r, int32_t value, bool zeroBased) {
  if (!r || !r->control) return;
  int index = zeroBased ? value : value - 1;
  if (r->kind == kKindPopUp) {
    auto* p = PopUp(r);
    if (r->ppdInfo && p) p->selectItemAtIndex(index);
    return;
  }
  if (r->kind == kKindRadioGroup) {
    auto* m = RadioMatrix(r);
    int columns = 0, rows = 0;
    mGetRadioItemNum(m, &columns, &rows);
    if (!m || (columns == 0 && rows == 0)) return;
    m->selectCellAtRow(rows == 1 && columns != 1 ? 0 : index);
    return;
  }
  r->control->setIntValue(value);
}

int32_t PDEControlDataItemGetCount(const PDEControlData* r) {
  if (!r) return -1;
  if (r->kind == kKindPopUp) {
    auto* p = PopUp(r);
    return p ? p->numberOfItems() : -1;
  }
  if (r->kind == kKindRadioGroup) {
    int columns = 0, rows = 0;
    mGetRadioItemNum(RadioMatrix(r), &columns, &rows);
    if (columns == 0 && rows == 0) return -1;
    return columns * rows;
  }
  return -1;
}

bool PDEControlDataItemIsEnabled(const PDEControlData* r, int item) {
  if (!r) return false;
  int index = item > 0 ? item - 1 : 0;
  if (r->kind == kKindPopUp) {
    auto* p = PopUp(r);
    return p && index < p->numberOfItems() && p->isItemEnabled(index);
  }
  if (r->kind == kKindRadioGroup) {
    auto* m = RadioMatrix(r);
    return m && index < m->numberOfRows() && m->isCellEnabled(index);
  }
  return false;
}

void PDEControlDataItemSetEnabled(PDEControlData* r, int item, bool enabled) {
  if (!r) return;
  int index = item > 0 ? item - 1 : 0;
  if (r->kind == kKindPopUp) {
    if (auto* p = PopUp(r); p && index < p->numberOfItems()) p->setItemEnabled(index, enabled);
  } else if (r->kind == kKindRadioGroup) {
    if (auto* m = RadioMatrix(r); m && index < m->numberOfRows()) m->setCellEnabled(index, enabled);
  }
}

void PDEControlDataSetDefault(PDEControlData* r) {
  if (!r || !r->control) return;
  if (IsEditKind(r->kind)) {
    if (r->defString && dynamic_cast<ui::TextField*>(r->control.get())) r->control->setStringValue(r->defString->utf8());
  } else if (r->kind == kKindPopUp || r->kind == kKindCheckBox || r->kind == kKindRadioGroup) {
    PDEControlDataSetIntValue(r, r->defValue, false);
  }
}

void PDEControlDataSetDefaultSetting(PDEControlData* r) {
  if (!r || !r->ppdInfo) return;
  if (r->kind == kKindEditUnicodeText) {
    if (cf::StringRef alias = PPDUIOptionGetDefaultAlias(r->ppdInfo); alias && r->control) {
      r->control->setStringValue(alias->utf8());
    }
  } else if (r->kind == kKindPopUp || r->kind == kKindRadioGroup || r->kind == kKindCheckBox) {
    PDEControlDataSetPPDIndex(r, PPDUIOptionGetDefaultIndex(r->ppdInfo));
  }
}

int32_t PDEControlDataGetPPDIndex(const PDEControlData* r) {
  if (!r) return -1;
  if (r->kind == kKindCheckBox && r->ppdInfo && r->control) {
    // A check box's state names the "True" or "False" choice, wherever the
    // PPD lists it; only options without those choices go by position.
    int state = r->control->intValue();
    int index = PPDUIOptionKeyToIndex(r->ppdInfo, cf::str(state == 1 ? "True" : "False"));
    return index >= 0 ? index : state;
  }
  return PDEControlDataGetIntValue(r, true);
}

void PDEControlDataSetPPDIndex(PDEControlData* r, int32_t index) {
  if (!r) return;
  if (r->kind == kKindCheckBox && r->ppdInfo && r->control) {
    cf::StringRef key = PPDUIOptionIndexToKey(r->ppdInfo, index);
    if (key && (key->utf8() == "True" || key->utf8() == "False")) {
      r->control->setIntValue(key->utf8() == "True" ? 1 : 0);
      return;
    }
  }
  PDEControlDataSetIntValue(r, index, true);
}

cf::StringRef PDEControlDataGetPPDValueString(const PDEControlData* r) {
  if (!r) return nullptr;
  switch (r->kind) {
    case kKindCheckBox:
      if (!r->ppdInfo) return cf::str(r->control && r->control->intValue() == 1 ? "True" : "False");
      return PPDUIOptionIndexToKey(r->ppdInfo, PDEControlDataGetPPDIndex(r));
    case kKindPopUp:
    case kKindRadioGroup:
      if (!r->ppdInfo) return nullptr;
      return PPDUIOptionIndexToKey(r->ppdInfo, PDEControlDataGetPPDIndex(r));
    case kKindEditText:
    case kKindEditUnicodeText:
      return r->editString ? r->editString : cf::str("NULL");
    default:
      sys::NSLog("unsupported type kind:%d", static_cast<int>(r->kind));
      return nullptr;
  }
}

void PDEControlDataSetPPDValueString(PDEControlData* r, const cf::StringRef& choice) {
  if (!r) return;
  if (IsEditKind(r->kind)) {
    PDEControlDataSetEditTextString(r, choice);
    return;
  }
  if (r->kind != kKindCheckBox && r->kind != kKindPopUp && r->kind != kKindRadioGroup) return;
  if (!r->ppdInfo) {
    if (r->kind == kKindCheckBox && r->control) r->control->setIntValue(choice && choice->utf8() == "True" ? 1 : 0);
    return;
  }
  int index = PPDUIOptionKeyToIndex(r->ppdInfo, choice);
  // A choice the option lacks falls back to the option's default choice;
  // the default index is 0-based everywhere here.
  if (index < 0) index = PPDUIOptionGetDefaultIndex(r->ppdInfo);
  PDEControlDataSetPPDIndex(r, index);
}

void UpdateTicketWithPDEControl(PDEControlData* r, QVSession* session) {
  if (!r || IsEditKind(r->kind)) return;
  UpdateTicketWithPPDOption(session, r->ppdInfo, PDEControlDataGetPPDIndex(r));
}

void mEnableALL(PDEControlDataTblRef table) {
  int count = PDEControlDataTblGetCount(table);
  for (int i = 0; i < count; ++i) {
    PDEControlData* r = PDEControlDataGetByIndex(table, i);
    PDEControlDataSetEnabled(r, true);
    if (PDEControlDataKind(r) == kKindPopUp) {
      int items = PDEControlDataItemGetCount(r);
      for (int item = 1; item <= items; ++item) PDEControlDataItemSetEnabled(r, item, true);
    }
  }
}

}  // namespace R2740_SECURITY_NS
