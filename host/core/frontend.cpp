#include "frontend.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <random>

#include "cf/plist.h"

namespace host {

namespace {

// Digits only, at most 12 of them (an id, a page count, a time); empty stays empty.
bool Digits(const std::string& v) {
  return v.size() <= 12 && std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Flag TakeJobValue(const std::string& key, const std::string& value, HeldJobInfo* job, std::string* error) {
  bool number = key == "id" || key == "pages" || key == "sent";
  if (number && !Digits(value)) {
    *error = "--job " + key + "= wants a number, got \"" + PlainText(value) + "\"";
    return Flag::Error;
  }
  if (key == "id") job->id = value;
  else if (key == "pages") job->pages = value;
  else if (key == "sent") job->sent = value.empty() ? 0 : std::stoll(value);
  else if (key == "name") job->name = PlainText(value);
  else if (key == "application") job->application = PlainText(value);
  else if (key == "host") job->host = PlainText(value);
  else {
    *error = "--job knows id, name, pages, application, host and sent, not \"" + PlainText(key) + "\"";
    return Flag::Error;
  }
  return Flag::Taken;
}

}  // namespace

std::string PlainText(const std::string& text, size_t limit) {
  const std::u16string wide = cf::String(text).utf16();  // malformed bytes read as U+FFFD
  const int32_t length = static_cast<int32_t>(wide.size());
  std::u16string kept;
  size_t count = 0;
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U16_NEXT(wide.data(), i, length, c);
    int8_t type = u_charType(c);
    if (c == '\t' || c == '\n' || c == '\r' || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR) c = ' ';
    else if (type == U_CONTROL_CHAR || type == U_FORMAT_CHAR || type == U_SURROGATE) continue;
    if (count == limit) {
      kept += u"...";
      break;
    }
    if (U_IS_BMP(c)) kept += static_cast<char16_t>(c);
    else kept += {static_cast<char16_t>(U16_LEAD(c)), static_cast<char16_t>(U16_TRAIL(c))};
    ++count;
  }
  cf::StringRef out = cf::String::createWithUTF16(kept);
  return out ? out->utf8() : "";
}

std::string JobLine(const HeldJobInfo& job) {
  if (job.empty()) return "";
  std::string line = "Job " + job.id;
  if (!job.name.empty()) line += " \"" + job.name + "\"";
  if (!job.pages.empty()) line += ", " + job.pages + (job.pages == "1" ? " page" : " pages");
  if (!job.application.empty()) line += ", from " + job.application;
  if (!job.host.empty()) line += (job.application.empty() ? ", from " : " on ") + job.host;
  if (job.sent > 0) {
    time_t t = static_cast<time_t>(job.sent);
    struct tm local {};
    char when[64];
    if (localtime_r(&t, &local) && std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &local))
      line += std::string(", sent ") + when;
  }
  return line;
}

Flag TakeSharedFlag(int argc, char** argv, int* i, FrontEndOptions* o, std::string* error) {
  const std::string a = argv[*i];
  std::string* into = nullptr;
  if (a == "--queue") into = &o->queueName;
  else if (a == "--ppd") into = &o->ppdPath;
  else if (a == "--queue-id") into = &o->queueId;
  else if (a == "--device-uri") into = &o->deviceURI;
  else if (a == "--bundles") into = &o->bundles;
  else if (a == "--settings-in") into = &o->settingsIn;
  else if (a == "--settings-out") into = &o->settingsOut;
  else if (a == "--action") into = &o->action;
  else if (a != "--set" && a != "--job") return Flag::NotShared;
  if (*i + 1 >= argc) {
    *error = a + " needs a value (see --help)";
    return Flag::Error;
  }
  std::string value = argv[++*i];
  if (into) {
    *into = value;
    if (a == "--device-uri") o->haveDeviceURI = true;
    return Flag::Taken;
  }
  size_t eq = value.find('=');
  if (eq == std::string::npos || eq == 0) {
    *error = a + " wants KEY=VALUE, got \"" + PlainText(value) + "\"";
    return Flag::Error;
  }
  if (a == "--job") return TakeJobValue(value.substr(0, eq), value.substr(eq + 1), &o->job, error);
  std::string v = value.substr(eq + 1);
  if (v.rfind(kProfilePrefix, 0) == 0 && !ParseProfileChoice(v)) {
    *error = "--set " + value + ": write profile:FILE@disk or profile:FILE@card";
    return Flag::Error;
  }
  o->sets.emplace_back(value.substr(0, eq), v);
  return Flag::Taken;
}

bool CheckQueueFlags(const FrontEndOptions& o, bool required, std::string* error) {
  if (!o.queueName.empty() && !o.ppdPath.empty()) *error = "give either --queue or --ppd, not both";
  else if (required && o.queueName.empty() && o.ppdPath.empty()) *error = "give --queue NAME or --ppd FILE (see --help)";
  else if (!o.ppdPath.empty() && o.queueId.empty()) *error = "--ppd needs --queue-id";
  else if (o.ppdPath.empty() && (!o.queueId.empty() || o.haveDeviceURI)) *error = "--queue-id and --device-uri go with --ppd";
  else return true;
  return false;
}

OpenedQueue::~OpenedQueue() {
  ppd.reset();
  if (queue.temporaryPPD && !queue.ppdPath.empty()) unlink(queue.ppdPath.c_str());
}

Exit OpenQueue(const FrontEndOptions& o, OpenedQueue* opened, std::string* error) {
  if (!o.queueName.empty()) {
    auto q = CupsQueue(o.queueName, error);
    if (!q) return kQueueErr;
    opened->queue = *q;
  } else {
    opened->queue = ManualQueue(o.ppdPath, o.queueId, o.deviceURI);
  }
  opened->ppd = PPDFile::open(opened->queue.ppdPath, error);
  if (!opened->ppd) return kQueueErr;

  if (!o.bundles.empty()) {
    std::vector<std::string> errors;
    opened->plugins = LoadPlugInFolder(o.bundles, &errors);
    if (!errors.empty()) {
      *error = "bundle failed to load: " + errors.front();
      return kBundleErr;
    }
  } else {
    for (const auto& path : opened->ppd->dialogExtensions()) {
      auto p = LoadPlugIn(path, error);
      if (!p) {
        *error = "bundle failed to load: " + *error;
        return kBundleErr;
      }
      opened->plugins.push_back(p);
    }
  }

  if (!o.settingsIn.empty()) {
    std::string why;
    cf::Ref root = cf::PropertyListCreateFromFile(o.settingsIn, &why);
    if (!root) {
      *error = "cannot read settings " + o.settingsIn + ": " + why;
      return kSettingsErr;
    }
    opened->startSettings = cf::As<cf::Dictionary>(root);
    if (!opened->startSettings) {
      *error = "settings " + o.settingsIn + " are not a dictionary";
      return kSettingsErr;
    }
  }
  return kOK;
}

namespace {

std::string CannotWrite(const std::string& path, const std::string& why) { return "cannot write " + path + ": " + why; }

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a shell's ">" would write: the end of the chain of links (which
// need not exist yet). Empty with errno set on a loop or a failed lookup.
std::string FollowLinks(const std::string& path, struct stat* st, bool* exists) {
  std::string target = path;
  for (int hops = 0; hops <= 40; ++hops) {
    if (::lstat(target.c_str(), st) != 0) {
      if (errno != ENOENT) return {};
      *exists = false;
      return target;
    }
    if (!S_ISLNK(st->st_mode)) {
      *exists = true;
      return target;
    }
    std::string link(PATH_MAX, '\0');
    ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size()) {
      if (n >= 0) errno = ENAMETOOLONG;
      return {};
    }
    link.resize(static_cast<size_t>(n));
    target = link[0] == '/' ? link : DirectoryOf(target) + "/" + link;
  }
  errno = ELOOP;
  return {};
}

}  // namespace

bool WriteFileAtomic(const std::string& path, const std::string& text, std::string* error, unsigned mode) {
  if (path == "-") {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      *error = CannotWrite("standard output", std::strerror(errno));
      return false;
    }
    return true;
  }
  struct stat st {};
  bool exists = false;
  const std::string target = FollowLinks(path, &st, &exists);
  if (target.empty()) {
    *error = CannotWrite(path, std::strerror(errno));
    return false;
  }
  if (exists && S_ISDIR(st.st_mode)) {
    *error = CannotWrite(path, "it is a directory");
    return false;
  }
  auto writeInPlace = [&] {
    int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    bool ok = fd >= 0 && WriteAll(fd, text);
    int saved = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) ok = false, saved = errno;
    if (!ok) *error = CannotWrite(path, std::strerror(saved));
    return ok;
  };
  // A device or FIFO is written into, never replaced.
  if (exists && !S_ISREG(st.st_mode)) return writeInPlace();

  // A name nobody else holds, opened exclusively: never a link planted there.
  const std::string dir = DirectoryOf(target);
  const std::string base = target.substr(target.rfind('/') + 1);
  std::random_device random;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = dir + "/." + base + "." + std::to_string(getpid()) + "." + std::to_string(random() % 1000000);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, exists ? 0600 : mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    // A file the user may write in a folder the user may not: as a shell does.
    if (exists && (errno == EACCES || errno == EPERM || errno == EROFS) && ::access(target.c_str(), W_OK) == 0)
      return writeInPlace();
    *error = CannotWrite(path, std::strerror(errno));
    return false;
  }
  bool ok = true;
  if (exists) {
    // What a shell's ">" keeps: the file's permissions and, for root, its owner.
    ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    if (ok && geteuid() == 0) ok = ::fchown(fd, st.st_uid, st.st_gid) == 0;
  }
  ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) ok = false, saved = errno;
  if (ok && std::rename(tmp.c_str(), target.c_str()) != 0) ok = false, saved = errno;
  if (!ok) {
    ::unlink(tmp.c_str());
    *error = CannotWrite(path, std::strerror(saved));
  }
  return ok;
}

std::string AlertLine(const ui::Alert& alert) {
  auto oneLine = [](std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    for (char& c : s)
      if (c == '\n' || c == '\r') c = ' ';
    return s;
  };
  return "alert: " + oneLine(alert.messageText) + " | " + oneLine(alert.informativeText);
}

}  // namespace host
