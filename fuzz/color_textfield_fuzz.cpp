// The colour plug-in's filtered text field: class, length and extension
// limits from the first bytes, then typing, selecting and erasing.
#include "ColorFuzzSupport.h"
#include "ColorTextField.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Bytes in(data, size);
  auto field = std::make_shared<fuzz::color::QVTextField>();
  auto operate = std::make_shared<ui::Button>();
  field->setInputKey(static_cast<int8_t>(in.byte()) % 6);
  field->setMaxLength(in.byte() % 40, static_cast<int8_t>(in.byte()) % 8);
  field->setOperateControl(operate);
  if (in.byte() & 1) field->setOldString(in.str(16));

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
    if (field->maxLen > 0 && field->length() > field->maxLen && !field->currentEditor()) abort();
  }
  field->userEndEditing();
  return 0;
}
