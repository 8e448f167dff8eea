// The stored profiles in the profile menus and in the job ticket: one menu
// item per shown profile after the PPD choices, and the chosen profile's
// path on the printer in the ticket, found again by that path later.
#include "ProfileMenus.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "PDECommon.h"
#include "ProfileTicket.h"

namespace R2740_COLOR_NS {

namespace {

constexpr size_t kTitleBufferSize = 256;
constexpr size_t kPathBufferSize = 97;
constexpr size_t kMaxCodedLength = 1023;

std::string FieldString(const char (&field)[32]) { return std::string(field, strnlen(field, sizeof field)); }

// The longest prefix of each well-formed run: malformed bytes are left out.
std::string ValidUTF8(const std::string& bytes) {
  std::string out;
  size_t i = 0;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > bytes.size() ||
        !cf::String::createWithBytes(bytes.data() + i, len, cf::kCFStringEncodingUTF8)) {
      ++i;
      continue;
    }
    out.append(bytes, i, len);
    i += len;
  }
  return out;
}

std::string KeyWithSuffix(const PDEControlRecord* row, const char* format) {
  char key[256] = {};
  std::snprintf(key, sizeof key, format, row->ppdKey ? row->ppdKey : "");
  return key;
}

// The profile items of a row's menu, in menu order: the entries the menu
// was built from, as its items carry them.
std::vector<ProfileEntry> MenuProfiles(const PDEControlRecord* row) {
  std::vector<ProfileEntry> out;
  auto menu = std::dynamic_pointer_cast<ui::PopUpButton>(row->control);
  if (!menu) return out;
  for (int i = 0; i < menu->numberOfItems(); ++i) {
    ui::MenuItem* item = menu->itemAtIndex(i);
    auto d = item ? cf::As<cf::Dictionary>(item->representedObject()) : nullptr;
    auto file = d ? d->get<cf::Data>(kProfileItemFileNameKey) : nullptr;
    auto location = d ? d->get<cf::Number>(kProfileItemLocationKey) : nullptr;
    if (!file || !location) continue;
    ProfileEntry e{};
    std::memcpy(e.FileName, file->bytes().data(), std::min(file->bytes().size(), sizeof e.FileName - 1));
    e.Location = location->sint32Value();
    out.push_back(e);
  }
  return out;
}

cf::DictionaryRef ProfileItemObject(const ProfileEntry& e) {
  auto d = cf::Dictionary::create();
  d->setValue(kProfileItemFileNameKey, cf::Data::create(FieldString(e.FileName)));
  d->setValue(kProfileItemLocationKey, cf::num(e.Location));
  return d;
}

}  // namespace

int ProfileListKindForType(unsigned profileType) {
  switch (profileType) {
    case 1: return kProfileListRGB;
    case 2: return kProfileListDST;
    case 3: return kProfileListSIM;
    default: return -1;
  }
}

std::string ProfileLocationWord(int32_t location) {
  const char* key = location == kProfileLocationCard ? "Card" : location == kProfileLocationDisk ? "Disk" : nullptr;
  if (!key) return {};
  if (auto bundle = PDECommon::commonGetPlugInBundle())
    if (auto localized = bundle->localizedString(key)) return *localized;
  return key;
}

std::string ProfileMenuTitle(const ProfileEntry& entry) {
  char title[kTitleBufferSize] = {};
  std::snprintf(title, sizeof title, "%s(%s)%s", FieldString(entry.FileName).c_str(),
                FieldString(entry.ProfileName).c_str(), ProfileLocationWord(entry.Location).c_str());
  return ValidUTF8(title);
}

std::string ProfileDevicePath(const ProfileEntry& entry) {
  char path[kPathBufferSize] = {};
  const char* folder = entry.Location == kProfileLocationDisk   ? kProfileDiskFolder
                       : entry.Location == kProfileLocationCard ? kProfileCardFolder
                                                                : "";
  std::snprintf(path, sizeof path, "%s%s", folder, FieldString(entry.FileName).c_str());
  return path;
}

std::string EncodeDigitPair(const std::string& bytes) {
  std::string coded;
  coded.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    coded.push_back(static_cast<char>(48 + b / 16));
    coded.push_back(static_cast<char>(48 + b % 16));
  }
  return coded;
}

std::optional<std::string> DecodeDigitPair(const std::string& coded) {
  if (coded.size() > kMaxCodedLength) return std::nullopt;
  for (unsigned char c : coded)
    if (c > 0x7F) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < coded.size(); i += 2) {
    const int c1 = static_cast<unsigned char>(coded[i]);
    const int c2 = i + 1 < coded.size() ? static_cast<unsigned char>(coded[i + 1]) : 0;
    bytes.push_back(static_cast<char>(static_cast<unsigned>(16 * c1 + c2 - 48) % 256));
  }
  if (!cf::String::createWithBytes(bytes.data(), bytes.size(), cf::kCFStringEncodingUTF8)) return std::nullopt;
  return bytes;
}

int AddMenuFromProfilePlist(PDEControlTable table) {
  auto lists = std::make_unique<ProfileList[]>(3);
  const int status = QVPListReadProfile_All(&lists[0], &lists[1], &lists[2]);
  if (status != 0) return status;
  for (PDEControlRecord* row = table; row && row->kind != kControlKindEnd; ++row) {
    const int kind = ProfileListKindForType(row->profileType);
    if (kind < 0) continue;
    auto menu = std::dynamic_pointer_cast<ui::PopUpButton>(row->control);
    // Without the PPD option there is no first choice to print with, so
    // the row offers no profiles either.
    if (!menu || !row->choices || row->choices->empty()) continue;
    const ProfileList& list = lists[kind];
    const int used = QVPListUsedCount(&list);
    for (int i = 0; i < used; ++i) {
      if (!IsProfileShown(list.entry[i].InMenu)) continue;
      menu->addItemWithTitle(ProfileMenuTitle(list.entry[i]));
      // The item names its profile itself, so that the ticket names the
      // profile the user chose even when the file changes meanwhile (the
      // walk rewrites it after the menus were built).
      if (ui::MenuItem* item = menu->itemAtIndex(menu->numberOfItems() - 1))
        item->setRepresentedObject(ProfileItemObject(list.entry[i]));
    }
  }
  return 0;
}

int SetTicketAddedProfileFlag(const PDEControlRecord* row, const cf::DictionaryRef& dict, const cf::StringRef& flag) {
  if (!row || !dict || ProfileListKindForType(row->profileType) < 0) return 0;
  dict->setValue(KeyWithSuffix(row, "%sCustom"), flag);
  return 0;
}

cf::StringRef GetTicketAddedProfileFlag(const PDEControlRecord* row, const cf::DictionaryRef& dict) {
  if (!row || !dict || ProfileListKindForType(row->profileType) < 0) return nullptr;
  return dict->get<cf::String>(KeyWithSuffix(row, "%sCustom"));
}

int16_t SetTicketAddedProfile(const PDEControlRecord* row, const cf::DictionaryRef& dict, int16_t select) {
  if (!row || !dict || ProfileListKindForType(row->profileType) < 0) return -1;
  // The option's first choice goes under the keyword: the printer prints
  // with it when it cannot use the profile.
  auto first = row->choices ? row->choices->at<cf::Array>(0) : nullptr;
  auto option = first ? first->at<cf::String>(0) : nullptr;
  auto choice = first ? first->at<cf::String>(2) : nullptr;
  if (!option || !choice) return -1;

  // Positions are those of the menu's profile items.
  const std::vector<ProfileEntry> shown = MenuProfiles(row);
  std::string path;
  if (select >= 1 && static_cast<size_t>(select) <= shown.size()) path = ProfileDevicePath(shown[select - 1]);
  dict->setValue(option->utf8(), choice);
  dict->setValue(KeyWithSuffix(row, "%sCustomFilename"), cf::str(EncodeDigitPair(path)));
  SetTicketAddedProfileFlag(row, dict, cf::str("True"));
  return 0;
}

int16_t GetTicketAddedProfile(const PDEControlRecord* row, const cf::DictionaryRef& dict) {
  if (!row || !dict || ProfileListKindForType(row->profileType) < 0) return -1;
  auto coded = dict->get<cf::String>(KeyWithSuffix(row, "%sCustomFilename"));
  if (!coded) return 0;
  auto path = DecodeDigitPair(coded->utf8());
  if (!path) return 0;
  const std::vector<ProfileEntry> shown = MenuProfiles(row);
  for (size_t i = 0; i < shown.size(); ++i) {
    const ProfileEntry& e = shown[i];
    if (e.Location != kProfileLocationDisk && e.Location != kProfileLocationCard) continue;
    if (ProfileDevicePath(e) == *path) return static_cast<int16_t>(i + 1);
  }
  return 0;
}

}  // namespace R2740_COLOR_NS
