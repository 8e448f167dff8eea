// PPD and control value services: titles, menus, encodings, control values
// and their PPD choices, defaults and the summary.
#include <cstring>
#include <string>
#include <string_view>

#include "PDECommon.h"
#include "PPDText.h"

namespace R2740_COLOR_NS {

namespace {

bndl::BundleRef& PlugInBundleSlot() {
  static bndl::BundleRef bundle;
  return bundle;
}

// The plug-in's strings for the current languages, or null. Fetched once
// for a run of lookups (a panel has dozens).
const bndl::StringsTable* PlugInStrings(const bndl::BundleRef& bundle) {
  return bundle ? bundle->localizedTable() : nullptr;
}

// The localization of a key in the plug-in's strings; null when the key has
// none (the key itself is never a fallback).
cf::StringRef Localized(const bndl::StringsTable* strings, const char* key) {
  if (!strings || !key) return nullptr;
  for (const char* c = key; *c; ++c)
    if (static_cast<unsigned char>(*c) > 0x7F) return nullptr;  // keys are ASCII
  auto it = strings->entries.find(std::string_view(key));
  if (it == strings->entries.end()) return nullptr;
  return cf::str(it->second);
}

void SetTitleFromStrings(const PDEControlRecord* row, const bndl::StringsTable* strings) {
  if (!row || !row->control || !row->titleKey) return;
  auto title = Localized(strings, row->titleKey);
  if (!title) return;
  switch (row->kind) {
    case kControlKindText:
      if (auto control = std::dynamic_pointer_cast<ui::Control>(row->control))
        control->setStringValue(title->utf8());
      break;
    case kControlKindCheckBox:
    case kControlKindButton:
      if (auto button = std::dynamic_pointer_cast<ui::Button>(row->control)) button->setTitle(title->utf8());
      break;
    case kControlKindTabView:
      if (auto tabs = std::dynamic_pointer_cast<ui::TabView>(row->control)) {
        static const char* const kTabKeys[] = {"Image", "Text", "Graphics", "Simulation"};
        for (int i = 0; i < 4 && i < tabs->numberOfTabViewItems(); ++i) {
          if (auto label = Localized(strings, kTabKeys[i])) tabs->setTabLabel(i, label->utf8());
        }
      }
      break;
    default:
      break;
  }
}

bool IsBound(const PDEControlRecord* row) { return row && row->ppdKey && *row->ppdKey; }

cf::StringRef KeyString(const PDEControlRecord* row) {
  if (!row || !row->ppdKey) return nullptr;
  return cf::String::createWithCString(row->ppdKey, cf::kCFStringEncodingASCII);
}

// The five-string entry of a checkbox row for its current state.
cf::ArrayRef CheckBoxEntry(const PDEControlRecord* row) {
  int32_t index = PDECommon::commonGetControlValueFromPPDWithSInt32(row);
  if (index < 0 || !row->choices) return nullptr;
  return row->choices->at<cf::Array>(static_cast<size_t>(index));
}

}  // namespace

bndl::BundleRef PDECommon::commonGetPlugInBundle() { return PlugInBundleSlot(); }

void PDECommon::commonSetPlugInBundle(const bndl::BundleRef& bundle) { PlugInBundleSlot() = bundle; }

void PDECommon::commonBuildPDEItem(PDEControlTable table, ppd_file_t* ppd) {
  if (!table) return;
  const bndl::StringsTable* strings = PlugInStrings(commonGetPlugInBundle());
  for (PDEControlRecord* row = table; row->control; ++row) {
    SetTitleFromStrings(row, strings);
    if (row->kind == kControlKindPopUp) commonReBuildMenuFromPPD(ppd, row);
  }
}

void PDECommon::commonSetControlTitleFromLocalizeString(const PDEControlRecord* row) {
  SetTitleFromStrings(row, PlugInStrings(commonGetPlugInBundle()));
}

void PDECommon::commonReBuildMenuFromPPD(ppd_file_t* ppd, const PDEControlRecord* row) {
  if (!ppd || !IsBound(row)) return;
  ppd_option_t* option = ppdFindOption(ppd, row->ppdKey);
  if (!option) return;
  auto menu = std::dynamic_pointer_cast<ui::PopUpButton>(row->control);
  if (!menu) return;
  menu->removeAllItems();
  for (int i = 0; i < option->num_choices; ++i) {
    const ppd_choice_t& choice = option->choices[i];
    auto title = PPDText(ppd, choice.text);
    menu->addItemWithTitle(title ? title->utf8() : std::string());
    if (ui::MenuItem* item = menu->itemAtIndex(i))
      item->setRepresentedObject(cf::String::createWithCString(choice.choice, cf::kCFStringEncodingASCII));
  }
}

namespace {
struct EncodingName {
  const char* name;
  unsigned long text;
  cf::StringEncoding cf;
};
constexpr EncodingName kEncodings[] = {
    {"ISOLatin1", kTextEncodingISOLatin1, cf::kCFStringEncodingISOLatin1},
    {"WindowsANSI", kTextEncodingWindowsCP1252, cf::kCFStringEncodingWindowsLatin1},
    {"JIS83-RKSJ", kTextEncodingShiftJIS, cf::kCFStringEncodingShiftJIS},
    {"UTF-8", kTextEncodingUTF8, cf::kCFStringEncodingUTF8},
    {"UTF8", kTextEncodingUTF8, cf::kCFStringEncodingUTF8},
};
const EncodingName* FindEncoding(ppd_file_t* ppd) {
  if (!ppd || !ppd->lang_encoding) return nullptr;
  for (const auto& e : kEncodings)
    if (std::strcmp(ppd->lang_encoding, e.name) == 0) return &e;
  return nullptr;
}
}  // namespace

unsigned long PDECommon::commonGetEncodingFromPPD(ppd_file_t* ppd) {
  const EncodingName* e = FindEncoding(ppd);
  return e ? e->text : kTextEncodingMacOSRoman;
}

cf::StringEncoding PDECommon::commonGetCFStringEncodingFromPPD(ppd_file_t* ppd) {
  const EncodingName* e = FindEncoding(ppd);
  return e ? e->cf : cf::kCFStringEncodingMacRoman;
}

int32_t PDECommon::commonGetControlValueWithSInt32(const PDEControlRecord* row) {
  if (!row || !row->control) return 0;
  if (row->kind == kControlKindCheckBox) {
    if (auto control = std::dynamic_pointer_cast<ui::Control>(row->control)) return control->intValue();
  } else if (row->kind == kControlKindPopUp) {
    if (auto menu = std::dynamic_pointer_cast<ui::PopUpButton>(row->control)) return menu->indexOfSelectedItem();
  }
  return 0;
}

void PDECommon::commonSetControlValueWithSInt32(const PDEControlRecord* row, int32_t value) {
  if (!row || !row->control) return;
  if (row->kind == kControlKindCheckBox) {
    if (auto control = std::dynamic_pointer_cast<ui::Control>(row->control)) control->setIntValue(value);
  } else if (row->kind == kControlKindPopUp) {
    auto menu = std::dynamic_pointer_cast<ui::PopUpButton>(row->control);
    if (menu && value < menu->numberOfItems()) menu->selectItemAtIndex(value);
  }
}

int32_t PDECommon::commonGetControlValueFromPPDWithSInt32(const PDEControlRecord* row) {
  if (!row) return 0;
  if (row->kind == kControlKindCheckBox) {
    bool on = commonGetControlValueWithSInt32(row) != 0;
    return commonFindPPDKeyPairsMatch(row->choices, KeyString(row), cf::str(on ? "True" : "False"));
  }
  if (row->kind == kControlKindPopUp) return commonGetControlValueWithSInt32(row);
  return 0;
}

cf::StringRef PDECommon::commonGetControlValueFromPPDWithNSString(const PDEControlRecord* row) {
  if (!row || !row->choices) return nullptr;
  if (row->kind == kControlKindCheckBox) {
    auto entry = CheckBoxEntry(row);
    return entry ? entry->at<cf::String>(3) : nullptr;
  }
  if (row->kind == kControlKindPopUp) {
    auto menu = std::dynamic_pointer_cast<ui::PopUpButton>(row->control);
    if (!menu || menu->indexOfSelectedItem() < 0) return nullptr;
    return cf::str(menu->titleOfSelectedItem());
  }
  return nullptr;
}

int32_t PDECommon::commonGetTicketValueWithSInt32(const PDEControlRecord* row, const cf::StringRef& option,
                                                  const cf::Ref& choice) {
  if (!row) return 0;
  auto choiceString = cf::As<cf::String>(choice);
  if (row->kind == kControlKindPopUp) return commonFindPPDKeyPairsMatch(row->choices, option, choiceString);
  if (row->kind == kControlKindCheckBox) {
    if (!choiceString) return 0;
    const std::string& s = choiceString->utf8();
    return (s == "True" || s == "TRUE" || s == "true") ? 1 : 0;
  }
  return 0;
}

int32_t PDECommon::commonGetDefualtValueFromPPDWithSInt32(const PDEControlRecord* row) {
  if (!row || !row->choices || row->choices->empty()) return 0;
  auto first = row->choices->at<cf::Array>(0);
  auto def = first ? first->at<cf::String>(1) : nullptr;
  if (!def) return 0;
  return commonGetTicketValueWithSInt32(row, KeyString(row), def);
}

void PDECommon::commonDefaultFromPPDInfo(PDEControlTable table) {
  if (!table) return;
  for (PDEControlRecord* row = table; row->control; ++row) {
    // A row whose option the PPD lacks has no default: its control keeps
    // what the interface file gave it.
    if (!IsBound(row) || !row->choices) continue;
    int32_t value = commonGetDefualtValueFromPPDWithSInt32(row);
    // A default the PPD does not offer as a choice leaves the control as it
    // is instead of clearing its selection.
    if (value < 0) continue;
    commonSetControlValueWithSInt32(row, value);
  }
}

OSStatus PDECommon::commonGetSummaryText(PDEControlTable table, const cf::DictionaryRef& dict,
                                         const cf::ArrayRef& array) {
  auto bundle = commonGetPlugInBundle();
  if (!bundle || !table) return pm::noErr;
  if (!dict || !array) return pm::paramErr;
  OSStatus status = pm::noErr;
  const bndl::StringsTable* strings = PlugInStrings(bundle);
  for (PDEControlRecord* row = table; row->control; ++row) {
    if (!row->itemName) continue;
    auto name = Localized(strings, row->itemName);
    auto value = commonGetControlValueFromPPDWithNSString(row);
    if (name && value) {
      dict->setValue(name->utf8(), value);
      array->append(name);
    } else {
      status = pm::paramErr;
    }
  }
  return status;
}

OSStatus PDECommon::commonGetSummaryTextQuickColor(const char* itemKey, const cf::StringRef& value,
                                                   const cf::DictionaryRef& dict, const cf::ArrayRef& array) {
  if (!itemKey || !cf::String::createWithCString(itemKey, cf::kCFStringEncodingASCII)) return pm::paramErr;
  auto bundle = commonGetPlugInBundle();
  if (!bundle) return pm::noErr;
  auto name = Localized(PlugInStrings(bundle), itemKey);
  if (!name) return pm::paramErr;
  if (!value || !dict || !array) return pm::paramErr;
  dict->setValue(name->utf8(), value);
  array->append(name);
  return pm::noErr;
}

}  // namespace R2740_COLOR_NS
