// Profile menus and profile ticket entries, as they behave with no profile
// file: menus keep only the PPD choices, no profile reaches the ticket.
#include "PDECommon.h"

namespace R2740_COLOR_NS {

int PDECommon::commonAddMenuFromProfilePlist(PDEControlTable) { return -1; }

int PDECommon::commonSetTicketAddedProfileFlag(const PDEControlRecord*, const cf::DictionaryRef&,
                                               const cf::StringRef&) {
  return 0;
}

int16_t PDECommon::commonSetTicketAddedProfile(const PDEControlRecord*, const cf::DictionaryRef&, int16_t) {
  return -1;
}

cf::StringRef PDECommon::commonGetTicketAddedProfileFlag(const PDEControlRecord*, const cf::DictionaryRef&) {
  return nullptr;
}

int16_t PDECommon::commonGetTicketAddedProfile(const PDEControlRecord*, const cf::DictionaryRef&) { return 0; }

}  // namespace R2740_COLOR_NS
