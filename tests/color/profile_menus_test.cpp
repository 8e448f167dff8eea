// Stored profiles through the host, as the print system and a user meet
// them: the colour build's profile menus, the profile entries its save
// leaves in the print settings, finding a chosen profile again in a later
// dialog, the command line's profile choice, and the profile window saving
// through the real helper and service.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "ProfileTestSupport.h"
#include "host.h"
#include "ui/ui.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kKey = "QVImageRGBSource";
constexpr const char* kQueue = "R2740_Queue_1";

ProfileEntry Entry(int32_t inMenu, const char* file, const char* name, int32_t location = 4) {
  ProfileEntry e{};
  e.IndexOnDevice = 1;
  e.InMenu = inMenu;
  e.ProfileClass = 1;
  std::strncpy(e.FileName, file, sizeof e.FileName - 1);
  std::strncpy(e.ProfileName, name, sizeof e.ProfileName - 1);
  e.Location = location;
  return e;
}

// The digit-pair code the driver reads: each byte as two characters 48 + b / 16, 48 + b % 16.
std::string Coded(const std::string& path) {
  std::string out;
  for (unsigned char b : path) {
    out.push_back(static_cast<char>(48 + b / 16));
    out.push_back(static_cast<char>(48 + b % 16));
  }
  return out;
}

std::string Str(const cf::DictionaryRef& d, const std::string& key) {
  auto s = d ? d->get<cf::String>(key) : nullptr;
  return s ? s->utf8() : "<none>";
}

class ProfileHostTest : public ::testing::Test {
 protected:
  explicit ProfileHostTest(bool withService = false) : root_(withService) {
    ::setenv("R2740_LANG", "en", 1);
    user_ = sys::LoginName();
  }
  ~ProfileHostTest() override { ui::SetModalHandler(nullptr); }

  // The RGB list (and empty SIM and DST lists) written by the store.
  void Store(const std::vector<ProfileEntry>& rgb) {
    auto lists = std::make_unique<ProfileList[]>(3);
    for (size_t i = 0; i < rgb.size(); ++i) lists[0].entry[i] = rgb[i];
    lists[0].iNum = static_cast<int32_t>(rgb.size());
    std::string path = root_.ProfilePath(user_), prev = root_.PrevPath(user_);
    QV_PLIST_PROFILE_PATH = path.c_str();
    QV_PLIST_PROFILE_PREV_PATH = prev.c_str();
    ASSERT_EQ(QVPListWriteProfile_All(&lists[0], &lists[1], &lists[2]), 0);
    QV_PLIST_PROFILE_PATH = nullptr;
    QV_PLIST_PROFILE_PREV_PATH = nullptr;
  }
  std::unique_ptr<ProfileList> StoredRGB() {
    auto list = std::make_unique<ProfileList>();
    std::string path = root_.ProfilePath(user_);
    QV_PLIST_PROFILE_PATH = path.c_str();
    int status = QVPListReadProfile_Dict(list.get(), kProfileListRGB);
    QV_PLIST_PROFILE_PATH = nullptr;
    return status == 0 ? std::move(list) : nullptr;
  }

  std::unique_ptr<host::DialogSession> Open(const cf::DictionaryRef& settings = nullptr,
                                            const std::string& uri = "lpd://127.0.0.1/queue") {
    std::string error;
    if (!plugin_) plugin_ = host::LoadPlugIn(std::string(R2740_BUNDLE_DIR) + "/ColorOptionsPDE_R2740.plugin", &error);
    EXPECT_TRUE(plugin_) << error;
    auto ppd = host::PPDFile::open(PPD(), &error);
    auto cb = std::make_shared<host::HostCallback>(host::ManualQueue(PPD(), kQueue, uri), std::move(ppd));
    auto session = std::make_unique<host::DialogSession>(cb, std::vector<host::PlugInRef>{plugin_});
    if (settings) session->loadSettings(settings);
    EXPECT_TRUE(session->open(&error)) << error;
    return session;
  }
  static std::string PPD() { return std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd"; }

  template <class T>
  static std::shared_ptr<T> Find(host::DialogSession& s, const std::string& id) {
    for (auto& p : s.panels()) {
      std::vector<ui::ViewRef> roots{p.view};
      for (auto& v : p.panel->allViews()) roots.push_back(v);
      for (auto& r : roots)
        if (auto found = r ? std::dynamic_pointer_cast<T>(r->findByIdentifier(id)) : nullptr) return found;
    }
    return nullptr;
  }
  static std::vector<std::string> Titles(ui::PopUpButton& menu) {
    std::vector<std::string> t;
    for (int i = 0; i < menu.numberOfItems(); ++i) t.push_back(menu.itemTitleAtIndex(i));
    return t;
  }

  // r2740-pde-cli on the colour build with the given queue URI, standard
  // error and output together.
  sys::TaskResult Cli(const std::string& uri, const std::vector<std::string>& args) {
    const std::string bundles = root_.root() + "/bundles";
    if (!fs::exists(bundles)) {
      fs::create_directories(bundles);
      fs::create_directory_symlink(std::string(R2740_BUNDLE_DIR) + "/ColorOptionsPDE_R2740.plugin",
                                   bundles + "/ColorOptionsPDE_R2740.plugin");
    }
    std::vector<std::string> argv = {"-c", "exec \"$0\" \"$@\" 2>&1", std::string(R2740_BINARY_DIR) + "/bin/r2740-pde-cli",
                                     "--ppd", PPD(), "--queue-id", kQueue, "--device-uri", uri, "--bundles", bundles};
    argv.insert(argv.end(), args.begin(), args.end());
    return sys::RunTask("/bin/sh", argv);
  }

  proftest::ServiceRoot root_;
  std::string user_;
  host::PlugInRef plugin_;
};

// No helper is installed: the plug-in reads the profile file itself and
// starts no device walk.
class ProfileMenuTest : public ProfileHostTest {};

TEST_F(ProfileMenuTest, ChosenProfileReachesTheTicketAndIsFoundAgainByItsPath) {
  Store({Entry(4, "PHOTO.ICC", "Studio"), Entry(2, "HID.ICC", "Hidden"), Entry(6, "USER.ICC", "Mine"),
         Entry(3, "CARD.ICC", "C", 5)});
  cf::DictionaryRef saved;
  {
    auto s = Open();
    auto menu = Find<ui::PopUpButton>(*s, kKey);
    ASSERT_TRUE(menu);
    auto titles = Titles(*menu);
    ASSERT_EQ(titles.size(), 6u);  // three PPD choices, then the shown profiles in list order
    EXPECT_EQ(titles[0], "None");
    EXPECT_EQ(titles[3], "PHOTO.ICC(Studio)Disk");
    EXPECT_EQ(titles[4], "USER.ICC(Mine)Disk");
    EXPECT_EQ(titles[5], "CARD.ICC(C)Card");
    std::string error;
    ASSERT_TRUE(s->setControl(kKey, "USER.ICC(Mine)Disk", &error)) << error;
    ASSERT_TRUE(s->save(&error)) << error;
    saved = cf::As<cf::Dictionary>(cf::DeepCopy(s->settingsDictionary()));
  }
  EXPECT_EQ(Str(saved, "QVImageRGBSourceCustom"), "True");
  EXPECT_EQ(Str(saved, kKey), "None");
  EXPECT_EQ(Str(saved, "QVImageRGBSourceCustomFilename"), Coded("/ata1a/data/USfiles/Profiles/USER.ICC"));
  auto queueDict = saved->get<cf::Dictionary>("R2740") ? saved->get<cf::Dictionary>("R2740")->get<cf::Dictionary>(kQueue)
                                                       : nullptr;
  EXPECT_EQ(Str(queueDict, "QVImageRGBSourceCustomFilename"), Coded("/ata1a/data/USfiles/Profiles/USER.ICC"));
  EXPECT_EQ(Str(saved, "QVImageDestinationProfileCustom"), "False");

  // Restored: the same item again.
  EXPECT_EQ(Find<ui::PopUpButton>(*Open(saved), kKey)->indexOfSelectedItem(), 4);

  // Entries added before it: the path finds it at its new place.
  Store({Entry(6, "NEW.ICC", "New"), Entry(4, "PHOTO.ICC", "Studio"), Entry(2, "HID.ICC", "Hidden"),
         Entry(6, "USER.ICC", "Mine"), Entry(3, "CARD.ICC", "C", 5)});
  {
    auto s = Open(saved);
    auto menu = Find<ui::PopUpButton>(*s, kKey);
    EXPECT_EQ(menu->indexOfSelectedItem(), 5);
    EXPECT_EQ(menu->titleOfSelectedItem(), "USER.ICC(Mine)Disk");
  }

  // Hidden, then removed: the PPD default (sRGB).
  Store({Entry(4, "PHOTO.ICC", "Studio"), Entry(5, "USER.ICC", "Mine")});
  EXPECT_EQ(Find<ui::PopUpButton>(*Open(saved), kKey)->titleOfSelectedItem(), "sRGB");
  Store({Entry(4, "PHOTO.ICC", "Studio")});
  EXPECT_EQ(Find<ui::PopUpButton>(*Open(saved), kKey)->titleOfSelectedItem(), "sRGB");
}

TEST_F(ProfileMenuTest, CommandLineChoosesAStoredProfile) {
  // The last display name is cut inside "é" when read (31 bytes): the menu
  // shows it without the cut character, and the command line still picks it.
  Store({Entry(4, "PHOTO.ICC", "Studio"), Entry(2, "HID.ICC", "Hidden"), Entry(6, "USER.ICC", "Mine"),
         Entry(6, "U8.ICC", "NAME_TO_BE_CUT")});
  const std::string path = root_.ProfilePath(user_);
  std::string xml = *sys::ReadFile(path);
  xml.replace(xml.find("NAME_TO_BE_CUT"), 14, std::string(30, 'n') + "\xC3\xA9");
  std::ofstream(path, std::ios::trunc) << xml;
  const std::string out = root_.root() + "/settings.plist";
  auto run = [&](const std::string& value) {
    return Cli("lpd://127.0.0.1/queue", {"--set", std::string(kKey) + "=" + value, "--settings-out", out,
                                         "--summary-out", root_.root() + "/summary.txt"});
  };
  auto cut = run("profile:U8.ICC@disk");
  ASSERT_EQ(cut.exitStatus, 0) << cut.output;
  EXPECT_EQ(Str(cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(out)), "QVImageRGBSourceCustomFilename"),
            Coded("/ata1a/data/USfiles/Profiles/U8.ICC"));
  auto ok = run("profile:USER.ICC@disk");
  ASSERT_EQ(ok.exitStatus, 0) << ok.output;
  auto settings = cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(out));
  ASSERT_TRUE(settings);
  EXPECT_EQ(Str(settings, "QVImageRGBSourceCustom"), "True");
  EXPECT_EQ(Str(settings, "QVImageRGBSourceCustomFilename"), Coded("/ata1a/data/USfiles/Profiles/USER.ICC"));
  EXPECT_NE(sys::ReadFile(root_.root() + "/summary.txt")->find("QVImageRGBSourceCustomFilename="), std::string::npos);

  for (const char* bad : {"profile:HID.ICC@disk", "profile:NOPE.ICC@disk", "profile:USER.ICC@card"}) {
    auto r = run(bad);
    EXPECT_EQ(r.exitStatus, 6) << bad << ": " << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
  }
  EXPECT_NE(run("profile:HID.ICC@disk").output.find("hidden"), std::string::npos);
  EXPECT_EQ(run("profile:USER.ICC@floppy").exitStatus, 2);
  EXPECT_NE(sys::RunTask(std::string(R2740_BINARY_DIR) + "/bin/r2740-pde-cli", {"--help"}).output.find("profile:FILE@disk"),
            std::string::npos);
}

// The profile window of a usb queue, saving through the real helper and
// service of a staged install root.
class ProfileWindowHostTest : public ProfileHostTest {
 protected:
  ProfileWindowHostTest() : ProfileHostTest(true) {
    const std::string helper = sys::ResolvePath(
        "/Library/Application Support/ORVESSA/R2740/Helpers/R2740Helper.app/Contents/MacOS/R2740Helper");
    fs::create_directories(fs::path(helper).parent_path());
    fs::copy_file(proftest::HelperProgram(), helper);
    fs::permissions(helper, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }

  struct Script : ui::ModalHandler {
    std::function<void(ui::View&)> steps;
    int runAlert(ui::Alert&) override { return ui::kAlertFirstButtonReturn; }
    int runOpenPanel(ui::OpenPanel&) override { return ui::kModalResponseCancel; }
    void runModalForWindow(const ui::WindowRef& w) override {
      if (steps && w->contentView()) steps(*w->contentView());
    }
  };
  template <class T>
  static T& In(ui::View& content, const std::string& id) {
    auto v = std::dynamic_pointer_cast<T>(content.findByIdentifier(id));
    if (!v) throw std::runtime_error("no " + id + " in the profile window");
    return *v;
  }
  static void Type(ui::TextField& field, const std::string& text) {
    field.userSelect({0, field.length()});
    field.userType(text);
  }
};

TEST_F(ProfileWindowHostTest, OKSavesMergedListsThroughTheServiceAndCancelWritesNothing) {
  Store({Entry(2, "HID.ICC", "Hidden"), Entry(4, "SHOWN.ICC", "Shown"), Entry(6, "USER.ICC", "User")});
  auto script = std::make_shared<Script>();
  ui::SetModalHandler(script);
  auto s = Open(nullptr, "usb://ORVESSA/R2740?serial=1");
  auto manage = Find<ui::Button>(*s, "button_ManageProfile");
  ASSERT_TRUE(manage);
  ASSERT_TRUE(manage->isEnabled());  // the service lets this user write the file

  bool ran = false;
  script->steps = [&](ui::View& w) {
    auto& table = In<ui::TableView>(w, "_profileTableView");
    EXPECT_EQ(table.numberOfRows(), 2);  // the hidden device entry is folded away
    EXPECT_TRUE(In<ui::Button>(w, "_addButton").userClick());
    Type(In<ui::TextField>(w, "_fileNameEdit"), "NEW.ICC");
    Type(In<ui::TextField>(w, "_profileNameEdit"), "New");
    EXPECT_TRUE(In<ui::Button>(w, "_localOK").userClick());
    EXPECT_EQ(table.numberOfRows(), 3);
    EXPECT_TRUE(table.userSelectRow(1));
    EXPECT_TRUE(In<ui::Button>(w, "_deleteButton").userClick());
    EXPECT_TRUE(In<ui::Button>(w, "profileWindowOK").userClick());
    ran = true;
  };
  ASSERT_TRUE(manage->userClick());
  ASSERT_TRUE(ran);

  auto stored = StoredRGB();
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->iNum, 3);
  EXPECT_STREQ(stored->entry[0].FileName, "HID.ICC");
  EXPECT_EQ(stored->entry[0].InMenu, 2);
  EXPECT_STREQ(stored->entry[1].FileName, "SHOWN.ICC");
  EXPECT_EQ(stored->entry[1].InMenu, 6);
  EXPECT_STREQ(stored->entry[2].FileName, "NEW.ICC");
  auto titles = Titles(*Find<ui::PopUpButton>(*s, kKey));
  ASSERT_EQ(titles.size(), 5u);
  EXPECT_EQ(titles[4], "NEW.ICC(New)Disk");

  const auto before = sys::ReadFile(root_.ProfilePath(user_));
  script->steps = [&](ui::View& w) {
    In<ui::Button>(w, "_addButton").userClick();
    Type(In<ui::TextField>(w, "_fileNameEdit"), "LATER.ICC");
    In<ui::Button>(w, "_localOK").userClick();
    In<ui::Button>(w, "profileWindowCancel").userClick();
  };
  manage->userClick();
  EXPECT_EQ(sys::ReadFile(root_.ProfilePath(user_)), before);
  EXPECT_EQ(Titles(*Find<ui::PopUpButton>(*s, kKey)).size(), 5u);
}

// The walk drops a name the printer cannot hold after the menus were
// built: the item the user picks still names its own profile.
TEST_F(ProfileWindowHostTest, TicketNamesThePickedItemAfterTheWalkChangedTheList) {
  root_.Setting("R2740_XPC_SNMP_PORT", "16197");  // nobody answers at 127.13.7.1
  root_.Setting("R2740_XPC_WALK_TIMEOUT_MS", "50");
  root_.Setting("R2740_XPC_WALK_RETRIES", "0");
  Store({Entry(6, "PROFILE.ICCX", "Long"), Entry(6, "USER.ICC", "Mine")});
  auto s = Open(nullptr, "lpd://127.13.7.1/queue");
  auto stored = StoredRGB();
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->iNum, 1);  // the walk ran and left only the 8.3 name
  EXPECT_STREQ(stored->entry[0].FileName, "USER.ICC");
  std::string error;
  ASSERT_TRUE(s->setControl(kKey, "USER.ICC(Mine)Disk", &error)) << error;
  ASSERT_TRUE(s->save(&error)) << error;
  auto settings = s->settingsDictionary();
  EXPECT_EQ(Str(settings, "QVImageRGBSourceCustom"), "True");
  EXPECT_EQ(Str(settings, "QVImageRGBSourceCustomFilename"), Coded("/ata1a/data/USfiles/Profiles/USER.ICC"));
}

// A profile file gone bad beside a good backup: the dialog offers the
// backup's profiles, the file is kept aside, and the user is told once.
TEST_F(ProfileWindowHostTest, BadProfileFileIsKeptAsideAndTheUserToldOnce) {
  Store({Entry(6, "MINE.ICC", "Mine")});
  const std::string cur = root_.ProfilePath(user_), prev = root_.PrevPath(user_);
  fs::copy_file(cur, prev);
  std::ofstream(cur, std::ios::trunc) << "<?xml version=\"1.0\"?><plist><dict><key>RGB</key>";
  const std::string out = root_.root() + "/settings.plist";
  auto run = [&] {
    return Cli("usb://ORVESSA/R2740?serial=1",
               {"--set", std::string(kKey) + "=profile:MINE.ICC@disk", "--settings-out", out});
  };
  auto first = run();
  ASSERT_EQ(first.exitStatus, 0) << first.output;
  const std::string note = "r2740-pde-cli: note: The profile file " + cur + " could not be read; it was kept as " + cur +
                           ".bad and the profiles were taken from its backup.\n";
  const size_t at = first.output.find(note);
  ASSERT_NE(at, std::string::npos) << first.output;
  EXPECT_EQ(first.output.find("note:", at + note.size()), std::string::npos) << first.output;
  EXPECT_EQ(Str(cf::As<cf::Dictionary>(cf::PropertyListCreateFromFile(out)), "QVImageRGBSourceCustomFilename"),
            Coded("/ata1a/data/USfiles/Profiles/MINE.ICC"));
  EXPECT_EQ(sys::ReadFile(cur), sys::ReadFile(prev));
  EXPECT_TRUE(fs::is_regular_file(cur + ".bad"));
  auto second = run();
  EXPECT_EQ(second.exitStatus, 0);
  EXPECT_EQ(second.output.find("note:"), std::string::npos) << second.output;
}

}  // namespace
