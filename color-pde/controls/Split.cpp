#include <algorithm>

#include "PDECommon.h"

namespace {
bool IsLeadSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
}  // namespace

cf::ArrayRef splitCharEvery(const cf::StringRef& string, unsigned chunk) {
  auto pieces = cf::Array::create();
  if (!string) return pieces;
  if (chunk == 0) chunk = 1;
  std::u16string units = string->utf16();
  if (units.size() <= chunk) {
    pieces->append(string);
    return pieces;
  }
  std::u16string_view all(units);
  size_t at = 0;
  while (at < all.size()) {
    size_t end = std::min(all.size(), at + chunk);
    // A cut between the two halves of a surrogate pair would leave two
    // pieces that are not text; keep the pair in one piece.
    if (end < all.size() && IsLeadSurrogate(all[end - 1])) end = (end - 1 > at) ? end - 1 : end + 1;
    pieces->append(cf::String::createWithUTF16(all.substr(at, end - at)));
    at = end;
  }
  return pieces;
}
