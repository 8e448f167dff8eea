// Quick Color presets with the economy overrides, their summary, and PPDs
// that offer fewer choices than the presets need.
#include "panes_fixture.h"

namespace R2740_COLOR_NS {
namespace panes_test {
namespace {

// Expected menu index of the 21 menus for Quick Color 0, 1, 2.
constexpr int kExpected[3][21] = {
    {1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 2, 1, 1, 1, 1, 0, 1, 1, 0, 0, 0},
    {1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0},
    {1, 1, 1, 0, 2, 1, 1, 1, 1, 0, 2, 1, 1, 1, 1, 0, 2, 1, 0, 0, 0},
};
constexpr int kImageEdge = 5, kTextEdge = 11, kGraphicsEdge = 17, kImageDest = 3;

class PresetsTest : public PanesTest {
 protected:
  std::vector<int> Selection() {
    std::vector<int> out;
    for (const auto& m : AdvancedMenus()) out.push_back(m->indexOfSelectedItem());
    return out;
  }
  void SelectAll(int index) {
    for (const auto& m : AdvancedMenus()) m->selectItemAtIndex(index);
  }
};

TEST_F(PresetsTest, PresetsSetEveryMenuAndEconomyOverridesEdgeEnhancement) {
  for (int qc = 0; qc < 3; ++qc) {
    for (int eco : {0, 1}) {
      SCOPED_TRACE("Quick Color " + std::to_string(qc) + " economy " + std::to_string(eco));
      SelectAll(2);
      advanced->changeItemAccodingQuickColor(static_cast<int16_t>(qc), static_cast<int16_t>(eco));
      std::vector<int> want(kExpected[qc], kExpected[qc] + 21);
      if (eco && qc == 0) want[kGraphicsEdge] = 0;
      if (eco && qc == 2) want[kImageEdge] = want[kGraphicsEdge] = 0;
      EXPECT_EQ(Selection(), want);
      EXPECT_EQ(Selection()[kTextEdge], kExpected[qc][kTextEdge]);  // never overridden
    }
  }
  // Quick Color 1: economy changes nothing.
  advanced->changeItemAccodingQuickColor(1, 0);
  auto without = Selection();
  SelectAll(2);
  advanced->changeItemAccodingQuickColor(1, 1);
  EXPECT_EQ(Selection(), without);
}

TEST_F(PresetsTest, CustomAndUnknownQuickColorLeaveTheMenus) {
  SelectAll(2);
  auto before = Selection();
  for (int qc : {3, 4, 17, -1, -32768}) {
    for (int eco : {0, 1}) {
      advanced->changeItemAccodingQuickColor(static_cast<int16_t>(qc), static_cast<int16_t>(eco));
      EXPECT_EQ(Selection(), before) << qc;
      auto dict = cf::Dictionary::create();
      auto order = cf::Array::create();
      advanced->getSummaryItemAccodingQuickColor(static_cast<int16_t>(qc), static_cast<int16_t>(eco), dict, order);
      EXPECT_TRUE(dict->empty());
      EXPECT_TRUE(order->empty());
    }
  }
}

// A stored profile chosen in a destination menu gives way to the first PPD
// choice under a preset.
TEST_F(PresetsTest, PresetDropsAStoredProfile) {
  auto dest = advanced->menu_iDestinationProfile;
  const int ppdItems = dest->numberOfItems();
  dest->addItemWithTitle("PHOTO.ICC(Studio)Disk");
  dest->selectItemAtIndex(ppdItems);
  advanced->changeItemAccodingQuickColor(0, 0);
  EXPECT_EQ(dest->indexOfSelectedItem(), 0);
}

TEST_F(PresetsTest, SummaryReportsThePresetWithoutChangingTheMenus) {
  SelectAll(0);
  auto before = Selection();
  auto dict = cf::Dictionary::create();
  auto order = cf::Array::create();
  advanced->getSummaryItemAccodingQuickColor(2, 1, dict, order);
  EXPECT_EQ(Selection(), before);

  ASSERT_EQ(order->count(), 23u);
  EXPECT_EQ(dict->count(), 21u);
  auto name = [&](size_t i) { return cf::As<cf::String>(order->at(i))->utf8(); };
  auto value = [&](const std::string& key) {
    auto s = dict->get<cf::String>(key);
    return s ? s->utf8() : std::string("<none>");
  };
  EXPECT_EQ(name(0), "Image RGB Source");
  EXPECT_EQ(name(21), "Image Edge Enhancement");
  EXPECT_EQ(name(22), "Graphics Edge Enhancement");
  EXPECT_EQ(name(5), "Image Edge Enhancement");
  // The later report replaces the preset's value with item 0's title.
  EXPECT_EQ(value("Image Edge Enhancement"), advanced->menu_iEdgeEnhancement->itemTitleAtIndex(0));
  EXPECT_EQ(value("Graphics Edge Enhancement"), advanced->menu_gEdgeEnhancement->itemTitleAtIndex(0));
  EXPECT_EQ(value("Text Edge Enhancement"), advanced->menu_tEdgeEnhancement->itemTitleAtIndex(1));
  EXPECT_EQ(value("Image Halftone"), "High Resolution");

  // What the summary says is what printing selects.
  advanced->changeItemAccodingQuickColor(2, 1);
  auto menus = AdvancedMenus();
  PDEControlTable t = advanced->getControlData();
  auto localized = [&](const char* key) { return *bundle->localizedString(key); };
  for (int i = 0; i < 21; ++i)
    EXPECT_EQ(value(localized(t[i].itemName)), menus[i]->titleOfSelectedItem()) << i;

  // Quick Color 0 with economy: one extra report.
  dict = cf::Dictionary::create();
  order = cf::Array::create();
  advanced->getSummaryItemAccodingQuickColor(0, 1, dict, order);
  ASSERT_EQ(order->count(), 22u);
  EXPECT_EQ(name(21), "Graphics Edge Enhancement");
}

// A PPD whose options offer fewer choices than the presets need, and one
// that lacks the simulation source: those menus keep their selection, the
// others follow the preset, and the summary reports what will print.
class FewChoicesTest : public PresetsTest {
 protected:
  void SetUp() override {
    ppdPath = SourcePath("color-pde/tests/data/panes_few.ppd");
    PresetsTest::SetUp();
  }
};

TEST_F(FewChoicesTest, MenusWithoutTheNeededChoiceStayAsTheyAre) {
  auto iHalftone = advanced->menu_iHalftone;          // 2 choices, preset 2 wants index 2
  auto tSource = advanced->menu_tRGBSource;           // 1 choice, presets want index 1
  auto iGray = advanced->menu_iRGBGrayTreatment;      // 1 choice, preset 0 wants index 1
  auto gEdge = advanced->menu_gEdgeEnhancement;       // 1 choice
  auto simSource = advanced->menu_sSimulationProfile;  // option missing
  ASSERT_EQ(iHalftone->numberOfItems(), 2);
  ASSERT_EQ(tSource->numberOfItems(), 1);
  EXPECT_EQ(advanced->getControlData()[18].choices, nullptr);

  // A stored profile after the single PPD choice must not be picked by
  // position.
  tSource->addItemWithTitle("CUSTOM.ICC(Mine)Disk");
  tSource->selectItemAtIndex(0);
  iHalftone->selectItemAtIndex(1);

  advanced->changeItemAccodingQuickColor(2, 0);
  EXPECT_EQ(iHalftone->indexOfSelectedItem(), 1);
  EXPECT_EQ(tSource->indexOfSelectedItem(), 0);
  EXPECT_EQ(gEdge->indexOfSelectedItem(), 0);
  EXPECT_EQ(simSource->indexOfSelectedItem(), -1);
  // Menus with enough choices follow the preset.
  EXPECT_EQ(advanced->menu_tHalftone->indexOfSelectedItem(), 2);
  EXPECT_EQ(advanced->menu_gRGBSource->indexOfSelectedItem(), 1);

  // Economy overrides to index 0 still apply where the choice exists.
  advanced->menu_iEdgeEnhancement->selectItemAtIndex(2);
  advanced->changeItemAccodingQuickColor(2, 1);
  EXPECT_EQ(advanced->menu_iEdgeEnhancement->indexOfSelectedItem(), 0);

  iGray->selectItemAtIndex(0);
  advanced->changeItemAccodingQuickColor(0, 1);
  EXPECT_EQ(iGray->indexOfSelectedItem(), 0);

  auto dict = cf::Dictionary::create();
  auto order = cf::Array::create();
  iHalftone->selectItemAtIndex(1);
  advanced->getSummaryItemAccodingQuickColor(2, 0, dict, order);
  // The missing option has no item to report; the short one reports its
  // current item.
  EXPECT_EQ(order->count(), 20u);
  EXPECT_FALSE(dict->contains("Simulation Profile"));
  EXPECT_EQ(dict->get<cf::String>("Image Halftone")->utf8(), iHalftone->itemTitleAtIndex(1));
  EXPECT_EQ(dict->get<cf::String>("Text RGB Source")->utf8(), tSource->itemTitleAtIndex(0));
}

// The shipped sample PPDs offer every choice the presets select.
TEST(SamplePPDs, OfferEveryPresetChoice) {
  const char* keys[21] = {"QVImageRGBSource", "QVImageRenderIntent", "QVImageGrayTreatment",
                          "QVImageDestinationProfile", "QVImageHalftone", "QVImageEdgeEnhance",
                          "QVTextRGBSource", "QVTextRenderIntent", "QVTextGrayTreatment",
                          "QVTextDestinationProfile", "QVTextHalftone", "QVTextEdgeEnhance",
                          "QVGraphicsRGBSource", "QVGraphicsRenderIntent", "QVGraphicsGrayTreatment",
                          "QVGraphicsDestinationProfile", "QVGraphicsHalftone", "QVGraphicsEdgeEnhance",
                          "QVSimSource", "QVSimRenderIntent", "QVSimGrayTreatment"};
  for (const char* file : {"data/ppd/R2740.ppd", "data/ppd/R2740Mono.ppd"}) {
    ppd_file_t* p = ppdOpenFile(SourcePath(file).c_str());
    ASSERT_NE(p, nullptr) << file;
    ppd_option_t* qc = ppdFindOption(p, "QVQuickColor");
    ASSERT_NE(qc, nullptr);
    EXPECT_EQ(qc->num_choices, 4);
    for (int row = 0; row < 21; ++row) {
      ppd_option_t* o = ppdFindOption(p, keys[row]);
      ASSERT_NE(o, nullptr) << file << " " << keys[row];
      int need = 0;
      for (int q = 0; q < 3; ++q)
        for (bool eco : {false, true}) need = std::max(need, AdvancedColorOptions::PresetIndex(q, eco, row) + 1);
      EXPECT_GE(o->num_choices, need) << file << " " << keys[row];
    }
    ppdClose(p);
  }
}

}  // namespace
}  // namespace panes_test
}  // namespace R2740_COLOR_NS
