// General options, queue defaults and presets on the sample colour PPD,
// without panels and without cupsd. Paper sizes are the PPD's own numbers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "cf/plist.h"
#include "defaults.h"
#include "general.h"
#include "presets.h"
#include "ui/ui.h"

namespace {

namespace fs = std::filesystem;

class General : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    auto ppd = host::PPDFile::open(std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd", &error);
    ASSERT_TRUE(ppd) << error;
    cb = std::make_shared<host::HostCallback>(host::ManualQueue("", "Q1", ""), std::move(ppd));
  }
  bool Set(const std::string& k, const std::string& v) { return host::SetGeneralOption(*cb, k, v, &why); }
  std::string Setting(const std::string& k) {
    auto s = cf::As<cf::String>(cb->settings().value(k));
    return s ? s->utf8() : "<missing>";
  }
  std::shared_ptr<host::HostCallback> cb;
  std::string why;
};

TEST_F(General, ValuesAreCheckedBeforeTheyAreStored) {
  for (const char* ok : {"1", "7", "1-3,5,8-", "2-2,4-9"}) EXPECT_TRUE(Set("page-ranges", ok)) << ok << ": " << why;
  for (const char* bad : {"0", "3-1", "5,3", "1-4,4", "1-,4", "1,", "a", "-3", "1 -2", "1234567890"})
    EXPECT_FALSE(Set("page-ranges", bad)) << bad;
  EXPECT_EQ(Setting("page-ranges"), "2-2,4-9");  // the refused ones left it alone
  EXPECT_TRUE(Set("page-ranges", ""));
  EXPECT_EQ(Setting("page-ranges"), "<missing>");

  EXPECT_FALSE(Set("copies", "0"));
  EXPECT_FALSE(Set("copies", "10000"));
  EXPECT_TRUE(Set("copies", "9999"));
  EXPECT_TRUE(Set("collate", "false"));
  EXPECT_EQ(Setting("multiple-document-handling"), "separate-documents-uncollated-copies");

  EXPECT_TRUE(Set("orientation-requested", "reverse-landscape"));
  EXPECT_EQ(Setting("orientation-requested"), "5");
  EXPECT_EQ(cb->pageFormatObject().orientation(), pm::kPMReverseLandscape);
  EXPECT_FALSE(Set("orientation-requested", "7"));

  EXPECT_FALSE(Set("Duplex", "Sideways"));
  EXPECT_FALSE(Set("NoSuchOption", "x"));
  EXPECT_TRUE(Set("Duplex", "DuplexTumble"));
  ppd_choice_t* marked = ppdFindMarkedChoice(cb->ppdFile(), "Duplex");
  ASSERT_TRUE(marked);
  EXPECT_STREQ(marked->choice, "DuplexTumble");
}

TEST_F(General, ThePaperIsThePageFormatsAndPanelsHearOfIt) {
  int heard = 0;
  int key = 0;
  ui::NotificationCenter::defaultCenter().addObserver(&key, pm::kPMPaperDidChangeNotification, [&] { ++heard; });
  EXPECT_TRUE(Set("PageSize", "Env10")) << why;
  ui::NotificationCenter::defaultCenter().removeObserver(&key);
  EXPECT_EQ(heard, 1);
  pm::Paper* paper = cb->pageFormatObject().paper();
  ASSERT_TRUE(paper);
  EXPECT_EQ(paper->id(), "Env10");
  EXPECT_DOUBLE_EQ(paper->width(), 297);
  EXPECT_DOUBLE_EQ(paper->height(), 684);
  EXPECT_EQ(Setting(pm::kPMDestinationPaperNameKey), "Env10");

  // Custom sizes inside 216..864 x 360..1296 points only.
  EXPECT_TRUE(Set("PageSize", "Custom.5x8in")) << why;
  paper = cb->pageFormatObject().paper();
  ASSERT_TRUE(paper);
  EXPECT_DOUBLE_EQ(paper->width(), 360);
  EXPECT_DOUBLE_EQ(paper->height(), 576);
  EXPECT_FALSE(Set("PageSize", "Custom.100x500"));
  EXPECT_NE(why.find("outside"), std::string::npos) << why;
  EXPECT_FALSE(Set("PageSize", "Custom.axb"));
  EXPECT_FALSE(Set("PageSize", "Tabloid"));
  EXPECT_EQ(Setting("PageSize"), "Custom.5x8in");
}

TEST_F(General, ConflictsNameThePairOnceAndFeaturesLeaveClaimedOptionsOut) {
  EXPECT_TRUE(host::Conflicts(cb->ppdFile()).empty());
  ASSERT_TRUE(Set("PageSize", "Env10"));
  ASSERT_TRUE(Set("PrintModeR2740", "SecurePrint"));
  auto lines = host::Conflicts(cb->ppdFile());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Env10"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("SecurePrint"), std::string::npos) << lines[0];

  auto names = [&](const std::vector<std::string>& claimed) {
    std::vector<std::string> out;
    for (ppd_option_t* o : host::FeatureOptions(cb->ppdFile(), claimed)) out.push_back(o->keyword);
    return out;
  };
  auto all = names({});
  EXPECT_EQ(std::count(all.begin(), all.end(), "QVBrightness"), 1);
  for (const char* general : {"PageSize", "PageRegion", "Duplex"})
    EXPECT_EQ(std::count(all.begin(), all.end(), general), 0) << general;
  // The typed options are the Security panel's fields, never a feature of
  // ours; as options they only take what says nothing.
  for (const char* typed : {"R2740DocumentPassword", "R2740UserName", "R2740UserPassword", "R2740SectionName",
                            "R2740SectionPassword"}) {
    ASSERT_TRUE(ppdFindOption(cb->ppdFile(), typed)) << typed;
    EXPECT_EQ(std::count(all.begin(), all.end(), typed), 0) << typed;
    EXPECT_TRUE(Set(typed, "None")) << why;
    EXPECT_FALSE(Set(typed, "Custom.abcd")) << typed;
    EXPECT_NE(why.find("--set jp.orvessa.printers.R2740."), std::string::npos) << why;
    EXPECT_EQ(Setting(typed), "<missing>");
  }
  std::vector<std::string> claimed = all;
  claimed.erase(std::find(claimed.begin(), claimed.end(), "QVEdgeType"));
  EXPECT_EQ(names(claimed), std::vector<std::string>{"QVEdgeType"});
}

TEST_F(General, DefaultsStartTheDialogButStoredSettingsWin) {
  cb->settings().setValue("Duplex", cf::str("DuplexTumble"), false);
  cb->settings().setValue("orientation-requested", cf::str("9"), false);  // unusable: dropped
  std::vector<std::string> dropped;
  auto start = host::StartFromDefaults(*cb,
                                       {{"QVBrightness", "Darker1"},
                                        {"media", "A4"},
                                        {"sides", "two-sided-long-edge"},
                                        {"copies", "2"},
                                        {"R2740UserPassword", "Custom.secret"}},
                                       &dropped);
  // A typed password in the user's defaults never reaches our settings.
  EXPECT_EQ(Setting("R2740UserPassword"), "<missing>");
  // The panels start from the PPD's defaults: now the queue's.
  ppd_option_t* brightness = ppdFindOption(cb->ppdFile(), "QVBrightness");
  ASSERT_TRUE(brightness);
  EXPECT_STREQ(brightness->defchoice, "Darker1");
  EXPECT_EQ(Setting("QVBrightness"), "Darker1");
  EXPECT_EQ(Setting("PageSize"), "A4");  // "media" mapped by libcups
  ASSERT_TRUE(cb->pageFormatObject().paper());
  EXPECT_EQ(cb->pageFormatObject().paper()->id(), "A4");
  EXPECT_EQ(Setting("copies"), "2");
  EXPECT_EQ(Setting("Duplex"), "DuplexTumble");
  EXPECT_EQ(Setting("orientation-requested"), "<missing>");
  EXPECT_EQ(dropped.size(), 1u);

  // A custom size comes with its size.
  auto custom = std::make_shared<host::HostCallback>(host::ManualQueue("", "Q2", ""),
                                                     host::PPDFile::open(std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd", &why));
  host::StartFromDefaults(*custom, {{"PageSize", "Custom.300x500"}});
  ASSERT_TRUE(custom->pageFormatObject().paper());
  EXPECT_EQ(custom->pageFormatObject().paper()->id(), "Custom.300x500");
  EXPECT_DOUBLE_EQ(custom->pageFormatObject().paper()->width(), 300);

  // Only what changed since, and nothing of the panels' ticket.
  ASSERT_TRUE(Set("QVBrightness", "Lighter2"));
  ASSERT_TRUE(Set("page-ranges", "2"));
  cb->settings().setValue("jp.orvessa.printers.R2740.secureKey", cf::str("00ff"), false);
  cb->settings().setValue("R2740SectionPassword", cf::str("Custom.1234"), false);
  auto save = host::OptionsToSave(cb->settings().asDictionary(), cb->ppdFile(), start);
  EXPECT_EQ(save, (host::OptionList{{"QVBrightness", "Lighter2"}}));
}

class Presets : public General {
 protected:
  void SetUp() override {
    General::SetUp();
    char tmpl[] = "/tmp/r2740-presets-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir = tmpl;
    setenv("R2740_USER_PREFS", dir.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("R2740_USER_PREFS");
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string dir;
};

TEST_F(Presets, RoundTripKeepsNoSecretsAndMovesToAnotherQueue) {
  auto settings = cf::Dictionary::create();
  auto queue = cf::Dictionary::create();
  queue->setValue("QVBrightness", cf::str("Lighter1"));
  queue->setValue("jp.orvessa.printers.R2740.sectionKey", cf::str("abcd"));
  queue->setValue("jp.orvessa.printers.R2740.sectionName", cf::str("Sales"));
  auto model = cf::Dictionary::create();
  model->setValue("Q1", queue);
  settings->setValue("R2740", model);
  settings->setValue("PageSize", cf::str("A4"));
  settings->setValue("page-ranges", cf::str("1-2"));
  settings->setValue("jp.orvessa.printers.R2740.secureKey", cf::str("00ff"));

  ASSERT_TRUE(host::SavePreset("Sales/A4", settings, "Q1", &why)) << why;
  ASSERT_TRUE(host::SavePreset(host::kLastUsedSettings, settings, "Q1", &why)) << why;
  EXPECT_FALSE(host::SavePreset("", settings, "Q1", &why));
  EXPECT_EQ(host::PresetNames(), (std::vector<std::string>{host::kLastUsedSettings, "Sales/A4"}));
  struct stat st {};
  ASSERT_EQ(stat((dir + "/presets/Sales%2FA4.plist").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  auto loaded = host::LoadPreset("Sales/A4", "Q2", &why);
  ASSERT_TRUE(loaded) << why;
  EXPECT_FALSE(loaded->contains("page-ranges"));
  EXPECT_FALSE(loaded->contains("jp.orvessa.printers.R2740.secureKey"));
  EXPECT_FALSE(loaded->contains(host::kPresetQueueKey));
  auto m = loaded->get<cf::Dictionary>("R2740");
  ASSERT_TRUE(m);
  auto q2 = m->get<cf::Dictionary>("Q2");
  ASSERT_TRUE(q2);
  auto value = q2->get<cf::String>("QVBrightness");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->utf8(), "Lighter1");
  EXPECT_TRUE(q2->contains("jp.orvessa.printers.R2740.sectionName"));
  EXPECT_FALSE(q2->contains("jp.orvessa.printers.R2740.sectionKey"));
  // A copy: the new queue's values are its own.
  q2->setValue("QVBrightness", cf::str("Darker2"));
  auto q1 = m->get<cf::Dictionary>("Q1");
  ASSERT_TRUE(q1);
  EXPECT_EQ(q1->get<cf::String>("QVBrightness")->utf8(), "Lighter1");

  EXPECT_FALSE(host::LoadPreset("Nothing", "Q1", &why));
  EXPECT_NE(why.find("no preset named"), std::string::npos) << why;
}

}  // namespace
