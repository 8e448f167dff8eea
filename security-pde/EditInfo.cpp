// Edit-text rules of the security panel: the per-field table, character
// filters, East Asian display width and NFC normalisation.
#include "EditInfo.h"

#include <unicode/unorm2.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace R2740_SECURITY_NS {

namespace {
// The texts live in named arrays so that the table below refers to the same
// addresses as the exported pointers and is filled before any code runs.
constexpr char kPrintModeText[] = "PrintModeR2740";
constexpr char kAuthenticationText[] = "QVAuthenticationR2740";
constexpr char kSectionManagementText[] = "QVSectionManagementR2740";
constexpr char kUserTypeText[] = "jp.orvessa.printers.R2740.userType";
constexpr char kSecureText[] = "jp.orvessa.printers.R2740.secureKey";
constexpr char kUserNameText[] = "jp.orvessa.printers.R2740.userName";
constexpr char kUserText[] = "jp.orvessa.printers.R2740.userKey";
constexpr char kSectionNameText[] = "jp.orvessa.printers.R2740.sectionName";
constexpr char kSectionText[] = "jp.orvessa.printers.R2740.sectionKey";
constexpr char kLoginNameText[] = "jp.orvessa.printers.R2740.loginName";
}  // namespace

constinit const char* const kPrintModeKey = kPrintModeText;
constinit const char* const kAuthenticationKey = kAuthenticationText;
constinit const char* const kSectionManagementKey = kSectionManagementText;
constinit const char* const kUserTypeKey = kUserTypeText;
constinit const char* const kSecureKey = kSecureText;
constinit const char* const kUserNameKey = kUserNameText;
constinit const char* const kUserKey = kUserText;
constinit const char* const kSectionNameKey = kSectionNameText;
constinit const char* const kSectionKey = kSectionText;
constinit const char* const kLoginNameKey = kLoginNameText;

constinit const EditInfoRecord myEditInfTable[] = {
    {kSecureText, kEditTextAscii2, 8, 1, 1},
    {kUserNameText, kEditTextWide, 64, 0, 1},
    {kUserText, kEditTextAscii, 64, 1, 0},
    {kSectionNameText, kEditTextWide2, 8, 0, 0},
    {kSectionText, kEditTextAscii, 8, 1, 0},
    {nullptr, 0, 0, 0, 0},
};

namespace {

const EditInfoRecord* FindEditInfo(const char* keyword) {
  if (keyword == nullptr) return nullptr;
  for (const EditInfoRecord* r = myEditInfTable; r->keyword != nullptr; ++r)
    if (r->keyword == keyword) return r;
  return nullptr;
}

struct Range {
  uint32_t first;
  uint32_t last;
};

// Code points from U+0100 on that are East Asian Wide, Fullwidth or
// Ambiguous in Unicode 5.0, as closed ranges in ascending order.
constexpr Range kWideRanges[] = {
    {0x0101, 0x0101},
    {0x0111, 0x0111},
    {0x0113, 0x0113},
    {0x011B, 0x011B},
    {0x0126, 0x0127},
    {0x012B, 0x012B},
    {0x0131, 0x0133},
    {0x0138, 0x0138},
    {0x013F, 0x0142},
    {0x0144, 0x0144},
    {0x0148, 0x014B},
    {0x014D, 0x014D},
    {0x0152, 0x0153},
    {0x0166, 0x0167},
    {0x016B, 0x016B},
    {0x01CE, 0x01CE},
    {0x01D0, 0x01D0},
    {0x01D2, 0x01D2},
    {0x01D4, 0x01D4},
    {0x01D6, 0x01D6},
    {0x01D8, 0x01D8},
    {0x01DA, 0x01DA},
    {0x01DC, 0x01DC},
    {0x0251, 0x0251},
    {0x0261, 0x0261},
    {0x02C4, 0x02C4},
    {0x02C7, 0x02C7},
    {0x02C9, 0x02CB},
    {0x02CD, 0x02CD},
    {0x02D0, 0x02D0},
    {0x02D8, 0x02DB},
    {0x02DD, 0x02DD},
    {0x02DF, 0x02DF},
    {0x0300, 0x036F},
    {0x0391, 0x03A1},
    {0x03A3, 0x03A9},
    {0x03B1, 0x03C1},
    {0x03C3, 0x03C9},
    {0x0401, 0x0401},
    {0x0410, 0x044F},
    {0x0451, 0x0451},
    {0x1100, 0x1159},
    {0x115F, 0x115F},
    {0x2010, 0x2010},
    {0x2013, 0x2016},
    {0x2018, 0x2019},
    {0x201C, 0x201D},
    {0x2020, 0x2022},
    {0x2024, 0x2027},
    {0x2030, 0x2030},
    {0x2032, 0x2033},
    {0x2035, 0x2035},
    {0x203B, 0x203B},
    {0x203E, 0x203E},
    {0x2074, 0x2074},
    {0x207F, 0x207F},
    {0x2081, 0x2084},
    {0x20AC, 0x20AC},
    {0x2103, 0x2103},
    {0x2105, 0x2105},
    {0x2109, 0x2109},
    {0x2113, 0x2113},
    {0x2116, 0x2116},
    {0x2121, 0x2122},
    {0x2126, 0x2126},
    {0x212B, 0x212B},
    {0x2153, 0x2154},
    {0x215B, 0x215E},
    {0x2160, 0x216B},
    {0x2170, 0x2179},
    {0x2190, 0x2199},
    {0x21B8, 0x21B9},
    {0x21D2, 0x21D2},
    {0x21D4, 0x21D4},
    {0x21E7, 0x21E7},
    {0x2200, 0x2200},
    {0x2202, 0x2203},
    {0x2207, 0x2208},
    {0x220B, 0x220B},
    {0x220F, 0x220F},
    {0x2211, 0x2211},
    {0x2215, 0x2215},
    {0x221A, 0x221A},
    {0x221D, 0x2220},
    {0x2223, 0x2223},
    {0x2225, 0x2225},
    {0x2227, 0x222C},
    {0x222E, 0x222E},
    {0x2234, 0x2237},
    {0x223C, 0x223D},
    {0x2248, 0x2248},
    {0x224C, 0x224C},
    {0x2252, 0x2252},
    {0x2260, 0x2261},
    {0x2264, 0x2267},
    {0x226A, 0x226B},
    {0x226E, 0x226F},
    {0x2282, 0x2283},
    {0x2286, 0x2287},
    {0x2295, 0x2295},
    {0x2299, 0x2299},
    {0x22A5, 0x22A5},
    {0x22BF, 0x22BF},
    {0x2312, 0x2312},
    {0x2329, 0x232A},
    {0x2460, 0x24E9},
    {0x24EB, 0x254B},
    {0x2550, 0x2573},
    {0x2580, 0x258F},
    {0x2592, 0x2595},
    {0x25A0, 0x25A1},
    {0x25A3, 0x25A9},
    {0x25B2, 0x25B3},
    {0x25B6, 0x25B7},
    {0x25BC, 0x25BD},
    {0x25C0, 0x25C1},
    {0x25C6, 0x25C8},
    {0x25CB, 0x25CB},
    {0x25CE, 0x25D1},
    {0x25E2, 0x25E5},
    {0x25EF, 0x25EF},
    {0x2605, 0x2606},
    {0x2609, 0x2609},
    {0x260E, 0x260F},
    {0x2614, 0x2615},
    {0x261C, 0x261C},
    {0x261E, 0x261E},
    {0x2640, 0x2640},
    {0x2642, 0x2642},
    {0x2660, 0x2661},
    {0x2663, 0x2665},
    {0x2667, 0x266A},
    {0x266C, 0x266D},
    {0x266F, 0x266F},
    {0x273D, 0x273D},
    {0x2776, 0x277F},
    {0x2E80, 0x2E99},
    {0x2E9B, 0x2EF3},
    {0x2F00, 0x2FD5},
    {0x2FF0, 0x2FFB},
    {0x3000, 0x303E},
    {0x3041, 0x3096},
    {0x3099, 0x30FF},
    {0x3105, 0x312C},
    {0x3131, 0x318E},
    {0x3190, 0x31B7},
    {0x31C0, 0x31CF},
    {0x31F0, 0x321E},
    {0x3220, 0x3243},
    {0x3250, 0x32FE},
    {0x3300, 0x4DB5},
    {0x4E00, 0x9FBB},
    {0xA000, 0xA48C},
    {0xA490, 0xA4C6},
    {0xAC00, 0xD7A3},
    {0xE000, 0xFA2D},
    {0xFA30, 0xFA6A},
    {0xFA70, 0xFAD9},
    {0xFE00, 0xFE19},
    {0xFE30, 0xFE52},
    {0xFE54, 0xFE66},
    {0xFE68, 0xFE6B},
    {0xFF01, 0xFF60},
    {0xFFE0, 0xFFE6},
    {0xFFFD, 0xFFFD},
    {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
    {0xE0100, 0xE01EF},
    {0xF0000, 0xFFFFD},
    {0x100000, 0x10FFFD},
};

constexpr bool IsLead(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool IsTrail(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
constexpr bool IsSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

}  // namespace

int32_t GetEditTextType(const char* keyword) {
  const EditInfoRecord* r = FindEditInfo(keyword);
  return r ? r->type : kEditTextUnknownType;
}

int32_t GetEditTextMaxLength(const char* keyword) {
  const EditInfoRecord* r = FindEditInfo(keyword);
  return r ? r->maxLength : kEditTextUnknownMaxLength;
}

bool IsEditTextRequired(const char* keyword) {
  const EditInfoRecord* r = FindEditInfo(keyword);
  return r != nullptr && r->required == 1;
}

bool IsEditTextPassword(const char* keyword) {
  const EditInfoRecord* r = FindEditInfo(keyword);
  return r != nullptr && r->password == 1;
}

int32_t GetEditInfoTableSize() {
  int32_t n = 0;
  while (myEditInfTable[n].keyword != nullptr) ++n;
  return n;
}

bool WideCharKeyFilter(uint32_t c) { return c != 0x00A5 && c != 0xFFE5; }
bool WideCharKeyFilter2(uint32_t c) { return c >= 0x21 && c <= 0x7E && c != '"'; }
bool AsciiKeyFilter(uint32_t c) { return c >= 0x21 && c <= 0x7E && c != '"'; }
bool AsciiKeyFilter2(uint32_t c) { return c >= 0x20 && c <= 0x7E && c != '"' && c != '+'; }
bool AlphaNumericKeyFilter(uint32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool NumericKeyFilter(uint32_t c) { return c >= '0' && c <= '9'; }

bool FilterEditTextInputKey(const char* keyword, uint32_t codePoint) {
  switch (GetEditTextType(keyword)) {
    case kEditTextWide2:
      return WideCharKeyFilter2(codePoint);
    case kEditTextAscii:
      return AsciiKeyFilter(codePoint);
    case kEditTextAscii2:
      return AsciiKeyFilter2(codePoint);
    case kEditTextAlphaNum:
      return AlphaNumericKeyFilter(codePoint);
    case kEditTextNumeric:
      return NumericKeyFilter(codePoint);
    default:
      return WideCharKeyFilter(codePoint);
  }
}

int32_t EastAsianCodePointWidth(uint32_t c) {
  if (c < 0x100) return 1;
  const Range* end = std::end(kWideRanges);
  const Range* r = std::upper_bound(std::begin(kWideRanges), end, c,
                                    [](uint32_t v, const Range& range) { return v < range.first; });
  if (r == std::begin(kWideRanges)) return 1;
  --r;
  return c <= r->last ? 2 : 1;
}

uint32_t UCFindComposedCharAtIndex(const char16_t* chars, long length, long index, long* nextIndex) {
  if (nextIndex) *nextIndex = index + 1;
  if (chars == nullptr || index < 0 || index >= length) return 0;
  const char16_t u = chars[index];
  if (IsLead(u) && index + 1 < length && IsTrail(chars[index + 1])) {
    if (nextIndex) *nextIndex = index + 2;
    return 0x10000u + ((uint32_t{u} - 0xD800u) << 10) + (uint32_t{chars[index + 1]} - 0xDC00u);
  }
  return u;
}

int32_t CFStringGetEastAsianWidth(const cf::StringRef& string) {
  if (!string || string->empty()) return 0;
  const std::u16string units = string->utf16();
  const long length = static_cast<long>(units.size());
  int32_t width = 0;
  for (long i = 0; i < length && units[i] != 0;) {
    long next = i + 1;
    const uint32_t c = UCFindComposedCharAtIndex(units.data(), length, i, &next);
    // A pair is two units wide at least, so no accepted text needs more
    // than three UTF-8 bytes per unit of width.
    width += std::max<int32_t>(EastAsianCodePointWidth(c), static_cast<int32_t>(next - i));
    i = next;
  }
  return width;
}

cf::StringRef stringConvertNormalize(const cf::StringRef& string) {
  if (!string) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
  if (U_FAILURE(status) || nfc == nullptr) return nullptr;
  const std::u16string src = string->utf16();
  if (src.empty()) return cf::String::create("");
  const int32_t srcLength = static_cast<int32_t>(src.size());
  std::u16string dest(src.size() + 16, u'\0');
  int32_t needed = unorm2_normalize(nfc, reinterpret_cast<const UChar*>(src.data()), srcLength,
                                    reinterpret_cast<UChar*>(dest.data()), static_cast<int32_t>(dest.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    dest.assign(static_cast<size_t>(needed), u'\0');
    needed = unorm2_normalize(nfc, reinterpret_cast<const UChar*>(src.data()), srcLength,
                              reinterpret_cast<UChar*>(dest.data()), static_cast<int32_t>(dest.size()), &status);
  }
  if (U_FAILURE(status)) return nullptr;
  dest.resize(static_cast<size_t>(needed));
  return cf::String::createWithUTF16(dest);
}

cf::StringRef CheckUniCharString(const char16_t* chars, long length, const char* keyword) {
  if (chars == nullptr || length <= 0) return nullptr;
  std::u16string kept;
  kept.reserve(static_cast<size_t>(length));
  for (long i = 0; i < length;) {
    long next = i + 1;
    const uint32_t c = UCFindComposedCharAtIndex(chars, length, i, &next);
    // An unpaired surrogate is not a character and cannot be stored.
    const bool lone = next == i + 1 && IsSurrogate(chars[i]);
    if (!lone && FilterEditTextInputKey(keyword, c)) kept.append(chars + i, chars + next);
    i = next;
  }
  return cf::String::createWithUTF16(kept);
}

}  // namespace R2740_SECURITY_NS
