// r2740-filter as cupsd runs it: a private cupsd whose queue R2740 has a
// copy of the sample PPD naming our filter and a stand-in driver (a script
// that records its options and copies its input), a file device, and the
// real colour and security bundles under an install root handed to the
// filters with SetEnv. Jobs are sent with lp and with r2740-pde-cli; what
// counts is what reaches the driver and the device, and what cupsd says
// of the job.
#include "filter_cupsd.h"

using namespace filtertest;

TEST_F(FilterCupsd, SecurePrintWithoutPasswordIsStoppedInThePanelsWords) {
  int job = Lp("-o PrintModeR2740=SecurePrint");
  ASSERT_GT(job, 0);
  auto attrs = Finished(job);
  // cupsd stops a job whose filter failed; nothing reached the driver or the device.
  EXPECT_EQ(attrs["job-state"], "processing-stopped") << Log();
  EXPECT_EQ(attrs["job-state-reasons"], "job-completed-with-errors");
  EXPECT_NE(attrs["job-printer-state-message"].find("Document Password is empty or too short"), std::string::npos)
      << attrs["job-printer-state-message"];
  EXPECT_FALSE(std::filesystem::exists(dir_.file("record/options")));
  EXPECT_TRUE(!std::filesystem::exists(dir_.file("out.prn")) || ReadAll(dir_.file("out.prn")).empty());
  std::string out;
  ASSERT_EQ(RunShell(Env() + "/usr/bin/lpstat -l -o R2740", &out), 0) << out;
  EXPECT_NE(out.find("Document Password is empty or too short"), std::string::npos) << out;

  // A forged mark of our panels does not let the same job through.
  job = Lp("-o PrintModeR2740=SecurePrint -o " + kTicket + "loginName=Alice -o " + kTicket + "secureKey=1234");
  ASSERT_GT(job, 0);
  EXPECT_EQ(Finished(job)["job-state"], "processing-stopped");
  EXPECT_FALSE(std::filesystem::exists(dir_.file("record/options")));
}

TEST_F(FilterCupsd, PlainJobsGetWhatThePanelsDoAtPrint) {
  // A password typed as --set types it goes on encrypted only.
  int job = Lp("-o PrintModeR2740=SecurePrint -o " + kTicket + "secureKey=1234");
  ASSERT_GT(job, 0);
  EXPECT_EQ(Finished(job)["job-state"], "completed") << Log();
  auto options = DriverOptions();
  EXPECT_EQ(options["PrintModeR2740"], "SecurePrint");
  EXPECT_EQ(options[kTicket + "secureKey"], OpenSSLPassword1234());
  for (const auto& [k, v] : options) EXPECT_NE(v, "1234") << k;
  EXPECT_EQ(ReadAll(dir_.file("out.prn")).rfind("%PDF", 0), 0u);

  // Quick Color's Photo preset (the values the dialog shows for it), on
  // a text document, which cupsd's filters turn into PDF before ours.
  job = Lp("-o QVQuickColor=Photo -o number-up=1", dir_.write("doc.txt", "R2740 filter test\n"));
  ASSERT_GT(job, 0);
  EXPECT_EQ(Finished(job)["job-state"], "completed") << Log();
  options = DriverOptions();
  EXPECT_EQ(options["QVQuickColor"], "Photo");
  EXPECT_EQ(options["QVImageHalftone"], "Detail");
  EXPECT_EQ(options["QVImageEdgeEnhance"], "On");
  EXPECT_EQ(options["QVImageRenderIntent"], "Saturation");
  EXPECT_EQ(options["QVGraphicsHalftone"], "Detail");
  EXPECT_EQ(options["PrintModeR2740"], "Normal");
  EXPECT_EQ(options["number-up"], "1");  // the job's own options stay
  EXPECT_EQ(options.count(kTicket + "secureKey") ? options[kTicket + "secureKey"] : "", "");
  EXPECT_EQ(ReadAll(dir_.file("out.prn")).rfind("%PDF", 0), 0u);

  // The panels never walk the printer nor touch the profile file.
  std::string helper = ReadAll(dir_.file("record/helper"));
  for (const char* write : {"mibwalk_XPC", "qvPListSwapProfile_XPC", "writeDataToPlistFile", "qvPListRemove_XPC"})
    EXPECT_EQ(helper.find(write), std::string::npos) << helper;
}

// What other dialogs send: the PPD's typed fields (GTK: KEY=Custom.VALUE),
// the IPP job password (lp -o job-password, PIN printing).
TEST_F(FilterCupsd, TypedFieldsAndTheJobPasswordFillThePanelsFields) {
  for (const std::string typed : {"-o R2740DocumentPassword=Custom.1234", "-o job-password=1234"}) {
    int job = Lp("-o PrintModeR2740=SecurePrint " + typed);
    ASSERT_GT(job, 0);
    EXPECT_EQ(Finished(job)["job-state"], "completed") << typed << Log();
    auto options = DriverOptions();
    EXPECT_EQ(options[kTicket + "secureKey"], OpenSSLPassword1234()) << typed;
    for (const auto& [k, v] : options) EXPECT_EQ(v.find("1234"), std::string::npos) << typed << ": " << k;
    EXPECT_EQ(options.count("R2740DocumentPassword") + options.count("job-password"), 0u) << typed;
  }
  // GTK's and Qt's "Billing info" is the section name.
  int billed = Lp("-o QVSectionManagementR2740=True -o job-billing=Sales -o R2740SectionPassword=Custom.5678");
  ASSERT_GT(billed, 0);
  EXPECT_EQ(Finished(billed)["job-state"], "completed") << Log();
  auto section = DriverOptions();
  EXPECT_EQ(section[kTicket + "sectionName"], "53616C6573");  // "Sales" in hex
  EXPECT_FALSE(section[kTicket + "sectionKey"].empty());
  for (const auto& [k, v] : section) EXPECT_EQ(v.find("5678"), std::string::npos) << k;
  // A field the job's own choice leaves off takes nothing, as in the panel.
  int job = Lp("-o R2740DocumentPassword=Custom.1234");
  ASSERT_GT(job, 0);
  EXPECT_EQ(Finished(job)["job-state"], "completed") << Log();
  EXPECT_EQ(DriverOptions()["PrintModeR2740"], "Normal");
  // What the panel's field does not take, or its rule refuses, is not printed.
  for (const std::string bad : {"Custom.12", "Custom.12+4", "Custom.123456789", "Custom.12\303\2474"}) {
    job = Lp("-o PrintModeR2740=SecurePrint -o R2740DocumentPassword=" + bad);
    ASSERT_GT(job, 0);
    EXPECT_EQ(Finished(job)["job-state"], "processing-stopped") << bad;
    EXPECT_FALSE(std::filesystem::exists(dir_.file("record/options"))) << bad;
  }
}

TEST_F(FilterCupsd, TicketOfOurDialogGoesThroughUnchanged) {
  Clear();
  std::filesystem::create_directories(dir_.file("home"));
  std::string out;
  ASSERT_EQ(RunShell(Env() + "'" + R2740_CLI + "' --queue R2740 --set QVQuickColor=Vivid --set PrintModeR2740=SecurePrint "
                         "--set " + kTicket + "secureKey=1234 --action print --document '" + document_ +
                         "' --summary-out '" + dir_.file("summary") + "' --settings-out /dev/null",
                     &out),
            0)
      << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("job ([0-9]+) submitted"))) << out;
  EXPECT_EQ(Finished(std::stoi(m[1]))["job-state"], "completed") << Log();
  auto options = DriverOptions();
  // Every option the dialog sent reaches the driver as cupsd hands it on
  // (cupsd writes booleans in lower case), the name of the dialog's user
  // too: the panels at the server would have written lp's.
  std::string summary = ReadAll(dir_.file("summary"));
  std::regex line(R"(\n    ([^=\n]+)=([^\n]*))");
  int compared = 0;
  for (std::sregex_iterator it(summary.begin(), summary.end(), line), end; it != end; ++it) {
    // The PPD's options and the ticket; cupsd keeps the job-template
    // attributes (copies, job-hold-until, ...) for itself.
    const std::string key = (*it)[1];
    if (key.rfind(kTicket, 0) != 0 && key.rfind("QV", 0) != 0 && key != "PrintModeR2740" && key != "PageSize" &&
        key != "Duplex")
      continue;
    EXPECT_STRCASEEQ(options[key].c_str(), std::string((*it)[2]).c_str()) << key;
    ++compared;
  }
  EXPECT_GT(compared, 30);
  EXPECT_EQ(options[kTicket + "loginName"], "root");
  EXPECT_EQ(options[kTicket + "secureKey"], OpenSSLPassword1234());

  // The same ticket changed by hand after the dialog no longer agrees.
  std::string ticket;
  for (const auto& [k, v] : options)
    if (k.rfind(kTicket, 0) == 0 || k.rfind("QV", 0) == 0 || k == "PrintModeR2740")
      ticket += " -o '" + k + "=" + (k == "QVTextHalftone" ? std::string("Detail") : v) + "'";
  ASSERT_EQ(options["QVTextHalftone"], "Smooth");  // Vivid's
  int job = Lp(ticket);
  ASSERT_GT(job, 0);
  auto attrs = Finished(job);
  EXPECT_EQ(attrs["job-state"], "processing-stopped");
  EXPECT_NE(attrs["job-printer-state-message"].find("QVTextHalftone"), std::string::npos)
      << attrs["job-printer-state-message"];
  EXPECT_FALSE(std::filesystem::exists(dir_.file("record/options")));
}

// The filter run by hand as cupsd would run it, for what needs no cupsd.
TEST(Filter, RefusesADriverOutsideTheFilterFolderAndKeepsOptionsWhole) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("bin/filter"));
  std::string env = "env -i PATH=/usr/bin:/bin PRINTER=R2740 TMPDIR='" + dir.path() + "' CUPS_SERVERBIN='" +
                    dir.file("bin") + "' R2740_ROOT='" + dir.file("root") + "' PPD=";
  for (const std::string& driver : {std::string("/bin/cat"), std::string("filter/cat"), dir.file("bin/filter/../../x")}) {
    dir.write("p.ppd", FilterPPD(driver));
    std::string out;
    int rc = RunShell("(" + env + "'" + dir.file("p.ppd") + "' '" + R2740_FILTER + "' 1 u t 1 '' '" + dir.file("p.ppd") +
                          "' 2>'" + dir.file("err") + "')",
                      &out);
    EXPECT_EQ(rc, 1) << driver;
    EXPECT_EQ(out, "") << driver;  // nothing on standard output
    std::string err = ReadAll(dir.file("err"));
    EXPECT_EQ(err.rfind("ERROR: r2740-filter: the PPD's *R2740DriverFilter \"" + driver + "\" is not ", 0), 0u) << err;
  }

  // What the driver reads back with libcups is what the panels gave.
  const host::OptionList tricky = {{"a", "plain"}, {"job-name", "it's \"q\" a\\b"}, {"e", ""}, {"t", "x\ty z"}};
  auto back = filter::ParseOptions(filter::FormatOptions(tricky).c_str());
  using Map = std::map<std::string, std::string>;
  EXPECT_EQ(Map(back.begin(), back.end()), Map(tricky.begin(), tricky.end()));
}

// LibreOffice's own print path (headless --pt, its own dialog's settings),
// which knows nothing of our panels: Quick Color's Photo, the queue's
// default, still reaches the driver with the values the dialog shows for it.
TEST_F(FilterCupsd, LibreOfficeJobsGetQuickColorsValues) {
  if (access("/usr/bin/soffice", X_OK) != 0) GTEST_SKIP() << "no LibreOffice";
  std::string out;
  ASSERT_EQ(RunShell(Env() + "/usr/sbin/lpadmin -p R2740 -o QVQuickColor=Photo", &out), 0) << out;
  Clear();
  std::filesystem::create_directories(dir_.file("home"));
  const std::string letter = dir_.write("letter.txt", "R2740 from LibreOffice\n");
  ASSERT_EQ(RunShell(Env() + "timeout 180 /usr/bin/soffice --headless --norestore -env:UserInstallation=file://" +
                         dir_.file("lo") + " --pt R2740 '" + letter + "'",
                     &out),
            0)
      << out;
  for (int i = 0; i < 300 && !std::filesystem::exists(dir_.file("record/options")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto options = DriverOptions();
  ASSERT_FALSE(options.empty()) << Log();
  EXPECT_EQ(options["QVQuickColor"], "Photo");
  EXPECT_EQ(options["QVImageHalftone"], "Detail");
  EXPECT_EQ(options["QVImageEdgeEnhance"], "On");
  EXPECT_EQ(options["QVImageRenderIntent"], "Saturation");
  EXPECT_EQ(options["QVGraphicsHalftone"], "Detail");
}
