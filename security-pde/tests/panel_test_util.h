// Helpers of the panel unit tests: PPDs from text, and a callback object
// holding its own print settings, session, printer and page format.
#pragma once

#include <cups/ppd.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "PDECore.h"
#include "printing/pde.h"

namespace paneltest {

namespace sec = r2740_CDA242A5_7B06_4DA5_8B2C_DA63934B0E94;

inline std::string PPDHeader() {
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n*PCFileName: \"T.PPD\"\n*Manufacturer: \"Test\"\n*Product: \"(T)\"\n"
         "*ModelName: \"T\"\n*ShortNickName: \"T\"\n*NickName: \"T\"\n*PSVersion: \"(3010.000) 0\"\n";
}

inline std::string SecurityOptions() {
  return "*OpenUI *PrintModeR2740/Print Mode: PickOne\n*DefaultPrintModeR2740: Normal\n"
         "*PrintModeR2740 Normal/Normal Print: \"\"\n*PrintModeR2740 SecurePrint/Secure Print: \"\"\n"
         "*CloseUI: *PrintModeR2740\n"
         "*OpenUI *QVAuthenticationR2740/User Authentication: Boolean\n*DefaultQVAuthenticationR2740: False\n"
         "*QVAuthenticationR2740 False/Off: \"\"\n*QVAuthenticationR2740 True/On: \"\"\n"
         "*CloseUI: *QVAuthenticationR2740\n"
         "*OpenUI *QVSectionManagementR2740/Section Management: Boolean\n*DefaultQVSectionManagementR2740: False\n"
         "*QVSectionManagementR2740 False/Off: \"\"\n*QVSectionManagementR2740 True/On: \"\"\n"
         "*CloseUI: *QVSectionManagementR2740\n";
}

// An opened PPD from text; closed with the object.
class PPD {
 public:
  explicit PPD(const std::string& body, bool markDefaults = true) {
    char tmpl[] = "/tmp/r2740-panel-ppd-XXXXXX";
    int fd = mkstemp(tmpl);
    path_ = tmpl;
    if (fd >= 0) close(fd);
    std::ofstream(path_, std::ios::binary) << PPDHeader() << body;
    ppd_ = ppdOpenFile(path_.c_str());
    if (ppd_ && markDefaults) ppdMarkDefaults(ppd_);
  }
  ~PPD() {
    if (ppd_) ppdClose(ppd_);
    unlink(path_.c_str());
  }
  ppd_file_t* get() const { return ppd_; }

 private:
  std::string path_;
  ppd_file_t* ppd_ = nullptr;
};

class Callback : public pde::PDEPluginCallback {
 public:
  explicit Callback(ppd_file_t* ppd, const std::string& printerID = "Queue_A")
      : ppd_(ppd), printer_(printerID, "lpd://127.0.0.1/q") {
    session_.setCurrentPrinter(&printer_);
  }
  pm::PMPrintSettings printSettings() override { return &settings_; }
  pm::PMPrintSession printSession() override { return &session_; }
  pm::PMPageFormat pageFormat() override { return &format_; }
  ppd_file_t* ppdFile() override { return ppd_; }

  ppd_file_t* ppd_;
  pm::PrintSettings settings_;
  pm::Printer printer_;
  pm::PrintSession session_;
  pm::PageFormat format_;
};

// A session record over a callback, as the panel builds it.
struct Session {
  explicit Session(Callback* cb) {
    record.object = cb;
    record.Context = &context;
    sec::PDECoreOnInitialize(&record);
  }
  sec::CoreContext context;
  sec::QVSession record;
};

}  // namespace paneltest
