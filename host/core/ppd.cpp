// Opening PPDs and reading the plug-in bundles they name.
#include <cstring>

#include "host.h"
#include "system/system.h"

namespace host {

std::unique_ptr<PPDFile> PPDFile::open(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<PPDFile> {
    if (error) *error = why;
    return nullptr;
  };
  if (path.empty()) return fail("no PPD file given");
  if (!sys::FileExists(path)) return fail("PPD not found: " + path);
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  if (!ppd) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    return fail("PPD " + path + " failed to open: " + ppdErrorString(status) + " (line " +
                std::to_string(line) + ")");
  }
  ppdMarkDefaults(ppd);
  return std::unique_ptr<PPDFile>(new PPDFile(ppd));
}

PPDFile::~PPDFile() {
  if (ppd_) ppdClose(ppd_);
}

std::vector<std::string> PPDFile::dialogExtensions() const {
  std::vector<std::string> paths;
  if (!ppd_) return paths;
  for (ppd_attr_t* attr = ppdFindAttr(ppd_, "APDialogExtension", nullptr); attr;
       attr = ppdFindNextAttr(ppd_, "APDialogExtension", nullptr)) {
    if (!attr->value) continue;
    std::string v = attr->value;
    size_t b = v.find_first_not_of(" \t\r\n");
    size_t e = v.find_last_not_of(" \t\r\n");
    if (b == std::string::npos) continue;
    v = v.substr(b, e - b + 1);
    paths.push_back(sys::ResolvePath(v));
  }
  return paths;
}

}  // namespace host
