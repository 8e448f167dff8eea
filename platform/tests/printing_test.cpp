#include "printing/printing.h"

#include <gtest/gtest.h>

using namespace pm;

TEST(PrintSettings, ValuesAreSharedObjectsAndStatusesMatch) {
  PrintSettings ps;
  cf::Ref v;
  EXPECT_EQ(PMPrintSettingsGetValue(&ps, "R2740", &v), kPMKeyNotFound);
  EXPECT_EQ(v, nullptr);
  auto model = cf::Dictionary::create();
  EXPECT_EQ(PMPrintSettingsSetValue(&ps, cf::str("R2740"), model, false), noErr);
  ASSERT_EQ(PMPrintSettingsGetValue(&ps, cf::str("R2740"), &v), noErr);
  EXPECT_EQ(v, model);  // the same object, so edits through it are kept
  cf::As<cf::Dictionary>(v)->setValue("Queue", cf::str("x"));
  EXPECT_TRUE(cf::Equal(ps.asDictionary()->get<cf::Dictionary>("R2740")->getValue("Queue"), cf::str("x")));

  EXPECT_EQ(PMPrintSettingsSetValue(&ps, "locked", cf::num(1), true), noErr);
  EXPECT_TRUE(ps.isLocked("locked"));
  EXPECT_EQ(PMPrintSettingsSetValue(&ps, "locked", nullptr, false), noErr);
  EXPECT_EQ(PMPrintSettingsGetValue(&ps, "locked", &v), kPMKeyNotFound);

  EXPECT_EQ(PMPrintSettingsGetValue(nullptr, "x", &v), paramErr);
  EXPECT_EQ(PMPrintSettingsGetValue(&ps, "x", nullptr), paramErr);
  EXPECT_EQ(PMPrintSettingsGetValue(&ps, cf::StringRef(), &v), paramErr);
  EXPECT_EQ(PMPrintSettingsSetValue(nullptr, "x", cf::num(1), false), paramErr);

  // loadDictionary replaces everything, keeps string keys only, unlocked.
  auto d = cf::Dictionary::create();
  d->setValue("a", cf::num(1));
  d->setValue(cf::num(5), cf::num(2));
  EXPECT_EQ(PMPrintSettingsSetValue(&ps, "gone", cf::num(0), true), noErr);
  ps.loadDictionary(d);
  EXPECT_EQ(ps.entries().size(), 1u);
  EXPECT_FALSE(ps.isLocked("a"));
  EXPECT_EQ(PMPrintSettingsGetValue(&ps, "gone", &v), kPMKeyNotFound);

  cf::StringRef name;
  EXPECT_EQ(PMPrintSettingsGetPaperName(&ps, &name), kPMKeyNotFound);
  ps.setValue(kPMDestinationPaperNameKey, cf::str("A4"), false);
  ASSERT_EQ(PMPrintSettingsGetPaperName(&ps, &name), noErr);
  EXPECT_EQ(name->utf8(), "A4");
}

TEST(PrintSession, PrinterAndData) {
  PrintSession session;
  PMPrinter printer = nullptr;
  EXPECT_EQ(PMSessionGetCurrentPrinter(&session, &printer), kPMInvalidPrinter);
  Printer p("R2740_Queue_1", "lpd://127.0.0.1/queue");
  session.setCurrentPrinter(&p);
  ASSERT_EQ(PMSessionGetCurrentPrinter(&session, &printer), noErr);
  EXPECT_EQ(PMPrinterGetID(printer)->utf8(), "R2740_Queue_1");
  cf::URLRef uri;
  ASSERT_EQ(PMPrinterCopyDeviceURI(printer, &uri), noErr);
  EXPECT_EQ(uri->host(), "127.0.0.1");
  Printer noURI("q", "");
  EXPECT_NE(PMPrinterCopyDeviceURI(&noURI, &uri), noErr);
  EXPECT_EQ(uri, nullptr);

  cf::Ref data;
  EXPECT_EQ(PMSessionGetDataFromSession(&session, "k", &data), kPMKeyNotFound);
  EXPECT_EQ(PMSessionSetDataInSession(&session, "k", cf::num(4)), noErr);
  EXPECT_EQ(PMSessionGetDataFromSession(&session, "k", &data), noErr);
  EXPECT_TRUE(cf::Equal(data, cf::num(4)));
}

TEST(PageFormat, PaperRectIgnoresOrientation) {
  auto a4 = std::make_shared<Paper>("iso-a4", "A4", 595.0, 842.0);
  PageFormat pf(a4, kPMLandscape);
  PMRect r;
  ASSERT_EQ(PMGetUnadjustedPaperRect(&pf, &r), noErr);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.bottom, 842.0);
  EXPECT_EQ(r.right, 595.0);
  PMOrientation o = 0;
  ASSERT_EQ(PMGetOrientation(&pf, &o), noErr);
  EXPECT_EQ(o, kPMLandscape);
  PMPaper paper = nullptr;
  ASSERT_EQ(PMGetPageFormatPaper(&pf, &paper), noErr);
  cf::StringRef s;
  PMPaperGetName(paper, &s);
  EXPECT_EQ(s->utf8(), "A4");
  PMPaperGetID(paper, &s);
  EXPECT_EQ(s->utf8(), "iso-a4");

  PageFormat empty;
  EXPECT_EQ(PMGetPageFormatPaper(&empty, &paper), kPMInvalidPaper);
  EXPECT_EQ(PMGetUnadjustedPaperRect(&empty, &r), kPMInvalidPaper);
  EXPECT_EQ(PMGetUnadjustedPaperRect(nullptr, &r), paramErr);
  EXPECT_EQ(PMPaperGetName(nullptr, &s), paramErr);
}
