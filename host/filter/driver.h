// The printer's own driver filter, which r2740-filter runs in its place
// with the completed options: cupsd hands every filter of a job the same
// options, so no filter can change what the next one reads.
#pragma once

#include <cups/ppd.h>

#include <string>
#include <vector>

#include "jobs.h"

namespace filter {

// The PPD keyword of ours that names the driver: *R2740DriverFilter: "NAME"
// (a program of the filter folder) or "/usr/lib/cups/filter/NAME".
inline constexpr const char* kDriverKeyword = host::kDriverFilterKeyword;

// The driver the PPD names; empty when it names none. False with a one-line
// reason when the named program may not be run: a path not absolute, a
// path with "." or ".." parts, not directly inside the CUPS filter folder
// (`serverBin` + "/filter", cupsd's CUPS_SERVERBIN), not an executable
// regular file, or this filter itself (which would run itself forever).
[[nodiscard]] bool DriverFilter(ppd_file_t* ppd, const std::string& serverBin, const std::string& self,
                                std::string* driver, std::string* error);

// Replaces this process with the driver: argv as given but argv[5], which
// becomes `options`; standard input, output and error stay as they are, so
// the driver reads the job's data and its exit status is the job's. Returns
// only when the driver could not be started, with the reason.
std::string RunDriver(const std::string& driver, const std::vector<std::string>& argv, const std::string& options);

// Copies the job's data (the file of argv[6], else standard input) to
// standard output as it is. False with the reason.
[[nodiscard]] bool PassThrough(const char* file, std::string* error);

}  // namespace filter
