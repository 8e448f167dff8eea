// The .strings parser.
#include <string_view>

#include "bundle/bundle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto table = bndl::ParseStrings(std::string_view(reinterpret_cast<const char*>(data), size), &error);
  if (!table && error.empty()) abort();
  return 0;
}
