// Text of an opened PPD as a string, decoded with the PPD's own encoding.
#pragma once

#include <cups/ppd.h>

#include "PDECommon.h"

namespace R2740_COLOR_NS {

// Null for a null text. Bytes the PPD's encoding rejects are read as
// ISO Latin 1 rather than dropped, so a choice never loses its text.
inline cf::StringRef PPDText(ppd_file_t* ppd, const char* text) {
  if (!text) return nullptr;
  auto s = cf::String::createWithCString(text, PDECommon::commonGetCFStringEncodingFromPPD(ppd));
  if (!s) s = cf::String::createWithCString(text, cf::kCFStringEncodingISOLatin1);
  return s;
}

}  // namespace R2740_COLOR_NS
