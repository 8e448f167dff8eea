// The stored profiles in a table's profile menus and in the job ticket
// (PDECommon forwards its profile-menu services here).
#pragma once

#include <cstdint>

#include "BuildSuffix.h"
#include "PDEControlTable.h"
#include "cf/cf.h"

namespace R2740_COLOR_NS {

// Appends the shown stored profiles after the PPD choices of the
// profile-typed menus of a table; the store's status when it cannot be read.
int AddMenuFromProfilePlist(PDEControlTable table);

// The "%sCustom" flag of a profile-typed row: set to `flag` (0), or read
// back when it is a string (else null). Other rows are left alone.
int SetTicketAddedProfileFlag(const PDEControlRecord* row, const cf::DictionaryRef& dict, const cf::StringRef& flag);
cf::StringRef GetTicketAddedProfileFlag(const PDEControlRecord* row, const cf::DictionaryRef& dict);

// The ticket's entry for profile item `select` (from 1) of a row's menu:
// the option's first choice under its keyword, the coded device path and
// the flag "True"; -1 (nothing written) for a null row or dictionary, a
// row that is not profile-typed, or one without a first choice.
int16_t SetTicketAddedProfile(const PDEControlRecord* row, const cf::DictionaryRef& dict, int16_t select);
// The menu position (from 1) of the profile the ticket names, 0 when none
// matches, -1 for a null row or dictionary or a row that is not
// profile-typed.
int16_t GetTicketAddedProfile(const PDEControlRecord* row, const cf::DictionaryRef& dict);

}  // namespace R2740_COLOR_NS
