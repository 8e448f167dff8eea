#include "ui/nib.h"

#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <set>
#include <optional>
#include <stdexcept>
#include <typeinfo>

#include "cf/plist.h"
#include "ui/ui.h"

namespace ui {

NibObjectRef NibClassRegistry::create(const std::string& name) const {
  auto it = classes_.find(name);
  if (it != classes_.end()) return it->second ? it->second() : nullptr;
  if (name == "NSObject") return std::make_shared<NibObject>();
  if (name == "View") return std::make_shared<View>();
  if (name == "Control") return std::make_shared<Control>();
  if (name == "PopUpButton") return std::make_shared<PopUpButton>();
  if (name == "Button") return std::make_shared<Button>();
  if (name == "Matrix") return std::make_shared<Matrix>();
  if (name == "TextField") return std::make_shared<TextField>();
  if (name == "SecureTextField") return std::make_shared<SecureTextField>();
  if (name == "Box") return std::make_shared<Box>();
  if (name == "TabView") return std::make_shared<TabView>();
  if (name == "TableView") return std::make_shared<TableView>();
  if (name == "Window") return std::make_shared<Window>();
  if (name == "Cell") return std::make_shared<Cell>();
  return nullptr;
}

namespace {

// A malformed file; the message is the load's error.
struct NibError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class ConnKind { Outlet, Action, DataSource, Delegate };

constexpr int kOwner = -1;  // the file's owner
constexpr int kNoObject = -2;

struct Connection {
  ConnKind kind;
  std::string name;  // outlet name or selector
  std::string source, destination;
  bool setTarget = true;  // an object's "action" without "target" sets only the selector
  int src = kNoObject, dst = kNoObject;  // indices into the file's objects
};

struct TabPlan {
  std::string identifier, label;
  int view = kNoObject;
};

// One object of a file, its values read and checked; applied to a new
// object of its class on every load.
struct ObjectPlan {
  std::string cls;
  const std::type_info* type = nullptr;  // what the class's factory made
  bool isView = false, isControl = false;
  std::optional<Rect> frame, windowFrame;
  std::optional<std::string> identifier, toolTip, stringValue, buttonTitle, placeholder, boxTitle, windowTitle;
  std::optional<bool> hidden, flipped, enabled, state, autoenables, editable;
  std::optional<ButtonType> buttonType;
  std::vector<std::string> items, cells;
  std::vector<TabPlan> tabs;
  std::vector<TableColumn> columns;
  int contentView = kNoObject;
  std::vector<int> subviews;
};

// A file read and checked once for one class registry: loading it again
// only makes and connects the objects.
struct CompiledFile {
  std::vector<ObjectPlan> objects;  // in the order they are made
  std::vector<int> topLevel;
  std::vector<Connection> connections;
  std::map<std::string, int> ids;  // the file's own ids
};

// Reads a file's tree into a CompiledFile, making each object once to learn
// its kind (those objects serve the first load). Throws NibError.
class Compiler {
 public:
  Compiler(const NibClassRegistry& classes, CompiledFile& out, std::vector<NibObjectRef>& made)
      : classes_(classes), out_(out), made_(made) {}

  void compile(const cf::Ref& rootRef) {
    auto root = cf::As<cf::Dictionary>(rootRef);
    if (!root) throw NibError("the root is not a dictionary");
    cf::ArrayRef objects, connections;
    if (auto v = root->getValue("objects")) {
      objects = cf::As<cf::Array>(v);
      if (!objects) throw NibError("\"objects\" is not an array");
    }
    if (auto v = root->getValue("connections")) {
      connections = cf::As<cf::Array>(v);
      if (!connections) throw NibError("\"connections\" is not an array");
    }

    // 1. Read every object; 2. check every connection; connecting is left
    // to each load, so a bad file leaves the owner untouched.
    if (objects) {
      for (size_t i = 0; i < objects->count(); ++i)
        out_.topLevel.push_back(build(objects->at(i), "objects[" + std::to_string(i) + "]"));
    }
    if (connections) {
      for (size_t i = 0; i < connections->count(); ++i)
        parseConnection(connections->at(i), "connections[" + std::to_string(i) + "]");
    }
    for (auto& c : out_.connections) {
      c.src = resolve(c.source, "source");
      if (c.kind != ConnKind::Action || c.setTarget) c.dst = resolve(c.destination, "destination");
      NibObject* src = c.src >= 0 ? made_[c.src].get() : nullptr;  // the owner is neither
      if (c.kind == ConnKind::Action && !dynamic_cast<Control*>(src))
        throw NibError("action \"" + c.name + "\": source \"" + c.source + "\" is not a control");
      if ((c.kind == ConnKind::DataSource || c.kind == ConnKind::Delegate) && !dynamic_cast<TableView*>(src))
        throw NibError(std::string(c.kind == ConnKind::DataSource ? "dataSource" : "delegate") + ": \"" +
                       c.source + "\" is not a table view");
    }
    for (const auto& id : hiddenIds_) byId_.erase(id);
    out_.ids = std::move(byId_);
  }

 private:
  // The index of a connection's end; sources of actions are always objects.
  int resolve(const std::string& id, const char* role) const {
    if (id == "owner") return kOwner;
    auto it = byId_.find(id);
    if (it == byId_.end()) throw NibError(std::string("connection ") + role + " \"" + id + "\" names no object");
    return it->second;
  }

  // ---- typed reads of optional keys ----
  static std::optional<std::string> str(const cf::DictionaryRef& d, const char* key, const std::string& where) {
    auto v = d->getValue(key);
    if (!v) return std::nullopt;
    auto s = cf::As<cf::String>(v);
    if (!s) throw NibError(where + ": \"" + key + "\" is not a string");
    return s->utf8();
  }
  static std::optional<bool> boolean(const cf::DictionaryRef& d, const char* key, const std::string& where) {
    auto v = d->getValue(key);
    if (!v) return std::nullopt;
    if (auto b = cf::As<cf::Boolean>(v)) return b->value();
    if (auto n = cf::As<cf::Number>(v)) return n->doubleValue() != 0;
    throw NibError(where + ": \"" + key + "\" is not a boolean");
  }
  static cf::ArrayRef array(const cf::DictionaryRef& d, const char* key, const std::string& where) {
    auto v = d->getValue(key);
    if (!v) return nullptr;
    auto a = cf::As<cf::Array>(v);
    if (!a) throw NibError(where + ": \"" + key + "\" is not an array");
    return a;
  }
  static std::vector<std::string> strings(const cf::DictionaryRef& d, const char* key, const std::string& where) {
    std::vector<std::string> out;
    if (auto a = array(d, key, where)) {
      for (size_t i = 0; i < a->count(); ++i) {
        auto s = a->at<cf::String>(i);
        if (!s) throw NibError(where + ": \"" + key + "\"[" + std::to_string(i) + "] is not a string");
        out.push_back(s->utf8());
      }
    }
    return out;
  }
  static std::optional<Rect> frame(const cf::DictionaryRef& d, const std::string& where) {
    auto v = d->getValue("frame");
    if (!v) return std::nullopt;
    auto a = cf::As<cf::Array>(v);
    if (!a || a->count() != 4) throw NibError(where + ": bad frame (want an array x, y, width, height)");
    double n[4];
    for (size_t i = 0; i < 4; ++i) {
      auto num = a->at<cf::Number>(i);
      if (!num || !std::isfinite(num->doubleValue()))
        throw NibError(where + ": bad frame (element " + std::to_string(i) + " is not a number)");
      n[i] = num->doubleValue();
    }
    if (n[2] < 0 || n[3] < 0) throw NibError(where + ": bad frame (negative size)");
    return Rect{{n[0], n[1]}, {n[2], n[3]}};
  }

  int buildView(const cf::Ref& ref, const std::string& where) {
    int index = build(ref, where);
    if (!dynamic_cast<View*>(made_[index].get()))
      throw NibError(where + ": class " + made_[index]->className() + " is not a view");
    return index;
  }

  int build(const cf::Ref& ref, const std::string& where) {
    auto d = cf::As<cf::Dictionary>(ref);
    if (!d) throw NibError(where + ": object is not a dictionary");
    auto cls = str(d, "class", where);
    if (!cls || cls->empty()) throw NibError(where + ": object has no \"class\"");
    NibObjectRef obj = classes_.create(*cls);
    if (!obj) throw NibError(where + ": unknown class \"" + *cls + "\"");
    const int index = static_cast<int>(made_.size());
    made_.push_back(obj);
    out_.objects.emplace_back();
    // Later objects may grow the vector: reach this one by index.
    auto plan = [&]() -> ObjectPlan& { return out_.objects[index]; };
    plan().cls = *cls;
    const NibObject& made = *obj;  // typeid of a call would be evaluated: clang warns
    plan().type = &typeid(made);
    std::string here = where;
    std::string id;
    if (auto s = str(d, "id", where)) {
      if (s->empty()) throw NibError(where + ": empty \"id\"");
      if (*s == "owner" || byId_.count(*s)) throw NibError(where + ": duplicate id \"" + *s + "\"");
      id = *s;
      byId_[id] = index;
      here = where + " (\"" + id + "\")";
    }

    plan().isView = dynamic_cast<View*>(obj.get()) != nullptr;
    plan().isControl = dynamic_cast<Control*>(obj.get()) != nullptr;
    if (plan().isView) {
      plan().frame = frame(d, here);
      plan().identifier = str(d, "identifier", here);
      plan().toolTip = str(d, "toolTip", here);
      plan().hidden = boolean(d, "hidden", here);
      plan().flipped = boolean(d, "flipped", here);
    }
    if (plan().isControl) {
      plan().enabled = boolean(d, "enabled", here);
      plan().stringValue = str(d, "stringValue", here);
      auto target = str(d, "target", here);
      auto action = str(d, "action", here);
      if (target || action) {
        if (id.empty()) {
          // Without an id the connection needs the object itself.
          id = "\x01" + std::to_string(made_.size());
          byId_[id] = index;
          hiddenIds_.insert(id);
        }
        if (action)
          out_.connections.push_back({ConnKind::Action, *action, id, target.value_or(""), target.has_value()});
        else
          out_.connections.push_back({ConnKind::Action, "", id, *target, true});
      }
    }
    if (dynamic_cast<Button*>(obj.get())) {
      if (auto t = str(d, "buttonType", here)) {
        if (*t == "push")
          plan().buttonType = ButtonType::Push;
        else if (*t == "checkbox")
          plan().buttonType = ButtonType::Switch;
        else if (*t == "radio")
          plan().buttonType = ButtonType::Radio;
        else
          throw NibError(here + ": unknown buttonType \"" + *t + "\"");
      }
      plan().buttonTitle = str(d, "title", here);
      if (auto v = d->getValue("state")) {
        auto n = cf::As<cf::Number>(v);
        auto b = cf::As<cf::Boolean>(v);
        if (!n && !b) throw NibError(here + ": \"state\" is not a number");
        plan().state = n ? (n->int64Value() != 0) : b->value();
      }
    }
    if (dynamic_cast<PopUpButton*>(obj.get())) {
      plan().items = strings(d, "items", here);
      plan().autoenables = boolean(d, "autoenablesItems", here);
    }
    if (dynamic_cast<Matrix*>(obj.get())) plan().cells = strings(d, "cells", here);
    if (dynamic_cast<TextField*>(obj.get())) {
      plan().editable = boolean(d, "editable", here);
      plan().placeholder = str(d, "placeholder", here);
    }
    if (dynamic_cast<Box*>(obj.get())) plan().boxTitle = str(d, "title", here);
    if (dynamic_cast<TabView*>(obj.get())) {
      if (auto a = array(d, "tabs", here)) {
        for (size_t i = 0; i < a->count(); ++i) {
          std::string w = here + ".tabs[" + std::to_string(i) + "]";
          auto t = a->at<cf::Dictionary>(i);
          if (!t) throw NibError(w + ": not a dictionary");
          TabPlan tab;
          if (auto v = t->getValue("view")) tab.view = buildView(v, w + ".view");
          tab.identifier = str(t, "identifier", w).value_or("");
          tab.label = str(t, "label", w).value_or("");
          plan().tabs.push_back(std::move(tab));
        }
      }
    }
    if (dynamic_cast<TableView*>(obj.get())) {
      if (auto a = array(d, "columns", here)) {
        for (size_t i = 0; i < a->count(); ++i) {
          std::string w = here + ".columns[" + std::to_string(i) + "]";
          auto c = a->at<cf::Dictionary>(i);
          if (!c) throw NibError(w + ": not a dictionary");
          TableColumn col;
          col.identifier = str(c, "identifier", w).value_or("");
          col.title = str(c, "title", w).value_or("");
          std::string kind = str(c, "kind", w).value_or("text");
          if (kind == "text")
            col.kind = TableColumn::Kind::Text;
          else if (kind == "checkbox")
            col.kind = TableColumn::Kind::CheckBox;
          else if (kind == "image")
            col.kind = TableColumn::Kind::Image;
          else
            throw NibError(w + ": unknown column kind \"" + kind + "\"");
          col.editable = boolean(c, "editable", w).value_or(false);
          plan().columns.push_back(std::move(col));
        }
      }
    }
    if (dynamic_cast<Window*>(obj.get())) {
      plan().windowFrame = frame(d, here);
      plan().windowTitle = str(d, "title", here);
      if (auto v = d->getValue("contentView")) plan().contentView = buildView(v, here + ".contentView");
    }
    // Subviews last, so the tree is built parent first.
    if (auto subs = array(d, "subviews", here)) {
      if (!dynamic_cast<View*>(obj.get()))
        throw NibError(here + ": class " + obj->className() + " cannot have subviews");
      for (size_t i = 0; i < subs->count(); ++i) {
        int sub = buildView(subs->at(i), here + ".subviews[" + std::to_string(i) + "]");
        plan().subviews.push_back(sub);
      }
    }
    return index;
  }

  void parseConnection(const cf::Ref& ref, const std::string& where) {
    auto d = cf::As<cf::Dictionary>(ref);
    if (!d) throw NibError(where + ": connection is not a dictionary");
    auto need = [&](const char* key) {
      auto s = str(d, key, where);
      if (!s || s->empty()) throw NibError(where + ": connection has no \"" + key + "\"");
      return *s;
    };
    int kinds = d->contains("outlet") + d->contains("action") + d->contains("dataSource") + d->contains("delegate");
    if (kinds != 1)
      throw NibError(where + ": a connection has exactly one of \"outlet\", \"action\", \"dataSource\", \"delegate\"");
    auto& all = out_.connections;
    if (d->contains("outlet"))
      all.push_back({ConnKind::Outlet, need("outlet"), need("source"), need("destination"), true});
    else if (d->contains("action"))
      all.push_back({ConnKind::Action, need("action"), need("source"), need("target"), true});
    else if (d->contains("dataSource"))
      all.push_back({ConnKind::DataSource, "", need("dataSource"), need("destination"), true});
    else
      all.push_back({ConnKind::Delegate, "", need("delegate"), need("destination"), true});
  }

  const NibClassRegistry& classes_;
  CompiledFile& out_;
  std::vector<NibObjectRef>& made_;
  std::map<std::string, int> byId_;
  std::set<std::string> hiddenIds_;
};

// Makes, fills and connects the objects of a compiled file.
class Instance {
 public:
  Instance(const CompiledFile& file, NibLoadResult& result) : file_(file), result_(result) {}

  // Makes the objects with the registry; false when a class now makes an
  // object of another type than when the file was compiled.
  bool make(const NibClassRegistry& classes) {
    objects_.reserve(file_.objects.size());
    for (const auto& plan : file_.objects) {
      NibObjectRef obj = classes.create(plan.cls);
      if (!obj) return false;
      const NibObject& made = *obj;
      if (typeid(made) != *plan.type) return false;
      objects_.push_back(std::move(obj));
    }
    return true;
  }
  void adopt(std::vector<NibObjectRef> made) { objects_ = std::move(made); }

  void load(const NibObjectRef& owner) {
    result_.topLevelObjects.reserve(file_.topLevel.size());
    for (int index : file_.topLevel) result_.topLevelObjects.push_back(fill(index));
    for (const auto& c : file_.connections) connect(c, owner);
    for (const auto& obj : objects_) obj->awakeFromNib();
    for (const auto& [id, index] : file_.ids) result_.objects.emplace_hint(result_.objects.end(), id, objects_[index]);
  }

 private:
  // Sets an object's values in the order a first reading of the file
  // would, children included.
  const NibObjectRef& fill(int index) {
    const ObjectPlan& plan = file_.objects[index];
    const NibObjectRef& obj = objects_[index];
    if (plan.isView) {
      auto* view = static_cast<View*>(obj.get());
      if (plan.frame) {
        view->setFrame(*plan.frame);
        view->setBounds({{0, 0}, plan.frame->size});
      }
      if (plan.identifier) view->setIdentifier(*plan.identifier);
      if (plan.toolTip) view->setToolTip(*plan.toolTip);
      if (plan.hidden) view->setHidden(*plan.hidden);
      if (plan.flipped) view->setFlipped(*plan.flipped);
    }
    if (plan.isControl) {
      auto* control = static_cast<Control*>(obj.get());
      if (plan.enabled) control->setEnabled(*plan.enabled);
      if (plan.stringValue) control->setStringValue(*plan.stringValue);
    }
    if (plan.buttonType || plan.buttonTitle || plan.state) {
      auto* button = static_cast<Button*>(obj.get());
      if (plan.buttonType) button->setButtonType(*plan.buttonType);
      if (plan.buttonTitle) button->setTitle(*plan.buttonTitle);
      if (plan.state) button->setState(*plan.state);
    }
    if (!plan.items.empty() || plan.autoenables) {
      auto* popup = static_cast<PopUpButton*>(obj.get());
      for (const auto& item : plan.items) popup->addItemWithTitle(item);
      if (plan.autoenables) popup->setAutoenablesItems(*plan.autoenables);
    }
    for (const auto& cell : plan.cells) static_cast<Matrix*>(obj.get())->addCell(cell);
    if (plan.editable || plan.placeholder) {
      auto* field = static_cast<TextField*>(obj.get());
      if (plan.editable) field->setEditable(*plan.editable);
      if (plan.placeholder) field->setPlaceholder(*plan.placeholder);
    }
    if (plan.boxTitle) static_cast<Box*>(obj.get())->setTitle(*plan.boxTitle);
    for (const auto& tab : plan.tabs) {
      ViewRef view = tab.view == kNoObject ? nullptr : std::static_pointer_cast<View>(fill(tab.view));
      static_cast<TabView*>(obj.get())->addTabViewItem(TabViewItem(tab.identifier, tab.label, view));
    }
    for (const auto& col : plan.columns) static_cast<TableView*>(obj.get())->addTableColumn(col);
    if (plan.windowFrame || plan.windowTitle || plan.contentView != kNoObject) {
      auto* window = static_cast<Window*>(obj.get());
      if (plan.windowFrame) window->setFrame(*plan.windowFrame);
      if (plan.windowTitle) window->setTitle(*plan.windowTitle);
      if (plan.contentView != kNoObject) window->setContentView(std::static_pointer_cast<View>(fill(plan.contentView)));
    }
    for (int sub : plan.subviews) static_cast<View*>(obj.get())->addSubview(std::static_pointer_cast<View>(fill(sub)));
    return obj;
  }

  static std::string describe(const NibObjectRef& obj, const std::string& id) {
    return obj->className() + " \"" + id + "\"";
  }

  void connect(const Connection& c, const NibObjectRef& owner) {
    auto at = [&](int index) -> NibObjectRef {
      if (index == kOwner) return owner;
      return index == kNoObject ? nullptr : objects_[index];
    };
    NibObjectRef src = at(c.src);
    NibObjectRef dst = at(c.dst);
    if (!src || (!dst && (c.kind != ConnKind::Action || c.setTarget))) {
      result_.warnings.push_back("connection from \"" + c.source + "\" to \"" + c.destination +
                                 "\" not made: no owner");
      return;
    }
    switch (c.kind) {
      case ConnKind::Outlet:
        if (!src->connectOutlet(c.name, dst)) {
          bool known = false;
          for (const auto& n : src->outletNames()) known = known || n == c.name;
          result_.warnings.push_back("outlet \"" + c.name + "\" of " + describe(src, c.source) +
                                     (known ? " not connected: " + describe(dst, c.destination) +
                                                  " has the wrong class"
                                            : " not connected: no such outlet"));
        }
        break;
      case ConnKind::Action: {
        auto* control = static_cast<Control*>(src.get());
        if (!c.name.empty()) control->setAction(c.name);
        if (c.setTarget) {
          control->setTarget(dst);
          if (!c.name.empty() && !dst->respondsToAction(c.name))
            result_.warnings.push_back("action \"" + c.name + "\" of " + describe(src, c.source) + ": target " +
                                       describe(dst, c.destination) + " does not respond to it");
        }
        break;
      }
      case ConnKind::DataSource: {
        auto* table = static_cast<TableView*>(src.get());
        auto ds = std::dynamic_pointer_cast<TableViewDataSource>(dst);
        if (ds)
          table->setDataSource(ds);
        else
          result_.warnings.push_back("dataSource of \"" + c.source + "\" not connected: " +
                                     describe(dst, c.destination) + " is not a table data source");
        break;
      }
      case ConnKind::Delegate: {
        auto* table = static_cast<TableView*>(src.get());
        auto d = std::dynamic_pointer_cast<TableViewDelegate>(dst);
        if (d)
          table->setDelegate(d);
        else
          result_.warnings.push_back("delegate of \"" + c.source + "\" not connected: " +
                                     describe(dst, c.destination) + " is not a table delegate");
        break;
      }
    }
  }

  const CompiledFile& file_;
  NibLoadResult& result_;
  std::vector<NibObjectRef> objects_;
};

}  // namespace

namespace {

// A panel loads its interface file every time it is created; parsing the
// file cost more than the rest of opening the panel, and reading the parsed
// tree into objects most of what was left. One parsed tree per unchanged
// file is kept, and beside it the file as read for each class registry.
struct InterfaceFile {
  dev_t dev;
  ino_t ino;
  off_t size;
  timespec mtime;
  cf::Ref root;
  std::mutex mutex;
  std::map<uint64_t, std::shared_ptr<const CompiledFile>> compiled;  // by registry serial
};

std::shared_ptr<InterfaceFile> ReadInterfaceFile(const std::string& path, std::string* error) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<InterfaceFile>> cache;
  struct stat st {};
  bool cacheable = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  auto same = [&](const InterfaceFile& e) {
    return e.dev == st.st_dev && e.ino == st.st_ino && e.size == st.st_size && e.mtime.tv_sec == st.st_mtim.tv_sec &&
           e.mtime.tv_nsec == st.st_mtim.tv_nsec;
  };
  if (cacheable) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(path);
    if (it != cache.end() && same(*it->second)) return it->second;
  }
  cf::Ref root = cf::PropertyListCreateFromFile(path, error);
  if (!root) return nullptr;
  auto file = std::make_shared<InterfaceFile>();
  file->root = std::move(root);
  if (cacheable) {
    file->dev = st.st_dev;
    file->ino = st.st_ino;
    file->size = st.st_size;
    file->mtime = st.st_mtim;
    std::lock_guard<std::mutex> lock(mutex);
    cache[path] = file;
  }
  return file;
}

std::atomic<uint64_t> nextRegistrySerial{1};

}  // namespace

uint64_t NibClassRegistry::NextSerial() { return nextRegistrySerial.fetch_add(1); }

NibLoadResult LoadNibFile(const std::string& path, const NibObjectRef& owner, const NibClassRegistry& classes) {
  NibLoadResult result;
  std::string error;
  auto file = ReadInterfaceFile(path, &error);
  if (!file) {
    result.error = "cannot load interface file " + path + ": " + (error.empty() ? "unreadable" : error);
    return result;
  }
  std::shared_ptr<const CompiledFile> compiled;
  {
    std::lock_guard<std::mutex> lock(file->mutex);
    auto it = file->compiled.find(classes.serial());
    if (it != file->compiled.end()) compiled = it->second;
  }
  if (compiled) {
    Instance instance(*compiled, result);
    if (instance.make(classes)) {
      instance.load(owner);
      result.ok = true;
      return result;
    }
  }
  auto fresh = std::make_shared<CompiledFile>();
  std::vector<NibObjectRef> made;
  try {
    Compiler(classes, *fresh, made).compile(file->root);
  } catch (const NibError& e) {
    NibLoadResult failed;
    failed.error = "malformed interface file " + path + ": " + e.what();
    return failed;
  }
  Instance instance(*fresh, result);
  instance.adopt(std::move(made));
  instance.load(owner);
  {
    std::lock_guard<std::mutex> lock(file->mutex);
    file->compiled[classes.serial()] = fresh;
  }
  result.ok = true;
  return result;
}

NibLoadResult LoadNibNamed(const bndl::Bundle& bundle, const std::string& name, const NibObjectRef& owner,
                           const NibClassRegistry& classes) {
  auto path = bundle.pathForResource(name, "ui.plist");
  if (!path) {
    NibLoadResult result;
    result.error = "no interface file \"" + name + ".ui.plist\" in bundle " + bundle.bundlePath();
    return result;
  }
  return LoadNibFile(*path, owner, classes);
}

}  // namespace ui
