// The printer's stored profiles as PPD choices: r2740-setup-queue --refresh
// walks a queue's printer (snmpd on loopback) through the real helper and
// service, and a job that chooses one with lp -o, as every other dialog
// sends a PPD choice, reaches the driver with the panel's device path.
#include <cups/ppd.h>

#include "cli_root.h"
#include "filter_cupsd.h"

namespace {

using namespace filtertest;

constexpr const char* kPrinter = "127.24.1.2";
constexpr int kSnmpPort = 16425;

// The device paths as the printer reads them: every byte b as the
// characters 48 + b / 16 and 48 + b % 16.
constexpr const char* kPhotoOnDisk =
    "2?61746131612?646174612?555366696<65732?50726?66696<65732?50484?544?2>494343";  // /ata1a/.../PHOTO.ICC
constexpr const char* kProofOnCard =
    "2?617461436631612?646174612?555366696<65732?50726?66696<65732?50524?4?462>494343";  // /ataCf1a/.../PROOF.ICC

class StoredProfiles : public FilterCupsd {
 protected:
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740", "State Idle\nAccepting Yes"}, {"R2740Net", "State Idle\nAccepting No"}};
  }
  std::string DeviceURI(const std::string& name) const override {
    return name == "R2740Net" ? std::string("socket://") + kPrinter + ":9100" : FilterCupsd::DeviceURI(name);
  }
  sys::TaskResult Refresh(const std::string& queue) {
    return sys::RunTask("/bin/sh", {"-c", "exec \"$0\" --refresh \"$1\" 2>&1", R2740_SETUP_QUEUE, queue});
  }
  std::string Choices(ppd_file_t* ppd, const char* option) {
    std::string out;
    ppd_option_t* o = ppd ? ppdFindOption(ppd, option) : nullptr;
    for (int i = 0; o && i < o->num_choices; ++i)
      if (std::string(o->choices[i].choice).rfind("R2740Stored", 0) == 0)
        out += std::string(o->choices[i].choice) + "/" + o->choices[i].text + " ";
    return out;
  }
};

TEST_F(StoredProfiles, RefreshOffersThePrintersProfilesAndAChosenOneReachesTheDriverAsItsPath) {
  proftest::CliRoot root;  // the administrator's install root: real helper and service
  root.Setting("R2740_XPC_SNMP_PORT", std::to_string(kSnmpPort));
  root.Setting("CUPS_SERVER", socket_);
  // Each refresh walks anew, and a printer that is off is given up on soon.
  root.Setting("R2740_XPC_WALK_HOLD_SECONDS", "0");
  root.Setting("R2740_XPC_WALK_SHARE_SECONDS", "0");
  root.Setting("R2740_XPC_WALK_TIMEOUT_MS", "200");
  root.Setting("R2740_XPC_WALK_RETRIES", "0");
  LayOutPanels(root.root());
  std::string out;
  ASSERT_EQ(RunShell(Env() + "/usr/sbin/lpadmin -p R2740Net -P '" + dir_.file("R2740-filter.ppd") + "'", &out), 0)
      << out;
  const std::string ppdPath = dir_.file("etc/ppd/R2740Net.ppd");
  {
    proftest::Agent printer(kPrinter, kSnmpPort,
                            {{1, 4, "Studio", "PHOTO.ICC", 1}, {2, 5, "Pr:o<of", "PROOF.ICC", 3}});
    ASSERT_TRUE(printer.ready());
    auto r = Refresh("R2740Net");
    ASSERT_EQ(0, r.exitStatus) << r.output;

    EXPECT_NE(std::string::npos, r.output.find("the PPD was updated")) << r.output;
    // Unchanged printer, unchanged PPD: nothing is sent.
    r = Refresh("R2740Net");
    EXPECT_NE(std::string::npos, r.output.find("already up to date")) << r.output;
    // The walk went into a profile file of the refresh's own, now gone.
    EXPECT_TRUE(std::filesystem::is_empty(root.folder())) << root.folder();
  }
  // The printer is off (as at night, when the timer runs): its choices stay.
  auto r = Refresh("R2740Net");
  EXPECT_EQ(0, r.exitStatus) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("choices it had stay")) << r.output;
  // The menu titles are the panel's: file name, profile name, location;
  // the printer's names reach a dialog as they are, ":" and "<" too.
  ppd_file_t* ppd = ppdOpenFile(ppdPath.c_str());
  ASSERT_NE(nullptr, ppd);
  EXPECT_EQ("R2740Stored1/PHOTO.ICC(Studio)Disk ", Choices(ppd, "QVImageRGBSource"));
  EXPECT_EQ("R2740Stored1/PHOTO.ICC(Studio)Disk ", Choices(ppd, "QVGraphicsRGBSource"));
  EXPECT_EQ("R2740Stored1/PROOF.ICC(Pr:o<of)Card ", Choices(ppd, "QVImageDestinationProfile"));
  EXPECT_EQ("R2740Stored1/PROOF.ICC(Pr:o<of)Card ", Choices(ppd, "QVSimSource"));
  // Quick Color keeps the advanced menus: GTK and Qt mark the conflict.
  ppdMarkDefaults(ppd);
  ppdMarkOption(ppd, "QVImageRGBSource", "R2740Stored1");
  EXPECT_GT(ppdConflicts(ppd), 0);
  ppdMarkOption(ppd, "QVQuickColor", "Manual");
  EXPECT_EQ(0, ppdConflicts(ppd));
  ppdClose(ppd);
  ASSERT_EQ(RunShell("mkdir -p '" + dir_.file("ppdroot/usr/lib/cups/filter") + "' && ln -sf '" R2740_FILTER "' '" +
                         dir_.file("ppdroot/usr/lib/cups/filter/r2740-filter") + "' && cupstestppd -R '" +
                         dir_.file("ppdroot") + "' '" + ppdPath + "'",
                     &out),
            0)
      << out;

  // lp -o with the PPD's choices, as GTK, Qt and IPP clients send them.
  ASSERT_EQ(RunShell(Env() + "/usr/sbin/lpadmin -p R2740 -P '" + ppdPath + "'", &out), 0) << out;
  auto attrs = Finished(Lp("-o QVQuickColor=Manual -o QVImageRGBSource=R2740Stored1 -o QVImageDestinationProfile=R2740Stored1"));
  ASSERT_EQ("completed", attrs["job-state"]) << Log();
  auto got = DriverOptions();
  EXPECT_EQ("None", got["QVImageRGBSource"]);
  EXPECT_EQ(kPhotoOnDisk, got["QVImageRGBSourceCustomFilename"]);
  EXPECT_EQ("True", got["QVImageRGBSourceCustom"]);
  EXPECT_EQ("Auto", got["QVImageDestinationProfile"]);
  EXPECT_EQ(kProofOnCard, got["QVImageDestinationProfileCustomFilename"]);
  EXPECT_EQ("True", got["QVImageDestinationProfileCustom"]);
  EXPECT_EQ("sRGB", got["QVTextRGBSource"]);  // not chosen: no profile
  EXPECT_NE("True", got["QVTextRGBSourceCustom"]);
}

}  // namespace
