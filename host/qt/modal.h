// Answers what a panel asks of a person with real Qt dialogs: modal
// windows (a dialog mirroring the window's content view, run until the
// window's own controls stop the modal session), alerts (QMessageBox) and
// open panels (QFileDialog).
#pragma once

#include <QPointer>
#include <QWidget>

#include "ui/windows.h"

namespace qthost {

// Object names of the dialogs, for scripts and tests that answer them.
inline constexpr const char* kModalWindowName = "r2740-modal-window";
inline constexpr const char* kAlertName = "r2740-alert";
inline constexpr const char* kOpenPanelName = "r2740-open-panel";

class QtModalHandler : public ui::ModalHandler {
 public:
  explicit QtModalHandler(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }

  // kAlertFirstButtonReturn + the index of the clicked button. Escape or
  // closing the box answers the button titled "Cancel", else the last one.
  int runAlert(ui::Alert& alert) override;
  // kModalResponseOK with the chosen paths in panel.filenames, or Cancel.
  int runOpenPanel(ui::OpenPanel& panel) override;
  // Returns when the session is stopped (the window's OK/Cancel call
  // stopModal) or when the user closes the dialog (the session then ends
  // with kModalResponseAbort).
  void runModalForWindow(const ui::WindowRef& window) override;

 private:
  QPointer<QWidget> parent_;
};

// Answers without a person, as a batch run must: alerts are written to
// standard error and answered with their first button, open panels are
// cancelled, modal windows aborted.
class BatchModalHandler : public ui::ModalHandler {
 public:
  int runAlert(ui::Alert& alert) override;
  int runOpenPanel(ui::OpenPanel& panel) override;
  void runModalForWindow(const ui::WindowRef& window) override;
};

}  // namespace qthost
