#include "ui/nib.h"

#include <sys/stat.h>

#include <cmath>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

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

struct Connection {
  ConnKind kind;
  std::string name;  // outlet name or selector
  std::string source, destination;
  bool setTarget = true;  // an object's "action" without "target" sets only the selector
};

class Loader {
 public:
  Loader(const NibClassRegistry& classes, NibLoadResult& result) : classes_(classes), result_(result) {}

  void load(const cf::Ref& rootRef, const NibObjectRef& owner) {
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

    // 1. Make every object; 2. check every connection; only then 3. connect,
    // so a bad file leaves the owner untouched.
    if (objects) {
      for (size_t i = 0; i < objects->count(); ++i) {
        std::string where = "objects[" + std::to_string(i) + "]";
        result_.topLevelObjects.push_back(build(objects->at(i), where));
      }
    }
    if (connections) {
      for (size_t i = 0; i < connections->count(); ++i)
        parseConnection(connections->at(i), "connections[" + std::to_string(i) + "]");
    }
    for (const auto& c : connections_) {
      resolve(c.source, owner, "source");
      if (c.kind != ConnKind::Action || c.setTarget) resolve(c.destination, owner, "destination");
      if (c.kind == ConnKind::Action) {
        auto src = byId_.find(c.source);
        if (src == byId_.end() || !std::dynamic_pointer_cast<Control>(src->second))
          throw NibError("action \"" + c.name + "\": source \"" + c.source + "\" is not a control");
      }
      if (c.kind == ConnKind::DataSource || c.kind == ConnKind::Delegate) {
        auto src = byId_.find(c.source);
        if (src == byId_.end() || !std::dynamic_pointer_cast<TableView>(src->second))
          throw NibError(std::string(c.kind == ConnKind::DataSource ? "dataSource" : "delegate") + ": \"" +
                         c.source + "\" is not a table view");
      }
    }

    for (const auto& c : connections_) connect(c, owner);
    for (const auto& obj : created_) obj->awakeFromNib();
    result_.objects = byId_;
  }

 private:
  NibObjectRef lookup(const std::string& id, const NibObjectRef& owner) const {
    if (id == "owner") return owner;
    auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
  }

  void resolve(const std::string& id, const NibObjectRef& owner, const char* role) const {
    if (id == "owner") {
      (void)owner;  // a null owner is reported when connecting
      return;
    }
    if (byId_.find(id) == byId_.end())
      throw NibError(std::string("connection ") + role + " \"" + id + "\" names no object");
  }

  static std::string describe(const NibObjectRef& obj, const std::string& id) {
    return obj->className() + " \"" + id + "\"";
  }

  void connect(const Connection& c, const NibObjectRef& owner) {
    NibObjectRef src = lookup(c.source, owner);
    NibObjectRef dst = c.destination.empty() ? nullptr : lookup(c.destination, owner);
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
        auto control = std::dynamic_pointer_cast<Control>(src);
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
        auto table = std::dynamic_pointer_cast<TableView>(src);
        auto ds = std::dynamic_pointer_cast<TableViewDataSource>(dst);
        if (ds)
          table->setDataSource(ds);
        else
          result_.warnings.push_back("dataSource of \"" + c.source + "\" not connected: " +
                                     describe(dst, c.destination) + " is not a table data source");
        break;
      }
      case ConnKind::Delegate: {
        auto table = std::dynamic_pointer_cast<TableView>(src);
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

  ViewRef buildView(const cf::Ref& ref, const std::string& where) {
    auto obj = build(ref, where);
    auto view = std::dynamic_pointer_cast<View>(obj);
    if (!view) throw NibError(where + ": class " + obj->className() + " is not a view");
    return view;
  }

  NibObjectRef build(const cf::Ref& ref, const std::string& where) {
    auto d = cf::As<cf::Dictionary>(ref);
    if (!d) throw NibError(where + ": object is not a dictionary");
    auto cls = str(d, "class", where);
    if (!cls || cls->empty()) throw NibError(where + ": object has no \"class\"");
    NibObjectRef obj = classes_.create(*cls);
    if (!obj) throw NibError(where + ": unknown class \"" + *cls + "\"");
    std::string here = where;
    std::string id;
    if (auto s = str(d, "id", where)) {
      if (s->empty()) throw NibError(where + ": empty \"id\"");
      if (*s == "owner" || byId_.count(*s)) throw NibError(where + ": duplicate id \"" + *s + "\"");
      id = *s;
      byId_[id] = obj;
      here = where + " (\"" + id + "\")";
    }
    created_.push_back(obj);

    if (auto view = std::dynamic_pointer_cast<View>(obj)) {
      if (auto f = frame(d, here)) {
        view->setFrame(*f);
        view->setBounds({{0, 0}, f->size});
      }
      if (auto s = str(d, "identifier", here)) view->setIdentifier(*s);
      if (auto s = str(d, "toolTip", here)) view->setToolTip(*s);
      if (auto b = boolean(d, "hidden", here)) view->setHidden(*b);
      if (auto b = boolean(d, "flipped", here)) view->setFlipped(*b);
    }
    if (auto control = std::dynamic_pointer_cast<Control>(obj)) {
      if (auto b = boolean(d, "enabled", here)) control->setEnabled(*b);
      if (auto s = str(d, "stringValue", here)) control->setStringValue(*s);
      auto target = str(d, "target", here);
      auto action = str(d, "action", here);
      if (target || action) {
        if (id.empty()) {
          // Without an id the connection needs the object itself.
          id = "\x01" + std::to_string(created_.size());
          byId_[id] = obj;
          hiddenIds_.insert(id);
        }
        if (action)
          connections_.push_back({ConnKind::Action, *action, id, target.value_or(""), target.has_value()});
        else
          connections_.push_back({ConnKind::Action, "", id, *target, true});
      }
    }
    if (auto button = std::dynamic_pointer_cast<Button>(obj)) {
      if (auto t = str(d, "buttonType", here)) {
        if (*t == "push")
          button->setButtonType(ButtonType::Push);
        else if (*t == "checkbox")
          button->setButtonType(ButtonType::Switch);
        else if (*t == "radio")
          button->setButtonType(ButtonType::Radio);
        else
          throw NibError(here + ": unknown buttonType \"" + *t + "\"");
      }
      if (auto s = str(d, "title", here)) button->setTitle(*s);
      if (auto v = d->getValue("state")) {
        auto n = cf::As<cf::Number>(v);
        auto b = cf::As<cf::Boolean>(v);
        if (!n && !b) throw NibError(here + ": \"state\" is not a number");
        button->setState(n ? (n->int64Value() != 0) : b->value());
      }
    }
    if (auto popup = std::dynamic_pointer_cast<PopUpButton>(obj)) {
      for (const auto& item : strings(d, "items", here)) popup->addItemWithTitle(item);
      if (auto b = boolean(d, "autoenablesItems", here)) popup->setAutoenablesItems(*b);
    }
    if (auto matrix = std::dynamic_pointer_cast<Matrix>(obj)) {
      for (const auto& cell : strings(d, "cells", here)) matrix->addCell(cell);
    }
    if (auto field = std::dynamic_pointer_cast<TextField>(obj)) {
      if (auto b = boolean(d, "editable", here)) field->setEditable(*b);
      if (auto s = str(d, "placeholder", here)) field->setPlaceholder(*s);
    }
    if (auto box = std::dynamic_pointer_cast<Box>(obj)) {
      if (auto s = str(d, "title", here)) box->setTitle(*s);
    }
    if (auto tabs = std::dynamic_pointer_cast<TabView>(obj)) {
      if (auto a = array(d, "tabs", here)) {
        for (size_t i = 0; i < a->count(); ++i) {
          std::string w = here + ".tabs[" + std::to_string(i) + "]";
          auto t = a->at<cf::Dictionary>(i);
          if (!t) throw NibError(w + ": not a dictionary");
          ViewRef view;
          if (auto v = t->getValue("view")) view = buildView(v, w + ".view");
          tabs->addTabViewItem(
              TabViewItem(str(t, "identifier", w).value_or(""), str(t, "label", w).value_or(""), view));
        }
      }
    }
    if (auto table = std::dynamic_pointer_cast<TableView>(obj)) {
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
          table->addTableColumn(std::move(col));
        }
      }
    }
    if (auto window = std::dynamic_pointer_cast<Window>(obj)) {
      if (auto f = frame(d, here)) window->setFrame(*f);
      if (auto s = str(d, "title", here)) window->setTitle(*s);
      if (auto v = d->getValue("contentView")) window->setContentView(buildView(v, here + ".contentView"));
    }
    // Subviews last, so the tree is built parent first.
    if (auto subs = array(d, "subviews", here)) {
      auto view = std::dynamic_pointer_cast<View>(obj);
      if (!view) throw NibError(here + ": class " + obj->className() + " cannot have subviews");
      for (size_t i = 0; i < subs->count(); ++i)
        view->addSubview(buildView(subs->at(i), here + ".subviews[" + std::to_string(i) + "]"));
    }
    return obj;
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
    if (d->contains("outlet"))
      connections_.push_back({ConnKind::Outlet, need("outlet"), need("source"), need("destination"), true});
    else if (d->contains("action"))
      connections_.push_back({ConnKind::Action, need("action"), need("source"), need("target"), true});
    else if (d->contains("dataSource"))
      connections_.push_back({ConnKind::DataSource, "", need("dataSource"), need("destination"), true});
    else
      connections_.push_back({ConnKind::Delegate, "", need("delegate"), need("destination"), true});
  }

  const NibClassRegistry& classes_;
  NibLoadResult& result_;
  std::map<std::string, NibObjectRef> byId_;
  std::set<std::string> hiddenIds_;
  std::vector<NibObjectRef> created_;
  std::vector<Connection> connections_;

 public:
  // Ids made up for objects without one are not the file's.
  void publishIds() {
    for (const auto& id : hiddenIds_) result_.objects.erase(id);
  }
};

}  // namespace

namespace {

// A panel loads its interface file every time it is created; parsing the
// file cost more than the rest of opening the panel. The parsed tree is
// only read by the loader, so one copy per unchanged file is kept.
cf::Ref ParsedInterfaceFile(const std::string& path, std::string* error) {
  struct Entry {
    dev_t dev;
    ino_t ino;
    off_t size;
    timespec mtime;
    cf::Ref root;
  };
  static std::mutex mutex;
  static std::map<std::string, Entry> cache;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return cf::PropertyListCreateFromFile(path, error);
  auto same = [&](const Entry& e) {
    return e.dev == st.st_dev && e.ino == st.st_ino && e.size == st.st_size && e.mtime.tv_sec == st.st_mtim.tv_sec &&
           e.mtime.tv_nsec == st.st_mtim.tv_nsec;
  };
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(path);
    if (it != cache.end() && same(it->second)) return it->second.root;
  }
  cf::Ref root = cf::PropertyListCreateFromFile(path, error);
  if (root) {
    std::lock_guard<std::mutex> lock(mutex);
    cache[path] = Entry{st.st_dev, st.st_ino, st.st_size, st.st_mtim, root};
  }
  return root;
}

}  // namespace

NibLoadResult LoadNibFile(const std::string& path, const NibObjectRef& owner, const NibClassRegistry& classes) {
  NibLoadResult result;
  std::string error;
  cf::Ref root = ParsedInterfaceFile(path, &error);
  if (!root) {
    result.error = "cannot load interface file " + path + ": " + (error.empty() ? "unreadable" : error);
    return result;
  }
  try {
    Loader loader(classes, result);
    loader.load(root, owner);
    loader.publishIds();
  } catch (const NibError& e) {
    NibLoadResult failed;
    failed.error = "malformed interface file " + path + ": " + e.what();
    return failed;
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
