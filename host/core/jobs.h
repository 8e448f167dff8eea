// Printing documents on a CUPS queue, and what the user is told about it.
#pragma once

#include <cups/ppd.h>

#include <string>
#include <vector>

#include "general.h"

namespace host {

// The security panel's PPD options (the sample PPDs' main keywords) and the
// choices that ask the printer to hold or check a job.
inline constexpr const char* kPrintModeOption = "PrintModeR2740";                  // "SecurePrint"
inline constexpr const char* kAuthenticationOption = "QVAuthenticationR2740";      // "True"
inline constexpr const char* kSectionManagementOption = "QVSectionManagementR2740";  // "True"

// The PPD keyword of ours that names the printer's driver, which
// r2740-filter runs with the completed options: a program of the CUPS filter
// folder, by name or absolute path.
inline constexpr const char* kDriverFilterKeyword = "R2740DriverFilter";

// Whether a driver of the printer's makes the printer's data: a program of
// the PPD's filters (*cupsFilter2, else *cupsFilter) that is neither CUPS'
// own converter (a program of its *.convs rules, pdftops among them) nor
// "-", where r2740-filter stands for the driver it runs.
bool QueueHasPrinterDriver(ppd_file_t* ppd);

// A job's options ask for secure print, user authentication or section
// management, but the queue has no printer driver (QueueHasPrinterDriver):
// nothing turns them into printer commands, so the printer prints the job
// at once as an ordinary one. Then an informational alert says so through
// the modal handler (a message box in the dialog, one "alert: ..." line on
// standard error in batch runs); both faces call this just before a job
// goes. A notice, not a refusal: true when it was said.
bool NoticeUnenforcedSecurity(const OptionList& options, ppd_file_t* ppd);

// The job-ticket keys the security panel fills with a user name, a section
// name or a password (hex, encrypted, or the login's full name in clear).
// r2740-setup-queue makes them private job attributes in its CUPS policies.
inline constexpr const char* kPrivateTicketKeys[] = {
    "jp.orvessa.printers.R2740.secureKey",   "jp.orvessa.printers.R2740.userName",
    "jp.orvessa.printers.R2740.userKey",     "jp.orvessa.printers.R2740.sectionName",
    "jp.orvessa.printers.R2740.sectionKey",  "jp.orvessa.printers.R2740.loginName",
};

// "what: why" for the last libcups request that failed. When it reached no
// server (libcups then leaves only a stale errno text such as "Bad file
// descriptor"), why names the server it tried, cupsServer() with ippPort()
// or the socket path, and what to do.
std::string CupsRequestError(const std::string& what);

// One job holding the documents, in order (cupsPrintFiles2 on the server of
// CUPS_SERVER / the client configuration; cupsd types each file itself, so
// PDF, PostScript, images and text all go as they are) with the options.
// The job id (> 0), or 0 with the reason in *error: a document that cannot
// be read (nothing is sent then), or the server's refusal.
[[nodiscard]] int PrintDocuments(const std::string& queue, const std::vector<std::string>& documents,
                                 const std::string& title, const OptionList& options, std::string* error);

// The queue's state in a line for the user: "idle, accepting jobs",
// "stopped (paused), not accepting jobs"; "state unknown" when the server
// does not say.
std::string QueueState(const std::string& queue);

// A one-page PDF showing `line`, for a print without a document of its own.
std::string SamplePDF(const std::string& line);
// A PDF of one Letter page per line, each showing its line.
std::string SamplePDF(const std::vector<std::string>& pages);
// Writes `bytes` to a new temporary file ending in `suffix`; its path, or
// empty with the reason in *error.
std::string WriteTemporaryFile(const std::string& bytes, const std::string& suffix, std::string* error);

}  // namespace host
