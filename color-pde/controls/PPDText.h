// Text of an opened PPD as a string. libcups converts option, choice and
// group texts to UTF-8 when it opens a PPD, and translation strings are
// UTF-8 anyway; the PPD's own encoding is the fallback for other bytes.
#pragma once

#include <cups/ppd.h>

#include "PDECommon.h"

namespace R2740_COLOR_NS {

// Null for a null text. Bytes no encoding takes are read as ISO Latin 1
// rather than dropped, so a choice never loses its text.
inline cf::StringRef PPDText(ppd_file_t* ppd, const char* text) {
  if (!text) return nullptr;
  auto s = cf::String::createWithCString(text, cf::kCFStringEncodingUTF8);
  if (!s) s = cf::String::createWithCString(text, PDECommon::commonGetCFStringEncodingFromPPD(ppd));
  if (!s) s = cf::String::createWithCString(text, cf::kCFStringEncodingISOLatin1);
  return s;
}

}  // namespace R2740_COLOR_NS
