// CUPS queues from a real cupsd, started privately in a temporary folder
// with one queue on the colour PPD and stopped at the end.
#include <cups/cups.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <regex>
#include <thread>

#include "cf/plist.h"

#include "host.h"
#include "host_test_util.h"
#include "private_cupsd.h"

using namespace hosttest;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// For printing: R2740Held is stopped, so its jobs and their files stay in
// the spool for the test to read; R2740Closed refuses jobs. The dialogs run
// with the real colour and security panels, and a home of their own (the
// user's lpoptions, presets).
class PrintingCupsd : public PrivateCupsd {
 protected:
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740Held", "State Stopped\nAccepting Yes"}, {"R2740Closed", "State Idle\nAccepting No"}};
  }
  void SetUp() override {
    PrivateCupsd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::filesystem::create_directories(dir_.file("bundles"));
    for (std::string name : {"ColorOptionsPDE_R2740", "SecurityPanelPDE"}) {
      std::string b = std::string(R2740_BUNDLE_DIR) + "/" + name + ".plugin";
      if (!std::filesystem::exists(b + "/Contents/lib/" + name + ".so")) GTEST_SKIP() << name << " is not built";
      std::filesystem::create_directory_symlink(b, dir_.file("bundles/" + name + ".plugin"));
    }
    std::filesystem::create_directories(dir_.file("home"));
    std::filesystem::create_directories(dir_.file("root"));
    env_ = "env -u R2740_USER_PREFS -u XDG_CONFIG_HOME CUPS_SERVER='" + socket_ + "' HOME='" + dir_.file("home") +
           "' R2740_ROOT='" + dir_.file("root") + "' QT_QPA_PLATFORM=offscreen ";
  }
  std::string Cli(const std::string& args) {
    return env_ + "'" + R2740_CLI + "' --bundles '" + dir_.file("bundles") + "' " + args;
  }
  std::string Dialog(const std::string& args) {
    return env_ + "'" + DialogPath() + "' --bundles '" + dir_.file("bundles") + "' " + args;
  }
  static std::string DialogPath() { return std::string(R2740_BINARY_DIR) + "/bin/r2740-print-dialog"; }

  static int Run(const std::string& command, std::string* output) { return hosttest::RunShell(command, output); }
  static int JobId(const std::string& output, const std::string& queue) {
    std::smatch m;
    if (!std::regex_search(output, m, std::regex("job ([0-9]+) submitted to " + queue + " \\("))) return 0;
    return std::stoi(m[1]);
  }
  // The job's attributes as cupsd answers Get-Job-Attributes, each as
  // libcups writes it out.
  std::map<std::string, std::string> Job(int id) { return hosttest::JobAttributes(id); }
  std::string Spooled(int job, int document) {
    char name[32];
    std::snprintf(name, sizeof name, "spool/d%05d-%03d", job, document);
    return ReadAll(dir_.file(name));
  }
  std::string QueueSetting(const std::string& plist, const std::string& key) {
    auto root = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(plist));
    auto model = root ? root->get<cf::Dictionary>("R2740") : nullptr;
    auto queue = model ? model->get<cf::Dictionary>("R2740Held") : nullptr;
    auto v = queue ? queue->get<cf::String>(key) : nullptr;
    return v ? v->utf8() : "<missing>";
  }

  std::string env_;
};

}  // namespace

TEST_F(PrintingCupsd, QueueAndUserDefaultsShowInThePanelsAndReachTheJob) {
  std::string out;
  ASSERT_EQ(Run(env_ + "/usr/sbin/lpadmin -p R2740Held -o QVBrightness-default=Darker1", &out), 0) << out;
  ASSERT_EQ(Run(env_ + "/usr/bin/lpoptions -p R2740Held -o QVGlossyMode=True -o media=A4 -o number-up=2", &out), 0) << out;
  std::string doc = dir_.write("letter.txt", "Dear printer,\nplease print this.\n");
  std::string settings = dir_.file("settings.plist");

  ASSERT_EQ(Run(Cli("--queue R2740Held --action print --document '" + doc + "' --settings-out '" + settings + "'"), &out), 0)
      << out;
  // The colour panel showed (and so saved) the queue's and the user's defaults.
  EXPECT_EQ(QueueSetting(settings, "QVBrightness"), "Darker1");
  EXPECT_EQ(QueueSetting(settings, "QVGlossyMode"), "True");
  int job = JobId(out, "R2740Held");
  ASSERT_GT(job, 0) << out;
  auto attrs = Job(job);
  EXPECT_EQ(attrs["QVBrightness"], "Darker1");
  EXPECT_EQ(attrs["QVGlossyMode"], "true");  // libcups sends "True" as an IPP boolean
  EXPECT_EQ(attrs["PageSize"], "A4");
  EXPECT_EQ(attrs["number-up"], "2");  // not shown by the dialog, passed on as lp does
  EXPECT_EQ(Spooled(job, 1), ReadAll(doc));
  EXPECT_NE(out.find("(stopped"), std::string::npos) << out;  // the queue's state is told

  // "Save as default" writes what lpoptions reads back, and keeps the
  // user's other options.
  ASSERT_EQ(Run(Cli("--queue R2740Held --set QVBrightness=Lighter2 --copies 2 --save-default"), &out), 0) << out;
  ASSERT_EQ(Run(env_ + "/usr/bin/lpoptions -p R2740Held", &out), 0) << out;
  for (const char* want : {"QVBrightness=Lighter2", "copies=2", "QVGlossyMode=True"})
    EXPECT_NE(out.find(want), std::string::npos) << want << " not in: " << out;
  EXPECT_EQ(out.find("jp.orvessa"), std::string::npos) << out;
}

// The security panel switches Secure Print and User Authentication off on a
// save when their entries are missing; the colour panel had already copied
// the shared values to the top of the settings by then. What is kept and
// what the next dialog prints must be what the panel shows.
TEST_F(PrintingCupsd, WhatASaveKeepsIsWhatThePanelSwitchedTo) {
  const std::string prefix = "jp.orvessa.printers.R2740.";
  std::string settings = dir_.file("saved.plist"), out;
  ASSERT_EQ(Run(Cli("--queue R2740Held --set PrintModeR2740=SecurePrint --set " + prefix + "secureKey=ab" +
                    " --set QVAuthenticationR2740=True --set " + prefix + "userType=1" +
                    " --save-default --save-preset Kept --settings-out '" + settings + "'"),
                &out),
            0)
      << out;
  EXPECT_THAT(out, HasSubstr("Secure Print has been turned off"));
  EXPECT_THAT(out, HasSubstr("User Authentication has been turned off"));

  ASSERT_EQ(Run(env_ + "/usr/bin/lpoptions -p R2740Held", &out), 0) << out;
  EXPECT_THAT(out, Not(HasSubstr("PrintModeR2740=SecurePrint")));
  EXPECT_THAT(out, Not(HasSubstr("QVAuthenticationR2740=True")));
  for (const std::string& file : {settings, dir_.file("home/.config/r2740/presets/Kept.plist")}) {
    ASSERT_EQ(Run("/usr/bin/plistutil -i '" + file + "' -f xml", &out), 0) << file << ": " << out;
    EXPECT_THAT(out, HasSubstr("<key>PrintModeR2740</key>")) << file;
    EXPECT_THAT(out, HasSubstr("<key>QVAuthenticationR2740</key>")) << file;
    EXPECT_THAT(out, Not(ContainsRegex("<key>PrintModeR2740</key>[[:space:]]*<string>SecurePrint<"))) << file;
    EXPECT_THAT(out, Not(ContainsRegex("<key>QVAuthenticationR2740</key>[[:space:]]*<string>True<"))) << file;
  }

  // The next dialog starts as the panel ended: it prints without asking
  // for a document password, in the open.
  ASSERT_EQ(Run(Cli("--queue R2740Held --action print"), &out), 0) << out;
  EXPECT_THAT(out, Not(HasSubstr("alert:")));
  int job = JobId(out, "R2740Held");
  ASSERT_GT(job, 0) << out;
  auto attrs = Job(job);
  EXPECT_EQ(attrs["PrintModeR2740"], "Normal");
  EXPECT_EQ(attrs["QVAuthenticationR2740"], "false");  // libcups sends "False" as an IPP boolean
}

TEST_F(PrintingCupsd, DialogPrintsItsFilesWithTheGeneralOptionsAndRemembersThem) {
  if (access(DialogPath().c_str(), X_OK) != 0) GTEST_SKIP() << "the Qt dialog is not built";
  std::string out;
  std::string a = dir_.write("a.txt", "first document\n");
  std::string b = dir_.write("b.ps", "%!PS\nshowpage\n");
  ASSERT_EQ(Run(Dialog("--queue R2740Held --copies 3 --collate false --page-ranges 1-2 --paper Legal "
                       "--orientation landscape --duplex DuplexTumble --set QVBrightness=Lighter1 --action print '" +
                       a + "' '" + b + "'"),
                &out),
            0)
      << out;
  int job = JobId(out, "R2740Held");
  ASSERT_GT(job, 0) << out;
  auto attrs = Job(job);
  EXPECT_EQ(attrs["copies"], "3");
  EXPECT_EQ(attrs["page-ranges"], "1-2");
  EXPECT_EQ(attrs["PageSize"], "Legal");
  EXPECT_EQ(attrs["Duplex"], "DuplexTumble");
  EXPECT_EQ(attrs["orientation-requested"], "landscape");
  EXPECT_EQ(attrs["multiple-document-handling"], "separate-documents-uncollated-copies");
  EXPECT_EQ(attrs["QVBrightness"], "Lighter1");
  EXPECT_EQ(attrs["number-of-documents"], "2");
  EXPECT_EQ(Spooled(job, 1), ReadAll(a));
  EXPECT_EQ(Spooled(job, 2), ReadAll(b));

  // The next dialog starts from "Last Used Settings" when asked to; the
  // page range stayed with the job.
  std::string settings = dir_.file("again.plist");
  ASSERT_EQ(Run(Cli("--queue R2740Held --preset 'Last Used Settings' --settings-out '" + settings + "'"), &out), 0)
      << out;
  auto root = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(settings));
  ASSERT_TRUE(root);
  for (const auto& [k, v] : std::map<std::string, std::string>{
           {"copies", "3"}, {"PageSize", "Legal"}, {"Duplex", "DuplexTumble"}, {"orientation-requested", "4"}}) {
    auto s = root->get<cf::String>(k);
    ASSERT_TRUE(s) << k;
    EXPECT_EQ(s->utf8(), v) << k;
  }
  EXPECT_FALSE(root->contains("page-ranges"));
  EXPECT_EQ(QueueSetting(settings, "QVBrightness"), "Lighter1");
}

TEST_F(PrintingCupsd, ARefusedJobFailsWithTheQueuesState) {
  std::string out;
  EXPECT_EQ(Run(Cli("--queue R2740Closed --action print"), &out), 9) << out;
  EXPECT_NE(out.find("not accepting jobs"), std::string::npos) << out;
}

TEST_F(PrivateCupsd, QueuesComeWithDeviceURIAndPPD) {
  std::string error;
  auto queues = host::CupsQueues(&error);
  ASSERT_EQ(queues.size(), 1u) << error;
  EXPECT_EQ(queues[0].id, "R2740Test");
  EXPECT_EQ(queues[0].deviceURI, "lpd://127.0.0.1/queue");
  EXPECT_TRUE(queues[0].ppdPath.empty());

  auto q = host::CupsQueue("R2740Test", &error);
  ASSERT_TRUE(q) << error;
  EXPECT_EQ(q->name, "R2740Test");
  EXPECT_EQ(q->deviceURI, "lpd://127.0.0.1/queue");
  ASSERT_TRUE(q->temporaryPPD);
  auto ppd = host::PPDFile::open(q->ppdPath, &error);
  ASSERT_TRUE(ppd) << error;
  EXPECT_TRUE(ppdFindOption(ppd->get(), "QVQuickColor"));
  unlink(q->ppdPath.c_str());

  EXPECT_FALSE(host::CupsQueue("NoSuchQueue", &error));
  EXPECT_THAT(error, HasSubstr("no CUPS queue named NoSuchQueue"));

  // The command line on the queue by name.
  std::string cmd = "CUPS_SERVER='" + socket_ + "' '" + R2740_CLI + "' --queue R2740Test --bundles '" +
                    R2740_TEST_BUNDLE_DIR + "' --summary-out '" + dir_.file("summary.txt") + "' >/dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_THAT(ReadAll(dir_.file("summary.txt")), HasSubstr("Test Panel A\n"));
}
