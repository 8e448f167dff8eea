// The services of PDECommon that the folders defining them own: the rule
// units (panes) and the device profiles (profiles).
#include "ColorPresetRules.h"
#include "PDECommon.h"
#include "ProfileDeviceWalk.h"
#include "ProfileMenus.h"

namespace R2740_COLOR_NS {

int32_t PDECommon::commonConvertToCSTValue(const PDEControlRecord* row, int32_t value) {
  return ConvertToCSTValue(row, value);
}

int32_t PDECommon::commonConvertFromCSTValue(const PDEControlRecord* row, int32_t value) {
  return ConvertFromCSTValue(row, value);
}

int PDECommon::commonGetProfilesFromMIB(pm::PMPrintSession session) { return GetProfilesFromMIB(session); }

int16_t PDECommon::commoniGetProtocolByUrl(const cf::StringRef& uri) { return GetProtocolByUrl(uri); }

int16_t PDECommon::commoniGetProtocol(pm::PMPrintSession session) { return GetProtocol(session); }

int PDECommon::commonAddMenuFromProfilePlist(PDEControlTable table) { return AddMenuFromProfilePlist(table); }

int PDECommon::commonSetTicketAddedProfileFlag(const PDEControlRecord* row, const cf::DictionaryRef& dict,
                                               const cf::StringRef& flag) {
  return SetTicketAddedProfileFlag(row, dict, flag);
}

int16_t PDECommon::commonSetTicketAddedProfile(const PDEControlRecord* row, const cf::DictionaryRef& dict,
                                               int16_t select) {
  return SetTicketAddedProfile(row, dict, select);
}

cf::StringRef PDECommon::commonGetTicketAddedProfileFlag(const PDEControlRecord* row, const cf::DictionaryRef& dict) {
  return GetTicketAddedProfileFlag(row, dict);
}

int16_t PDECommon::commonGetTicketAddedProfile(const PDEControlRecord* row, const cf::DictionaryRef& dict) {
  return GetTicketAddedProfile(row, dict);
}

}  // namespace R2740_COLOR_NS
