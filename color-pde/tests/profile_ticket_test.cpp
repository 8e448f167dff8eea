// Stored profiles in the profile menus and the job ticket: menu items after
// the PPD choices, the chosen profile's printer path in the digit-pair code,
// and finding it again by that path.
#include <gtest/gtest.h>

#include "ColorTestSupport.h"
#include "PDECommon.h"
#include "ProfileTicket.h"
#include "profile_test_support.h"

namespace ns = R2740_COLOR_NS;
using colortest::Row;

namespace {

std::string PanesPPD() { return std::string(R2740_SOURCE_DIR) + "/color-pde/tests/data/panes_full.ppd"; }

class ProfileTicketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ns::PDECommon::commonSetPlugInBundle(strings.bundle());
    table = std::make_unique<colortest::Table>(
        std::initializer_list<ns::PDEControlRecord>{
            Row(rgb, kControlKindPopUp, "QVImageRGBSource", nullptr, nullptr, "", 1),
            Row(dst, kControlKindPopUp, "QVImageDestinationProfile", nullptr, nullptr, "", 2),
            Row(sim, kControlKindPopUp, "QVSimSource", nullptr, nullptr, "", 3),
            Row(plain, kControlKindPopUp, "QVImageHalftone", nullptr, nullptr, "", 0)},
        ppd.ppd);
    ns::PDECommon::commonBuildPDEItem(table->table, ppd.ppd);
  }
  void TearDown() override { ns::PDECommon::commonSetPlugInBundle(nullptr); }

  std::vector<std::string> Titles(const std::shared_ptr<ui::PopUpButton>& menu) {
    std::vector<std::string> out;
    for (int i = 0; i < menu->numberOfItems(); ++i) out.push_back(menu->itemTitleAtIndex(i));
    return out;
  }
  std::string Coded(const std::string& key) {
    auto s = dict->get<cf::String>(key);
    return s ? s->utf8() : "<none>";
  }

  proftest::Root root;
  colortest::ScratchBundle strings{"\"Disk\" = \"HDD\";\n\"Card\" = \"SD\";\n"};
  colortest::PPD ppd{PanesPPD()};
  std::shared_ptr<ui::PopUpButton> rgb = colortest::PopUp(), dst = colortest::PopUp(), sim = colortest::PopUp(),
                                   plain = colortest::PopUp();
  std::unique_ptr<colortest::Table> table;
  cf::DictionaryRef dict = cf::Dictionary::create();
};

TEST_F(ProfileTicketTest, MenusListShownProfilesAfterThePPDChoicesInListOrder) {
  using proftest::Entry;
  auto rgbList = proftest::List({Entry(4, "PHOTO.ICC", "Studio"), Entry(2, "HIDDEN.ICC", "H"),
                                 Entry(6, "USER.ICC", "Mine"), Entry(1, "OLD.ICC", "Old", 5),
                                 Entry(3, "CARD.ICC", "C", 5), Entry(5, "OFF.ICC", "Off")});
  auto dstList = proftest::List({Entry(6, "D.ICC", "Dest")});
  auto simList = proftest::List({});
  ASSERT_TRUE(proftest::WriteLists(*rgbList, *simList, *dstList));
  const int rgbChoices = rgb->numberOfItems();
  const int simChoices = sim->numberOfItems();
  ASSERT_EQ(rgbChoices, 3);

  EXPECT_EQ(ns::PDECommon::commonAddMenuFromProfilePlist(table->table), 0);
  auto titles = Titles(rgb);
  ASSERT_EQ(titles.size(), 6u);
  EXPECT_EQ(titles[3], "PHOTO.ICC(Studio)HDD");
  EXPECT_EQ(titles[4], "USER.ICC(Mine)HDD");
  EXPECT_EQ(titles[5], "CARD.ICC(C)SD");
  EXPECT_EQ(Titles(dst).back(), "D.ICC(Dest)HDD");
  EXPECT_EQ(sim->numberOfItems(), simChoices);

  // The second profile item is the second shown entry, not the second entry.
  EXPECT_EQ(ns::PDECommon::commonSetTicketAddedProfile(&table->table[0], dict, 2), 0);
  EXPECT_EQ(Coded("QVImageRGBSourceCustomFilename"), ns::EncodeDigitPair("/ata1a/data/USfiles/Profiles/USER.ICC"));
  EXPECT_EQ(Coded("QVImageRGBSource"), "None");  // the first PPD choice
  EXPECT_EQ(Coded("QVImageRGBSourceCustom"), "True");
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], dict), 2);

  // The card entry: card folder, coded two characters per byte.
  ns::PDECommon::commonSetTicketAddedProfile(&table->table[0], dict, 3);
  std::string coded = Coded("QVImageRGBSourceCustomFilename");
  EXPECT_EQ(coded.substr(0, 2), "2?");
  EXPECT_EQ(*ns::DecodeDigitPair(coded), "/ataCf1a/data/USfiles/Profiles/CARD.ICC");
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], dict), 3);

  // The file changes under the menus (another dialog's walk): positions
  // stay those of the items shown, and the ticket names the chosen item's
  // profile.
  auto grown = proftest::List({Entry(6, "NEW1.ICC", "N"), Entry(4, "PHOTO.ICC", "Studio"),
                               Entry(6, "NEW2.ICC", "N"), Entry(3, "CARD.ICC", "C", 5)});
  ASSERT_TRUE(proftest::WriteLists(*grown, *simList, *dstList));
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], dict), 3);
  ns::PDECommon::commonSetTicketAddedProfile(&table->table[0], dict, 2);
  EXPECT_EQ(*ns::DecodeDigitPair(Coded("QVImageRGBSourceCustomFilename")), "/ata1a/data/USfiles/Profiles/USER.ICC");
  ns::PDECommon::commonSetTicketAddedProfile(&table->table[0], dict, 3);
  // Menus rebuilt: found again at its new position by its path.
  auto rebuild = [&] {
    ns::PDECommon::commonBuildPDEItem(table->table, ppd.ppd);
    ASSERT_EQ(ns::PDECommon::commonAddMenuFromProfilePlist(table->table), 0);
  };
  rebuild();
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], dict), 4);
  // Hidden since: no longer found.
  grown->entry[3].InMenu = 1;
  ASSERT_TRUE(proftest::WriteLists(*grown, *simList, *dstList));
  rebuild();
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], dict), 0);

  // A position beyond the shown profiles writes an empty path, still "True".
  EXPECT_EQ(ns::PDECommon::commonSetTicketAddedProfile(&table->table[0], dict, 9), 0);
  EXPECT_EQ(Coded("QVImageRGBSourceCustomFilename"), "");
  EXPECT_EQ(Coded("QVImageRGBSourceCustom"), "True");
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], dict), 0);

  // Destination rows read the DST list.
  ns::PDECommon::commonSetTicketAddedProfile(&table->table[1], dict, 1);
  EXPECT_EQ(*ns::DecodeDigitPair(Coded("QVImageDestinationProfileCustomFilename")),
            "/ata1a/data/USfiles/Profiles/D.ICC");
}

TEST_F(ProfileTicketTest, RowsThatAreNotProfileTypedAndMissingFiles) {
  ns::PDEControlRecord* row = &table->table[3];
  EXPECT_EQ(ns::PDECommon::commonSetTicketAddedProfileFlag(row, dict, cf::str("True")), 0);
  EXPECT_TRUE(dict->empty());
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfileFlag(row, dict), nullptr);
  EXPECT_EQ(ns::PDECommon::commonSetTicketAddedProfile(row, dict, 1), -1);
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(row, dict), -1);
  EXPECT_EQ(ns::PDECommon::commonSetTicketAddedProfile(&table->table[0], nullptr, 1), -1);
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], nullptr), -1);

  // No profile file: menus keep the PPD choices; a chosen position still
  // marks the row as a profile, with an empty path that names none.
  const int before = rgb->numberOfItems();
  EXPECT_EQ(ns::PDECommon::commonAddMenuFromProfilePlist(table->table), -1);
  EXPECT_EQ(rgb->numberOfItems(), before);
  EXPECT_EQ(ns::PDECommon::commonSetTicketAddedProfile(&table->table[0], dict, 1), 0);
  EXPECT_EQ(Coded("QVImageRGBSourceCustomFilename"), "");
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], dict), 0);

  // The flag is a string, never a boolean; a boolean reads back as none.
  ns::PDECommon::commonSetTicketAddedProfileFlag(&table->table[0], dict, cf::str("False"));
  EXPECT_EQ(Coded("QVImageRGBSourceCustom"), "False");
  dict->setValue("QVImageRGBSourceCustom", cf::Boolean::kTrue());
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfileFlag(&table->table[0], dict), nullptr);
  // A stored value that is not a string or not ASCII names nothing.
  dict->setValue("QVImageRGBSourceCustomFilename", cf::num(1));
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], dict), 0);
  dict->setValue("QVImageRGBSourceCustomFilename", cf::str("2?\xC3\xA9"));
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table->table[0], dict), 0);
}

TEST(ProfileDigitPair, CodeAndPaths) {
  EXPECT_EQ(ns::EncodeDigitPair("abc"), "616263");
  EXPECT_EQ(ns::EncodeDigitPair("/"), "2?");
  EXPECT_EQ(ns::EncodeDigitPair("\xFF"), "??");
  EXPECT_EQ(*ns::DecodeDigitPair("616263"), "abc");
  EXPECT_EQ(*ns::DecodeDigitPair(""), "");
  // An odd last character pairs with a zero code: (16 * '7' - 48) % 256 = 64 ('@').
  EXPECT_EQ(*ns::DecodeDigitPair("617"), "a@");
  EXPECT_FALSE(ns::DecodeDigitPair("??").has_value());  // byte 0xFF is not UTF-8
  EXPECT_FALSE(ns::DecodeDigitPair(std::string(1024, '4')).has_value());
  EXPECT_TRUE(ns::DecodeDigitPair(std::string(1022, '4')).has_value());
  const std::string path = "/ataCf1a/data/USfiles/Profiles/\xE5\x86\x99\xE7\x9C\x9F.icc";
  EXPECT_EQ(*ns::DecodeDigitPair(ns::EncodeDigitPair(path)), path);

  ProfileEntry e = proftest::Entry(4, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", "n", 5);
  EXPECT_EQ(ns::ProfileDevicePath(e), "/ataCf1a/data/USfiles/Profiles/ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  e.Location = 7;
  EXPECT_EQ(ns::ProfileDevicePath(e), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  // A display name cut inside a character still makes a readable title.
  ProfileEntry cut = proftest::Entry(4, "A.ICC", "\xE5\x86\x99\xE7", 4);
  EXPECT_EQ(ns::ProfileMenuTitle(cut), "A.ICC(\xE5\x86\x99)Disk");
}

}  // namespace
