// Copies as they leave a PostScript printer: r2740-pde-cli prints a
// three-page PDF through a private cupsd and the system's filters into a
// file, and Ghostscript, standing in for the printer, puts out each sheet
// (its own copies too, as a printer makes them). Its ink coverage per sheet
// tells the page: each page carries text of its own length.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <pwd.h>

#include <chrono>
#include <cmath>
#include <regex>
#include <thread>

#include "host.h"
#include "jobs.h"
#include "private_cupsd.h"

using namespace hosttest;

namespace {

constexpr const char* kGhostscript = "/usr/bin/gs";

class CollationCupsd : public PrivateCupsd {
 protected:
  std::vector<std::pair<std::string, std::string>> Queues() const override {
    return {{"R2740", "State Idle\nAccepting Yes"}};
  }
  std::string DeviceURI(const std::string&) const override { return "file://" + dir_.file("out.prn"); }
  std::string ExtraFilesConf() const override { return "FileDevice Yes\n"; }

  void SetUp() override {
    if (access(kGhostscript, X_OK) != 0 || access("/usr/lib/cups/filter/pdftopdf", X_OK) != 0)
      GTEST_SKIP() << "no Ghostscript or no CUPS filters";
    PrivateCupsd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The filters run as lp and keep their temporary files there.
    passwd* lp = getpwnam("lp");
    ASSERT_NE(lp, nullptr);
    ASSERT_EQ(chown(dir_.file("tmp").c_str(), lp->pw_uid, lp->pw_gid), 0);
    std::filesystem::create_directories(dir_.file("bundles"));
    std::filesystem::create_directories(dir_.file("home"));
    env_ = "env -u R2740_USER_PREFS -u XDG_CONFIG_HOME CUPS_SERVER='" + socket_ + "' HOME='" + dir_.file("home") +
           "' R2740_ROOT='" + dir_.file("root") + "' ";
    std::vector<std::string> pages = {"1", "2 2 2 2 2 2", "3 3 3 3 3 3 3 3 3 3 3 3 3 3 3"};
    document_ = dir_.write("three.pdf", host::SamplePDF(pages));
  }

  // The ink coverage of each sheet Ghostscript puts out for a PDF or
  // PostScript file.
  static std::vector<double> Sheets(const std::string& file) {
    std::string out;
    EXPECT_EQ(RunShell(std::string(kGhostscript) + " -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=inkcov -o - '" + file + "'",
                       &out),
              0)
        << out;
    std::vector<double> sheets;
    std::regex line(R"(([0-9.]+) +([0-9.]+) +([0-9.]+) +([0-9.]+) +CMYK OK)");
    for (std::sregex_iterator m(out.begin(), out.end(), line), end; m != end; ++m)
      sheets.push_back(std::stod((*m)[1]) + std::stod((*m)[2]) + std::stod((*m)[3]) + std::stod((*m)[4]));
    return sheets;
  }

  // Prints the document with r2740-pde-cli and `args`; the pages of the
  // sheets that come out, in order ("1,2,3").
  std::string Print(const std::string& args) {
    std::filesystem::remove(dir_.file("out.prn"));
    std::string out;
    EXPECT_EQ(RunShell(env_ + "'" + R2740_CLI + "' --bundles '" + dir_.file("bundles") + "' --queue R2740 " + args +
                           " --action print --document '" + document_ + "'",
                       &out),
              0)
        << out;
    for (int i = 0; i < 600; ++i) {
      cups_job_t* jobs = nullptr;
      int active = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, "R2740", 0, CUPS_WHICHJOBS_ACTIVE);
      cupsFreeJobs(active, jobs);
      if (active == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::vector<double> pages = Sheets(document_);
    EXPECT_EQ(pages.size(), 3u);
    std::string order;
    for (double sheet : Sheets(dir_.file("out.prn"))) {
      size_t nearest = 0;
      for (size_t p = 1; p < pages.size(); ++p)
        if (std::abs(sheet - pages[p]) < std::abs(sheet - pages[nearest])) nearest = p;
      order += (order.empty() ? "" : ",") + std::to_string(nearest + 1);
    }
    return order.empty() ? "nothing printed: " + out + ReadAll(dir_.file("log/error_log")) : order;
  }

  std::string env_, document_;
};

}  // namespace

TEST_F(CollationCupsd, CopiesComeOutCollatedByDefaultAndUncollatedWhenAsked) {
  EXPECT_EQ(Print("--copies 3"), "1,2,3,1,2,3,1,2,3");
  EXPECT_EQ(Print("--copies 3 --collate false"), "1,1,1,2,2,2,3,3,3");
  EXPECT_EQ(Print("--copies 3 --collate true"), "1,2,3,1,2,3,1,2,3");
}
