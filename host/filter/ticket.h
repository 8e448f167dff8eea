// The job's ticket completed at the print server by the queue's own plug-in
// bundles, run in batch as r2740-pde-cli --action print runs them up to the
// submission: the panels start from the job's options, save, and are asked
// whether they may print. No rule of theirs is copied here.
#pragma once

#include <string>
#include <vector>

#include "general.h"

namespace filter {

// The security panel writes it into every ticket it saves, and no control
// types it: a job that carries it was printed through our panels. It names
// whoever ran the panels, so at the server the panels write the filter's
// user there; it is the one ticket entry not compared.
inline constexpr const char* kTicketMark = "jp.orvessa.printers.R2740.loginName";
// Where the panels' ticket entries begin (host::JobOptions takes the same).
inline constexpr const char* kTicketPrefix = "jp.orvessa.printers.R2740";

// The job's options in argv[5], in order, as libcups reads them (cupsParseOptions).
host::OptionList ParseOptions(const char* text);
// Whether libcups reads an option of that name back as it is (the names
// of IPP attributes and PPD options are such); others are no option any
// driver knows.
bool PlainOptionName(const std::string& name);
// The options as one argv[5] text that cupsParseOptions reads back to the
// same list: NAME=VALUE, blanks between, quotes, backslashes, blanks and
// braces in values escaped. Options of other names are left out.
std::string FormatOptions(const host::OptionList& options);

struct Completion {
  enum class Result {
    kCompleted,  // `options` is the job's options with the panels' values
    kUnchanged,  // our panels wrote the ticket and still agree: `options` is the job's
    kRefused,    // a panel refused to print (`alerts` say why in its words) or the ticket disagrees
    kFailed,     // the PPD or a bundle could not be opened
  };
  Result result = Result::kFailed;
  host::OptionList options;
  std::vector<std::string> alerts;  // "message informative", one per alert a panel raised
  std::string reason;               // one line for kRefused and kFailed
};

// Completes the ticket of a job on `queue` (the printer identifier the panels
// see) whose PPD is `ppdPath`; its bundles are those of the PPD's
// *APDialogExtension lines under the install root. The panels are never
// shown (DialogSession::Views::kNone), so the colour panel neither walks the
// printer nor writes a profile file; no alert or window waits for anybody:
// alerts are answered with their first button and recorded, open panels
// cancelled, modal windows aborted.
//
// A job without kTicketMark starts the panels from its options as a dialog
// starts from a queue's defaults (host::StartFromDefaults); its ticket
// entries (kTicketPrefix) are typed into the controls of that identifier as
// `--set` types them (clear text), then the panels print. Every ticket
// entry of the job is replaced by the panels' and every option the panels
// give (host::JobOptions) by theirs; the host's general options (copies,
// collation, pages, orientation, the lp options passed on) only where the
// job has them.
// A job with kTicketMark is restored as the panels stored it (each panel's
// per-queue dictionary, as from a preset); after the print every option the
// panels give that the job carries must have the job's value, else it is
// refused; the job's options are then handed on as they are.
Completion CompleteTicket(const std::string& ppdPath, const std::string& queue, const std::string& deviceURI,
                          const host::OptionList& job);

}  // namespace filter
