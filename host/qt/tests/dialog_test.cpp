// The dialog over the real plug-ins of this build, worked through its Qt
// widgets as a user would.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "dialog.h"
#include "host.h"
#include "modal.h"
#include "qt_env.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;

class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qttest::App(); }
  void SetUp() override {
    ASSERT_FALSE(tmp.path.empty());
    fs::path bundles = qttest::LastingBundles({"ColorOptionsPDE_R2740", "SecurityPanelPDE"});
    if (bundles.empty()) GTEST_SKIP() << "the colour and security bundles are not built in " << R2740_BUNDLE_DIR;
    fs::create_directories(tmp.path / "root");
    setenv("R2740_ROOT", (tmp.path / "root").c_str(), 1);
    std::vector<std::string> errors;
    auto plugins = host::LoadPlugInFolder(bundles.string(), &errors);
    ASSERT_TRUE(errors.empty()) << errors.front();
    std::string why;
    auto ppd = host::PPDFile::open(std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd", &why);
    ASSERT_TRUE(ppd) << why;
    auto queue = host::ManualQueue(std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd", "R2740_Queue_1",
                                   "lpd://127.0.0.1/queue");
    session = std::make_unique<host::DialogSession>(std::make_shared<host::HostCallback>(queue, std::move(ppd)),
                                                    std::move(plugins));
    ASSERT_TRUE(session->open(&why)) << why;
    ui::SetModalHandler(std::make_shared<qthost::BatchModalHandler>());
    dialog = std::make_unique<qthost::PrintDialog>(*session, "R2740_Queue_1");
  }
  void TearDown() override {
    dialog.reset();
    session.reset();
    ui::SetModalHandler(nullptr);
    unsetenv("R2740_ROOT");
  }
  int panelIndex(const std::string& name) {
    for (int i = 0; i < dialog->panelCount(); ++i)
      if (session->panels()[static_cast<size_t>(i)].name == name) return i;
    return -1;
  }
  std::string setting(const std::string& key) {
    auto s = cf::As<cf::String>(session->settingsDictionary()->getValue(key));
    return s ? s->utf8() : "<missing>";
  }

  qttest::TempDir tmp;
  std::unique_ptr<host::DialogSession> session;
  std::unique_ptr<qthost::PrintDialog> dialog;
};

TEST_F(DialogTest, ColourPanelPaneSwitchAndChoicesThroughWidgets) {
  int colour = panelIndex("Color Options");
  ASSERT_GE(colour, 0);
  ASSERT_TRUE(dialog->showPanel(colour));
  qthost::ViewMirror* mirror = dialog->mirror(colour);
  ASSERT_NE(mirror, nullptr);
  // Panels, a separator, then the summary.
  EXPECT_EQ(dialog->chooser()->itemText(dialog->chooser()->count() - 1), "Summary");

  auto* quick = qobject_cast<QComboBox*>(mirror->widgetForIdentifier("QVQuickColor"));
  ASSERT_NE(quick, nullptr);
  auto* advanced = qobject_cast<QPushButton*>(mirror->widgetForIdentifier("button_AdvanceColorOptions"));
  ASSERT_NE(advanced, nullptr);
  // Custom Quick Color opens the way to the advanced pane.
  emit quick->activated(3);
  EXPECT_TRUE(advanced->isEnabled());
  advanced->click();
  // The container now shows the advanced pane: its controls have widgets,
  // the colour pane's do not.
  EXPECT_EQ(mirror->widgetForIdentifier("QVQuickColor"), nullptr);
  QPushButton* hide = nullptr;
  for (auto* b : mirror->widget()->findChildren<QPushButton*>())
    if (b->text() == "Hide Advanced Options" && b->isVisibleTo(mirror->widget())) hide = b;
  ASSERT_NE(hide, nullptr);
  hide->click();
  quick = qobject_cast<QComboBox*>(mirror->widgetForIdentifier("QVQuickColor"));
  ASSERT_NE(quick, nullptr);
  EXPECT_EQ(quick->currentIndex(), 3);

  auto* brightness = qobject_cast<QComboBox*>(mirror->widgetForIdentifier("QVBrightness"));
  ASSERT_NE(brightness, nullptr);
  int lighter = brightness->findText("Lighter (+1)");
  ASSERT_GE(lighter, 0);
  brightness->setCurrentIndex(lighter);
  emit brightness->activated(lighter);
  auto* glossy = qobject_cast<QCheckBox*>(mirror->widgetForIdentifier("QVGlossyMode"));
  ASSERT_NE(glossy, nullptr);
  glossy->click();

  // The summary shows what the panels report.
  ASSERT_TRUE(dialog->showPanel(dialog->panelCount()));
  auto found = dialog->summaryView()->findItems("Lighter (+1)", Qt::MatchRecursive, 1);
  EXPECT_FALSE(found.isEmpty());

  std::string why;
  ASSERT_TRUE(session->save(&why)) << why;
  EXPECT_EQ(setting("QVBrightness"), "Lighter1");
  EXPECT_EQ(setting("QVGlossyMode"), glossy->isChecked() ? "True" : "False");
  EXPECT_EQ(setting("QVQuickColor"), "Manual");
}

TEST_F(DialogTest, SecurityFieldsFollowTheCheckboxAndPrintSubmitsOnce) {
  int security = panelIndex("Security");
  ASSERT_GE(security, 0);
  ASSERT_TRUE(dialog->showPanel(security));
  qthost::ViewMirror* mirror = dialog->mirror(security);
  auto* manage = qobject_cast<QCheckBox*>(mirror->widgetForIdentifier("QVSectionManagementR2740"));
  auto* name = qobject_cast<QLineEdit*>(mirror->widgetForIdentifier("jp.orvessa.printers.R2740.sectionName"));
  auto* key = qobject_cast<QLineEdit*>(mirror->widgetForIdentifier("jp.orvessa.printers.R2740.sectionKey"));
  ASSERT_NE(manage, nullptr);
  ASSERT_NE(name, nullptr);
  ASSERT_NE(key, nullptr);
  EXPECT_FALSE(name->isEnabled());
  manage->click();
  EXPECT_TRUE(name->isEnabled());
  EXPECT_EQ(key->echoMode(), QLineEdit::Password);
  QTest::keyClicks(name, "Sales");
  QTest::keyClicks(key, "1234");
  EXPECT_EQ(name->text(), "Sales");

  int submitted = 0;
  dialog->setSubmit([&](std::string*) {
    ++submitted;
    return true;
  });
  std::string why;
  ASSERT_TRUE(dialog->print(&why)) << why;
  EXPECT_EQ(submitted, 1);
  EXPECT_EQ(setting("QVSectionManagementR2740"), "True");

  // A refused submission keeps the dialog's answer NO with the reason.
  dialog->setSubmit([](std::string* message) {
    *message = "queue stopped";
    return false;
  });
  EXPECT_FALSE(dialog->print(&why));
  EXPECT_EQ(why, "queue stopped");
}

TEST_F(DialogTest, SecurePrintWithAShortPasswordKeepsTheDialogAsItWas) {
  int security = panelIndex("Security");
  ASSERT_GE(security, 0);
  ASSERT_TRUE(dialog->showPanel(security));
  qthost::ViewMirror* mirror = dialog->mirror(security);
  auto* mode = qobject_cast<QComboBox*>(mirror->widgetForIdentifier("PrintModeR2740"));
  auto* key = qobject_cast<QLineEdit*>(mirror->widgetForIdentifier("jp.orvessa.printers.R2740.secureKey"));
  ASSERT_NE(mode, nullptr);
  ASSERT_NE(key, nullptr);
  mode->setCurrentIndex(1);
  emit mode->activated(1);
  ASSERT_TRUE(key->isEnabled());
  QTest::keyClicks(key, "abc");

  int submitted = 0;
  dialog->setSubmit([&](std::string*) {
    ++submitted;
    return true;
  });
  auto* print = dialog->findChild<QPushButton*>("print");
  ASSERT_NE(print, nullptr);
  print->click();
  EXPECT_EQ(submitted, 0);
  EXPECT_EQ(dialog->status()->text().toStdString(), "panel \"Security\" refused to print");
  EXPECT_EQ(mode->currentIndex(), 1);
  EXPECT_TRUE(key->isEnabled());
  EXPECT_EQ(key->text(), "abc");
  // The choice stays as the user made it. (The root is not checked here:
  // the colour panel copies the queue dictionary both share to it.)
  auto model = session->settingsDictionary()->get<cf::Dictionary>("R2740");
  auto queue = model ? model->get<cf::Dictionary>("R2740_Queue_1") : nullptr;
  ASSERT_TRUE(queue);
  auto chosen = queue->get<cf::String>("PrintModeR2740");
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->utf8(), "SecurePrint");
}

TEST_F(DialogTest, StartupFailureShowsAMessageBox) {
  QString text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && box->objectName() == qthost::kStartupFailureName) text = box->informativeText();
    if (QWidget* w = QApplication::activeModalWidget()) w->close();  // never hang on a box nobody named
  });
  qthost::ShowStartupFailure("PPD not found: /nowhere.ppd");
  EXPECT_EQ(text, "PPD not found: /nowhere.ppd");
}

// The values come from whoever sent the job: as the agent passes them on
// the command line, they reach the window as one line of plain text.
TEST_F(DialogTest, AHeldJobIsNamedInTheTitleAndAboveTheOptionsAsPlainText) {
  const long long sent = 1765200000;  // 2025-12-08 13:20 UTC
  std::string name = "Q4 <b>report</b>\x1b[2J\xe2\x80\xae" "fdp.exe\nline two\xff" + std::string(300, 'x');
  std::vector<std::string> args = {"r2740-print-dialog", "--job", "id=42", "--job", "name=" + name,
                                   "--job", "pages=3", "--job", "application=lp", "--job", "host=ws1.example",
                                   "--job", "sent=" + std::to_string(sent)};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  host::FrontEndOptions o;
  std::string why;
  for (int i = 1; i < static_cast<int>(argv.size()); ++i)
    ASSERT_EQ(host::TakeSharedFlag(static_cast<int>(argv.size()), argv.data(), &i, &o, &why), host::Flag::Taken) << why;
  dialog->setJob(o.job);

  auto* line = dialog->findChild<QLabel*>("job");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->textFormat(), Qt::PlainText);
  const QString expectedName = "Q4 <b>report</b>[2Jfdp.exe line two\uFFFD" + QString(120 - 36, 'x') + "...";
  EXPECT_EQ(dialog->windowTitle().toStdString(), ("Print job 42: " + expectedName).toStdString());
  const QString when = QLocale().toString(QDateTime::fromSecsSinceEpoch(sent), QLocale::ShortFormat);
  EXPECT_EQ(line->text().toStdString(),
            ("Job 42 \"" + expectedName + "\", 3 pages, from lp on ws1.example, sent " + when).toStdString());
  // On top of the window, above the printer line and the options.
  auto* box = qobject_cast<QVBoxLayout*>(dialog->layout());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->itemAt(0)->widget(), line);
}

}  // namespace
