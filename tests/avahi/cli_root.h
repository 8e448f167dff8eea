// An install root for dialog sessions through the command line: the real
// helper at its install path (it starts the service on demand) and the
// colour bundle, for tests that open the panel on a queue and read the
// user's profile file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "ProfileTestSupport.h"

namespace proftest {

struct CliRoot : ServiceRoot {
  CliRoot() {
    namespace fs = std::filesystem;
    const std::string helper = sys::ResolvePath(
        "/Library/Application Support/ORVESSA/R2740/Helpers/R2740Helper.app/Contents/MacOS/R2740Helper");
    fs::create_directories(fs::path(helper).parent_path());
    fs::copy_file(HelperProgram(), helper);
    fs::permissions(helper, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    bundles = root() + "/bundles";
    fs::create_directories(bundles);
    fs::create_directory_symlink(std::string(R2740_BUNDLE_DIR) + "/ColorOptionsPDE_R2740.plugin",
                                 bundles + "/ColorOptionsPDE_R2740.plugin");
  }
  // r2740-pde-cli with the bundles and `args`, saving; output and errors
  // together.
  sys::TaskResult Session(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {"-c", "exec \"$0\" \"$@\" 2>&1",
                                    std::string(R2740_BINARY_DIR) + "/bin/r2740-pde-cli"};
    all.insert(all.end(), args.begin(), args.end());
    for (const char* a : {"--bundles", bundles.c_str(), "--action", "save"}) all.push_back(a);
    return sys::RunTask("/bin/sh", all);
  }
  std::string bundles;
};

}  // namespace proftest
