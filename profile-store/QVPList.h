// The per-user, per-model profile store: three fixed lists of 500 entries
// kept in one XML property list, with one backup copy.
//
// One source, two builds, chosen by QV_PLIST_SERVICE_BUILD:
//   1  the service: touches the files itself, on the paths that the running
//      request put into QV_PLIST_PROFILE_PATH / QV_PLIST_PROFILE_PREV_PATH;
//   0  the plug-in: reads the current file itself and sends every write,
//      removal, swap and probe through R2740Helper; the model key comes from
//      QV_PLIST_MODEL_KEY.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "cf/cf.h"

inline constexpr int kProfileSlotCount = 500;

struct ProfileEntry {
  int32_t IndexOnDevice;
  int32_t InMenu;
  int32_t ProfileClass;
  char FileName[32];
  char ProfileName[32];
  int32_t Location;
  int32_t ProfileAvailability;
};

struct ProfileList {
  ProfileEntry entry[kProfileSlotCount];
  int32_t iNum;
};

enum ProfileListKind : int32_t {
  kProfileListRGB = 0,
  kProfileListSIM = 1,
  kProfileListDST = 2,
};

enum ProfileState : int32_t {
  kProfileStateEmpty = 0,
  kProfileStateDeviceHidden = 1,
  kProfileStateFoundHidden = 2,
  kProfileStateDeviceShown = 3,
  kProfileStateFoundShown = 4,
  kProfileStateUserHidden = 5,
  kProfileStateUserShown = 6,
};

// The printer's profile table: what the plug-in asks to walk and the only
// root the service walks.
inline constexpr const char* kProfileTableOID = "1.3.6.1.4.1.47291.1.1.1.1.6.13.1.1";

// Device storage of a profile.
inline constexpr int32_t kProfileLocationDisk = 4;
inline constexpr int32_t kProfileLocationCard = 5;

// QVPListRemove selectors.
inline constexpr int kQVPListRemoveCurrent = 3;
inline constexpr int kQVPListRemovePrev = 2;

// QVPListSwapProfile types.
inline constexpr int kQVPListSwapRestore = 0;
inline constexpr int kQVPListSwapDropBackup = 1;
inline constexpr int kQVPListSwapBackup = 2;

// Base names of the slot keys ("%s%04d") and the version key.
extern char cIndexOnDeviceKey[];
extern char cInMenuKey[];
extern char cProfileClassKey[];
extern char cFileNameKey[];
extern char cProfileNameKey[];
extern char cLocationKey[];
extern char cPlistVersionKey[];

// The folder that holds every profile file, before install-root resolution.
inline constexpr const char* kQVPListProfileFolder = "/Library/Printers/ORVESSA/Preferences/jp.orvessa.printers.R2740";

#if QV_PLIST_SERVICE_BUILD
// The paths of the running request (already resolved under the install
// root). Thread-local so that requests served on different threads never
// see each other's files; null outside a request, and every operation then
// fails.
extern thread_local const char* QV_PLIST_PROFILE_PATH;
extern thread_local const char* QV_PLIST_PROFILE_PREV_PATH;

// Direct file primitives shared by the store and the service's operations.
// Each resolves its path once: the folder is opened, the file is opened
// relative to it (O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) and used only when
// QVPListRefusal passes its descriptor, so a planted link, FIFO or device
// is refused at once and never blocks. Files are created with mode 0644
// whatever the process's umask.
//
// Probe: open read/write/append, creating the file when absent, delete it
// again if it was not there; 1 when it could be opened, else 0.
int QVPListProbePath(const char* path);
// 1 when the file opens read-only.
int QVPListExistPath(const char* path);
// 1 when removed. The name is unlinked, never opened.
[[nodiscard]] int QVPListRemovePath(const char* path);
// Backup swap on the given paths; null paths are absent.
void QVPListSwapPaths(int type, const char* current, const char* prev);
// A current file that is there but does not read as the three lists (it
// went bad) is renamed to "<current>.bad", replacing an older one, before
// anything rewrites it. With `prev`, only when that backup reads as the
// lists, whose bytes then become the current file again; without, always.
// 1 when the file was set aside (or, with a backup that has the lists, when
// it could not be moved: that backup must stay all the same), else 0.
int QVPListSetAsideUnreadable(const char* current, const char* prev);
// Replaces the file by `bytes`: a temporary file in the same folder,
// flushed, then renamed over it. False (old file untouched) on failure.
[[nodiscard]] bool QVPListWriteFile(const char* path, const std::string& bytes);
#else
// The helper that relays the plug-in's file operations, resolved under the
// install root.
std::string QVPListHelperPath();
#endif

// Why a profile file with this status may not be used (a string constant),
// or null: it must be a regular file; the service build also wants exactly
// one link and the service's own user as owner.
const char* QVPListRefusal(const struct stat& st);
// No profile file is larger; nothing larger is read or written.
inline constexpr size_t kQVPListMaxFileBytes = 8u << 20;
// The whole file, opened relative to its folder without following a link
// or waiting (O_NOFOLLOW | O_NONBLOCK) and read only when QVPListRefusal
// passes its descriptor: the dialog reads its profile file this way too.
// nullopt with errno set (ENOENT: no file, EPERM: refused, EFBIG: larger
// than `limit`) otherwise.
std::optional<std::string> QVPListReadFile(const char* path, size_t limit = kQVPListMaxFileBytes);

// Whether `bytes` hold the three lists as the reads want them.
bool QVPListHoldsLists(const std::string& bytes);
// The file is there but does not read as the three lists.
bool QVPListIsUnreadable(const char* path);
// The name an unreadable current file is kept under, beside it.
inline constexpr const char* kQVPListSetAsideSuffix = ".bad";

// The current and backup paths of this process's request or user, resolved
// under the install root; empty when they cannot be formed.
std::string QVPListCurrentPath();
std::string QVPListPrevPath();

// Reads: 0 or -1. Queries: 1 or 0. The plug-in build reads the backup when
// the current file is there but does not hold the lists and the backup does
// (the service puts that backup in its place at the dialog's backup step).
[[nodiscard]] int QVPListReadProfile_All(ProfileList* rgb, ProfileList* sim, ProfileList* dst);
[[nodiscard]] int QVPListReadProfile_Dict(ProfileList* list, int kind);
[[nodiscard]] int QVPListWriteProfile_All(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst);
[[nodiscard]] int QVPListWriteProfile_Dict(const ProfileList* list, int kind, ProfileList* outRGB, ProfileList* outSIM,
                             ProfileList* outDST);
int QVPListIsAdminProfile();
int QVPListExistProfile();
[[nodiscard]] int QVPListRemove(int which);
void QVPListSwapProfile(int type);
void QVPlistCheckWithInMenu_Dict(ProfileList* list);

// ---- the property-list form ------------------------------------------------
// The wrapper {"RGB"|"SIM"|"DST": class dictionary} of one list (empty for
// another kind); every out-reference may be null.
cf::DictionaryRef CreatePropsDictionary(int kind, const ProfileList* list, cf::DictionaryRef* classDict,
                                        cf::DictionaryRef* indexOnDevice, cf::DictionaryRef* inMenu,
                                        cf::DictionaryRef* profileClass, cf::DictionaryRef* location,
                                        cf::DictionaryRef* fileName, cf::DictionaryRef* profileName);
// Destination unchanged when the key is absent or of another type.
void ReadDictionaryIntEntry(const cf::DictionaryRef& dict, const char* key, int32_t* dest);
// At most 31 bytes (a plain byte cut), NUL-terminated.
void ReadDictionaryStringEntry(const cf::DictionaryRef& dict, const char* key, char dest[32]);
// 0 with copies of the three class dictionaries of the current file, else -1.
int QVPListMappingGetMainDict_FromPlist(cf::DictionaryRef* rgb, cf::DictionaryRef* sim, cf::DictionaryRef* dst);
// 0, or -1 as soon as a field dictionary is missing; "iNum" is optional
// (iNum untouched when absent).
int QVPListMappingGetSubDict(const cf::DictionaryRef& classDict, cf::DictionaryRef* indexOnDevice,
                             cf::DictionaryRef* inMenu, cf::DictionaryRef* profileClass, cf::DictionaryRef* location,
                             cf::DictionaryRef* fileName, cf::DictionaryRef* profileName, int32_t* iNum);
// The root dictionary and the XML text of a file holding the three lists;
// null / empty when they cannot be built.
cf::DictionaryRef QVPListCreateRootDictionary(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst);
std::string QVPListCreateXMLText(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst);

// ---- maintenance --------------------------------------------------------------
[[nodiscard]] int QVPListReadProfile_Dict_Pap(ProfileList* list, int kind);
[[nodiscard]] int QVPListWriteProfile_All_Pap(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst,
                                const ProfileList* delRGB, const ProfileList* delSIM, const ProfileList* delDST);
int QVPListMappingProfile_All_Pap(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst,
                                  ProfileList* outRGB, ProfileList* outSIM, ProfileList* outDST,
                                  const ProfileList* delRGB, const ProfileList* delSIM, const ProfileList* delDST);
void QVPListMapping_Pap(const ProfileList* edited, const ProfileList* stored, ProfileList* out,
                        const ProfileList* deleted);
void QVPListCleanProfile_Dict(ProfileList* list);
void QVPListPaddingProfile_Dict(ProfileList* list);
void QVPListSalvage_Dict(ProfileList* list);

// A file name the printer can hold: at most 27 characters, or a base of 1 to
// 27 characters, "." and at most 3 more (the walk drops every other name);
// every character passes FileNameFilter. 1 or 0.
int bJudgement8point3Format(const char* name);
// ASCII letters, digits and !#$%&'()-.^_`{}~: 1 or 0.
int FileNameFilter(char c);

// Same profile: equal FileName and equal Location.
bool QVPListSameProfile(const ProfileEntry& a, const ProfileEntry& b);
// iNum bounded to 0..500, for loops over "the first iNum slots".
int QVPListUsedCount(const ProfileList* list);
