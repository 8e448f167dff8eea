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

  fuzz::DriveTextField(field.get(), in, [&] {
    if (field->maxLen > 0 && field->length() > field->maxLen && !field->currentEditor()) abort();
  });
  return 0;
}
