// The service's exported object and its listener delegate. Class names
// carry the service's build suffix.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#define QV_XPC_SUFFIXED(name) name##305052BC_131D_4EC9_9F77_E582B668DB85

// Who is on the other end of a connection (SO_PEERCRED).
struct QVXPCPeer {
  pid_t pid = -1;
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);
};

// The eight operations: one request string in, one reply string out.
class QV_XPC_Protocol {
 public:
  virtual ~QV_XPC_Protocol() = default;
  virtual std::string qvPListIsAdminProfile_XPC(const std::string& arg) = 0;
  virtual std::string qvPListSwapProfile_XPC(const std::string& arg) = 0;
  virtual std::string qvPListExistProfile_XPC(const std::string& arg) = 0;
  virtual std::string qvPListRemove_XPC(const std::string& arg) = 0;
  virtual std::string writeDictionaryToPlistFile_XPC(const std::string& arg) = 0;
  virtual std::string writeDataToPlistFile_XPC(const std::string& arg) = 0;
  virtual std::string writeDataToPlistFileRename_XPC(const std::string& arg) = 0;
  virtual std::string mibwalk_XPC(const std::string& arg) = 0;
};

// One per accepted connection; it holds only the caller's credentials, which
// decide whose profile files the requests may name.
enum class QVProfileFileKind;

class QV_XPC_SUFFIXED(QVmacServiceXPC) final : public QV_XPC_Protocol {
 public:
  explicit QV_XPC_SUFFIXED(QVmacServiceXPC)(QVXPCPeer peer) : peer_(peer) {}

  std::string qvPListIsAdminProfile_XPC(const std::string& arg) override;
  std::string qvPListSwapProfile_XPC(const std::string& arg) override;
  std::string qvPListExistProfile_XPC(const std::string& arg) override;
  std::string qvPListRemove_XPC(const std::string& arg) override;
  std::string writeDictionaryToPlistFile_XPC(const std::string& arg) override;
  std::string writeDataToPlistFile_XPC(const std::string& arg) override;
  std::string writeDataToPlistFileRename_XPC(const std::string& arg) override;
  std::string mibwalk_XPC(const std::string& arg) override;

  // Dispatches by operation name; every malformed or refused request gets
  // a reply beginning with "ERROR:" and changes nothing.
  std::string perform(const std::string& operation, const std::string& arg);

 private:
  // A query on one profile path: FALSE for no path, an error for a path
  // outside the profile folder, else TRUE when `op` succeeds on it.
  std::string onePathQuery(const std::string& arg, QVProfileFileKind kind, int (*op)(const char*));
  QVXPCPeer peer_;
};
using QVmacServiceXPC = QV_XPC_SUFFIXED(QVmacServiceXPC);

// Decides which callers the service serves at all.
class QV_XPC_SUFFIXED(QVmacXPCServiceDelegate) {
 public:
  // Root and the service's own user are served; everybody else only when
  // the service runs as root (and then only for their own files).
  bool shouldAcceptNewConnection(const QVXPCPeer& peer) const;
};
using QVmacXPCServiceDelegate = QV_XPC_SUFFIXED(QVmacXPCServiceDelegate);

// ---- who may name which file (exposed for tests and the walk) -------------
enum class QVProfileFileKind {
  kCurrent,         // <user>-<model>-profile.plist
  kPrev,            // <user>-<model>-profile.prev.plist
  kAnyProfile,      // either of the two
  kAnyOrTemporary,  // either, either with ".dummy" appended, or the current
                    // file kept aside: <user>-<model>-profile.plist.bad
};
// The model keys of the colour plug-in's two builds: the only middle parts
// of a profile file name.
bool QVIsModelKey(const std::string& model);
// Whether a caller may act for the user `login`: root for any name that can
// be part of a file name in the profile folder (not empty, no "/" or NUL,
// not "." or ".."); anybody else only for the login name the user database
// gives for its own uid, whatever characters that holds. False with the
// reason otherwise.
bool QVCallerMayActFor(uid_t peerUid, const std::string& login, std::string* reason);
// The real path of a profile file that `given` names, or nullopt with the
// reason. `given` may be the path as compiled in or already resolved under
// the install root. Only direct children of the profile folder, no "." or
// ".." components, named exactly as `kind` says for one model key and a user
// the caller may act for. A file that is there already must pass
// QVPListRefusal; the operations check it again on the descriptor they open,
// which is what keeps them safe: this check only picks the error reply.
std::optional<std::string> QVConfineProfilePath(const std::string& given, QVProfileFileKind kind, uid_t peerUid,
                                                std::string* reason);
