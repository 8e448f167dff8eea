// The profile management controller as the panel sees it: handed the print
// settings, session and compound table when the panel loads, and the
// target of the advanced pane's "Management Profile" button. Until the
// profile window exists it keeps what it is given and opens nothing.
#pragma once

#include "BuildSuffix.h"
#include "PDEControlTable.h"
#include "printing/printing.h"
#include "ui/ui.h"

namespace R2740_COLOR_NS {

class ProfileControl : public ui::NibObject {
 public:
  ProfileControl() {
    action("showProfileManagementWindow:", [this](ui::NibObject* sender) { showProfileManagementWindow(sender); });
  }
  std::string className() const override { return "ProfileControl"; }

  void setPMPrint(pm::PMPrintSettings printSettings, pm::PMPrintSession printSession) {
    setting = printSettings;
    session = printSession;
  }
  void setConstTable(PDEControlTable table) { constTable = table; }
  void showProfileManagementWindow(ui::NibObject*) {}

  pm::PMPrintSettings setting = nullptr;
  pm::PMPrintSession session = nullptr;
  PDEControlTable constTable = nullptr;
};

}  // namespace R2740_COLOR_NS
