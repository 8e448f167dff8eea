// The device walk: an SNMPv1 GETNEXT walk of the printer's profile table
// into a spool list, then the merge of that list into the stored profile
// lists of the running request (service build of the store).
//
// The service walks one table in one way only, whatever a caller sends:
// the request is checked against the plug-in's walk and the session is built
// here from the checked fields and the service's settings, never from caller
// options. Walks of different printers run at once; callers asking for a
// printer whose walk is running, or ended a short while ago, share it, and
// a printer whose walk failed is not asked again for a while (see
// README.md, "The walk"). Answers are taken from the printer's address
// and port alone, to requests whose ids are random.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <optional>
#include <string>

#include "QVPList.h"

// What the service needs of a walk request; everything else is fixed.
struct WalkRequest {
  std::string community;
  std::string address;  // host name or IPv4 address, no port
};

// Splits the argument text of a walk request at every ":arg:" (the text
// after the last marker is dropped) and accepts exactly the plug-in's walk:
// "snmpwalk" "-Os" "-c" <community> "-v" "1" <address> <table root>.
// nullopt with the reason for anything else.
std::optional<WalkRequest> ParseWalkRequest(const std::string& argumentText, std::string* reason);

// The service's walk settings, fixed for its lifetime.
struct WalkSettings {
  int port = 161;               // the agent's UDP port
  int timeoutMs = 500;          // per try of one request
  int retries = 1;              // tries after the first
  int deadlineMs = 30000;       // a whole walk
  int failureHoldSeconds = 60;  // a failed walk answers its printer's requests for this long
  int successHoldSeconds = 30;  // and a complete one for this long
};

// The defaults overridden by R2740_XPC_SNMP_PORT, R2740_XPC_WALK_TIMEOUT_MS,
// R2740_XPC_WALK_RETRIES, R2740_XPC_WALK_DEADLINE_MS,
// R2740_XPC_WALK_HOLD_SECONDS and R2740_XPC_WALK_SHARE_SECONDS; false with
// the reason when one is not a number in its range (`*out` untouched).
bool WalkSettingsFromEnvironment(WalkSettings* out, std::string* reason);

// Prepares the SNMP library and fixes the settings. The first call wins;
// a walk without an earlier call uses the defaults. Call it before threads
// start.
void MibWalkSetup(const WalkSettings& settings);

// Makes running walks end after their current request (each then counts as
// failed and merges as such); for the service's stop.
void MibWalkStopAll();

// Walks the device (or joins the running walk of the same device and
// community, or takes the ended walk held for it), then merges the result
// into the profile files of the running request and writes them.
// 0 complete, 1 failed, 2 device error status.
int mib_walk(const WalkRequest& request);

// Fetches one OID with a GET; each variable of a good answer is counted in
// `*numprinted` and printed to standard output; nothing is stored.
void snmp_get_and_print(void* sessp, oid* theoid, size_t theoid_len, int* numprinted);
// Clear flag 1 empties `spool`; 0 stores one variable of the table into it.
void vSpoolPlist(ProfileList* spool, const oid* name, size_t nameLength, const netsnmp_variable_list* var, int clear);
// Merges `spool` with the walk's result into the running request's files;
// the write's result.
int vRestructPlistSpool2Current(const ProfileList& spool, int result);
void vDeleteMIBprofilesTemporary(int result, ProfileList* list);
void vRestructDetail(const ProfileList& spool, int spoolIndex, ProfileList* list);
void MyDebugMessage(const char* text, int number);
