// How the store touches the file system: directly in the service, through
// R2740Helper in the plug-in.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "QVPList.h"
#include "cf/plist.h"
#include "system/system.h"

#ifndef QV_PLIST_SERVICE_BUILD
#error "build the store with QV_PLIST_SERVICE_BUILD=0 (plug-in) or 1 (service)"
#endif

namespace {

int WriteLists(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst);

// Never follow a link, never wait for the other end of a FIFO or a device.
constexpr int kSafeOpen = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// A path resolved once: its folder, opened, and the file's name in it.
// Everything after this works on the folder's descriptor.
struct Located {
  Fd dir;
  std::string name;
};

bool Locate(const char* path, Located* out) {
  if (!path || !*path) {
    errno = ENOENT;
    return false;
  }
  std::string p(path);
  size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
  out->name = slash == std::string::npos ? p : p.substr(slash + 1);
  if (out->name.empty() || out->name == "." || out->name == "..") {
    errno = EISDIR;
    return false;
  }
  out->dir = Fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return static_cast<bool>(out->dir);
}

// Opens an existing file of the folder; invalid (errno EPERM) when it is not
// one the store may use.
Fd OpenChecked(const Located& at, int flags) {
  Fd fd(::openat(at.dir.get(), at.name.c_str(), flags | kSafeOpen));
  if (!fd) return fd;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || QVPListRefusal(st)) {
    errno = EPERM;
    return Fd();
  }
  return fd;
}

}  // namespace

const char* QVPListRefusal(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return "not a regular file";
#if QV_PLIST_SERVICE_BUILD
  // A second link could be a file anywhere else on the file system; a file
  // of another owner is nothing the service made.
  if (st.st_nlink != 1) return "file has more than one link";
  if (st.st_uid != ::geteuid()) return "file of another owner";
#endif
  return nullptr;
}

std::optional<std::string> QVPListReadFile(const char* path, size_t limit) {
  Located at;
  if (!Locate(path, &at)) return std::nullopt;
  Fd fd = OpenChecked(at, O_RDONLY);
  if (!fd) return std::nullopt;
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return out;
    if (out.size() + static_cast<size_t>(n) > limit) {
      errno = EFBIG;
      return std::nullopt;
    }
    out.append(buf, static_cast<size_t>(n));
  }
}

int QVPListWriteProfile_All(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst) {
  if (!rgb || !sim || !dst) return -1;
  if (QVPListIsAdminProfile() == 0) return -1;
  return WriteLists(rgb, sim, dst);
}

int QVPListWriteProfile_All_Pap(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst,
                                const ProfileList* delRGB, const ProfileList* delSIM, const ProfileList* delDST) {
  if (!rgb || !sim || !dst) return -1;
  if (QVPListIsAdminProfile() == 0) return -1;
  auto out = std::make_unique<ProfileList[]>(3);
  QVPListMappingProfile_All_Pap(rgb, sim, dst, &out[0], &out[1], &out[2], delRGB, delSIM, delDST);
  return WriteLists(&out[0], &out[1], &out[2]);
}

#if QV_PLIST_SERVICE_BUILD
// =========================== service build ===================================

thread_local const char* QV_PLIST_PROFILE_PATH = nullptr;
thread_local const char* QV_PLIST_PROFILE_PREV_PATH = nullptr;

std::string QVPListCurrentPath() { return QV_PLIST_PROFILE_PATH ? QV_PLIST_PROFILE_PATH : ""; }
std::string QVPListPrevPath() { return QV_PLIST_PROFILE_PREV_PATH ? QV_PLIST_PROFILE_PREV_PATH : ""; }

namespace {

// Profile files are read by every user's plug-in and written by the
// service alone.
constexpr mode_t kFileMode = 0644;

// Creates `name` in the folder `dir`, which must not hold it yet, with
// kFileMode.
Fd CreateNew(int dir, const std::string& name, int flags) {
  Fd fd(::openat(dir, name.c_str(), flags | O_CREAT | O_EXCL | kSafeOpen, kFileMode));
  if (fd && ::fchmod(fd.get(), kFileMode) != 0) {
    ::unlinkat(dir, name.c_str(), 0);
    return Fd();
  }
  return fd;
}

bool WriteAll(int fd, const char* data, size_t size) {
  size_t off = 0;
  while (off < size) {
    ssize_t n = ::write(fd, data + off, size - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

int WriteLists(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst) {
  std::string path = QVPListCurrentPath();
  if (path.empty()) return -1;
  std::string xml = QVPListCreateXMLText(rgb, sim, dst);
  if (xml.empty()) return -1;
  return QVPListWriteFile(path.c_str(), xml);
}

}  // namespace

int QVPListWriteFile(const char* path, const std::string& bytes) {
  Located at;
  if (!Locate(path, &at)) return -1;
  static std::atomic<unsigned> counter{0};
  const std::string tmp = "." + at.name + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
  Fd fd = CreateNew(at.dir.get(), tmp, O_WRONLY);
  if (!fd) return -1;
  bool ok = WriteAll(fd.get(), bytes.data(), bytes.size()) && ::fsync(fd.get()) == 0;
  ok = ::close(fd.release()) == 0 && ok;
  if (ok) ok = ::renameat(at.dir.get(), tmp.c_str(), at.dir.get(), at.name.c_str()) == 0;
  if (!ok) {
    ::unlinkat(at.dir.get(), tmp.c_str(), 0);
    return -1;
  }
  ::fsync(at.dir.get());  // the rename itself, durable
  return 0;
}

int QVPListProbePath(const char* path) {
  Located at;
  if (!Locate(path, &at)) return 0;
  Fd fd = CreateNew(at.dir.get(), at.name, O_RDWR | O_APPEND);
  if (fd) {
    ::unlinkat(at.dir.get(), at.name.c_str(), 0);  // it was not there
    return 1;
  }
  if (errno != EEXIST) return 0;
  return OpenChecked(at, O_RDWR | O_APPEND) ? 1 : 0;
}

int QVPListExistPath(const char* path) {
  Located at;
  if (!Locate(path, &at)) return 0;
  return OpenChecked(at, O_RDONLY) ? 1 : 0;
}

int QVPListRemovePath(const char* path) {
  Located at;
  if (!Locate(path, &at)) return 0;
  return ::unlinkat(at.dir.get(), at.name.c_str(), 0) == 0 ? 1 : 0;
}

namespace {

// "<current>.bad" gets the bad file's bytes while the file itself stays, so
// a service that dies before the file is replaced leaves it where it was.
// A file too large to copy is moved instead.
bool CopyAside(const char* current) {
  auto bytes = QVPListReadFile(current);
  if (bytes && QVPListWriteFile((std::string(current) + kQVPListSetAsideSuffix).c_str(), *bytes) == 0) return true;
  Located cur;
  if (!Locate(current, &cur)) return false;
  const std::string aside = cur.name + kQVPListSetAsideSuffix;
  return ::renameat(cur.dir.get(), cur.name.c_str(), cur.dir.get(), aside.c_str()) == 0;
}

}  // namespace

int QVPListCopyAsideUnreadable(const char* current) {
  return QVPListIsUnreadable(current) && CopyAside(current) ? 1 : 0;
}

int QVPListSetAsideUnreadable(const char* current, const char* prev) {
  if (!QVPListIsUnreadable(current)) return 0;
  std::optional<std::string> backup;
  if (prev) {
    backup = QVPListReadFile(prev);
    if (!backup || !QVPListHoldsLists(*backup)) return 0;
  }
  // A backup with the lists stays even when the bad file cannot be kept.
  const int kept = backup ? 1 : 0;
  if (!CopyAside(current)) return kept;
  // Replaced in one rename, so the current file is never missing.
  if (backup) (void)QVPListWriteFile(current, *backup);  // on failure the backup still holds the lists
  else (void)QVPListRemovePath(current);                  // the walk starts anew: gone either way
  return 1;
}

void QVPListSwapPaths(int type, const char* current, const char* prev) {
  Located cur, bak;
  bool haveCur = Locate(current, &cur), haveBak = Locate(prev, &bak);
  switch (type) {
    case kQVPListSwapBackup: {
      if (!haveBak) break;
      // A current file that went bad never replaces a backup that still
      // reads: it is kept aside and the backup takes its place.
      if (haveCur && QVPListSetAsideUnreadable(current, prev)) break;
      ::unlinkat(bak.dir.get(), bak.name.c_str(), 0);
      // The backup path is made even without a current file.
      Fd out = CreateNew(bak.dir.get(), bak.name, O_RDWR | O_APPEND);
      Fd in = haveCur ? OpenChecked(cur, O_RDONLY) : Fd();
      if (!in || !out) break;
      std::vector<char> buf(65535);
      for (;;) {
        ssize_t n = ::read(in.get(), buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || !WriteAll(out.get(), buf.data(), static_cast<size_t>(n))) break;
      }
      break;
    }
    case kQVPListSwapDropBackup:
      if (haveBak) ::unlinkat(bak.dir.get(), bak.name.c_str(), 0);
      break;
    case kQVPListSwapRestore:
      // Restore only from a backup that is there: dropping the current file
      // without one would lose it.
      if (haveCur && haveBak && OpenChecked(bak, O_RDONLY))
        ::renameat(bak.dir.get(), bak.name.c_str(), cur.dir.get(), cur.name.c_str());
      break;
    default:
      break;
  }
}

int QVPListIsAdminProfile() { return QVPListProbePath(QV_PLIST_PROFILE_PATH); }

int QVPListExistProfile() {
  if (QVPListIsAdminProfile() == 0) return 0;
  return QVPListExistPath(QV_PLIST_PROFILE_PATH);
}

int QVPListRemove(int which) {
  const char* path = which == kQVPListRemoveCurrent ? QV_PLIST_PROFILE_PATH
                     : which == kQVPListRemovePrev  ? QV_PLIST_PROFILE_PREV_PATH
                                                    : nullptr;
  if (!path) return 0;
  if (QVPListIsAdminProfile() == 0) return 0;
  return QVPListRemovePath(path);
}

void QVPListSwapProfile(int type) {
  if (QVPListIsAdminProfile() == 0) return;
  QVPListSwapPaths(type, QV_PLIST_PROFILE_PATH, QV_PLIST_PROFILE_PREV_PATH);
}

#else
// =========================== plug-in build ===================================

#ifndef QV_PLIST_MODEL_KEY
#error "the plug-in build of the store needs QV_PLIST_MODEL_KEY"
#endif

namespace {

constexpr const char* kHelperPath =
    "/Library/Application Support/ORVESSA/R2740/Helpers/R2740Helper.app/Contents/MacOS/R2740Helper";
constexpr const char* kCurrentFormat =
    "/Library/Printers/ORVESSA/Preferences/jp.orvessa.printers.R2740/%s-" QV_PLIST_MODEL_KEY "-profile.plist";
constexpr const char* kPrevFormat =
    "/Library/Printers/ORVESSA/Preferences/jp.orvessa.printers.R2740/%s-" QV_PLIST_MODEL_KEY "-profile.prev.plist";

// Pieces of the XML text travel as one command-line argument each: at most
// 90000 characters, and never more bytes than one argument may hold.
constexpr size_t kPieceChars = 90000;
constexpr size_t kPieceBytes = 120000;

std::string FormatPath(const char* format) {
  std::string user = sys::LoginName();
  if (user.empty()) return {};
  char buf[255];
  int n = std::snprintf(buf, sizeof buf, format, user.c_str());
  if (n < 0 || static_cast<size_t>(n) >= sizeof buf) return {};
  return sys::ResolvePath(buf);
}

bool HelperPresent() { return sys::FileExists(QVPListHelperPath()); }

// Runs the helper; true when its output holds "<command>=TRUE".
bool RunHelper(const std::string& command, std::vector<std::string> args) {
  args.insert(args.begin(), command);
  sys::TaskResult r = sys::RunTask(QVPListHelperPath(), args);
  if (!r.launched) return false;
  return r.output.find(command + "=TRUE") != std::string::npos;
}

// Consecutive pieces, cut only between UTF-8 characters; characters are
// counted in UTF-16 units as the platform counts string length.
std::vector<std::string> SplitPieces(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t pos = start, units = 0;
    while (pos < text.size()) {
      unsigned char c = static_cast<unsigned char>(text[pos]);
      size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
      size_t u = len == 4 ? 2 : 1;
      if (units + u > kPieceChars || pos + len - start > kPieceBytes) break;
      pos += len;
      units += u;
    }
    pieces.push_back(text.substr(start, pos - start));
    start = pos;
  }
  return pieces;
}

int WriteLists(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst) {
  if (!HelperPresent()) return -1;
  std::string path = QVPListCurrentPath();
  if (path.empty()) return -1;
  std::string xml = QVPListCreateXMLText(rgb, sim, dst);
  if (xml.empty()) return -1;
  auto url = cf::URL::createWithFileSystemPath(path);
  if (!url) return -1;
  // A sequence that was cut short earlier must not prefix this one.
  RunHelper("qvPListRemove_XPC", {path + ".dummy"});
  for (const std::string& piece : SplitPieces(xml))
    if (!RunHelper("writeDataToPlistFile_XPC", {url->string(), piece})) return -1;
  return RunHelper("writeDataToPlistFileRename_XPC", {url->string()}) ? 0 : -1;
}

}  // namespace

std::string QVPListHelperPath() { return sys::ResolvePath(kHelperPath); }
std::string QVPListCurrentPath() { return FormatPath(kCurrentFormat); }
std::string QVPListPrevPath() { return FormatPath(kPrevFormat); }

int QVPListIsAdminProfile() {
  if (!HelperPresent()) return 0;
  std::string path = QVPListCurrentPath();
  if (path.empty()) return 0;
  return RunHelper("qvPListIsAdminProfile_XPC", {path}) ? 1 : 0;
}

int QVPListExistProfile() {
  if (QVPListIsAdminProfile() == 0) return 0;
  return RunHelper("qvPListExistProfile_XPC", {QVPListCurrentPath()}) ? 1 : 0;
}

int QVPListRemove(int which) {
  if (which != kQVPListRemoveCurrent && which != kQVPListRemovePrev) return 0;
  if (QVPListIsAdminProfile() == 0) return 0;
  std::string path = which == kQVPListRemoveCurrent ? QVPListCurrentPath() : QVPListPrevPath();
  return RunHelper("qvPListRemove_XPC", {path}) ? 1 : 0;
}

void QVPListSwapProfile(int type) {
  if (QVPListIsAdminProfile() == 0) return;
  std::string current = QVPListCurrentPath(), prev = QVPListPrevPath();
  sys::RunTask(QVPListHelperPath(), {"qvPListSwapProfile_XPC", std::to_string(type), current.empty() ? "NULL" : current,
                                     prev.empty() ? "NULL" : prev});
}

#endif
