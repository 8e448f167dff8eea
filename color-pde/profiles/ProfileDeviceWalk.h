// The plug-in side of the device walk (PDECommon forwards its protocol and
// walk services here).
#pragma once

#include <cstdint>

#include "BuildSuffix.h"
#include "cf/cf.h"
#include "printing/printing.h"

namespace R2740_COLOR_NS {

// Classes of a queue's device URI.
enum ProfileProtocol : int16_t {
  kProfileProtocolOther = -1,
  kProfileProtocolLpd = 0,
  kProfileProtocolBonjour = 1,  // mdns, dnssd
  kProfileProtocolPap = 2,
  kProfileProtocolUsb = 3,
};

// The class of a device URI; kProfileProtocolOther for anything else or no
// URI.
int16_t GetProtocolByUrl(const cf::StringRef& uri);
// The class of the session's current printer's device URI.
int16_t GetProtocol(pm::PMPrintSession session);

// Backs up the profile file and has the helper walk the printer for its
// profiles; leaves a notice when the profile file could not be read.
// Always 0.
int GetProfilesFromMIB(pm::PMPrintSession session);

}  // namespace R2740_COLOR_NS
