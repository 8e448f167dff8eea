// The service build of the store: file format, reads, probes, swaps and the
// list maintenance passes.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <vector>

#include "StoreTestSupport.h"
#include "cf/plist.h"
#include "system/system.h"

using namespace storetest;

namespace {

class ServiceStore : public ServiceFiles {
 protected:
  // Writes a root dictionary as the file, bypassing the store.
  void WriteRoot(const cf::DictionaryRef& root) { ASSERT_TRUE(cf::PropertyListWriteToFile(root, current_)); }
  cf::DictionaryRef ReadRoot() { return cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(current_)); }
};

TEST_F(ServiceStore, WriteProducesTheExactFileFormat) {
  auto rgb = EmptyList(), sim = EmptyList(), dst = EmptyList();
  Put(rgb.get(), 0, 7, kProfileStateFoundShown, 2, "PROFILE1.ICC", "Profile One", kProfileLocationDisk);
  rgb->entry[0].ProfileAvailability = 9;
  rgb->iNum = 1;
  Put(dst.get(), 0, 501, kProfileStateUserShown, 3, "D.ICC", "Dest", kProfileLocationCard);
  dst->iNum = 1;
  ASSERT_EQ(0, QVPListWriteProfile_All(rgb.get(), sim.get(), dst.get()));

  auto root = ReadRoot();
  ASSERT_TRUE(root);
  EXPECT_EQ(4u, root->count());
  ASSERT_TRUE(root->get<cf::Number>("PlistVersion"));
  EXPECT_EQ(1, root->get<cf::Number>("PlistVersion")->int64Value());
  for (const char* kind : {"RGB", "SIM", "DST"}) {
    auto cls = root->get<cf::Dictionary>(kind);
    ASSERT_TRUE(cls) << kind;
    EXPECT_EQ(7u, cls->count()) << kind;  // iNum and six fields, nothing for availability
    for (const char* field : {"IndexOnDevice", "InMenu", "ProfileClass", "Location", "FileName", "ProfileName"}) {
      auto d = cls->get<cf::Dictionary>(field);
      ASSERT_TRUE(d) << kind << field;
      EXPECT_EQ(500u, d->count()) << kind << field;
      EXPECT_TRUE(d->contains(std::string(field) + "0000"));
      EXPECT_TRUE(d->contains(std::string(field) + "0499"));
      EXPECT_FALSE(d->contains(std::string(field) + "0500"));
    }
  }
  auto rgbD = root->get<cf::Dictionary>("RGB");
  EXPECT_EQ(1, rgbD->get<cf::Number>("iNum")->int64Value());
  EXPECT_EQ(7, rgbD->get<cf::Dictionary>("IndexOnDevice")->get<cf::Number>("IndexOnDevice0000")->int64Value());
  EXPECT_EQ("PROFILE1.ICC", rgbD->get<cf::Dictionary>("FileName")->get<cf::String>("FileName0000")->utf8());
  // Free slots are written as 0 and "".
  EXPECT_EQ(0, rgbD->get<cf::Dictionary>("InMenu")->get<cf::Number>("InMenu0001")->int64Value());
  EXPECT_EQ("", rgbD->get<cf::Dictionary>("ProfileName")->get<cf::String>("ProfileName0499")->utf8());

  // Round trip; availability is not stored.
  auto r2 = EmptyList(), s2 = EmptyList(), d2 = EmptyList();
  ASSERT_EQ(0, QVPListReadProfile_All(r2.get(), s2.get(), d2.get()));
  EXPECT_EQ(1, r2->iNum);
  EXPECT_STREQ("Profile One", r2->entry[0].ProfileName);
  EXPECT_EQ(kProfileLocationDisk, r2->entry[0].Location);
  EXPECT_EQ(0, r2->entry[0].ProfileAvailability);
  EXPECT_EQ(0, s2->iNum);
  EXPECT_STREQ("D.ICC", d2->entry[0].FileName);

  // The file is the platform writer's XML, readable by a second parser.
  auto text = sys::ReadFile(current_);
  ASSERT_TRUE(text);
  EXPECT_EQ(0u, text->find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
  EXPECT_NE(std::string::npos, text->find("<key>IndexOnDevice0000</key>"));
}

TEST_F(ServiceStore, ReadsFailWithoutTouchingTheLists) {
  auto a = EmptyList(), b = EmptyList(), c = EmptyList();
  a->iNum = 42;
  EXPECT_EQ(-1, QVPListReadProfile_All(a.get(), b.get(), c.get()));  // no file
  EXPECT_EQ(-1, QVPListReadProfile_Dict(a.get(), 0));
  EXPECT_EQ(42, a->iNum);

  // A file missing one field dictionary of SIM: the full read fails, the
  // RGB list can still be read alone.
  auto rgb = EmptyList();
  Put(rgb.get(), 0, 1, kProfileStateFoundHidden, 1, "A.ICC", "A", 4);
  rgb->iNum = 1;
  auto root = QVPListCreateRootDictionary(rgb.get(), rgb.get(), rgb.get());
  root->get<cf::Dictionary>("SIM")->removeValue("Location");
  WriteRoot(root);
  EXPECT_EQ(-1, QVPListReadProfile_All(a.get(), b.get(), c.get()));
  EXPECT_EQ(42, a->iNum);
  EXPECT_EQ(-1, QVPListReadProfile_Dict(b.get(), kProfileListSIM));
  EXPECT_EQ(-1, QVPListReadProfile_Dict(b.get(), 3));
  ASSERT_EQ(0, QVPListReadProfile_Dict(a.get(), kProfileListRGB));
  EXPECT_EQ(1, a->iNum);

  // Garbage in the file.
  std::ofstream(current_) << "not a property list";
  EXPECT_EQ(-1, QVPListReadProfile_Dict(c.get(), 0));
}

TEST_F(ServiceStore, ConsistencyCheckTrustsPositionAndCutsStrings) {
  auto rgb = EmptyList(), other = EmptyList();
  Put(rgb.get(), 0, 1, kProfileStateFoundShown, 1, "A.ICC", "A", 4);
  Put(rgb.get(), 3, 2, kProfileStateFoundShown, 1, "B.ICC", "B", 4);  // lies after the count
  rgb->iNum = 5;
  auto root = QVPListCreateRootDictionary(rgb.get(), other.get(), other.get());
  auto cls = root->get<cf::Dictionary>("RGB");
  // 40 bytes of name; a 30-byte name followed by a two-byte character.
  cls->get<cf::Dictionary>("ProfileName")->setValue("ProfileName0000", cf::str(std::string(40, 'x')));
  cls->get<cf::Dictionary>("FileName")->setValue("FileName0000", cf::str(std::string(30, 'f') + "\xC3\xA9"));
  WriteRoot(root);

  auto list = EmptyList();
  ASSERT_EQ(0, QVPListReadProfile_Dict(list.get(), kProfileListRGB));
  EXPECT_EQ(2, list->iNum);
  EXPECT_STREQ("", list->entry[3].FileName);  // cleared: at or after the count
  EXPECT_EQ(0, list->entry[3].InMenu);
  EXPECT_EQ(std::string(31, 'x'), list->entry[0].ProfileName);
  EXPECT_EQ(std::string(30, 'f') + "\xC3", list->entry[0].FileName);

  // The cut character is not UTF-8: the next write leaves the key out and
  // the field reads back empty.
  ASSERT_EQ(0, QVPListWriteProfile_Dict(list.get(), kProfileListRGB, nullptr, nullptr, nullptr));
  auto again = ReadRoot()->get<cf::Dictionary>("RGB")->get<cf::Dictionary>("FileName");
  EXPECT_FALSE(again->contains("FileName0000"));
  EXPECT_EQ(499u, again->count());
  auto back = EmptyList();
  ASSERT_EQ(0, QVPListReadProfile_Dict(back.get(), kProfileListRGB));
  EXPECT_STREQ("", back->entry[0].FileName);
  EXPECT_EQ(std::string(31, 'x'), back->entry[0].ProfileName);
}

TEST_F(ServiceStore, ProbeSwapRemoveAndReplaceOneList) {
  // Probe on a writable folder leaves no file behind.
  EXPECT_EQ(1, QVPListIsAdminProfile());
  EXPECT_FALSE(sys::FileExists(current_));
  EXPECT_EQ(0, QVPListExistProfile());
  std::string missing = tmp_.folder() + "/no-such-folder/alice-R2740-profile.plist";
  EXPECT_EQ(0, QVPListProbePath(missing.c_str()));
  struct stat st;

  // Backing up without a current file leaves an empty backup, readable by
  // everybody and writable by the service only, whatever the umask.
  std::ofstream(prev_) << "old backup";
  mode_t mask = ::umask(0);
  QVPListSwapProfile(kQVPListSwapBackup);
  ::umask(mask);
  ASSERT_EQ(0, ::stat(prev_.c_str(), &st));
  EXPECT_EQ(0, st.st_size);
  EXPECT_EQ(0644u, st.st_mode & 07777);

  auto list = EmptyList(), rgb = EmptyList(), sim = EmptyList(), dst = EmptyList();
  Put(list.get(), 0, 3, kProfileStateFoundHidden, 3, "S.ICC", "S", 5);
  list->iNum = 1;
  ASSERT_EQ(0, QVPListWriteProfile_Dict(list.get(), kProfileListSIM, rgb.get(), sim.get(), dst.get()));
  EXPECT_EQ(1, sim->iNum);
  EXPECT_EQ(0, rgb->iNum);
  EXPECT_EQ(1, QVPListExistProfile());
  EXPECT_EQ(-1, QVPListWriteProfile_Dict(list.get(), 7, nullptr, nullptr, nullptr));

  // Back up, replace, restore.
  QVPListSwapProfile(kQVPListSwapBackup);
  auto backup = sys::ReadFile(prev_);
  ASSERT_TRUE(backup);
  EXPECT_EQ(*sys::ReadFile(current_), *backup);
  ASSERT_EQ(0, QVPListWriteProfile_Dict(EmptyList().get(), kProfileListSIM, nullptr, nullptr, nullptr));
  QVPListSwapProfile(kQVPListSwapRestore);
  EXPECT_EQ(*backup, *sys::ReadFile(current_));
  EXPECT_FALSE(sys::FileExists(prev_));
  // A restore without a backup keeps the current file.
  QVPListSwapProfile(kQVPListSwapRestore);
  EXPECT_TRUE(sys::FileExists(current_));

  QVPListSwapProfile(kQVPListSwapBackup);
  QVPListSwapProfile(kQVPListSwapDropBackup);
  EXPECT_FALSE(sys::FileExists(prev_));
  EXPECT_EQ(0, QVPListRemove(1));
  EXPECT_EQ(1, QVPListRemove(kQVPListRemoveCurrent));
  EXPECT_FALSE(sys::FileExists(current_));

  // Outside a request nothing is touched.
  QV_PLIST_PROFILE_PATH = nullptr;
  EXPECT_EQ(0, QVPListIsAdminProfile());
  EXPECT_EQ(-1, QVPListWriteProfile_All(list.get(), list.get(), list.get()));
}

// Each primitive meets a planted link, FIFO, device or foreign file at the
// current name: refused at once (a FIFO opened without O_NONBLOCK would
// hang this test), and what the plant points at stays as it was.
TEST_F(ServiceStore, PlantedFilesAreRefusedAtOnceAndNeverFollowed) {
  const std::string outside = tmp_.root() + "/outside";
  std::ofstream(outside) << "outside";
  const std::vector<std::pair<std::string, std::function<int()>>> plants = {
      {"symlink", [&] { return ::symlink(outside.c_str(), current_.c_str()); }},
      {"fifo", [&] { return ::mkfifo(current_.c_str(), 0666); }},
      {"hard link", [&] { return ::link(outside.c_str(), current_.c_str()); }},
      {"device", [&] { return ::geteuid() == 0 ? ::mknod(current_.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) : -2; }},
      {"foreign file", [&] {
         std::ofstream(current_) << "foreign";
         return ::geteuid() == 0 ? ::chown(current_.c_str(), 65534, 65534) : -2;
       }},
  };
  for (const auto& [kind, plant] : plants) {
    int planted = plant();
    if (planted == -2) continue;  // needs root
    ASSERT_EQ(0, planted) << kind;
    EXPECT_EQ(0, QVPListProbePath(current_.c_str())) << kind;
    EXPECT_EQ(0, QVPListExistPath(current_.c_str())) << kind;
    EXPECT_FALSE(QVPListReadFile(current_.c_str())) << kind;
    auto rgb = EmptyList(), sim = EmptyList(), dst = EmptyList();
    EXPECT_EQ(-1, QVPListReadProfile_All(rgb.get(), sim.get(), dst.get())) << kind;
    EXPECT_EQ(-1, QVPListWriteProfile_All(rgb.get(), sim.get(), dst.get())) << kind;
    QVPListSwapProfile(kQVPListSwapBackup);  // the probe says no: nothing happens
    QVPListSwapPaths(kQVPListSwapBackup, current_.c_str(), prev_.c_str());
    EXPECT_EQ("", sys::ReadFile(prev_).value_or("<none>")) << kind;
    // A rename replaces the name itself, never what it points at.
    EXPECT_EQ(0, QVPListWriteFile(current_.c_str(), "new"));
    EXPECT_EQ("new", sys::ReadFile(current_).value_or("")) << kind;
    EXPECT_EQ("outside", sys::ReadFile(outside).value_or("")) << kind;
    ::unlink(current_.c_str());
    ::unlink(prev_.c_str());
  }
}

TEST_F(ServiceStore, FoldedReadAndSaveMergeForQueuesWithoutWalk) {
  auto rgb = EmptyList(), none = EmptyList();
  Put(rgb.get(), 0, 1, kProfileStateFoundHidden, 1, "HID.ICC", "Hidden", 4);
  Put(rgb.get(), 1, 2, kProfileStateFoundShown, 1, "SHOWN.ICC", "Shown", 4);
  Put(rgb.get(), 2, 503, kProfileStateUserShown, 2, "USER.ICC", "User", 5);
  Put(rgb.get(), 3, 4, kProfileStateFoundHidden, 1, "GONE.ICC", "Gone", 4);
  rgb->iNum = 4;
  ASSERT_EQ(0, QVPListWriteProfile_All(rgb.get(), none.get(), none.get()));

  auto folded = EmptyList();
  ASSERT_EQ(0, QVPListReadProfile_Dict_Pap(folded.get(), kProfileListRGB));
  ASSERT_EQ(2, folded->iNum);
  EXPECT_STREQ("SHOWN.ICC", folded->entry[0].FileName);
  EXPECT_EQ(kProfileStateUserShown, folded->entry[0].InMenu);
  EXPECT_STREQ("USER.ICC", folded->entry[1].FileName);
  EXPECT_EQ(kProfileStateUserShown, folded->entry[1].InMenu);
  EXPECT_STREQ("", folded->entry[2].FileName);

  // The user renames SHOWN, keeps USER, deletes the hidden GONE entry.
  auto edited = EmptyList(), deleted = EmptyList();
  edited->entry[0] = folded->entry[0];
  std::strcpy(edited->entry[0].ProfileName, "Renamed");
  edited->entry[1] = folded->entry[1];
  edited->iNum = 2;
  deleted->entry[0] = rgb->entry[3];
  deleted->iNum = 1;
  ASSERT_EQ(0, QVPListWriteProfile_All_Pap(edited.get(), none.get(), none.get(), deleted.get(), none.get(),
                                           none.get()));
  auto back = EmptyList();
  ASSERT_EQ(0, QVPListReadProfile_Dict(back.get(), kProfileListRGB));
  ASSERT_EQ(3, back->iNum);
  EXPECT_STREQ("HID.ICC", back->entry[0].FileName);  // never seen by the editor, kept
  EXPECT_EQ(kProfileStateFoundHidden, back->entry[0].InMenu);
  EXPECT_STREQ("Renamed", back->entry[1].ProfileName);
  EXPECT_STREQ("USER.ICC", back->entry[2].FileName);

  // Without a stored file the save writes exactly the edited entries.
  ASSERT_EQ(0, ::unlink(current_.c_str()));
  ASSERT_EQ(0, QVPListWriteProfile_All_Pap(edited.get(), none.get(), none.get(), deleted.get(), none.get(),
                                           none.get()));
  ASSERT_EQ(0, QVPListReadProfile_Dict(back.get(), kProfileListRGB));
  EXPECT_EQ(2, back->iNum);
  EXPECT_STREQ("SHOWN.ICC", back->entry[0].FileName);
}

TEST(ListMaintenance, CleanCompactionSalvageAndMapping) {
  auto l = EmptyList();
  Put(l.get(), 0, 0, kProfileStateFoundShown, 1, "SHOWN.ICC", "S", 4);
  Put(l.get(), 3, 0, kProfileStateDeviceHidden, 1, "HID.ICC", "H", 4);
  Put(l.get(), 7, 9, kProfileStateDeviceShown, 1, "DEV.ICC", "D", 5);
  Put(l.get(), 9, 0, kProfileStateUserHidden, 2, "", "", 4);  // no file name: left alone
  l->iNum = 4;
  QVPListCleanProfile_Dict(l.get());
  EXPECT_EQ(501, l->entry[0].IndexOnDevice);
  EXPECT_EQ(kProfileStateDeviceShown, l->entry[0].InMenu);
  EXPECT_EQ(0, l->entry[3].InMenu);
  EXPECT_STREQ("", l->entry[3].FileName);
  EXPECT_EQ(3, l->iNum);
  EXPECT_EQ(kProfileStateUserHidden, l->entry[9].InMenu);

  QVPListPaddingProfile_Dict(l.get());
  EXPECT_STREQ("SHOWN.ICC", l->entry[0].FileName);
  EXPECT_STREQ("DEV.ICC", l->entry[1].FileName);
  EXPECT_EQ(kProfileStateUserHidden, l->entry[2].InMenu);
  for (int i = 3; i < kProfileSlotCount; ++i) ASSERT_EQ(0, l->entry[i].InMenu) << i;
  EXPECT_EQ(3, l->iNum);

  QVPListSalvage_Dict(l.get());
  EXPECT_EQ(kProfileStateUserShown, l->entry[0].InMenu);  // 501 and a name
  EXPECT_EQ(kProfileStateUserShown, l->entry[1].InMenu);
  EXPECT_EQ(kProfileStateUserHidden, l->entry[2].InMenu);

  // A full output list drops the rest without notice.
  auto stored = EmptyList(), edited = EmptyList(), out = EmptyList();
  for (int i = 0; i < kProfileSlotCount; ++i) {
    std::string name = "S" + std::to_string(i) + ".ICC";
    Put(stored.get(), i, i + 1, kProfileStateFoundHidden, 1, name.c_str(), "s", 4);
  }
  stored->iNum = kProfileSlotCount;
  Put(edited.get(), 0, 600, kProfileStateUserShown, 2, "E.ICC", "e", 4);
  edited->iNum = 1;
  QVPListMapping_Pap(edited.get(), stored.get(), out.get(), nullptr);
  EXPECT_EQ(kProfileSlotCount, out->iNum);
  EXPECT_STREQ("S499.ICC", out->entry[499].FileName);
  // A count beyond the list is taken as the list's size.
  edited->iNum = 100000;
  QVPListMapping_Pap(edited.get(), stored.get(), out.get(), nullptr);
  EXPECT_EQ(kProfileSlotCount, out->iNum);
}

}  // namespace
