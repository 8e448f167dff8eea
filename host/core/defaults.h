// Where a dialog starts: the queue's defaults and the user's own, as CUPS
// hands them to every program (cupsGetDests2: the server's "-default"
// options, then the lpoptions files, ~/.cups/lpoptions last), and where
// "Save as default" puts the dialog's options back (cupsSetDests2, as
// `lpoptions -p QUEUE -o ...` does).
#pragma once

#include <string>

#include "general.h"
#include "host.h"

namespace host {

// The destination's options; false with a reason when no server answers
// or it has no such queue.
[[nodiscard]] bool DestinationOptions(const std::string& queue, OptionList* options, std::string* error);

// Makes `destination` the dialog's starting point; call after the starting
// settings are loaded and before the panels restore. The options are marked
// in the PPD (cupsMarkOptions, which also maps "media" and "sides") and each
// option's marked choice becomes its default, so panels that start from the
// PPD's defaults show them. The general options, the options passed on
// (IsPassedOnOption) and every PPD option whose
// default they changed go into the print settings where the settings do not
// hold the key already (stored settings win over defaults). Then the page
// format and the PPD's marks follow the settings' general options; a stored
// value this PPD cannot take is dropped and reported in *dropped.
// Answers the starting value of every general and PPD option, which
// OptionsToSave compares with.
OptionList StartFromDefaults(HostCallback& callback, const OptionList& destination,
                             std::vector<std::string>* dropped = nullptr);

// What "Save as default" writes: the general options but the page range,
// and every PPD main keyword of the settings whose value is not the one the
// dialog started with. Never the panels' ticket entries: they carry
// encrypted credentials, which have no place in a defaults file.
OptionList OptionsToSave(const cf::DictionaryRef& settings, ppd_file_t* ppd, const OptionList& start);
// Adds them to the user's options for the queue and writes them
// (cupsSetDests2: ~/.cups/lpoptions). An option that would fight them is
// removed ("media" for PageSize, "sides" for Duplex). False with a reason.
[[nodiscard]] bool SaveAsDefault(const std::string& queue, const OptionList& options, std::string* error);

}  // namespace host
