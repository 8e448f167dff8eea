// Start of the Qt print dialog on the colour sample queue whose printer
// does not answer (socket://127.0.0.9, nothing listens there, so the colour
// plug-in's profile walk waits for its SNMP time-outs): the time from start
// to a window on screen (the busy window saying what happens) beside the
// time to the panels being open, when the dialog itself can show. Before
// the busy window, nothing was on screen for all of the second figure.
// Runs the program's own steps in-process on the offscreen platform, over
// an install root staged from this build; a few runs, the median printed.
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dialog.h"
#include "dialogstart.h"
#include "frontend.h"
#include "host.h"
#include "modal.h"

namespace {

// Records when a window of the given object name is first painted.
class PaintProbe : public QObject {
 public:
  PaintProbe(const char* name, QElapsedTimer& clock) : name_(name), clock_(clock) {}
  qint64 at = -1;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (at < 0 && e->type() == QEvent::Paint && o->objectName() == name_) at = clock_.elapsed();
    return false;
  }

 private:
  QString name_;
  QElapsedTimer& clock_;
};

struct Times {
  qint64 window, panels;
};

bool RunOnce(Times* t) {
  QElapsedTimer clock;
  clock.start();
  host::FrontEndOptions o;
  o.ppdPath = R2740_SOURCE_DIR "/data/ppd/R2740.ppd";
  o.queueId = "R2740";
  o.deviceURI = "socket://127.0.0.9:9100";
  o.haveDeviceURI = true;
  host::OpenedQueue opened;
  std::string why;
  if (host::OpenQueue(o, &opened, &why) != host::kOK) {
    std::fprintf(stderr, "startup bench: %s\n", why.c_str());
    return false;
  }
  ui::SetModalHandler(std::make_shared<qthost::BatchModalHandler>());
  auto callback = std::make_shared<host::HostCallback>(opened.queue, std::move(opened.ppd));
  host::DialogSession session(callback, std::move(opened.plugins));
  host::DialogStart start;
  if (host::StartDialog(session, opened.queue, {}, &start, &why) != host::kOK) return false;
  PaintProbe probe(qthost::kOpeningName, clock);
  qApp->installEventFilter(&probe);
  bool ok = qthost::OpenShowingProgress(session, "R2740", &why);
  t->panels = clock.elapsed();
  qApp->removeEventFilter(&probe);
  t->window = probe.at;
  ui::SetModalHandler(nullptr);
  if (!ok) std::fprintf(stderr, "startup bench: %s\n", why.c_str());
  return ok && t->window >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // A short root: the service's socket path must fit a socket address.
  char tmpl[] = "/tmp/r2740-startup-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string root = tmpl;
  struct Remove {
    std::string path;
    ~Remove() { std::filesystem::remove_all(path); }
  } remove{root};
  std::string stage = "'" R2740_SOURCE_DIR "/scripts/stage-root' '" + root + "' '" R2740_BINARY_DIR "' >/dev/null";
  if (std::system(stage.c_str()) != 0) {
    std::fprintf(stderr, "startup bench: staging %s failed\n", root.c_str());
    return 1;
  }
  setenv("R2740_ROOT", root.c_str(), 1);
  setenv("R2740_USER_PREFS", (root + "/prefs").c_str(), 1);
  setenv("R2740_XPC_SOCKET", (root + "/xpc.sock").c_str(), 1);
  setenv("R2740_XPC_IDLE_TIMEOUT", "2", 1);  // the service started on demand ends by itself
  QApplication app(argc, argv);
  std::vector<qint64> window, panels;
  for (int i = 0; i < 3; ++i) {
    Times t{};
    if (!RunOnce(&t)) return 1;
    window.push_back(t.window);
    panels.push_back(t.panels);
  }
  auto median = [](std::vector<qint64> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("unreachable printer, median of %zu starts (the first, loading the bundles: %lld / %lld ms):\n",
              window.size(), static_cast<long long>(window[0]), static_cast<long long>(panels[0]));
  std::printf("  window on screen (busy, \"Asking R2740 for its colour profiles...\"): %lld ms\n",
              static_cast<long long>(median(window)));
  std::printf("  panels open, the dialog shows:                                    %lld ms\n",
              static_cast<long long>(median(panels)));
  return 0;
}
