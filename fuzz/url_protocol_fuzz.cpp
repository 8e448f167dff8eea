// The device-URI classification and the Bonjour name split: the input is
// the queue's device URI. No helper is installed, so nothing is walked.
#include "ColorFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (fuzz::ProfileFolder(), true);
  (void)ready;
  std::string uri(reinterpret_cast<const char*>(data), size);
  auto s = cf::String::createWithBytes(uri.data(), uri.size(), cf::kCFStringEncodingUTF8);
  int16_t protocol = fuzz::color::PDECommon::commoniGetProtocolByUrl(s);
  if (protocol < -1 || protocol > 3) abort();
  pm::Printer printer("R2740_Queue_1", uri);
  pm::PrintSession session;
  session.setCurrentPrinter(&printer);
  fuzz::color::PDECommon::commonGetProfilesFromMIB(&session);
  return 0;
}
