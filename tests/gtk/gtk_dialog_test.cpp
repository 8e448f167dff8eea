// GTK 3's own print dialog, as every GNOME application shows it, on a
// queue whose PPD names r2740-filter: what its tabs offer, and a print
// from it with the choices a user makes there, which must reach the
// printer's driver with the same ticket as our own dialog's print.
// Needs Xvfb and r2740-gtk-probe; skips without them.
#include <sys/stat.h>

#include "filter_cupsd.h"
#include "stored_profiles.h"

using namespace filtertest;

namespace {

class GtkDialog : public FilterCupsd {
 protected:
  void SetUp() override {
    if (access(R2740_GTK_PROBE, X_OK) != 0) GTEST_SKIP() << "r2740-gtk-probe is not built (no GTK 3)";
    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "no Xvfb";
    FilterCupsd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // A display of its own: the first free number from 140 on.
    for (display_ = 140; display_ < 200; ++display_)
      if (access(("/tmp/.X" + std::to_string(display_) + "-lock").c_str(), F_OK) != 0) break;
    xvfb_ = fork();
    if (xvfb_ == 0) {
      execl("/usr/bin/Xvfb", "Xvfb", (":" + std::to_string(display_)).c_str(), "-screen", "0", "1280x1024x24",
            "-nolisten", "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display_);
    for (int i = 0; i < 100 && access(socket.c_str(), F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(access(socket.c_str(), F_OK), 0) << "Xvfb did not start";
  }
  void TearDown() override {
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      waitpid(xvfb_, nullptr, 0);
    }
    FilterCupsd::TearDown();
  }
  // The probe on the queue; its output (stdout and stderr).
  int Probe(const std::string& args, std::string* out) {
    return RunShell(Env() + "DISPLAY=:" + std::to_string(display_) + " NO_AT_BRIDGE=1 GTK_THEME=Adwaita " +
                        R2740_GTK_PROBE + " --printer R2740 " + args,
                    out);
  }
  // The ticket keys the driver was given.
  std::map<std::string, std::string> Ticket() {
    std::map<std::string, std::string> out;
    for (const auto& [k, v] : DriverOptions())
      if (k.rfind(kTicket, 0) == 0) out[k] = v;
    return out;
  }

  int display_ = 0;
  pid_t xvfb_ = -1;
};

// The lines of one tab in the probe's --list.
std::string Tab(const std::string& list, const std::string& tab) {
  size_t at = list.find("tab " + tab + "\n");
  if (at == std::string::npos) return "";
  size_t end = list.find("\ntab ", at + 1);
  return list.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

TEST_F(GtkDialog, ColourInTheColorTabTypedFieldsInSecurityAndTheSameTicketAsOurDialog) {
  std::string out;
  ASSERT_EQ(Probe("--list --shot Color=" + dir_.file("gtk-color.png") + " --shot Advanced=" +
                      dir_.file("gtk-advanced.png"),
                  &out),
            0)
      << out;
  const std::string color = Tab(out, "Color"), advanced = Tab(out, "Advanced"), quality = Tab(out, "Image Quality");
  EXPECT_NE(color.find("option Quick Color: combo"), std::string::npos) << out;
  EXPECT_NE(color.find("option Image RGB Source: combo"), std::string::npos) << out;
  EXPECT_NE(quality.find("option Edge Type: combo"), std::string::npos) << out;
  EXPECT_EQ(advanced.find("Quick Color"), std::string::npos) << out;
  for (const char* field : {"Document Password", "User Name", "User Password", "Section Name", "Section Password"})
    EXPECT_NE(advanced.find(std::string("option ") + field + ": combo+entry"), std::string::npos) << field << "\n"
                                                                                                  << out;
  struct stat st {};
  EXPECT_EQ(stat(dir_.file("gtk-advanced.png").c_str(), &st), 0);
  EXPECT_GT(st.st_size, 1000);

  // Secure Print with a password, chosen and typed in GTK's dialog.
  ASSERT_EQ(Probe("--set 'Print Mode=Secure Print' --set 'Document Password=1234' --print " + document_, &out), 0)
      << out;
  int gtkJob = 0;
  for (int i = 0; i < 100 && !gtkJob; ++i) {
    std::string jobs;
    (void)RunShell(Env() + "/usr/bin/lpstat -W all -o R2740", &jobs);
    std::smatch m;
    if (std::regex_search(jobs, m, std::regex("R2740-([0-9]+)"))) gtkJob = std::stoi(m[1]);
    if (!gtkJob) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_GT(gtkJob, 0) << out;
  ASSERT_EQ(Finished(gtkJob)["job-state"], "completed") << Log();
  auto fromGtk = Ticket();
  EXPECT_EQ(fromGtk[kTicket + "secureKey"], OpenSSLPassword1234());
  for (const auto& [k, v] : DriverOptions()) EXPECT_EQ(v.find("1234"), std::string::npos) << k;

  // The same choices in our dialog: the same ticket, byte for byte.
  if (access(R2740_DIALOG, X_OK) != 0) GTEST_SKIP() << "the Qt dialog is not built";
  Clear();
  ASSERT_EQ(RunShell(Env() + "QT_QPA_PLATFORM=offscreen " + R2740_DIALOG +
                         " --queue R2740 --action print --set PrintModeR2740=SecurePrint --set " + kTicket +
                         "secureKey=1234 " + document_,
                     &out),
            0)
      << out;
  for (int i = 0; i < 100 && !std::filesystem::exists(dir_.file("record/options")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Ticket(), fromGtk);
}

// A stored profile as r2740-setup-queue --refresh offers it, chosen in
// GTK's Color tab: the driver gets the device path the colour panel writes.
TEST_F(GtkDialog, AStoredProfileChosenInGtkReachesTheDriverAsItsDevicePath) {
  // /ata1a/data/USfiles/Profiles/PHOTO.ICC, every byte as 48 + b / 16, 48 + b % 16.
  const std::string coded = "2?61746131612?646174612?555366696<65732?50726?66696<65732?50484?544?2>494343";
  dir_.write("stored.ppd", host::WithStoredProfiles(ReadAll(dir_.file("R2740-filter.ppd")),
                                                    {{"QVImageRGBSource", "R2740Stored1", "PHOTO.ICC(Studio)Disk",
                                                      "None", coded}}));
  std::string out;
  ASSERT_EQ(RunShell(Env() + "/usr/sbin/lpadmin -p R2740 -P '" + dir_.file("stored.ppd") + "'", &out), 0) << out;
  ASSERT_EQ(Probe("--set 'Quick Color=Custom' --set 'Image RGB Source=PHOTO.ICC(Studio)Disk' --print " + document_,
                  &out),
            0)
      << out;
  for (int i = 0; i < 100 && !std::filesystem::exists(dir_.file("record/options")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto got = DriverOptions();
  EXPECT_EQ("None", got["QVImageRGBSource"]) << Log();
  EXPECT_EQ(coded, got["QVImageRGBSourceCustomFilename"]);
  EXPECT_EQ("True", got["QVImageRGBSourceCustom"]);
}

}  // namespace
