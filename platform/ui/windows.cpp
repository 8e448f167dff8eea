#include "ui/windows.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace ui {

// ---- modal sessions --------------------------------------------------------

namespace {
std::mutex gHandlerMutex;
std::shared_ptr<ModalHandler> gHandler;
}  // namespace

void SetModalHandler(std::shared_ptr<ModalHandler> handler) {
  std::lock_guard<std::mutex> lock(gHandlerMutex);
  gHandler = std::move(handler);
}

std::shared_ptr<ModalHandler> GetModalHandler() {
  std::lock_guard<std::mutex> lock(gHandlerMutex);
  return gHandler;
}

int Alert::runModal() {
  auto handler = GetModalHandler();
  if (!handler) return kAlertFirstButtonReturn;
  return handler->runAlert(*this);
}

int OpenPanel::runModal() {
  filenames.clear();
  auto handler = GetModalHandler();
  if (!handler) return kModalResponseCancel;
  int result = handler->runOpenPanel(*this);
  // Hold the answer to what the panel allows, as the platform's panel does:
  // callers may then rely on filenames[0] after OK.
  if (result == kModalResponseOK && !fileTypes.empty()) {
    std::erase_if(filenames, [&](const std::string& f) {
      auto dot = f.rfind('.');
      auto slash = f.rfind('/');
      if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return true;
      std::string ext = f.substr(dot + 1);
      return std::none_of(fileTypes.begin(), fileTypes.end(), [&](const std::string& t) {
        return t.size() == ext.size() && std::equal(t.begin(), t.end(), ext.begin(), [](char a, char b) {
                 return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
               });
      });
    });
  }
  if (result == kModalResponseOK && !allowsMultipleSelection && filenames.size() > 1) filenames.resize(1);
  if (result != kModalResponseOK || filenames.empty()) {
    filenames.clear();
    return kModalResponseCancel;
  }
  return kModalResponseOK;
}

Application& Application::shared() {
  static Application app;
  return app;
}

int Application::runModalForWindow(const WindowRef& window) {
  if (!window) return kModalResponseAbort;
  // Sessions nest: keep the outer session's stop request.
  bool outerStop = stopRequested_;
  int outerCode = stopCode_;
  modalStack_.push_back(window);
  stopRequested_ = false;
  stopCode_ = kModalResponseStop;
  window->makeKeyAndOrderFront();
  if (auto handler = GetModalHandler()) handler->runModalForWindow(window);
  int code = stopRequested_ ? stopCode_ : kModalResponseAbort;
  modalStack_.pop_back();
  stopRequested_ = outerStop;
  stopCode_ = outerCode;
  return code;
}

void Application::stopModalWithCode(int code) {
  if (modalStack_.empty()) return;
  stopRequested_ = true;
  stopCode_ = code;
}

}  // namespace ui
