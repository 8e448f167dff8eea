// Where the security panel keeps its values in the print settings, the
// accessors for them, the paper and page-format queries of the constraint
// engine, and small value helpers.
//
// Layout: settings["R2740"] is the model dictionary; inside it, under the
// current printer's identifier, the per-queue dictionary holding PPD
// keyword -> choice and the "jp.orvessa.printers.R2740.*" entries.
#pragma once

#include <cups/ppd.h>

#include <cstdint>
#include <string>

#include "PDECore.h"
#include "SecurityBuild.h"
#include "cf/cf.h"
#include "printing/printing.h"

namespace R2740_SECURITY_NS {

struct PDEControlData;

// ---- ticket dictionaries -------------------------------------------------
cf::StringRef ticketGetPrintQueueName(pm::PMPrintSession session);
// The per-queue dictionary, created with the model dictionary when absent;
// null without print settings or current printer.
cf::DictionaryRef ticketGetModelDictionary(pm::PMPrintSettings settings, pm::PMPrintSession session);
void ticketCFDictionaryMapToTicket(pm::PMPrintSettings settings, const cf::DictionaryRef& dict);
void ticketCopyToRoot(pm::PMPrintSettings settings, pm::PMPrintSession session);

cf::DictionaryRef PDECoreGetModelDictionary(QVSession* session);
pm::OSStatus PDECustomGetJobTicketPPDDict(QVSession* session, const cf::StringRef& key, cf::StringRef* value);
pm::OSStatus PDECustomSetJobTicketPPDDict(QVSession* session, const char* keyword, const char* choice);
pm::OSStatus UpdateTicketWithPPDOption(QVSession* session, PPDUIOption* option, int index);
pm::OSStatus PDECustomSetJobTicketWithArgument(PDEControlData* record, QVSession* session);
pm::OSStatus PDECustomGetJobTicketPPDDictRoot(QVSession* session, const cf::StringRef& key, cf::StringRef* value);
pm::OSStatus PDECustomGetJobTicketSInt32DictPMPrintSettingsRef(QVSession* session, const char* key, int32_t* value);
pm::OSStatus PDECustomGetJobTicketSInt32DictPMPageFormatRef(QVSession* session, const char* key, int32_t* value);

// ---- print-settings readers ----------------------------------------------
bool QVIsPrintSettingsItem(pm::PMPrintSettings settings, const cf::StringRef& key);
pm::OSStatus QVPrintSettingsSetItem(pm::PMPrintSettings settings, const char* domain, const cf::StringRef& key,
                                    const cf::Ref& value, bool locked);
pm::OSStatus QVPrintSettingsGetCFDictionary(pm::PMPrintSettings settings, const cf::StringRef& key, cf::Ref* value);
pm::OSStatus QVPrintSettingsGetCFNumber(pm::PMPrintSettings settings, const cf::StringRef& key, cf::Ref* value);
pm::OSStatus QVPrintSettingsGetString(pm::PMPrintSettings settings, const cf::StringRef& key, cf::StringRef* value);
pm::OSStatus QVPrintSettingsGetBoolean(pm::PMPrintSettings settings, const cf::StringRef& key, bool* value);
pm::OSStatus QVPrintSettingsGetSInt32(pm::PMPrintSettings settings, const cf::StringRef& key, int32_t* value);
pm::OSStatus QVPrintSettingsGetPaperName(QVSession* session, pm::PMPrintSettings settings, cf::StringRef* name);
pm::OSStatus QVPageFormatGetSInt32(pm::PMPageFormat format, const cf::StringRef& key, int32_t* value);
pm::OSStatus QVPageFormatGetPaperName(pm::PMPageFormat format, cf::StringRef* name);
pm::OSStatus QVPageFormatGetOrientation(pm::PMPageFormat format, pm::PMOrientation* orientation);
pm::OSStatus QVGetDocumentPaperRect(QVSession* session, pm::PMRect* rect);

// ---- paper queries -------------------------------------------------------
uint32_t GetSystemVersion();
bool IsDocumentUseFitToPage(QVSession* session);
pm::OSStatus GetDestinationPaperName(QVSession* session, cf::StringRef* name);
pm::OSStatus GetDocumentPaperName(QVSession* session, cf::StringRef* name, bool* isCustom);
pm::OSStatus GetCustomPaperNameFromPlist(const cf::StringRef& paperID, cf::StringRef* name, bool* found);
pm::OSStatus GetDocumentPaperRect(QVSession* session, pm::PMRect* rect);
pm::OSStatus GetDocumentOrientation(QVSession* session, pm::PMOrientation* orientation);
bool IsCustomPaperSizeWithinRange(QVSession* session, const pm::PMRect& rect, pm::PMOrientation orientation);

// ---- value helpers -------------------------------------------------------
enum ValueTypeCode : int {
  kTypeAny = 0,
  kTypeDictionary = 1,
  kTypeArray = 2,
  kTypeString = 3,
  kTypeURL = 4,
  kTypeNumber = 5,
  kTypeBoolean = 6,
};
bool CFTypeIsValid(const cf::Ref& object, cf::TypeID type);
cf::Ref CFDictionaryGetValueWithType(const cf::Ref& dictionary, const cf::StringRef& key, int typeCode);
bool CFDictionaryGetValueIfPresentWithType(const cf::Ref& dictionary, const cf::StringRef& key, cf::Ref* value,
                                           int typeCode);
cf::Ref CFArrayGetValueAtIndexWithType(const cf::Ref& array, long index, int typeCode);
bool CFStringIsEmpty(const cf::StringRef& s);
cf::StringRef CFStringCreateWithIntValue(int32_t value);
bool CFStringEqualTo(const cf::StringRef& a, const cf::StringRef& b, bool caseSensitive);
long str2num(const char* text);
cf::DictionaryRef MyPListCreateDictionaryFromPath(const std::string& path);
cf::DictionaryRef MyPListCreateDictionaryMutableFromPath(const std::string& path);
void CoArrayAddObject(const cf::ArrayRef& array, const cf::Ref& object);

}  // namespace R2740_SECURITY_NS
