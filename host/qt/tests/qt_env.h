// One QApplication for a test program, on the offscreen platform.
#pragma once

#include <QApplication>
#include <QTemporaryDir>

#include "lsan.h"

namespace qttest {

inline QApplication* App() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt's own settings (the file dialog's last folder and history) stay with
  // this process, not in the user's home where other runs would find them.
  static QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  static int argc = 1;
  static char name[] = "r2740-qt-test";
  static char* argv[] = {name, nullptr};
  return new QApplication(argc, argv);  // lives until the program ends
}

}  // namespace qttest
