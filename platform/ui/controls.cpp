#include "ui/controls.h"

#include <unicode/ustring.h>

#include <algorithm>

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

}  // namespace ui
