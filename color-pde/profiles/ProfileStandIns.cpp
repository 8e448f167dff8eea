// Profile menus, profile ticket entries and the device walk, as they behave
// with no helper application and no profile file: no walk starts, menus
// keep only the PPD choices, no profile reaches the ticket.
#include <string>

#include "PDECommon.h"

namespace R2740_COLOR_NS {

int PDECommon::commonGetProfilesFromMIB(pm::PMPrintSession) { return 0; }

int16_t PDECommon::commoniGetProtocolByUrl(const cf::StringRef& uri) {
  if (!uri) return -1;
  const std::string& s = uri->utf8();
  auto starts = [&](const char* prefix) { return s.rfind(prefix, 0) == 0; };
  if (starts("mdns://") || starts("dnssd://")) return 1;
  if (starts("lpd://")) return 0;
  if (starts("pap://")) return 2;
  if (starts("usb://")) return 3;
  return -1;
}

int16_t PDECommon::commoniGetProtocol(pm::PMPrintSession session) {
  pm::PMPrinter printer = nullptr;
  if (!session || pm::PMSessionGetCurrentPrinter(session, &printer) != pm::noErr || !printer) return -1;
  cf::URLRef uri;
  if (pm::PMPrinterCopyDeviceURI(printer, &uri) != pm::noErr || !uri) return -1;
  return commoniGetProtocolByUrl(cf::str(uri->string()));
}

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
