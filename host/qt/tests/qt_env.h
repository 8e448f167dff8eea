// One QApplication for a test program, on the offscreen platform.
#pragma once

#include <QApplication>

#include "lsan.h"

namespace qttest {

inline QApplication* App() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "r2740-qt-test";
  static char* argv[] = {name, nullptr};
  return new QApplication(argc, argv);  // lives until the program ends
}

}  // namespace qttest
