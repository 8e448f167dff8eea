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

// ---- path confinement (exposed for tests) ------------------------------------
enum class QVProfileFileKind {
  kCurrent,         // <user>-<model>-profile.plist
  kPrev,            // <user>-<model>-profile.prev.plist
  kAnyProfile,      // either of the two
  kAnyOrTemporary,  // either, or either with ".dummy" appended
};
// The real path of a profile file that `given` names, or nullopt with the
// reason. `given` may be the path as compiled in or already resolved under
// the install root. Only direct children of the profile folder, no "." or
// ".." components, no symbolic link and no non-regular file are accepted; a
// caller other than root may name only files of its own login name.
std::optional<std::string> QVConfineProfilePath(const std::string& given, QVProfileFileKind kind, uid_t peerUid,
                                                std::string* reason);
