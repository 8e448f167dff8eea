// The profile-file reader of the service build: the input is the profile
// file; read it whole, per list, and folded for the editor.
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "QVPList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ProfileFolder() + "/fuzz-R2740-profile.plist";
  fuzz::WriteFile(path, data, size);
  QV_PLIST_PROFILE_PATH = path.c_str();

  auto lists = std::make_unique<ProfileList[]>(3);
  // Only that the reads survive any file matters here, not their answers.
  (void)QVPListReadProfile_All(&lists[0], &lists[1], &lists[2]);
  for (int kind = 0; kind < 3; ++kind) {
    auto list = std::make_unique<ProfileList>();
    (void)QVPListReadProfile_Dict(list.get(), kind);
    std::memset(list.get(), 0, sizeof *list);
    (void)QVPListReadProfile_Dict_Pap(list.get(), kind);
    // Whatever the file held, the strings stay terminated in their slots.
    for (const auto& e : list->entry)
      if (!std::memchr(e.FileName, 0, sizeof e.FileName) || !std::memchr(e.ProfileName, 0, sizeof e.ProfileName))
        abort();
  }
  QV_PLIST_PROFILE_PATH = nullptr;
  return 0;
}
