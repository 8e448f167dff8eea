// The install layout: where a Linux install keeps what the system names by
// its logical paths, and the facts every program reports about its build.
#pragma once

#include <string>

namespace sys {

// The system names its files by logical paths ("/Library/Printers/ORVESSA/...",
// "/Library/Application Support/ORVESSA/..."), as its PPDs and stored
// settings do. One table, filled by the build from GNUInstallDirs, maps the
// folders this package installs to their places (bundles under the library
// folder, helper and service under libexec, profiles under /var/lib). A path
// inside none of them (the separately installed Download Manager) is
// returned as it is. No install root is applied here: see ResolvePath.
std::string InstalledPath(const std::string& logicalPath);

// The service's socket. Never under the install root: socket paths are
// limited to 107 bytes, and the socket unit makes it in /run.
std::string DefaultServiceSocketPath();

// The version every program answers to --version ("<program> <version>").
const char* Version();

}  // namespace sys
