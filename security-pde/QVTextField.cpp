#include "QVTextField.h"

#include <algorithm>

#include "EditInfo.h"

namespace R2740_SECURITY_NS {

void QVFieldState::beginEditing(ui::TextField* field, ui::FieldEditor* editor) {
  oldValue = field->stringValue();
  textObj = editor;
}

void QVFieldState::textDidChange(ui::TextField* field, ui::FieldEditor* editor) {
  if (!editor) editor = textObj;
  const std::string raw = field->stringValue();
  cf::StringRef rawString = cf::str(raw);
  cf::StringRef s = stringConvertNormalize(rawString);
  if (!s) s = rawString;
  // The selection counts units of the text as typed, before normalising.
  const long rawLength = static_cast<long>(rawString->length());
  const long selection = editor ? editor->selectedRange().location : rawLength;

  int32_t width = CFStringGetEastAsianWidth(s);
  if (width > maxLen) {
    long caret = selection - rawLength + static_cast<long>(cf::str(oldValue)->length());
    field->setStringValue(oldValue);
    if (editor) editor->setSelectedRange({std::max(caret, 0L), 0});
    return;
  }
  if (width > 0) {
    std::u16string units = s->utf16();
    const char* keyword = ctrlTable ? ctrlTable->keyword : nullptr;
    cf::StringRef t = CheckUniCharString(units.data(), static_cast<long>(units.size()), keyword);
    // No character passing the filter leaves an empty field.
    std::string shown = t ? t->utf8() : std::string();
    long caret = selection - rawLength + static_cast<long>(t ? t->length() : 0);
    field->setStringValue(shown);
    if (editor) editor->setSelectedRange({std::max(caret, 0L), 0});
  }
  oldValue = field->stringValue();
  if (ctrlTable) ctrlTable->value = cf::str(oldValue);
}

void QVFieldState::restoreOldValue(ui::TextField* field) {
  field->setStringValue(oldValue);
  if (ctrlTable) ctrlTable->value = cf::str(oldValue);
}

bool QVTextField::textShouldBeginEditing(ui::FieldEditor* editor) {
  state_.beginEditing(this, editor);
  return ui::TextField::textShouldBeginEditing(editor);
}

void QVTextField::textDidChange(ui::FieldEditor* editor) { state_.textDidChange(this, editor); }

bool QVTextField::textShouldEndEditing(ui::FieldEditor* editor) {
  state_.restoreOldValue(this);
  return ui::TextField::textShouldEndEditing(editor);
}

bool QVSecureTextField::textShouldBeginEditing(ui::FieldEditor* editor) {
  state_.beginEditing(this, editor);
  return ui::SecureTextField::textShouldBeginEditing(editor);
}

void QVSecureTextField::textDidChange(ui::FieldEditor* editor) { state_.textDidChange(this, editor); }

bool QVSecureTextField::textShouldEndEditing(ui::FieldEditor* editor) {
  return ui::SecureTextField::textShouldEndEditing(editor);
}

void QVTextFieldSetup(SecurityRow* table) {
  if (!table) return;
  for (int i = 0; table[i].kind != kRowEnd; ++i) {
    SecurityRow& row = table[i];
    if (row.kind != kRowEditText || !row.keyword) continue;
    if (auto* field = dynamic_cast<QVFieldBinding*>(row.control.get())) {
      field->setTable(&row);
      int32_t width = GetEditTextMaxLength(row.keyword);
      field->setMaxLength(static_cast<int16_t>(std::clamp<int32_t>(width, 0, INT16_MAX)));
    }
  }
}

void QVTextFieldClassCheck(SecurityRow* table) {
  if (!table) return;
  for (int i = 0; table[i].kind != kRowEnd; ++i) {
    SecurityRow& row = table[i];
    if (!IsEditTextPassword(row.keyword) || !row.control) continue;
    if (!dynamic_cast<ui::SecureTextField*>(row.control.get())) row.control->setHidden(true);
  }
}

}  // namespace R2740_SECURITY_NS
