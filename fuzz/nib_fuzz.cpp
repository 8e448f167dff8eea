// The interface-file loader on an arbitrary file: no registered classes,
// no owner.
#include "FuzzSupport.h"
#include "ui/ui.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::TempRoot() + "/Fuzz.ui.plist";
  fuzz::WriteFile(path, data, size);
  ui::NibClassRegistry registry;
  ui::NibLoadResult result = ui::LoadNibFile(path, nullptr, registry);
  if (!result.ok && result.error.empty()) abort();
  return 0;
}
