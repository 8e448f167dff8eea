// r2740-setup-queue --refresh: the printer's stored profiles as choices of
// a queue's PPD (host/core/stored_profiles.h), so that every dialog offers
// them. The colour panel does the work a dialog does: opened on the queue
// as the administrator, it walks the printer through R2740Helper into the
// administrator's profile file and builds its profile menus; each menu
// item is then chosen as a user would, and what the panel writes into the
// ticket for it becomes the choice's *R2740StoredProfile line.
#pragma once

#include <string>

namespace agent {

// Refreshes QUEUE (and its ask queue, when it has one); a line for the
// user in *report. False with a one-line reason when the panel cannot be
// opened or cupsd refuses the PPD; a PPD that would not change is not sent.
bool RefreshStoredProfiles(const std::string& queue, std::string* report, std::string* error);

}  // namespace agent
