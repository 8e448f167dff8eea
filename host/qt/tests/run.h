// Running the dialog program (and other tools) from tests.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qttest {

// Single-quoted for the shell.
inline std::string Sh(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command; its exit status, with stdout and stderr in *output.
inline int Run(const std::string& command, std::string* output) {
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The peer tool's reading of a property list file: plistutil's own XML
// after a round trip through its binary form; empty when it cannot read
// the file. Anything before the list, or after it, does not come back.
inline std::string PlistutilRoundTrip(const std::filesystem::path& plist) {
  std::filesystem::path bin = plist.string() + ".bin", back = plist.string() + ".back";
  std::filesystem::remove(bin);
  std::filesystem::remove(back);
  std::string quiet;
  Run("plistutil -i " + Sh(plist.string()) + " -f bin -o " + Sh(bin.string()) + " && plistutil -i " +
          Sh(bin.string()) + " -f xml -o " + Sh(back.string()),
      &quiet);
  return ReadFile(back);
}

// A temporary folder removed at the end of the test.
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "r2740-qt-XXXXXX").string();
    if (mkdtemp(tmpl.data())) path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

// A folder holding links to the given bundles of the build; empty when one
// of them was not built.
inline bool LinkBundles(const std::filesystem::path& into, std::initializer_list<const char*> names) {
  std::filesystem::create_directories(into);
  for (const char* name : names) {
    std::filesystem::path b = std::filesystem::path(R2740_BUNDLE_DIR) / (std::string(name) + ".plugin");
    // Info.plist is laid out when the build is configured; the library only
    // when the bundle is built.
    if (!std::filesystem::exists(b / "Contents" / "lib" / (std::string(name) + ".so"))) return false;
    std::filesystem::create_directory_symlink(b, into / b.filename());
  }
  return true;
}

// A folder of links to the given bundles that lasts as long as the process
// (empty path when one is not built): a plug-in keeps the bundle it was
// first loaded from for the life of the process, so a test program loads
// each bundle through one lasting path, whatever order its tests run in.
inline std::filesystem::path LastingBundles(std::initializer_list<const char*> names) {
  static TempDir links;
  std::string folder = "bundles";
  for (const char* n : names) folder += std::string("-") + n;
  std::filesystem::path dir = links.path / folder;
  if (!std::filesystem::exists(dir) && !LinkBundles(dir, names)) return {};
  return dir;
}

}  // namespace qttest
