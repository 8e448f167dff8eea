// Build identity of the security plug-in and its silent tracing facility.
// Every class of this build lives in a namespace carrying the build's
// suffix so that another build loaded into the same process never clashes.
#pragma once

#include <cstdint>

#include "SecurityNamespace.h"

namespace R2740_SECURITY_NS {

// Model key: the print-settings key of the model dictionary.
inline constexpr const char* kSecurityModelKey = "R2740";
// Panel kind, also the bundle identifier used for localized lookups.
inline constexpr const char* kSecurityPanelKind = "jp.orvessa.print.pde.R2740.Security";
inline constexpr const char* kSecurityBundleID = "jp.orvessa.print.pde.R2740.Security";

constexpr uint32_t FourCC(const char (&s)[5]) {
  return (static_cast<uint32_t>(static_cast<unsigned char>(s[0])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[3]));
}

// Tracing is switched off in this system: Start answers null and the log
// calls discard everything, so nothing is ever written by them.
class QVDebug {
 public:
  static QVDebug* Start(const void* /*sender*/, const char* /*title*/) { return nullptr; }
  void setTitle(const void* id, const char* title) {
    mID = id;
    title_ = title;
  }
  const char* getTitle() const { return title_; }
  const void* getID() const { return mID; }

 private:
  const char* title_ = nullptr;
  const void* mID = nullptr;
};

inline void _DebugLog(QVDebug* /*trace*/, const char* /*format*/, ...) {}
inline void _ErrorLog(QVDebug* /*trace*/, const char* /*format*/, ...) {}
inline void _LogEnd(QVDebug* /*trace*/) {}

}  // namespace R2740_SECURITY_NS
