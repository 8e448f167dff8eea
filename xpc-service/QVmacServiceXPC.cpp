#include "QVmacServiceXPC.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MibWalk.h"
#include "QVPList.h"
#include "cf/cf.h"
#include "cf/plist.h"
#include "system/system.h"

namespace {

constexpr const char* kTrue = "TRUE";
constexpr const char* kFalse = "FALSE";

constexpr const char* kSwapTypeMarker = ":ARG_iSwapType";
constexpr const char* kCurrentMarker = ":ARG_cFooCurrentString";
constexpr const char* kPrevMarker = ":ARG_cFooPrevString";
constexpr const char* kURLMarker = ":AddURL:END";
constexpr const char* kModelMarker = ":ModelName:END";
constexpr const char* kUserMarker = ":USErName:END";

constexpr const char* kCurrentFormat =
    "/Library/Printers/ORVESSA/Preferences/jp.orvessa.printers.R2740/%s-%s-profile.plist";
constexpr const char* kPrevFormat =
    "/Library/Printers/ORVESSA/Preferences/jp.orvessa.printers.R2740/%s-%s-profile.prev.plist";


std::string Error(const std::string& reason) { return "ERROR: " + reason; }

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<std::string> LoginOf(uid_t uid) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd pw{};
  passwd* result = nullptr;
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &result) != 0 || !result || !pw.pw_name) return std::nullopt;
  return std::string(pw.pw_name);
}

constexpr const char* kModelKeys[] = {"R2740Mono", "R2740"};

// "<login>-<model>-profile.plist" and its relatives as `kind` allows: the
// login part, or nullopt. The model part is exactly one model key.
std::optional<std::string> LoginOfProfileName(const std::string& name, QVProfileFileKind kind) {
  std::string n = name;
  bool setAside = false;
  if (kind == QVProfileFileKind::kAnyOrTemporary) {
    // One suffix at most: "<current>.bad" (a current file kept aside) or
    // either name with ".dummy".
    if (EndsWith(n, kQVPListSetAsideSuffix)) {
      n.resize(n.size() - std::strlen(kQVPListSetAsideSuffix));
      setAside = true;
    } else if (EndsWith(n, ".dummy")) {
      n.resize(n.size() - 6);
    }
  }
  bool current = kind != QVProfileFileKind::kPrev && EndsWith(n, "-profile.plist");
  if (setAside && !current) return std::nullopt;
  bool prev = kind != QVProfileFileKind::kCurrent && EndsWith(n, "-profile.prev.plist");
  if (!current && !prev) return std::nullopt;
  n.resize(n.size() - (current ? 14 : 19));
  for (const char* model : kModelKeys) {
    std::string suffix = std::string("-") + model;
    if (EndsWith(n, suffix)) return n.substr(0, n.size() - suffix.size());
  }
  return std::nullopt;
}

// A file path from a file URL string; nullopt when it is not one.
std::optional<std::string> PathOfFileURL(const std::string& s) {
  auto url = cf::URL::createWithString(s);
  if (!url) return std::nullopt;
  return url->fileSystemPath();
}


// Points the store at one request's files for as long as it runs.
class RequestPaths {
 public:
  RequestPaths(const std::string& current, const std::string& prev) : current_(current), prev_(prev) {
    QV_PLIST_PROFILE_PATH = current_.c_str();
    QV_PLIST_PROFILE_PREV_PATH = prev_.c_str();
  }
  ~RequestPaths() {
    QV_PLIST_PROFILE_PATH = nullptr;
    QV_PLIST_PROFILE_PREV_PATH = nullptr;
  }
  RequestPaths(const RequestPaths&) = delete;
  RequestPaths& operator=(const RequestPaths&) = delete;

 private:
  std::string current_, prev_;
};

}  // namespace

std::optional<std::string> QVConfineProfilePath(const std::string& given, QVProfileFileKind kind, uid_t peerUid,
                                                std::string* reason) {
  auto fail = [&](const char* why) -> std::optional<std::string> {
    if (reason) *reason = why;
    return std::nullopt;
  };
  if (given.empty()) return fail("no path");
  if (given.size() >= PATH_MAX || given.find('\0') != std::string::npos) return fail("invalid path");
  if (given[0] != '/') return fail("path is not absolute");
  // No "." or ".." anywhere, no doubled separators.
  for (size_t start = 1; start <= given.size();) {
    size_t end = given.find('/', start);
    if (end == std::string::npos) end = given.size();
    std::string part = given.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return fail("path has empty, \".\" or \"..\" components");
    start = end + 1;
  }
  std::string logical = kQVPListProfileFolder;
  std::string resolved = sys::ResolvePath(logical);
  std::string name;
  if (given.compare(0, resolved.size() + 1, resolved + "/") == 0)
    name = given.substr(resolved.size() + 1);
  else if (given.compare(0, logical.size() + 1, logical + "/") == 0)
    name = given.substr(logical.size() + 1);
  else
    return fail("path is outside the profile folder");
  if (name.find('/') != std::string::npos) return fail("path is not directly in the profile folder");
  auto login = LoginOfProfileName(name, kind);
  if (!login) return fail("not a profile file name");
  if (!QVCallerMayActFor(peerUid, *login, reason)) return std::nullopt;
  char real[PATH_MAX];
  if (!::realpath(resolved.c_str(), real)) return fail("profile folder is missing");
  std::string full = std::string(real) + "/" + name;
  struct stat st;
  if (::lstat(full.c_str(), &st) == 0)
    if (const char* why = QVPListRefusal(st)) return fail(why);
  return full;
}

bool QVIsModelKey(const std::string& model) {
  for (const char* key : kModelKeys)
    if (model == key) return true;
  return false;
}

bool QVCallerMayActFor(uid_t peerUid, const std::string& login, std::string* reason) {
  auto fail = [&](const char* why) {
    if (reason) *reason = why;
    return false;
  };
  // The login becomes the first part of a file name in the folder.
  if (login.empty() || login == "." || login == ".." || login.find_first_of(std::string("/\0", 2)) != std::string::npos)
    return fail("invalid user name");
  if (peerUid == 0) return true;
  auto own = LoginOf(peerUid);
  if (!own || *own != login) return fail("profile file of another user");
  return true;
}

bool QVmacXPCServiceDelegate::shouldAcceptNewConnection(const QVXPCPeer& peer) const {
  if (peer.uid == static_cast<uid_t>(-1)) return false;
  uid_t self = ::geteuid();
  return self == 0 || peer.uid == 0 || peer.uid == self;
}

std::string QVmacServiceXPC::perform(const std::string& operation, const std::string& arg) {
  if (arg.find('\0') != std::string::npos ||
      !cf::String::createWithBytes(arg.data(), arg.size(), cf::kCFStringEncodingUTF8))
    return Error("request is not UTF-8 text");
  if (operation == "qvPListIsAdminProfile_XPC") return qvPListIsAdminProfile_XPC(arg);
  if (operation == "qvPListSwapProfile_XPC") return qvPListSwapProfile_XPC(arg);
  if (operation == "qvPListExistProfile_XPC") return qvPListExistProfile_XPC(arg);
  if (operation == "qvPListRemove_XPC") return qvPListRemove_XPC(arg);
  if (operation == "writeDictionaryToPlistFile_XPC") return writeDictionaryToPlistFile_XPC(arg);
  if (operation == "writeDataToPlistFile_XPC") return writeDataToPlistFile_XPC(arg);
  if (operation == "writeDataToPlistFileRename_XPC") return writeDataToPlistFileRename_XPC(arg);
  if (operation == "mibwalk_XPC") return mibwalk_XPC(arg);
  return Error("unknown operation");
}

std::string QVmacServiceXPC::onePathQuery(const std::string& arg, QVProfileFileKind kind, int (*op)(const char*)) {
  if (arg.empty()) return kFalse;
  std::string why;
  auto path = QVConfineProfilePath(arg, kind, peer_.uid, &why);
  if (!path) return Error(why);
  return op(path->c_str()) ? kTrue : kFalse;
}

std::string QVmacServiceXPC::qvPListIsAdminProfile_XPC(const std::string& arg) {
  return onePathQuery(arg, QVProfileFileKind::kAnyProfile, QVPListProbePath);
}

std::string QVmacServiceXPC::qvPListSwapProfile_XPC(const std::string& arg) {
  size_t t = arg.find(kSwapTypeMarker);
  size_t c = t == std::string::npos ? t : arg.find(kCurrentMarker, t);
  size_t p = c == std::string::npos ? c : arg.find(kPrevMarker, c);
  if (p == std::string::npos) return Error("swap request without its markers");
  std::string typeText = arg.substr(0, t);
  std::string current = arg.substr(t + std::strlen(kSwapTypeMarker), c - t - std::strlen(kSwapTypeMarker));
  std::string prev = arg.substr(c + std::strlen(kCurrentMarker), p - c - std::strlen(kCurrentMarker));
  int type = 0;
  if (typeText != "NULL") {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(typeText.c_str(), &end, 10);
    if (typeText.empty() || *end != '\0' || errno != 0 || v < INT_MIN || v > INT_MAX)
      return Error("swap type is not a number");
    type = static_cast<int>(v);
  }
  std::optional<std::string> cur, prv;
  std::string why;
  if (current != "NULL") {
    cur = QVConfineProfilePath(current, QVProfileFileKind::kCurrent, peer_.uid, &why);
    if (!cur) return Error(why);
  }
  if (prev != "NULL") {
    prv = QVConfineProfilePath(prev, QVProfileFileKind::kPrev, peer_.uid, &why);
    if (!prv) return Error(why);
  }
  QVPListSwapPaths(type, cur ? cur->c_str() : nullptr, prv ? prv->c_str() : nullptr);
  return kTrue;
}

std::string QVmacServiceXPC::qvPListExistProfile_XPC(const std::string& arg) {
  return onePathQuery(arg, QVProfileFileKind::kAnyProfile, QVPListExistPath);
}

std::string QVmacServiceXPC::qvPListRemove_XPC(const std::string& arg) {
  return onePathQuery(arg, QVProfileFileKind::kAnyOrTemporary, QVPListRemovePath);
}

std::string QVmacServiceXPC::writeDictionaryToPlistFile_XPC(const std::string& arg) {
  size_t m = arg.find(kURLMarker);
  if (m == std::string::npos) return Error("write request without its marker");
  auto filePath = PathOfFileURL(arg.substr(0, m));
  if (!filePath) return Error("not a file URL");
  std::string why;
  auto path = QVConfineProfilePath(*filePath, QVProfileFileKind::kAnyProfile, peer_.uid, &why);
  if (!path) return Error(why);
  std::string text = arg.substr(m + std::strlen(kURLMarker));
  // Only a whole property list replaces a profile file.
  if (!cf::PropertyListCreateWithData(text)) return kFalse;
  return QVPListWriteFile(path->c_str(), text) == 0 ? kTrue : kFalse;
}

std::string QVmacServiceXPC::writeDataToPlistFile_XPC(const std::string& arg) {
  size_t m = arg.find(kURLMarker);
  if (m == std::string::npos) return Error("write request without its marker");
  auto filePath = PathOfFileURL(arg.substr(0, m));
  if (!filePath) return Error("not a file URL");
  std::string why;
  auto path = QVConfineProfilePath(*filePath, QVProfileFileKind::kAnyProfile, peer_.uid, &why);
  if (!path) return Error(why);
  auto temporary = QVConfineProfilePath(*path + ".dummy", QVProfileFileKind::kAnyOrTemporary, peer_.uid, &why);
  if (!temporary) return Error(why);
  // The temporary file grows by one piece per request.
  auto contents = QVPListReadFile(temporary->c_str());
  if (!contents && errno != ENOENT) return kFalse;
  std::string next = contents.value_or(std::string()) + arg.substr(m + std::strlen(kURLMarker));
  if (next.size() > kQVPListMaxFileBytes) return kFalse;
  return QVPListWriteFile(temporary->c_str(), next) == 0 ? kTrue : kFalse;
}

std::string QVmacServiceXPC::writeDataToPlistFileRename_XPC(const std::string& arg) {
  auto filePath = PathOfFileURL(arg);
  if (!filePath) return kFalse;
  std::string why;
  auto path = QVConfineProfilePath(*filePath, QVProfileFileKind::kAnyProfile, peer_.uid, &why);
  if (!path) return Error(why);
  auto temporary = QVConfineProfilePath(*path + ".dummy", QVProfileFileKind::kAnyOrTemporary, peer_.uid, &why);
  if (!temporary) return Error(why);
  // The target is replaced only by a complete property list; a sequence
  // with a missing piece is thrown away and the old file stays.
  auto contents = QVPListReadFile(temporary->c_str());
  if (!contents) return kFalse;
  if (!cf::PropertyListCreateWithData(*contents)) {
    (void)QVPListRemovePath(temporary->c_str());  // a broken sequence is dropped either way
    return kFalse;
  }
  // A current file that went bad is kept aside, not replaced.
  if (QVConfineProfilePath(*filePath, QVProfileFileKind::kCurrent, peer_.uid, nullptr))
    (void)QVPListCopyAsideUnreadable(path->c_str());  // the rename below decides the reply
  return ::rename(temporary->c_str(), path->c_str()) == 0 ? kTrue : kFalse;
}

std::string QVmacServiceXPC::mibwalk_XPC(const std::string& arg) {
  size_t m = arg.find(kModelMarker);
  size_t u = m == std::string::npos ? m : arg.find(kUserMarker, m);
  if (u == std::string::npos) return Error("walk request without its markers");
  // Only the plug-in's walk is run; anything else is refused before a path
  // is looked at or a packet sent.
  std::string walkWhy;
  auto request = ParseWalkRequest(arg.substr(u + std::strlen(kUserMarker)), &walkWhy);
  if (!request) return Error(walkWhy);
  std::string model = arg.substr(0, m);
  std::string user = arg.substr(m + std::strlen(kModelMarker), u - m - std::strlen(kModelMarker));
  if (!QVIsModelKey(model)) return Error("invalid model key");
  std::string why;
  if (!QVCallerMayActFor(peer_.uid, user, &why)) return Error(why);

  char current[PATH_MAX], prev[PATH_MAX];
  int n1 = std::snprintf(current, sizeof current, kCurrentFormat, user.c_str(), model.c_str());
  int n2 = std::snprintf(prev, sizeof prev, kPrevFormat, user.c_str(), model.c_str());
  if (n1 < 0 || n2 < 0 || static_cast<size_t>(n1) >= sizeof current || static_cast<size_t>(n2) >= sizeof prev)
    return Error("profile path too long");
  auto cur = QVConfineProfilePath(current, QVProfileFileKind::kCurrent, peer_.uid, &why);
  auto prv = cur ? QVConfineProfilePath(prev, QVProfileFileKind::kPrev, peer_.uid, &why) : std::nullopt;
  if (!cur || !prv) return Error(why);

  int ret;
  {
    RequestPaths paths(*cur, *prv);
    // The merge reads the current file and rewrites it: one that went bad
    // is kept aside first, and the backup's lists are merged when it has
    // them (the plug-in's backup step does the same before a walk).
    if (QVPListIsUnreadable(cur->c_str()) && !QVPListSetAsideUnreadable(cur->c_str(), prv->c_str()))
      (void)QVPListSetAsideUnreadable(cur->c_str(), nullptr);  // no backup with lists: the walk starts anew
    ret = mib_walk(*request);
  }
  char reply[32];
  std::snprintf(reply, sizeof reply, "iRet=%d", ret);
  sys::SystemLog(LOG_ERR, "xpc - mibwalk_XPC - iRet=%d", ret);
  return reply;
}
