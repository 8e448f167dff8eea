// Windows and what needs a person: alerts, open panels and modal sessions,
// answered by the ModalHandler the host installs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/view.h"

namespace ui {

// ---- windows, alerts, open panels ----------------------------------------
class Window : public NibObject {
 public:
  std::string className() const override { return "Window"; }
  const std::string& title() const { return title_; }
  void setTitle(const std::string& t) { title_ = t; }
  ViewRef contentView() const { return content_; }
  void setContentView(ViewRef v) { content_ = std::move(v); }
  Rect frame() const { return frame_; }
  void setFrame(Rect r) { frame_ = r; }
  bool isVisible() const { return visible_; }
  void orderOut() { visible_ = false; }
  void makeKeyAndOrderFront() { visible_ = true; }

 private:
  std::string title_;
  ViewRef content_;
  Rect frame_;
  bool visible_ = false;
};
using WindowRef = std::shared_ptr<Window>;

enum ModalResponse : int {
  kModalResponseStop = -1000,
  kModalResponseAbort = -1001,
  kModalResponseContinue = -1002,
  kAlertFirstButtonReturn = 1000,
  kAlertSecondButtonReturn = 1001,
  kAlertThirdButtonReturn = 1002,
  kModalResponseOK = 1,
  kModalResponseCancel = 0,
};

enum class AlertStyle { Warning, Informational, Critical };

class Alert {
 public:
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttons;  // first is the default
  AlertStyle style = AlertStyle::Warning;
  void addButtonWithTitle(const std::string& t) { buttons.push_back(t); }
  // Asks the current modal handler; kAlertFirstButtonReturn + index.
  int runModal();
};

class OpenPanel {
 public:
  std::string title;
  std::string directory;               // where it opens
  std::vector<std::string> fileTypes;  // extensions without dot; empty: any
  bool canChooseFiles = true;
  bool canChooseDirectories = false;
  bool allowsMultipleSelection = false;
  std::vector<std::string> filenames;  // the chosen paths after OK
  // Asks the current modal handler; kModalResponseOK or kModalResponseCancel.
  // Chosen files outside fileTypes are dropped (case-insensitive extension);
  // OK with no file left answers Cancel, so after OK filenames is not empty.
  int runModal();
};

// The application object's modal loop.
class Application {
 public:
  static Application& shared();
  // Runs a modal session for the window: the handler's runModalForWindow
  // until someone calls stopModal/stopModalWithCode. Answers the code.
  int runModalForWindow(const WindowRef& window);
  void stopModal() { stopModalWithCode(kModalResponseStop); }
  void stopModalWithCode(int code);
  bool inModalSession() const { return !modalStack_.empty(); }
  WindowRef modalWindow() const { return modalStack_.empty() ? nullptr : modalStack_.back(); }
  // For handlers: whether stopModal was called for the current session.
  bool modalStopRequested() const { return stopRequested_; }

 private:
  std::vector<WindowRef> modalStack_;
  bool stopRequested_ = false;
  int stopCode_ = kModalResponseStop;
};

// Answers what needs a person. The host installs one; tests script one.
// Without one: alerts answer their first button, open panels cancel, and a
// modal window session ends at once with kModalResponseAbort.
class ModalHandler {
 public:
  virtual ~ModalHandler() = default;
  virtual int runAlert(Alert& alert) = 0;
  virtual int runOpenPanel(OpenPanel& panel) = 0;
  // Must return once Application::shared().modalStopRequested() is true
  // (the window's own controls call stopModal), or abort the session.
  virtual void runModalForWindow(const WindowRef& window) = 0;
};
void SetModalHandler(std::shared_ptr<ModalHandler> handler);
std::shared_ptr<ModalHandler> GetModalHandler();

}  // namespace ui
