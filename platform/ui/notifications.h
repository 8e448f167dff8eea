// Named notifications between panels and their host, on the panels' thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ui {

// ---- notification centre -------------------------------------------------
class NotificationCenter {
 public:
  static NotificationCenter& defaultCenter();
  // `observer` only identifies the registration for removeObserver.
  void addObserver(const void* observer, const std::string& name, std::function<void()> fn);
  void removeObserver(const void* observer);
  void removeObserver(const void* observer, const std::string& name);
  void postNotification(const std::string& name);

 private:
  struct Entry {
    const void* observer;
    std::string name;
    std::function<void()> fn;
    unsigned long id = 0;
  };
  std::vector<Entry> entries_;
  unsigned long nextId_ = 1;
};

}  // namespace ui
