// Edit-text table, filters, display width and normalisation.
#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <memory>
#include <string>

#include "EditInfo.h"
#include "QVCrypto.h"

using namespace R2740_SECURITY_NS;

namespace {

cf::StringRef U(const std::u16string& s) { return cf::String::createWithUTF16(s); }

std::u16string Filter(const char* keyword, const std::u16string& s) {
  const auto r = CheckUniCharString(s.data(), static_cast<long>(s.size()), keyword);
  return r ? r->utf16() : u"<null>";
}

}  // namespace

TEST(EditInfoTable, LookupsByKeywordIdentity) {
  EXPECT_EQ(GetEditInfoTableSize(), 5);
  struct {
    const char* key;
    int32_t type, max;
    bool password, required;
  } rows[] = {{kSecureKey, 3, 8, true, true},
              {kUserNameKey, 0, 64, false, true},
              {kUserKey, 2, 64, true, false},
              {kSectionNameKey, 1, 8, false, false},
              {kSectionKey, 2, 8, true, false}};
  for (const auto& r : rows) {
    EXPECT_EQ(GetEditTextType(r.key), r.type) << r.key;
    EXPECT_EQ(GetEditTextMaxLength(r.key), r.max) << r.key;
    EXPECT_EQ(IsEditTextPassword(r.key), r.password) << r.key;
    EXPECT_EQ(IsEditTextRequired(r.key), r.required) << r.key;
  }
  EXPECT_STREQ(kSecureKey, "jp.orvessa.printers.R2740.secureKey");
  EXPECT_STREQ(kSectionNameKey, "jp.orvessa.printers.R2740.sectionName");

  // An equal text at another address, a static row's null keyword, and the
  // other ticket keys are not in the table.
  const std::string copy = kSecureKey;
  for (const char* k : {copy.c_str(), static_cast<const char*>(nullptr), kUserTypeKey, kPrintModeKey}) {
    EXPECT_FALSE(IsEditTextPassword(k));
    EXPECT_FALSE(IsEditTextRequired(k));
    EXPECT_EQ(GetEditTextType(k), kEditTextUnknownType);
    EXPECT_EQ(GetEditTextMaxLength(k), kEditTextUnknownMaxLength);
  }
}

TEST(EditInfoFilters, PerTypeAndPerField) {
  for (uint32_t c = 0; c < 0x80; ++c) {
    const bool printable = c >= 0x21 && c <= 0x7E && c != '"';
    EXPECT_EQ(WideCharKeyFilter2(c), printable) << c;
    EXPECT_EQ(AsciiKeyFilter(c), printable) << c;
    EXPECT_EQ(AsciiKeyFilter2(c), (printable || c == ' ') && c != '+') << c;
    EXPECT_EQ(AlphaNumericKeyFilter(c), std::isalnum(static_cast<int>(c)) != 0) << c;
    EXPECT_EQ(NumericKeyFilter(c), c >= '0' && c <= '9') << c;
    EXPECT_TRUE(WideCharKeyFilter(c)) << c;
  }
  EXPECT_FALSE(WideCharKeyFilter(0xA5));
  EXPECT_FALSE(WideCharKeyFilter(0xFFE5));
  EXPECT_TRUE(WideCharKeyFilter(0x6F22));
  EXPECT_FALSE(WideCharKeyFilter2(0xE9));
  EXPECT_FALSE(AsciiKeyFilter(0xFF01));

  // Pasting "a+ b" into the document password keeps the space, drops '+';
  // into the user password keeps '+', drops the space.
  EXPECT_EQ(Filter(kSecureKey, u"a+ b"), u"a b");
  EXPECT_EQ(Filter(kUserKey, u"a+ b"), u"a+b");
  EXPECT_EQ(Filter(kSectionNameKey, u"A b\"c\u00E9~"), u"Abc~");
  EXPECT_EQ(Filter(kUserNameKey, u"\u00A5x\uFFE5\u5C71\u00E9"), u"x\u5C71\u00E9");
  // Keywords outside the table filter as type 0.
  EXPECT_EQ(Filter(nullptr, u"\u00A5 z"), u" z");
  EXPECT_EQ(Filter(kSecureKey, u"\"\""), u"");

  // A surrogate pair is judged once, by its code point, and kept whole; an
  // unpaired surrogate is dropped.
  EXPECT_EQ(Filter(kUserNameKey, u"a\U00020000b"), u"a\U00020000b");
  EXPECT_EQ(Filter(kUserKey, u"a\U00020000b"), u"ab");
  const std::u16string lone = {u'a', 0xD800, u'b', 0xDC00};
  EXPECT_EQ(Filter(kUserNameKey, lone), u"ab");

  EXPECT_EQ(CheckUniCharString(nullptr, 3, kUserKey), nullptr);
  EXPECT_EQ(CheckUniCharString(u"abc", 0, kUserKey), nullptr);
}

TEST(EditInfoWidth, EastAsianWidthOfStrings) {
  EXPECT_EQ(CFStringGetEastAsianWidth(nullptr), 0);
  EXPECT_EQ(CFStringGetEastAsianWidth(U(u"")), 0);
  EXPECT_EQ(CFStringGetEastAsianWidth(U(u"\u00E9")), 1);
  EXPECT_EQ(CFStringGetEastAsianWidth(U(u"\u0101")), 2);
  EXPECT_EQ(CFStringGetEastAsianWidth(U(u"\u6F22\u5B57")), 4);
  EXPECT_EQ(CFStringGetEastAsianWidth(U(u"\uFF71")), 1);  // halfwidth katakana
  EXPECT_EQ(CFStringGetEastAsianWidth(U(u"ab\u0000cd")), 2);
  EXPECT_EQ(CFStringGetEastAsianWidth(U(std::u16string(32, u'\u6F22'))), 64);
  EXPECT_EQ(CFStringGetEastAsianWidth(U(std::u16string(64, u'a'))), 64);
  // Pairs: a wide ideograph of plane 2, and a character Neutral in the
  // table, both count two.
  EXPECT_EQ(CFStringGetEastAsianWidth(U(u"\U00020000")), 2);
  EXPECT_EQ(CFStringGetEastAsianWidth(U(u"\U0001F600x")), 3);

  // Decomposed e + U+0301 measures after composition.
  const auto composed = stringConvertNormalize(U(u"e\u0301"));
  ASSERT_TRUE(composed);
  EXPECT_EQ(composed->utf16(), u"\u00E9");
  EXPECT_EQ(CFStringGetEastAsianWidth(composed), 1);
  EXPECT_EQ(CFStringGetEastAsianWidth(U(u"e\u0301")), 3);  // U+0301 alone is ambiguous
  EXPECT_EQ(stringConvertNormalize(nullptr), nullptr);
  EXPECT_EQ(stringConvertNormalize(U(u""))->utf16(), u"");
  const std::u16string hangul = u"\u1100\u1161\u11A8";  // conjoining jamo compose to U+AC01
  EXPECT_EQ(stringConvertNormalize(U(hangul))->utf16(), u"\uAC01");
}

// Any text that fits the widest field also fits the ticket encoders.
TEST(EditInfoWidth, WidestUserNameStaysEncodable) {
  const int32_t max = GetEditTextMaxLength(kUserNameKey);
  for (const std::u16string unit : {u"\uFF71", u"\U0001F600", u"\U00020000", u"\u0101", u"a"}) {
    std::u16string s;
    while (CFStringGetEastAsianWidth(U(s + unit)) <= max) s += unit;
    ASSERT_TRUE(QVCFStringEncode(U(s))) << s.size();
    ASSERT_TRUE(QVCFStringDecode(QVCFStringEncode(U(s))));
  }
}

// The range table against the description's own list, and against ICU's
// East Asian Width where Unicode has not changed since 5.0.
TEST(EditInfoWidth, RangeTable) {
  const uint32_t listed[][2] = {
      {0x0300, 0x036F}, {0x0391, 0x03A1}, {0x03A3, 0x03A9}, {0x03B1, 0x03C1}, {0x03C3, 0x03C9},
      {0x0401, 0x0401}, {0x0410, 0x044F}, {0x0451, 0x0451}, {0x1100, 0x1159}, {0x115F, 0x115F},
      {0x2E80, 0x2E99}, {0x2E9B, 0x2EF3}, {0x2F00, 0x2FD5}, {0x2FF0, 0x2FFB}, {0x3000, 0x303E},
      {0x3041, 0x3096}, {0x3099, 0x30FF}, {0x3105, 0x312C}, {0x3131, 0x318E}, {0x3190, 0x31B7},
      {0x31C0, 0x31CF}, {0x31F0, 0x321E}, {0x3220, 0x3243}, {0x3250, 0x32FE}, {0x3300, 0x4DB5},
      {0x4E00, 0x9FBB}, {0xA000, 0xA48C}, {0xA490, 0xA4C6}, {0xAC00, 0xD7A3}, {0xE000, 0xFA2D},
      {0xFA30, 0xFA6A}, {0xFA70, 0xFAD9}, {0xFE00, 0xFE19}, {0xFE30, 0xFE52}, {0xFE54, 0xFE66},
      {0xFE68, 0xFE6B}, {0xFF01, 0xFF60}, {0xFFE0, 0xFFE6}, {0xFFFD, 0xFFFD}, {0x20000, 0x2FFFD},
      {0x30000, 0x3FFFD}, {0xE0100, 0xE01EF}, {0xF0000, 0xFFFFD}, {0x100000, 0x10FFFD}};
  for (const auto& r : listed) {
    for (uint32_t c = r[0]; c <= r[1]; ++c) ASSERT_EQ(EastAsianCodePointWidth(c), 2) << std::hex << c;
  }
  for (uint32_t c : {0x03A2u, 0x03C2u, 0x2E9Au, 0x303Fu, 0x4DB6u, 0x9FBCu, 0xD7A4u, 0xFF61u, 0xFFE8u, 0x1F600u})
    EXPECT_EQ(EastAsianCodePointWidth(c), 1) << std::hex << c;
  for (uint32_t c = 0; c < 0x100; ++c) ASSERT_EQ(EastAsianCodePointWidth(c), 1) << c;

  int compared = 0;
  for (UChar32 c = 0x100; c <= 0x10FFFF; ++c) {
    if (u_charType(c) == U_UNASSIGNED || u_charType(c) == U_SURROGATE) continue;
    UVersionInfo age;
    u_charAge(c, age);
    if (age[0] > 5 || (age[0] == 5 && age[1] > 0)) continue;  // not in Unicode 5.0
    // Emoji presentation made these Wide in Unicode 9.0.
    if (u_hasBinaryProperty(c, UCHAR_EMOJI_PRESENTATION)) continue;
    const int eaw = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
    const bool icuWide = eaw == U_EA_WIDE || eaw == U_EA_FULLWIDTH || eaw == U_EA_AMBIGUOUS;
    ASSERT_EQ(EastAsianCodePointWidth(static_cast<uint32_t>(c)), icuWide ? 2 : 1) << std::hex << c;
    ++compared;
  }
  EXPECT_GT(compared, 90000);
}

TEST(EditInfoWidth, ComposedCharNeverReadsPastTheEnd) {
  // Exact-size heap buffers, so AddressSanitizer sees any read beyond.
  auto make = [](std::u16string s) {
    std::unique_ptr<char16_t[]> p(new char16_t[s.size()]);
    std::copy(s.begin(), s.end(), p.get());
    return p;
  };
  long next = -1;
  auto endsHigh = make(u"a\xD83D");
  EXPECT_EQ(UCFindComposedCharAtIndex(endsHigh.get(), 2, 1, &next), 0xD83Du);
  EXPECT_EQ(next, 2);
  auto pair = make(u"\U0001F600");
  EXPECT_EQ(UCFindComposedCharAtIndex(pair.get(), 2, 0, &next), 0x1F600u);
  EXPECT_EQ(next, 2);
  EXPECT_EQ(UCFindComposedCharAtIndex(pair.get(), 2, 1, &next), 0xDE00u);
  EXPECT_EQ(next, 2);
  EXPECT_EQ(UCFindComposedCharAtIndex(pair.get(), 1, 0, &next), 0xD83Du);  // pair cut by the length
  EXPECT_EQ(next, 1);
  EXPECT_EQ(UCFindComposedCharAtIndex(pair.get(), 2, 2, &next), 0u);
  EXPECT_EQ(UCFindComposedCharAtIndex(pair.get(), 2, -1, nullptr), 0u);
  EXPECT_EQ(UCFindComposedCharAtIndex(nullptr, 2, 0, &next), 0u);

  const std::u16string s = u"x\xD83D";
  auto tail = make(s);
  const auto r = CheckUniCharString(tail.get(), 2, kUserNameKey);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->utf16(), u"x");
}
