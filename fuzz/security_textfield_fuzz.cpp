// The security panel's text-field filter cycle: a plain or secure field
// bound to an edit row, typed into, selected in, erased and ended as a
// user would.
#include <memory>

#include "FuzzSupport.h"
#include "PDEControlData.h"
#include "QVTextField.h"
#include "SecurityKeys.h"

namespace sec = R2740_SECURITY_NS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Bytes in(data, size);
  const uint8_t setup = in.byte();
  const char* const keywords[] = {sec::kSecureKey, sec::kUserNameKey, sec::kUserKey, sec::kSectionNameKey,
                                  sec::kSectionKey};
  std::shared_ptr<ui::TextField> field;
  if (setup & 0x80)
    field = std::make_shared<sec::QVSecureTextField>();
  else
    field = std::make_shared<sec::QVTextField>();
  sec::SecurityRow table[2];
  table[0].control = field;
  table[0].kind = sec::kRowEditText;
  table[0].keyword = keywords[(setup & 0x7F) % 5];
  sec::QVTextFieldSetup(table);

  for (int step = 0; step < 64 && !in.empty(); ++step) {
    switch (in.byte() % 5) {
      case 0: field->userType(in.str(24)); break;
      case 1: {
        const long location = in.byte(), length = in.byte() % 8;
        field->userSelect({location, length});
        break;
      }
      case 2: field->userDeleteBackward(); break;
      case 3: field->userEndEditing(); break;
      default: field->userBeginEditing(); break;
    }
    // The row always holds what the field shows once the change is done.
    if (!field->currentEditor() && table[0].value && table[0].value->utf8() != field->stringValue()) abort();
  }
  field->userEndEditing();
  return 0;
}
