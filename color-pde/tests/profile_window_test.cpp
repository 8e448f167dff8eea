// The profile management window from the plug-in's interface file, worked
// through a scripted modal handler as a user would: list switching, the
// in-menu check box, adding, editing, deleting, browsing, and what the
// window's OK and Cancel leave in the profile file.
#include <gtest/gtest.h>

#include <functional>

#include "ColorTextField.h"
#include "IconedCell.h"
#include "ProfileControl.h"
#include "ProfileTicket.h"
#include "panes_fixture.h"
#include "profile_test_support.h"

namespace R2740_COLOR_NS {
namespace {

using proftest::Entry;

class Script : public ui::ModalHandler {
 public:
  std::function<void()> steps;
  std::vector<std::string> chosen;  // the open panel's answer; empty: Cancel
  std::string panelDirectory;
  int windows = 0;
  int runAlert(ui::Alert&) override { return ui::kAlertFirstButtonReturn; }
  int runOpenPanel(ui::OpenPanel& panel) override {
    panelDirectory = panel.directory;
    if (chosen.empty()) return ui::kModalResponseCancel;
    panel.filenames = chosen;
    return ui::kModalResponseOK;
  }
  void runModalForWindow(const ui::WindowRef&) override {
    ++windows;
    if (steps) steps();
  }
};

class ProfileWindowTest : public panes_test::PanesTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(std::filesystem::path(sys::ResolvePath(kProfileIconPath)).parent_path());
    std::ofstream(sys::ResolvePath(kProfileIconPath)) << "icon";
    script = std::make_shared<Script>();
    ui::SetModalHandler(script);
    PanesTest::SetUp();
    pc = owner->profileControl;
    ASSERT_TRUE(pc);
    for (const auto& w : nib.warnings) ADD_FAILURE() << w;  // every outlet and action of the window connects
    ASSERT_TRUE(pc->_fileNameEdit && pc->_profileNameEdit && pc->_profileTableView && pc->_profileMenu);
    pc->setPMPrint(&settings, &session);
    pc->setConstTable(compTable);
  }
  void TearDown() override {
    ui::SetModalHandler(nullptr);
    PanesTest::TearDown();
  }
  void Open(std::function<void()> steps) {
    script->steps = std::move(steps);
    root.TakeHelperLog();
    pc->showProfileManagementWindow(nullptr);
  }
  ui::TableView& table() { return *pc->_profileTableView; }
  int Column(const std::string& id) {
    auto& cols = table().tableColumns();
    for (size_t i = 0; i < cols.size(); ++i)
      if (cols[i].identifier == id) return static_cast<int>(i);
    return -1;
  }
  std::string Text(const std::string& id, int row) {
    auto s = cf::As<cf::String>(table().objectValue(Column(id), row));
    return s ? s->utf8() : "<none>";
  }
  bool HasIcon(int row) {
    table().objectValue(Column("icon"), row);
    auto* col = table().tableColumnWithIdentifier("icon");
    return col && col->dataCell && col->dataCell->image();
  }
  void TypeInto(QVTextField& field, const std::string& text) {
    field.userSelect({0, field.length()});
    field.userType(text);
  }
  bool Enabled(const std::shared_ptr<ui::Control>& c) { return c && c->isEnabled(); }

  proftest::Root root;
  std::shared_ptr<Script> script;
  std::shared_ptr<ProfileControl> pc;
};

TEST_F(ProfileWindowTest, EditsOnWorkingCopiesAndOKWritesThem) {
  auto rgb = proftest::List({Entry(4, "FOUND.ICC", "Found"), Entry(1, "GONE.ICC", "Gone", 5),
                             Entry(6, "MINE.ICC", "Mine")});
  auto sim = proftest::List({Entry(2, "SIMF.ICC", "Sim")});
  auto dst = proftest::List({});
  ASSERT_TRUE(proftest::WriteLists(*rgb, *sim, *dst));

  Open([&] {
    ASSERT_EQ(table().numberOfRows(), 3);
    EXPECT_EQ(Text("filename", 0), "FOUND.ICC");
    EXPECT_EQ(Text("profilename", 1), "Gone");
    EXPECT_EQ(Text("location", 1), "Card");
    EXPECT_EQ(Text("location", 2), "Disk");
    EXPECT_EQ(cf::As<cf::Number>(table().objectValue(Column("inmenu"), 0))->int64Value(), 1);
    EXPECT_EQ(cf::As<cf::Number>(table().objectValue(Column("inmenu"), 1))->int64Value(), 0);
    EXPECT_TRUE(std::dynamic_pointer_cast<IconedCell>(table().tableColumnWithIdentifier("icon")->dataCell));
    EXPECT_TRUE(HasIcon(0));  // confirmed on the printer, lpd queue
    EXPECT_FALSE(HasIcon(1));
    EXPECT_FALSE(HasIcon(2));
    EXPECT_TRUE(Enabled(pc->_addButton));
    EXPECT_FALSE(Enabled(pc->_editButton) || Enabled(pc->_deleteButton) || Enabled(pc->_fileNameEdit));

    // Selecting: a confirmed entry cannot be deleted, an unconfirmed one can.
    ASSERT_TRUE(table().userSelectRow(0));
    EXPECT_TRUE(Enabled(pc->_editButton));
    EXPECT_FALSE(Enabled(pc->_deleteButton));
    EXPECT_EQ(pc->_fileNameEdit->stringValue(), "FOUND.ICC");
    EXPECT_EQ(pc->_profileNameEdit->stringValue(), "Found");
    ASSERT_TRUE(table().userSelectRow(1));
    EXPECT_TRUE(Enabled(pc->_deleteButton));

    // The check box: 4 -> 2 -> 4; each list keeps its own changes.
    table().userSetObjectValue(Column("inmenu"), 0, cf::num(0));
    EXPECT_EQ(pc->plistRGBDict().entry[0].InMenu, 2);
    table().userSetObjectValue(Column("inmenu"), 1, cf::num(1));
    EXPECT_EQ(pc->plistRGBDict().entry[1].InMenu, 3);
    ASSERT_TRUE(std::dynamic_pointer_cast<ui::PopUpButton>(pc->_profileMenu)->userSelectItem(1));
    EXPECT_EQ(table().numberOfRows(), 1);
    EXPECT_EQ(table().selectedRow(), -1);
    table().userSetObjectValue(Column("inmenu"), 0, cf::num(1));
    EXPECT_EQ(pc->plistSIMDict().entry[0].InMenu, 4);
    std::dynamic_pointer_cast<ui::PopUpButton>(pc->_profileMenu)->userSelectItem(0);
    EXPECT_EQ(pc->plistRGBDict().entry[0].InMenu, 2);
    table().userSetObjectValue(Column("inmenu"), 0, cf::num(1));
    EXPECT_EQ(pc->plistRGBDict().entry[0].InMenu, 4);

    // Editing an entry from the printer changes its display name only.
    table().userSelectRow(0);
    ASSERT_TRUE(pc->_editButton->userClick());
    EXPECT_FALSE(Enabled(pc->_fileNameEdit) || Enabled(pc->_browse) || Enabled(pc->_profileMenu));
    EXPECT_TRUE(Enabled(pc->_profileNameEdit) && Enabled(pc->_localOK));
    EXPECT_FALSE(table().userSelectRow(2));  // the selection holds while editing
    TypeInto(*pc->_profileNameEdit, "Renamed");
    pc->_fileNameEdit->setStringValue("OTHER.ICC");
    ASSERT_TRUE(pc->_localOK->userClick());
    EXPECT_EQ(pc->buttonIdentify, ProfileControl::kEditIdle);
    EXPECT_STREQ(pc->plistRGBDict().entry[0].FileName, "FOUND.ICC");
    EXPECT_STREQ(pc->plistRGBDict().entry[0].ProfileName, "Renamed");
    EXPECT_EQ(table().selectedRow(), -1);

    // Adding: OK waits for a usable file name; a duplicate is refused.
    ASSERT_TRUE(pc->_addButton->userClick());
    EXPECT_FALSE(Enabled(pc->_localOK) || Enabled(pc->_profileMenu) || Enabled(pc->_addButton));
    TypeInto(*pc->_fileNameEdit, "MINE.ICC");
    EXPECT_TRUE(Enabled(pc->_localOK));
    pc->_localOK->userClick();
    EXPECT_EQ(pc->buttonIdentify, ProfileControl::kEditAdding);
    EXPECT_EQ(pc->plistRGBDict().iNum, 3);
    TypeInto(*pc->_fileNameEdit, "GONE.ICC");  // same name as the card entry, but on the disk
    TypeInto(*pc->_profileNameEdit, "New one");
    pc->_localOK->userClick();
    ASSERT_EQ(pc->plistRGBDict().iNum, 4);
    const ProfileEntry& added = pc->plistRGBDict().entry[3];
    EXPECT_STREQ(added.FileName, "GONE.ICC");
    EXPECT_STREQ(added.ProfileName, "New one");
    EXPECT_EQ(added.IndexOnDevice, 503);
    EXPECT_EQ(added.InMenu, 6);
    EXPECT_EQ(added.ProfileClass, 2);
    EXPECT_EQ(added.ProfileAvailability, 3);
    EXPECT_EQ(added.Location, 4);
    EXPECT_TRUE(Enabled(pc->_profileMenu));

    // Deleting the unconfirmed card entry moves the later ones up.
    table().userSelectRow(1);
    ASSERT_TRUE(pc->_deleteButton->userClick());
    EXPECT_EQ(pc->plistRGBDict().iNum, 3);
    EXPECT_STREQ(pc->plistRGBDict().entry[1].FileName, "MINE.ICC");
    EXPECT_STREQ(pc->plistRGBDict().entry[2].FileName, "GONE.ICC");
    EXPECT_EQ(pc->plistRGBDict().entry[3].InMenu, 0);
    EXPECT_EQ(table().selectedRow(), -1);
    EXPECT_TRUE(Enabled(pc->_addButton));
    EXPECT_FALSE(Enabled(pc->_editButton) || Enabled(pc->_deleteButton));
    EXPECT_TRUE(root.TakeHelperLog().empty());  // nothing written before OK

    pc->profileWindowOK(nullptr);
  });
  EXPECT_EQ(script->windows, 1);
  EXPECT_FALSE(pc->_profileManagementWindow->isVisible());
  EXPECT_EQ(pc->_profileManagementWindow->title(), "Profile Management");
  EXPECT_TRUE(root.Wrote());

  auto stored = proftest::ReadLists();
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->rgb.iNum, 3);
  EXPECT_STREQ(stored->rgb.entry[0].ProfileName, "Renamed");
  EXPECT_EQ(stored->rgb.entry[0].InMenu, 4);
  EXPECT_STREQ(stored->rgb.entry[2].FileName, "GONE.ICC");
  EXPECT_EQ(stored->sim.entry[0].InMenu, 4);
  // The pane's menus now offer the written lists after the PPD choices.
  auto menu = advanced->menu_iRGBSource;
  const int n = static_cast<int>(advanced->getControlData()[0].choices->count());
  ASSERT_EQ(menu->numberOfItems(), n + 3);
  EXPECT_EQ(menu->itemTitleAtIndex(n), "FOUND.ICC(Renamed)Disk");
  EXPECT_EQ(menu->itemTitleAtIndex(n + 2), "GONE.ICC(New one)Disk");
  EXPECT_EQ(advanced->menu_sSimulationProfile->itemTitleAtIndex(
                static_cast<int>(advanced->getControlData()[18].choices->count())),
            "SIMF.ICC(Sim)Disk");
}

TEST_F(ProfileWindowTest, CancelWritesNothingAndReopeningShowsTheStoredLists) {
  auto rgb = proftest::List({Entry(6, "MINE.ICC", "Mine")});
  auto empty = proftest::List({});
  ASSERT_TRUE(proftest::WriteLists(*rgb, *empty, *empty));
  const auto before = sys::ReadFile(QVPListCurrentPath());

  Open([&] {
    table().userSetObjectValue(Column("inmenu"), 0, cf::num(0));
    pc->_addButton->userClick();
    TypeInto(*pc->_fileNameEdit, "X.ICC");
    pc->_localOK->userClick();
    EXPECT_EQ(pc->plistRGBDict().iNum, 2);
    pc->profileWindowCancel(nullptr);
  });
  EXPECT_FALSE(root.Wrote());
  EXPECT_EQ(sys::ReadFile(QVPListCurrentPath()), before);

  // Reopened: the stored list again; a session the host aborts writes nothing.
  Open([&] {
    EXPECT_EQ(table().numberOfRows(), 1);
    EXPECT_EQ(pc->plistRGBDict().entry[0].InMenu, 6);
    table().userSetObjectValue(Column("inmenu"), 0, cf::num(0));
  });
  EXPECT_FALSE(root.Wrote());
  EXPECT_FALSE(pc->_profileManagementWindow->isVisible());
}

TEST_F(ProfileWindowTest, SocketQueueShowsPrinterProfilesAsAnLpdQueue) {
  pm::Printer socket{"R2740_Socket", "socket://10.0.0.5:9100"};
  session.setCurrentPrinter(&socket);
  auto rgb = proftest::List({Entry(2, "HID.ICC", "Hidden"), Entry(4, "SHOWN.ICC", "Shown")});
  auto empty = proftest::List({});
  ASSERT_TRUE(proftest::WriteLists(*rgb, *empty, *empty));
  Open([&] {
    ASSERT_EQ(table().numberOfRows(), 2);  // nothing folded away
    EXPECT_TRUE(HasIcon(0));
    EXPECT_TRUE(HasIcon(1));
  });
  session.setCurrentPrinter(&printer);
}

TEST_F(ProfileWindowTest, UsbQueueFoldsDeviceEntriesAndMergesOnSave) {
  pm::Printer usb{"R2740_USB", "usb://ORVESSA/R2740?serial=1"};
  session.setCurrentPrinter(&usb);
  auto rgb = proftest::List({Entry(2, "HID.ICC", "Hidden"), Entry(4, "SHOWN.ICC", "Shown"),
                             Entry(6, "USER.ICC", "User", 4, 502), Entry(1, "OLD.ICC", "Old")});
  auto empty = proftest::List({});
  ASSERT_TRUE(proftest::WriteLists(*rgb, *empty, *empty));

  Open([&] {
    ASSERT_EQ(table().numberOfRows(), 3);
    EXPECT_EQ(Text("filename", 0), "SHOWN.ICC");
    EXPECT_EQ(pc->plistRGBDict().entry[0].InMenu, 6);
    for (int r = 0; r < 3; ++r) EXPECT_FALSE(HasIcon(r)) << r;

    // An entry entered by hand: every field may change; the old one is
    // remembered as replaced.
    table().userSelectRow(1);
    pc->_editButton->userClick();
    EXPECT_TRUE(Enabled(pc->_fileNameEdit) && Enabled(pc->_browse));
    TypeInto(*pc->_fileNameEdit, "USER2.ICC");
    pc->_localOK->userClick();
    EXPECT_STREQ(pc->plistRGBDict().entry[1].FileName, "USER2.ICC");
    ASSERT_EQ(pc->plistRGBDelete().iNum, 1);
    EXPECT_STREQ(pc->plistRGBDelete().entry[0].FileName, "USER.ICC");

    table().userSelectRow(2);
    pc->_deleteButton->userClick();
    EXPECT_EQ(pc->plistRGBDelete().iNum, 2);
    pc->profileWindowOK(nullptr);
  });
  EXPECT_TRUE(root.Wrote());
  auto stored = proftest::ReadLists();
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->rgb.iNum, 3);
  EXPECT_STREQ(stored->rgb.entry[0].FileName, "HID.ICC");  // never shown, kept
  EXPECT_EQ(stored->rgb.entry[0].InMenu, 2);
  EXPECT_STREQ(stored->rgb.entry[1].FileName, "SHOWN.ICC");
  EXPECT_EQ(stored->rgb.entry[1].InMenu, 6);
  EXPECT_STREQ(stored->rgb.entry[2].FileName, "USER2.ICC");
}

TEST_F(ProfileWindowTest, BrowseTakesOnlyAUsableFileName) {
  auto empty = proftest::List({});
  ASSERT_TRUE(proftest::WriteLists(*empty, *empty, *empty));
  Open([&] {
    pc->_addButton->userClick();
    // The last three fit 31 characters but the walk would drop them: a
    // fourth extension letter, 30 without a dot, a base of 28.
    for (const char* bad : {"/p/TWO.DOTS.ICC", "/p/HAS SPACE.ICC", "/p/ABCDEFGHIJKLMNOPQRSTUVWXYZ0123.I",
                            "/p/PROFILE.ICCX", "/p/ABCDEFGHIJKLMNOPQRSTUVWXYZ0123",
                            "/p/ABCDEFGHIJKLMNOPQRSTUVWXYZ01.IC"}) {
      TypeInto(*pc->_fileNameEdit, "KEEP");
      script->chosen = {bad};
      pc->_browse->userClick();
      EXPECT_EQ(pc->_fileNameEdit->stringValue(), "") << bad;
      EXPECT_FALSE(Enabled(pc->_localOK)) << bad;
    }
    script->chosen = {};
    TypeInto(*pc->_fileNameEdit, "KEEP");
    pc->_browse->userClick();  // cancelled: nothing changes
    EXPECT_EQ(pc->_fileNameEdit->stringValue(), "KEEP");
    EXPECT_EQ(script->panelDirectory, sys::ResolvePath(kProfileBrowseFolder));

    script->chosen = {"/p/" + std::string(27, 'A')};  // the longest names the walk keeps
    pc->_browse->userClick();
    EXPECT_EQ(pc->_fileNameEdit->stringValue(), std::string(27, 'A'));
    script->chosen = {"/p/" + std::string(27, 'B') + ".ICC"};
    pc->_browse->userClick();
    EXPECT_EQ(pc->_fileNameEdit->stringValue(), std::string(27, 'B') + ".ICC");
    script->chosen = {"/p/folder/GOOD.ICC"};
    pc->_browse->userClick();
    EXPECT_EQ(pc->_fileNameEdit->stringValue(), "GOOD.ICC");
    EXPECT_EQ(pc->_fileNameEdit->oldValue, "GOOD.ICC");
    EXPECT_TRUE(Enabled(pc->_localOK));
    pc->_localOK->userClick();
    EXPECT_EQ(pc->plistRGBDict().iNum, 1);
    pc->profileWindowCancel(nullptr);
  });
}

TEST_F(ProfileWindowTest, FullListRefusesAddingAndLastDeleteLeavesEmptyTable) {
  std::vector<ProfileEntry> many;
  for (int i = 0; i < kProfileSlotCount; ++i)
    many.push_back(Entry(6, ("P" + std::to_string(i) + ".ICC").c_str(), "n", 4, 500 + i));
  auto full = proftest::List(many);
  auto one = proftest::List({Entry(5, "ONLY.ICC", "Only")});
  ASSERT_TRUE(proftest::WriteLists(*full, *one, *one));
  Open([&] {
    EXPECT_EQ(table().numberOfRows(), kProfileSlotCount);
    pc->_addButton->userClick();
    TypeInto(*pc->_fileNameEdit, "NEW.ICC");
    pc->_localOK->userClick();
    EXPECT_EQ(pc->buttonIdentify, ProfileControl::kEditAdding);
    EXPECT_EQ(pc->plistRGBDict().iNum, kProfileSlotCount);
    pc->_localCancel->userClick();
    EXPECT_EQ(pc->buttonIdentify, ProfileControl::kEditIdle);

    std::dynamic_pointer_cast<ui::PopUpButton>(pc->_profileMenu)->userSelectItem(2);
    table().userSelectRow(0);
    pc->_deleteButton->userClick();
    EXPECT_EQ(table().numberOfRows(), 0);
    EXPECT_TRUE(Enabled(pc->_addButton));
    EXPECT_FALSE(Enabled(pc->_editButton) || Enabled(pc->_deleteButton));
    pc->profileWindowCancel(nullptr);
  });
}

}  // namespace
}  // namespace R2740_COLOR_NS
