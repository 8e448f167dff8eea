// Stand-in until the store lands: behaves as the plug-in build does with no
// helper installed and no profile file.
#include "QVPList.h"

int QVPListReadProfile_All(ProfileList*, ProfileList*, ProfileList*) { return -1; }
int QVPListReadProfile_Dict(ProfileList*, int) { return -1; }
int QVPListWriteProfile_All(const ProfileList*, const ProfileList*, const ProfileList*) { return -1; }
int QVPListWriteProfile_Dict(const ProfileList*, int, ProfileList*, ProfileList*, ProfileList*) { return -1; }
int QVPListIsAdminProfile() { return 0; }
int QVPListExistProfile() { return 0; }
int QVPListRemove(int) { return 0; }
void QVPListSwapProfile(int) {}
void QVPlistCheckWithInMenu_Dict(ProfileList*) {}
