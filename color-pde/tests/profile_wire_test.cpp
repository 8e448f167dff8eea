// The chosen profile's printer path in the ticket, against fixed bytes
// written down once with Python from the digit-pair rule (byte b -> the
// characters 48 + b / 16 and 48 + b % 16):
//   ''.join(chr(48 + b // 16) + chr(48 + b % 16) for b in path.encode())
#include <gtest/gtest.h>

#include "ColorTestSupport.h"
#include "PDECommon.h"
#include "ProfileTicket.h"
#include "profile_test_support.h"

namespace ns = R2740_COLOR_NS;
using proftest::Entry;

namespace {

// "/ataCf1a/data/USfiles/Profiles/PHOTO.ICC"
const char kCardPhoto[] = "2?617461436631612?646174612?555366696<65732?50726?66696<65732?50484?544?2>494343";
// "/ata1a/data/USfiles/Profiles/" then U+5199 U+771F ".ICC"
const char kDiskKanji[] = "2?61746131612?646174612?555366696<65732?50726?66696<65732?>58699>79<9?2>494343";
const char kKanjiFile[] = "\xE5\x86\x99\xE7\x9C\x9F.ICC";

}  // namespace

TEST(ProfileTicketWire, ChosenProfilesTravelAsGoldenDigitPairs) {
  proftest::Root root(false);
  colortest::PPD ppd{std::string(R2740_SOURCE_DIR) + "/color-pde/tests/data/panes_full.ppd"};
  ASSERT_TRUE(ppd.ppd);
  colortest::Table table({colortest::Row(colortest::PopUp(), kControlKindPopUp, "QVImageRGBSource", nullptr, nullptr,
                                         "", 1)},
                         ppd.ppd);
  auto rgb = proftest::List({Entry(4, kKanjiFile, "K", 4), Entry(2, "HIDDEN.ICC", "H", 5),
                             Entry(4, "PHOTO.ICC", "Studio", 5)});
  auto none = proftest::List({});
  ASSERT_TRUE(proftest::WriteLists(*rgb, *none, *none));
  ns::PDECommon::commonBuildPDEItem(table.table, ppd.ppd);
  ASSERT_EQ(ns::PDECommon::commonAddMenuFromProfilePlist(table.table), 0);

  auto dict = cf::Dictionary::create();
  auto coded = [&] {
    auto s = dict->get<cf::String>("QVImageRGBSourceCustomFilename");
    return s ? s->utf8() : "<none>";
  };
  ASSERT_EQ(ns::PDECommon::commonSetTicketAddedProfile(&table[0], dict, 2), 0);
  EXPECT_EQ(coded(), kCardPhoto);
  ASSERT_EQ(ns::PDECommon::commonSetTicketAddedProfile(&table[0], dict, 1), 0);
  EXPECT_EQ(coded(), kDiskKanji);

  // Read back from the fixed text, as the driver's ticket brings it.
  dict->setValue("QVImageRGBSourceCustomFilename", cf::str(kCardPhoto));
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table[0], dict), 2);
  dict->setValue("QVImageRGBSourceCustomFilename", cf::str(kDiskKanji));
  EXPECT_EQ(ns::PDECommon::commonGetTicketAddedProfile(&table[0], dict), 1);
  EXPECT_EQ(ns::DecodeDigitPair(kDiskKanji), "/ata1a/data/USfiles/Profiles/" + std::string(kKanjiFile));
}
