// The colour plug-in's filtered text field, its character classes and the
// icon cell of the profile table.
#include <gtest/gtest.h>

#include <memory>
#include <string_view>

#include "ColorTextField.h"
#include "IconedCell.h"

namespace ns = R2740_COLOR_NS;

namespace {

// The profile window's file name field: 31 units, extension 3, file-name
// characters, with its companion OK button.
struct FileNameField {
  FileNameField() {
    field->setMaxLength(31, 3);
    field->setInputKey(ns::kInputKeyFileName);
    field->setOperateControl(ok);
    ok->setEnabled(false);
  }
  long caret() { return field->currentEditor()->selectedRange().location; }
  std::shared_ptr<ns::QVTextField> field = std::make_shared<ns::QVTextField>();
  std::shared_ptr<ui::Button> ok = std::make_shared<ui::Button>();
};

TEST(ColorTextField, FileNameLengthAndExtensionRules) {
  FileNameField f;
  const std::string name27(27, 'N');
  ASSERT_TRUE(f.field->userType(name27));
  EXPECT_EQ(f.field->stringValue(), name27);
  // A 28th character without a dot is refused; the caret stays after the 27th.
  f.field->userType("X");
  EXPECT_EQ(f.field->stringValue(), name27);
  EXPECT_EQ(f.caret(), 27);
  // Refused in the middle: the caret goes back to where it stood.
  f.field->userSelect({5, 0});
  f.field->userType("Y");
  EXPECT_EQ(f.field->stringValue(), name27);
  EXPECT_EQ(f.caret(), 5);

  f.field->userSelect({27, 0});
  f.field->userType(".");
  f.field->userType("I");
  f.field->userType("C");
  f.field->userType("C");
  EXPECT_EQ(f.field->stringValue(), name27 + ".ICC");  // 31 in all
  f.field->userType("X");                               // a fourth extension character
  EXPECT_EQ(f.field->stringValue(), name27 + ".ICC");

  // A second dot is refused, and so is a dot that leaves more than 27 before it.
  auto g = FileNameField();
  g.field->userType("AB.C");
  g.field->userType(".");
  EXPECT_EQ(g.field->stringValue(), "AB.C");
  g.field->userSelect({0, 0});
  g.field->userType(std::string(26, 'Z'));  // 28 before the dot
  EXPECT_EQ(g.field->stringValue(), "AB.C");
}

TEST(ColorTextField, PasteDropsCharactersOutsideTheClassAndCompanionFollowsText) {
  FileNameField f;
  f.field->userType("MY PRO:FILE.ICC");
  EXPECT_EQ(f.field->stringValue(), "MYPROFILE.ICC");
  EXPECT_TRUE(f.ok->isEnabled());

  // A leading dot is accepted but leaves OK disabled; empty disables too.
  f.field->userSelect({0, 13});
  f.field->userType(".ICC");
  EXPECT_EQ(f.field->stringValue(), ".ICC");
  EXPECT_FALSE(f.ok->isEnabled());
  f.field->userSelect({0, 4});
  f.field->userType("A");
  EXPECT_TRUE(f.ok->isEnabled());
  f.field->userDeleteBackward();
  EXPECT_EQ(f.field->stringValue(), "");
  EXPECT_FALSE(f.ok->isEnabled());

  // A character outside the BMP goes completely (both of its units).
  f.field->userType("A\xF0\x9F\x98\x80" "B");
  EXPECT_EQ(f.field->stringValue(), "AB");

  // Text put in from outside is what a refusal restores once remembered.
  f.field->setStringValue("OUTSIDE.ICC");
  f.field->setOldString("OUTSIDE.ICC");
  f.field->userSelect({11, 0});
  f.field->userType("X");
  EXPECT_EQ(f.field->stringValue(), "OUTSIDE.ICC");
}

TEST(ColorTextField, DisplayNameField) {
  auto field = std::make_shared<ns::QVTextField>();
  field->setMaxLength(30, 0);
  field->setInputKey(ns::kInputKeyAscii);
  field->userType("My.Studio v1.2 (matte)");
  EXPECT_EQ(field->stringValue(), "My.Studio v1.2 (matte)");
  field->userType("Caf\xC3\xA9");  // the accented letter is removed
  EXPECT_EQ(field->stringValue(), "My.Studio v1.2 (matte)Caf");
  field->userType("12345");
  EXPECT_EQ(field->length(), 30);
  field->userType("!");  // 31st
  EXPECT_EQ(field->length(), 30);
  field->userType("\xF0\x9F\x98\x80");
  EXPECT_EQ(field->length(), 30);
}

TEST(ColorTextField, CharacterClasses) {
  EXPECT_TRUE(ns::AsciiKeyFilter(' '));
  EXPECT_FALSE(ns::AsciiKeyFilterAppoint(' '));
  for (char32_t c : std::u32string_view(U"\"*+,/:;<=>?@[\\]|")) EXPECT_FALSE(ns::AsciiKeyFilterAppoint(c)) << static_cast<int>(c);
  for (char32_t c : std::u32string_view(U"!#$%&'()-.09AZaz^_`{}~")) EXPECT_TRUE(ns::AsciiKeyFilterAppoint(c)) << static_cast<int>(c);
  EXPECT_FALSE(ns::AsciiKeyFilterAppoint(0x7F));
  EXPECT_FALSE(ns::AsciiKeyFilterAppoint(0xE9));
  EXPECT_TRUE(ns::AlphaNumericKeyFilter('z'));
  EXPECT_FALSE(ns::AlphaNumericKeyFilter('_'));
  EXPECT_TRUE(ns::NumericKeyFilter('7'));
  EXPECT_FALSE(ns::NumericKeyFilter('a'));
  int rejected = 0;
  for (uint32_t c = 0; c < 0x110000; ++c) rejected += !ns::WideCharKeyFilter(c);
  EXPECT_EQ(rejected, 2);
  EXPECT_FALSE(ns::WideCharKeyFilter('"'));
  EXPECT_FALSE(ns::WideCharKeyFilter('+'));
  EXPECT_TRUE(ns::FilterEditTextInputKey(-7, 0x3042));
  EXPECT_FALSE(ns::FilterEditTextInputKey(3, 'a'));

  // The wide class keeps both units of a pair, the others drop both.
  std::u16string units = u"a\U0001F600+b";
  std::u16string text = units;
  ns::CheckUniCharString(units.data(), static_cast<long>(units.size()), 9, text);
  EXPECT_EQ(text, u"a\U0001F600b");
  text = units;
  ns::CheckUniCharString(units.data(), static_cast<long>(units.size()), 0, text);
  EXPECT_EQ(text, u"a+b");
  long next = 0;
  EXPECT_EQ(ns::UCFindComposedCharAtIndex(units.data(), 5, 1, &next), 0x1F600u);
  EXPECT_EQ(next, 2);
  EXPECT_EQ(ns::UCFindComposedCharAtIndex(nullptr, 5, 1, &next), 0u);
}

TEST(IconedCell, DrawsItsImageAt16By16NearTheLeftEdge) {
  ns::IconedCell cell;
  ui::Rect frame{{40, 100}, {60, 16}};
  EXPECT_FALSE(cell.imageRectForFrame(frame, false).has_value());
  auto image = std::make_shared<ui::Image>("/nowhere/icon.icns");
  image->setSize({128, 128});
  cell.setImage(image);
  auto r = cell.imageRectForFrame(frame, false);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, (ui::Rect{{43, 100}, {16, 16}}));
  EXPECT_EQ(image->size().width, 16);
  ui::View flipped;
  flipped.setFlipped(true);
  EXPECT_EQ(*cell.drawInteriorWithFrame(frame, &flipped), (ui::Rect{{43, 116}, {16, 16}}));
}

}  // namespace
