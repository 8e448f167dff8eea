// A headless widget model. Panels build and drive these objects exactly as
// they would drive the platform's views; whoever hosts them (the Qt front
// end, the command-line host, a test) mirrors them through observers and
// answers modal windows, alerts and open panels through a ModalHandler.
//
// Everything runs on one thread, the one that drives the panels.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
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

class MenuItem {
 public:
  explicit MenuItem(std::string title) : title_(std::move(title)) {}
  const std::string& title() const { return title_; }
  void setTitle(std::string t) { title_ = std::move(t); }
  cf::Ref representedObject() const { return represented_; }
  void setRepresentedObject(cf::Ref o) { represented_ = std::move(o); }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e) { enabled_ = e; }
  int tag() const { return tag_; }
  void setTag(int t) { tag_ = t; }

 private:
  std::string title_;
  cf::Ref represented_;
  bool enabled_ = true;
  int tag_ = 0;
};

// Pop-up button. The selection never points past the items: selecting an
// index at or beyond the item count (or below -1) changes nothing.
class PopUpButton : public Control {
 public:
  std::string className() const override { return "PopUpButton"; }
  int numberOfItems() const { return static_cast<int>(items_.size()); }
  MenuItem* itemAtIndex(int i);
  std::string itemTitleAtIndex(int i) const;
  void addItemWithTitle(const std::string& title);
  void insertItemWithTitle(const std::string& title, int index);
  void removeItemAtIndex(int i);
  void removeAllItems();
  void selectItemAtIndex(int i);
  int indexOfSelectedItem() const { return selected_; }
  MenuItem* selectedItem();
  std::string titleOfSelectedItem() const;
  int indexOfItemWithRepresentedObject(const cf::Ref& obj) const;
  int indexOfItemWithTitle(const std::string& title) const;
  // With auto-enabling on (the default) every item is enabled whatever its
  // own flag says; panels that enable items one by one turn it off.
  bool autoenablesItems() const { return autoenables_; }
  void setAutoenablesItems(bool on);
  void setItemEnabled(int i, bool enabled);
  bool isItemEnabled(int i) const;

  int intValue() const override { return selected_; }
  void setIntValue(int v) override { selectItemAtIndex(v); }
  std::string stringValue() const override { return titleOfSelectedItem(); }

  // What a user does: choose an item (only an enabled one), then the action.
  bool userSelectItem(int i);

 private:
  std::vector<MenuItem> items_;
  int selected_ = -1;
  bool autoenables_ = true;
};

enum class ButtonType { Push, Switch /* checkbox */, Radio };

class Button : public Control {
 public:
  std::string className() const override { return "Button"; }
  ButtonType buttonType() const { return type_; }
  void setButtonType(ButtonType t) { type_ = t; }
  const std::string& title() const { return title_; }
  void setTitle(const std::string& t);
  // Checkbox state: 0 off, 1 on.
  int state() const { return state_; }
  void setState(int s);
  int intValue() const override { return state_; }
  void setIntValue(int v) override { setState(v ? 1 : 0); }
  std::string stringValue() const override { return title_; }
  // What a user does: a checkbox flips, then the action is sent.
  bool userClick();

 private:
  ButtonType type_ = ButtonType::Push;
  std::string title_;
  int state_ = 0;
};

// A radio matrix: one column of cells, one selected.
class Matrix : public Control {
 public:
  std::string className() const override { return "Matrix"; }
  int numberOfRows() const { return static_cast<int>(cells_.size()); }
  void addCell(const std::string& title);
  std::string cellTitle(int row) const;
  void setCellTitle(int row, const std::string& title);
  bool isCellEnabled(int row) const;
  void setCellEnabled(int row, bool e);
  // Out-of-range rows change nothing.
  void selectCellAtRow(int row);
  int selectedRow() const { return selected_; }
  int intValue() const override { return selected_; }
  void setIntValue(int v) override { selectCellAtRow(v); }
  bool userSelectCell(int row);

 private:
  struct Cell {
    std::string title;
    bool enabled = true;
  };
  std::vector<Cell> cells_;
  int selected_ = 0;
};

class TextField;

// The shared editor of the text field being edited: its text and selection.
class FieldEditor {
 public:
  explicit FieldEditor(TextField* field) : field_(field) {}
  std::string string() const;
  Range selectedRange() const { return selection_; }
  // Clamped to the text.
  void setSelectedRange(Range r);
  TextField* field() const { return field_; }

 private:
  friend class TextField;
  TextField* field_;
  Range selection_;
};

// Label or editable text field. Editing goes through the field editor:
// begin (textShouldBeginEditing), every change (textDidChange), end
// (textShouldEndEditing). Subclasses override those to filter input.
class TextField : public Control {
 public:
  std::string className() const override { return "TextField"; }
  bool isEditable() const { return editable_; }
  void setEditable(bool e) { editable_ = e; }
  bool isSecure() const { return secure_; }
  void setStringValue(const std::string& s) override;
  // Length of the text in UTF-16 units.
  long length() const;
  const std::string& placeholder() const { return placeholder_; }
  void setPlaceholder(std::string p) { placeholder_ = std::move(p); }

  // The field editor while editing, else null.
  FieldEditor* currentEditor() { return editing_ ? editor_.get() : nullptr; }
  // Ends editing without asking textShouldEndEditing.
  void abortEditing();

  virtual bool textShouldBeginEditing(FieldEditor* editor);
  virtual void textDidChange(FieldEditor* editor);
  virtual bool textShouldEndEditing(FieldEditor* editor);

  // What a user does. Begin editing (caret at the end); replace the
  // selection with typed or pasted text; move the caret/selection; end
  // editing (the field keeps what textShouldEndEditing left). Typing begins
  // editing when needed. Each answers false when the field is disabled or
  // not editable.
  bool userBeginEditing();
  bool userType(const std::string& text);
  bool userSelect(Range r);
  bool userDeleteBackward();
  bool userEndEditing();

 protected:
  bool secure_ = false;

 private:
  friend class FieldEditor;
  void replaceSelection(const std::u16string& units);
  bool editable_ = true;
  std::string placeholder_;
  // The editor outlives each editing session, so a subclass that keeps the
  // pointer from textShouldBeginEditing never holds a dangling one.
  std::unique_ptr<FieldEditor> editor_;
  bool editing_ = false;
};

class SecureTextField : public TextField {
 public:
  SecureTextField() { secure_ = true; }
  std::string className() const override { return "SecureTextField"; }
};

class Box : public View {
 public:
  std::string className() const override { return "Box"; }
  const std::string& title() const { return title_; }
  void setTitle(const std::string& t);

 private:
  std::string title_;
};

class ImageView;
// An image known by its file; hosts load the pixels.
class Image {
 public:
  explicit Image(std::string path) : path_(std::move(path)) {}
  // Null when no file is at the path.
  static std::shared_ptr<Image> imageWithContentsOfFile(const std::string& path);
  const std::string& path() const { return path_; }
  Size size() const { return size_; }
  void setSize(Size s) { size_ = s; }

 private:
  std::string path_;
  Size size_{16, 16};
};
using ImageRef = std::shared_ptr<Image>;

class TabViewItem {
 public:
  TabViewItem(std::string identifier, std::string label, ViewRef view)
      : identifier_(std::move(identifier)), label_(std::move(label)), view_(std::move(view)) {}
  const std::string& identifier() const { return identifier_; }
  const std::string& label() const { return label_; }
  void setLabel(const std::string& l) { label_ = l; }
  ViewRef view() const { return view_; }

 private:
  std::string identifier_, label_;
  ViewRef view_;
};

class TabView : public Control {
 public:
  std::string className() const override { return "TabView"; }
  int numberOfTabViewItems() const { return static_cast<int>(items_.size()); }
  TabViewItem* tabViewItemAtIndex(int i);
  void addTabViewItem(TabViewItem item);
  void setTabLabel(int i, const std::string& label);
  // Out-of-range indices change nothing.
  void selectTabViewItemAtIndex(int i);
  int indexOfSelectedTabViewItem() const { return selected_; }
  bool userSelectTab(int i);

 private:
  std::vector<TabViewItem> items_;
  int selected_ = -1;
};

// A cell that draws an image only (no text); the "icon" column uses one.
class Cell : public NibObject {
 public:
  std::string className() const override { return "Cell"; }
  ImageRef image() const { return image_; }
  void setImage(ImageRef i) { image_ = std::move(i); }
  // Where a host draws the image inside a cell frame, or nullopt for no
  // drawing. Default: nothing.
  virtual std::optional<Rect> imageRectForFrame(Rect frame, bool flipped) const;

 private:
  ImageRef image_;
};
using CellRef = std::shared_ptr<Cell>;

class TableView;
struct TableColumn {
  std::string identifier;
  std::string title;
  enum class Kind { Text, CheckBox, Image } kind = Kind::Text;
  CellRef dataCell;  // optional custom cell
  double fontSize = 0;  // 0: default
  bool editable = false;
};

class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual int numberOfRowsInTableView(TableView* table) = 0;
  virtual cf::Ref tableViewObjectValue(TableView* table, const TableColumn& column, int row) = 0;
  virtual void tableViewSetObjectValue(TableView*, const cf::Ref&, const TableColumn&, int) {}
};
class TableViewDelegate {
 public:
  virtual ~TableViewDelegate() = default;
  virtual bool tableViewShouldSelectRow(TableView*, int) { return true; }
  virtual void tableViewSelectionDidChange(TableView*) {}
  virtual bool selectionShouldChangeInTableView(TableView*) { return true; }
};

class TableView : public Control {
 public:
  std::string className() const override { return "TableView"; }
  void addTableColumn(TableColumn c);
  std::vector<TableColumn>& tableColumns() { return columns_; }
  TableColumn* tableColumnWithIdentifier(const std::string& id);
  void setDataSource(std::weak_ptr<TableViewDataSource> ds) { dataSource_ = std::move(ds); }
  void setDelegate(std::weak_ptr<TableViewDelegate> d) { delegate_ = std::move(d); }
  std::shared_ptr<TableViewDataSource> dataSource() const { return dataSource_.lock(); }
  std::shared_ptr<TableViewDelegate> delegate() const { return delegate_.lock(); }
  int numberOfRows() const;
  cf::Ref objectValue(int column, int row) const;
  void reloadData();
  int selectedRow() const { return selected_; }
  // Programmatic: no delegate questions; -1 clears. Out of range: nothing.
  void selectRow(int row);
  void deselectAll();
  // What a user does: asks selectionShouldChange and shouldSelectRow, then
  // selects and reports selectionDidChange. -1 clicks empty space.
  bool userSelectRow(int row);
  // A user toggles an editable check-box cell: sends setObjectValue.
  bool userSetObjectValue(int column, int row, const cf::Ref& value);

 private:
  std::vector<TableColumn> columns_;
  std::weak_ptr<TableViewDataSource> dataSource_;
  std::weak_ptr<TableViewDelegate> delegate_;
  int selected_ = -1;
};

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
