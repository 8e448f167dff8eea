// The program in batch mode against the plug-in bundles of this build.
#include <gtest/gtest.h>

#include <fstream>

#include "cf/plist.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;
using qttest::Sh;

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp.path.empty());
    if (!qttest::LinkBundles(tmp.path / "bundles", {"ColorOptionsPDE_R2740", "SecurityPanelPDE"}))
      GTEST_SKIP() << "the colour and security bundles are not built in " << R2740_BUNDLE_DIR;
    fs::create_directories(tmp.path / "root");
  }
  std::string Dialog(const std::string& args) {
    return "QT_QPA_PLATFORM=offscreen R2740_ROOT=" + Sh((tmp.path / "root").string()) + " " + Sh(R2740_PRINT_DIALOG) +
           " --ppd " + Sh(std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd") +
           " --queue-id R2740_Queue_1 --device-uri lpd://127.0.0.1/queue --bundles " +
           Sh((tmp.path / "bundles").string()) + " " + args;
  }
  qttest::TempDir tmp;
};

std::string TopLevel(const fs::path& plist, const std::string& key) {
  std::string error;
  auto dict = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(plist.string(), &error));
  if (!dict) return "<unreadable: " + error + ">";
  auto s = cf::As<cf::String>(dict->getValue(key));
  return s ? s->utf8() : "<missing>";
}

// The settings to standard output ("-") beside screenshots: standard output
// is the property list alone, as plistutil reads it; reports go to stderr.
TEST_F(BatchTest, SaveWithSettingsAndScreenshots) {
  fs::path out = tmp.path / "stdout.plist", shots = tmp.path / "shots";
  std::string output;
  int rc = qttest::Run("{ " +
                           Dialog("--set QVBrightness=Lighter1 --set QVSectionManagementR2740=True"
                                  " --set jp.orvessa.printers.R2740.sectionName=Sales --action save"
                                  " --settings-out - --screenshot " + Sh(shots.string())) +
                           " >" + Sh(out.string()) + "; }",
                       &output);
  ASSERT_EQ(rc, 0) << output;
  std::string text = qttest::ReadFile(out);
  ASSERT_EQ(text.substr(0, 5), "<?xml") << text;
  EXPECT_EQ(qttest::PlistutilRoundTrip(out), text);
  EXPECT_NE(output.find("r2740-print-dialog: screenshot written to " + (shots / "Summary.png").string() + "\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(TopLevel(out, "QVBrightness"), "Lighter1");
  EXPECT_EQ(TopLevel(out, "QVSectionManagementR2740"), "True");
  // Both colour panes, the security panel and the summary, each a PNG.
  for (const char* name : {"Color_Options-ColorOptions.png", "Color_Options-AdvancedColorOptions.png",
                           "Security-Security.png", "Summary.png"}) {
    fs::path p = shots / name;
    ASSERT_TRUE(fs::exists(p)) << p << "\n" << output;
    EXPECT_EQ(qttest::ReadFile(p).substr(0, 4), "\x89PNG");
  }
}

TEST_F(BatchTest, RefusalsAndCancelLeaveNoSettings) {
  fs::path out = tmp.path / "settings.plist";
  std::string output;
  // A key no panel has.
  EXPECT_EQ(qttest::Run(Dialog("--set NoSuchKey=1 --action save --settings-out " + Sh(out.string())), &output), 6) << output;
  EXPECT_NE(output.find("NoSuchKey"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(out));
  // Cancel: nothing saved, nothing written.
  EXPECT_EQ(qttest::Run(Dialog("--set QVBrightness=Lighter1 --action cancel --settings-out " + Sh(out.string())), &output), 0)
      << output;
  EXPECT_FALSE(fs::exists(out));
  // A queue given by hand has no CUPS queue to print to: the panels agree,
  // the settings are written, the job is refused with a reason.
  int rc = qttest::Run(Dialog("--action print --settings-out " + Sh(out.string())), &output);
  EXPECT_EQ(rc, 9) << output;
  EXPECT_NE(output.find("--destination"), std::string::npos) << output;
  EXPECT_TRUE(fs::exists(out));
  fs::remove(out);
  // Secure print without a document password and a registered user without
  // a name: one alert of one line, nothing printed or written, and secure
  // print is not turned off on the way.
  rc = qttest::Run(Dialog("--set PrintModeR2740=SecurePrint --set QVAuthenticationR2740=True"
                          " --set jp.orvessa.printers.R2740.userType=1 --action print --settings-out " +
                          Sh(out.string())),
                   &output);
  EXPECT_EQ(rc, 7) << output;
  EXPECT_NE(output.find("alert: Document Password is empty or too short. To use Secure Print, enter Document "
                        "Password. User Name is empty or too short. To use User Authentication, enter User Name. | \n"),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("turned off"), std::string::npos) << output;
  EXPECT_NE(output.find("panel \"Security\" refused to print"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(out));
  // A plain save turns both off, with the on-change alert.
  rc = qttest::Run(Dialog("--set PrintModeR2740=SecurePrint --action save --settings-out " + Sh(out.string())), &output);
  EXPECT_EQ(rc, 0) << output;
  EXPECT_NE(output.find("alert: Secure Print has been turned off"), std::string::npos) << output;
  std::string error;
  auto saved = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(out.string(), &error));
  ASSERT_TRUE(saved) << error;
  auto model = saved->get<cf::Dictionary>("R2740");
  auto queue = model ? model->get<cf::Dictionary>("R2740_Queue_1") : nullptr;
  ASSERT_TRUE(queue);
  auto mode = queue->get<cf::String>("PrintModeR2740");
  ASSERT_TRUE(mode);
  EXPECT_EQ(mode->utf8(), "Normal");
  // Bad arguments.
  EXPECT_EQ(qttest::Run(Dialog("--action fly"), &output), 2) << output;
}

TEST_F(BatchTest, OutputsFailOneByOne) {
  // An unwritable screenshot folder: the settings are still written, and
  // the run says what failed.
  fs::path blocker = tmp.path / "a-file", out = tmp.path / "settings.plist";
  std::ofstream(blocker) << "x";
  std::string output;
  int rc = qttest::Run(Dialog("--set QVBrightness=Lighter1 --action save --settings-out " + Sh(out.string()) +
                              " --screenshot " + Sh((blocker / "shots").string())),
                       &output);
  EXPECT_EQ(rc, 8) << output;
  EXPECT_NE(output.find("r2740-print-dialog: cannot create " + (blocker / "shots").string()), std::string::npos)
      << output;
  EXPECT_EQ(TopLevel(out, "QVBrightness"), "Lighter1");
  EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

  // Start-up failures in a batch run: the exit status and one line.
  rc = qttest::Run("QT_QPA_PLATFORM=offscreen " + Sh(R2740_PRINT_DIALOG) + " --ppd " +
                       Sh((tmp.path / "none.ppd").string()) + " --queue-id Q --action save",
                   &output);
  EXPECT_EQ(rc, 3) << output;
  EXPECT_NE(output.find("r2740-print-dialog: PPD not found"), std::string::npos) << output;
  EXPECT_EQ(output.find("r2740-print-dialog:"), output.rfind("r2740-print-dialog:")) << output;
}

}  // namespace
