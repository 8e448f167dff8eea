// The profile management window: shows one of the user's three profile
// lists at a time, lets the user choose which profiles the profile menus
// offer, register profiles by hand, rename or delete them, and writes the
// three lists through the profile store on the window's OK. It works on
// private copies; nothing reaches the profile file before that OK.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "BuildSuffix.h"
#include "PDEControlTable.h"
#include "ProfileDeviceWalk.h"
#include "QVPList.h"
#include "printing/printing.h"
#include "ui/ui.h"

namespace bndl {
class Bundle;
}

namespace R2740_COLOR_NS {

class AdvancedColorOptions;
class QVTextField;
class IconedCell;

// The icon marking profiles found on the printer, and where Browse opens.
inline constexpr const char* kProfileIconPath = "/Library/Printers/ORVESSA/R2740/Icons/fileExistvxR2740.icns";
inline constexpr const char* kProfileBrowseFolder = "/Library/Printers/ORVESSA/R2740/Profiles";

class ProfileControl : public ui::NibObject, public ui::TableViewDataSource, public ui::TableViewDelegate {
 public:
  enum EditMode : int32_t { kEditIdle = 0, kEditAdding = 1, kEditEditing = 2 };

  ProfileControl();
  std::string className() const override { return "ProfileControl"; }

  void initWithProfileControl();
  // Opens the window modally; returns when it is closed.
  void showProfileManagementWindow(ui::NibObject* sender);
  // Puts the window's fixed texts in the user's language.
  void localizeWindow(const bndl::Bundle& bundle);

  // Table data source and delegate.
  int numberOfRowsInTableView(ui::TableView* table) override;
  cf::Ref tableViewObjectValue(ui::TableView* table, const ui::TableColumn& column, int row) override;
  void tableViewSetObjectValue(ui::TableView* table, const cf::Ref& value, const ui::TableColumn& column,
                               int row) override;
  void tableViewSelectionDidChange(ui::TableView* table) override;
  bool selectionShouldChangeInTableView(ui::TableView* table) override;
  bool tableViewShouldSelectRow(ui::TableView* table, int row) override;

  // Actions.
  void profileWindowOK(ui::NibObject* sender);
  void profileWindowCancel(ui::NibObject* sender);
  void profileMenu(ui::NibObject* sender);
  void addButton(ui::NibObject* sender);
  void deleteButton(ui::NibObject* sender);
  void editButton(ui::NibObject* sender);
  void browseButton(ui::NibObject* sender);
  void profileOK(ui::NibObject* sender);
  void profileCancel(ui::NibObject* sender);

  // Enabled state of Add, Edit and Delete, in that order.
  void vHandlingButtonSetDisable(bool add, bool edit, bool del);
  void vProfileSettingsClearEditText();
  void vProfileSettingsAllDisablePart();
  void vProfileSettingsAllEnablePart();
  // The working list that the list selector shows, or null.
  ProfileList* currentProfileDict();
  // The deletion list that goes with it, or null.
  ProfileList* currentDeleteDict();
  // Whether the selected entry came from the printer (IsProfileFromPrinter).
  bool isCustomProfile();

  void setPMPrint(pm::PMPrintSettings printSettings, pm::PMPrintSession printSession) {
    setting = printSettings;
    session = printSession;
  }
  void setConstTable(PDEControlTable table) { constTable = table; }

  // Whether the queue cannot be walked (pap, usb): the folded read and the
  // merging save are used, and deletions are remembered.
  bool usesFoldedLists() const { return protocolType == kProfileProtocolPap || protocolType == kProfileProtocolUsb; }

  pm::PMPrintSettings setting = nullptr;
  pm::PMPrintSession session = nullptr;
  int16_t protocolType = kProfileProtocolOther;
  PDEControlTable constTable = nullptr;
  std::shared_ptr<ui::Window> _profileManagementWindow;
  std::shared_ptr<AdvancedColorOptions> onAdvancedView;
  std::shared_ptr<ui::Button> _addButton, _editButton, _deleteButton;
  std::shared_ptr<ui::Button> _browse;
  std::shared_ptr<ui::TextField> _fileNameText, _profileNameText, _locationText;
  std::shared_ptr<QVTextField> _fileNameEdit;
  std::shared_ptr<QVTextField> _profileNameEdit;
  std::shared_ptr<ui::PopUpButton> _locationMenu;
  std::shared_ptr<ui::Button> _localOK, _localCancel;
  std::shared_ptr<ui::TableView> _profileTableView;
  // Any control whose value is 0, 1 or 2 for the RGB, SIM and DST lists.
  std::shared_ptr<ui::Control> _profileMenu;
  int32_t buttonIdentify = kEditIdle;
  // The window's working and deletion lists, made when first asked for:
  // six 42 KB lists that a panel whose window never opens does not pay for.
  ProfileList& plistRGBDict() { return lists().dict[kProfileListRGB]; }
  ProfileList& plistSIMDict() { return lists().dict[kProfileListSIM]; }
  ProfileList& plistDSTDict() { return lists().dict[kProfileListDST]; }
  ProfileList& plistRGBDelete() { return lists().deleted[kProfileListRGB]; }
  ProfileList& plistSIMDDelete() { return lists().deleted[kProfileListSIM]; }
  ProfileList& plistDSTDelete() { return lists().deleted[kProfileListDST]; }

 private:
  int selectedRow() const { return _profileTableView ? _profileTableView->selectedRow() : -1; }
  // Clears the table's selection and reports it, as a user's click would.
  void selectNoRow();
  void appendDeleted(const ProfileEntry& entry);
  ui::ImageRef icon_;
  std::shared_ptr<IconedCell> iconCell_;
  struct Lists {
    ProfileList dict[3]{};
    ProfileList deleted[3]{};
  };
  Lists& lists() {
    if (!lists_) lists_ = std::make_unique<Lists>();
    return *lists_;
  }
  std::unique_ptr<Lists> lists_;
};

}  // namespace R2740_COLOR_NS
