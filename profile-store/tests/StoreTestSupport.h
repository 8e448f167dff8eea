// Shared bits of the store tests: temporary install roots and list makers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "QVPList.h"
#include "system/system.h"

namespace storetest {

inline std::unique_ptr<ProfileList> EmptyList() {
  auto l = std::make_unique<ProfileList>();
  std::memset(l.get(), 0, sizeof(ProfileList));
  return l;
}

inline void Put(ProfileList* l, int slot, int index, int state, int cls, const char* file, const char* name,
                int location) {
  ProfileEntry& e = l->entry[slot];
  std::memset(&e, 0, sizeof e);
  e.IndexOnDevice = index;
  e.InMenu = state;
  e.ProfileClass = cls;
  std::strncpy(e.FileName, file, 31);
  std::strncpy(e.ProfileName, name, 31);
  e.Location = location;
}

// A fresh install root with the profile folder; removed afterwards.
class TempRoot {
 public:
  TempRoot() {
    char tmpl[] = "/tmp/r2740-store-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    ::setenv("R2740_ROOT", root_.c_str(), 1);
    folder_ = sys::ResolvePath(kQVPListProfileFolder);
    std::filesystem::create_directories(folder_);
  }
  ~TempRoot() {
    ::unsetenv("R2740_ROOT");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  const std::string& root() const { return root_; }
  const std::string& folder() const { return folder_; }

 private:
  std::string root_, folder_;
};

#if QV_PLIST_SERVICE_BUILD
// The service's view: alice's current and backup files in a fresh root,
// named as a request would name them.
class ServiceFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    current_ = tmp_.folder() + "/alice-R2740-profile.plist";
    prev_ = tmp_.folder() + "/alice-R2740-profile.prev.plist";
    QV_PLIST_PROFILE_PATH = current_.c_str();
    QV_PLIST_PROFILE_PREV_PATH = prev_.c_str();
  }
  void TearDown() override {
    QV_PLIST_PROFILE_PATH = nullptr;
    QV_PLIST_PROFILE_PREV_PATH = nullptr;
  }
  TempRoot tmp_;
  std::string current_, prev_;
};
#endif

}  // namespace storetest
