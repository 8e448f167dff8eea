#include "ui/view.h"

#include <algorithm>

#include "ui/containers.h"
#include "ui/controls.h"

namespace ui {

// ---- NibObject -------------------------------------------------------------

bool NibObject::connectOutlet(const std::string& name, const NibObjectRef& target) {
  auto it = outlets_.find(name);
  if (it == outlets_.end() || !target) return false;
  return it->second(target);
}

bool NibObject::performAction(const std::string& selector, NibObject* sender) {
  auto it = actions_.find(selector);
  if (it == actions_.end()) return false;
  // Copy: the action may replace this object's actions.
  auto fn = it->second;
  fn(sender);
  return true;
}

std::vector<std::string> NibObject::outletNames() const {
  std::vector<std::string> names;
  for (const auto& [name, fn] : outlets_) names.push_back(name);
  return names;
}

// ---- View ------------------------------------------------------------------

void View::setFrame(Rect r) {
  if (r == frame_) return;
  frame_ = r;
  notify(Change::Frame);
}

void View::setBounds(Rect r) {
  if (r == bounds_) return;
  bounds_ = r;
  notify(Change::Frame);
}

void View::setHidden(bool h) {
  if (h == hidden_) return;
  hidden_ = h;
  notify(Change::Hidden);
}

void View::addSubview(const ViewRef& v) {
  if (!v || v.get() == this) return;
  // Refuse cycles: an ancestor cannot become a subview.
  for (View* a = superview_; a; a = a->superview_)
    if (a == v.get()) return;
  ViewRef keep = v;
  keep->removeFromSuperview();
  subviews_.push_back(keep);
  keep->superview_ = this;
  notify(Change::Subviews);
}

void View::replaceSubview(const ViewRef& old, const ViewRef& replacement) {
  if (!old || !replacement || old == replacement) return;
  if (std::find(subviews_.begin(), subviews_.end(), old) == subviews_.end()) return;
  for (View* a = this; a; a = a->superview_)
    if (a == replacement.get()) return;
  ViewRef keepOld = old, keepNew = replacement;
  if (keepNew->superview_) keepNew->removeFromSuperview();
  auto it = std::find(subviews_.begin(), subviews_.end(), keepOld);
  *it = keepNew;
  keepNew->superview_ = this;
  keepOld->superview_ = nullptr;
  notify(Change::Subviews);
}

void View::removeFromSuperview() {
  View* parent = superview_;
  if (!parent) return;
  auto& siblings = parent->subviews_;
  auto it = std::find_if(siblings.begin(), siblings.end(), [this](const ViewRef& v) { return v.get() == this; });
  ViewRef keep;  // this view may be owned only by its superview
  if (it != siblings.end()) {
    keep = *it;
    siblings.erase(it);
  }
  superview_ = nullptr;
  parent->notify(Change::Subviews);
}

namespace {
// Subviews plus, for a tab view, its item views.
std::vector<ViewRef> Children(View* v) {
  std::vector<ViewRef> out = v->subviews();
  if (auto* tabs = dynamic_cast<TabView*>(v)) {
    for (int i = 0; i < tabs->numberOfTabViewItems(); ++i)
      if (auto view = tabs->tabViewItemAtIndex(i)->view())
        if (std::find(out.begin(), out.end(), view) == out.end()) out.push_back(view);
  }
  return out;
}
}  // namespace

ViewRef View::findByIdentifier(const std::string& id) {
  if (identifier_ == id) {
    if (auto self = std::dynamic_pointer_cast<View>(weak_from_this().lock())) return self;
  }
  for (const auto& child : Children(this)) {
    if (child->identifier_ == id) return child;
    if (auto found = child->findByIdentifier(id)) return found;
  }
  return nullptr;
}

void View::forEachDescendant(const std::function<void(View*)>& fn) {
  for (const auto& child : Children(this)) {
    fn(child.get());
    child->forEachDescendant(fn);
  }
}

int View::addObserver(Observer fn) {
  int token = nextToken_++;
  observers_[token] = std::move(fn);
  return token;
}

void View::removeObserver(int token) { observers_.erase(token); }

void View::notify(Change what) {
  if (observers_.empty()) return;
  // An observer may add or remove observers while we call them.
  std::vector<int> tokens;
  for (const auto& [token, fn] : observers_) tokens.push_back(token);
  for (int token : tokens) {
    auto it = observers_.find(token);
    if (it == observers_.end()) continue;
    auto fn = it->second;
    if (fn) fn(this, what);
  }
}

// ---- Control ---------------------------------------------------------------

void Control::setEnabled(bool e) {
  if (e == enabled_) return;
  enabled_ = e;
  // A field that is disabled while edited stops editing, as on the platform.
  if (!e)
    if (auto* field = dynamic_cast<TextField*>(this)) field->abortEditing();
  notify(Change::Enabled);
}

bool Control::sendAction() {
  auto t = target_.lock();
  if (!t || action_.empty()) return false;
  return t->performAction(action_, this);
}

void Control::setStringValue(const std::string& s) {
  stringValue_ = s;
  notify(Change::StringValue);
}

void Control::setTextColor(Color c) {
  if (c == textColor_) return;
  textColor_ = c;
  notify(Change::TextColor);
}

}  // namespace ui
