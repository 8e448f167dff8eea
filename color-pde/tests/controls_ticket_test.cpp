// The colour values in the print settings: model and queue dictionaries,
// both sync directions and the flat copy.
#include <gtest/gtest.h>

#include "ColorTestSupport.h"
#include "profile_test_support.h"

using namespace colortest;
using ns::PDECommon;

namespace {

const std::string kModel = R2740_MODEL_KEY;

struct Fixture {
  Fixture() : printerA("R2740_Queue_1", "lpd://127.0.0.1/queue"), printerB("R2740_Queue_2", "lpd://127.0.0.2/q") {
    session.setCurrentPrinter(&printerA);
  }
  pm::PrintSettings settings;
  pm::PrintSession session;
  pm::Printer printerA, printerB;
};

std::string Str(const cf::Ref& v) {
  auto s = cf::As<cf::String>(v);
  return s ? s->utf8() : "<not a string>";
}

cf::DictionaryRef QueueDict(pm::PrintSettings& settings, const std::string& queue) {
  auto model = cf::As<cf::Dictionary>(settings.value(kModel));
  return model ? model->get<cf::Dictionary>(queue) : nullptr;
}

}  // namespace

TEST(ColorTicketSync, FirstSyncCreatesDictionariesAndKeepsDefaults) {
  PPD p;
  Fixture f;
  auto quick = PopUp();
  auto gray = CheckBox();
  Table t({Row(quick, kControlKindPopUp, "QVQuickColor"), Row(gray, kControlKindCheckBox, "QVColorAsGray")}, p.ppd);
  PDECommon::commonBuildPDEItem(t.table, p.ppd);
  PDECommon::commonDefaultFromPPDInfo(t.table);

  EXPECT_EQ(PDECommon::commonSyncPaneFromTicket(&f.settings, &f.session, t.table), 0);
  auto queue = QueueDict(f.settings, "R2740_Queue_1");
  ASSERT_TRUE(queue);
  EXPECT_TRUE(queue->empty());
  EXPECT_EQ(quick->indexOfSelectedItem(), 2);
  EXPECT_EQ(gray->state(), 0);
  EXPECT_EQ(PDECommon::commonGetPPDProductName(nullptr)->utf8(), kModel);
  EXPECT_EQ(PDECommon::commonGetPrintQueueName(&f.session)->utf8(), "R2740_Queue_1");
}

TEST(ColorTicketSync, PaneToSettingsAndBackPerQueue) {
  PPD p;
  Fixture f;
  auto quick = PopUp();
  auto gray = CheckBox();
  auto glossy = CheckBox();
  Table t({Row(quick, kControlKindPopUp, "QVQuickColor"), Row(gray, kControlKindCheckBox, "QVColorAsGray"),
           Row(glossy, kControlKindCheckBox, "QVGlossyMode"), Row(PopUp(), kControlKindPopUp, "QVNoSuchOption")},
          p.ppd);
  PDECommon::commonBuildPDEItem(t.table, p.ppd);
  PDECommon::commonDefaultFromPPDInfo(t.table);

  // Queue 1: third Quick Color choice, grayscale on; glossy off has no
  // "False" choice in this PPD, so nothing is written for it.
  quick->selectItemAtIndex(2);
  gray->setState(1);
  glossy->setState(0);
  EXPECT_EQ(PDECommon::commonSyncTicketFromPane(&f.settings, &f.session, t.table), 0);
  auto q1 = QueueDict(f.settings, "R2740_Queue_1");
  ASSERT_TRUE(q1);
  EXPECT_EQ(Str(q1->getValue("QVQuickColor")), "Vivid");
  EXPECT_EQ(Str(q1->getValue("QVColorAsGray")), "True");
  EXPECT_FALSE(q1->contains("QVGlossyMode"));
  EXPECT_FALSE(q1->contains("QVNoSuchOption"));
  EXPECT_EQ(Str(f.settings.value("QVQuickColor")), "Vivid");
  EXPECT_EQ(Str(f.settings.value("QVColorAsGray")), "True");
  EXPECT_FALSE(f.settings.isLocked("QVQuickColor"));

  // Queue 2 of the same model: its own dictionary, starting from defaults.
  f.session.setCurrentPrinter(&f.printerB);
  quick->selectItemAtIndex(0);
  gray->setState(0);
  PDECommon::commonSyncPaneFromTicket(&f.settings, &f.session, t.table);
  EXPECT_EQ(quick->indexOfSelectedItem(), 2);  // default, not queue 1's value
  EXPECT_EQ(gray->state(), 0);
  quick->selectItemAtIndex(1);
  PDECommon::commonSyncTicketFromPane(&f.settings, &f.session, t.table);
  auto q2 = QueueDict(f.settings, "R2740_Queue_2");
  ASSERT_TRUE(q2);
  EXPECT_EQ(Str(q2->getValue("QVQuickColor")), "Photo");
  EXPECT_EQ(Str(q1->getValue("QVQuickColor")), "Vivid");
  EXPECT_EQ(Str(f.settings.value("QVQuickColor")), "Photo");

  // Back to queue 1: its values come back, and the flat copy follows.
  f.session.setCurrentPrinter(&f.printerA);
  PDECommon::commonSyncPaneFromTicket(&f.settings, &f.session, t.table);
  EXPECT_EQ(quick->indexOfSelectedItem(), 2);
  EXPECT_EQ(gray->state(), 1);
  EXPECT_EQ(Str(f.settings.value("QVQuickColor")), "Vivid");
}

TEST(ColorTicketSync, StoredValuesOfTheWrongKindChangeNothing) {
  PPD p;
  Fixture f;
  auto quick = PopUp();
  auto gray = CheckBox();
  auto bright = PopUp();
  Table t({Row(quick, kControlKindPopUp, "QVQuickColor"), Row(gray, kControlKindCheckBox, "QVColorAsGray"),
           Row(bright, kControlKindPopUp, "QVBrightness")},
          p.ppd);
  PDECommon::commonBuildPDEItem(t.table, p.ppd);
  quick->selectItemAtIndex(0);
  gray->setState(1);
  bright->selectItemAtIndex(0);

  // A queue dictionary with a number, a choice the PPD lacks, and a
  // checkbox word that is not "True": only the checkbox moves.
  auto queue = cf::Dictionary::create();
  queue->setValue("QVQuickColor", cf::num(3));
  queue->setValue("QVBrightness", cf::str("Blinding"));
  queue->setValue("QVColorAsGray", cf::str("yes"));
  auto model = cf::Dictionary::create();
  model->setValue("R2740_Queue_1", queue);
  f.settings.setValue(kModel, model, false);
  PDECommon::commonSyncPaneFromTicket(&f.settings, &f.session, t.table);
  EXPECT_EQ(quick->indexOfSelectedItem(), 0);
  EXPECT_EQ(bright->indexOfSelectedItem(), 0);
  EXPECT_EQ(gray->state(), 0);
  queue->setValue("QVColorAsGray", cf::str("TRUE"));
  PDECommon::commonSyncPaneFromTicket(&f.settings, &f.session, t.table);
  EXPECT_EQ(gray->state(), 1);

  // A queue entry that is not a dictionary: nothing read or written.
  model->setValue("R2740_Queue_1", cf::str("garbage"));
  f.settings.remove("QVBrightness");
  EXPECT_EQ(PDECommon::commonSyncTicketFromPane(&f.settings, &f.session, t.table), 0);
  EXPECT_EQ(Str(model->getValue("R2740_Queue_1")), "garbage");
  EXPECT_FALSE(f.settings.value("QVBrightness"));

  // A model entry that is not a dictionary stays as it is.
  f.settings.setValue(kModel, cf::num(7), true);
  EXPECT_EQ(PDECommon::commonSyncTicketFromPane(&f.settings, &f.session, t.table), 0);
  EXPECT_EQ(PDECommon::commonSyncPaneFromTicket(&f.settings, &f.session, t.table), 0);
  EXPECT_EQ(PDECommon::commonGetModelDictionary(&f.settings, &f.session), nullptr);
  EXPECT_TRUE(cf::IsType(f.settings.value(kModel), cf::kNumberTypeID));

  // No current printer, no settings: nothing happens.
  pm::PrintSettings fresh;
  pm::PrintSession noPrinter;
  EXPECT_EQ(PDECommon::commonSyncTicketFromPane(&fresh, &noPrinter, t.table), 0);
  EXPECT_EQ(PDECommon::commonGetModelDictionary(&fresh, &noPrinter), nullptr);
  EXPECT_EQ(PDECommon::commonSyncTicketFromPane(nullptr, &f.session, t.table), 0);
  EXPECT_EQ(PDECommon::commonGetPrintQueueName(&noPrinter), nullptr);
  EXPECT_EQ(PDECommon::commonGetPrintQueueName(nullptr), nullptr);
}

TEST(ColorTicketSync, FlatCopyWritesStringKeysAndNeverTheModelEntry) {
  Fixture f;
  auto model = cf::Dictionary::create();
  f.settings.setValue(kModel, model, false);
  auto dict = cf::Dictionary::create();
  dict->setValue("QVQuickColor", cf::str("Photo"));
  dict->setValue(kModel, cf::str("would replace the model dictionary"));
  dict->setValue(cf::num(5), cf::str("number key"));
  f.settings.setValue("QVQuickColor", cf::str("Old"), true);
  EXPECT_EQ(PDECommon::commonCFDictionaryMapToTicket(&f.settings, dict), 0);
  EXPECT_EQ(Str(f.settings.value("QVQuickColor")), "Photo");
  EXPECT_FALSE(f.settings.isLocked("QVQuickColor"));
  EXPECT_EQ(f.settings.value(kModel), model);
  EXPECT_EQ(f.settings.entries().size(), 2u);
  EXPECT_EQ(PDECommon::commonCFDictionaryMapToTicket(nullptr, dict), -50);

  EXPECT_EQ(PDECommon::commonCFDictionaryGetValueWithType(cf::Dictionary::create(), cf::str("k")), nullptr);
  EXPECT_EQ(PDECommon::commonCFDictionaryGetValueWithType(cf::str("not a dict"), cf::str("k")), nullptr);
  auto outer = cf::Dictionary::create();
  outer->setValue("k", cf::str("v"));
  EXPECT_EQ(PDECommon::commonCFDictionaryGetValueWithType(outer, cf::str("k")), nullptr);
  EXPECT_EQ(PDECommon::commonCFDictionaryGetValueWithType(outer, nullptr), nullptr);
  auto inner = cf::Dictionary::create();
  outer->setValue("d", inner);
  EXPECT_EQ(PDECommon::commonCFDictionaryGetValueWithType(outer, cf::str("d")), inner);
  EXPECT_TRUE(PDECommon::commonCFTypeIsValid(inner, cf::kDictionaryTypeID));
  EXPECT_FALSE(PDECommon::commonCFTypeIsValid(nullptr, cf::kDictionaryTypeID));
  EXPECT_FALSE(PDECommon::commonCFTypeIsValid(inner, cf::kStringTypeID));
}

TEST(ColorTicketSync, ProfileRowsWithoutStoredProfilesFallBackToTheDefault) {
  proftest::Root root(false);  // no profile file
  PPD p;
  Fixture f;
  auto menu = PopUp();
  Table t({Row(menu, kControlKindPopUp, "QVQuickColor", nullptr, nullptr, "", 1)}, p.ppd);
  PDECommon::commonBuildPDEItem(t.table, p.ppd);
  menu->selectItemAtIndex(0);
  auto queue = cf::Dictionary::create();
  queue->setValue("QVQuickColorCustom", cf::str("True"));
  queue->setValue("QVQuickColor", cf::str("Photo"));
  auto model = cf::Dictionary::create();
  model->setValue("R2740_Queue_1", queue);
  f.settings.setValue(kModel, model, false);
  PDECommon::commonSyncPaneFromTicket(&f.settings, &f.session, t.table);
  // The flag says a profile, but no file names one: the PPD default
  // (Vivid), neither the stored choice (Photo, 1) nor the old selection.
  EXPECT_EQ(menu->indexOfSelectedItem(), 2);
}
