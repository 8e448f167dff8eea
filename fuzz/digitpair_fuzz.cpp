// The colour plug-in's digit-pair decoder of the ticket's profile file
// name: the input is the coded name looked up against the stored profiles.
#include "ColorFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (fuzz::WriteSampleProfileFile(), true);
  (void)ready;
  fuzz::Bytes in(data, size);
  const uint16_t profileType = static_cast<uint16_t>(in.byte() % 4);
  fuzz::color::PDEControlRecord row{std::make_shared<ui::PopUpButton>(), 0, "QVRGBProfile", nullptr, nullptr, "",
                                    profileType, nullptr};
  auto dict = cf::Dictionary::create();
  const std::string coded = in.rest();
  if (auto s = cf::String::createWithBytes(coded.data(), coded.size(), cf::kCFStringEncodingUTF8))
    dict->setValue("QVRGBProfileCustomFilename", s);
  int16_t n = fuzz::color::PDECommon::commonGetTicketAddedProfile(&row, dict);
  // Three profiles are shown per list.
  if (n < -1 || n > 3) abort();
  return 0;
}
