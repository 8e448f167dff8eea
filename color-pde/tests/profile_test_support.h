// Profile lists for the colour plug-in's profile tests: a temporary install
// root whose helper stores what the plug-in writes (standing in for the
// service), and lists written and read through the store's own file form.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "QVPList.h"
#include "system/system.h"

namespace proftest {

inline ProfileEntry Entry(int32_t inMenu, const char* file, const char* name, int32_t location = 4,
                          int32_t index = 1) {
  ProfileEntry e{};
  e.IndexOnDevice = index;
  e.InMenu = inMenu;
  e.ProfileClass = 1;
  std::memcpy(e.FileName, file, strnlen(file, sizeof e.FileName - 1));
  std::memcpy(e.ProfileName, name, strnlen(name, sizeof e.ProfileName - 1));
  e.Location = location;
  return e;
}

inline std::unique_ptr<ProfileList> List(const std::vector<ProfileEntry>& entries) {
  auto list = std::make_unique<ProfileList>();
  for (size_t i = 0; i < entries.size(); ++i) list->entry[i] = entries[i];
  list->iNum = static_cast<int32_t>(entries.size());
  return list;
}

// R2740_ROOT points at a fresh folder for the life of the object. With a
// helper, every helper run is logged (command words, one a line) and writes
// land in the current profile file as the service would put them there.
class Root {
 public:
  explicit Root(bool withHelper = true) {
    char tmpl[] = "/tmp/r2740-prof-unit-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    ::setenv("R2740_ROOT", root_.c_str(), 1);
    std::filesystem::create_directories(sys::ResolvePath(kQVPListProfileFolder));
    if (withHelper) {
      std::string helper = QVPListHelperPath();
      std::filesystem::create_directories(std::filesystem::path(helper).parent_path());
      std::ofstream(helper) << "#!/bin/sh\n"
                               "echo \"$1\" >> \"$R2740_ROOT/helper.log\"\n"
                               "case \"$1\" in\n"
                               "  qvPListIsAdminProfile_XPC) echo qvPListIsAdminProfile_XPC=TRUE ;;\n"
                               "  writeDataToPlistFile_XPC) printf '%s' \"$3\" >> \"$R2740_ROOT/pending.xml\";"
                               " echo writeDataToPlistFile_XPC=TRUE ;;\n"
                               "  writeDataToPlistFileRename_XPC) mv \"$R2740_ROOT/pending.xml\" \"${2#file://}\";"
                               " echo writeDataToPlistFileRename_XPC=TRUE ;;\n"
                               "esac\n";
      ::chmod(helper.c_str(), 0755);
    }
  }
  ~Root() {
    ::unsetenv("R2740_ROOT");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  const std::string& path() const { return root_; }
  // Command words the helper ran since the last call.
  std::vector<std::string> TakeHelperLog() {
    std::vector<std::string> out;
    std::ifstream in(root_ + "/helper.log");
    for (std::string line; std::getline(in, line);) out.push_back(line);
    std::filesystem::remove(root_ + "/helper.log");
    return out;
  }
  bool Wrote() {
    for (const auto& c : TakeHelperLog())
      if (c.rfind("writeDataToPlistFile", 0) == 0) return true;
    return false;
  }

 private:
  std::string root_;
};

// Writes the three lists as the current profile file, directly.
inline bool WriteLists(const ProfileList& rgb, const ProfileList& sim, const ProfileList& dst) {
  std::string xml = QVPListCreateXMLText(&rgb, &sim, &dst);
  if (xml.empty()) return false;
  std::ofstream out(QVPListCurrentPath(), std::ios::binary | std::ios::trunc);
  out << xml;
  return static_cast<bool>(out);
}

struct Lists {
  ProfileList rgb{}, sim{}, dst{};
};
// The three stored lists as the plain read gives them; null when unreadable.
inline std::unique_ptr<Lists> ReadLists() {
  auto l = std::make_unique<Lists>();
  if (QVPListReadProfile_All(&l->rgb, &l->sim, &l->dst) != 0) return nullptr;
  return l;
}

}  // namespace proftest
