// The security panel's two tables: the panel table (one row per control,
// with its keyword and current value) and the control data table (the
// PPD-bound controls that constraints act on, addressed by identifier).
#pragma once

#include <cups/ppd.h>

#include <cstdint>
#include <memory>

#include "PDECore.h"
#include "PPDUIOption.h"
#include "SecurityBuild.h"
#include "cf/cf.h"
#include "printing/printing.h"
#include "ui/controls.h"

namespace R2740_SECURITY_NS {

// ---- panel table ---------------------------------------------------------
enum : int16_t {
  kRowStaticText = 2,
  kRowPopUp = 3,
  kRowCheckBox = 4,
  kRowRadio = 5,
  kRowEditText = 6,
  kRowEnd = static_cast<int16_t>(0xFFFF),
};

struct SecurityRow {
  std::shared_ptr<ui::Control> control;
  int16_t kind = kRowEnd;
  // PPD main keyword or ticket key; one shared constant per key, since edit
  // properties are looked up by pointer identity. Null for static texts.
  const char* keyword = nullptr;
  cf::StringRef key;    // localization key of the title
  cf::StringRef value;  // what the ticket holds, in plain form
  intptr_t colonFlag = 0;
};
using SecurityTable = SecurityRow*;

int searchTableIndex(const SecurityRow* table, const ui::View* control);
cf::ArrayRef CustomSupportedPPDOptionKeys(const SecurityRow* table);
void initializeUI(ppd_file_t* ppd, SecurityRow* table, const char* bundleID);
void initializePopup(ppd_file_t* ppd, SecurityRow* row);
void initializeCheckBox(SecurityRow* row, const char* bundleID);
void initializeStaticText(SecurityRow* row, const char* bundleID);
void initializeRadioButton(SecurityRow* row, const char* bundleID);
void initializeEditText(ppd_file_t* ppd, SecurityRow* row);
cf::StringRef getDefaultValueFromPPD(ppd_file_t* ppd, const char* keyword);
void setDefaults(ppd_file_t* ppd, SecurityRow* table);
int setPPDValueToControl(SecurityRow* row, const cf::StringRef& value);
cf::StringRef getPPDValueFromControl(const SecurityRow* row);
cf::StringRef getLocalizeValueFromPPD(ppd_file_t* ppd, const char* keyword, const char* choice);
cf::StringRef getLocalizeValueFromControl(const SecurityRow* row, ppd_file_t* ppd);
void ticketGetPrintSettings(SecurityRow* table, pm::PMPrintSettings settings, pm::PMPrintSession session);
void ticketWritePrintSettings(const SecurityRow* table, pm::PMPrintSettings settings, pm::PMPrintSession session);

// Bundles known by identifier to the localized lookups of this plug-in.
void RegisterBundle(const bndl::BundleRef& bundle);
bndl::BundleRef BundleWithIdentifier(const char* bundleID);
// The localization of a key; null when the bundle or the key is missing.
cf::StringRef LocalizedString(const char* bundleID, const std::string& key);

// ---- control data table --------------------------------------------------
inline constexpr uint32_t kKindPopUp = FourCC("popb");
inline constexpr uint32_t kKindCheckBox = FourCC("cbox");
inline constexpr uint32_t kKindStaticText = FourCC("stxt");
inline constexpr uint32_t kKindEditText = FourCC("etxt");
inline constexpr uint32_t kKindEditUnicodeText = FourCC("eutx");
inline constexpr uint32_t kKindRadioGroup = FourCC("rgrp");
inline constexpr uint32_t kKindIcon = FourCC("icon");
inline constexpr uint32_t kKindDataBrowser = FourCC("datb");
inline constexpr uint32_t kKindGroupBox = FourCC("grpb");

struct PDEControlDataInput {
  int16_t identifier = 0;  // 0 ends an input list
  std::shared_ptr<ui::Control> control;
  uint32_t kind = 0;
  cf::StringRef key;
};

struct PDEControlData {
  uint32_t identifier = 0;
  std::shared_ptr<ui::Control> control;
  uint32_t kind = 0;
  cf::StringRef key;
  cf::StringRef editString;
  PPDUIOption* ppdInfo = nullptr;  // owned
  uint8_t initEnable = 0;
  int32_t minValue = 0;
  int32_t maxValue = 0;
  int32_t defValue = 0;
  cf::StringRef defString;
  int32_t value = 0;
  cf::StringRef string;
  void* data = nullptr;
};

struct PDEControlDataTbl {
  int16_t count = 0;
  PDEControlData* records = nullptr;
};
using PDEControlDataTblRef = PDEControlDataTbl*;

void CTblCreate(PDEControlDataTblRef* table, const PDEControlDataInput* input, int16_t count, ppd_file_t* ppd);
void CTblRelease(PDEControlDataTblRef* table);
int32_t CTblGetID(PDEControlDataTblRef table, const ui::View* control);
int16_t PDEControlDataTblGetCount(PDEControlDataTblRef table);
PDEControlData* PDEControlDataGetByIndex(PDEControlDataTblRef table, int index);
PDEControlData* PDEControlDataGetByID(PDEControlDataTblRef table, int32_t identifier);

uint32_t PDEControlDataID(const PDEControlData* r);
cf::StringRef PDEControlDataKey(const PDEControlData* r);
PPDUIOption* PDEControlDataPPDInfo(const PDEControlData* r);
uint32_t PDEControlDataKind(const PDEControlData* r);
std::shared_ptr<ui::Control> PDEControlDataControl(const PDEControlData* r);
uint8_t PDEControlDataInitEnable(const PDEControlData* r);
int32_t PDEControlDataMinValue(const PDEControlData* r);
int32_t PDEControlDataMaxValue(const PDEControlData* r);
int32_t PDEControlDataDefValue(const PDEControlData* r);
int32_t PDEControlDataValue(const PDEControlData* r);
void* PDEControlDataData(const PDEControlData* r);
cf::StringRef PDEControlDataDefString(const PDEControlData* r);
cf::StringRef PDEControlDataString(const PDEControlData* r);
cf::StringRef PDEControlDataGetEditTextString(const PDEControlData* r);
void PDEControlDataDefSetString(PDEControlData* r, const cf::StringRef& s);
void PDEControlDataSetEditTextString(PDEControlData* r, const cf::StringRef& s);
void PDEControlDataSetStringValue(PDEControlData* r, const cf::StringRef& s);
void PDEControlDataSetHidden(PDEControlData* r, bool hidden);
bool PDEControlDataIsHidden(const PDEControlData* r);
void PDEControlDataSetEnabled(PDEControlData* r, bool enabled);
bool PDEControlDataIsEnabled(const PDEControlData* r);
int32_t PDEControlDataGetIntValue(const PDEControlData* r, bool zeroBased);
void PDEControlDataSetIntValue(PDEControlData* r, int32_t value, bool zeroBased);
// The 0-based PPD choice a control shows: for a check box the index of the
// "True" or "False" choice its state stands for, else its selected index.
int32_t PDEControlDataGetPPDIndex(const PDEControlData* r);
void PDEControlDataSetPPDIndex(PDEControlData* r, int32_t index);
int32_t PDEControlDataItemGetCount(const PDEControlData* r);
bool PDEControlDataItemIsEnabled(const PDEControlData* r, int item);
void PDEControlDataItemSetEnabled(PDEControlData* r, int item, bool enabled);
void PDEControlDataSetDefault(PDEControlData* r);
void PDEControlDataSetDefaultSetting(PDEControlData* r);
cf::StringRef PDEControlDataGetPPDValueString(const PDEControlData* r);
void PDEControlDataSetPPDValueString(PDEControlData* r, const cf::StringRef& choice);
void UpdateTicketWithPDEControl(PDEControlData* r, QVSession* session);
void mEnableALL(PDEControlDataTblRef table);
void mGetRadioItemNum(const ui::Matrix* matrix, int* columns, int* rows);

}  // namespace R2740_SECURITY_NS
