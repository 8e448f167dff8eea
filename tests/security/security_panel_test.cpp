// The security plug-in loaded from the build tree and driven as the print
// system drives it, on the sample PPD and on small PPDs of our own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "QVCrypto.h"
#include "host.h"
#include "printing/typed_options.h"
#include "system/system.h"
#include "ui/ui.h"

namespace sec = r2740_CDA242A5_7B06_4DA5_8B2C_DA63934B0E94;

namespace {

const std::string kPrefix = "jp.orvessa.printers.R2740.";
const std::string kQueue = "R2740_Queue_1";

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class RecordingHandler : public ui::ModalHandler {
 public:
  int runAlert(ui::Alert& alert) override {
    alerts.push_back(alert.messageText);
    return ui::kAlertFirstButtonReturn;
  }
  int runOpenPanel(ui::OpenPanel&) override { return ui::kModalResponseCancel; }
  void runModalForWindow(const ui::WindowRef&) override { ui::Application::shared().stopModal(); }
  std::vector<std::string> alerts;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class SecurityPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/r2740-security-it-XXXXXX";
    root_ = mkdtemp(tmpl);
    setenv("R2740_ROOT", root_.c_str(), 1);
    setenv("R2740_LANG", "en", 1);
    setenv("R2740_USER_PREFS", (root_ + "/prefs").c_str(), 1);
    handler_ = std::make_shared<RecordingHandler>();
    ui::SetModalHandler(handler_);
    std::string error;
    plugin_ = host::LoadPlugIn(std::string(R2740_BUNDLE_DIR) + "/SecurityPanelPDE.plugin", &error);
    ASSERT_TRUE(plugin_) << error;
  }
  void TearDown() override {
    session_.reset();
    ui::SetModalHandler(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  std::string WritePPD(const std::string& name, const std::string& text) {
    std::string path = root_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  void Open(const std::string& ppdPath = std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd",
            cf::DictionaryRef settings = nullptr) {
    std::string error;
    auto ppd = host::PPDFile::open(ppdPath, &error);
    ASSERT_TRUE(ppd) << error;
    callback_ = std::make_shared<host::HostCallback>(host::ManualQueue(ppdPath, kQueue, "lpd://127.0.0.1/queue"),
                                                     std::move(ppd));
    session_ = std::make_unique<host::DialogSession>(callback_, std::vector<host::PlugInRef>{plugin_});
    if (settings) session_->loadSettings(settings);
    ASSERT_TRUE(session_->open(&error)) << error;
    ASSERT_EQ(session_->panels().size(), 1u);
  }

  pde::PDEPanel& panel() { return *session_->panels()[0].panel; }
  ui::ViewRef View(const std::string& id) { return session_->panels()[0].view->findByIdentifier(id); }
  template <class T>
  std::shared_ptr<T> Control(const std::string& id) {
    return std::dynamic_pointer_cast<T>(View(id));
  }

  cf::DictionaryRef QueueDict() {
    auto model = session_->settingsDictionary()->get<cf::Dictionary>("R2740");
    return model ? model->get<cf::Dictionary>(kQueue) : nullptr;
  }
  std::string Ticket(const std::string& key) {
    auto d = QueueDict();
    auto v = d ? d->get<cf::String>(key) : nullptr;
    return v ? v->utf8() : "<none>";
  }
  std::string Root(const std::string& key) {
    auto v = session_->settingsDictionary()->get<cf::String>(key);
    return v ? v->utf8() : "<none>";
  }

  // The choice libcups holds marked in the dialog's PPD.
  std::string Marked(const char* option) {
    ppd_choice_t* c = ppdFindMarkedChoice(callback_->ppdFile(), option);
    return c ? c->choice : "<none>";
  }

  void Set(const std::string& key, const std::string& value) {
    std::string error;
    ASSERT_TRUE(session_->setControl(key, value, &error)) << error;
  }

  // Types into a field the way a user does and keeps editing open.
  std::shared_ptr<ui::TextField> Type(const std::string& key, const std::string& text) {
    auto field = Control<ui::TextField>(key);
    EXPECT_TRUE(field);
    if (!field) return field;
    EXPECT_TRUE(field->userType(text));
    return field;
  }

  std::vector<std::pair<std::string, std::string>> Summary() { return session_->summaries().at(0).rows; }

  std::string root_;
  std::shared_ptr<RecordingHandler> handler_;
  host::PlugInRef plugin_;
  std::shared_ptr<host::HostCallback> callback_;
  std::unique_ptr<host::DialogSession> session_;
};

TEST_F(SecurityPanelTest, OffersOnePanelWithItsKeysAndDefaults) {
  Open();
  auto& p = session_->panels()[0];
  EXPECT_EQ(p.name, "Security");
  EXPECT_EQ(p.kind, "jp.orvessa.print.pde.R2740.Security");
  EXPECT_EQ(panel().panelName().get(), panel().panelName().get());  // cached
  std::vector<std::string> keys = {"PrintModeR2740", "QVAuthenticationR2740", "QVSectionManagementR2740",
                                   "SecurePass",     "UserName",              "UserPass",
                                   "SectionName",    "SectionPass"};
  EXPECT_EQ(p.keys, keys);

  // Another panel type gets an empty list, not nil.
  auto other = plugin_->factory()->PDEPanelsForType(cf::str(pde::kGeneralPanelType), callback_);
  ASSERT_TRUE(other.has_value());
  EXPECT_TRUE(other->empty());

  auto popup = Control<ui::PopUpButton>("PrintModeR2740");
  ASSERT_TRUE(popup);
  ASSERT_EQ(popup->numberOfItems(), 2);
  EXPECT_EQ(popup->itemTitleAtIndex(1), "Secure Print");
  EXPECT_EQ(popup->indexOfSelectedItem(), 0);
  EXPECT_FALSE(Control<ui::Control>(kPrefix + "secureKey")->isEnabled());
  EXPECT_FALSE(Control<ui::Control>(kPrefix + "userType")->isEnabled());
  EXPECT_TRUE(Control<ui::TextField>(kPrefix + "secureKey")->isSecure());
  EXPECT_TRUE(Control<ui::TextField>(kPrefix + "userKey")->isSecure());
  EXPECT_TRUE(Control<ui::TextField>(kPrefix + "sectionKey")->isSecure());
  EXPECT_FALSE(Control<ui::TextField>(kPrefix + "userName")->isSecure());

  EXPECT_EQ(Ticket("PrintModeR2740"), "Normal");
  EXPECT_EQ(Ticket("QVAuthenticationR2740"), "False");
  EXPECT_EQ(Ticket(kPrefix + "userType"), "public");
  EXPECT_EQ(Ticket(kPrefix + "loginName"), sys::FullUserName());

  // Public user even with authentication off; passwords never show.
  std::vector<std::pair<std::string, std::string>> rows = {
      {"Print Mode", "Normal Print"}, {"User Authentication", "Public User"}, {"Section Management", "Off"}};
  EXPECT_EQ(Summary(), rows);
}

TEST_F(SecurityPanelTest, JapaneseStringsKeepTheirArgumentOrder) {
  setenv("R2740_LANG", "ja", 1);
  Open();
  EXPECT_EQ(session_->panels()[0].name, "セキュリティ");
  Set("PrintModeR2740", "SecurePrint");
  EXPECT_TRUE(session_->save(nullptr));
  ASSERT_EQ(handler_->alerts.size(), 1u);
  EXPECT_EQ(handler_->alerts[0],
            "文書パスワードが入力されていないか"
            "短すぎるため、機密印刷を解除しまし"
            "た。\n");
}

TEST_F(SecurityPanelTest, NoPPDNoPanel) {
  auto callback = std::make_shared<host::HostCallback>(host::ManualQueue("", kQueue, "lpd://127.0.0.1/queue"), nullptr);
  auto list = plugin_->factory()->PDEPanelsForType(cf::str(pde::kPrinterModuleType), callback);
  EXPECT_FALSE(list.has_value());
  host::DialogSession session(callback, {plugin_});
  std::string error;
  EXPECT_FALSE(session.open(&error));
}

TEST_F(SecurityPanelTest, ShortDocumentPasswordOnSaveSwitchesSecurePrintOff) {
  Open();
  Set("PrintModeR2740", "SecurePrint");
  EXPECT_TRUE(Control<ui::Control>(kPrefix + "secureKey")->isEnabled());
  Set(kPrefix + "secureKey", "abc");
  std::string error;
  EXPECT_TRUE(session_->save(&error)) << error;
  ASSERT_EQ(handler_->alerts.size(), 1u);
  EXPECT_EQ(handler_->alerts[0],
            "Secure Print has been turned off because Document Password is empty or too short.\n");
  EXPECT_EQ(Control<ui::PopUpButton>("PrintModeR2740")->indexOfSelectedItem(), 0);
  EXPECT_EQ(Ticket("PrintModeR2740"), "Normal");
  EXPECT_EQ(Marked("PrintModeR2740"), "Normal");
  EXPECT_FALSE(Control<ui::Control>(kPrefix + "secureKey")->isEnabled());
  // The typed text stays, encrypted in the ticket.
  EXPECT_EQ(Ticket(kPrefix + "secureKey"), sec::QVCFStringEncodeWithEncrypt(cf::str("abc"), 51, 0)->utf8());
}

TEST_F(SecurityPanelTest, ShortDocumentPasswordAtPrintRefusesAndLeavesRootAlone) {
  Open();
  Set("PrintModeR2740", "SecurePrint");
  Set(kPrefix + "secureKey", "abc");
  // The host saves every panel before shouldPrint; that save must not turn
  // secure print off and let the job go out in the open.
  std::string error;
  EXPECT_FALSE(session_->print(&error));
  EXPECT_EQ(error, "panel \"Security\" refused to print");
  ASSERT_EQ(handler_->alerts.size(), 1u);
  EXPECT_EQ(handler_->alerts[0],
            "Document Password is empty or too short. To use Secure Print, enter Document Password.\n");
  EXPECT_EQ(Control<ui::PopUpButton>("PrintModeR2740")->indexOfSelectedItem(), 1);
  EXPECT_TRUE(Control<ui::Control>(kPrefix + "secureKey")->isEnabled());
  EXPECT_EQ(Ticket("PrintModeR2740"), "SecurePrint");
  EXPECT_EQ(Root("PrintModeR2740"), "<none>");
  EXPECT_EQ(Root(kPrefix + "secureKey"), "<none>");
  EXPECT_EQ(Root(kPrefix + "loginName"), "<none>");

  // A plain save afterwards still turns it off, with the on-change text.
  EXPECT_TRUE(session_->save(&error)) << error;
  ASSERT_EQ(handler_->alerts.size(), 2u);
  EXPECT_EQ(handler_->alerts[1],
            "Secure Print has been turned off because Document Password is empty or too short.\n");
  EXPECT_EQ(Ticket("PrintModeR2740"), "Normal");
}

TEST_F(SecurityPanelTest, EmptyUserNameAtPrintAndOnSave) {
  Open();
  Set("QVAuthenticationR2740", "True");
  EXPECT_TRUE(Control<ui::Control>(kPrefix + "userType")->isEnabled());
  EXPECT_FALSE(Control<ui::Control>(kPrefix + "userName")->isEnabled());
  // Public user: the name field is off, so nothing is missing.
  EXPECT_TRUE(panel().shouldPrint());
  EXPECT_TRUE(handler_->alerts.empty());

  Set(kPrefix + "userType", "1");
  EXPECT_TRUE(Control<ui::Control>(kPrefix + "userName")->isEnabled());
  EXPECT_FALSE(session_->print(nullptr));
  ASSERT_EQ(handler_->alerts.size(), 1u);
  EXPECT_EQ(handler_->alerts[0], "User Name is empty or too short. To use User Authentication, enter User Name.\n");
  EXPECT_EQ(Ticket("QVAuthenticationR2740"), "True");
  EXPECT_EQ(Control<ui::Button>("QVAuthenticationR2740")->state(), 1);
  // The root still holds what the earlier print published.
  EXPECT_EQ(Root(kPrefix + "userType"), "public");

  EXPECT_TRUE(session_->save(nullptr));
  ASSERT_EQ(handler_->alerts.size(), 2u);
  EXPECT_EQ(handler_->alerts[1], "User Authentication has been turned off because User Name is empty or too short.\n");
  EXPECT_EQ(Ticket("QVAuthenticationR2740"), "False");
  EXPECT_EQ(Marked("QVAuthenticationR2740"), "False");
  EXPECT_EQ(Control<ui::Button>("QVAuthenticationR2740")->state(), 0);
  EXPECT_FALSE(Control<ui::Control>(kPrefix + "userName")->isEnabled());
}

TEST_F(SecurityPanelTest, BothFailuresMakeOneAlertOfTwoLines) {
  Open();
  Set("PrintModeR2740", "SecurePrint");
  Set("QVAuthenticationR2740", "True");
  Set(kPrefix + "userType", "1");
  EXPECT_FALSE(session_->print(nullptr));
  ASSERT_EQ(handler_->alerts.size(), 1u);
  auto lines = Lines(handler_->alerts[0]);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Document Password is empty or too short. To use Secure Print, enter Document Password.");
  EXPECT_EQ(lines[1], "User Name is empty or too short. To use User Authentication, enter User Name.");
}

TEST_F(SecurityPanelTest, PrintWritesEncodedTicketAndCopiesItToRoot) {
  Open();
  Set("PrintModeR2740", "SecurePrint");
  Set(kPrefix + "secureKey", "pa ss12");
  Set("QVAuthenticationR2740", "True");
  Set(kPrefix + "userType", "1");
  Set(kPrefix + "userName", "山田 taro");
  Set(kPrefix + "userKey", "se+cret");

  std::string before = Root("PrintModeR2740");
  EXPECT_EQ(before, "<none>");
  std::string error;
  ASSERT_TRUE(session_->print(&error)) << error;
  EXPECT_TRUE(handler_->alerts.empty());

  EXPECT_EQ(Ticket("PrintModeR2740"), "SecurePrint");
  EXPECT_EQ(Ticket("QVAuthenticationR2740"), "True");
  EXPECT_EQ(Ticket("QVSectionManagementR2740"), "False");
  EXPECT_EQ(Ticket(kPrefix + "userType"), "private");
  EXPECT_EQ(Ticket(kPrefix + "userName"), Hex("山田 taro"));
  EXPECT_EQ(Ticket(kPrefix + "secureKey"), sec::QVCFStringEncodeWithEncrypt(cf::str("pa ss12"), 51, 0)->utf8());
  EXPECT_EQ(Ticket(kPrefix + "userKey"), sec::QVCFStringEncodeWithEncrypt(cf::str("se+cret"), 51, 0)->utf8());
  EXPECT_EQ(sec::QVCFStringDecodeWithDecrypt(cf::str(Ticket(kPrefix + "secureKey")), 51, 0)->utf8(), "pa ss12");
  // Within the dialog the typed password survives every refresh whole.
  EXPECT_EQ(Control<ui::TextField>(kPrefix + "userKey")->stringValue(), "se+cret");
  // Empty texts are stored empty and unencoded.
  EXPECT_EQ(Ticket(kPrefix + "sectionName"), "");
  EXPECT_EQ(Ticket(kPrefix + "loginName"), sys::FullUserName());

  for (const char* k : {"PrintModeR2740", "QVAuthenticationR2740", "jp.orvessa.printers.R2740.userName",
                        "jp.orvessa.printers.R2740.secureKey", "jp.orvessa.printers.R2740.userKey",
                        "jp.orvessa.printers.R2740.loginName", "jp.orvessa.printers.R2740.sectionKey"}) {
    EXPECT_EQ(Root(k), Ticket(k)) << k;
  }

  std::vector<std::pair<std::string, std::string>> rows = {{"Print Mode", "Secure Print"},
                                                           {"User Authentication", "Registered User"},
                                                           {"User Name", "山田 taro"},
                                                           {"Section Management", "Off"}};
  EXPECT_EQ(Summary(), rows);

  // A later dialog on the same settings reads the plain texts back; the
  // user password comes back only up to its "+".
  auto saved = session_->settingsDictionary();
  session_.reset();
  Open(std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd", saved);
  EXPECT_EQ(Control<ui::TextField>(kPrefix + "userName")->stringValue(), "山田 taro");
  EXPECT_EQ(Control<ui::TextField>(kPrefix + "secureKey")->stringValue(), "pa ss12");
  // The stored form cuts a password at its first "+": a new dialog reads
  // back only what lies before it.
  EXPECT_EQ(Control<ui::TextField>(kPrefix + "userKey")->stringValue(), "se");
  EXPECT_EQ(Control<ui::PopUpButton>("PrintModeR2740")->indexOfSelectedItem(), 1);
  EXPECT_EQ(Control<ui::Matrix>(kPrefix + "userType")->selectedRow(), 1);
}

TEST_F(SecurityPanelTest, SectionManagementSummaryAndLoginNameAfterEveryRefresh) {
  Open();
  Set("QVSectionManagementR2740", "True");
  Set(kPrefix + "sectionName", "dept-7");
  Set(kPrefix + "sectionKey", "k3y");
  panel().willShow();
  EXPECT_EQ(Ticket(kPrefix + "sectionName"), Hex("dept-7"));
  EXPECT_EQ(Ticket(kPrefix + "sectionKey"), sec::QVCFStringEncodeWithEncrypt(cf::str("k3y"), 51, 0)->utf8());
  auto d = QueueDict();
  d->setValue(kPrefix + "loginName", cf::str("someone else"));
  panel().willShow();
  EXPECT_EQ(Ticket(kPrefix + "loginName"), sys::FullUserName());
  std::vector<std::pair<std::string, std::string>> rows = {{"Print Mode", "Normal Print"},
                                                           {"User Authentication", "Public User"},
                                                           {"Section Management", "On"},
                                                           {"Section Name", "dept-7"}};
  EXPECT_EQ(Summary(), rows);
}

TEST_F(SecurityPanelTest, ConstraintsDisableThePrintModeAndItsLabel) {
  Open();
  auto popup = Control<ui::PopUpButton>("PrintModeR2740");
  auto section = Control<ui::Button>("QVSectionManagementR2740");
  Set("QVSectionManagementR2740", "True");
  // Secure print is forbidden with section management; one item left.
  EXPECT_FALSE(popup->isItemEnabled(1));
  EXPECT_FALSE(popup->isEnabled());
  auto label = std::dynamic_pointer_cast<ui::Control>(session_->panels()[0].view->subviews()[0]);
  ASSERT_TRUE(label);
  EXPECT_EQ(label->stringValue(), "Print Mode:");
  EXPECT_EQ(label->textColor(), ui::Color::disabledText());

  Set("QVSectionManagementR2740", "False");
  EXPECT_TRUE(popup->isEnabled());
  EXPECT_TRUE(popup->isItemEnabled(1));
  EXPECT_EQ(label->textColor(), ui::Color::black());

  // With secure print on, section management cannot be switched on.
  Set("PrintModeR2740", "SecurePrint");
  std::string error;
  EXPECT_FALSE(session_->setControl("QVSectionManagementR2740", "True", &error));
  EXPECT_EQ(section->state(), 0);
  EXPECT_FALSE(section->isEnabled());
  EXPECT_EQ(Ticket("QVSectionManagementR2740"), "False");
}

TEST_F(SecurityPanelTest, EnvelopePaperMovesSecurePrintToNormalAndWritesTheTicket) {
  Open();
  Set("PrintModeR2740", "SecurePrint");
  callback_->pageFormatObject().setPaper(std::make_shared<pm::Paper>("Env10", "Env10", 297, 684));
  ui::NotificationCenter::defaultCenter().postNotification("PMPrintDestinationPaperDidChangeNotification");
  auto popup = Control<ui::PopUpButton>("PrintModeR2740");
  EXPECT_EQ(popup->indexOfSelectedItem(), 0);
  EXPECT_FALSE(popup->isEnabled());
  EXPECT_EQ(Ticket("PrintModeR2740"), "Normal");
  EXPECT_FALSE(Control<ui::Control>(kPrefix + "secureKey")->isEnabled());

  // Back on Letter secure print can be chosen again.
  callback_->pageFormatObject().setPaper(std::make_shared<pm::Paper>("Letter", "Letter", 612, 792));
  ui::NotificationCenter::defaultCenter().postNotification("PMPrintDestinationPaperDidChangeNotification");
  EXPECT_TRUE(popup->isEnabled());
  Set("PrintModeR2740", "SecurePrint");
  EXPECT_EQ(Ticket("PrintModeR2740"), "SecurePrint");
}

// The PPD's typed options, as libcups reads them, against the fields the
// table names: a password where the panel's interface file has a secure
// field, and the longest text the field takes is the parameter's maximum.
TEST_F(SecurityPanelTest, TypedOptionsOfThePPDFitThePanelFields) {
  Open();
  ppd_file_t* ppd = callback_->ppdFile();
  for (const pm::TypedOption& t : pm::kTypedOptions) {
    SCOPED_TRACE(t.keyword);
    const std::string control = t.control;
    const bool user = control.find(".user") != std::string::npos;
    // Section management and secure print exclude each other.
    if (control == kPrefix + "secureKey") {
      Set("QVSectionManagementR2740", "False");
      Set("PrintModeR2740", "SecurePrint");
    } else {
      if (Control<ui::PopUpButton>("PrintModeR2740")->indexOfSelectedItem() != 0) Set("PrintModeR2740", "Normal");
      Set("QVSectionManagementR2740", control.find(".section") != std::string::npos ? "True" : "False");
    }
    Set("QVAuthenticationR2740", user ? "True" : "False");
    if (user) Set(kPrefix + "userType", "1");
    ppd_cparam_t* param = ppdFindCustomParam(ppdFindCustomOption(ppd, t.keyword), t.param);
    ASSERT_TRUE(param);
    auto field = Control<ui::TextField>(control);
    ASSERT_TRUE(field);
    ASSERT_TRUE(field->isEnabled());
    const bool secure = std::dynamic_pointer_cast<ui::SecureTextField>(field) != nullptr;
    EXPECT_EQ(param->type, secure ? PPD_CUSTOM_PASSWORD : PPD_CUSTOM_STRING);
    const int max = secure ? param->maximum.custom_password : param->maximum.custom_string;
    const int min = secure ? param->minimum.custom_password : param->minimum.custom_string;
    Set(control, "");
    Type(control, std::string(static_cast<size_t>(max), 'a'));
    EXPECT_EQ(field->stringValue(), std::string(static_cast<size_t>(max), 'a'));
    field->userType("a");
    EXPECT_EQ(field->stringValue(), std::string(static_cast<size_t>(max), 'a'));
    field->userEndEditing();
    if (control != kPrefix + "secureKey") {
      EXPECT_EQ(min, 1);  // an empty field is the choice "None"
      continue;
    }
    // The shortest document password the panel prints with.
    std::string error;
    Set(control, std::string(static_cast<size_t>(min - 1), 'a'));
    EXPECT_FALSE(session_->print(&error));
    Set("PrintModeR2740", "SecurePrint");
    Set(control, std::string(static_cast<size_t>(min), 'a'));
    EXPECT_TRUE(session_->print(&error)) << error;
  }
}

TEST_F(SecurityPanelTest, TextFieldsFilterMeasureAndRefuse) {
  Open();
  Set("PrintModeR2740", "SecurePrint");
  Set("QVAuthenticationR2740", "True");
  Set(kPrefix + "userType", "1");

  // A ninth character is refused; text and caret stay.
  auto secure = Type(kPrefix + "secureKey", "abcdefgh");
  ASSERT_TRUE(secure);
  ASSERT_TRUE(secure->userSelect({3, 0}));
  ASSERT_TRUE(secure->userType("X"));
  EXPECT_EQ(secure->stringValue(), "abcdefgh");
  EXPECT_EQ(secure->currentEditor()->selectedRange().location, 3);
  secure->userEndEditing();

  // Document password drops "+" and keeps the space; the user password
  // drops the space and keeps "+".
  Set(kPrefix + "secureKey", "");
  auto pasted = Type(kPrefix + "secureKey", "a+b c");
  EXPECT_EQ(pasted->stringValue(), "ab c");
  EXPECT_EQ(pasted->currentEditor()->selectedRange().location, 4);
  pasted->userEndEditing();
  auto userKey = Type(kPrefix + "userKey", "a+b c");
  EXPECT_EQ(userKey->stringValue(), "a+bc");
  userKey->userEndEditing();

  // Yen signs leave the user name; a decomposed accent is composed first.
  auto name = Type(kPrefix + "userName", "a\u00A5b\uFFE5e\u0301");
  EXPECT_EQ(name->stringValue(), "ab\u00E9");
  name->userEndEditing();
  panel().willShow();
  EXPECT_EQ(Ticket(kPrefix + "userName"), Hex("ab\u00E9"));

  // 32 ideographs fill the width of 64; the 33rd is refused. U+0101 counts 2.
  Set(kPrefix + "userName", "");
  std::string ideographs;
  for (int i = 0; i < 32; ++i) ideographs += "\u6F22";
  name = Type(kPrefix + "userName", ideographs);
  EXPECT_EQ(name->stringValue(), ideographs);
  name->userType("\u6F22");
  EXPECT_EQ(name->stringValue(), ideographs);
  name->userEndEditing();
  Set(kPrefix + "userName", std::string(64, 'x'));
  name = Type(kPrefix + "userName", "y");
  EXPECT_EQ(name->stringValue(), std::string(64, 'x'));
  name->userEndEditing();
  Set(kPrefix + "userName", std::string(62, 'x') + "\u00E9");
  name = Type(kPrefix + "userName", "\u0101");
  EXPECT_EQ(name->stringValue(), std::string(62, 'x') + "\u00E9");
  name->userEndEditing();

  // Section name: printable ASCII without space and quote. (Section
  // management is not allowed with secure print.)
  Set("PrintModeR2740", "Normal");
  Set("QVSectionManagementR2740", "True");
  auto section = Type(kPrefix + "sectionName", "a b\"c+\u65E5");
  EXPECT_EQ(section->stringValue(), "abc+");
  section->userEndEditing();
  // A plain field shows its last accepted text when editing ends.
  EXPECT_EQ(section->stringValue(), "abc+");
  auto sectionKey = Type(kPrefix + "sectionKey", "\u65E5");
  EXPECT_EQ(sectionKey->stringValue(), "");
  sectionKey->userEndEditing();
}

TEST_F(SecurityPanelTest, BadTicketValuesDoNotBreakThePanel) {
  auto queue = cf::Dictionary::create();
  queue->setValue("PrintModeR2740", cf::Array::create());
  queue->setValue("QVAuthenticationR2740", cf::str("Maybe"));
  queue->setValue(kPrefix + "userType", cf::num(1));
  queue->setValue(kPrefix + "userName", cf::str("ZZ"));
  queue->setValue(kPrefix + "sectionName", cf::str("4a"));
  queue->setValue(kPrefix + "secureKey", cf::str("0102"));
  auto model = cf::Dictionary::create();
  model->setValue(kQueue, queue);
  auto settings = cf::Dictionary::create();
  settings->setValue("R2740", model);
  Open(std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd", settings);

  // Undecodable texts are kept as they are.
  EXPECT_EQ(Control<ui::TextField>(kPrefix + "userName")->stringValue(), "ZZ");
  EXPECT_EQ(Control<ui::TextField>(kPrefix + "sectionName")->stringValue(), "4a");
  // A value the check box cannot show is replaced by what it shows.
  EXPECT_EQ(Ticket("QVAuthenticationR2740"), "False");
  EXPECT_EQ(Ticket("PrintModeR2740"), "Normal");
  EXPECT_EQ(Ticket(kPrefix + "userType"), "public");
  std::string error;
  EXPECT_TRUE(session_->print(&error)) << error;

  // A model dictionary of the wrong type is replaced, not fatal.
  auto broken = cf::Dictionary::create();
  broken->setValue("R2740", cf::str("not a dictionary"));
  session_.reset();
  Open(std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd", broken);
  EXPECT_EQ(Ticket("PrintModeR2740"), "Normal");
}

TEST_F(SecurityPanelTest, StoredPasswordsThatDoNotDecryptAreNoPasswords) {
  // Written with another key of the table, and a damaged preset: neither
  // may come back as text the user never typed.
  const std::string foreign = sec::QVCFStringEncodeWithEncrypt(cf::str("pass1234"), 1, 0)->utf8();
  ASSERT_EQ(foreign.size(), 32u);
  auto queue = cf::Dictionary::create();
  queue->setValue("PrintModeR2740", cf::str("SecurePrint"));
  queue->setValue("QVAuthenticationR2740", cf::str("True"));
  queue->setValue(kPrefix + "userType", cf::str("private"));
  queue->setValue(kPrefix + "userName", cf::str("bob!"));  // no hex: a name keeps the stored text
  queue->setValue(kPrefix + "secureKey", cf::str(foreign));
  queue->setValue(kPrefix + "userKey", cf::str("0123456789ABCDEF"));
  auto model = cf::Dictionary::create();
  model->setValue(kQueue, queue);
  auto settings = cf::Dictionary::create();
  settings->setValue("R2740", model);
  Open(std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd", settings);

  EXPECT_EQ(Control<ui::TextField>(kPrefix + "secureKey")->stringValue(), "");
  EXPECT_EQ(Control<ui::TextField>(kPrefix + "userKey")->stringValue(), "");
  EXPECT_EQ(Control<ui::TextField>(kPrefix + "userName")->stringValue(), "bob!");
  EXPECT_EQ(Ticket(kPrefix + "secureKey"), "");
  EXPECT_EQ(Ticket(kPrefix + "userKey"), "");

  // The empty document password is missing, as if never typed.
  std::string error;
  EXPECT_FALSE(session_->print(&error));
  ASSERT_EQ(handler_->alerts.size(), 1u);
  EXPECT_EQ(Lines(handler_->alerts[0]).size(), 1u) << handler_->alerts[0];
  EXPECT_EQ(Root(kPrefix + "secureKey"), "<none>");
  Set(kPrefix + "secureKey", "4567");
  ASSERT_TRUE(session_->print(&error)) << error;
  EXPECT_EQ(sec::QVCFStringDecodeWithDecrypt(cf::str(Root(kPrefix + "secureKey")), 51, 0)->utf8(), "4567");
  EXPECT_EQ(Root(kPrefix + "userKey"), "");
}

TEST_F(SecurityPanelTest, PPDWithoutSecurityOptions) {
  std::string path = std::string(R2740_SOURCE_DIR) + "/tests/security/data/NoSecurity.ppd";
  Open(path);
  auto popup = Control<ui::PopUpButton>("PrintModeR2740");
  ASSERT_TRUE(popup);
  EXPECT_TRUE(popup->isHidden());
  EXPECT_EQ(Ticket("PrintModeR2740"), "<none>");
  EXPECT_EQ(Ticket("QVAuthenticationR2740"), "False");
  Set("QVAuthenticationR2740", "True");
  Set(kPrefix + "userType", "1");
  Set(kPrefix + "userName", "bob");
  std::string error;
  EXPECT_TRUE(session_->print(&error)) << error;
  EXPECT_EQ(Root(kPrefix + "userName"), Hex("bob"));
  EXPECT_EQ(Root("QVAuthenticationR2740"), "True");
}

}  // namespace
