// Keywords of the security panel's rows. Edit-text properties are looked up
// by pointer identity of these constants, so every row, table and lookup
// must use the very objects declared here, never an equal literal.
#pragma once

#include "SecurityNamespace.h"

namespace R2740_SECURITY_NS {

// PPD main keywords.
extern const char* const kPrintModeKey;          // "PrintModeR2740"
extern const char* const kAuthenticationKey;     // "QVAuthenticationR2740"
extern const char* const kSectionManagementKey;  // "QVSectionManagementR2740"

// Job-ticket keys.
extern const char* const kUserTypeKey;     // "jp.orvessa.printers.R2740.userType"
extern const char* const kSecureKey;       // "jp.orvessa.printers.R2740.secureKey"
extern const char* const kUserNameKey;     // "jp.orvessa.printers.R2740.userName"
extern const char* const kUserKey;         // "jp.orvessa.printers.R2740.userKey"
extern const char* const kSectionNameKey;  // "jp.orvessa.printers.R2740.sectionName"
extern const char* const kSectionKey;      // "jp.orvessa.printers.R2740.sectionKey"
extern const char* const kLoginNameKey;    // "jp.orvessa.printers.R2740.loginName"

}  // namespace R2740_SECURITY_NS
