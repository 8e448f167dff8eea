// The per-user, per-model profile store: three fixed lists of 500 entries
// kept in one XML property list, with one backup copy.
#pragma once

#include <cstdint>

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

// Reads: 0 or -1. Queries: 1 or 0.
int QVPListReadProfile_All(ProfileList* rgb, ProfileList* sim, ProfileList* dst);
int QVPListReadProfile_Dict(ProfileList* list, int kind);
int QVPListWriteProfile_All(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst);
int QVPListWriteProfile_Dict(const ProfileList* list, int kind, ProfileList* outRGB, ProfileList* outSIM,
                             ProfileList* outDST);
int QVPListIsAdminProfile();
int QVPListExistProfile();
int QVPListRemove(int which);
void QVPListSwapProfile(int type);
void QVPlistCheckWithInMenu_Dict(ProfileList* list);
