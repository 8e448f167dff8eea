// The printer's stored profiles as choices of a queue's PPD, for dialogs
// that only show PPD choices (GTK's, Qt's, LibreOffice's, lp -o). Each is
// written by r2740-setup-queue from what the colour panel itself puts into
// the ticket when its menu item is chosen, and the filter puts exactly that
// into the job when the choice comes back:
//
//   *QVImageDestinationProfile R2740Stored1/PHOTO.ICC(Studio)Disk: ""
//   *R2740StoredProfile R2740Stored1: "QVImageDestinationProfile Auto 3?..."
//
// The value names the option, the option's choice the panel writes and its
// coded device path (OPTIONCustomFilename); OPTIONCustom is then "True".
#pragma once

#include <cups/ppd.h>

#include <string>
#include <vector>

#include "general.h"

namespace host {

inline constexpr const char* kStoredProfileKeyword = "R2740StoredProfile";
inline constexpr const char* kStoredChoicePrefix = "R2740Stored";

struct StoredProfileChoice {
  std::string option;  // the PPD option (the profile menu's identifier)
  std::string choice;  // R2740Stored<n>
  std::string title;   // the menu item's title, UTF-8
  std::string first;   // what the panel writes under the option
  std::string coded;   // what the panel writes under OPTIONCustomFilename
};

// Every *R2740StoredProfile whose choice the option has, with a value of
// the form above; anything else is ignored.
std::vector<StoredProfileChoice> StoredProfileChoices(ppd_file_t* ppd);

// The PPD's text with every stored choice of ours taken out and `choices`
// put in (after each option's own choices, with a Japanese line beside
// each, and their *R2740StoredProfile lines at the end). A default that
// named a stored choice no longer offered becomes the option's first
// choice. Options the PPD does not have are skipped.
std::string WithStoredProfiles(const std::string& ppdText, const std::vector<StoredProfileChoice>& choices);

// A job's option naming a stored choice becomes what the panel writes for
// that profile: OPTION=first, OPTIONCustomFilename=coded, OPTIONCustom=True
// (replacing any the job had). Other options are left alone.
void ApplyStoredProfiles(const std::vector<StoredProfileChoice>& choices, OptionList* options);

}  // namespace host
