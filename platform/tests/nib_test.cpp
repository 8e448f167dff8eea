#include "ui/ui.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

using namespace ui;

class MainView : public View {
 public:
  std::string className() const override { return "MainView"; }
};

class PaneController : public NibObject, public TableViewDataSource {
 public:
  PaneController() {
    outlet("mainView", &mainView);
    outlet("quickColor", &quickColor);
    action("ColorToAdvancedView:", [this](NibObject* s) {
      ++calls;
      sender = s;
    });
  }
  std::string className() const override { return "PaneController"; }
  void awakeFromNib() override {
    ++awakened;
    // Every connection is made before anyone wakes.
    sawOutletsAtAwake = mainView != nullptr && quickColor != nullptr;
  }
  int numberOfRowsInTableView(TableView*) override { return 2; }
  cf::Ref tableViewObjectValue(TableView*, const TableColumn&, int row) override { return cf::num(row); }

  std::shared_ptr<MainView> mainView;
  std::shared_ptr<PopUpButton> quickColor;
  int calls = 0, awakened = 0;
  bool sawOutletsAtAwake = false;
  NibObject* sender = nullptr;
};

class Owner : public NibObject {
 public:
  Owner() {
    outlet("pdeMainView", &pdeMainView);
    outlet("painChange", &painChange);
    outlet("profileControl", &profileControl);
    outlet("password", &password);
    action("selectItem:", [this](NibObject*) { ++selects; });
  }
  std::shared_ptr<MainView> pdeMainView;
  std::shared_ptr<PaneController> painChange;
  std::shared_ptr<NibObject> profileControl;
  std::shared_ptr<SecureTextField> password;
  int selects = 0;
};

class NibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("nib_test_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    registry_.registerClass<MainView>("MainView");
    registry_.registerClass<PaneController>("PaneController");
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& body) {
    std::string path = (dir_ / name).string();
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" << body
                        << "</plist>\n";
    return path;
  }
  fs::path dir_;
  NibClassRegistry registry_;
};

const char* kMain = R"(<dict>
<key>objects</key><array>
  <dict><key>class</key><string>MainView</string><key>id</key><string>main</string>
    <key>frame</key><array><integer>0</integer><integer>0</integer><real>400.5</real><integer>300</integer></array>
    <key>subviews</key><array>
      <dict><key>class</key><string>PopUpButton</string><key>id</key><string>quick</string>
        <key>identifier</key><string>QVQuickColor</string>
        <key>items</key><array><string>Auto</string><string>Vivid</string></array>
        <key>autoenablesItems</key><false/>
        <key>target</key><string>owner</string><key>action</key><string>selectItem:</string></dict>
      <dict><key>class</key><string>Button</string><key>id</key><string>advanced</string>
        <key>buttonType</key><string>push</string><key>title</key><string>Advanced Color Options</string></dict>
      <dict><key>class</key><string>Button</string><key>identifier</key><string>QVEconoMode</string>
        <key>buttonType</key><string>checkbox</string><key>state</key><integer>1</integer>
        <key>hidden</key><true/></dict>
      <dict><key>class</key><string>SecureTextField</string><key>id</key><string>pw</string>
        <key>placeholder</key><string>Password</string></dict>
      <dict><key>class</key><string>TabView</string><key>tabs</key><array>
        <dict><key>identifier</key><string>image</string><key>label</key><string>Image</string>
          <key>view</key><dict><key>class</key><string>View</string><key>subviews</key><array>
            <dict><key>class</key><string>Matrix</string><key>identifier</key><string>QVMatrix</string>
              <key>cells</key><array><string>One</string><string>Two</string></array></dict>
          </array></dict></dict>
      </array></dict>
      <dict><key>class</key><string>TableView</string><key>id</key><string>table</string>
        <key>columns</key><array>
          <dict><key>identifier</key><string>show</string><key>kind</key><string>checkbox</string><key>editable</key><true/></dict>
          <dict><key>identifier</key><string>icon</string><key>kind</key><string>image</string></dict>
        </array></dict>
    </array></dict>
  <dict><key>class</key><string>PaneController</string><key>id</key><string>pane</string></dict>
  <dict><key>class</key><string>Window</string><key>id</key><string>win</string><key>title</key><string>Profiles</string>
    <key>contentView</key><dict><key>class</key><string>View</string><key>id</key><string>winContent</string></dict></dict>
</array>
<key>connections</key><array>
  <dict><key>outlet</key><string>pdeMainView</string><key>source</key><string>owner</string><key>destination</key><string>main</string></dict>
  <dict><key>outlet</key><string>painChange</string><key>source</key><string>owner</string><key>destination</key><string>pane</string></dict>
  <dict><key>outlet</key><string>password</string><key>source</key><string>owner</string><key>destination</key><string>pw</string></dict>
  <dict><key>outlet</key><string>noSuchOutlet</string><key>source</key><string>owner</string><key>destination</key><string>main</string></dict>
  <dict><key>outlet</key><string>profileControl</string><key>source</key><string>owner</string><key>destination</key><string>pane</string></dict>
  <dict><key>outlet</key><string>mainView</string><key>source</key><string>pane</string><key>destination</key><string>quick</string></dict>
  <dict><key>outlet</key><string>quickColor</string><key>source</key><string>pane</string><key>destination</key><string>quick</string></dict>
  <dict><key>outlet</key><string>mainView</string><key>source</key><string>pane</string><key>destination</key><string>main</string></dict>
  <dict><key>action</key><string>ColorToAdvancedView:</string><key>source</key><string>advanced</string><key>target</key><string>pane</string></dict>
  <dict><key>dataSource</key><string>table</string><key>destination</key><string>pane</string></dict>
  <dict><key>delegate</key><string>table</string><key>destination</key><string>pane</string></dict>
</array>
</dict>)";

TEST_F(NibTest, LoadsCustomClassesAndConnectsByName) {
  // The second load of the unchanged file reuses its first reading; it
  // must make new objects and connect them the same way.
  std::string path = write("PDEMain.ui.plist", kMain);
  std::shared_ptr<MainView> firstMain;
  for (int load = 0; load < 2; ++load) {
    SCOPED_TRACE("load " + std::to_string(load));
    auto owner = std::make_shared<Owner>();
    auto r = LoadNibFile(path, owner, registry_);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(owner->pdeMainView, firstMain);
    firstMain = owner->pdeMainView;
    EXPECT_EQ(r.topLevelObjects.size(), 3u);

    ASSERT_NE(owner->pdeMainView, nullptr);
    EXPECT_EQ(owner->pdeMainView->className(), "MainView");
    EXPECT_EQ(owner->pdeMainView->frame().size.width, 400.5);
    ASSERT_NE(owner->painChange, nullptr);
    EXPECT_EQ(owner->profileControl, owner->painChange);  // a plain NibObject outlet takes any object
    ASSERT_NE(owner->password, nullptr);
    EXPECT_TRUE(owner->password->isSecure());
    EXPECT_EQ(owner->password->placeholder(), "Password");

    auto pane = owner->painChange;
    EXPECT_EQ(pane->awakened, 1);
    EXPECT_TRUE(pane->sawOutletsAtAwake);
    EXPECT_EQ(pane->mainView, owner->pdeMainView);  // the wrong-class attempt left it for the right one
    auto quick = pane->quickColor;
    ASSERT_NE(quick, nullptr);
    EXPECT_EQ(quick->numberOfItems(), 2);
    EXPECT_EQ(quick->indexOfSelectedItem(), 0);
    EXPECT_FALSE(quick->autoenablesItems());
    EXPECT_EQ(owner->pdeMainView->findByIdentifier("QVQuickColor"), quick);

    // Warnings name the missing outlet and the wrong-class attempt.
    // and the delegate connection to an object that is no table delegate.
    ASSERT_EQ(r.warnings.size(), 3u);
    EXPECT_NE(r.warnings[0].find("noSuchOutlet"), std::string::npos);
    EXPECT_NE(r.warnings[1].find("wrong class"), std::string::npos);
    EXPECT_NE(r.warnings[2].find("delegate"), std::string::npos);

    // Actions reach their targets.
    EXPECT_TRUE(quick->userSelectItem(1));
    EXPECT_EQ(owner->selects, 1);
    auto advanced = std::dynamic_pointer_cast<Button>(r.objects.at("advanced"));
    ASSERT_NE(advanced, nullptr);
    EXPECT_EQ(advanced->title(), "Advanced Color Options");
    EXPECT_TRUE(advanced->userClick());
    EXPECT_EQ(pane->calls, 1);
    EXPECT_EQ(pane->sender, advanced.get());

    auto econo = std::dynamic_pointer_cast<Button>(owner->pdeMainView->findByIdentifier("QVEconoMode"));
    ASSERT_NE(econo, nullptr);
    EXPECT_EQ(econo->buttonType(), ButtonType::Switch);
    EXPECT_EQ(econo->state(), 1);
    EXPECT_TRUE(econo->isHidden());
    auto matrix = std::dynamic_pointer_cast<Matrix>(owner->pdeMainView->findByIdentifier("QVMatrix"));
    ASSERT_NE(matrix, nullptr);
    EXPECT_EQ(matrix->cellTitle(1), "Two");

    auto table = std::dynamic_pointer_cast<TableView>(r.objects.at("table"));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->numberOfRows(), 2);
    EXPECT_EQ(table->delegate(), nullptr);
    EXPECT_EQ(table->tableColumns().at(0).kind, TableColumn::Kind::CheckBox);
    EXPECT_TRUE(table->tableColumns().at(0).editable);
    EXPECT_EQ(table->tableColumns().at(1).kind, TableColumn::Kind::Image);

    auto win = std::dynamic_pointer_cast<Window>(r.objects.at("win"));
    ASSERT_NE(win, nullptr);
    EXPECT_EQ(win->title(), "Profiles");
    EXPECT_EQ(win->contentView(), r.objects.at("winContent"));

    // The result keeps everything alive; the owner keeps only what it holds.
    std::weak_ptr<NibObject> weakWin = win;
    win.reset();
    r = NibLoadResult();
    EXPECT_TRUE(weakWin.expired());
    EXPECT_EQ(quick->superview(), owner->pdeMainView.get());
  }
}

TEST_F(NibTest, TargetWithoutTheActionStillSet) {
  auto owner = std::make_shared<Owner>();
  auto r = LoadNibFile(write("a.ui.plist", R"(<dict><key>objects</key><array>
    <dict><key>class</key><string>Button</string><key>id</key><string>b</string>
      <key>target</key><string>owner</string><key>action</key><string>missing:</string></dict>
    <dict><key>class</key><string>Button</string><key>id</key><string>c</string>
      <key>action</key><string>selectItem:</string></dict>
  </array></dict>)"),
                       owner, registry_);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_NE(r.warnings[0].find("missing:"), std::string::npos);
  auto b = std::dynamic_pointer_cast<Button>(r.objects.at("b"));
  EXPECT_EQ(b->target(), owner);
  EXPECT_EQ(b->action(), "missing:");
  EXPECT_FALSE(b->sendAction());
  EXPECT_TRUE(b->userClick());
  EXPECT_EQ(owner->selects, 0);
  auto c = std::dynamic_pointer_cast<Button>(r.objects.at("c"));
  EXPECT_EQ(c->target(), nullptr);
  EXPECT_EQ(c->action(), "selectItem:");
}

TEST_F(NibTest, MalformedFilesConnectNothing) {
  const char* goodObjects =
      "<key>objects</key><array><dict><key>class</key><string>MainView</string><key>id</key><string>main</string>"
      "</dict></array>";
  const char* ownerConn =
      "<dict><key>outlet</key><string>pdeMainView</string><key>source</key><string>owner</string>"
      "<key>destination</key><string>main</string></dict>";
  struct Case {
    const char* name;
    std::string body;
    const char* expect;
  } cases[] = {
      {"not a dict", "<array/>", "not a dictionary"},
      {"objects not array", "<dict><key>objects</key><string>x</string></dict>", "\"objects\""},
      {"unknown class",
       std::string("<dict><key>objects</key><array><dict><key>class</key><string>Gizmo</string></dict></array>"
                   "<key>connections</key><array>") + ownerConn + "</array></dict>",
       "unknown class \"Gizmo\""},
      {"bad frame",
       std::string("<dict><key>objects</key><array><dict><key>class</key><string>View</string><key>id</key>"
                   "<string>main</string><key>frame</key><array><integer>1</integer></array></dict></array>"
                   "<key>connections</key><array>") + ownerConn + "</array></dict>",
       "bad frame"},
      {"duplicate id",
       std::string("<dict><key>objects</key><array><dict><key>class</key><string>MainView</string><key>id</key>"
                   "<string>main</string></dict><dict><key>class</key><string>View</string><key>id</key>"
                   "<string>main</string></dict></array><key>connections</key><array>") + ownerConn +
           "</array></dict>",
       "duplicate id"},
      {"unknown id",
       std::string("<dict>") + goodObjects + "<key>connections</key><array>" + ownerConn +
           "<dict><key>outlet</key><string>painChange</string><key>source</key><string>owner</string>"
           "<key>destination</key><string>ghost</string></dict></array></dict>",
       "ghost"},
      {"non-view subview",
       std::string("<dict><key>objects</key><array><dict><key>class</key><string>MainView</string><key>id</key>"
                   "<string>main</string><key>subviews</key><array><dict><key>class</key><string>Window</string>"
                   "</dict></array></dict></array><key>connections</key><array>") + ownerConn + "</array></dict>",
       "not a view"},
      {"wrong type",
       std::string("<dict><key>objects</key><array><dict><key>class</key><string>MainView</string><key>id</key>"
                   "<string>main</string><key>hidden</key><string>yes</string></dict></array>"
                   "<key>connections</key><array>") + ownerConn + "</array></dict>",
       "\"hidden\""},
      {"action on non-control",
       std::string("<dict>") + goodObjects + "<key>connections</key><array>" + ownerConn +
           "<dict><key>action</key><string>x:</string><key>source</key><string>main</string>"
           "<key>target</key><string>owner</string></dict></array></dict>",
       "not a control"},
  };
  for (const auto& c : cases) {
    auto owner = std::make_shared<Owner>();
    auto r = LoadNibFile(write("bad.ui.plist", c.body), owner, registry_);
    EXPECT_FALSE(r.ok) << c.name;
    EXPECT_NE(r.error.find(c.expect), std::string::npos) << c.name << ": " << r.error;
    EXPECT_EQ(owner->pdeMainView, nullptr) << c.name;
    EXPECT_TRUE(r.topLevelObjects.empty()) << c.name;
    EXPECT_TRUE(r.objects.empty()) << c.name;
  }

  auto owner = std::make_shared<Owner>();
  auto r = LoadNibFile((dir_ / "absent.ui.plist").string(), owner, registry_);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.error.empty());
  std::ofstream(dir_ / "garbage.ui.plist") << "<plist><dict><key>";
  r = LoadNibFile((dir_ / "garbage.ui.plist").string(), owner, registry_);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.error.empty());
}

TEST_F(NibTest, RegistryAndBundleLookup) {
  // A registered class wins over a built-in of the same name.
  NibClassRegistry reg;
  reg.registerClass<MainView>("View");
  EXPECT_EQ(reg.create("View")->className(), "MainView");
  EXPECT_EQ(reg.create("PopUpButton")->className(), "PopUpButton");
  EXPECT_EQ(reg.create("Nope"), nullptr);
  // Two registries never share classes.
  EXPECT_EQ(NibClassRegistry().create("PaneController"), nullptr);
  // A class registered after a load counts for the next load of the file.
  std::string plain = write("plain.ui.plist", R"(<dict><key>objects</key><array>
    <dict><key>class</key><string>View</string></dict></array></dict>)");
  NibClassRegistry later;
  auto loaded = LoadNibFile(plain, nullptr, later);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(loaded.topLevelObjects.at(0)->className(), "View");
  later.registerClass<MainView>("View");
  loaded = LoadNibFile(plain, nullptr, later);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(loaded.topLevelObjects.at(0)->className(), "MainView");

  fs::path bundle = dir_ / "P.plugin";
  fs::create_directories(bundle / "Contents/Resources/en.lproj");
  std::ofstream(bundle / "Contents/Info.plist")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict/></plist>\n";
  std::ofstream(bundle / "Contents/Resources/en.lproj/PDEMain.ui.plist")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" << kMain << "</plist>\n";
  auto b = bndl::Bundle::bundleWithPath(bundle.string());
  ASSERT_NE(b, nullptr);
  auto owner = std::make_shared<Owner>();
  auto r = LoadNibNamed(*b, "PDEMain", owner, registry_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_NE(owner->pdeMainView, nullptr);
  r = LoadNibNamed(*b, "SecurityPDE", owner, registry_);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("SecurityPDE"), std::string::npos);
}

}  // namespace
