// The device-URI classification and the Bonjour name split: the input is
// the queue's device URI. No helper is installed, so nothing is walked.
// Bonjour names must not reach a responder on the machine's network: the
// resolver gets a system bus that does not exist.
#include <cstdlib>

#include "ColorFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/r2740-fuzz", 1),
                             fuzz::ProfileFolder(), true);
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
