// Host core units: the callback object, job options, PPD and queue failures.
#include <cups/cups.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "host.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Option = std::pair<std::string, std::string>;

namespace {
const std::string kPPD = std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd";
}

TEST(HostCallback, HandsOutQueuePaperAndPPD) {
  std::string error;
  auto ppd = host::PPDFile::open(kPPD, &error);
  ASSERT_TRUE(ppd) << error;
  ppd_file_t* raw = ppd->get();
  host::HostCallback cb(host::ManualQueue(kPPD, "R2740_Queue_1", "lpd://127.0.0.1/queue"), std::move(ppd));
  EXPECT_EQ(cb.ppdFile(), raw);

  pm::PMPrinter printer = nullptr;
  ASSERT_EQ(pm::PMSessionGetCurrentPrinter(cb.printSession(), &printer), pm::noErr);
  EXPECT_EQ(pm::PMPrinterGetID(printer)->utf8(), "R2740_Queue_1");
  cf::URLRef uri;
  ASSERT_EQ(pm::PMPrinterCopyDeviceURI(printer, &uri), pm::noErr);
  EXPECT_EQ(uri->string(), "lpd://127.0.0.1/queue");

  // The PPD reference travels in the session's data as the pointer's bytes.
  cf::Ref data;
  ASSERT_EQ(pm::PMSessionGetDataFromSession(cb.printSession(), "kPMPPDReference", &data), pm::noErr);
  auto bytes = cf::As<cf::Data>(data);
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->length(), sizeof(ppd_file_t*));
  ppd_file_t* fromData = nullptr;
  std::memcpy(&fromData, bytes->bytes().data(), sizeof(fromData));
  EXPECT_EQ(fromData, raw);

  // The page format's paper is the PPD's default size.
  pm::PMPaper paper = nullptr;
  ASSERT_EQ(pm::PMGetPageFormatPaper(cb.pageFormat(), &paper), pm::noErr);
  EXPECT_EQ(paper->name(), "Letter");
  EXPECT_DOUBLE_EQ(paper->width(), 612);
  EXPECT_DOUBLE_EQ(paper->height(), 792);

  cb.setPrinter("Other", "socket://10.0.0.2");
  ASSERT_EQ(pm::PMSessionGetCurrentPrinter(cb.printSession(), &printer), pm::noErr);
  EXPECT_EQ(pm::PMPrinterGetID(printer)->utf8(), "Other");
}

TEST(JobOptions, TakesPPDKeywordsTicketKeysAndProfileEntries) {
  std::string error;
  auto ppd = host::PPDFile::open(kPPD, &error);
  ASSERT_TRUE(ppd) << error;
  auto s = cf::Dictionary::create();
  s->setValue("QVEdgeType", cf::str("Off"));
  s->setValue("qvedgetype", cf::str("Off"));  // keywords are case-sensitive
  s->setValue("QVImageRGBSourceCustom", cf::str("True"));
  s->setValue("QVImageRGBSourceCustomFilename", cf::str("2f61"));
  s->setValue("NotAKeywordCustom", cf::str("True"));
  s->setValue("jp.orvessa.printers.R2740.userName", cf::str("416c"));
  s->setValue("com.apple.print.PrintSettings.PMPaperName", cf::str("Letter"));
  s->setValue("QVGlossyMode", cf::Boolean::kTrue());  // not a string
  s->setValue("R2740", cf::Dictionary::create());
  // Typed values (from a settings file of elsewhere) are never sent in clear.
  s->setValue("R2740DocumentPassword", cf::str("Custom.1234"));
  s->setValue("R2740UserNameCustom", cf::str("True"));
  EXPECT_THAT(host::JobOptions(s, ppd->get()),
              ElementsAre(Option{"QVEdgeType", "Off"}, Option{"QVImageRGBSourceCustom", "True"},
                          Option{"QVImageRGBSourceCustomFilename", "2f61"},
                          Option{"jp.orvessa.printers.R2740.userName", "416c"},
                          Option{"multiple-document-handling", "separate-documents-collated-copies"},
                          Option{"collate", "true"}));
  EXPECT_THAT(host::JobOptions(s, nullptr),
              ElementsAre(Option{"jp.orvessa.printers.R2740.userName", "416c"},
                          Option{"multiple-document-handling", "separate-documents-collated-copies"},
                          Option{"collate", "true"}));
  EXPECT_TRUE(host::JobOptions(nullptr, ppd->get()).empty());
}

TEST(PPDFile, FailuresNameTheReason) {
  std::string error;
  EXPECT_FALSE(host::PPDFile::open("/nonexistent/x.ppd", &error));
  EXPECT_THAT(error, HasSubstr("PPD not found"));
  std::string bad = testing::TempDir() + "/r2740-bad.ppd";
  std::ofstream(bad) << "not a ppd\n";
  EXPECT_FALSE(host::PPDFile::open(bad, &error));
  EXPECT_THAT(error, HasSubstr("failed to open"));
  EXPECT_EQ(error.find('\n'), std::string::npos);
  std::remove(bad.c_str());
}

// Texts follow the user's languages whichever translations the open keeps:
// an English PPD for English users keeps its own, a Japanese one offers its
// English translation, and Japanese users get the Japanese texts.
TEST(PPDFile, TextsFollowTheUsersLanguages) {
  auto write = [](const std::string& name, const std::string& own, const std::string& other, const char* lang,
                  const char* duplex, const char* translated) {
    std::string path = testing::TempDir() + "/" + name;
    std::ofstream(path) << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: " << own
                        << "\n*LanguageEncoding: ISOLatin1\n*ModelName: \"T\"\n*NickName: \"T\"\n"
                        << "*OpenUI *Duplex/" << duplex << ": PickOne\n*DefaultDuplex: None\n"
                        << "*Duplex None/Off: \"\"\n*CloseUI: *Duplex\n"
                        << "*" << lang << ".Translation Duplex/" << translated << ": \"\"\n"
                        << "*" << other << ".Translation Duplex/unused: \"\"\n";
    return path;
  };
  const std::string english = write("r2740-en.ppd", "English", "fr", "ja", "Two-Sided", "Ryomen");
  const std::string japanese = write("r2740-ja.ppd", "Japanese", "fr", "en", "Ryomen", "Two-Sided");
  const char* saved = std::getenv("R2740_LANG");
  const std::string keep = saved ? saved : "";
  auto text = [](const std::string& path, const char* langs) {
    ::setenv("R2740_LANG", langs, 1);
    std::string error;
    auto ppd = host::PPDFile::open(path, &error);
    if (!ppd) return "<" + error + ">";
    ppd_option_t* o = ppdFindOption(ppd->get(), "Duplex");
    return o ? std::string(o->text) : std::string("<no option>");
  };
  EXPECT_EQ(text(english, "en"), "Two-Sided");
  EXPECT_EQ(text(english, "en_US:en"), "Two-Sided");
  EXPECT_EQ(text(english, "ja"), "Ryomen");
  EXPECT_EQ(text(japanese, "en"), "Two-Sided");
  EXPECT_EQ(text(japanese, "ja_JP"), "Ryomen");
  if (saved) ::setenv("R2740_LANG", keep.c_str(), 1);
  else ::unsetenv("R2740_LANG");
  std::remove(english.c_str());
  std::remove(japanese.c_str());
}

TEST(CupsQueues, NoServerIsAClearError) {
  cupsSetServer((testing::TempDir() + "/no-cupsd-here.sock").c_str());
  std::string error;
  EXPECT_TRUE(host::CupsQueues(&error).empty());
  EXPECT_THAT(error, HasSubstr("no CUPS server answers"));
  EXPECT_FALSE(host::CupsQueue("R2740", &error));
  EXPECT_THAT(error, HasSubstr("no CUPS server answers"));
  cupsSetServer(nullptr);
}
