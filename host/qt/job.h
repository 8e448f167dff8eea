// Submitting the printed document to a CUPS queue.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qthost {

using JobOptionList = std::vector<std::pair<std::string, std::string>>;

// Submits `document` to the CUPS destination (the server of CUPS_SERVER /
// the client configuration) with the options; the job id (> 0), or 0 with
// the server's reason in *error.
int SubmitJob(const std::string& destination, const std::string& document, const std::string& title,
              const JobOptionList& options, std::string* error);

// A one-page PDF showing `line`, for a print without a document of its own.
std::string SamplePDF(const std::string& line);
// Writes `bytes` to a new temporary file ending in `suffix`; its path, or
// empty with the reason in *error.
std::string WriteTemporaryFile(const std::string& bytes, const std::string& suffix, std::string* error);

}  // namespace qthost
