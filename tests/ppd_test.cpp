// The sample PPDs, opened, marked and read back through the host core.
#include <cups/cups.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "host.h"
#include "host_test_util.h"
#include "printing/typed_options.h"
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
  ppdMarkOption(ppd, "QVQuickColor", "Manual");  // a Quick Color preset locks the advanced values
  ppdMarkOption(ppd, "QVImageHalftone", "HighLPI");
  EXPECT_STREQ(ppdFindMarkedChoice(ppd, "QVImageHalftone")->choice, "HighLPI");

  // Secure print conflicts with section management and with envelopes
  // (and without a document password, see below).
  ppdMarkOption(ppd, "R2740DocumentPassword", "Custom.abcd");
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

// What dialogs other than ours read, as libcups' own parse gives it.
TEST_P(SamplePPD, SpeaksOtherDialogsConventions) {
  std::unique_ptr<ppd_file_t, decltype(&ppdClose)> file(ppdOpenFile(GetParam().c_str()), ppdClose);
  ppd_file_t* ppd = file.get();
  ASSERT_TRUE(ppd);
  ppdMarkDefaults(ppd);
  auto groupOf = [ppd](const char* keyword) -> std::string {
    for (int g = 0; g < ppd->num_groups; ++g)
      for (int o = 0; o < ppd->groups[g].num_options; ++o)
        if (std::string(ppd->groups[g].options[o].keyword) == keyword) return ppd->groups[g].name;
    return "<none>";
  };

  // Typed fields: one parameter each, named as the shared table says, in
  // the Security group, "None" unless typed (types and ranges are held
  // against the panel's fields in the security panel's test).
  for (const pm::TypedOption& t : pm::kTypedOptions) {
    ppd_option_t* o = ppdFindOption(ppd, t.keyword);
    ASSERT_TRUE(o) << t.keyword;
    EXPECT_EQ(o->ui, PPD_UI_PICKONE);
    EXPECT_STREQ(o->defchoice, "None");
    EXPECT_EQ(groupOf(t.keyword), "Security");
    ppd_coption_t* custom = ppdFindCustomOption(ppd, t.keyword);
    ASSERT_TRUE(custom) << t.keyword;
    ppd_cparam_t* param = ppdFirstCustomParam(custom);
    ASSERT_TRUE(param);
    EXPECT_STREQ(param->name, t.param);
    EXPECT_FALSE(ppdNextCustomParam(custom)) << t.keyword << ": GTK takes one parameter only";
  }

  // cupsJobPassword: as long as the longest document password, any
  // printable ASCII ("."), so that lp -o job-password= can carry it.
  ppd_attr_t* job = ppdFindAttr(ppd, "cupsJobPassword", nullptr);
  ASSERT_TRUE(job && job->value);
  ppd_cparam_t* doc = ppdFindCustomParam(ppdFindCustomOption(ppd, "R2740DocumentPassword"), "Password");
  ASSERT_TRUE(doc);
  EXPECT_EQ(std::string(job->value), std::string(static_cast<size_t>(doc->maximum.custom_password), '.'));

  // Groups GTK 3 files under its Color and Image Quality tabs (its
  // color_group / image_quality_group lists in gtkprintbackendcups.c).
  for (const char* k : {"QVQuickColor", "QVBrightness", "QVColorAsGray", "QVSimSource"})
    EXPECT_EQ(groupOf(k), "ColorPage") << k;
  for (const char* k : {"QVEconoMode", "QVEdgeType", "QVGlossyMode"}) EXPECT_EQ(groupOf(k), "ImageQualityPage") << k;
  for (const char* k : kAdvanced) EXPECT_NE(groupOf(k), "<none>") << k;

  // Secure Print without a document password conflicts; the resolver
  // switches it off, as the panel does on saving.
  EXPECT_EQ(ppdConflicts(ppd), 0);
  ppdMarkOption(ppd, "PrintModeR2740", "SecurePrint");
  EXPECT_GT(ppdConflicts(ppd), 0);
  int num = 0;
  cups_option_t* opts = nullptr;
  EXPECT_EQ(cupsResolveConflicts(ppd, "R2740DocumentPassword", "None", &num, &opts), 1);
  EXPECT_STREQ(cupsGetOption("PrintModeR2740", num, opts), "Normal");
  cupsFreeOptions(num, opts);
  ppdMarkDefaults(ppd);

  // Quick Color Photo locks the image halftone to Detail (and, with economy
  // mode, the graphics edge enhancement to Off): choosing the preset moves
  // the advanced values, choosing another advanced value moves Quick Color
  // to Custom.
  num = 0;
  opts = nullptr;
  ASSERT_EQ(cupsResolveConflicts(ppd, "QVQuickColor", "Photo", &num, &opts), 1);
  EXPECT_STREQ(cupsGetOption("QVImageHalftone", num, opts), "Detail");
  EXPECT_STREQ(cupsGetOption("QVQuickColor", num, opts), "Photo");
  cupsMarkOptions(ppd, num, opts);
  cupsFreeOptions(num, opts);
  EXPECT_EQ(ppdConflicts(ppd), 0);
  num = 0;
  opts = nullptr;
  ASSERT_EQ(cupsResolveConflicts(ppd, "QVEconoMode", "True", &num, &opts), 1);
  EXPECT_STREQ(cupsGetOption("QVGraphicsEdgeEnhance", num, opts), "Off");
  EXPECT_EQ(cupsGetOption("QVQuickColor", num, opts), nullptr);  // Photo stays
  cupsFreeOptions(num, opts);
  num = 0;
  opts = nullptr;
  ASSERT_EQ(cupsResolveConflicts(ppd, "QVImageHalftone", "HighLPI", &num, &opts), 1);
  EXPECT_STREQ(cupsGetOption("QVQuickColor", num, opts), "Manual");
  cupsFreeOptions(num, opts);
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
