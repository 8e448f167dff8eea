#include "driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace filter {

namespace {

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

}  // namespace

bool DriverFilter(ppd_file_t* ppd, const std::string& serverBin, const std::string& self, std::string* driver,
                  std::string* error) {
  driver->clear();
  ppd_attr_t* attr = ppd ? ppdFindAttr(ppd, kDriverKeyword, nullptr) : nullptr;
  if (!attr || !attr->value || !*attr->value) return true;
  const std::string folder = (serverBin.empty() ? std::string("/usr/lib/cups") : serverBin) + "/filter/";
  const std::string value = attr->value;
  const std::string named = std::string("the PPD's *") + kDriverKeyword + " \"" + value + "\"";
  // A bare name is a program of the filter folder, as in *cupsFilter2, so
  // one PPD serves any cupsd whatever its ServerBin.
  const std::string path = value.find('/') == std::string::npos ? folder + value : value;
  // cupsd runs only programs of its filter folder; so does this filter.
  if (path[0] != '/') return Fail(error, named + " is not a program name or an absolute path");
  if (path.compare(0, folder.size(), folder) != 0 || path.size() == folder.size() ||
      path.find('/', folder.size()) != std::string::npos)
    return Fail(error, named + " is not a program in the CUPS filter folder " + folder);
  const std::string name = path.substr(folder.size());
  if (name == "." || name == "..") return Fail(error, named + " is not a program in the CUPS filter folder " + folder);
  struct stat st {}, mine {};
  if (::stat(path.c_str(), &st) != 0) return Fail(error, named + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0)
    return Fail(error, named + " is not an executable program");
  if (!self.empty() && ::stat(self.c_str(), &mine) == 0 && mine.st_dev == st.st_dev && mine.st_ino == st.st_ino)
    return Fail(error, named + " names this filter itself");
  *driver = path;
  return true;
}

std::string RunDriver(const std::string& driver, const std::vector<std::string>& argv, const std::string& options) {
  std::vector<std::string> args = argv;
  if (args.size() < 6) return "the driver needs the job's six arguments";
  args[5] = options;
  std::vector<char*> pointers;
  for (auto& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  ::execv(driver.c_str(), pointers.data());
  return "cannot run the driver " + driver + ": " + std::strerror(errno);
}

bool PassThrough(const char* file, std::string* error) {
  int in = STDIN_FILENO;
  if (file) {
    in = ::open(file, O_RDONLY | O_CLOEXEC);
    if (in < 0) return Fail(error, std::string("cannot read the job's file ") + file + ": " + std::strerror(errno));
  }
  char buf[65536];
  bool ok = true;
  while (ok) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = Fail(error, std::string("cannot read the job's data: ") + std::strerror(errno));
    if (n <= 0) break;
    for (ssize_t done = 0; ok && done < n;) {
      ssize_t w = ::write(STDOUT_FILENO, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) ok = Fail(error, std::string("cannot write the job's data: ") + std::strerror(errno));
      else done += w;
    }
  }
  if (file) ::close(in);
  return ok;
}

}  // namespace filter
