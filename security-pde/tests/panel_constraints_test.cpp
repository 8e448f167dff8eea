// PPD UI constraints over the security panel's control data table.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "PPDUIConstraints.h"
#include "QVPrintSettings.h"
#include "SecurityPDE.h"
#include "panel_test_util.h"

namespace sec = r2740_CDA242A5_7B06_4DA5_8B2C_DA63934B0E94;
using paneltest::Callback;
using paneltest::PPD;
using paneltest::Session;

namespace {

struct Controls {
  std::shared_ptr<ui::PopUpButton> popup = std::make_shared<ui::PopUpButton>();
  std::shared_ptr<ui::Button> auth = std::make_shared<ui::Button>();
  std::shared_ptr<ui::Button> section = std::make_shared<ui::Button>();
  std::shared_ptr<ui::TextField> label = std::make_shared<ui::TextField>();
  sec::PDEControlDataTblRef table = nullptr;

  explicit Controls(ppd_file_t* ppd) {
    popup->addItemWithTitle("Normal Print");
    popup->addItemWithTitle("Secure Print");
    const sec::PDEControlDataInput input[] = {
        {400, popup, sec::kKindPopUp, cf::str("PrintModeR2740")},
        {401, auth, sec::kKindCheckBox, cf::str("QVAuthenticationR2740")},
        {402, section, sec::kKindCheckBox, cf::str("QVSectionManagementR2740")},
        {450, label, sec::kKindStaticText, cf::str("PrintModeR2740")},
    };
    sec::CTblCreate(&table, input, 4, ppd);
  }
  ~Controls() { sec::CTblRelease(&table); }
};

class ConstraintsTest : public ::testing::Test {
 protected:
  void Load(const std::string& constraints) {
    ppd_ = std::make_unique<PPD>(paneltest::SecurityOptions() + constraints);
    ASSERT_TRUE(ppd_->get());
    cb_ = std::make_unique<Callback>(ppd_->get());
    session_ = std::make_unique<Session>(cb_.get());
    controls_ = std::make_unique<Controls>(ppd_->get());
    ASSERT_EQ(sec::UIConstraintsPPDInitializeArgument(ppd_->get(), &list_), 0);
    block_ = sec::CreateUIConstrainstPPDListForEveryUserPaneArgument(sec::SetupPPDKeyTableSecurity(), &count_, &list_);
  }
  void TearDown() override {
    sec::ReleaseUIConstrainstPPDListForEveryUserPaneArgument(&list_);
    EXPECT_EQ(list_.pTopOfLocalCtrl, nullptr);
    sec::UIConstraintsPPDFinalize(&list_);
    EXPECT_EQ(list_.iNumOfUIConstraints, 0);
  }
  cf::DictionaryRef Ticket() { return sec::PDECoreGetModelDictionary(&session_->record); }
  void Evaluate() {
    sec::mEnableALL(controls_->table);
    sec::UpdateUIConstraintsPPDArgument(block_, count_, sec::SetupPPDKeyTableSecurity(), sec::kSecurityKeyTableCount,
                                        controls_->table, &session_->record);
  }

  std::unique_ptr<PPD> ppd_;
  std::unique_ptr<Callback> cb_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Controls> controls_;
  sec::UIConstraintsList list_;
  ppd_const_t* block_ = nullptr;
  int32_t count_ = 0;
};

TEST_F(ConstraintsTest, WholeControlDisabledWithItsLabelAndCheckBoxMoved) {
  Load(
      "*UIConstraints: *QVAuthenticationR2740 True *PrintModeR2740\n"
      "*UIConstraints: *QVAuthenticationR2740 True *QVSectionManagementR2740 True\n"
      "*UIConstraints: *PageSize A4 *InputSlot Manual\n");
  EXPECT_EQ(list_.iNumOfUIConstraints, 3);
  ASSERT_EQ(count_, 2);

  Ticket()->setValue("QVAuthenticationR2740", cf::str("False"));
  Evaluate();
  EXPECT_TRUE(controls_->popup->isEnabled());
  EXPECT_EQ(controls_->label->textColor(), ui::Color::black());
  EXPECT_TRUE(controls_->section->isEnabled());

  Ticket()->setValue("QVAuthenticationR2740", cf::str("True"));
  Ticket()->setValue("QVSectionManagementR2740", cf::str("True"));
  controls_->section->setState(1);
  int32_t reads = sec::UIConstraintsTicketReadCount();
  Evaluate();
  // option1 is read from the ticket once; the cache answers the second.
  EXPECT_EQ(sec::UIConstraintsTicketReadCount() - reads, 1);
  EXPECT_FALSE(controls_->popup->isEnabled());
  EXPECT_EQ(controls_->label->textColor(), ui::Color::disabledText());
  EXPECT_EQ(controls_->section->state(), 0);
  EXPECT_FALSE(controls_->section->isEnabled());
  EXPECT_EQ(Ticket()->get<cf::String>("QVSectionManagementR2740")->utf8(), "False");
  EXPECT_TRUE(ppdIsMarked(ppd_->get(), "QVSectionManagementR2740", "False"));
}

TEST_F(ConstraintsTest, ForbiddenChoiceMovesToFirstEnabledItem) {
  Load("*UIConstraints: *QVSectionManagementR2740 True *PrintModeR2740 SecurePrint\n");
  ASSERT_EQ(count_, 1);
  Ticket()->setValue("QVSectionManagementR2740", cf::str("True"));
  Ticket()->setValue("PrintModeR2740", cf::str("SecurePrint"));
  controls_->popup->selectItemAtIndex(1);
  Evaluate();
  EXPECT_FALSE(controls_->popup->isItemEnabled(1));
  EXPECT_EQ(controls_->popup->indexOfSelectedItem(), 0);
  EXPECT_EQ(Ticket()->get<cf::String>("PrintModeR2740")->utf8(), "Normal");
  // Only one item left: the pop-up goes as a whole, and its label with it.
  EXPECT_FALSE(controls_->popup->isEnabled());
  EXPECT_EQ(controls_->label->textColor(), ui::Color::disabledText());
}

TEST_F(ConstraintsTest, EmptyChoice1MatchesEveryChoiceThatSwitchesOn) {
  Load("*UIConstraints: *QVSectionManagementR2740 *PrintModeR2740\n");
  ASSERT_EQ(count_, 1);
  Ticket()->setValue("QVSectionManagementR2740", cf::str("False"));
  Evaluate();
  EXPECT_TRUE(controls_->popup->isEnabled());
  Ticket()->setValue("QVSectionManagementR2740", cf::str("True"));
  Evaluate();
  EXPECT_FALSE(controls_->popup->isEnabled());
}

TEST(ConstraintLists, PerPaneLimitAndRelatedControlLimit) {
  // Constraints beyond the first 8192 are not considered.
  std::vector<ppd_const_t> all(8200);
  for (auto& c : all) {
    memset(&c, 0, sizeof c);
    strcpy(c.option1, "Other");
    strcpy(c.option2, "Else");
  }
  strcpy(all[10].option2, "PrintModeR2740");
  strcpy(all[8195].option1, "PrintModeR2740");
  sec::UIConstraintsList list;
  list.iNumOfUIConstraints = static_cast<int32_t>(all.size());
  list.ppdConstT = all.data();
  int32_t count = 0;
  ppd_const_t* block = sec::CreateUIConstrainstPPDListForEveryUserPaneArgument(sec::SetupPPDKeyTableSecurity(),
                                                                              &count, &list);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(block[0].option2, "PrintModeR2740");
  ASSERT_EQ(list.iNumOfLocalAlloc, 1);
  sec::ReleaseUIConstrainstPPDListForEveryUserPaneArgument(&list);
  list.ppdConstT = nullptr;
  EXPECT_EQ(sec::UIConstraintsPPDInitializeArgument(nullptr, &list), -50);
  EXPECT_EQ(sec::UIConstraintsPPDFinalize(nullptr), -50);
  EXPECT_EQ(sec::CreateUIConstrainstPPDListForEveryUserPaneArgument(sec::SetupPPDKeyTableSecurity(), &count, nullptr),
            nullptr);

  // At most 16 related controls go grey with a disabled control.
  std::vector<int32_t> ids;
  std::vector<sec::PDEControlDataInput> input;
  auto base = std::make_shared<ui::PopUpButton>();
  input.push_back({400, base, sec::kKindPopUp, nullptr});
  std::vector<std::shared_ptr<ui::TextField>> labels;
  for (int i = 0; i < 20; ++i) {
    labels.push_back(std::make_shared<ui::TextField>());
    ids.push_back(500 + i);
    input.push_back({static_cast<int16_t>(500 + i), labels.back(), sec::kKindStaticText, nullptr});
  }
  ids.push_back(-1);
  sec::PPDRelatedControls related{20, ids.data()};
  sec::PPDKeyTableRecord keys[2] = {{"PrintModeR2740", 400, &related}, {"", 0, nullptr}};
  sec::PDEControlDataTblRef table = nullptr;
  sec::CTblCreate(&table, input.data(), static_cast<int16_t>(input.size()), nullptr);
  base->setEnabled(false);
  sec::UIConstraintsPPDDisableRelatedControl(table, sec::PDEControlDataGetByID(table, 400), keys, 1);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(labels[static_cast<size_t>(i)]->textColor(), i < 16 ? ui::Color::disabledText() : ui::Color::black())
        << i;
  }
  sec::CTblRelease(&table);
}

}  // namespace
