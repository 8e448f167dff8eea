// The whole profile file (three lists of 500 slots, 1500 entries): the
// store's read and write beside libplist alone doing the same work on the
// same file: the same tree, the same keys, the same atomic replace (temp
// file, fsync, rename, fsync of the folder). Prints both ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <plist/plist.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "RatioReporter.h"
#include "QVPList.h"

namespace {

constexpr const char* kKinds[3] = {"RGB", "SIM", "DST"};
std::string gPath;  // the profile file both sides use

std::unique_ptr<ProfileList[]> FullLists() {
  auto lists = std::make_unique<ProfileList[]>(3);
  std::memset(lists.get(), 0, 3 * sizeof(ProfileList));
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < kProfileSlotCount; ++i) {
      ProfileEntry& e = lists[k].entry[i];
      e.IndexOnDevice = i + 1;
      e.InMenu = kProfileStateFoundShown;
      e.ProfileClass = k == 0 ? 1 : 3;
      e.Location = kProfileLocationDisk;
      std::snprintf(e.FileName, sizeof e.FileName, "P%05d.ICC", i);
      std::snprintf(e.ProfileName, sizeof e.ProfileName, "Profile %d of list %d", i, k);
    }
    lists[k].iNum = kProfileSlotCount;
  }
  return lists;
}

// ---- the store ----------------------------------------------------------

void BM_StoreWrite(benchmark::State& state) {
  auto lists = FullLists();
  QV_PLIST_PROFILE_PATH = gPath.c_str();
  for (auto _ : state)
    if (QVPListWriteProfile_All(&lists[0], &lists[1], &lists[2]) != 0) state.SkipWithError("write failed");
  QV_PLIST_PROFILE_PATH = nullptr;
}
BENCHMARK(BM_StoreWrite)->Apply(CountedIterations)->Unit(benchmark::kMillisecond);

void BM_StoreRead(benchmark::State& state) {
  auto lists = std::make_unique<ProfileList[]>(3);
  QV_PLIST_PROFILE_PATH = gPath.c_str();
  for (auto _ : state)
    if (QVPListReadProfile_All(&lists[0], &lists[1], &lists[2]) != 0) state.SkipWithError("read failed");
  QV_PLIST_PROFILE_PATH = nullptr;
  if (lists[2].iNum != kProfileSlotCount) state.SkipWithError("read back wrong");
}
BENCHMARK(BM_StoreRead)->Apply(CountedIterations)->Unit(benchmark::kMillisecond);

// ---- libplist alone ---------------------------------------------------------

void SetSlot(plist_t dict, const char* base, int slot, plist_t value) {
  char key[48];
  std::snprintf(key, sizeof key, "%s%04d", base, slot);
  plist_dict_set_item(dict, key, value);
}

bool AtomicWrite(const std::string& path, const char* data, size_t size) {
  std::string tmp = path + ".bench.tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok && ::rename(tmp.c_str(), path.c_str()) == 0;
  int dfd = ::open(std::filesystem::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return ok;
}

void BM_LibplistWrite(benchmark::State& state) {
  auto lists = FullLists();
  for (auto _ : state) {
    plist_t root = plist_new_dict();
    for (int k = 0; k < 3; ++k) {
      plist_t f[6];
      for (auto& d : f) d = plist_new_dict();
      for (int i = 0; i < kProfileSlotCount; ++i) {
        const ProfileEntry& e = lists[k].entry[i];
        SetSlot(f[0], cIndexOnDeviceKey, i, plist_new_uint(static_cast<uint64_t>(e.IndexOnDevice)));
        SetSlot(f[1], cInMenuKey, i, plist_new_uint(static_cast<uint64_t>(e.InMenu)));
        SetSlot(f[2], cProfileClassKey, i, plist_new_uint(static_cast<uint64_t>(e.ProfileClass)));
        SetSlot(f[3], cLocationKey, i, plist_new_uint(static_cast<uint64_t>(e.Location)));
        SetSlot(f[4], cFileNameKey, i, plist_new_string(e.FileName));
        SetSlot(f[5], cProfileNameKey, i, plist_new_string(e.ProfileName));
      }
      plist_t cls = plist_new_dict();
      plist_dict_set_item(cls, "iNum", plist_new_uint(static_cast<uint64_t>(lists[k].iNum)));
      const char* names[6] = {cIndexOnDeviceKey, cInMenuKey, cProfileClassKey, cLocationKey, cFileNameKey,
                              cProfileNameKey};
      for (int j = 0; j < 6; ++j) plist_dict_set_item(cls, names[j], f[j]);
      plist_dict_set_item(root, kKinds[k], cls);
    }
    plist_dict_set_item(root, cPlistVersionKey, plist_new_uint(1));
    char* xml = nullptr;
    uint32_t len = 0;
    plist_to_xml(root, &xml, &len);
    if (!xml || !AtomicWrite(gPath + ".libplist", xml, len)) state.SkipWithError("write failed");
    plist_to_xml_free(xml);
    plist_free(root);
  }
}
BENCHMARK(BM_LibplistWrite)->Apply(CountedIterations)->Unit(benchmark::kMillisecond);

int32_t IntAt(plist_t dict, const char* base, int slot) {
  char key[48];
  std::snprintf(key, sizeof key, "%s%04d", base, slot);
  plist_t n = plist_dict_get_item(dict, key);
  uint64_t v = 0;
  if (n && plist_get_node_type(n) == PLIST_UINT) plist_get_uint_val(n, &v);
  return static_cast<int32_t>(v);
}

void StringAt(plist_t dict, const char* base, int slot, char dest[32]) {
  char key[48];
  std::snprintf(key, sizeof key, "%s%04d", base, slot);
  plist_t n = plist_dict_get_item(dict, key);
  if (!n || plist_get_node_type(n) != PLIST_STRING) return;
  const char* s = plist_get_string_ptr(n, nullptr);
  std::memset(dest, 0, 32);
  std::strncpy(dest, s, 31);
}

void BM_LibplistRead(benchmark::State& state) {
  auto lists = std::make_unique<ProfileList[]>(3);
  for (auto _ : state) {
    // The same file as the store reads.
    int fd = ::open(gPath.c_str(), O_RDONLY | O_CLOEXEC);
    std::string bytes;
    char buf[65536];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
    if (fd >= 0) ::close(fd);
    plist_t root = nullptr;
    plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (!root) {
      state.SkipWithError("parse failed");
      return;
    }
    for (int k = 0; k < 3; ++k) {
      plist_t cls = plist_dict_get_item(root, kKinds[k]);
      plist_t f[6];
      const char* names[6] = {cIndexOnDeviceKey, cInMenuKey, cProfileClassKey, cLocationKey, cFileNameKey,
                              cProfileNameKey};
      for (int j = 0; j < 6; ++j) f[j] = plist_dict_get_item(cls, names[j]);
      for (int i = 0; i < kProfileSlotCount; ++i) {
        ProfileEntry& e = lists[k].entry[i];
        e.IndexOnDevice = IntAt(f[0], cIndexOnDeviceKey, i);
        e.InMenu = IntAt(f[1], cInMenuKey, i);
        e.ProfileClass = IntAt(f[2], cProfileClassKey, i);
        e.Location = IntAt(f[3], cLocationKey, i);
        StringAt(f[4], cFileNameKey, i, e.FileName);
        StringAt(f[5], cProfileNameKey, i, e.ProfileName);
      }
      uint64_t n = 0;
      plist_get_uint_val(plist_dict_get_item(cls, "iNum"), &n);
      lists[k].iNum = static_cast<int32_t>(n);
    }
    plist_free(root);
  }
  if (lists[2].iNum != kProfileSlotCount) state.SkipWithError("read back wrong");
}
BENCHMARK(BM_LibplistRead)->Apply(CountedIterations)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // A memory-backed folder when there is one: the ratio is about the work,
  // not the disk's flush time (both sides flush the same way).
  std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
  std::string dir = base + "/r2740-plist-bench-XXXXXX";
  if (!mkdtemp(dir.data())) return 1;
  gPath = dir + "/root-R2740-profile.plist";
  {
    // The file the reads find, whichever benchmarks are selected.
    auto lists = FullLists();
    QV_PLIST_PROFILE_PATH = gPath.c_str();
    if (QVPListWriteProfile_All(&lists[0], &lists[1], &lists[2]) != 0) return 1;
    QV_PLIST_PROFILE_PATH = nullptr;
  }

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.Ratio("profile file write, store / libplist", "BM_StoreWrite", "BM_LibplistWrite");
  reporter.Ratio("profile file read, store / libplist", "BM_StoreRead", "BM_LibplistRead");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
