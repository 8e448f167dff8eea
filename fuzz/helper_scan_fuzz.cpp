// The plug-in store's scan of the helper's output: a stand-in helper in the
// temporary install root prints the input, and the store's probes look for
// their "<command>=TRUE" marker in it.
#include <sys/stat.h>

#include "ColorFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string output = [] {
    std::string out = fuzz::TempRoot() + "/helper-output";
    setenv("R2740_FUZZ_HELPER_OUTPUT", out.c_str(), 1);
    const std::string helper = QVPListHelperPath();
    std::filesystem::create_directories(std::filesystem::path(helper).parent_path());
    const char script[] = "#!/bin/sh\nexec cat \"$R2740_FUZZ_HELPER_OUTPUT\"\n";
    fuzz::WriteFile(helper, script, sizeof script - 1);
    ::chmod(helper.c_str(), 0755);
    fuzz::ProfileFolder();
    return out;
  }();
  fuzz::WriteFile(output, data, size);
  const std::string text(reinterpret_cast<const char*>(data), size);
  const bool admin = text.find("qvPListIsAdminProfile_XPC=TRUE") != std::string::npos;
  const bool exists = text.find("qvPListExistProfile_XPC=TRUE") != std::string::npos;
  if (QVPListIsAdminProfile() != (admin ? 1 : 0)) abort();
  if (QVPListExistProfile() != (admin && exists ? 1 : 0)) abort();
  return 0;
}
