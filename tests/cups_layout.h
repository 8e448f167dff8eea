// What a private cupsd of a test needs to run the sample PPDs' filter: a
// ServerBin with the build's r2740-filter, and an install root where the
// filter finds the build's bundles (handed to it with SetEnv R2740_ROOT).
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include "system/layout.h"

namespace hosttest {

// A cupsd ServerBin at `bin`: links to the system's programs, with the
// build's r2740-filter among the filters. False when that is not built.
inline bool LayOutServerBin(const std::string& bin) {
  const std::string filter = std::string(R2740_BINARY_DIR) + "/bin/r2740-filter";
  if (access(filter.c_str(), X_OK) != 0) return false;
  std::filesystem::create_directories(bin + "/filter");
  for (const char* sub : {"backend", "cgi-bin", "daemon", "driver", "monitor", "notifier"})
    std::filesystem::create_directory_symlink(std::string("/usr/lib/cups/") + sub, bin + "/" + sub);
  for (const auto& f : std::filesystem::directory_iterator("/usr/lib/cups/filter"))
    std::filesystem::create_symlink(f.path(), bin + "/filter/" + f.path().filename().string());
  std::filesystem::create_symlink(filter, bin + "/filter/r2740-filter");
  return true;
}

// An install root at `root` with the build's bundles where the sample PPDs'
// *APDialogExtension lines point.
inline void LayOutPanels(const std::string& root) {
  const std::string pdes = root + sys::InstalledPath("/Library/Printers/ORVESSA/R2740/PDEs");
  std::filesystem::create_directories(pdes);
  for (std::string name : {"ColorOptionsPDE_R2740", "ColorOptionsPDE_R2740Mono", "SecurityPanelPDE"})
    if (std::filesystem::exists(std::string(R2740_BUNDLE_DIR) + "/" + name + ".plugin"))
      std::filesystem::create_directory_symlink(std::string(R2740_BUNDLE_DIR) + "/" + name + ".plugin",
                                                pdes + "/" + name + ".plugin");
}

// Lays out a ServerBin and an install root under `dir` (as above) and gives
// the lines of cups-files.conf that hand them to cupsd; empty when
// r2740-filter is not built.
inline std::string LayOutFilterRun(const std::string& dir) {
  if (!LayOutServerBin(dir + "/serverbin")) return "";
  LayOutPanels(dir + "/root");
  return "ServerBin " + dir + "/serverbin\nSetEnv R2740_ROOT " + dir + "/root\n";
}

}  // namespace hosttest
