// The profile file byte for byte, and the bound on a list's used count.
//
// data/alice-R2740-profile.plist was written once with Python's plistlib
// from the file format's rules (root keys RGB, SIM, DST, PlistVersion; each
// class dictionary iNum and the six field dictionaries, 500 "%s%04d" slot
// keys each, free slots as 0 and ""; keys sorted, as the platform writer
// and plistlib.dumps both do) and checked with plistutil (XML -> binary ->
// XML gives the same bytes):
//   plistutil -i alice-R2740-profile.plist -f bin -o x.bin
//   plistutil -i x.bin -f xml -o x.xml && cmp alice-R2740-profile.plist x.xml
#include <cstddef>
#include <fstream>
#include <sstream>

#include "StoreTestSupport.h"

using namespace storetest;

namespace {

const std::string kGolden = std::string(R2740_SOURCE_DIR) + "/profile-store/tests/data/alice-R2740-profile.plist";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lists the golden file holds. Availability is never written.
struct GoldenLists {
  GoldenLists() {
    Put(rgb.get(), 0, 7, kProfileStateFoundShown, 2, "PHOTO.ICC", "Studio", kProfileLocationDisk);
    Put(rgb.get(), 1, 3, kProfileStateFoundHidden, 1, "CARD.ICC", "\xE5\x86\x99\xE7\x9C\x9F", kProfileLocationCard);
    Put(rgb.get(), 2, 502, kProfileStateUserShown, 2, "USER.ICC", "Mine", kProfileLocationDisk);
    rgb->iNum = 3;
    Put(dst.get(), 0, 12, kProfileStateDeviceShown, 3, "DEST.ICC", "Proof", kProfileLocationCard);
    Put(dst.get(), 1, 13, kProfileStateDeviceHidden, 3, "", "Long", kProfileLocationDisk);
    std::memcpy(dst->entry[1].FileName, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", 31);  // the longest name
    dst->iNum = 2;
  }
  std::unique_ptr<ProfileList> rgb = EmptyList(), sim = EmptyList(), dst = EmptyList();
};

void ExpectSameList(const ProfileList& a, const ProfileList& b, const char* kind) {
  EXPECT_EQ(a.iNum, b.iNum) << kind;
  for (int i = 0; i < kProfileSlotCount; ++i) {
    const ProfileEntry &x = a.entry[i], &y = b.entry[i];
    ASSERT_TRUE(x.IndexOnDevice == y.IndexOnDevice && x.InMenu == y.InMenu && x.ProfileClass == y.ProfileClass &&
                x.Location == y.Location && std::strcmp(x.FileName, y.FileName) == 0 &&
                std::strcmp(x.ProfileName, y.ProfileName) == 0)
        << kind << " slot " << i;
  }
}

using ProfileFileGolden = ServiceFiles;

}  // namespace

TEST_F(ProfileFileGolden, WriteGivesTheGoldenBytes) {
  const std::string golden = Slurp(kGolden);
  ASSERT_GT(golden.size(), 400000u);
  GoldenLists lists;
  lists.rgb->entry[0].ProfileAvailability = 9;
  ASSERT_EQ(0, QVPListWriteProfile_All(lists.rgb.get(), lists.sim.get(), lists.dst.get()));
  EXPECT_TRUE(Slurp(current_) == golden) << "the written file differs from " << kGolden;
}

TEST_F(ProfileFileGolden, ReadOfTheGoldenFile) {
  std::filesystem::copy_file(kGolden, current_);
  GoldenLists expected;
  auto rgb = EmptyList(), sim = EmptyList(), dst = EmptyList();
  ASSERT_EQ(0, QVPListReadProfile_All(rgb.get(), sim.get(), dst.get()));
  ExpectSameList(*rgb, *expected.rgb, "RGB");
  ExpectSameList(*sim, *expected.sim, "SIM");
  ExpectSameList(*dst, *expected.dst, "DST");
}

// A count above 500 means the whole list, never a slot past it. The bytes
// right after a list are laid out as a 501st entry that matches the stored
// profile, so reading one slot too far drops it from the result.
TEST(ListBounds, UsedCountNeverReachesPastTheList) {
  struct ListWithTrailer {
    ProfileList list;
    int32_t inMenu, profileClass;  // a slot 500 would start at list.iNum
    char fileName[32], profileName[32];
    int32_t location, availability;
  };
  constexpr size_t kSlot500 = offsetof(ProfileList, entry) + kProfileSlotCount * sizeof(ProfileEntry);
  static_assert(offsetof(ListWithTrailer, inMenu) == kSlot500 + offsetof(ProfileEntry, InMenu));
  static_assert(offsetof(ListWithTrailer, fileName) == kSlot500 + offsetof(ProfileEntry, FileName));
  static_assert(offsetof(ListWithTrailer, location) == kSlot500 + offsetof(ProfileEntry, Location));

  auto deleted = std::make_unique<ListWithTrailer>();
  std::memset(deleted.get(), 0, sizeof *deleted);
  for (int i = 0; i < kProfileSlotCount; ++i)
    Put(&deleted->list, i, i + 1, kProfileStateFoundShown, 1, ("GONE" + std::to_string(i)).c_str(), "g", 4);
  deleted->list.iNum = kProfileSlotCount + 1;
  deleted->inMenu = kProfileStateFoundShown;
  std::strcpy(deleted->fileName, "KEEP.ICC");
  deleted->location = kProfileLocationDisk;
  EXPECT_EQ(kProfileSlotCount, QVPListUsedCount(&deleted->list));

  auto stored = EmptyList(), edited = EmptyList(), out = EmptyList();
  Put(stored.get(), 0, 1, kProfileStateFoundShown, 1, "KEEP.ICC", "k", kProfileLocationDisk);
  stored->iNum = 1;
  QVPListMapping_Pap(edited.get(), stored.get(), out.get(), &deleted->list);
  ASSERT_EQ(1, out->iNum);
  EXPECT_STREQ("KEEP.ICC", out->entry[0].FileName);
}
