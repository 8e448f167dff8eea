// The base of the widget model: geometry, objects of interface files
// (outlets and actions by name), views and their observers, controls.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cf/cf.h"

namespace ui {

struct Point {
  double x = 0, y = 0;
};
struct Size {
  double width = 0, height = 0;
};
struct Rect {
  Point origin;
  Size size;
  bool operator==(const Rect& o) const {
    return origin.x == o.origin.x && origin.y == o.origin.y && size.width == o.size.width &&
           size.height == o.size.height;
  }
};
// A range of UTF-16 units, as the platform's text selection.
struct Range {
  long location = 0;
  long length = 0;
};
struct Color {
  double r = 0, g = 0, b = 0, a = 1;
  static Color black() { return {0, 0, 0, 1}; }
  static Color disabledText() { return {0.5, 0.5, 0.5, 1}; }
  static Color red() { return {1, 0, 0, 1}; }
  bool operator==(const Color& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

class NibObject;
class View;
class Control;
using NibObjectRef = std::shared_ptr<NibObject>;
using ViewRef = std::shared_ptr<View>;

// ---- objects of interface files: outlets and actions by name -----------
// Subclasses declare their outlets and actions in their constructor:
//   outlet("pdeMainView", &pdeMainView);
//   action("selectItem:", [this](NibObject* s) { selectItem(s); });
class NibObject : public std::enable_shared_from_this<NibObject> {
 public:
  virtual ~NibObject() = default;
  // The class name used in interface files ("View", "PopUpButton", ...).
  virtual std::string className() const { return "NSObject"; }

  // Connects an outlet; false (and the outlet stays unconnected) when the
  // name is unknown or the object has the wrong class.
  bool connectOutlet(const std::string& name, const NibObjectRef& target);
  // Sends an action by selector; false when this object has no such action.
  bool performAction(const std::string& selector, NibObject* sender);
  bool respondsToAction(const std::string& selector) const { return actions_.count(selector) != 0; }
  std::vector<std::string> outletNames() const;
  // Called once after every outlet and action of the file is connected.
  virtual void awakeFromNib() {}

 protected:
  template <class T>
  void outlet(const std::string& name, std::shared_ptr<T>* slot) {
    outlets_[name] = [slot](const NibObjectRef& obj) {
      auto typed = std::dynamic_pointer_cast<T>(obj);
      if (!typed) return false;
      *slot = typed;
      return true;
    };
  }
  void action(const std::string& selector, std::function<void(NibObject*)> fn) {
    actions_[selector] = std::move(fn);
  }

 private:
  std::map<std::string, std::function<bool(const NibObjectRef&)>> outlets_;
  std::map<std::string, std::function<void(NibObject*)>> actions_;
};

// ---- change notification -------------------------------------------------
// What changed on a view; a front end re-reads that aspect.
enum class Change {
  Frame, Hidden, Enabled, Subviews, Title, StringValue, Items, Selection, State,
  TextColor, Editing, Tabs, TableData, Image,
};
using Observer = std::function<void(View* view, Change what)>;

class View : public NibObject {
 public:
  View() = default;
  std::string className() const override { return "View"; }

  Rect frame() const { return frame_; }
  void setFrame(Rect r);
  Rect bounds() const { return bounds_; }
  void setBounds(Rect r);
  bool isHidden() const { return hidden_; }
  void setHidden(bool h);
  // A name for hosts and scripts: controls bound to a PPD keyword or ticket
  // key carry that key here, so the host can find the control for it.
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string id) { identifier_ = std::move(id); }
  // A short tool tip / accessibility text; not used by the panels.
  const std::string& toolTip() const { return toolTip_; }
  void setToolTip(std::string t) { toolTip_ = std::move(t); }
  bool isFlipped() const { return flipped_; }
  void setFlipped(bool f) { flipped_ = f; }

  View* superview() const { return superview_; }
  const std::vector<ViewRef>& subviews() const { return subviews_; }
  void addSubview(const ViewRef& v);
  // Puts `replacement` where `old` was; removes `old`. When `old` is not a
  // subview nothing is removed (and `replacement` stays where it is).
  void replaceSubview(const ViewRef& old, const ViewRef& replacement);
  void removeFromSuperview();
  // Depth-first search of this view and its subviews (a tab view's item
  // views count as its subviews here, selected or not).
  ViewRef findByIdentifier(const std::string& id);
  // Visits every view below this one (not this one), depth first, parents
  // before children; tab item views included.
  void forEachDescendant(const std::function<void(View*)>& fn);

  // Observers see every change of this view (not of its subviews).
  int addObserver(Observer fn);
  void removeObserver(int token);

 protected:
  void notify(Change what);

 private:
  Rect frame_, bounds_;
  bool hidden_ = false;
  bool flipped_ = false;
  std::string identifier_, toolTip_;
  View* superview_ = nullptr;
  std::vector<ViewRef> subviews_;
  std::map<int, Observer> observers_;
  int nextToken_ = 1;
};

// A control sends its action to its target when the user works it.
class Control : public View {
 public:
  std::string className() const override { return "Control"; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e);
  void setTarget(const std::weak_ptr<NibObject>& t) { target_ = t; }
  std::shared_ptr<NibObject> target() const { return target_.lock(); }
  void setAction(std::string selector) { action_ = std::move(selector); }
  const std::string& action() const { return action_; }
  // Sends the action to the target; false when either is missing.
  bool sendAction();

  virtual int intValue() const { return 0; }
  virtual void setIntValue(int) {}
  virtual std::string stringValue() const { return stringValue_; }
  virtual void setStringValue(const std::string& s);
  Color textColor() const { return textColor_; }
  void setTextColor(Color c);

 protected:
  std::string stringValue_;

 private:
  bool enabled_ = true;
  std::weak_ptr<NibObject> target_;
  std::string action_;
  Color textColor_ = Color::black();
};

}  // namespace ui
