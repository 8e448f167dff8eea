// Shared between the key table's generated data and its reader.
#pragma once

#include "QVCrypto.h"

namespace R2740_SECURITY_NS {

// Stored position of each working byte: working[i] = stored[AesKeyTbOrder[i]].
extern const unsigned char AesKeyTbOrder[kAesKeyMaterialSize];

}  // namespace R2740_SECURITY_NS
