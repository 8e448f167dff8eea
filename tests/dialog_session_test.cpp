// The dialog session with the test plug-in: the print system's call order,
// setting controls as a user would, summaries, save and print.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host.h"
#include "host_test_util.h"

using namespace hosttest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

struct Dialog {
  std::shared_ptr<host::HostCallback> callback;
  std::unique_ptr<host::DialogSession> session;
};

Dialog Make(std::vector<std::string> builds, cf::DictionaryRef settings = nullptr) {
  std::string error;
  auto ppd = host::PPDFile::open(ColorPPD(), &error);
  EXPECT_TRUE(ppd) << error;
  Dialog d;
  d.callback = std::make_shared<host::HostCallback>(
      host::ManualQueue(ColorPPD(), "R2740_Queue_1", "lpd://127.0.0.1/queue"), std::move(ppd));
  std::vector<host::PlugInRef> plugins;
  for (const auto& b : builds) {
    auto p = host::LoadPlugIn(TestBundle(b), &error);
    EXPECT_TRUE(p) << error;
    plugins.push_back(p);
  }
  d.session = std::make_unique<host::DialogSession>(d.callback, plugins);
  if (settings) d.session->loadSettings(settings);
  return d;
}

std::vector<std::string> Calls(host::HostCallback& cb) {
  std::vector<std::string> out;
  if (auto a = cf::As<cf::Array>(cb.session().data("test.calls")))
    for (const auto& v : *a) out.push_back(cf::As<cf::String>(v)->utf8());
  return out;
}

std::string Setting(const host::DialogSession& s, const std::string& key) {
  auto v = cf::As<cf::String>(s.settingsDictionary()->getValue(key));
  return v ? v->utf8() : "<none>";
}

}  // namespace

TEST(DialogSession, DrivesPanelsInThePrintSystemsOrder) {
  auto d = Make({"A", "B"});
  std::string error;
  ASSERT_TRUE(d.session->open(&error)) << error;
  ASSERT_EQ(d.session->panels().size(), 2u);
  EXPECT_EQ(d.session->panels()[0].name, "Test Panel A");
  EXPECT_EQ(d.session->panels()[1].kind, "jp.orvessa.test.B");
  EXPECT_THAT(d.session->panels()[0].keys, ElementsAre("QVEdgeType", "QVGlossyMode"));
  EXPECT_TRUE(d.session->panels()[0].view);
  EXPECT_THAT(Calls(*d.callback),
              ElementsAre("A:PDEPanelsForType", "B:PDEPanelsForType", "A:panelName", "A:panelKind",
                          "A:supportedPPDOptionKeys", "B:panelName", "B:panelKind", "B:supportedPPDOptionKeys",
                          "A:restoreValues", "B:restoreValues", "A:panelView", "B:panelView", "A:willShow",
                          "B:willShow", "A:summaryInfo", "B:summaryInfo"));

  auto before = Calls(*d.callback).size();
  ASSERT_TRUE(d.session->print(&error)) << error;
  auto calls = Calls(*d.callback);
  calls.erase(calls.begin(), calls.begin() + static_cast<long>(before));
  EXPECT_THAT(calls, ElementsAre("A:shouldHide", "A:saveValues", "B:shouldHide", "B:saveValues", "A:shouldPrint",
                                 "B:shouldPrint"));
  EXPECT_EQ(Setting(*d.session, "test.savedBy.A"), "A");
  EXPECT_EQ(Setting(*d.session, "test.savedBy.B"), "B");

  // Panels are terminated and released before the plug-ins go.
  auto callback = d.callback;
  d.session.reset();
  calls = Calls(*callback);
  EXPECT_THAT(std::vector<std::string>(calls.end() - 4, calls.end()),
              ElementsAre("A:terminate", "B:terminate", "A:dealloc", "B:dealloc"));
}

TEST(DialogSession, NilAndEmptyPanelListsOfferNothing) {
  auto settings = cf::Dictionary::create();
  settings->setValue("test.offer.A", cf::str("nil"));
  settings->setValue("test.offer.B", cf::str("empty"));
  auto d = Make({"A", "B"}, settings);
  std::string error;
  EXPECT_FALSE(d.session->open(&error));
  EXPECT_THAT(error, HasSubstr("no plug-in offered a panel"));
  EXPECT_TRUE(d.session->summaries().empty());
  EXPECT_TRUE(d.session->save(&error));  // nothing to save is no failure

  settings->setValue("test.offer.A", cf::str("two"));
  auto two = Make({"A", "B"}, settings);
  ASSERT_TRUE(two.session->open(&error)) << error;
  EXPECT_EQ(two.session->panels().size(), 2u);  // both from A, none from B's empty list

  auto none = Make({});
  EXPECT_FALSE(none.session->open(&error));
  EXPECT_THAT(error, HasSubstr("no plug-in loaded"));
}

TEST(DialogSession, SetControlWorksEveryKindOfControl) {
  auto d = Make({"A"});
  std::string error;
  ASSERT_TRUE(d.session->open(&error)) << error;
  auto& s = *d.session;

  // Pop-up by choice keyword (represented object) and by title; the action follows.
  EXPECT_TRUE(s.setControl("QVEdgeType", "Off", &error)) << error;
  EXPECT_EQ(Calls(*d.callback).back(), "A:action:QVEdgeType");
  EXPECT_TRUE(s.setControl("QVEdgeType", "Standard", &error)) << error;
  // A disabled item refuses.
  EXPECT_FALSE(s.setControl("QVEdgeType", "Strong", &error));
  EXPECT_THAT(error, HasSubstr("disabled"));
  EXPECT_FALSE(s.setControl("QVEdgeType", "Nonsense", &error));
  EXPECT_THAT(error, HasSubstr("no menu item"));

  // Inside a tab item, titles only: by title and by PPD choice keyword.
  EXPECT_TRUE(s.setControl("QVBrightness", "Lighter (+1)", &error)) << error;
  EXPECT_TRUE(s.setControl("QVBrightness", "Darker2", &error)) << error;
  // On a pane detached from the view tree, reachable through allViews().
  EXPECT_TRUE(s.setControl("QVImageHalftone", "HighLPI", &error)) << error;
  EXPECT_FALSE(s.setControl("QVEconoMode", "True", &error));
  EXPECT_THAT(error, HasSubstr("disabled"));

  // Checkbox.
  EXPECT_TRUE(s.setControl("QVGlossyMode", "True", &error)) << error;
  EXPECT_TRUE(s.setControl("QVGlossyMode", "True", &error)) << error;  // already on: stays on
  EXPECT_FALSE(s.setControl("QVGlossyMode", "yes", &error));

  // Text field: typed text replaces the old; a filter that drops input is reported.
  EXPECT_TRUE(s.setControl("jp.orvessa.printers.R2740.testName", "first", &error)) << error;
  EXPECT_TRUE(s.setControl("jp.orvessa.printers.R2740.testName", "Alice", &error)) << error;
  EXPECT_FALSE(s.setControl("jp.orvessa.printers.R2740.testName", "R2D2", &error));
  EXPECT_THAT(error, HasSubstr("RD"));
  EXPECT_TRUE(s.setControl("jp.orvessa.printers.R2740.testName", "Bob", &error)) << error;

  // Radio matrix by title and by row.
  EXPECT_TRUE(s.setControl("TestUserType", "private", &error)) << error;
  EXPECT_TRUE(s.setControl("TestUserType", "0", &error)) << error;
  EXPECT_FALSE(s.setControl("TestUserType", "2", &error));

  // What takes no value, and what is not there.
  EXPECT_FALSE(s.setControl("TestButton", "True", &error));
  EXPECT_FALSE(s.setControl("TestPlainView", "x", &error));
  EXPECT_FALSE(s.setControl("NoSuchKey", "x", &error));
  EXPECT_THAT(error, HasSubstr("unknown key: NoSuchKey"));

  ASSERT_TRUE(s.save(&error)) << error;
  EXPECT_EQ(Setting(s, "QVEdgeType"), "Standard");
  EXPECT_EQ(Setting(s, "QVBrightness"), "Darker2");
  EXPECT_EQ(Setting(s, "QVImageHalftone"), "HighLPI");
  EXPECT_EQ(Setting(s, "QVGlossyMode"), "True");
  EXPECT_EQ(Setting(s, "jp.orvessa.printers.R2740.testName"), "Bob");
}

TEST(DialogSession, SummariesFollowTheDisplayOrder) {
  auto d = Make({"A"});
  std::string error;
  ASSERT_TRUE(d.session->open(&error)) << error;
  ASSERT_TRUE(d.session->setControl("QVEdgeType", "Off", &error)) << error;
  auto sums = d.session->summaries();
  ASSERT_EQ(sums.size(), 1u);
  EXPECT_EQ(sums[0].panelName, "Test Panel A");
  using Row = std::pair<std::string, std::string>;
  // Listed names in order (once each, missing ones skipped), then the rest.
  ASSERT_EQ(sums[0].rows.size(), 4u);
  EXPECT_EQ(sums[0].rows[0], (Row{"Edge Type", "Off"}));
  EXPECT_EQ(sums[0].rows[1], (Row{"Glossy", "Off"}));
  EXPECT_EQ(sums[0].rows[2], (Row{"Build", "A"}));
  EXPECT_EQ(sums[0].rows[3].first, "Panels");
}

TEST(DialogSession, SettingsRoundTripAndRefusalToPrint) {
  auto settings = cf::Dictionary::create();
  settings->setValue("QVEdgeType", cf::str("Off"));
  settings->setValue("jp.orvessa.printers.R2740.testName", cf::str("refuse"));
  auto d = Make({"A"}, settings);
  std::string error;
  ASSERT_TRUE(d.session->open(&error)) << error;
  // restoreValues read the starting settings.
  EXPECT_EQ(d.session->summaries()[0].rows[0].second, "Off");
  // The host keeps the page format's paper in the settings.
  EXPECT_EQ(Setting(*d.session, pm::kPMDestinationPaperNameKey), "Letter");

  EXPECT_FALSE(d.session->print(&error));
  EXPECT_EQ(error, "panel \"Test Panel A\" refused to print");
  // The save before it went through.
  EXPECT_EQ(Setting(*d.session, "test.savedBy.A"), "A");
}
