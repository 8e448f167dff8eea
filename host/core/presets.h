// Presets: print settings the user keeps by name, one XML property list per
// preset in <user preferences folder>/presets/ (sys::UserPreferencesFolder:
// $R2740_USER_PREFS, $XDG_CONFIG_HOME/r2740 or ~/.config/r2740), readable by
// the user only. "Last Used Settings" is one of them, written after every
// print.
//
// A preset is the dialog's print settings, less what belongs to one job:
// the page range and the panels' encrypted credentials (ticket keys ending
// in "Key"), which the user types again. It records the queue it was saved
// on: panels keep their values per queue identifier, so on another queue
// the values of that queue are copied to the current one's place, unless
// the preset holds values for the current queue itself.
#pragma once

#include <string>
#include <vector>

#include "general.h"
#include "host.h"

namespace host {

inline constexpr const char* kLastUsedSettings = "Last Used Settings";
inline constexpr const char* kDefaultSettings = "Default Settings";  // not a file: the queue's defaults
// Where a preset file names the queue it was saved on (removed on load).
inline constexpr const char* kPresetQueueKey = "r2740.preset.queue";

std::string PresetFolder();
// The presets there: "Last Used Settings" first when it exists, then the
// others in name order.
std::vector<std::string> PresetNames();
// False with a reason when the name is empty, longer than 200 bytes or the
// file cannot be written (the old one then stays).
[[nodiscard]] bool SavePreset(const std::string& name, const cf::DictionaryRef& settings, const std::string& queueId,
                std::string* error);
// The preset's settings for the queue `queueId`; null with a reason.
cf::DictionaryRef LoadPreset(const std::string& name, const std::string& queueId, std::string* error);

// Restores every panel of an open session from `preset` (the print settings
// are replaced by it, then the queue's defaults fill what it lacks, as
// StartFromDefaults does, then each panel restores its values). A null
// preset means "Default Settings": the defaults alone. False with the first
// panel's failure.
[[nodiscard]] bool ApplyPreset(DialogSession& session, const cf::DictionaryRef& preset, const OptionList& destination,
                 std::string* error);

}  // namespace host
