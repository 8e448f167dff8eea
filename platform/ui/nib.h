// Interface files: declarative resources of a bundle that describe views,
// controller objects and their connections, loaded at run time with an
// owner. Outlets and actions are connected by name; an outlet the owner or
// object does not have, or whose object has the wrong class, stays
// unconnected and the load goes on.
//
// Format: an XML property list, "<Name>.ui.plist" in the bundle's Resources
// (a language folder's copy wins). Root dictionary:
//   "objects"      array of object dictionaries (the top-level objects)
//   "connections"  array of connection dictionaries
// Object dictionary (every key but "class" is optional):
//   "class"        built-in class (NSObject View Control PopUpButton Button
//                  Matrix TextField SecureTextField Box TabView TableView
//                  Window Cell) or one the loader's registry knows
//   "id"           name for connections ("owner" is the file's owner)
//   "frame"        array x, y, width, height
//   "identifier" "toolTip"   strings; "hidden" "flipped"   booleans
//   "subviews"     array of object dictionaries (views)
//   controls:      "enabled" boolean; "target" id; "action" selector;
//                  "stringValue" string
//   Button:        "buttonType" push | checkbox | radio; "title"; "state" 0/1
//   PopUpButton:   "items" array of strings; "autoenablesItems" boolean
//   Matrix:        "cells" array of strings
//   TextField:     "editable" boolean; "placeholder"
//   Box:           "title"
//   TabView:       "tabs" array of {"identifier", "label", "view" object}
//   TableView:     "columns" array of {"identifier", "title",
//                  "kind" text | checkbox | image, "editable" boolean}
//   Window:        "title"; "contentView" object
// Connection dictionary:
//   {"outlet": name, "source": id, "destination": id}
//   {"action": selector, "source": control id, "target": id}
//   {"dataSource": table id, "destination": id}   (TableViewDataSource)
//   {"delegate": table id, "destination": id}     (TableViewDelegate)
// After every connection is made, each object of the file (not the owner)
// gets awakeFromNib. An action whose target lacks the selector is still set
// (with a warning); sending it then does nothing. A "dataSource"/"delegate"
// destination of the wrong kind is a warning too. Unknown ids, unknown
// classes and values of the wrong type fail the whole load.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "ui/view.h"

namespace ui {

using ClassFactory = std::function<NibObjectRef()>;

// Classes an interface file may name beyond the built-in ones; each plug-in
// registers its own (so two builds never share a registry).
class NibClassRegistry {
 public:
  void registerClass(const std::string& name, ClassFactory factory) {
    classes_[name] = std::move(factory);
    serial_ = NextSerial();
  }
  template <class T>
  void registerClass(const std::string& name) {
    registerClass(name, [] { return std::make_shared<T>(); });
  }
  // Registered classes first, then the built-in ones; null if unknown.
  NibObjectRef create(const std::string& name) const;
  // Changes with every registration (a copy keeps it): a file read for one
  // serial is read the same way for it again.
  uint64_t serial() const { return serial_; }

 private:
  static uint64_t NextSerial();
  std::map<std::string, ClassFactory> classes_;
  uint64_t serial_ = NextSerial();
};

struct NibLoadResult {
  bool ok = false;
  std::string error;                           // why the load failed
  std::vector<NibObjectRef> topLevelObjects;   // kept alive by the caller
  std::map<std::string, NibObjectRef> objects; // by id
  std::vector<std::string> warnings;           // unconnected outlets and actions
};

// Loads a file. Malformed files fail with a reason and connect nothing.
NibLoadResult LoadNibFile(const std::string& path, const NibObjectRef& owner, const NibClassRegistry& classes);
// Loads "<name>.ui.plist" from the bundle's resources.
NibLoadResult LoadNibNamed(const bndl::Bundle& bundle, const std::string& name, const NibObjectRef& owner,
                           const NibClassRegistry& classes);

}  // namespace ui
