// A private cupsd whose queue R2740 has a copy of the sample PPD naming
// r2740-filter and a stand-in driver (a script that records its options
// and copies its input), a file device, and the real colour and security
// bundles under an install root handed to the filters with SetEnv. For
// the filter's tests and for other dialogs' prints through it.
#pragma once

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include "jobs.h"
#include "private_cupsd.h"
#include "system/layout.h"
#include "ticket.h"

namespace filtertest {

using namespace hosttest;


inline const std::string kTicket = "jp.orvessa.printers.R2740.";

// The document password 1234 as the printer reads it: AES-256-CBC under the
// built-in key table's record 51/0 (key and IV as
// security-pde/tests/crypto_golden_check.cpp derives them), by OpenSSL.
inline std::string OpenSSLPassword1234() {
  std::string out;
  EXPECT_EQ(RunShell("printf '1234\\013\\013\\013\\013\\013\\013\\013\\013\\013\\013\\013\\013' | openssl enc "
                     "-aes-256-cbc -nopad -K 1e04d639423fd16f3e2bde2c82760a386082485d3177896f1be2ec29f9beb8b8 "
                     "-iv 754fc8c9e6f623bb6ad5cf32a09f5657 | od -An -v -tx1 | tr -d ' \\n' | tr a-f A-F",
                     &out),
            0);
  return out;
}

// A copy of the sample colour PPD whose driver is `driver`.
inline std::string FilterPPD(const std::string& driver) {
  std::string ppd = ReadAll(ColorPPD());
  const std::string line = "*R2740DriverFilter: \"pdftops\"";
  return ppd.replace(ppd.find(line), line.size(), "*R2740DriverFilter: \"" + driver + "\"");
}

class FilterCupsd : public PrivateCupsd {
 protected:
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740", "State Idle\nAccepting Yes"}};
  }
  std::string DeviceURI(const std::string&) const override { return "file://" + dir_.file("out.prn"); }
  std::string ExtraFilesConf() const override { return "FileDevice Yes\n"; }

  void SetUp() override {
    if (access("/usr/lib/cups/filter/pdftopdf", X_OK) != 0) GTEST_SKIP() << "no CUPS filters";
    for (std::string name : {"ColorOptionsPDE_R2740", "SecurityPanelPDE"})
      if (!std::filesystem::exists(std::string(R2740_BUNDLE_DIR) + "/" + name + ".plugin/Contents/lib/" + name + ".so"))
        GTEST_SKIP() << name << " is not built";
    PrivateCupsd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    LayOutStandIns();
    passwd* lp = getpwnam("lp");
    ASSERT_NE(lp, nullptr);
    std::filesystem::create_directories(dir_.file("record"));
    ASSERT_EQ(chown(dir_.file("record").c_str(), lp->pw_uid, lp->pw_gid), 0);
    std::string out;
    dir_.write("R2740-filter.ppd", FilterPPD(dir_.file("serverbin/filter/r2740-stand-in-driver")));
    ASSERT_EQ(RunShell(Env() + "/usr/sbin/lpadmin -p R2740 -P '" + dir_.file("R2740-filter.ppd") + "'", &out), 0)
        << out;
    document_ = dir_.write("doc.pdf", host::SamplePDF("R2740 filter test"));
  }

  // A stand-in driver in cupsd's filter folder that records its options
  // and copies its input, and a stand-in R2740Helper under the install root
  // that records what it is asked.
  void LayOutStandIns() {
    dir_.write("serverbin/filter/r2740-stand-in-driver",
               "#!/bin/sh\nprintf '%s' \"$5\" > '" + dir_.file("record/options") + "'\nexec cat ${6:+\"$6\"}\n");
    chmod(dir_.file("serverbin/filter/r2740-stand-in-driver").c_str(), 0755);
    const std::string helper =
        dir_.file("root") +
        sys::InstalledPath("/Library/Application Support/ORVESSA/R2740/Helpers/R2740Helper.app/Contents/MacOS") +
        "/R2740Helper";
    dir_.write(helper.substr(dir_.path().size() + 1),
               "#!/bin/sh\necho \"$1\" >> '" + dir_.file("record/helper") + "'\necho \"$1=TRUE\"\n");
    chmod(helper.c_str(), 0755);
  }

  std::string Env() const {
    return "env -u R2740_USER_PREFS -u XDG_CONFIG_HOME CUPS_SERVER='" + socket_ + "' HOME='" + dir_.file("home") +
           "' R2740_ROOT='" + dir_.file("root") + "' ";
  }

  // Waits until the job is done with (completed, stopped, aborted or
  // canceled); its attributes then.
  std::map<std::string, std::string> Finished(int job) {
    std::map<std::string, std::string> attrs;
    for (int i = 0; i < 300; ++i) {
      attrs = JobAttributes(job);
      const std::string& state = attrs["job-state"];
      if (state == "completed" || state == "processing-stopped" || state == "aborted" || state == "canceled") break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return attrs;
  }
  void Clear() {
    for (const char* f : {"out.prn", "record/options"}) std::filesystem::remove(dir_.file(f));
  }
  // lp with `args` on the queue; the job id.
  int Lp(const std::string& args, const std::string& document = "") {
    Clear();
    std::string out;
    EXPECT_EQ(RunShell(Env() + "/usr/bin/lp -d R2740 " + args + " '" + (document.empty() ? document_ : document) + "'",
                       &out),
              0)
        << out;
    std::smatch m;
    return std::regex_search(out, m, std::regex("R2740-([0-9]+)")) ? std::stoi(m[1]) : 0;
  }
  // What the stand-in driver was given as argv[5].
  std::map<std::string, std::string> DriverOptions() {
    std::map<std::string, std::string> out;
    for (const auto& [k, v] : filter::ParseOptions(ReadAll(dir_.file("record/options")).c_str())) out[k] = v;
    return out;
  }
  std::string Log() { return ReadAll(dir_.file("log/error_log")); }

  std::string document_;
};

}  // namespace filtertest
