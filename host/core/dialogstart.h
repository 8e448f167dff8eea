// What both faces (r2740-pde-cli, r2740-print-dialog) do around the panels
// as the print system: the general-option, preset and document flags, the
// start of a dialog from the queue's defaults, and what is kept after a
// print (Last Used Settings, a named preset, the user's defaults).
#pragma once

#include <string>
#include <vector>

#include "frontend.h"
#include "general.h"
#include "host.h"

namespace host {

struct DialogFlags {
  OptionList general;                   // in the order given
  std::vector<std::string> documents;   // --document, repeatable
  std::string preset, savePreset;
  bool saveDefault = false;
};

// Usage lines for the flags below (for --help).
extern const char* const kDialogFlagsUsage;

// Takes argv[*i] (and its value, advancing *i) when it is one of
//   --copies N  --collate true|false  --page-ranges RANGES  --paper NAME
//   --orientation portrait|landscape|reverse-landscape|reverse-portrait
//   --duplex CHOICE  --option KEY=VALUE  --preset NAME  --save-preset NAME
//   --save-default  --document FILE
// Error with a one-line reason.
Flag TakeDialogFlag(int argc, char** argv, int* i, DialogFlags* flags, std::string* error);

// The dialog's start, before the panels open: the preset (if any) replaces
// the starting settings, then the queue's defaults fill what the settings
// lack (a CUPS queue's destination options; none for a queue given by
// hand), then the general flags are set. kOK, or the exit status with a
// reason (kSettingsErr for a preset, kSetErr for a flag's value).
struct DialogStart {
  OptionList destination;  // the queue's and the user's defaults, as CUPS gives them
  OptionList start;        // every option's value at the start (for "Save as default")
  std::vector<std::string> dropped;  // stored values this queue could not take
};
[[nodiscard]] Exit StartDialog(DialogSession& session, const Queue& queue, const DialogFlags& flags,
                               DialogStart* start, std::string* error);

// After the panels saved: "Last Used Settings" when a job went out
// (`printed`), the preset of --save-preset, and with --save-default the
// user's defaults for the queue.
// kOK, or kOutputErr with the reason.
[[nodiscard]] Exit KeepSettings(DialogSession& session, const Queue& queue, const DialogFlags& flags,
                                const DialogStart& start, bool printed, std::string* error);

}  // namespace host
