// The Qt modal handler, answered by a script (timers acting like a user),
// and screenshots of a mirrored view.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

#include "dialog.h"
#include "mirror.h"
#include "modal.h"
#include "qt_env.h"

namespace {

using qthost::QtModalHandler;

// Runs `act` on the first top-level widget named `name` once it is up. The
// timer belongs to `owner` (one per test), so a script never outlives its
// test; a dialog still open 5 s after its answer fails the test and is
// closed rather than hanging it.
void WhenShown(QObject* owner, const char* name, std::function<void(QWidget*)> act) {
  auto* timer = new QTimer(owner);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [=, tries = 0, acted = false, answered = QPointer<QWidget>()]() mutable {
    if (acted) {
      if (!answered || !answered->isVisible()) {
        timer->stop();
      } else if (++tries > 500) {
        timer->stop();
        ADD_FAILURE() << name << " still open 5 s after the script answered it";
        answered->close();
      }
      return;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == name && w->isVisible()) {
        acted = true;
        answered = w;
        tries = 0;
        act(w);
        return;
      }
    }
    if (++tries > 500) {  // nobody came: give up rather than hang
      timer->stop();
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
    }
  });
  timer->start();
}

class Stopper : public ui::NibObject {
 public:
  Stopper() {
    action("ok:", [](ui::NibObject*) { ui::Application::shared().stopModalWithCode(ui::kModalResponseOK); });
  }
};

class ModalTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qttest::App(); }
  void SetUp() override { ui::SetModalHandler(std::make_shared<QtModalHandler>()); }
  void TearDown() override { ui::SetModalHandler(nullptr); }
  void WhenShown(const char* name, std::function<void(QWidget*)> act) { ::WhenShown(&scripts_, name, act); }

  QObject scripts_;  // this test's scripts
};

TEST_F(ModalTest, AlertAnswersTheClickedButton) {
  ui::Alert alert;
  alert.messageText = "Enter the document password.";
  alert.informativeText = "It needs at least four characters.";
  alert.addButtonWithTitle("OK");
  alert.addButtonWithTitle("Cancel");
  QString shownText;
  WhenShown(qthost::kAlertName, [&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    shownText = box->text();
    for (QAbstractButton* b : box->buttons())
      if (b->text() == "Cancel") b->click();
  });
  EXPECT_EQ(alert.runModal(), ui::kAlertSecondButtonReturn);
  EXPECT_EQ(shownText, "Enter the document password.");

  // Escape answers the "Cancel" button too; with no buttons there is an OK.
  ui::Alert plain;
  plain.messageText = "Done";
  WhenShown(qthost::kAlertName, [](QWidget* w) { qobject_cast<QMessageBox*>(w)->reject(); });
  EXPECT_EQ(plain.runModal(), ui::kAlertFirstButtonReturn);
}

TEST_F(ModalTest, OpenPanelReturnsTheChosenFileOrCancel) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString profile = dir.filePath("Vivid.icc");
  QFile f(profile);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("icc");
  f.close();

  ui::OpenPanel panel;
  panel.directory = dir.path().toStdString();
  panel.fileTypes = {"icc", "icm"};
  WhenShown(qthost::kOpenPanelName, [&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->directory().absolutePath(), dir.path());
    // Typed into the name field: selectFile() leaves a focused field alone.
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(profile);
    static_cast<QDialog*>(dialog)->accept();  // as the Open button does
  });
  ASSERT_EQ(panel.runModal(), ui::kModalResponseOK);
  ASSERT_EQ(panel.filenames.size(), 1u);
  EXPECT_EQ(panel.filenames[0], profile.toStdString());

  // The panel's folder wins over the one Qt remembers from the last choice.
  ASSERT_TRUE(QDir(dir.path()).mkdir("other"));
  panel.directory = dir.filePath("other").toStdString();
  WhenShown(qthost::kOpenPanelName, [&](QWidget* w) {
    EXPECT_EQ(qobject_cast<QFileDialog*>(w)->directory().absolutePath(), dir.filePath("other"));
    qobject_cast<QDialog*>(w)->reject();
  });
  EXPECT_EQ(panel.runModal(), ui::kModalResponseCancel);
  EXPECT_TRUE(panel.filenames.empty());
}

TEST_F(ModalTest, ModalWindowRunsUntilItsOwnButtonStopsIt) {
  auto content = std::make_shared<ui::View>();
  content->setFrame({{0, 0}, {300, 120}});
  content->setFlipped(true);
  auto field = std::make_shared<ui::TextField>();
  field->setFrame({{10, 10}, {200, 22}});
  field->setIdentifier("name");
  auto ok = std::make_shared<ui::Button>();
  ok->setFrame({{10, 60}, {80, 24}});
  ok->setTitle("OK");
  auto stopper = std::make_shared<Stopper>();
  ok->setTarget(stopper);
  ok->setAction("ok:");
  content->addSubview(field);
  content->addSubview(ok);
  auto window = std::make_shared<ui::Window>();
  window->setTitle("Profile Management");
  window->setContentView(content);

  WhenShown(qthost::kModalWindowName, [](QWidget* w) {
    EXPECT_EQ(w->windowTitle(), "Profile Management");
    auto* edit = w->findChild<QLineEdit*>("name");
    ASSERT_NE(edit, nullptr);
    edit->insert("abc");  // typed into the model through the mirror
    for (auto* b : w->findChildren<QPushButton*>())
      if (b->text() == "OK") b->click();
  });
  EXPECT_EQ(ui::Application::shared().runModalForWindow(window), ui::kModalResponseOK);
  EXPECT_EQ(field->stringValue(), "abc");
  EXPECT_FALSE(ui::Application::shared().inModalSession());

  // Closing the window without its buttons aborts the session.
  WhenShown(qthost::kModalWindowName, [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  EXPECT_EQ(ui::Application::shared().runModalForWindow(window), ui::kModalResponseAbort);
  // The window's views are no longer mirrored (nobody observes them).
  field->setStringValue("after");
}

TEST_F(ModalTest, ScreenshotIsANonEmptyPNG) {
  auto root = std::make_shared<ui::View>();
  root->setFrame({{0, 0}, {200, 80}});
  auto label = std::make_shared<ui::TextField>();
  label->setEditable(false);
  label->setFrame({{10, 30}, {150, 20}});
  label->setStringValue("Quick Color:");
  root->addSubview(label);
  qthost::ViewMirror mirror(root);
  QTemporaryDir dir;
  std::string path = dir.filePath("shot.png").toStdString();
  std::string error;
  ASSERT_TRUE(qthost::SaveWidgetPNG(mirror.widget(), path, &error)) << error;
  QFile f(QString::fromStdString(path));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QByteArray head = f.read(8);
  EXPECT_EQ(head, QByteArray("\x89PNG\r\n\x1a\n", 8));
  QImage image(QString::fromStdString(path));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(200, 80));
  // Something was drawn: not every pixel has the background colour.
  bool varied = false;
  QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height() && !varied; ++y)
    for (int x = 0; x < image.width() && !varied; ++x) varied = image.pixel(x, y) != first;
  EXPECT_TRUE(varied);

  EXPECT_FALSE(qthost::SaveWidgetPNG(mirror.widget(), dir.filePath("missing/dir/x.png").toStdString(), &error));
}

}  // namespace
