// How the store touches the file system: directly in the service, through
// R2740Helper in the plug-in.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "QVPList.h"
#include "cf/plist.h"
#include "system/system.h"

#ifndef QV_PLIST_SERVICE_BUILD
#error "build the store with QV_PLIST_SERVICE_BUILD=0 (plug-in) or 1 (service)"
#endif

namespace {
int WriteLists(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst);
}  // namespace

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

// Profile files are plain files; a link planted in the shared folder must
// not redirect a write elsewhere.
constexpr int kNoFollow = O_NOFOLLOW | O_CLOEXEC;

int OpenForAppend(const char* path) { return ::open(path, O_RDWR | O_APPEND | O_CREAT | kNoFollow, 0664); }

int WriteLists(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst) {
  std::string path = QVPListCurrentPath();
  if (path.empty()) return -1;
  auto root = QVPListCreateRootDictionary(rgb, sim, dst);
  if (!root) return -1;
  // Atomic: a failed write leaves the old file whole.
  return cf::PropertyListWriteToFile(root, path, true) ? 0 : -1;
}

}  // namespace

int QVPListProbePath(const char* path) {
  if (!path || !*path) return 0;
  struct stat st;
  bool existed = ::lstat(path, &st) == 0;
  ::umask(002);
  int fd = OpenForAppend(path);
  if (fd < 0) return 0;
  ::close(fd);
  if (!existed) ::unlink(path);
  return 1;
}

int QVPListExistPath(const char* path) {
  if (!path || !*path) return 0;
  int fd = ::open(path, O_RDONLY | kNoFollow);
  if (fd < 0) return 0;
  ::close(fd);
  return 1;
}

int QVPListRemovePath(const char* path) {
  if (!path || !*path) return 0;
  return ::unlink(path) == 0 ? 1 : 0;
}

void QVPListSwapPaths(int type, const char* current, const char* prev) {
  auto present = [](const char* p) { return p && *p; };
  switch (type) {
    case kQVPListSwapBackup: {
      if (present(prev)) ::unlink(prev);
      int in = present(current) ? ::open(current, O_RDONLY | kNoFollow) : -1;
      int out = present(prev) ? OpenForAppend(prev) : -1;
      if (in >= 0 && out >= 0) {
        std::vector<char> buf(65535);
        for (;;) {
          ssize_t n = ::read(in, buf.data(), buf.size());
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) break;
          ssize_t off = 0;
          while (off < n) {
            ssize_t w = ::write(out, buf.data() + off, static_cast<size_t>(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;
            off += w;
          }
          if (off < n) break;
        }
      }
      if (in >= 0) ::close(in);
      if (out >= 0) ::close(out);
      break;
    }
    case kQVPListSwapDropBackup:
      if (present(prev)) ::unlink(prev);
      break;
    case kQVPListSwapRestore:
      // Restore only from a backup that is there: dropping the current file
      // without one would lose it.
      if (present(current) && present(prev)) {
        struct stat st;
        if (::lstat(prev, &st) == 0 && S_ISREG(st.st_mode)) ::rename(prev, current);
      }
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
