#include "ProfileControl.h"

#include <cstring>

#include "AdvancedColorOptions.h"
#include "ColorPresetRules.h"
#include "ColorTextField.h"
#include "IconedCell.h"
#include "PDECommon.h"
#include "ProfileDeviceWalk.h"
#include "ProfileTicket.h"
#include "system/system.h"

namespace R2740_COLOR_NS {

namespace {

constexpr int32_t kFileNameMaxLength = 31;
constexpr int32_t kFileNameExtension = 3;
constexpr int32_t kProfileNameMaxLength = 30;

std::string FieldString(const char (&field)[32]) {
  std::string bytes(field, strnlen(field, sizeof field));
  // Shown as UTF-8; a field that is not shows as empty.
  return cf::String::createWithBytes(bytes.data(), bytes.size(), cf::kCFStringEncodingUTF8) ? bytes : std::string();
}

// At most 31 bytes, never cutting a character, always zero-terminated.
void CopyField(char (&field)[32], const std::string& text) {
  size_t n = std::min(text.size(), sizeof field - 1);
  while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), n);
}

void SetEnabled(const std::shared_ptr<ui::Control>& c, bool on) {
  if (c) c->setEnabled(on);
}

}  // namespace

ProfileControl::ProfileControl() {
  outlet("_profileManagementWindow", &_profileManagementWindow);
  outlet("onAdvancedView", &onAdvancedView);
  outlet("_addButton", &_addButton);
  outlet("_editButton", &_editButton);
  outlet("_deleteButton", &_deleteButton);
  outlet("_browse", &_browse);
  outlet("_fileNameText", &_fileNameText);
  outlet("_profileNameText", &_profileNameText);
  outlet("_locationText", &_locationText);
  outlet("_fileNameEdit", &_fileNameEdit);
  outlet("_profileNameEdit", &_profileNameEdit);
  outlet("_locationMenu", &_locationMenu);
  outlet("_localOK", &_localOK);
  outlet("_localCancel", &_localCancel);
  outlet("_profileTableView", &_profileTableView);
  outlet("_profileMenu", &_profileMenu);
  action("showProfileManagementWindow:", [this](ui::NibObject* s) { showProfileManagementWindow(s); });
  action("profileWindowOK:", [this](ui::NibObject* s) { profileWindowOK(s); });
  action("profileWindowCancel:", [this](ui::NibObject* s) { profileWindowCancel(s); });
  action("profileMenu:", [this](ui::NibObject* s) { profileMenu(s); });
  action("addButton:", [this](ui::NibObject* s) { addButton(s); });
  action("deleteButton:", [this](ui::NibObject* s) { deleteButton(s); });
  action("editButton:", [this](ui::NibObject* s) { editButton(s); });
  action("browseButton:", [this](ui::NibObject* s) { browseButton(s); });
  action("profileOK:", [this](ui::NibObject* s) { profileOK(s); });
  action("profileCancel:", [this](ui::NibObject* s) { profileCancel(s); });
}

// ---- opening ------------------------------------------------------------------

void ProfileControl::initWithProfileControl() {
  buttonIdentify = kEditIdle;
  // The pane's values go into the settings now, so that they can be read
  // back once the lists have changed.
  if (onAdvancedView) onAdvancedView->setControlValueToTicket();
  protocolType = GetProtocol(session);

  auto bundle = PDECommon::commonGetPlugInBundle();
  if (bundle && _locationMenu) {
    auto disk = bundle->localizedString("Disk");
    auto card = bundle->localizedString("Card");
    if (disk && card) {
      _locationMenu->removeAllItems();
      _locationMenu->addItemWithTitle(*disk);
    }
  }

  icon_ = ui::Image::imageWithContentsOfFile(sys::ResolvePath(kProfileIconPath));
  if (_profileTableView) {
    if (ui::TableColumn* c = _profileTableView->tableColumnWithIdentifier("icon")) {
      iconCell_ = std::make_shared<IconedCell>();
      c->dataCell = iconCell_;
    }
    for (const char* id : {"filename", "profilename", "location"})
      if (ui::TableColumn* c = _profileTableView->tableColumnWithIdentifier(id)) c->fontSize = 12;
  }

  if (_profileMenu) {
    _profileMenu->setEnabled(true);
    _profileMenu->setIntValue(0);
  }
  vProfileSettingsClearEditText();
  if (_fileNameEdit) {
    _fileNameEdit->setMaxLength(kFileNameMaxLength, kFileNameExtension);
    _fileNameEdit->setInputKey(kInputKeyFileName);
    _fileNameEdit->setOperateControl(_localOK);
  }
  if (_profileNameEdit) {
    _profileNameEdit->setMaxLength(kProfileNameMaxLength, 0);
    _profileNameEdit->setInputKey(kInputKeyAscii);
  }
  vHandlingButtonSetDisable(true, false, false);
  vProfileSettingsAllDisablePart();

  lists_ = std::make_unique<Lists>();  // a fresh, empty set each time the window opens
  auto read = usesFoldedLists() ? QVPListReadProfile_Dict_Pap : QVPListReadProfile_Dict;
  // A list that cannot be read stays empty.
  for (int kind : {kProfileListRGB, kProfileListSIM, kProfileListDST})
    if (read(&lists().dict[kind], kind) != 0) lists().dict[kind] = ProfileList{};

  if (_profileTableView) {
    _profileTableView->reloadData();
    _profileTableView->deselectAll();
  }
}

// The window's fixed texts in the user's language (the nib holds English);
// a key without localization keeps the nib's text.
void ProfileControl::localizeWindow(const bndl::Bundle& bundle) {
  auto text = [&](const char* key) { return bundle.localizedString(key); };
  std::pair<ui::Button*, const char*> buttons[] = {
      {_addButton.get(), "ProfileAdd"},         {_editButton.get(), "ProfileEdit"},
      {_deleteButton.get(), "ProfileDelete"},   {_browse.get(), "ProfileBrowse"},
      {_localOK.get(), "ProfileOK"},            {_localCancel.get(), "ProfileCancel"}};
  for (auto [button, key] : buttons)
    if (auto t = text(key); button && t) button->setTitle(*t);
  std::pair<ui::TextField*, const char*> captions[] = {{_fileNameText.get(), "ProfileFileNameCaption"},
                                                       {_profileNameText.get(), "ProfileNameCaption"},
                                                       {_locationText.get(), "ProfileLocationCaption"}};
  for (auto [field, key] : captions)
    if (auto t = text(key); field && t) field->setStringValue(*t);
  if (_profileTableView) {
    for (auto [id, key] : {std::pair{"filename", "ProfileFileNameColumn"}, std::pair{"profilename", "ProfileNameColumn"},
                           std::pair{"location", "ProfileLocationColumn"}})
      if (ui::TableColumn* c = _profileTableView->tableColumnWithIdentifier(id))
        if (auto t = text(key)) c->title = *t;
  }
  if (auto menu = std::dynamic_pointer_cast<ui::PopUpButton>(_profileMenu)) {
    const char* keys[] = {"ProfileMenuRGB", "ProfileMenuSIM", "ProfileMenuDST"};
    for (int i = 0; i < 3 && i < menu->numberOfItems(); ++i)
      if (auto t = text(keys[i])) menu->itemAtIndex(i)->setTitle(*t);
  }
  // The window's own OK and Cancel are no outlets: found by identifier.
  if (ui::ViewRef content = _profileManagementWindow->contentView()) {
    content->forEachDescendant([&](ui::View* v) {
      auto* b = dynamic_cast<ui::Button*>(v);
      const char* key = !b                                           ? nullptr
                        : v->identifier() == "profileWindowOK"     ? "ProfileOK"
                        : v->identifier() == "profileWindowCancel" ? "ProfileCancel"
                                                                   : nullptr;
      if (auto t = key ? text(key) : std::nullopt) b->setTitle(*t);
    });
  }
}

void ProfileControl::showProfileManagementWindow(ui::NibObject*) {
  if (!_profileManagementWindow) return;
  initWithProfileControl();
  if (auto bundle = PDECommon::commonGetPlugInBundle()) {
    if (auto title = bundle->localizedString("ProfileTitle")) _profileManagementWindow->setTitle(*title);
    localizeWindow(*bundle);
  }
  ui::Application::shared().runModalForWindow(_profileManagementWindow);
  // A session that ended without OK or Cancel (aborted) wrote nothing.
  _profileManagementWindow->orderOut();
}

// ---- table ----------------------------------------------------------------------

int ProfileControl::numberOfRowsInTableView(ui::TableView*) {
  ProfileList* list = currentProfileDict();
  return list ? QVPListUsedCount(list) : 0;
}

cf::Ref ProfileControl::tableViewObjectValue(ui::TableView*, const ui::TableColumn& column, int row) {
  ProfileList* list = currentProfileDict();
  if (!list || row < 0 || row >= QVPListUsedCount(list)) return cf::str("");
  const ProfileEntry& e = list->entry[row];
  const std::string& id = column.identifier;
  if (id == "inmenu") return cf::num(IsProfileShown(e.InMenu) ? 1 : 0);
  if (id == "icon") {
    // One cell draws every row: it gets this row's image before drawing.
    const bool found =
        (protocolType == kProfileProtocolLpd || protocolType == kProfileProtocolBonjour) && IsProfileFound(e.InMenu);
    if (column.dataCell) column.dataCell->setImage(found ? icon_ : nullptr);
    return cf::str("");
  }
  if (id == "filename") return cf::str(FieldString(e.FileName));
  if (id == "profilename") return cf::str(FieldString(e.ProfileName));
  if (id == "location") return cf::str(ProfileLocationWord(e.Location));
  return cf::str("");
}

void ProfileControl::tableViewSetObjectValue(ui::TableView*, const cf::Ref&, const ui::TableColumn& column,
                                             int row) {
  ProfileList* list = currentProfileDict();
  if (column.identifier != "inmenu" || !list || row < 0 || row >= QVPListUsedCount(list)) return;
  int32_t& state = list->entry[row].InMenu;
  switch (state) {
    case kProfileStateDeviceHidden: state = kProfileStateDeviceShown; break;
    case kProfileStateFoundHidden: state = kProfileStateFoundShown; break;
    case kProfileStateDeviceShown: state = kProfileStateDeviceHidden; break;
    case kProfileStateFoundShown: state = kProfileStateFoundHidden; break;
    case kProfileStateUserHidden: state = kProfileStateUserShown; break;
    case kProfileStateUserShown: state = kProfileStateUserHidden; break;
    default: break;
  }
}

void ProfileControl::tableViewSelectionDidChange(ui::TableView*) {
  if (selectedRow() >= 0) return;
  if (buttonIdentify == kEditIdle) vHandlingButtonSetDisable(true, false, false);
  vProfileSettingsClearEditText();
}

bool ProfileControl::selectionShouldChangeInTableView(ui::TableView*) { return buttonIdentify == kEditIdle; }

bool ProfileControl::tableViewShouldSelectRow(ui::TableView*, int row) {
  ProfileList* list = currentProfileDict();
  if (!list || row < 0 || row >= QVPListUsedCount(list)) return true;
  const ProfileEntry& e = list->entry[row];
  if (buttonIdentify == kEditIdle) vHandlingButtonSetDisable(true, true, true);
  // A profile confirmed on the printer cannot be deleted.
  if (IsProfileFound(e.InMenu)) vHandlingButtonSetDisable(true, true, false);
  if (_fileNameEdit) _fileNameEdit->setStringValue(FieldString(e.FileName));
  if (_profileNameEdit) _profileNameEdit->setStringValue(FieldString(e.ProfileName));
  if (e.Location == kProfileLocationDisk && _locationMenu) _locationMenu->setIntValue(0);
  return true;
}

void ProfileControl::selectNoRow() {
  if (!_profileTableView || _profileTableView->selectedRow() < 0) return;
  _profileTableView->deselectAll();
  tableViewSelectionDidChange(_profileTableView.get());
}

// ---- buttons --------------------------------------------------------------------

void ProfileControl::profileMenu(ui::NibObject*) {
  selectNoRow();
  vProfileSettingsClearEditText();
  vHandlingButtonSetDisable(true, false, false);
  if (_profileTableView) _profileTableView->reloadData();
}

void ProfileControl::addButton(ui::NibObject*) {
  vProfileSettingsClearEditText();
  SetEnabled(_profileMenu, false);
  vHandlingButtonSetDisable(false, false, false);
  for (const std::shared_ptr<ui::Control>& c :
       std::initializer_list<std::shared_ptr<ui::Control>>{_fileNameText, _profileNameText, _locationText,
                                                           _fileNameEdit, _profileNameEdit, _locationMenu, _browse,
                                                           _localCancel})
    SetEnabled(c, true);
  // The file name field's companion rule enables it once a name is usable.
  SetEnabled(_localOK, false);
  buttonIdentify = kEditAdding;
}

void ProfileControl::editButton(ui::NibObject*) {
  vHandlingButtonSetDisable(false, false, false);
  if (isCustomProfile()) {
    // A profile from the printer keeps its file and place; only its display
    // name is the user's.
    for (const std::shared_ptr<ui::Control>& c :
         std::initializer_list<std::shared_ptr<ui::Control>>{_profileNameText, _profileNameEdit, _localCancel,
                                                             _localOK})
      SetEnabled(c, true);
    for (const std::shared_ptr<ui::Control>& c :
         std::initializer_list<std::shared_ptr<ui::Control>>{_fileNameText, _fileNameEdit, _locationText,
                                                             _locationMenu, _browse})
      SetEnabled(c, false);
  } else {
    vProfileSettingsAllEnablePart();
  }
  SetEnabled(_profileMenu, false);
  buttonIdentify = kEditEditing;
}

void ProfileControl::deleteButton(ui::NibObject*) {
  vHandlingButtonSetDisable(true, false, false);
  vProfileSettingsAllDisablePart();
  ProfileList* list = currentProfileDict();
  const int r = selectedRow();
  if (list && r >= 0 && r < QVPListUsedCount(list)) {
    if (usesFoldedLists()) appendDeleted(list->entry[r]);
    const int used = QVPListUsedCount(list);
    for (int i = r; i + 1 < used; ++i) list->entry[i] = list->entry[i + 1];
    list->entry[used - 1] = ProfileEntry{};
    list->iNum = used - 1;
    if (_profileTableView) _profileTableView->reloadData();
  }
  selectNoRow();
}

void ProfileControl::appendDeleted(const ProfileEntry& entry) {
  ProfileList* deleted = currentDeleteDict();
  if (!deleted) return;
  const int n = QVPListUsedCount(deleted);
  if (n >= kProfileSlotCount) return;
  deleted->entry[n] = entry;
  deleted->iNum = n + 1;
}

void ProfileControl::browseButton(ui::NibObject*) {
  ui::OpenPanel panel;
  panel.directory = sys::ResolvePath(kProfileBrowseFolder);
  if (panel.runModal() != ui::kModalResponseOK || panel.filenames.empty()) return;
  if (_fileNameEdit) _fileNameEdit->setStringValue("");
  SetEnabled(_localOK, false);

  const std::string& chosen = panel.filenames.front();
  std::string name = chosen.substr(chosen.find_last_of('/') == std::string::npos ? 0 : chosen.find_last_of('/') + 1);
  // Only a name the typed field takes and the walk keeps (which drops every
  // other name from the lists): 8.3 with at most one dot.
  if (name.find('.') != name.rfind('.') || !bJudgement8point3Format(name.c_str())) return;
  if (_fileNameEdit) {
    _fileNameEdit->setStringValue(name);
    _fileNameEdit->setOldString(name);
  }
  SetEnabled(_localOK, true);
}

void ProfileControl::profileOK(ui::NibObject*) {
  ProfileList* list = currentProfileDict();
  if (!list) return;
  const std::string fileName = _fileNameEdit ? _fileNameEdit->stringValue() : std::string();
  const std::string profileName = _profileNameEdit ? _profileNameEdit->stringValue() : std::string();
  const int32_t location = (_locationMenu ? _locationMenu->intValue() : 0) == 0 ? kProfileLocationDisk
                                                                                 : kProfileLocationCard;
  if (fileName.empty() || fileName[0] == '.') return;

  const bool editing = buttonIdentify == kEditEditing;
  const int selected = selectedRow();
  const int used = QVPListUsedCount(list);
  for (int i = 0; i < used; ++i) {
    if (editing && i == selected) continue;
    if (FieldString(list->entry[i].FileName) == fileName && list->entry[i].Location == location) return;
  }

  int slot = -1;
  if (editing) {
    if (selected < 0 || selected >= used) return;
    slot = selected;
    // The stored copy of an entry the user replaced must not come back in
    // the merge of a queue that cannot be walked.
    if (usesFoldedLists()) appendDeleted(list->entry[slot]);
  } else {
    for (int i = 0; i < kProfileSlotCount; ++i)
      if (list->entry[i].InMenu == kProfileStateEmpty) {
        slot = i;
        break;
      }
    if (slot < 0) return;
  }

  ProfileEntry& e = list->entry[slot];
  const bool fromPrinter = editing && IsProfileFromPrinter(e.InMenu);
  if (!fromPrinter) CopyField(e.FileName, fileName);
  CopyField(e.ProfileName, profileName);
  if (!fromPrinter) e.Location = location;
  if (!editing) {
    e.IndexOnDevice = 500 + slot;
    e.InMenu = kProfileStateUserShown;
    e.ProfileClass = 2;
    e.ProfileAvailability = 3;
    list->iNum = used + 1;
  }

  vProfileSettingsClearEditText();
  SetEnabled(_profileMenu, true);
  vHandlingButtonSetDisable(true, false, false);
  vProfileSettingsAllDisablePart();
  if (_profileTableView) _profileTableView->reloadData();
  selectNoRow();
  buttonIdentify = kEditIdle;
}

void ProfileControl::profileCancel(ui::NibObject*) {
  vProfileSettingsClearEditText();
  selectNoRow();
  SetEnabled(_profileMenu, true);
  vHandlingButtonSetDisable(true, false, false);
  vProfileSettingsAllDisablePart();
  buttonIdentify = kEditIdle;
}

void ProfileControl::profileWindowOK(ui::NibObject*) {
  // The store's answer is not acted on: the menus show whatever it then
  // reads.
  if (usesFoldedLists())
    (void)QVPListWriteProfile_All_Pap(&plistRGBDict(), &plistSIMDict(), &plistDSTDict(), &plistRGBDelete(),
                                      &plistSIMDDelete(), &plistDSTDelete());
  else
    (void)QVPListWriteProfile_All(&plistRGBDict(), &plistSIMDict(), &plistDSTDict());
  if (onAdvancedView) {
    onAdvancedView->createPDEItemForPPDKey();
    onAdvancedView->getControlValueFromTicket();
  }
  if (constTable) vColorPresetConstraints(constTable);
  ui::Application::shared().stopModal();
  if (_profileManagementWindow) _profileManagementWindow->orderOut();
}

void ProfileControl::profileWindowCancel(ui::NibObject*) {
  ui::Application::shared().stopModal();
  if (_profileManagementWindow) _profileManagementWindow->orderOut();
}

// ---- edit group -----------------------------------------------------------------

void ProfileControl::vHandlingButtonSetDisable(bool add, bool edit, bool del) {
  SetEnabled(_addButton, add);
  SetEnabled(_editButton, edit);
  SetEnabled(_deleteButton, del);
}

void ProfileControl::vProfileSettingsClearEditText() {
  if (_fileNameEdit) _fileNameEdit->setStringValue("");
  if (_profileNameEdit) _profileNameEdit->setStringValue("");
  if (_locationMenu) _locationMenu->setIntValue(0);
}

void ProfileControl::vProfileSettingsAllDisablePart() {
  for (const std::shared_ptr<ui::Control>& c : std::initializer_list<std::shared_ptr<ui::Control>>{
           _fileNameText, _profileNameText, _locationText, _fileNameEdit, _profileNameEdit, _locationMenu, _browse,
           _localCancel, _localOK})
    SetEnabled(c, false);
}

void ProfileControl::vProfileSettingsAllEnablePart() {
  for (const std::shared_ptr<ui::Control>& c : std::initializer_list<std::shared_ptr<ui::Control>>{
           _fileNameText, _profileNameText, _locationText, _fileNameEdit, _profileNameEdit, _locationMenu, _browse,
           _localCancel, _localOK})
    SetEnabled(c, true);
}

ProfileList* ProfileControl::currentProfileDict() {
  const int kind = _profileMenu ? _profileMenu->intValue() : -1;
  return kind >= kProfileListRGB && kind <= kProfileListDST ? &lists().dict[kind] : nullptr;
}

ProfileList* ProfileControl::currentDeleteDict() {
  const int kind = _profileMenu ? _profileMenu->intValue() : -1;
  return kind >= kProfileListRGB && kind <= kProfileListDST ? &lists().deleted[kind] : nullptr;
}

bool ProfileControl::isCustomProfile() {
  ProfileList* list = currentProfileDict();
  const int r = selectedRow();
  if (!list || r < 0 || r >= QVPListUsedCount(list)) return false;
  return IsProfileFromPrinter(list->entry[r].InMenu);
}

}  // namespace R2740_COLOR_NS
