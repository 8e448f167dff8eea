// The sample PPDs, opened, marked and read back through the host core.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "host.h"
#include "host_test_util.h"
#include "system/system.h"

using namespace hosttest;
using ::testing::ElementsAre;

namespace {

std::vector<std::string> Choices(ppd_file_t* ppd, const char* key) {
  std::vector<std::string> out;
  if (ppd_option_t* o = ppdFindOption(ppd, key))
    for (int i = 0; i < o->num_choices; ++i) out.push_back(o->choices[i].choice);
  return out;
}

const char* kAdvanced[] = {
    "QVImageRGBSource", "QVImageRenderIntent", "QVImageGrayTreatment", "QVImageDestinationProfile",
    "QVImageHalftone", "QVImageEdgeEnhance", "QVTextRGBSource", "QVTextRenderIntent", "QVTextGrayTreatment",
    "QVTextDestinationProfile", "QVTextHalftone", "QVTextEdgeEnhance", "QVGraphicsRGBSource",
    "QVGraphicsRenderIntent", "QVGraphicsGrayTreatment", "QVGraphicsDestinationProfile", "QVGraphicsHalftone",
    "QVGraphicsEdgeEnhance", "QVSimSource", "QVSimRenderIntent", "QVSimGrayTreatment"};

}  // namespace

class SamplePPD : public ::testing::TestWithParam<std::string> {};

TEST_P(SamplePPD, OffersWhatThePanelsNeed) {
  std::string error;
  auto file = host::PPDFile::open(GetParam(), &error);
  ASSERT_TRUE(file) << error;
  ppd_file_t* ppd = file->get();
  // Written in ISO Latin 1; libcups hands out the texts as UTF-8.
  EXPECT_NE(ReadAll(GetParam()).find("\n*LanguageEncoding: ISOLatin1\n"), std::string::npos);
  ppd_choice_t* normal = ppdFindChoice(ppdFindOption(ppd, "QVBrightness"), "Normal");
  ASSERT_TRUE(normal);
  EXPECT_STREQ(normal->text, "\u00b10 (Normal)");

  EXPECT_EQ(Choices(ppd, "QVQuickColor").size(), 4u);
  EXPECT_GE(Choices(ppd, "QVBrightness").size(), 2u);
  EXPECT_GE(Choices(ppd, "QVEdgeType").size(), 2u);
  for (const char* k : {"QVColorAsGray", "QVEconoMode", "QVGlossyMode", "QVAuthenticationR2740",
                        "QVSectionManagementR2740"})
    EXPECT_THAT(Choices(ppd, k), ElementsAre("False", "True")) << k;
  for (const char* k : kAdvanced) {
    size_t n = Choices(ppd, k).size();
    EXPECT_GE(n, std::string(k).find("Halftone") != std::string::npos ? 3u : 2u) << k;
  }
  auto modes = Choices(ppd, "PrintModeR2740");
  ASSERT_GE(modes.size(), 2u);
  EXPECT_EQ(modes[1], "SecurePrint");

  // Sizes, regions and a custom size range.
  EXPECT_GE(ppd->num_sizes, 5);
  EXPECT_EQ(Choices(ppd, "PageSize"), Choices(ppd, "PageRegion"));
  EXPECT_TRUE(ppd->variable_sizes);
  EXPECT_GT(ppd->custom_max[0], ppd->custom_min[0]);
  EXPECT_GT(ppd->custom_max[1], ppd->custom_min[1]);
  EXPECT_GT(ppd->num_consts, 0);

  // Defaults are marked and conflict-free; a marked choice reads back.
  EXPECT_EQ(ppdConflicts(ppd), 0);
  ppd_choice_t* c = ppdFindMarkedChoice(ppd, "QVImageHalftone");
  ASSERT_TRUE(c);
  EXPECT_STREQ(c->choice, ppdFindOption(ppd, "QVImageHalftone")->defchoice);
  ppdMarkOption(ppd, "QVImageHalftone", "HighLPI");
  EXPECT_STREQ(ppdFindMarkedChoice(ppd, "QVImageHalftone")->choice, "HighLPI");

  // Secure print conflicts with section management and with envelopes.
  ppdMarkOption(ppd, "PrintModeR2740", "SecurePrint");
  EXPECT_EQ(ppdConflicts(ppd), 0);
  ppdMarkOption(ppd, "QVSectionManagementR2740", "True");
  EXPECT_GT(ppdConflicts(ppd), 0);
  EXPECT_TRUE(ppdFindOption(ppd, "PrintModeR2740")->conflicted);
  ppdMarkOption(ppd, "QVSectionManagementR2740", "False");
  ppdMarkOption(ppd, "PageSize", "Env10");
  EXPECT_GT(ppdConflicts(ppd), 0);
  ppdMarkOption(ppd, "PrintModeR2740", "Normal");
  EXPECT_EQ(ppdConflicts(ppd), 0);
}

INSTANTIATE_TEST_SUITE_P(Both, SamplePPD, ::testing::Values(ColorPPD(), MonoPPD()),
                         [](const auto& info) { return info.param == ColorPPD() ? "Color" : "Mono"; });

TEST(SamplePPD, NamesItsBundlesUnderTheInstallRoot) {
  setenv("R2740_ROOT", "/tmp/r2740-root", 1);
  std::string error;
  auto color = host::PPDFile::open(ColorPPD(), &error);
  auto mono = host::PPDFile::open(MonoPPD(), &error);
  ASSERT_TRUE(color && mono) << error;
  const std::string pdes = sys::ResolvePath("/Library/Printers/ORVESSA/R2740/PDEs") + "/";
  ASSERT_EQ(pdes.rfind("/tmp/r2740-root/", 0), 0u) << pdes;
  EXPECT_THAT(color->dialogExtensions(),
              ElementsAre(pdes + "ColorOptionsPDE_R2740.plugin", pdes + "SecurityPanelPDE.plugin"));
  EXPECT_THAT(mono->dialogExtensions(),
              ElementsAre(pdes + "ColorOptionsPDE_R2740Mono.plugin", pdes + "SecurityPanelPDE.plugin"));
  unsetenv("R2740_ROOT");
}
