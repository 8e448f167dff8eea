#include "modal.h"

#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

#include "frontend.h"
#include "mirror.h"

namespace qthost {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

int QtModalHandler::runAlert(ui::Alert& alert) {
  QMessageBox box(parent_);
  box.setObjectName(kAlertName);
  switch (alert.style) {
    case ui::AlertStyle::Warning: box.setIcon(QMessageBox::Warning); break;
    case ui::AlertStyle::Informational: box.setIcon(QMessageBox::Information); break;
    case ui::AlertStyle::Critical: box.setIcon(QMessageBox::Critical); break;
  }
  box.setText(Q(alert.messageText));
  box.setInformativeText(Q(alert.informativeText));
  std::vector<std::string> titles = alert.buttons;
  if (titles.empty()) titles.push_back("OK");  // the platform's alert has one then
  std::vector<QPushButton*> buttons;
  QPushButton* escape = nullptr;
  for (size_t i = 0; i < titles.size(); ++i) {
    auto* b = box.addButton(Q(titles[i]), i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    buttons.push_back(b);
    if (titles[i] == "Cancel") escape = b;
  }
  box.setDefaultButton(buttons.front());
  box.setEscapeButton(escape ? escape : buttons.back());
  box.exec();
  for (size_t i = 0; i < buttons.size(); ++i)
    if (box.clickedButton() == buttons[i]) return ui::kAlertFirstButtonReturn + static_cast<int>(i);
  int i = static_cast<int>(std::find(buttons.begin(), buttons.end(), box.escapeButton()) - buttons.begin());
  return ui::kAlertFirstButtonReturn + i;
}

int QtModalHandler::runOpenPanel(ui::OpenPanel& panel) {
  QFileDialog dialog(parent_, Q(panel.title), Q(panel.directory));
  dialog.setObjectName(kOpenPanelName);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  if (panel.canChooseDirectories && !panel.canChooseFiles) {
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
  } else {
    dialog.setFileMode(panel.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  }
  if (!panel.fileTypes.empty()) {
    QStringList patterns;
    for (const auto& t : panel.fileTypes) {
      patterns << "*." + Q(t).toLower();
      if (Q(t).toLower() != Q(t).toUpper()) patterns << "*." + Q(t).toUpper();
    }
    dialog.setNameFilter(QObject::tr("Allowed files (%1)").arg(patterns.join(' ')));
  }
  if (dialog.exec() != QDialog::Accepted) return ui::kModalResponseCancel;
  panel.filenames.clear();
  for (const QString& f : dialog.selectedFiles()) panel.filenames.push_back(f.toStdString());
  return panel.filenames.empty() ? ui::kModalResponseCancel : ui::kModalResponseOK;
}

void QtModalHandler::runModalForWindow(const ui::WindowRef& window) {
  auto& app = ui::Application::shared();
  if (!window || app.modalStopRequested()) return;
  QDialog dialog(parent_);
  dialog.setObjectName(kModalWindowName);
  dialog.setWindowTitle(Q(window->title()));
  dialog.setModal(true);
  std::unique_ptr<ViewMirror> mirror;
  if (window->contentView()) {
    mirror = std::make_unique<ViewMirror>(window->contentView(), &dialog);
    ui::Rect f = window->frame();
    if (f.size.width <= 0 || f.size.height <= 0) f = window->contentView()->frame();
    dialog.resize(std::max(1, static_cast<int>(f.size.width)), std::max(1, static_cast<int>(f.size.height)));
  }

  QEventLoop loop;
  auto check = [&] {
    if (app.modalStopRequested()) loop.quit();
  };
  if (mirror) QObject::connect(mirror.get(), &ViewMirror::userActed, &loop, check);
  // A stop may also come from elsewhere (a nested alert's caller, a timer).
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, check);
  poll.start(50);
  // Closing the dialog ends the session unstopped: an abort.
  QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
  dialog.show();
  loop.exec();
  poll.stop();
  // The mirror goes before the dialog and its widgets.
  mirror.reset();
  dialog.hide();
}

int BatchModalHandler::runAlert(ui::Alert& alert) {
  std::fprintf(stderr, "%s\n", host::AlertLine(alert).c_str());
  return ui::kAlertFirstButtonReturn;
}

int BatchModalHandler::runOpenPanel(ui::OpenPanel&) { return ui::kModalResponseCancel; }

void BatchModalHandler::runModalForWindow(const ui::WindowRef&) {
  ui::Application::shared().stopModalWithCode(ui::kModalResponseAbort);
}

}  // namespace qthost
