// PDECommon over a PPD: choice lists, the conflict test, encodings, menus,
// titles, values, defaults and the summary.
#include <gtest/gtest.h>

#include <cstring>

#include "ColorTestSupport.h"

using namespace colortest;
using ns::PDECommon;

namespace {

std::string Entry(const ns::PDEControlRecord& row, size_t i, size_t field) {
  auto entry = row.choices->at<cf::Array>(i);
  auto s = entry ? entry->at<cf::String>(field) : nullptr;
  return s ? s->utf8() : "<null>";
}

std::string Marked(ppd_file_t* ppd, const char* option) {
  ppd_choice_t* c = ppdFindMarkedChoice(ppd, option);
  return c ? c->choice : "<none>";
}

}  // namespace

TEST(ColorPPDServices, ChoiceListsCarryKeywordDefaultChoiceTextAndConflict) {
  PPD p;
  ASSERT_NE(p.ppd, nullptr);
  Table t({Row(PopUp(), kControlKindPopUp, "QVQuickColor"), Row(PopUp(), kControlKindPopUp, "QVImageHalftone"),
           Row(PopUp(), kControlKindPopUp, "QVNoSuchOption")},
          p.ppd);
  ASSERT_TRUE(t[0].choices);
  ASSERT_EQ(t[0].choices->count(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Entry(t[0], i, 0), "QVQuickColor");
    EXPECT_EQ(Entry(t[0], i, 1), "Vivid");
    EXPECT_EQ(t[0].choices->at<cf::Array>(i)->count(), 5u);
  }
  EXPECT_EQ(Entry(t[0], 3, 2), "Manual");
  EXPECT_EQ(Entry(t[0], 1, 3), "Photo");
  // Latin-1 text of the PPD arrives decoded.
  EXPECT_EQ(Entry(t[1], 0, 3), "D\xC3\xA9tail");
  // EconoMode defaults to False, so nothing conflicts yet.
  EXPECT_EQ(Entry(t[1], 2, 4), "ConflictFalse");
  EXPECT_FALSE(t[2].choices);

  cf::ArrayRef untouched = cf::Array::create();
  cf::ArrayRef before = untouched;
  EXPECT_EQ(PDECommon::commonGetPPDArrayForUIOption(p.ppd, "QVNoSuchOption", &untouched), -30888);
  EXPECT_EQ(untouched, before);
}

TEST(ColorPPDServices, ConflictTestLeavesMarksAsTheyWere) {
  PPD p;
  ASSERT_NE(p.ppd, nullptr);
  ppdMarkOption(p.ppd, "QVEconoMode", "True");
  EXPECT_EQ(Marked(p.ppd, "QVImageHalftone"), "Smooth");

  EXPECT_TRUE(PDECommon::commonIsPPDChoiceConflicted(p.ppd, "QVImageHalftone", "Grad"));
  EXPECT_EQ(Marked(p.ppd, "QVImageHalftone"), "Smooth");
  EXPECT_EQ(Marked(p.ppd, "QVEconoMode"), "True");
  EXPECT_FALSE(PDECommon::commonIsPPDChoiceConflicted(p.ppd, "QVImageHalftone", "Fine"));
  EXPECT_EQ(Marked(p.ppd, "QVImageHalftone"), "Smooth");
  EXPECT_EQ(ppdConflicts(p.ppd), 0);

  // The list built now flags the conflicting choice.
  Table t({Row(PopUp(), kControlKindPopUp, "QVImageHalftone")}, p.ppd);
  EXPECT_EQ(Entry(t[0], 2, 4), "ConflictTrue");
  EXPECT_EQ(Entry(t[0], 0, 4), "ConflictFalse");

  // An option whose default is not a choice has nothing marked; the test
  // must not leave its tested choice marked.
  EXPECT_EQ(Marked(p.ppd, "QVEdgeType"), "<none>");
  EXPECT_FALSE(PDECommon::commonIsPPDChoiceConflicted(p.ppd, "QVEdgeType", "Fine"));
  EXPECT_EQ(Marked(p.ppd, "QVEdgeType"), "<none>");
  EXPECT_EQ(ppdFindChoice(ppdFindOption(p.ppd, "QVEdgeType"), "Fine")->marked, 0);

  EXPECT_FALSE(PDECommon::commonIsPPDChoiceConflicted(p.ppd, "QVNoSuchOption", "X"));
  EXPECT_FALSE(PDECommon::commonIsPPDChoiceConflicted(nullptr, "QVEconoMode", "True"));
}

TEST(ColorPPDServices, EncodingsFollowLanguageEncodingExactly) {
  PPD p;
  ASSERT_NE(p.ppd, nullptr);
  char* original = p.ppd->lang_encoding;
  struct Case {
    const char* name;
    unsigned long text;
    cf::StringEncoding cfEnc;
  } cases[] = {{"ISOLatin1", 5, 0x0201},  {"WindowsANSI", 12, 0x0500}, {"JIS83-RKSJ", 8, 0x0A01},
               {"UTF-8", 4, 0x08000100}, {"UTF8", 4, 0x08000100},     {"utf-8", 30, 0},
               {"isolatin1", 30, 0},      {"", 30, 0}};
  for (const auto& c : cases) {
    std::string copy = c.name;
    p.ppd->lang_encoding = copy.data();
    EXPECT_EQ(PDECommon::commonGetEncodingFromPPD(p.ppd), c.text) << c.name;
    EXPECT_EQ(PDECommon::commonGetCFStringEncodingFromPPD(p.ppd), c.cfEnc) << c.name;
  }
  p.ppd->lang_encoding = nullptr;
  EXPECT_EQ(PDECommon::commonGetEncodingFromPPD(p.ppd), 30u);
  EXPECT_EQ(PDECommon::commonGetCFStringEncodingFromPPD(p.ppd), 0u);
  p.ppd->lang_encoding = original;
  EXPECT_EQ(PDECommon::commonGetEncodingFromPPD(nullptr), 30u);
  EXPECT_EQ(PDECommon::commonGetCFStringEncodingFromPPD(nullptr), 0u);
}

TEST(ColorPPDServices, KeywordPairsMatchExactly) {
  PPD p;
  Table t({Row(CheckBox(), kControlKindCheckBox, "QVColorAsGray")}, p.ppd);
  EXPECT_EQ(PDECommon::commonFindPPDKeyPairsMatch(t[0].choices, cf::str("QVColorAsGray"), cf::str("True")), 1);
  EXPECT_EQ(PDECommon::commonFindPPDKeyPairsMatch(t[0].choices, cf::str("QVColorAsGray"), cf::str("true")), -1);
  EXPECT_EQ(PDECommon::commonFindPPDKeyPairsMatch(t[0].choices, cf::str("qvcolorasgray"), cf::str("True")), -1);
  EXPECT_EQ(PDECommon::commonFindPPDKeyPairsMatch(cf::Array::create(), cf::str("A"), cf::str("B")), -1);
  EXPECT_EQ(PDECommon::commonFindPPDKeyPairsMatch(nullptr, cf::str("A"), cf::str("B")), -1);
  // Entries of the wrong shape are passed over, not trusted.
  auto odd = cf::Array::create({cf::str("x"), cf::Array::create({cf::str("K")}),
                                cf::Array::create({cf::str("K"), cf::str("d"), cf::str("C")})});
  EXPECT_EQ(PDECommon::commonFindPPDKeyPairsMatch(odd, cf::str("K"), cf::str("C")), 2);
}

TEST(ColorPPDServices, CompoundTableJoinsRowsAndSharesChoiceLists) {
  PPD p;
  auto q = PopUp(), b = PopUp();
  auto g = CheckBox();
  Table first({Row(q, kControlKindPopUp, "QVQuickColor"), Row(b, kControlKindPopUp, "QVBrightness")}, p.ppd);
  Table second({Row(g, kControlKindCheckBox, "QVColorAsGray")}, p.ppd);
  Table empty({}, p.ppd);
  ns::PDEControlTable tables[3] = {first.table, empty.table, second.table};
  ns::PDEControlTable compound = PDECommon::commonControlTableCompound(tables, 3);
  ASSERT_NE(compound, nullptr);
  EXPECT_EQ(compound[0].control, q);
  EXPECT_EQ(compound[1].control, b);
  EXPECT_EQ(compound[2].control, g);
  EXPECT_EQ(compound[2].choices, second[0].choices);
  EXPECT_EQ(compound[3].kind, kControlKindEnd);
  EXPECT_EQ(compound[3].control, nullptr);
  EXPECT_STREQ(compound[3].ppdKey, "");
  ns::FreeControlTable(compound);

  ns::PDEControlTable none = PDECommon::commonControlTableCompound(tables + 1, 1);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none[0].kind, kControlKindEnd);
  ns::FreeControlTable(none);
}

TEST(ColorPPDServices, AddPPDArrayListsBoundRowsOnly) {
  PPD p;
  Table t({Row(PopUp(), kControlKindPopUp, "QVQuickColor"), Row(std::make_shared<ui::TextField>(), kControlKindText, ""),
           Row(CheckBox(), kControlKindCheckBox, "QVEconoMode")},
          p.ppd);
  auto keys = cf::Array::create();
  EXPECT_EQ(PDECommon::commonAddPPDArray(keys, t.table), 0);
  ASSERT_EQ(keys->count(), 2u);
  EXPECT_EQ(keys->at<cf::String>(0)->utf8(), "QVQuickColor");
  EXPECT_EQ(keys->at<cf::String>(1)->utf8(), "QVEconoMode");
  EXPECT_EQ(PDECommon::commonAddPPDArray(nullptr, t.table), -50);
  Table empty({}, p.ppd);
  auto none = cf::Array::create();
  EXPECT_EQ(PDECommon::commonAddPPDArray(none, empty.table), 0);
  EXPECT_TRUE(none->empty());
}

TEST(ColorPPDServices, BuildItemsLocalizesTitlesAndRebuildsMenus) {
  ScratchBundle sb(
      "\"EconoMode\" = \"Toner saving\";\n\"Quick Color:\" = \"Quick colour:\";\n\"Image\" = \"Picture\";\n"
      "\"Text\" = \"Letters\";\n\"Graphics\" = \"Drawings\";\n\"Simulation\" = \"Proof\";\n");
  PDECommon::commonSetPlugInBundle(sb.bundle());
  PPD p;
  auto menu = PopUp();
  menu->addItemWithTitle("from the interface file");
  auto missing = PopUp();
  missing->addItemWithTitle("kept");
  auto check = CheckBox();
  auto label = std::make_shared<ui::TextField>();
  auto tabs = std::make_shared<ui::TabView>();
  auto tabsUngated = std::make_shared<ui::TabView>();
  for (auto& tv : {tabs, tabsUngated})
    for (const char* id : {"a", "b", "c", "d", "e"}) tv->addTabViewItem(ui::TabViewItem(id, id, nullptr));
  auto button = std::make_shared<ui::Button>();
  Table t({Row(menu, kControlKindPopUp, "QVImageHalftone"), Row(missing, kControlKindPopUp, "QVNoSuchOption"),
           Row(check, kControlKindCheckBox, "QVEconoMode", "EconoMode"),
           Row(label, kControlKindText, "", "Quick Color:"), Row(tabs, kControlKindTabView, "", "Image"),
           Row(tabsUngated, kControlKindTabView, "", "No such key"),
           Row(button, kControlKindButton, "", "No such key")},
          p.ppd);
  PDECommon::commonBuildPDEItem(t.table, p.ppd);

  ASSERT_EQ(menu->numberOfItems(), 3);
  EXPECT_EQ(menu->itemTitleAtIndex(0), "D\xC3\xA9tail");
  EXPECT_EQ(menu->itemTitleAtIndex(2), "Gradation");
  EXPECT_EQ(cf::As<cf::String>(menu->itemAtIndex(1)->representedObject())->utf8(), "Smooth");
  EXPECT_EQ(missing->numberOfItems(), 1);
  EXPECT_EQ(missing->itemTitleAtIndex(0), "kept");
  EXPECT_EQ(check->title(), "Toner saving");
  EXPECT_EQ(label->stringValue(), "Quick colour:");
  EXPECT_EQ(tabs->tabViewItemAtIndex(0)->label(), "Picture");
  EXPECT_EQ(tabs->tabViewItemAtIndex(3)->label(), "Proof");
  EXPECT_EQ(tabs->tabViewItemAtIndex(4)->label(), "e");
  EXPECT_EQ(tabsUngated->tabViewItemAtIndex(0)->label(), "a");
  EXPECT_EQ(button->title(), "");

  // A second build starts from scratch: items never accumulate.
  PDECommon::commonBuildPDEItem(t.table, p.ppd);
  EXPECT_EQ(menu->numberOfItems(), 3);
  PDECommon::commonSetPlugInBundle(nullptr);
}

TEST(ColorPPDServices, ValuesDefaultsAndTicketTranslation) {
  PPD p;
  auto quick = PopUp(), edge = PopUp(), halftone = PopUp();
  auto gray = CheckBox(), glossy = CheckBox();
  Table t({Row(quick, kControlKindPopUp, "QVQuickColor"), Row(gray, kControlKindCheckBox, "QVColorAsGray"),
           Row(edge, kControlKindPopUp, "QVEdgeType"), Row(glossy, kControlKindCheckBox, "QVGlossyMode"),
           Row(halftone, kControlKindPopUp, "QVNoSuchOption")},
          p.ppd);
  PDECommon::commonBuildPDEItem(t.table, p.ppd);
  halftone->addItemWithTitle("a");
  halftone->addItemWithTitle("b");
  halftone->selectItemAtIndex(1);
  edge->selectItemAtIndex(1);
  gray->setState(1);

  PDECommon::commonDefaultFromPPDInfo(t.table);
  EXPECT_EQ(quick->indexOfSelectedItem(), 2);   // third choice is the default
  EXPECT_EQ(gray->state(), 0);
  EXPECT_EQ(edge->indexOfSelectedItem(), 1);     // its default is no choice: left alone
  EXPECT_EQ(halftone->indexOfSelectedItem(), 1); // no choice list: left alone
  EXPECT_EQ(glossy->state(), 1);

  // Setting a pop-up at or beyond its item count changes nothing.
  PDECommon::commonSetControlValueWithSInt32(&t[0], 4);
  EXPECT_EQ(quick->indexOfSelectedItem(), 2);
  PDECommon::commonSetControlValueWithSInt32(&t[0], 3);
  EXPECT_EQ(PDECommon::commonGetControlValueWithSInt32(&t[0]), 3);

  auto key = cf::str("QVColorAsGray");
  EXPECT_EQ(PDECommon::commonGetTicketValueWithSInt32(&t[1], key, cf::str("TRUE")), 1);
  EXPECT_EQ(PDECommon::commonGetTicketValueWithSInt32(&t[1], key, cf::str("true")), 1);
  EXPECT_EQ(PDECommon::commonGetTicketValueWithSInt32(&t[1], key, cf::str("yes")), 0);
  EXPECT_EQ(PDECommon::commonGetTicketValueWithSInt32(&t[1], key, cf::Boolean::kTrue()), 0);
  EXPECT_EQ(PDECommon::commonGetTicketValueWithSInt32(&t[1], key, nullptr), 0);
  EXPECT_EQ(PDECommon::commonGetTicketValueWithSInt32(&t[0], cf::str("QVQuickColor"), cf::str("Photo")), 1);
  EXPECT_EQ(PDECommon::commonGetTicketValueWithSInt32(&t[0], cf::str("QVQuickColor"), cf::str("Gone")), -1);
  EXPECT_EQ(PDECommon::commonGetTicketValueWithSInt32(&t[0], cf::str("QVQuickColor"), cf::num(1)), -1);

  // Checkbox state to choice index; a missing "True" choice answers -1.
  gray->setState(1);
  EXPECT_EQ(PDECommon::commonGetControlValueFromPPDWithSInt32(&t[1]), 1);
  glossy->setState(0);
  EXPECT_EQ(PDECommon::commonGetControlValueFromPPDWithSInt32(&t[3]), -1);
  EXPECT_EQ(PDECommon::commonGetControlValueFromPPDWithNSString(&t[3]), nullptr);
  EXPECT_EQ(PDECommon::commonGetControlValueFromPPDWithNSString(&t[1])->utf8(), "On");
  EXPECT_EQ(PDECommon::commonGetControlValueFromPPDWithNSString(&t[0])->utf8(), "Manual");
  EXPECT_EQ(PDECommon::commonGetControlValueFromPPDWithNSString(&t[4]), nullptr);

  // Null rows answer neutral results.
  EXPECT_EQ(PDECommon::commonGetControlValueWithSInt32(nullptr), 0);
  EXPECT_EQ(PDECommon::commonGetDefualtValueFromPPDWithSInt32(nullptr), 0);
  EXPECT_EQ(PDECommon::commonGetControlValueFromPPDWithNSString(nullptr), nullptr);
  PDECommon::commonSetControlValueWithSInt32(nullptr, 1);
  PDECommon::commonDefaultFromPPDInfo(nullptr);
}

TEST(ColorPPDServices, SummaryListsLocalizedItemsInTableOrder) {
  ScratchBundle sb("\"Quick Color\" = \"Quick Color\";\n\"Color as Grayscale\" = \"Grayscale\";\n"
                   "\"Image Halftone\" = \"Halftone\";\n");
  PPD p;
  auto quick = PopUp(), halftone = PopUp();
  auto gray = CheckBox(), econo = CheckBox();
  Table t({Row(quick, kControlKindPopUp, "QVQuickColor", nullptr, "Quick Color"),
           Row(econo, kControlKindCheckBox, "QVEconoMode", nullptr, "EconoMode"),
           Row(gray, kControlKindCheckBox, "QVColorAsGray", nullptr, "Color as Grayscale"),
           Row(std::make_shared<ui::TextField>(), kControlKindText, "", "x", nullptr),
           Row(halftone, kControlKindPopUp, "QVImageHalftone", nullptr, "Image Halftone")},
          p.ppd);
  auto dict = cf::Dictionary::create();
  auto order = cf::Array::create();
  // Without the bundle nothing is added and nothing fails.
  PDECommon::commonSetPlugInBundle(nullptr);
  EXPECT_EQ(PDECommon::commonGetSummaryText(t.table, dict, order), 0);
  EXPECT_TRUE(order->empty());
  // A key that is no string is refused before the bundle is looked for.
  EXPECT_EQ(PDECommon::commonGetSummaryTextQuickColor(nullptr, cf::str("Fine"), dict, order), -50);
  EXPECT_EQ(PDECommon::commonGetSummaryTextQuickColor("Image Halftone", cf::str("Fine"), dict, order), 0);
  EXPECT_TRUE(order->empty());

  PDECommon::commonSetPlugInBundle(sb.bundle());
  PDECommon::commonBuildPDEItem(t.table, p.ppd);
  PDECommon::commonDefaultFromPPDInfo(t.table);
  // "EconoMode" has no localization: skipped, status -50.
  EXPECT_EQ(PDECommon::commonGetSummaryText(t.table, dict, order), -50);
  ASSERT_EQ(order->count(), 3u);
  EXPECT_EQ(order->at<cf::String>(0)->utf8(), "Quick Color");
  EXPECT_EQ(order->at<cf::String>(1)->utf8(), "Grayscale");
  EXPECT_EQ(order->at<cf::String>(2)->utf8(), "Halftone");
  EXPECT_EQ(dict->get<cf::String>("Quick Color")->utf8(), "Vivid");
  EXPECT_EQ(dict->get<cf::String>("Grayscale")->utf8(), "Off");
  EXPECT_EQ(dict->get<cf::String>("Halftone")->utf8(), "Lisse");
  EXPECT_EQ(dict->count(), 3u);

  auto d2 = cf::Dictionary::create();
  auto o2 = cf::Array::create();
  EXPECT_EQ(PDECommon::commonGetSummaryTextQuickColor("Image Halftone", cf::str("Fine"), d2, o2), 0);
  EXPECT_EQ(PDECommon::commonGetSummaryTextQuickColor("Unknown key", cf::str("Fine"), d2, o2), -50);
  EXPECT_EQ(PDECommon::commonGetSummaryTextQuickColor("\xC3\xA9", cf::str("Fine"), d2, o2), -50);
  EXPECT_EQ(PDECommon::commonGetSummaryTextQuickColor(nullptr, cf::str("Fine"), d2, o2), -50);
  ASSERT_EQ(o2->count(), 1u);
  EXPECT_EQ(d2->get<cf::String>("Halftone")->utf8(), "Fine");
  PDECommon::commonSetPlugInBundle(nullptr);
}

TEST(ColorSplit, CutsIntoChunksFromTheFront) {
  auto texts = [](const cf::ArrayRef& a) {
    std::vector<std::string> out;
    for (const auto& o : *a) out.push_back(cf::As<cf::String>(o)->utf8());
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(texts(splitCharEvery(cf::str("abcdefgh"), 3)), (V{"abc", "def", "gh"}));
  EXPECT_EQ(texts(splitCharEvery(cf::str("abcdef"), 3)), (V{"abc", "def"}));
  EXPECT_EQ(texts(splitCharEvery(cf::str("abc"), 3)), (V{"abc"}));
  EXPECT_EQ(texts(splitCharEvery(cf::str(""), 3)), (V{""}));
  EXPECT_EQ(texts(splitCharEvery(cf::str("ab"), 0)), (V{"a", "b"}));
  // Lengths count UTF-16 units; a surrogate pair is never cut in two.
  EXPECT_EQ(texts(splitCharEvery(cf::str("\xC3\xA9\xC3\xA9\xC3\xA9"), 2)), (V{"\xC3\xA9\xC3\xA9", "\xC3\xA9"}));
  EXPECT_EQ(texts(splitCharEvery(cf::str("a\xF0\x9F\x98\x80" "b"), 2)), (V{"a", "\xF0\x9F\x98\x80", "b"}));
  EXPECT_EQ(texts(splitCharEvery(cf::str("\xF0\x9F\x98\x80\xF0\x9F\x98\x80"), 1)),
            (V{"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}));
  std::string big(200001, 'x');
  auto pieces = splitCharEvery(cf::str(big), 90000);
  ASSERT_EQ(pieces->count(), 3u);
  EXPECT_EQ(pieces->at<cf::String>(2)->length(), 20001u);
}
