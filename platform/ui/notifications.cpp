#include "ui/notifications.h"

#include <algorithm>

namespace ui {

// ---- NotificationCenter ----------------------------------------------------

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

void NotificationCenter::addObserver(const void* observer, const std::string& name, std::function<void()> fn) {
  entries_.push_back({observer, name, std::move(fn), nextId_++});
}

void NotificationCenter::removeObserver(const void* observer) {
  std::erase_if(entries_, [&](const Entry& e) { return e.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, const std::string& name) {
  std::erase_if(entries_, [&](const Entry& e) { return e.observer == observer && e.name == name; });
}

void NotificationCenter::postNotification(const std::string& name) {
  // A handler may remove registrations (its own or others'): those removed
  // are not called any more.
  std::vector<unsigned long> ids;
  for (const auto& e : entries_)
    if (e.name == name) ids.push_back(e.id);
  for (unsigned long id : ids) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
    if (it == entries_.end()) continue;
    auto fn = it->fn;
    if (fn) fn();
  }
}

}  // namespace ui
