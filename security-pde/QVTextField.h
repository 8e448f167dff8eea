// The security panel's text fields: after every change they measure the
// text, refuse an edit that makes it too wide, and drop characters their
// field type does not allow, keeping the caret where the user expects it.
#pragma once

#include <cstdint>
#include <string>

#include "PDEControlData.h"
#include "SecurityBuild.h"
#include "ui/controls.h"

namespace R2740_SECURITY_NS {

// What both field classes answer; lets the panel bind rows to fields
// without caring which of the two a nib used.
class QVFieldBinding {
 public:
  virtual ~QVFieldBinding() = default;
  virtual void setTable(SecurityRow* row) = 0;
  virtual void setMaxLength(int16_t maxLength) = 0;
  virtual void setOldValue(const std::string& value) = 0;
};

// The filter cycle shared by both classes.
class QVFieldState {
 public:
  void bind(SecurityRow* row) { ctrlTable = row; }
  SecurityRow* row() const { return ctrlTable; }
  void beginEditing(ui::TextField* field, ui::FieldEditor* editor);
  void textDidChange(ui::TextField* field, ui::FieldEditor* editor);
  // Shows the last accepted text again and hands it to the row.
  void restoreOldValue(ui::TextField* field);

  SecurityRow* ctrlTable = nullptr;
  int16_t maxLen = 0;
  std::string oldValue;
  ui::FieldEditor* textObj = nullptr;
};

class QVTextField : public ui::TextField, public QVFieldBinding {
 public:
  std::string className() const override { return "QVTextField"; }
  void setTable(SecurityRow* row) override { state_.bind(row); }
  void setMaxLength(int16_t maxLength) override { state_.maxLen = maxLength; }
  void setOldValue(const std::string& value) override { state_.oldValue = value; }
  const std::string& oldValue() const { return state_.oldValue; }
  int16_t maxLength() const { return state_.maxLen; }

  bool textShouldBeginEditing(ui::FieldEditor* editor) override;
  void textDidChange(ui::FieldEditor* editor) override;
  bool textShouldEndEditing(ui::FieldEditor* editor) override;

 private:
  QVFieldState state_;
};

class QVSecureTextField : public ui::SecureTextField, public QVFieldBinding {
 public:
  std::string className() const override { return "QVSecureTextField"; }
  void setTable(SecurityRow* row) override { state_.bind(row); }
  void setMaxLength(int16_t maxLength) override { state_.maxLen = maxLength; }
  void setOldValue(const std::string& value) override { state_.oldValue = value; }
  const std::string& oldValue() const { return state_.oldValue; }
  int16_t maxLength() const { return state_.maxLen; }

  bool textShouldBeginEditing(ui::FieldEditor* editor) override;
  void textDidChange(ui::FieldEditor* editor) override;
  bool textShouldEndEditing(ui::FieldEditor* editor) override;

 private:
  QVFieldState state_;
};

// Binds every edit row to its field with the row's width limit.
void QVTextFieldSetup(SecurityRow* table);
// Hides every password row whose control is not a secure field, so a
// password is never typed into a plain field.
void QVTextFieldClassCheck(SecurityRow* table);

}  // namespace R2740_SECURITY_NS
