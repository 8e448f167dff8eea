// How a stored profile appears in a profile menu and in the job ticket:
// its menu title, its path on the printer and the digit-pair code of that
// path. Shared by the menu and ticket services, the profile window and the
// tests.
#pragma once

#include <optional>
#include <string>

#include "BuildSuffix.h"
#include "QVPList.h"

namespace R2740_COLOR_NS {

inline constexpr const char* kProfileDiskFolder = "/ata1a/data/USfiles/Profiles/";
inline constexpr const char* kProfileCardFolder = "/ataCf1a/data/USfiles/Profiles/";

// A profile item of a profile menu carries, as its represented object, a
// dictionary naming its entry: the FileName bytes (data) and the Location
// (number). The ticket positions are those of these items, and the host
// picks "profile:FILE@disk|card" by them.
inline constexpr const char* kProfileItemFileNameKey = "ProfileFileName";
inline constexpr const char* kProfileItemLocationKey = "ProfileLocation";

// Entries offered in menus and counted by the ticket positions.
inline bool IsProfileShown(int32_t inMenu) {
  return inMenu == kProfileStateDeviceShown || inMenu == kProfileStateFoundShown || inMenu == kProfileStateUserShown;
}
// Entries the last walk found on the printer.
inline bool IsProfileFound(int32_t inMenu) {
  return inMenu == kProfileStateFoundHidden || inMenu == kProfileStateFoundShown;
}
// Entries that came from the printer rather than from the user.
inline bool IsProfileFromPrinter(int32_t inMenu) {
  return inMenu >= kProfileStateDeviceHidden && inMenu <= kProfileStateFoundShown;
}

// The list kind a profile-typed row reads (1 RGB, 2 DST, 3 SIM), else -1.
int ProfileListKindForType(unsigned profileType);

// The localized word for a location ("Disk" for 4, "Card" for 5, else
// empty), from the plug-in's bundle; the key itself when it has no
// localization.
std::string ProfileLocationWord(int32_t location);

// "%s(%s)%s" of file name, profile name and location word, at most 255
// bytes, as valid UTF-8 (a byte sequence cut inside a character is dropped).
std::string ProfileMenuTitle(const ProfileEntry& entry);

// The folder of the location followed by the file name; the file name alone
// for another location.
std::string ProfileDevicePath(const ProfileEntry& entry);

// Every byte b becomes the characters 48 + b / 16 and 48 + b % 16.
std::string EncodeDigitPair(const std::string& bytes);
// The bytes of a coded text (an odd last character pairs with 0); nullopt
// when the text is not ASCII, longer than 1023 characters, or the bytes are
// not UTF-8.
std::optional<std::string> DecodeDigitPair(const std::string& coded);

}  // namespace R2740_COLOR_NS
