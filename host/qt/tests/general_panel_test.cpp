// The dialog's general part over the real plug-ins, worked through its
// widgets: the paper reaches the security panel's constraints, unclaimed
// options get the "Printer Features" page, presets restore the panels.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTreeWidget>

#include "dialog.h"
#include "generalpanel.h"
#include "host.h"
#include "modal.h"
#include "presets.h"
#include "qt_env.h"
#include "run.h"
#include "session_env.h"

namespace {

namespace fs = std::filesystem;

class GeneralPanelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qttest::App(); }
  void SetUp() override { ASSERT_FALSE(tmp.path.empty()); }
  // The panels of `bundles`, then the general part, as the program does.
  void Open(std::initializer_list<const char*> bundles) {
    fs::path dir = qttest::LastingBundles(bundles);
    if (dir.empty()) GTEST_SKIP() << "the bundles are not built in " << R2740_BUNDLE_DIR;
    std::string why;
    session = qttest::StartSession(dir, tmp.path, "R2740_Queue_1", &queue, &start, &why);
    ASSERT_TRUE(session) << why;
    ASSERT_TRUE(session->open(&why)) << why;
    ui::SetModalHandler(std::make_shared<qthost::BatchModalHandler>());
    dialog = std::make_unique<qthost::PrintDialog>(*session, "R2740_Queue_1");
    general = new qthost::GeneralPanel(*session, queue, start);
    qthost::AttachGeneral(*dialog, general);
  }
  void TearDown() override {
    dialog.reset();
    session.reset();
    ui::SetModalHandler(nullptr);
    unsetenv("R2740_ROOT");
    unsetenv("R2740_USER_PREFS");
  }
  std::string setting(const std::string& key) {
    auto s = cf::As<cf::String>(session->settingsDictionary()->getValue(key));
    return s ? s->utf8() : "<missing>";
  }
  void choose(QComboBox* box, const QString& data) {
    int i = box->findData(data);
    ASSERT_GE(i, 0) << data.toStdString();
    box->setCurrentIndex(i);
    emit box->activated(i);
  }
  ui::PopUpButton* popUp(const std::string& id) {
    for (auto& p : session->panels())
      for (const auto& v : p.panel->allViews()) {
        ui::PopUpButton* found = nullptr;
        v->forEachDescendant([&](ui::View* d) {
          if (!found && d->identifier() == id) found = dynamic_cast<ui::PopUpButton*>(d);
        });
        if (found) return found;
      }
    return nullptr;
  }

  qttest::TempDir tmp;
  host::Queue queue;
  host::DialogStart start;
  std::unique_ptr<host::DialogSession> session;
  std::unique_ptr<qthost::PrintDialog> dialog;
  qthost::GeneralPanel* general = nullptr;
};

TEST_F(GeneralPanelTest, TheChosenPaperReachesTheSecurityPanelsConstraints) {
  Open({"ColorOptionsPDE_R2740", "SecurityPanelPDE"});
  // Every option of the sample PPD belongs to a panel or the general part.
  EXPECT_EQ(dialog->pageCount(), dialog->panelCount());
  ui::PopUpButton* mode = popUp("PrintModeR2740");
  ASSERT_NE(mode, nullptr);
  EXPECT_TRUE(mode->isEnabled());

  choose(general->paper(), "Env10");
  ASSERT_TRUE(session->callback().pageFormatObject().paper());
  EXPECT_EQ(session->callback().pageFormatObject().paper()->id(), "Env10");
  EXPECT_EQ(setting("PageSize"), "Env10");
  // Secure print is not for envelopes: the menu is left with one item.
  EXPECT_FALSE(mode->isEnabled());
  choose(general->paper(), "Letter");
  EXPECT_TRUE(mode->isEnabled());

  general->copies()->setValue(4);
  EXPECT_EQ(setting("copies"), "4");
  general->collate()->setChecked(false);
  EXPECT_EQ(setting("multiple-document-handling"), "separate-documents-uncollated-copies");
  general->pages()->setText("3-1");
  std::string why;
  EXPECT_FALSE(general->commit(&why));
  EXPECT_EQ(setting("page-ranges"), "<missing>");
  general->pages()->setText("2-3");
  EXPECT_TRUE(general->commit(&why)) << why;
  EXPECT_EQ(setting("page-ranges"), "2-3");
  choose(general->duplex(), "DuplexNoTumble");
  EXPECT_EQ(setting("Duplex"), "DuplexNoTumble");
}

TEST_F(GeneralPanelTest, UnclaimedOptionsGetThePrinterFeaturesPageWithConflicts) {
  Open({"SecurityPanelPDE"});
  ASSERT_EQ(dialog->pageCount(), dialog->panelCount() + 1);
  EXPECT_EQ(dialog->chooser()->itemText(dialog->panelCount()), qthost::kPrinterFeaturesName);
  EXPECT_EQ(dialog->chooser()->itemText(dialog->chooser()->count() - 1), "Summary");
  ASSERT_TRUE(dialog->showPanel(dialog->panelCount()));
  ASSERT_TRUE(dialog->showPanel(dialog->summaryIndex()));

  auto* brightness = dialog->findChild<QComboBox*>("QVBrightness");
  ASSERT_NE(brightness, nullptr);
  choose(brightness, "Darker1");
  EXPECT_EQ(setting("QVBrightness"), "Darker1");
  auto jobOptions = host::JobOptions(session->settingsDictionary(), session->callback().ppdFile());
  EXPECT_NE(std::find(jobOptions.begin(), jobOptions.end(), std::pair<std::string, std::string>("QVBrightness", "Darker1")),
            jobOptions.end());

  // The sample PPD's only constraints: secure print and envelopes. The
  // list follows the next change.
  EXPECT_TRUE(general->conflicts()->text().isEmpty());
  choose(general->paper(), "EnvDL");
  ppdMarkOption(session->callback().ppdFile(), "PrintModeR2740", "SecurePrint");
  general->copies()->setValue(2);
  EXPECT_TRUE(general->conflicts()->text().contains("EnvDL")) << general->conflicts()->text().toStdString();
  choose(general->paper(), "A4");
  EXPECT_TRUE(general->conflicts()->text().isEmpty());

  // The Summary ends with the general options, in the PPD's words.
  ASSERT_TRUE(dialog->showPanel(dialog->summaryIndex()));
  QTreeWidget* summary = dialog->summaryView();
  QTreeWidgetItem* block = summary->topLevelItem(summary->topLevelItemCount() - 1);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->text(0), "General");
  QStringList rows;
  for (int i = 0; i < block->childCount(); ++i) rows << block->child(i)->text(0) + "=" + block->child(i)->text(1);
  for (const char* want : {"Copies=2", "Paper Size=A4", "Brightness=Darker (-1)"})
    EXPECT_TRUE(rows.contains(want)) << want << " not in " << rows.join(", ").toStdString();
}

TEST_F(GeneralPanelTest, ChoosingAPresetRestoresEveryPanel) {
  Open({"ColorOptionsPDE_R2740", "SecurityPanelPDE"});
  std::string why;
  ASSERT_TRUE(session->setControl("QVBrightness", "Lighter2", &why)) << why;
  choose(general->paper(), "A4");
  ASSERT_TRUE(general->savePreset("Bright A4", &why)) << why;
  EXPECT_GE(general->presets()->findText("Bright A4"), 0);

  ui::PopUpButton* brightness = popUp("QVBrightness");
  ASSERT_NE(brightness, nullptr);
  ASSERT_TRUE(general->choosePreset(host::kDefaultSettings, &why)) << why;
  EXPECT_EQ(brightness->indexOfSelectedItem(), 2);  // the PPD's default, Normal
  EXPECT_EQ(setting("PageSize"), "Letter");
  EXPECT_EQ(general->paper()->currentData().toString(), "Letter");

  ASSERT_TRUE(general->choosePreset("Bright A4", &why)) << why;
  EXPECT_EQ(general->paper()->currentData().toString(), "A4");
  EXPECT_EQ(session->callback().pageFormatObject().paper()->id(), "A4");
  ASSERT_TRUE(session->save(&why)) << why;
  EXPECT_EQ(setting("QVBrightness"), "Lighter2");
  EXPECT_FALSE(general->choosePreset("Missing", &why));
}

}  // namespace
