// The colour preset rules over the compound table and over one pane's
// table, in the build this test is compiled for (monochrome or colour).
#include "panes_fixture.h"

namespace R2740_COLOR_NS {
namespace panes_test {
namespace {

constexpr const char* kSourceMenus[] = {"ImageRGBSourcePopup", "TextRGBSourcePopup", "GraphicsRGBSourcePopup",
                                        "ImageDestinationProfilePopup", "TextDestinationProfilePopup",
                                        "GraphicsDestinationProfilePopup", "SimulationSourcePopup"};
constexpr const char* kFollowers[] = {"ImageRenderIntentPopup",      "ImageGrayTreatmentPopup",
                                      "TextRenderIntentPopup",       "TextGrayTreatmentPopup",
                                      "GraphicsRenderIntentPopup",   "GraphicsGrayTreatmentPopup",
                                      "SimulationRenderIntentPopup", "SimulationGrayTreatmentPopup"};

class RulesTest : public PanesTest {
 protected:
  void Select(const char* name, int value) {
    auto* c = ByRuleName(name);
    ASSERT_NE(c, nullptr) << name;
    c->setIntValue(value);
  }
  bool Enabled(const char* name) {
    auto* c = ByRuleName(name);
    EXPECT_NE(c, nullptr) << name;
    return c && c->isEnabled();
  }
  // Every advanced control enabled or disabled, to see what a pass touches.
  void SetAllAdvancedEnabled(bool on) {
    PDEControlTable t = advanced->getControlData();
    for (int i = 0; t[i].kind != kControlKindEnd; ++i)
      dynamic_cast<ui::Control*>(t[i].control.get())->setEnabled(on);
  }
};

TEST_F(RulesTest, TableShapeDependsOnTheBuild) {
  EXPECT_EQ(ColorPresetRuleCount(), R2740_COLOR_MONO ? 20 : 19);
  EXPECT_EQ(cstColorOption[ColorPresetRuleCount()].ruleKind, kCstTableEnd);
  for (int r = 0; r < ColorPresetRuleCount(); ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(cstColorOption[r].ruleKind, kCstValueChange);
    ASSERT_EQ(cstColorOption[r].actionCount, 1);
    EXPECT_EQ(cstColorOption[r].actions[0].code, kCstGreyOut);
    // Every name the rules use is a row of the compound table.
    EXPECT_NE(FindRuleControl(compTable, cstColorOption[r].target.name), nullptr);
    for (int c = 0; c < cstColorOption[r].conditionCount; ++c)
      EXPECT_NE(FindRuleControl(compTable, cstColorOption[r].conditions[c].name), nullptr);
  }
  EXPECT_FALSE(bMatchCondition(-1, compTable));
  EXPECT_FALSE(bMatchCondition(ColorPresetRuleCount(), compTable));
}

TEST_F(RulesTest, AdvancedButtonOnlyAtTheCustomQuickColor) {
  for (int qc : {0, 1, 2, 3}) {
    color->menu_QuickColor->selectItemAtIndex(qc);
    vColorPresetConstraints(compTable);
    EXPECT_EQ(color->button_AdvanceColorOptions->isEnabled(), qc == 3) << qc;
  }
  // Nothing selected counts as rule value 0, which is not 4.
  color->menu_QuickColor->removeAllItems();
  vColorPresetConstraints(compTable);
  EXPECT_FALSE(color->button_AdvanceColorOptions->isEnabled());
}

TEST_F(RulesTest, GrayscaleGreysOutColourManagement) {
  // Off: sources and destinations enabled; each follower follows its own
  // second condition.
  Select("ColorAsGrayCheckBox", 0);
  for (const char* m : kSourceMenus) Select(m, 1);  // second item everywhere
  vColorPresetConstraints(compTable);
  for (const char* m : kSourceMenus) EXPECT_TRUE(Enabled(m)) << m;
  for (const char* m : {"ImageRenderIntentPopup", "TextRenderIntentPopup", "GraphicsRenderIntentPopup",
                        "SimulationRenderIntentPopup", "SimulationGrayTreatmentPopup"})
    EXPECT_TRUE(Enabled(m)) << m;
  // Gray treatment is greyed out while the destination is not the first.
  for (const char* m : {"ImageGrayTreatmentPopup", "TextGrayTreatmentPopup", "GraphicsGrayTreatmentPopup"})
    EXPECT_FALSE(Enabled(m)) << m;

  Select("ImageRGBSourcePopup", 0);
  Select("ImageDestinationProfilePopup", 0);
  Select("SimulationSourcePopup", 0);
  vColorPresetConstraints(compTable);
  EXPECT_FALSE(Enabled("ImageRenderIntentPopup"));
  EXPECT_TRUE(Enabled("ImageGrayTreatmentPopup"));
  EXPECT_FALSE(Enabled("SimulationRenderIntentPopup"));
  EXPECT_FALSE(Enabled("SimulationGrayTreatmentPopup"));
  EXPECT_TRUE(Enabled("TextRenderIntentPopup"));

  // On: all of them greyed out, whatever the menus say.
  Select("ColorAsGrayCheckBox", 1);
  vColorPresetConstraints(compTable);
  for (const char* m : kSourceMenus) EXPECT_FALSE(Enabled(m)) << m;
  for (const char* m : kFollowers) EXPECT_FALSE(Enabled(m)) << m;
}

TEST_F(RulesTest, EconomyAndEdgeTypeGreyOutEdgeEnhancement) {
  Select("EdgeTypePopup", 1);
  Select("EconoModeCheckBox", 0);
  vColorPresetConstraints(compTable);
  EXPECT_TRUE(Enabled("ImageEdgeEnhancePopup"));
  EXPECT_TRUE(Enabled("TextEdgeEnhancePopup"));
  EXPECT_TRUE(Enabled("GraphicsEdgeEnhancePopup"));

  Select("EconoModeCheckBox", 1);
  vColorPresetConstraints(compTable);
  EXPECT_FALSE(Enabled("ImageEdgeEnhancePopup"));
  EXPECT_TRUE(Enabled("TextEdgeEnhancePopup"));  // economy leaves text alone
  EXPECT_FALSE(Enabled("GraphicsEdgeEnhancePopup"));

  Select("EconoModeCheckBox", 0);
  Select("EdgeTypePopup", 0);
  vColorPresetConstraints(compTable);
  EXPECT_FALSE(Enabled("ImageEdgeEnhancePopup"));
  EXPECT_FALSE(Enabled("TextEdgeEnhancePopup"));
  EXPECT_FALSE(Enabled("GraphicsEdgeEnhancePopup"));
}

// The grayscale box: locked on in the monochrome build, free in the colour
// build.
TEST_F(RulesTest, GrayscaleLockOnlyInTheMonochromeBuild) {
  auto box = color->check_ColorAsGrayscale;
  box->setState(0);
  vColorPresetConstraints(compTable);
  EXPECT_TRUE(box->isEnabled());
  EXPECT_EQ(box->state(), 0);

  box->setState(1);
  vColorPresetConstraints(compTable);
  EXPECT_EQ(box->state(), 1);
#if R2740_COLOR_MONO
  EXPECT_FALSE(box->isEnabled());
  // A disabled box cannot be clicked off.
  EXPECT_FALSE(box->userClick());
  EXPECT_EQ(box->state(), 1);
#else
  EXPECT_TRUE(box->isEnabled());
  EXPECT_TRUE(box->userClick());  // sends constraints: to the owner
  EXPECT_EQ(box->state(), 0);
  EXPECT_EQ(owner->constraintsCount, 1);
  EXPECT_TRUE(box->isEnabled());
#endif
  // The same holds over the colour pane's own table.
  box->setState(1);
  box->setEnabled(true);
  vColorPresetConstraints(color->getControlData());
  EXPECT_EQ(box->isEnabled(), !R2740_COLOR_MONO);
}

// Over the colour pane's table only the Advanced button (and, monochrome,
// the grayscale box) are touched; advanced controls keep their state and
// conditions on them do not hold.
TEST_F(RulesTest, OnePaneTableTouchesOnlyItsOwnTargets) {
  SetAllAdvancedEnabled(true);
  color->check_ColorAsGrayscale->setState(1);
  color->check_EconomyPrint->setState(1);
  color->menu_QuickColor->selectItemAtIndex(3);
  color->button_AdvanceColorOptions->setEnabled(false);
  // The user's change reaches the owner's selectItem: action.
  ASSERT_TRUE(color->menu_QuickColor->userSelectItem(3));
  EXPECT_EQ(owner->selectItemCount, 1);
  EXPECT_TRUE(color->button_AdvanceColorOptions->isEnabled());
  PDEControlTable a = advanced->getControlData();
  for (int i = 0; a[i].kind != kControlKindEnd; ++i)
    EXPECT_TRUE(dynamic_cast<ui::Control*>(a[i].control.get())->isEnabled()) << i;

  // And the advanced pane's own table leaves the colour pane alone.
  color->button_AdvanceColorOptions->setEnabled(false);
  color->menu_QuickColor->selectItemAtIndex(3);
  vColorPresetConstraints(advanced->getControlData());
  EXPECT_FALSE(color->button_AdvanceColorOptions->isEnabled());
  EXPECT_TRUE(advanced->menu_iRGBSource->isEnabled());  // its condition is not in this table
}

// Every advanced menu change reaches constraints:, over both panes.
TEST_F(RulesTest, AdvancedChangesRunTheCompoundRules) {
  for (const auto& menu : AdvancedMenus()) {
    EXPECT_EQ(menu->action(), "constraints:");
    EXPECT_EQ(menu->target(), owner);
  }
  color->check_ColorAsGrayscale->setState(0);
  advanced->menu_iRGBSource->selectItemAtIndex(1);
  vColorPresetConstraints(compTable);
  EXPECT_TRUE(advanced->menu_iRGBIntent->isEnabled());
  ASSERT_TRUE(advanced->menu_iRGBSource->userSelectItem(0));
  EXPECT_FALSE(advanced->menu_iRGBIntent->isEnabled());
}

TEST(RuleUnits, PopUpsCountFromOneOtherKindsKeepTheirValue) {
  PDEControlRecord popUp{nullptr, kControlKindPopUp, "", nullptr, nullptr, "", 0, nullptr};
  PDEControlRecord check{nullptr, kControlKindCheckBox, "", nullptr, nullptr, "", 0, nullptr};
  EXPECT_EQ(PDECommon::commonConvertToCSTValue(&popUp, 0), 1);
  EXPECT_EQ(PDECommon::commonConvertToCSTValue(&popUp, 3), 4);
  EXPECT_EQ(PDECommon::commonConvertToCSTValue(&popUp, -1), 0);
  EXPECT_EQ(PDECommon::commonConvertFromCSTValue(&popUp, 4), 3);
  EXPECT_EQ(PDECommon::commonConvertFromCSTValue(&popUp, 0), 0);
  EXPECT_EQ(PDECommon::commonConvertFromCSTValue(&popUp, -5), 0);
  EXPECT_EQ(PDECommon::commonConvertToCSTValue(&check, 1), 1);
  EXPECT_EQ(PDECommon::commonConvertFromCSTValue(&check, 0), 0);
  EXPECT_EQ(PDECommon::commonConvertToCSTValue(nullptr, 7), 7);
  EXPECT_EQ(PDECommon::commonConvertFromCSTValue(nullptr, 7), 7);

  // A table with only the terminator: nothing found, nothing done.
  PDEControlRecord empty[1] = {PDEControlTerminator()};
  EXPECT_EQ(FindRuleControl(empty, "QuickColorPopup"), nullptr);
  EXPECT_FALSE(bMatchCondition(0, empty));
  vColorPresetConstraints(empty);
  vColorPresetConstraints(nullptr);
}

}  // namespace
}  // namespace panes_test
}  // namespace R2740_COLOR_NS
