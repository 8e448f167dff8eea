// Services shared by both colour panes, as class methods of one class:
// control table building, PPD values, titles and menus, summary, the sync
// between controls and the print settings, rule-unit conversion and the
// profile entries of menus and ticket. The last two only forward to the
// panes and profiles folders, which define them.
//
// A "row" is a pointer into a control table; every routine answers its
// neutral result (0, null, nothing done) for a null row or table.
#pragma once

#include <cups/ppd.h>

#include <cstdint>

#include "bundle/bundle.h"
#include "cf/cf.h"
#include "printing/printing.h"
#include "PDEControlTable.h"

// Cuts a string into consecutive pieces of `chunk` UTF-16 units, the last
// one holding the rest; a string no longer than `chunk` (the empty one
// included) answers a one-element array holding it. A chunk of 0 is taken
// as 1. Plain function, shared with the profile store, so no suffix.
cf::ArrayRef splitCharEvery(const cf::StringRef& string, unsigned chunk);

namespace R2740_COLOR_NS {

using pm::OSStatus;

// Text-object encodings answered by commonGetEncodingFromPPD.
inline constexpr unsigned long kTextEncodingUTF8 = 4;
inline constexpr unsigned long kTextEncodingISOLatin1 = 5;
inline constexpr unsigned long kTextEncodingShiftJIS = 8;
inline constexpr unsigned long kTextEncodingWindowsCP1252 = 12;
inline constexpr unsigned long kTextEncodingMacOSRoman = 30;

class PDECommon {
 public:
  PDECommon() = delete;

  // ---- the plug-in's own bundle (localized strings come only from it) ----
  // Set once by the factory; null until then.
  static bndl::BundleRef commonGetPlugInBundle();
  static void commonSetPlugInBundle(const bndl::BundleRef& bundle);

  // ---- control table --------------------------------------------------
  static OSStatus commonAddPPDArray(const cf::ArrayRef& array, PDEControlTable table);
  // -30888 when the option is missing (*array untouched); else a new array
  // in *array filled with the option's choices, 0.
  static OSStatus commonGetPPDArrayForUIOption(ppd_file_t* ppd, const char* key, cf::ArrayRef* array);
  static OSStatus commonGetUIListFromPPD(ppd_file_t* ppd, const char* key, const cf::ArrayRef& array,
                                         int16_t* count);
  // Leaves the PPD's marks as they were.
  static bool commonIsPPDChoiceConflicted(ppd_file_t* ppd, const char* option, const char* choice);
  static int32_t commonFindPPDKeyPairsMatch(const cf::ArrayRef& choices, const cf::StringRef& option,
                                            const cf::StringRef& choice);
  // A new table (free with FreeControlTable) holding the rows of `count`
  // tables in order and one terminator; shares their choice lists. Null
  // when memory runs out.
  static PDEControlTable commonControlTableCompound(const PDEControlTable* tables, int16_t count);

  // ---- PPD and control values -------------------------------------------
  static void commonBuildPDEItem(PDEControlTable table, ppd_file_t* ppd);
  static void commonSetControlTitleFromLocalizeString(const PDEControlRecord* row);
  static void commonReBuildMenuFromPPD(ppd_file_t* ppd, const PDEControlRecord* row);
  static unsigned long commonGetEncodingFromPPD(ppd_file_t* ppd);
  static cf::StringEncoding commonGetCFStringEncodingFromPPD(ppd_file_t* ppd);
  static int32_t commonGetControlValueWithSInt32(const PDEControlRecord* row);
  static void commonSetControlValueWithSInt32(const PDEControlRecord* row, int32_t value);
  static int32_t commonGetControlValueFromPPDWithSInt32(const PDEControlRecord* row);
  static cf::StringRef commonGetControlValueFromPPDWithNSString(const PDEControlRecord* row);
  static int32_t commonGetTicketValueWithSInt32(const PDEControlRecord* row, const cf::StringRef& option,
                                                const cf::Ref& choice);
  static int32_t commonGetDefualtValueFromPPDWithSInt32(const PDEControlRecord* row);
  static void commonDefaultFromPPDInfo(PDEControlTable table);
  static OSStatus commonGetSummaryText(PDEControlTable table, const cf::DictionaryRef& dict,
                                       const cf::ArrayRef& array);
  // itemKey: localization key of the item name; value: the display string.
  static OSStatus commonGetSummaryTextQuickColor(const char* itemKey, const cf::StringRef& value,
                                                 const cf::DictionaryRef& dict, const cf::ArrayRef& array);

  // ---- print settings ---------------------------------------------------
  // The build's model key; the argument is not consulted.
  static cf::StringRef commonGetPPDProductName(pm::PMPrintSettings settings);
  static cf::StringRef commonGetPrintQueueName(pm::PMPrintSession session);
  // The queue dictionary of the session's printer inside the model
  // dictionary of the settings, created on first use; null when there is
  // no current printer or the model entry is not a dictionary.
  static cf::DictionaryRef commonGetModelDictionary(pm::PMPrintSettings settings, pm::PMPrintSession session);
  static cf::DictionaryRef commonCFDictionaryGetValueWithType(const cf::Ref& dict, const cf::Ref& key);
  static bool commonCFTypeIsValid(const cf::Ref& object, cf::TypeID type);
  static OSStatus commonCFDictionaryMapToTicket(pm::PMPrintSettings settings, const cf::DictionaryRef& dict);
  static OSStatus commonSyncTicketFromPane(pm::PMPrintSettings settings, pm::PMPrintSession session,
                                           PDEControlTable table);
  static OSStatus commonSyncPaneFromTicket(pm::PMPrintSettings settings, pm::PMPrintSession session,
                                           PDEControlTable table);

  // ---- rule units (forwarders to ColorPresetRules.h) ----------------------
  static int32_t commonConvertToCSTValue(const PDEControlRecord* row, int32_t value);
  static int32_t commonConvertFromCSTValue(const PDEControlRecord* row, int32_t value);

  // ---- device profiles (forwarders to ProfileDeviceWalk.h and ProfileMenus.h)
  static int commonGetProfilesFromMIB(pm::PMPrintSession session);
  // A ProfileProtocol value.
  static int16_t commoniGetProtocolByUrl(const cf::StringRef& uri);
  static int16_t commoniGetProtocol(pm::PMPrintSession session);
  static int commonAddMenuFromProfilePlist(PDEControlTable table);
  static int commonSetTicketAddedProfileFlag(const PDEControlRecord* row, const cf::DictionaryRef& dict,
                                             const cf::StringRef& flag);
  static int16_t commonSetTicketAddedProfile(const PDEControlRecord* row, const cf::DictionaryRef& dict,
                                             int16_t select);
  static cf::StringRef commonGetTicketAddedProfileFlag(const PDEControlRecord* row, const cf::DictionaryRef& dict);
  static int16_t commonGetTicketAddedProfile(const PDEControlRecord* row, const cf::DictionaryRef& dict);
};

}  // namespace R2740_COLOR_NS
