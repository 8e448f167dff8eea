#include "ui/ui.h"

#include <sys/stat.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>

namespace ui {

namespace {

std::u16string ToUTF16(const std::string& s) {
  if (s.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t needed = 0;
  u_strFromUTF8WithSub(nullptr, 0, &needed, s.data(), static_cast<int32_t>(s.size()), 0xFFFD, nullptr,
                       &status);
  std::u16string out(static_cast<size_t>(needed), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), needed, nullptr, s.data(), static_cast<int32_t>(s.size()), 0xFFFD,
                       nullptr, &status);
  if (U_FAILURE(status)) return {};
  return out;
}

std::string ToUTF8(const std::u16string& s) {
  if (s.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t needed = 0;
  u_strToUTF8WithSub(nullptr, 0, &needed, s.data(), static_cast<int32_t>(s.size()), 0xFFFD, nullptr,
                     &status);
  std::string out(static_cast<size_t>(needed), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), needed, nullptr, s.data(), static_cast<int32_t>(s.size()), 0xFFFD,
                     nullptr, &status);
  if (U_FAILURE(status)) return {};
  return out;
}

long UTF16Length(const std::string& s) { return static_cast<long>(ToUTF16(s).size()); }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

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

// ---- PopUpButton -----------------------------------------------------------

MenuItem* PopUpButton::itemAtIndex(int i) {
  if (i < 0 || i >= numberOfItems()) return nullptr;
  return &items_[static_cast<size_t>(i)];
}

std::string PopUpButton::itemTitleAtIndex(int i) const {
  if (i < 0 || i >= numberOfItems()) return {};
  return items_[static_cast<size_t>(i)].title();
}

// Unlike the platform, an item with an existing title is not removed first:
// the panels rely on item index == position of the PPD choice or profile.
void PopUpButton::addItemWithTitle(const std::string& title) { insertItemWithTitle(title, numberOfItems()); }

void PopUpButton::insertItemWithTitle(const std::string& title, int index) {
  if (index < 0 || index > numberOfItems()) return;
  items_.insert(items_.begin() + index, MenuItem(title));
  bool selectionMoved = false;
  if (selected_ < 0) {
    selected_ = 0;  // a pop-up with items always shows one
    selectionMoved = true;
  } else if (selected_ >= index) {
    ++selected_;  // keep the same item selected
  }
  notify(Change::Items);
  if (selectionMoved) notify(Change::Selection);
}

void PopUpButton::removeItemAtIndex(int i) {
  if (i < 0 || i >= numberOfItems()) return;
  items_.erase(items_.begin() + i);
  bool selectionMoved = false;
  if (selected_ == i) {
    selected_ = items_.empty() ? -1 : 0;
    selectionMoved = true;
  } else if (selected_ > i) {
    --selected_;
  }
  notify(Change::Items);
  if (selectionMoved) notify(Change::Selection);
}

void PopUpButton::removeAllItems() {
  if (items_.empty()) return;
  items_.clear();
  selected_ = -1;
  notify(Change::Items);
  notify(Change::Selection);
}

void PopUpButton::selectItemAtIndex(int i) {
  if (i < -1 || i >= numberOfItems()) return;
  if (i == selected_) return;
  selected_ = i;
  notify(Change::Selection);
}

MenuItem* PopUpButton::selectedItem() { return itemAtIndex(selected_); }

std::string PopUpButton::titleOfSelectedItem() const { return itemTitleAtIndex(selected_); }

int PopUpButton::indexOfItemWithRepresentedObject(const cf::Ref& obj) const {
  if (!obj) return -1;
  for (size_t i = 0; i < items_.size(); ++i)
    if (cf::Equal(items_[i].representedObject(), obj)) return static_cast<int>(i);
  return -1;
}

int PopUpButton::indexOfItemWithTitle(const std::string& title) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].title() == title) return static_cast<int>(i);
  return -1;
}

void PopUpButton::setAutoenablesItems(bool on) {
  if (on == autoenables_) return;
  autoenables_ = on;
  notify(Change::Items);
}

void PopUpButton::setItemEnabled(int i, bool enabled) {
  MenuItem* item = itemAtIndex(i);
  if (!item || item->isEnabled() == enabled) return;
  item->setEnabled(enabled);
  notify(Change::Items);
}

bool PopUpButton::isItemEnabled(int i) const {
  if (i < 0 || i >= numberOfItems()) return false;
  return autoenables_ || items_[static_cast<size_t>(i)].isEnabled();
}

bool PopUpButton::userSelectItem(int i) {
  if (!isEnabled() || !isItemEnabled(i)) return false;
  selectItemAtIndex(i);
  sendAction();
  return true;
}

// ---- Button ----------------------------------------------------------------

void Button::setTitle(const std::string& t) {
  if (t == title_) return;
  title_ = t;
  notify(Change::Title);
}

void Button::setState(int s) {
  int v = s ? 1 : 0;
  if (v == state_) return;
  state_ = v;
  notify(Change::State);
}

bool Button::userClick() {
  if (!isEnabled()) return false;
  if (type_ == ButtonType::Switch)
    setState(state_ ? 0 : 1);
  else if (type_ == ButtonType::Radio)
    setState(1);
  sendAction();
  return true;
}

// ---- Matrix ----------------------------------------------------------------

void Matrix::addCell(const std::string& title) {
  cells_.push_back({title, true});
  notify(Change::Items);
}

std::string Matrix::cellTitle(int row) const {
  if (row < 0 || row >= numberOfRows()) return {};
  return cells_[static_cast<size_t>(row)].title;
}

void Matrix::setCellTitle(int row, const std::string& title) {
  if (row < 0 || row >= numberOfRows()) return;
  cells_[static_cast<size_t>(row)].title = title;
  notify(Change::Items);
}

bool Matrix::isCellEnabled(int row) const {
  if (row < 0 || row >= numberOfRows()) return false;
  return cells_[static_cast<size_t>(row)].enabled;
}

void Matrix::setCellEnabled(int row, bool e) {
  if (row < 0 || row >= numberOfRows()) return;
  if (cells_[static_cast<size_t>(row)].enabled == e) return;
  cells_[static_cast<size_t>(row)].enabled = e;
  notify(Change::Items);
}

void Matrix::selectCellAtRow(int row) {
  if (row < 0 || row >= numberOfRows() || row == selected_) return;
  selected_ = row;
  notify(Change::Selection);
}

bool Matrix::userSelectCell(int row) {
  if (!isEnabled() || !isCellEnabled(row)) return false;
  selectCellAtRow(row);
  sendAction();
  return true;
}

// ---- FieldEditor / TextField ----------------------------------------------

std::string FieldEditor::string() const { return field_ ? field_->stringValue() : std::string(); }

void FieldEditor::setSelectedRange(Range r) {
  long len = field_ ? field_->length() : 0;
  Range c;
  c.location = std::clamp(r.location, 0L, len);
  c.length = std::clamp(r.length, 0L, len - c.location);
  if (c.location == selection_.location && c.length == selection_.length) return;
  selection_ = c;
  if (field_ && field_->editing_) field_->notify(Change::Selection);
}

void TextField::setStringValue(const std::string& s) {
  stringValue_ = s;
  // Keep a running editor consistent with the new text.
  if (editing_ && editor_) editor_->setSelectedRange(editor_->selection_);
  notify(Change::StringValue);
}

long TextField::length() const { return UTF16Length(stringValue_); }

void TextField::abortEditing() {
  if (!editing_) return;
  editing_ = false;
  notify(Change::Editing);
}

bool TextField::textShouldBeginEditing(FieldEditor*) { return true; }
void TextField::textDidChange(FieldEditor*) {}
bool TextField::textShouldEndEditing(FieldEditor*) { return true; }

bool TextField::userBeginEditing() {
  if (!isEnabled() || !editable_) return false;
  if (editing_) return true;
  if (!editor_) editor_ = std::make_unique<FieldEditor>(this);
  editor_->selection_ = {length(), 0};
  if (!textShouldBeginEditing(editor_.get())) return false;
  editing_ = true;
  editor_->setSelectedRange(editor_->selection_);  // the text may have changed
  notify(Change::Editing);
  return true;
}

void TextField::replaceSelection(const std::u16string& units) {
  std::u16string text = ToUTF16(stringValue_);
  long len = static_cast<long>(text.size());
  Range sel = editor_->selection_;
  sel.location = std::clamp(sel.location, 0L, len);
  sel.length = std::clamp(sel.length, 0L, len - sel.location);
  if (units.empty() && sel.length == 0) return;
  text.replace(static_cast<size_t>(sel.location), static_cast<size_t>(sel.length), units);
  stringValue_ = ToUTF8(text);
  editor_->selection_ = {sel.location + static_cast<long>(units.size()), 0};
  notify(Change::StringValue);
  notify(Change::Selection);
  // The subclass may rewrite the text and move the caret here.
  textDidChange(editor_.get());
}

bool TextField::userType(const std::string& text) {
  if (!isEnabled() || !editable_) return false;
  if (!editing_ && !userBeginEditing()) return false;
  replaceSelection(ToUTF16(text));
  return true;
}

bool TextField::userSelect(Range r) {
  if (!isEnabled() || !editable_) return false;
  if (!editing_ && !userBeginEditing()) return false;
  editor_->setSelectedRange(r);
  return true;
}

bool TextField::userDeleteBackward() {
  if (!isEnabled() || !editable_) return false;
  if (!editing_ && !userBeginEditing()) return false;
  Range sel = editor_->selection_;
  if (sel.length == 0) {
    if (sel.location <= 0) return true;
    // One character back: both units of a surrogate pair.
    std::u16string text = ToUTF16(stringValue_);
    long from = std::min(sel.location, static_cast<long>(text.size())) - 1;
    if (from > 0 && IsLowSurrogate(text[static_cast<size_t>(from)]) &&
        IsHighSurrogate(text[static_cast<size_t>(from - 1)]))
      --from;
    editor_->selection_ = {from, std::min(sel.location, static_cast<long>(text.size())) - from};
  }
  replaceSelection(std::u16string());
  return true;
}

bool TextField::userEndEditing() {
  if (!isEnabled() || !editable_) return false;
  if (!editing_) return true;
  if (!textShouldEndEditing(editor_.get())) return false;
  editing_ = false;
  notify(Change::Editing);
  return true;
}

// ---- Box, Image, TabView, Cell --------------------------------------------

void Box::setTitle(const std::string& t) {
  if (t == title_) return;
  title_ = t;
  notify(Change::Title);
}

std::shared_ptr<Image> Image::imageWithContentsOfFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  auto image = std::make_shared<Image>(path);
  // A PNG tells its size in the header; other files keep the default.
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    unsigned char h[24];
    if (std::fread(h, 1, sizeof h, f) == sizeof h && h[0] == 0x89 && h[1] == 'P' && h[2] == 'N' && h[3] == 'G' &&
        h[12] == 'I' && h[13] == 'H' && h[14] == 'D' && h[15] == 'R') {
      auto be32 = [&](int o) {
        return (static_cast<unsigned long>(h[o]) << 24) | (static_cast<unsigned long>(h[o + 1]) << 16) |
               (static_cast<unsigned long>(h[o + 2]) << 8) | h[o + 3];
      };
      image->setSize({static_cast<double>(be32(16)), static_cast<double>(be32(20))});
    }
    std::fclose(f);
  }
  return image;
}

TabViewItem* TabView::tabViewItemAtIndex(int i) {
  if (i < 0 || i >= numberOfTabViewItems()) return nullptr;
  return &items_[static_cast<size_t>(i)];
}

void TabView::addTabViewItem(TabViewItem item) {
  items_.push_back(std::move(item));
  notify(Change::Tabs);
  if (selected_ < 0) {
    selected_ = 0;
    notify(Change::Selection);
  }
}

void TabView::setTabLabel(int i, const std::string& label) {
  TabViewItem* item = tabViewItemAtIndex(i);
  if (!item || item->label() == label) return;
  item->setLabel(label);
  notify(Change::Tabs);
}

void TabView::selectTabViewItemAtIndex(int i) {
  if (i < 0 || i >= numberOfTabViewItems() || i == selected_) return;
  selected_ = i;
  notify(Change::Selection);
}

bool TabView::userSelectTab(int i) {
  if (!isEnabled() || i < 0 || i >= numberOfTabViewItems()) return false;
  selectTabViewItemAtIndex(i);
  sendAction();
  return true;
}

std::optional<Rect> Cell::imageRectForFrame(Rect, bool) const { return std::nullopt; }

// ---- TableView -------------------------------------------------------------

void TableView::addTableColumn(TableColumn c) {
  columns_.push_back(std::move(c));
  notify(Change::TableData);
}

TableColumn* TableView::tableColumnWithIdentifier(const std::string& id) {
  for (auto& c : columns_)
    if (c.identifier == id) return &c;
  return nullptr;
}

int TableView::numberOfRows() const {
  auto ds = dataSource();
  if (!ds) return 0;
  return std::max(0, ds->numberOfRowsInTableView(const_cast<TableView*>(this)));
}

cf::Ref TableView::objectValue(int column, int row) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return nullptr;
  auto ds = dataSource();
  if (!ds || row < 0 || row >= numberOfRows()) return nullptr;
  return ds->tableViewObjectValue(const_cast<TableView*>(this), columns_[static_cast<size_t>(column)], row);
}

void TableView::reloadData() {
  if (selected_ >= numberOfRows()) {
    selected_ = -1;
    notify(Change::Selection);
  }
  notify(Change::TableData);
}

void TableView::selectRow(int row) {
  if (row < -1 || row >= numberOfRows() || row == selected_) return;
  selected_ = row;
  notify(Change::Selection);
}

void TableView::deselectAll() { selectRow(-1); }

bool TableView::userSelectRow(int row) {
  if (!isEnabled() || row < -1 || row >= numberOfRows()) return false;
  if (row != selected_) {
    auto d = delegate();
    if (d && !d->selectionShouldChangeInTableView(this)) return false;
    if (d && row >= 0 && !d->tableViewShouldSelectRow(this, row)) return false;
    selected_ = row;
    notify(Change::Selection);
    if (d) d->tableViewSelectionDidChange(this);
  }
  sendAction();
  return true;
}

bool TableView::userSetObjectValue(int column, int row, const cf::Ref& value) {
  if (!isEnabled() || column < 0 || column >= static_cast<int>(columns_.size())) return false;
  if (!columns_[static_cast<size_t>(column)].editable) return false;
  auto ds = dataSource();
  if (!ds || row < 0 || row >= numberOfRows()) return false;
  TableColumn col = columns_[static_cast<size_t>(column)];
  ds->tableViewSetObjectValue(this, value, col, row);
  notify(Change::TableData);
  return true;
}

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
