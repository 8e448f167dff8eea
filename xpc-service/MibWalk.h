// The device walk: an SNMPv1 GETNEXT walk of the printer's profile table
// into the spool list, then the merge of that list into the stored profile
// lists of the running request (service build of the store).
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include "QVPList.h"

// The spool list of the running walk.
extern ProfileList PlistForSpool;
// Variables delivered by the running walk.
extern int numprinted;

// 0 complete, 1 failed, 2 device error status, or the negative result of
// the argument parser. Always ends by merging and writing. Walks are
// serialised inside (the SNMP library's state is process-wide).
int mib_walk(int argc, char** argv);
void snmp_get_and_print(netsnmp_session* ss, oid* theoid, size_t theoid_len);
void vSpoolPlist(const oid* name, size_t nameLength, const netsnmp_variable_list* var, int clear);
int vRestructPlistSpool2Current(int result);
void vDeleteMIBprofilesTemporary(int result, ProfileList* list);
void vRestructDetail(int spoolIndex, ProfileList* list);
int bJudgement8point3Format(const char* name);
int FileNameFilter(char c);
void MyDebugMessage(const char* text, int number);
