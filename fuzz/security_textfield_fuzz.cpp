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

  fuzz::DriveTextField(field.get(), in, [&] {
    // The row always holds what the field shows once the change is done.
    if (!field->currentEditor() && table[0].value && table[0].value->utf8() != field->stringValue()) abort();
  });
  return 0;
}
