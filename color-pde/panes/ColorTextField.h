// The colour plug-in's filtered text field (the profile window's file name
// and display name) and its character classes. These belong to this
// plug-in alone; the security plug-in has its own field with other rules.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "BuildSuffix.h"
#include "ui/controls.h"

namespace R2740_COLOR_NS {

// Input classes of QVTextField::setInputKey.
inline constexpr int32_t kInputKeyAscii = 0;
inline constexpr int32_t kInputKeyFileName = 1;
inline constexpr int32_t kInputKeyAlphaNumeric = 2;
inline constexpr int32_t kInputKeyNumeric = 3;

// Whether a code point may stay in a field of the given class; any class
// other than 0..3 is the wide class.
bool FilterEditTextInputKey(int32_t inputKey, uint32_t codePoint);
bool AsciiKeyFilter(uint32_t codePoint);
bool AsciiKeyFilterAppoint(uint32_t codePoint);
bool AlphaNumericKeyFilter(uint32_t codePoint);
bool NumericKeyFilter(uint32_t codePoint);
bool WideCharKeyFilter(uint32_t codePoint);

// The code point at `index` of the units: a surrogate pair is joined, a lone
// surrogate answers itself. *next is index + 1 (one unit per step, also
// after a pair). 0 for a null buffer or an index outside the units.
uint32_t UCFindComposedCharAtIndex(const char16_t* units, long count, long index, long* next);
// Removes from `text` (which holds the same units) every unit whose code
// point the class rejects. Both units of a pair are judged, the second one
// on its own.
void CheckUniCharString(const char16_t* units, long count, int32_t inputKey, std::u16string& text);

class QVTextField : public ui::TextField {
 public:
  std::string className() const override { return "QVTextField"; }

  bool textShouldBeginEditing(ui::FieldEditor* editor) override;
  bool textShouldEndEditing(ui::FieldEditor* editor) override;
  // Refuses a change that breaks the length or extension rules (the last
  // accepted text comes back), drops characters of other classes, and
  // enables the companion control when the text is usable.
  void textDidChange(ui::FieldEditor* editor) override;

  // Lengths in UTF-16 units; an extension length of 0 or less switches the
  // extension rules off.
  void setMaxLength(int32_t length, int32_t extension) {
    maxLen = length;
    maxExtension = extension;
  }
  void setInputKey(int32_t key) { inputkey = key; }
  // Not kept alive by the field.
  void setOperateControl(const std::shared_ptr<ui::Control>& control) { operateOutlet = control; }
  // For text put into the field from outside: a later refusal restores it.
  void setOldString(const std::string& text) { oldValue = text; }

  std::weak_ptr<ui::Control> operateOutlet;
  int32_t inputkey = 0;
  int32_t maxLen = 0;
  int32_t maxExtension = 0;
  std::string oldValue;
  ui::FieldEditor* textObj = nullptr;

 private:
  void updateOperateControl();
};

}  // namespace R2740_COLOR_NS
