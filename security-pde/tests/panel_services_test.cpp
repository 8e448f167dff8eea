// PPD option records, ticket dictionaries, paper queries and the panel-row
// and control-data operations.
#include <gtest/gtest.h>

#include <filesystem>

#include "PDEControlData.h"
#include "PPDUIOption.h"
#include "QVPrintSettings.h"
#include "SecurityKeys.h"
#include "SecurityPDE.h"
#include "cf/plist.h"
#include "panel_test_util.h"

namespace sec = r2740_CDA242A5_7B06_4DA5_8B2C_DA63934B0E94;
using paneltest::Callback;
using paneltest::PPD;
using paneltest::Session;

namespace {

TEST(PPDUIOption, DefaultsMarksAndLookups) {
  PPD ppd(
      "*OpenUI *Tray/Tray: PickOne\n*DefaultTray: Nowhere\n*Tray Tray/Tray: \"\"\n*Tray Tray2/Tray 2: \"\"\n"
      "*Tray Same/First: \"\"\n*Tray Same/Second: \"\"\n*CloseUI: *Tray\n"
      "*OpenUI *Finish/Finish \xE9t\xE9: PickOne\n*DefaultFinish: Matte\n*Finish Glossy/Brillant \xE9: \"\"\n"
      "*Finish Matte/Mat: \"\"\n*CloseUI: *Finish\n" +
          paneltest::SecurityOptions(),
      /*markDefaults=*/false);
  ASSERT_TRUE(ppd.get());

  // Default naming no choice: index 0. No mark: the default stands and
  // ordinary options still give a record.
  sec::PPDUIOption* tray = sec::CreatePPDUIOption(ppd.get(), "Tray");
  ASSERT_TRUE(tray);
  EXPECT_EQ(tray->defIndex, 0);
  EXPECT_EQ(tray->curIndex, 0);
  EXPECT_EQ(sec::PPDUIOptionGetItemCount(tray), 4);
  // Two choices with one key: the later answers.
  EXPECT_EQ(sec::PPDUIOptionKeyToIndex(tray, cf::str("same")), 3);
  EXPECT_EQ(sec::PPDUIOptionKeyToAlias(tray, cf::str("SAME"))->utf8(), "Second");
  EXPECT_EQ(sec::PPDUIOptionAliasToKey(tray, cf::str("tray 2"))->utf8(), "Tray2");
  EXPECT_EQ(sec::PPDUIOptionKeyToIndex(tray, cf::str("none")), -1);
  EXPECT_FALSE(sec::PPDUIOptionIndexToKey(tray, 4));
  EXPECT_FALSE(sec::PPDUIOptionIndexToKey(tray, -1));
  sec::DeletePPDUIOption(tray);

  // A marked "Tray2" begins with "Tray" too: the later match wins.
  ppdMarkOption(ppd.get(), "Tray", "Tray2");
  tray = sec::CreatePPDUIOption(ppd.get(), "Tray");
  ASSERT_TRUE(tray);
  EXPECT_EQ(tray->curIndex, 1);
  sec::DeletePPDUIOption(tray);

  // Translations of a Latin-1 PPD arrive as proper text.
  sec::PPDUIOption* finish = sec::CreatePPDUIOption(ppd.get(), "Finish");
  ASSERT_TRUE(finish);
  EXPECT_EQ(finish->defIndex, 1);
  EXPECT_EQ(sec::PPDUIOptionGetSelfAlias(finish)->utf8(), "Finish \u00E9t\u00E9");
  EXPECT_EQ(sec::PPDUIOptionIndexToAlias(finish, 0)->utf8(), "Brillant \u00E9");
  EXPECT_EQ(sec::PPDUIOptionGetDefaultKey(finish)->utf8(), "Matte");
  // libcups hands the texts over converted and says so.
  EXPECT_EQ(sec::GetCFStringEncodingFromPPD(ppd.get()), cf::kCFStringEncodingUTF8);
  sec::DeletePPDUIOption(finish);

  sec::PPDUIOption* mode = sec::CreatePPDUIOption(ppd.get(), "PrintModeR2740");
  EXPECT_TRUE(mode != nullptr);
  sec::DeletePPDUIOption(mode);
  EXPECT_EQ(sec::CreatePPDUIOption(ppd.get(), "Missing"), nullptr);
  EXPECT_EQ(sec::CreatePPDUIOption(nullptr, "Tray"), nullptr);
  EXPECT_EQ(sec::PPDUIOptionGetItemCount(nullptr), 0);
  EXPECT_EQ(sec::PPDUIOptionKeyToIndex(nullptr, cf::str("x")), -1);
}

TEST(PPDUIOption, PageSizeNeedsAMarkAndFindsPaperBySize) {
  PPD unmarked(
      "*OpenUI *PageSize/Media Size: PickOne\n*DefaultPageSize: Letter\n*PageSize Letter/US Letter: \"\"\n"
      "*PageSize A4/A4: \"\"\n*CloseUI: *PageSize\n*DefaultImageableArea: Letter\n"
      "*ImageableArea Letter: \"18 36 594 756\"\n*ImageableArea A4: \"18 36 577 806\"\n"
      "*DefaultPaperDimension: Letter\n*PaperDimension Letter: \"612 792\"\n*PaperDimension A4: \"595 842\"\n",
      /*markDefaults=*/false);
  ASSERT_TRUE(unmarked.get());
  EXPECT_EQ(sec::CreatePPDUIOption(unmarked.get(), "PageSize"), nullptr);

  sec::PPDUIOption papers;
  EXPECT_FALSE(sec::SetupPPDUIOption(&papers, unmarked.get(), "PageSize"));
  ASSERT_EQ(papers.numChoices, 2);
  ASSERT_TRUE(papers.choices[1].data);
  EXPECT_EQ(papers.choices[1].data->width, 595);
  EXPECT_EQ(papers.choices[1].data->top, 806);
  cf::StringRef key;
  EXPECT_TRUE(sec::PPDPaperSizeFindAdjustedPMRect(&papers, pm::PMRect{0, 0, 842, 595}, pm::kPMLandscape, &key));
  EXPECT_EQ(key->utf8(), "A4");
  EXPECT_FALSE(sec::PPDPaperSizeFindAdjustedPMRect(&papers, pm::PMRect{0, 0, 843, 595}, pm::kPMPortrait, &key));
  EXPECT_FALSE(key);
  sec::ClearPPDUIOption(&papers);
  EXPECT_EQ(papers.numChoices, 0);
}

TEST(Ticket, DictionariesPerModelAndQueue) {
  Callback a(nullptr, "Queue_A");
  // A fresh settings object gains both dictionaries on first access.
  cf::DictionaryRef qa = sec::ticketGetModelDictionary(&a.settings_, &a.session_);
  ASSERT_TRUE(qa);
  EXPECT_TRUE(qa->empty());
  auto model = cf::As<cf::Dictionary>(a.settings_.value("R2740"));
  ASSERT_TRUE(model);
  EXPECT_EQ(model->getValue("Queue_A"), qa);

  // A second printer keeps its own dictionary.
  pm::Printer other("Queue_B", "lpd://x/q");
  a.session_.setCurrentPrinter(&other);
  cf::DictionaryRef qb = sec::ticketGetModelDictionary(&a.settings_, &a.session_);
  ASSERT_TRUE(qb);
  EXPECT_NE(qa, qb);
  qb->setValue("PrintModeR2740", cf::str("SecurePrint"));
  EXPECT_FALSE(qa->contains("PrintModeR2740"));

  // No printer: no dictionary.
  a.session_.setCurrentPrinter(nullptr);
  EXPECT_FALSE(sec::ticketGetModelDictionary(&a.settings_, &a.session_));
  EXPECT_FALSE(sec::ticketGetModelDictionary(nullptr, &a.session_));
  // Without a printer the model dictionary is still made, the queue's is not.
  Callback bare(nullptr);
  bare.session_.setCurrentPrinter(nullptr);
  EXPECT_FALSE(sec::ticketGetModelDictionary(&bare.settings_, &bare.session_));
  auto bareModel = cf::As<cf::Dictionary>(bare.settings_.value("R2740"));
  ASSERT_TRUE(bareModel);
  EXPECT_TRUE(bareModel->empty());

  // Only string keys go to the root, overwriting what is there.
  a.session_.setCurrentPrinter(&other);
  a.settings_.setValue("PrintModeR2740", cf::str("Normal"), false);
  qb->setValue(cf::num(7), cf::str("numeric key"));
  sec::ticketCopyToRoot(&a.settings_, &a.session_);
  EXPECT_EQ(cf::As<cf::String>(a.settings_.value("PrintModeR2740"))->utf8(), "SecurePrint");
  EXPECT_EQ(a.settings_.entries().size(), 2u);  // R2740, PrintModeR2740; nothing for the number

  // A wrong-typed model value is replaced rather than blocking every save.
  a.settings_.setValue("R2740", cf::str("junk"), false);
  cf::DictionaryRef fresh = sec::ticketGetModelDictionary(&a.settings_, &a.session_);
  ASSERT_TRUE(fresh);
  EXPECT_TRUE(cf::As<cf::Dictionary>(a.settings_.value("R2740")));
}

TEST(Ticket, SessionRecordAccessAndMarking) {
  PPD ppd(paneltest::SecurityOptions());
  Callback cb(ppd.get());
  Session s(&cb);
  EXPECT_EQ(sec::PDECoreGetPrintQueueNameArgument(&s.record)->utf8(), "Queue_A");
  EXPECT_EQ(sec::PDECoreGetPPDProductNameArgument(&s.record)->utf8(), "R2740");

  cf::StringRef value;
  EXPECT_EQ(sec::PDECustomGetJobTicketPPDDict(&s.record, cf::str("PrintModeR2740"), &value), -1);
  EXPECT_EQ(sec::PDECustomSetJobTicketPPDDict(&s.record, "PrintModeR2740", "SecurePrint"), 0);
  EXPECT_EQ(sec::PDECustomGetJobTicketPPDDict(&s.record, cf::str("PrintModeR2740"), &value), 0);
  EXPECT_EQ(value->utf8(), "SecurePrint");
  EXPECT_TRUE(ppdIsMarked(ppd.get(), "PrintModeR2740", "SecurePrint"));
  sec::PDECoreGetModelDictionary(&s.record)->setValue("QVAuthenticationR2740", cf::num(1));
  EXPECT_EQ(sec::PDECustomGetJobTicketPPDDict(&s.record, cf::str("QVAuthenticationR2740"), &value), -1);
  EXPECT_FALSE(value);

  // The PPD is found through the session data or, failing that, the callback.
  ppd_file_t* found = nullptr;
  EXPECT_EQ(sec::GetPPDReference(&s.record, &found), 0);
  EXPECT_EQ(found, ppd.get());
  ppd_file_t* p = ppd.get();
  cb.session_.setData("kPMPPDReference", cf::Data::create(&p, sizeof p));
  EXPECT_EQ(sec::GetPPDReference(&s.record, &found), 0);
  EXPECT_EQ(found, ppd.get());
}

TEST(Ticket, ReadersAndPaperQueries) {
  pm::PrintSettings settings;
  settings.setValue("n", cf::num(-12), false);
  settings.setValue("s", cf::str("text"), false);
  settings.setValue("b", cf::Boolean::kTrue(), false);
  int32_t n = 0;
  cf::StringRef s;
  bool b = false;
  EXPECT_EQ(sec::QVPrintSettingsGetSInt32(&settings, cf::str("n"), &n), 0);
  EXPECT_EQ(n, -12);
  EXPECT_EQ(sec::QVPrintSettingsGetSInt32(&settings, cf::str("s"), &n), -1);
  EXPECT_EQ(sec::QVPrintSettingsGetString(&settings, cf::str("n"), &s), -1);
  EXPECT_FALSE(s);
  EXPECT_EQ(sec::QVPrintSettingsGetBoolean(&settings, cf::str("b"), &b), 0);
  EXPECT_TRUE(b);
  EXPECT_NE(sec::QVPrintSettingsGetString(&settings, cf::str("absent"), &s), 0);
  EXPECT_TRUE(sec::QVIsPrintSettingsItem(&settings, cf::str("s")));

  pm::PageFormat format;
  const pm::PMOrientation orientations[] = {pm::kPMPortrait, pm::kPMLandscape, pm::kPMReversePortrait,
                                            pm::kPMReverseLandscape};
  const int32_t expected[] = {1, 2, 4, 3};
  for (int i = 0; i < 4; ++i) {
    format.setOrientation(orientations[i]);
    EXPECT_EQ(sec::QVPageFormatGetSInt32(&format, cf::str(pm::kPMOrientationKey), &n), 0);
    EXPECT_EQ(n, expected[i]);
  }
  EXPECT_EQ(sec::QVPageFormatGetSInt32(&format, cf::str("other"), &n), -1);
  EXPECT_EQ(n, -1);

  EXPECT_EQ(sec::str2num("-12"), -12);
  EXPECT_EQ(sec::str2num("1-2"), 1);
  EXPECT_EQ(sec::str2num("-0"), 0);
  EXPECT_EQ(sec::str2num("42x7"), 42);

  auto dict = cf::Dictionary::create();
  dict->setValue("k", cf::str("v"));
  EXPECT_TRUE(sec::CFDictionaryGetValueWithType(dict, cf::str("k"), sec::kTypeString));
  EXPECT_FALSE(sec::CFDictionaryGetValueWithType(dict, cf::str("k"), sec::kTypeNumber));
  EXPECT_TRUE(sec::CFDictionaryGetValueWithType(dict, cf::str("k"), 9));
  auto array = cf::Array::create({cf::str("a")});
  EXPECT_TRUE(sec::CFArrayGetValueAtIndexWithType(array, 0, 0));
  EXPECT_FALSE(sec::CFArrayGetValueAtIndexWithType(array, 0, 7));
  EXPECT_FALSE(sec::CFArrayGetValueAtIndexWithType(array, 1, 0));
  EXPECT_TRUE(sec::CFStringEqualTo(cf::str("Ab"), cf::str("aB"), false));
  EXPECT_FALSE(sec::CFStringEqualTo(cf::str("Ab"), cf::str("aB"), true));
  EXPECT_FALSE(sec::CFStringEqualTo(nullptr, nullptr, false));
}

TEST(Ticket, FitToPageDestinationAndCustomPapers) {
  char tmpl[] = "/tmp/r2740-panel-prefs-XXXXXX";
  std::string prefs = mkdtemp(tmpl);
  setenv("R2740_USER_PREFS", prefs.c_str(), 1);
  auto papers = cf::Dictionary::create();
  auto entry = cf::Dictionary::create();
  entry->setValue("name", cf::str("My Card"));
  papers->setValue("custom-1", entry);
  ASSERT_TRUE(cf::PropertyListWriteToFile(papers, prefs + "/com.apple.print.custompapers.plist"));

  cf::StringRef name;
  bool found = false;
  EXPECT_EQ(sec::GetCustomPaperNameFromPlist(cf::str("custom-1"), &name, &found), 0);
  EXPECT_TRUE(found);
  EXPECT_EQ(name->utf8(), "My Card");
  EXPECT_EQ(sec::GetCustomPaperNameFromPlist(cf::str("other"), &name, &found), 0);
  EXPECT_FALSE(found);
  EXPECT_EQ(name->utf8(), "other");

  Callback cb(nullptr);
  Session s(&cb);
  EXPECT_FALSE(sec::IsDocumentUseFitToPage(&s.record));
  cb.settings_.setValue(pm::kPMPageToPaperMappingTypeKey, cf::num(2), false);
  EXPECT_TRUE(sec::IsDocumentUseFitToPage(&s.record));
  EXPECT_EQ(sec::GetDestinationPaperName(&s.record, &name), pm::kPMObjectNotFound);
  cb.settings_.setValue(pm::kPMDestinationPaperNameKey, cf::str("A4"), false);
  EXPECT_EQ(sec::GetDestinationPaperName(&s.record, &name), 0);
  EXPECT_EQ(name->utf8(), "A4");
  std::filesystem::remove_all(prefs);
}

// ---- panel rows and control data ----------------------------------------

TEST(PanelTable, RowsDefaultsAndValues) {
  sec::SecurityRow empty[1];
  EXPECT_EQ(sec::searchTableIndex(empty, empty[0].control.get()), -1);
  EXPECT_EQ(sec::CustomSupportedPPDOptionKeys(empty)->count(), 0u);

  // A PPD with print mode only: authentication falls back to "False".
  PPD ppd(
      "*OpenUI *PrintModeR2740/Print Mode: PickOne\n*DefaultPrintModeR2740: SecurePrint\n"
      "*PrintModeR2740 Normal/Normal Print: \"\"\n*PrintModeR2740 SecurePrint/Secure Print: \"\"\n"
      "*CloseUI: *PrintModeR2740\n");
  auto popup = std::make_shared<ui::PopUpButton>();
  auto check = std::make_shared<ui::Button>();
  check->setButtonType(ui::ButtonType::Switch);
  check->setState(1);
  auto radio = std::make_shared<ui::Matrix>();
  radio->addCell("a");
  radio->addCell("b");
  radio->selectCellAtRow(1);
  auto field = std::make_shared<ui::TextField>();
  field->setStringValue("old");
  sec::SecurityRow table[5];
  table[0].control = popup;
  table[0].kind = sec::kRowPopUp;
  table[0].keyword = sec::kPrintModeKey;
  table[1].control = check;
  table[1].kind = sec::kRowCheckBox;
  table[1].keyword = sec::kAuthenticationKey;
  table[2].control = radio;
  table[2].kind = sec::kRowRadio;
  table[2].keyword = sec::kUserTypeKey;
  table[3].control = field;
  table[3].kind = sec::kRowEditText;
  table[3].keyword = sec::kUserNameKey;
  sec::initializePopup(ppd.get(), &table[0]);
  ASSERT_EQ(popup->numberOfItems(), 2);
  EXPECT_EQ(popup->itemTitleAtIndex(1), "Secure Print");
  sec::setDefaults(ppd.get(), table);
  EXPECT_EQ(table[0].value->utf8(), "SecurePrint");
  EXPECT_EQ(popup->indexOfSelectedItem(), 1);
  EXPECT_EQ(table[1].value->utf8(), "False");
  EXPECT_EQ(check->state(), 0);
  EXPECT_EQ(table[2].value->utf8(), "public");
  EXPECT_EQ(radio->selectedRow(), 0);
  EXPECT_EQ(table[3].value->utf8(), "");
  EXPECT_EQ(field->stringValue(), "");
  EXPECT_EQ(sec::searchTableIndex(table, radio.get()), 2);

  // Values a control cannot show are refused and leave it alone.
  EXPECT_EQ(sec::setPPDValueToControl(&table[0], cf::str("Bogus")), 1);
  EXPECT_EQ(popup->indexOfSelectedItem(), 1);
  EXPECT_EQ(sec::setPPDValueToControl(&table[1], cf::str("true")), 1);
  EXPECT_EQ(sec::setPPDValueToControl(&table[2], cf::str("private")), 0);
  EXPECT_EQ(sec::getPPDValueFromControl(&table[2])->utf8(), "private");
  EXPECT_EQ(sec::getLocalizeValueFromControl(&table[1], ppd.get())->utf8(), "Off");

  // Without the option the pop-up is hidden and its row gets no value.
  PPD bare("");
  auto popup2 = std::make_shared<ui::PopUpButton>();
  popup2->addItemWithTitle("kept");
  sec::SecurityRow row[2];
  row[0].control = popup2;
  row[0].kind = sec::kRowPopUp;
  row[0].keyword = sec::kPrintModeKey;
  sec::initializePopup(bare.get(), &row[0]);
  EXPECT_TRUE(popup2->isHidden());
  sec::setDefaults(bare.get(), row);
  EXPECT_FALSE(row[0].value);
}

TEST(ControlData, TableOperations) {
  // Check-box options list "True" first here: the state must still name
  // the right choice.
  PPD ppd(
      "*OpenUI *QVAuthenticationR2740/User Authentication: Boolean\n*DefaultQVAuthenticationR2740: False\n"
      "*QVAuthenticationR2740 True/On: \"\"\n*QVAuthenticationR2740 False/Off: \"\"\n"
      "*CloseUI: *QVAuthenticationR2740\n" +
      std::string("*OpenUI *PrintModeR2740/Print Mode: PickOne\n*DefaultPrintModeR2740: Normal\n"
                  "*PrintModeR2740 Normal/Normal Print: \"\"\n*PrintModeR2740 SecurePrint/Secure Print: \"\"\n"
                  "*CloseUI: *PrintModeR2740\n"));
  auto popup = std::make_shared<ui::PopUpButton>();
  popup->addItemWithTitle("Normal Print");
  popup->addItemWithTitle("Secure Print");
  auto check = std::make_shared<ui::Button>();
  auto radio = std::make_shared<ui::Matrix>();
  radio->addCell("public");
  radio->addCell("private");
  auto edit = std::make_shared<ui::TextField>();
  const sec::PDEControlDataInput input[] = {
      {400, popup, sec::kKindPopUp, cf::str("PrintModeR2740")},
      {401, check, sec::kKindCheckBox, cf::str("QVAuthenticationR2740")},
      {402, radio, sec::kKindRadioGroup, nullptr},
      {403, edit, sec::kKindEditText, nullptr},
  };
  sec::PDEControlDataTblRef table = nullptr;
  sec::CTblCreate(&table, input, 4, ppd.get());
  ASSERT_TRUE(table);
  EXPECT_FALSE(popup->autoenablesItems());
  EXPECT_EQ(sec::PDEControlDataTblGetCount(table), 4);
  auto stranger = std::make_shared<ui::Button>();
  EXPECT_EQ(sec::CTblGetID(table, stranger.get()), -1);
  EXPECT_EQ(sec::PDEControlDataGetByID(table, -1), nullptr);
  EXPECT_EQ(sec::CTblGetID(nullptr, check.get()), 0);
  EXPECT_EQ(sec::PDEControlDataKind(nullptr), 0xFFFFFFFFu);
  EXPECT_EQ(sec::PDEControlDataGetIntValue(nullptr, true), -1);

  sec::PDEControlData* cbox = sec::PDEControlDataGetByID(table, 401);
  check->setState(1);
  EXPECT_EQ(sec::PDEControlDataGetPPDValueString(cbox)->utf8(), "True");
  sec::PDEControlDataSetPPDValueString(cbox, cf::str("False"));
  EXPECT_EQ(check->state(), 0);

  // A two-row matrix counts along its rows; value 1 (1-based) is row 0.
  sec::PDEControlData* rgrp = sec::PDEControlDataGetByID(table, 402);
  sec::PDEControlDataSetIntValue(rgrp, 2, false);
  EXPECT_EQ(radio->selectedRow(), 1);
  sec::PDEControlDataSetIntValue(rgrp, 1, false);
  EXPECT_EQ(radio->selectedRow(), 0);
  EXPECT_EQ(sec::PDEControlDataItemGetCount(rgrp), 2);
  sec::PDEControlDataItemSetEnabled(rgrp, 2, false);
  EXPECT_FALSE(radio->isCellEnabled(1));

  sec::PDEControlData* etxt = sec::PDEControlDataGetByID(table, 403);
  EXPECT_EQ(sec::PDEControlDataGetPPDValueString(etxt)->utf8(), "NULL");
  sec::PDEControlDataSetPPDValueString(etxt, cf::str("abc"));
  EXPECT_EQ(sec::PDEControlDataGetPPDValueString(etxt)->utf8(), "abc");

  sec::PDEControlData* popb = sec::PDEControlDataGetByID(table, 400);
  sec::PDEControlDataItemSetEnabled(popb, 2, false);
  EXPECT_FALSE(sec::PDEControlDataItemIsEnabled(popb, 2));
  sec::PDEControlDataSetEnabled(popb, false);
  sec::mEnableALL(table);
  EXPECT_TRUE(popup->isEnabled());
  EXPECT_TRUE(popup->isItemEnabled(1));
  sec::PDEControlDataSetPPDValueString(popb, cf::str("securePRINT"));
  EXPECT_EQ(popup->indexOfSelectedItem(), 1);
  sec::PDEControlDataSetPPDValueString(popb, cf::str("Unknown"));
  EXPECT_EQ(popup->indexOfSelectedItem(), 0);  // the default

  sec::CTblRelease(&table);
  EXPECT_EQ(table, nullptr);
}

TEST(Alerts, FormatsAndTicketTexts) {
  EXPECT_EQ(sec::FormatWithObjects("%@ and %@", {"a", "b"}), "a and b");
  EXPECT_EQ(sec::FormatWithObjects("%2$@ then %1$@ (100%%)", {"a", "b"}), "b then a (100%)");
  // A format asking for more than it gets, or for non-objects, reads nothing.
  EXPECT_EQ(sec::FormatWithObjects("%@ %@ %3$@ %d %s %", {"x"}), "x   %d %s %");

  auto dict = cf::Dictionary::create();
  sec::SaveEditText(dict, cf::str("k"), cf::str(""));
  EXPECT_FALSE(dict->contains("k"));
  sec::SaveEditText(dict, cf::str("k"), cf::str("abc"));
  EXPECT_EQ(dict->get<cf::String>("k")->utf8(), "616263");
  EXPECT_EQ(sec::LoadEditText(dict, cf::str("k"))->utf8(), "abc");
  sec::SaveEditTextPassword(dict, cf::str("p"), sec::kNoEncryption, 0, cf::str("abc"));
  EXPECT_EQ(dict->get<cf::String>("p")->utf8(), "616263");
  sec::SaveEditTextPassword(dict, cf::str("p"), 51, 0, cf::str("a+b"));
  EXPECT_EQ(dict->get<cf::String>("p")->length(), 32u);
  EXPECT_EQ(sec::LoadEditTextPassword(dict, cf::str("p"), 51, 0)->utf8(), "a");
  dict->setValue("n", cf::num(3));
  EXPECT_FALSE(sec::LoadEditText(dict, cf::str("n")));
  EXPECT_FALSE(sec::SecurityUtil::BoxNumberZeroValueAlert(0));
  EXPECT_FALSE(sec::SecurityUtil::SecurityEmptyAlert("no.such.bundle", "A", "B", true));
}

}  // namespace
