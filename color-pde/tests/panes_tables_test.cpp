// The panes as the interface file builds them: every row has its control,
// PPD-bound controls carry their keyword, titles and summary names are
// localized in both languages.
#include <set>

#include "panes_fixture.h"
#include "system/system.h"

namespace R2740_COLOR_NS {
namespace panes_test {
namespace {

std::string ReadAll(const std::string& path) {
  auto s = sys::ReadFile(path);
  return s ? *s : std::string();
}

TEST_F(PanesTest, TablesAreCompleteAndBoundToTheirControls) {
  // Only the stand-in profile controller may miss connections.
  for (const auto& w : nib.warnings) EXPECT_NE(w.find("ProfileControl"), std::string::npos) << w;

  ASSERT_EQ(color->getControlCount(), 11);
  ASSERT_EQ(advanced->getControlCount(), 47);
  for (PaneBase* pane : {static_cast<PaneBase*>(color.get()), static_cast<PaneBase*>(advanced.get())}) {
    PDEControlTable t = pane->getControlData();
    ASSERT_NE(t, nullptr);
    const int last = pane->getControlCount() - 1;
    EXPECT_EQ(t[last].kind, kControlKindEnd);
    EXPECT_EQ(t[last].control, nullptr);
    for (int i = 0; i < last; ++i) {
      SCOPED_TRACE(i);
      ASSERT_NE(t[i].control, nullptr);
      ASSERT_NE(t[i].kind, kControlKindEnd);
      // Hosts find a PPD-bound control by its keyword.
      if (*t[i].ppdKey) {
        EXPECT_EQ(t[i].control->identifier(), t[i].ppdKey);
        EXPECT_NE(t[i].choices, nullptr) << t[i].ppdKey;
      }
      const bool popUp = dynamic_cast<ui::PopUpButton*>(t[i].control.get()) != nullptr;
      EXPECT_EQ(popUp, t[i].kind == kControlKindPopUp);
      if (t[i].kind == kControlKindCheckBox) {
        auto* b = dynamic_cast<ui::Button*>(t[i].control.get());
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->buttonType(), ui::ButtonType::Switch);
      }
    }
  }

  // Captions sit beside their menus: label row 22 + i shows the title of
  // pop-up row i and is the outlet named like it.
  PDEControlTable a = advanced->getControlData();
  for (int i = 0; i < AdvancedColorOptions::kPopUpCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(a[22 + i].titleKey, a[i].titleKey);
    EXPECT_EQ(a[i].control->superview(), a[22 + i].control->superview());
  }
  EXPECT_EQ(a[21].control, advanced->tab_SwitchVew);
  EXPECT_EQ(advanced->tab_SwitchVew->indexOfSelectedTabViewItem(), 0);
  // The store's stand-in answers "not admin".
  EXPECT_FALSE(advanced->button_ManageProfile->isEnabled());

  // The compound table: colour rows, then advanced rows, one terminator.
  int n = 0;
  while (compTable[n].kind != kControlKindEnd) ++n;
  EXPECT_EQ(n, 10 + 46);
  EXPECT_EQ(compTable[0].control, color->menu_QuickColor);
  EXPECT_EQ(compTable[10].control, advanced->menu_iRGBSource);
}

TEST_F(PanesTest, PPDKeywordsAndValueGetters) {
  auto colorKeys = cf::Array::create();
  color->addPPDArray(colorKeys);
  std::vector<std::string> got;
  for (const auto& k : *colorKeys) got.push_back(cf::As<cf::String>(k)->utf8());
  EXPECT_EQ(got, (std::vector<std::string>{"QVQuickColor", "QVBrightness", "QVColorAsGray", "QVEconoMode",
                                           "QVEdgeType", "QVGlossyMode"}));
  auto advKeys = cf::Array::create();
  advanced->addPPDArray(advKeys);
  EXPECT_EQ(advKeys->count(), 21u);

  // Defaults of the test PPD: Quick Color "Auto" (index 0), economy off.
  EXPECT_EQ(color->getQuickColorValue(), 0);
  color->menu_QuickColor->selectItemAtIndex(3);
  EXPECT_EQ(color->getQuickColorValue(), 3);
  EXPECT_EQ(color->getEconoModeValue(), 0);
  color->check_EconomyPrint->setState(1);
  EXPECT_EQ(color->getEconoModeValue(), 1);
  color->menu_QuickColor->removeAllItems();
  EXPECT_EQ(color->getQuickColorValue(), -1);
}

TEST_F(PanesTest, TitlesAndTabsAreLocalized) {
  EXPECT_EQ(color->text_Strength->stringValue(), "Edge Strength:");
  EXPECT_EQ(color->check_EconomyPrint->title(), "Economy Print");
  EXPECT_EQ(advanced->text_sMatchPaperColor->stringValue(), "Match Paper Color:");
  EXPECT_EQ(advanced->button_ManageProfile->title(), "Manage Profiles...");
  ASSERT_EQ(advanced->tab_SwitchVew->numberOfTabViewItems(), 4);
  EXPECT_EQ(advanced->tab_SwitchVew->tabViewItemAtIndex(3)->label(), "Simulation");
  // Menus come from the PPD.
  EXPECT_EQ(advanced->menu_iHalftone->numberOfItems(), 3);
  EXPECT_EQ(advanced->menu_iHalftone->itemTitleAtIndex(2), "High Resolution");
}

// Every key the tables, tabs and profile window look up exists in English
// and Japanese, and the two tables hold the same keys.
TEST_F(PanesTest, EveryLookupKeyHasBothLocalizations) {
  std::set<std::string> keys = {"Color Options", "Image", "Text", "Graphics", "Simulation",
                                "Disk", "Card", "ProfileTitle", "ProfileMenuRGB", "ProfileMenuSIM",
                                "ProfileMenuDST", "ProfileFileNameColumn", "ProfileNameColumn",
                                "ProfileLocationColumn", "ProfileFileNameCaption", "ProfileNameCaption",
                                "ProfileLocationCaption", "ProfileAdd", "ProfileEdit", "ProfileDelete",
                                "ProfileBrowse", "ProfileOK", "ProfileCancel"};
  for (PaneBase* pane : {static_cast<PaneBase*>(color.get()), static_cast<PaneBase*>(advanced.get())}) {
    PDEControlTable t = pane->getControlData();
    for (int i = 0; t[i].kind != kControlKindEnd; ++i) {
      if (t[i].titleKey) keys.insert(t[i].titleKey);
      if (t[i].itemName) keys.insert(t[i].itemName);
    }
  }
  std::set<std::string> tableKeys[2];
  int lang = 0;
  for (const char* file : {"color-pde/resources/en.lproj/Localizable.strings",
                           "color-pde/resources/ja.lproj/Localizable.strings"}) {
    std::string error;
    auto table = bndl::ParseStrings(ReadAll(SourcePath(file)), &error);
    ASSERT_TRUE(table) << file << ": " << error;
    for (const auto& k : keys) {
      auto it = table->entries.find(k);
      ASSERT_NE(it, table->entries.end()) << file << " lacks \"" << k << "\"";
      EXPECT_FALSE(it->second.empty()) << k;
    }
    for (const auto& [k, v] : table->entries) tableKeys[lang].insert(k);
    ++lang;
  }
  EXPECT_EQ(tableKeys[0], tableKeys[1]);
}

}  // namespace
}  // namespace panes_test
}  // namespace R2740_COLOR_NS
