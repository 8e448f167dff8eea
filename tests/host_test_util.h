// Helpers shared by the host's integration tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace hosttest {

inline std::string SourcePath(const std::string& rel) { return std::string(R2740_SOURCE_DIR) + "/" + rel; }
inline std::string TestBundle(const std::string& build) {
  return std::string(R2740_TEST_BUNDLE_DIR) + "/TestPanel" + build + ".plugin";
}
inline std::string ColorPPD() { return SourcePath("data/ppd/R2740.ppd"); }
inline std::string MonoPPD() { return SourcePath("data/ppd/R2740Mono.ppd"); }

// A private folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "r2740-host-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(file(name)).parent_path());
    std::ofstream(file(name), std::ios::binary) << text;
    return file(name);
  }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace hosttest
