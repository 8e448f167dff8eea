// r2740-filter's options: what a client sent (argv[5], read by libcups)
// must reach the driver as the same options, value for value. A value
// the filter re-quoted badly could smuggle a second option in (a blank,
// a quote, a backslash, an unclosed brace that takes in every option after
// it), the way "x PrintModeR2740=Normal" would. Names libcups cannot read
// back stay out.
#include <cstdlib>
#include <string>

#include "ticket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  host::OptionList sent = filter::ParseOptions(text.c_str()), plain;
  for (const auto& o : sent)
    if (filter::PlainOptionName(o.first)) plain.push_back(o);
  if (filter::ParseOptions(filter::FormatOptions(sent).c_str()) != plain) abort();
  return 0;
}
