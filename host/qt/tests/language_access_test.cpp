// The dialog over the real plug-ins in Japanese (host texts through Qt's
// translations, PPD texts through its translation lines, panel and profile
// window texts from the bundle's strings, screenshot names), and the
// accessible tree every control of both panels and the profile window
// shows to assistive technology.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QTreeWidget>

#include <set>

#include "dialog.h"
#include "generalpanel.h"
#include "host.h"
#include "i18n.h"
#include "mirror.h"
#include "modal.h"
#include "qt_env.h"
#include "run.h"
#include "session_env.h"

// QStrings in failure messages as text.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

namespace fs = std::filesystem;

// Mirrors the window the plug-in runs modally, hands it to `inspect`,
// then aborts the session as a closed window would.
struct WindowCatcher : ui::ModalHandler {
  std::function<void(qthost::ViewMirror&, const ui::WindowRef&)> inspect;
  int windows = 0;
  int runAlert(ui::Alert&) override { return ui::kAlertFirstButtonReturn; }
  int runOpenPanel(ui::OpenPanel&) override { return ui::kModalResponseCancel; }
  void runModalForWindow(const ui::WindowRef& window) override {
    ++windows;
    qthost::ViewMirror mirror(window->contentView());
    if (inspect) inspect(mirror, window);
    ui::Application::shared().stopModalWithCode(ui::kModalResponseAbort);
  }
};

class LanguageAccessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qttest::App(); }
  static const fs::path& Links() {
    static qttest::TempDir links;  // plug-ins keep their bundle path for the process
    return links.path;
  }
  void SetUp() override {
    for (const char* v : {"R2740_LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(v);
  }
  void Open(const char* language) {
    if (language) setenv("LANGUAGE", language, 1);
    qthost::InstallTranslations();
    fs::path dir = Links() / "both";
    if (!fs::exists(dir) && !qttest::LinkBundles(dir, {"ColorOptionsPDE_R2740", "SecurityPanelPDE"}))
      GTEST_SKIP() << "the bundles are not built in " << R2740_BUNDLE_DIR;
    std::string why;
    session = qttest::StartSession(dir, tmp.path, "R2740", &queue, &start, &why);
    ASSERT_TRUE(session) << why;
    ASSERT_TRUE(showProgress ? qthost::OpenShowingProgress(*session, "R2740", &why) : session->open(&why)) << why;
    ASSERT_EQ(session->panels().size(), 2u);
    catcher = std::make_shared<WindowCatcher>();
    ui::SetModalHandler(catcher);
    dialog = std::make_unique<qthost::PrintDialog>(*session, "R2740");
    general = new qthost::GeneralPanel(*session, queue, start);
    qthost::AttachGeneral(*dialog, general);
  }
  void TearDown() override {
    dialog.reset();
    session.reset();
    ui::SetModalHandler(nullptr);
    for (const char* v : {"LANGUAGE", "R2740_ROOT", "R2740_USER_PREFS"}) unsetenv(v);
    qthost::InstallTranslations();
  }
  // Opens the profile window from the colour panel's button (a mirror of
  // the pane it is on), handing the window's mirror to `inspect`.
  void OpenProfileWindow(std::function<void(qthost::ViewMirror&, const ui::WindowRef&)> inspect) {
    std::shared_ptr<ui::Button> manage;
    for (const auto& v : session->panels()[0].panel->allViews())
      if (!manage && v) manage = std::dynamic_pointer_cast<ui::Button>(v->findByIdentifier("button_ManageProfile"));
    ASSERT_TRUE(manage);
    manage->setEnabled(true);  // else only where the profile service lets this user write
    catcher->inspect = std::move(inspect);
    manage->userClick();
    ASSERT_EQ(catcher->windows, 1);
  }
  static QStringList ComboItems(QComboBox* box) {
    QStringList out;
    for (int i = 0; box && i < box->count(); ++i) out << box->itemText(i);
    return out;
  }

  bool showProgress = false;
  qttest::TempDir tmp;
  host::Queue queue;
  host::DialogStart start;
  std::unique_ptr<host::DialogSession> session;
  std::shared_ptr<WindowCatcher> catcher;
  std::unique_ptr<qthost::PrintDialog> dialog;
  qthost::GeneralPanel* general = nullptr;
};

// The status line of the window shown while the panels open, as painted.
struct BusyProbe : QObject {
  QString painted;
  bool busyCursor = false;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint && o->objectName() == "status" && o->parent() &&
        o->parent()->objectName() == qthost::kOpeningName) {
      painted = static_cast<QLabel*>(o)->text();
      busyCursor = QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::BusyCursor;
    }
    return false;
  }
};

TEST_F(LanguageAccessTest, JapaneseReachesHostPPDPanelAndProfileWindowTexts) {
  BusyProbe probe;
  qApp->installEventFilter(&probe);
  showProgress = true;
  Open("ja");
  qApp->removeEventFilter(&probe);
  EXPECT_EQ(probe.painted, "R2740 にカラープロファイルを問い合わせています...");
  EXPECT_TRUE(probe.busyCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  // The host's own texts, Qt's standard button among them.
  EXPECT_EQ(dialog->findChild<QPushButton*>("print")->text(), "プリント");
  EXPECT_EQ(dialog->findChild<QPushButton*>("cancel")->text(), "キャンセル");
  EXPECT_EQ(dialog->chooser()->itemText(dialog->summaryIndex() + 1), "一覧");
  EXPECT_EQ(dialog->summaryView()->headerItem()->text(0), "項目");
  dialog->refreshSummary();  // the general options' rows come from host/core
  EXPECT_FALSE(dialog->summaryView()->findItems("部数", Qt::MatchExactly | Qt::MatchRecursive).isEmpty());
  QStringList captions;
  for (auto* l : general->findChildren<QLabel*>()) captions << l->text();
  EXPECT_TRUE(captions.contains("部数(&C):")) << captions.join('|').toStdString();
  // PPD texts, through the host (paper) and through the colour plug-in.
  EXPECT_TRUE(ComboItems(general->findChild<QComboBox*>("paper")).contains("US レター"));
  EXPECT_TRUE(ComboItems(general->findChild<QComboBox*>("duplex")).contains("長辺とじ"));
  qthost::ViewMirror* colour = dialog->mirror(0);
  ASSERT_NE(colour, nullptr);
  auto* quick = qobject_cast<QComboBox*>(colour->widgetForIdentifier("QVQuickColor"));
  ASSERT_NE(quick, nullptr);
  EXPECT_TRUE(ComboItems(quick).contains("鮮やか")) << ComboItems(quick).join('|').toStdString();
  // The panel's caption from the bundle's strings, named on its control.
  EXPECT_EQ(quick->accessibleName(), "クイックカラー");
  // The profile window's fixed texts.
  OpenProfileWindow([](qthost::ViewMirror& m, const ui::WindowRef& w) {
    EXPECT_EQ(w->title(), "プロファイル管理");
    auto* add = qobject_cast<QAbstractButton*>(m.widgetForIdentifier("_addButton"));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->text(), "追加");
    auto* table = qobject_cast<QTableWidget*>(m.widgetForIdentifier("_profileTableView"));
    ASSERT_NE(table, nullptr);
    ASSERT_GE(table->columnCount(), 3);
    EXPECT_EQ(table->horizontalHeaderItem(2)->text(), "ファイル名");
    EXPECT_EQ(ComboItems(qobject_cast<QComboBox*>(m.widgetForIdentifier("_profileMenu"))).value(0),
              "RGBソースプロファイル");
  });

  // Screenshot names keep their letters; none overwrites another.
  std::vector<std::string> written;
  std::string why;
  ASSERT_TRUE(qthost::WriteScreenshots(*dialog, *session, (tmp.path / "shots").string(), &written, &why)) << why;
  std::set<std::string> distinct(written.begin(), written.end());
  EXPECT_EQ(distinct.size(), written.size());
  bool japaneseName = false;
  for (const auto& p : written) {
    EXPECT_TRUE(fs::exists(p)) << p;
    if (fs::path(p).filename().string().rfind("セキュリティ-", 0) == 0) japaneseName = true;
  }
  EXPECT_TRUE(japaneseName);
}

TEST_F(LanguageAccessTest, JapaneseOffersOneCustomPaperAndNamesWithoutMnemonics) {
  Open("ja");
  dialog->setAttribute(Qt::WA_DontShowOnScreen, true);
  dialog->show();
  // The dialog's own custom size, in the translators' words, and not the
  // PPD's untranslated one beside it.
  QStringList papers = ComboItems(general->findChild<QComboBox*>("paper"));
  EXPECT_EQ(papers.filter("カスタムサイズ").size(), 1) << papers.join('|').toStdString();
  EXPECT_EQ(papers.filter("Custom", Qt::CaseInsensitive).size(), 0) << papers.join('|').toStdString();
  EXPECT_EQ(ComboItems(general->findChild<QComboBox*>("orientation")).value(0), "縦");
  auto name = [&](const char* object) {
    return QAccessible::queryAccessibleInterface(general->findChild<QWidget*>(object))->text(QAccessible::Name);
  };
  EXPECT_EQ(name("copies"), "部数");
  EXPECT_EQ(name("collate"), "部単位");
  EXPECT_EQ(name("pages"), "ページ");
  // Japanese captions mark their letter as "(&C)"; no name keeps it.
  const QRegularExpression mark("[(\\x{FF08}]&?[A-Za-z][)\\x{FF09}]");
  for (QWidget* w : dialog->findChildren<QWidget*>()) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    if (!a) continue;
    EXPECT_FALSE(a->text(QAccessible::Name).contains(mark)) << a->text(QAccessible::Name).toStdString();
  }
}

TEST_F(LanguageAccessTest, EnglishStaysTheSourceTexts) {
  Open("fr:en");  // no French texts anywhere: English, the PPD's own language
  EXPECT_EQ(qthost::UILanguage(), "en");
  EXPECT_EQ(dialog->findChild<QPushButton*>("print")->text(), "Print");
  EXPECT_TRUE(ComboItems(general->findChild<QComboBox*>("paper")).contains("US Letter"));
  auto* quick = qobject_cast<QComboBox*>(dialog->mirror(0)->widgetForIdentifier("QVQuickColor"));
  ASSERT_NE(quick, nullptr);
  EXPECT_TRUE(ComboItems(quick).contains("Vivid"));
}

// What assistive technology reads of a control: a role for its kind and a
// name; a caption's mnemonic reaches its control.
void ExpectNamedControls(QWidget* root, const std::string& where, int* controls) {
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (w->isHidden() && !w->isVisibleTo(root)) continue;
    QAccessible::Role want;
    if (qobject_cast<QComboBox*>(w)) want = QAccessible::ComboBox;
    else if (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parentWidget()) &&
             !qobject_cast<QAbstractSpinBox*>(w->parentWidget()))
      want = QAccessible::EditableText;
    else if (qobject_cast<QAbstractSpinBox*>(w)) want = QAccessible::SpinBox;
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
      want = b->inherits("QCheckBox") ? QAccessible::CheckBox
             : b->inherits("QRadioButton") ? QAccessible::RadioButton
                                           : QAccessible::Button;
    else if (qobject_cast<QTableWidget*>(w)) want = QAccessible::Table;
    else continue;
    if (w->inherits("QTabBar") || w->parent()->inherits("QTabBar") || w->inherits("QScrollBar")) continue;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(a, nullptr) << where;
    std::string id = where + " " + w->metaObject()->className() + " " + w->objectName().toStdString();
    EXPECT_EQ(a->role(), want) << id;
    // (A combo box's name is its current text on Linux; its label comes
    // as a relation, checked below.)
    EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty() && w->accessibleName().isEmpty()) << id;
    ++*controls;
  }
  for (QLabel* l : root->findChildren<QLabel*>()) {
    if (!l->buddy()) continue;
    EXPECT_EQ(l->buddy()->accessibleName(), qthost::AccessibleName(l->text())) << where;
    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(l);
    bool labelled = false;
    for (const auto& [other, relation] : QAccessible::queryAccessibleInterface(l->buddy())->relations(QAccessible::Label))
      if (other == label) labelled = true;
    EXPECT_TRUE(labelled) << where << ": " << l->text().toStdString();
    // A mnemonic where the caption has a Latin letter left to take.
    if (l->text().contains(QRegularExpression("[A-Za-z]")) && !l->text().contains('&'))
      ADD_FAILURE() << where << ": no mnemonic on \"" << l->text().toStdString() << "\"";
  }
}

TEST_F(LanguageAccessTest, EveryControlOfBothPanelsAndTheProfileWindowHasANameAndRole) {
  Open(nullptr);
  dialog->setAttribute(Qt::WA_DontShowOnScreen, true);
  dialog->show();
  int controls = 0;
  ExpectNamedControls(dialog.get(), "dialog", &controls);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog->findChild<QAbstractSpinBox*>("copies"))->text(QAccessible::Name),
            "Copies");
  EXPECT_EQ(dialog->chooser()->accessibleName(), "Panel");
  // Tab order as the eye goes: chooser, general options, the panel, buttons.
  QStringList order;
  QWidget* w = dialog->chooser();
  for (int i = 0; i < 200 && (order.isEmpty() || w != dialog->chooser()); ++i, w = w->nextInFocusChain())
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(dialog.get()) && !w->objectName().isEmpty())
      order << w->objectName();
  ASSERT_GE(order.size(), 4);
  EXPECT_EQ(order.mid(0, 2), QStringList({"panel-chooser", "presets"})) << order.join(' ').toStdString();
  EXPECT_EQ(order.mid(order.size() - 2), QStringList({"print", "cancel"})) << order.join(' ').toStdString();
  EXPECT_LT(order.indexOf("duplex"), order.indexOf("QVQuickColor"));
  // Every pane of both panels, the detached ones too.
  for (auto& p : session->panels()) {
    for (const auto& v : p.panel->allViews()) {
      if (!v || v->superview()) continue;
      qthost::ViewMirror m(v);
      m.widget()->setAttribute(Qt::WA_DontShowOnScreen, true);
      m.widget()->show();
      ExpectNamedControls(m.widget(), p.name + "/" + v->className(), &controls);
    }
  }
  auto* quick = dialog->mirror(0)->widgetForIdentifier("QVQuickColor");
  ASSERT_NE(quick, nullptr);
  EXPECT_EQ(quick->accessibleName(), "Quick Color");
  OpenProfileWindow([&](qthost::ViewMirror& m, const ui::WindowRef&) {
    m.widget()->setAttribute(Qt::WA_DontShowOnScreen, true);
    m.widget()->show();
    ExpectNamedControls(m.widget(), "profile window", &controls);
    auto* edit = m.widgetForIdentifier("_fileNameEdit");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->accessibleName(), "File Name");
  });
  EXPECT_GT(controls, 40);
}

}  // namespace
