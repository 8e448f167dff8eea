// Controls a panel binds to settings: pop-up buttons, buttons, radio
// matrices and text fields with their field editor.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cf/cf.h"
#include "ui/view.h"

namespace ui {

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

}  // namespace ui
