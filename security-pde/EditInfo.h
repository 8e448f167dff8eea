// Edit-text rules of the security panel: per-field text type, display-width
// limit, password and required flags, the character filters of the types,
// the East Asian display width and NFC normalisation.
#pragma once

#include <cstdint>

#include "SecurityKeys.h"
#include "cf/cf.h"

namespace R2740_SECURITY_NS {

// Text types.
enum : int32_t {
  kEditTextWide = 0,       // WideCharKeyFilter (also any type not listed)
  kEditTextWide2 = 1,      // WideCharKeyFilter2
  kEditTextAscii = 2,      // AsciiKeyFilter
  kEditTextAscii2 = 3,     // AsciiKeyFilter2
  kEditTextAlphaNum = 4,   // AlphaNumericKeyFilter
  kEditTextNumeric = 5,    // NumericKeyFilter
};

struct EditInfoRecord {
  const char* keyword;  // one of the constants of SecurityKeys.h; null ends
  int32_t type;
  int32_t maxLength;    // display width
  uint8_t password;     // 1 = password
  uint8_t required;     // 1 = required
};

// The table, terminated by a record with a null keyword.
extern const EditInfoRecord myEditInfTable[];

// Answers for a keyword the table does not hold (including null).
inline constexpr int32_t kEditTextUnknownType = kEditTextWide;
inline constexpr int32_t kEditTextUnknownMaxLength = 64;

// Lookups by keyword pointer identity.
int32_t GetEditTextType(const char* keyword);
int32_t GetEditTextMaxLength(const char* keyword);
bool IsEditTextRequired(const char* keyword);
bool IsEditTextPassword(const char* keyword);
int32_t GetEditInfoTableSize();  // 5
// The filter of the keyword's type applied to one code point.
bool FilterEditTextInputKey(const char* keyword, uint32_t codePoint);

// Character filters: true when the code point may stay.
bool WideCharKeyFilter(uint32_t c);      // all but U+00A5, U+FFE5
bool WideCharKeyFilter2(uint32_t c);     // U+0021..U+007E but '"'
bool AsciiKeyFilter(uint32_t c);         // U+0021..U+007E but '"'
bool AsciiKeyFilter2(uint32_t c);        // U+0020..U+007E but '"' and '+'
bool AlphaNumericKeyFilter(uint32_t c);  // 0-9 A-Z a-z
bool NumericKeyFilter(uint32_t c);       // 0-9

// Display width of one code point: 1 below U+0100, else 2 for East Asian
// Wide, Fullwidth and Ambiguous characters of Unicode 5.0, 1 otherwise.
int32_t EastAsianCodePointWidth(uint32_t c);
// Display width of a string, up to its first NUL; 0 for null or empty. A
// surrogate pair counts once, by its code point, and never less than 2 (one
// per UTF-16 unit), so the widest accepted text stays within what the
// ticket encoders take.
int32_t CFStringGetEastAsianWidth(const cf::StringRef& string);
// NFC form of the string (a new string); null for null or on failure.
cf::StringRef stringConvertNormalize(const cf::StringRef& string);
// New string of the characters that pass the keyword's filter; null for no
// characters. A surrogate pair is judged by its code point and kept or
// dropped whole; an unpaired surrogate is dropped.
cf::StringRef CheckUniCharString(const char16_t* chars, long length, const char* keyword);
// Code point at index (0 <= index < length, else 0 with *nextIndex =
// index + 1). A high surrogate followed by a low one is combined and
// *nextIndex = index + 2; any other unit stands alone, *nextIndex = index + 1.
// Never reads chars[length] or beyond. nextIndex may be null.
uint32_t UCFindComposedCharAtIndex(const char16_t* chars, long length, long index, long* nextIndex);

}  // namespace R2740_SECURITY_NS
