#include "ColorTextField.h"

#include <algorithm>

#include "cf/cf.h"

namespace R2740_COLOR_NS {

namespace {

std::u16string ToUnits(const std::string& utf8) { return cf::String::create(utf8)->utf16(); }

std::string ToUTF8(const std::u16string& units) {
  auto s = cf::String::createWithUTF16(units);
  return s ? s->utf8() : std::string();
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

// ---- character classes ------------------------------------------------------

bool AsciiKeyFilter(uint32_t c) { return c >= 0x20 && c <= 0x7E; }

bool AsciiKeyFilterAppoint(uint32_t c) {
  if (c < 0x21 || c > 0x7E) return false;
  switch (c) {
    case '"': case '*': case '+': case ',': case '/': case ':': case ';': case '<': case '=':
    case '>': case '?': case '@': case '[': case '\\': case ']': case '|':
      return false;
    default:
      return true;
  }
}

bool AlphaNumericKeyFilter(uint32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool NumericKeyFilter(uint32_t c) { return c >= '0' && c <= '9'; }

bool WideCharKeyFilter(uint32_t c) { return c != '"' && c != '+'; }

bool FilterEditTextInputKey(int32_t inputKey, uint32_t codePoint) {
  switch (inputKey) {
    case kInputKeyAscii: return AsciiKeyFilter(codePoint);
    case kInputKeyFileName: return AsciiKeyFilterAppoint(codePoint);
    case kInputKeyAlphaNumeric: return AlphaNumericKeyFilter(codePoint);
    case kInputKeyNumeric: return NumericKeyFilter(codePoint);
    default: return WideCharKeyFilter(codePoint);
  }
}

uint32_t UCFindComposedCharAtIndex(const char16_t* units, long count, long index, long* next) {
  if (next) *next = index + 1;
  if (!units || index < 0 || index >= count) return 0;
  char16_t u = units[index];
  if (IsHigh(u) && index + 1 < count && IsLow(units[index + 1]))
    return (static_cast<uint32_t>(u - 0xD800) << 10) + (units[index + 1] - 0xDC00) + 0x10000;
  return u;
}

void CheckUniCharString(const char16_t* units, long count, int32_t inputKey, std::u16string& text) {
  if (!units || count <= 0) return;
  long p = 0;
  for (long i = 0; i < count;) {
    long next = i + 1;
    uint32_t c = UCFindComposedCharAtIndex(units, count, i, &next);
    if (!FilterEditTextInputKey(inputKey, c) && p >= 0 && p < static_cast<long>(text.size())) {
      text.erase(static_cast<size_t>(p), 1);
      --p;
    }
    ++p;
    i = next;
  }
}

// ---- the field ------------------------------------------------------------

bool QVTextField::textShouldBeginEditing(ui::FieldEditor* editor) {
  oldValue = stringValue();
  textObj = editor;
  return ui::TextField::textShouldBeginEditing(editor);
}

bool QVTextField::textShouldEndEditing(ui::FieldEditor* editor) { return ui::TextField::textShouldEndEditing(editor); }

void QVTextField::textDidChange(ui::FieldEditor* editor) {
  if (editor) textObj = editor;
  std::u16string s = ToUnits(stringValue());
  const long n = static_cast<long>(s.size());
  const size_t firstDot = s.find(u'.');
  const bool hasDot = firstDot != std::u16string::npos;
  const long d = hasDot ? static_cast<long>(firstDot) : -1;
  const long L = maxLen;
  const long E = maxExtension;

  bool accepted = true;
  const long limit = (E > 0 && !hasDot) ? L - 1 - E : L;
  if (n > limit) {
    // The caret goes back to where it stood before the refused keystroke.
    accepted = false;
    long caret = textObj ? textObj->selectedRange().location : 0;
    const long oldLength = static_cast<long>(ToUnits(oldValue).size());
    caret = std::clamp(caret - n + oldLength, 0L, oldLength);
    setStringValue(oldValue);
    if (textObj) textObj->setSelectedRange({caret, 0});
  } else if (E > 0 && hasDot) {
    const bool secondDot = n >= 2 && s.find(u'.', firstDot + 1) != std::u16string::npos;
    if (d > L - E - 1 || n - d > E + 1 || secondDot) {
      accepted = false;
      setStringValue(oldValue);
    }
  }
  if (accepted && n > 0) {
    const std::u16string units = s;
    CheckUniCharString(units.data(), n, inputkey, s);
    setStringValue(ToUTF8(s));
  }
  updateOperateControl();
  if (accepted) oldValue = ToUTF8(s);
}

void QVTextField::updateOperateControl() {
  auto control = operateOutlet.lock();
  if (!control) return;
  const std::u16string shown = ToUnits(stringValue());
  const size_t dot = shown.find(u'.');
  const bool enable = dot != std::u16string::npos ? dot != 0 : !shown.empty();
  if (control->isEnabled() != enable) control->setEnabled(enable);
}

}  // namespace R2740_COLOR_NS
