#include "MibWalk.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

ProfileList PlistForSpool;
int numprinted = 0;

namespace {

// Boolean settings of the application "snmpwalk".
constexpr int kWalkIncludeRequested = 1;
constexpr int kWalkPrintStatistics = 2;
constexpr int kWalkDontCheckLexicographic = 3;

// A walk of the profile table needs about 3500 requests; an agent that keeps
// answering beyond this is not a printer's profile table.
constexpr int kMaxRequests = 20000;

// Rows 1 to 500 fill spool slots 0 to 499.
constexpr size_t kRowSubId = 17;

oid objid_mib[] = {1, 3, 6, 1, 2, 1};

const oid iOidIndexOnDevice[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 1};
const oid iOidSourceType[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 2};
const oid iOidProfileName[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 3};
const oid iOidFileName[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 4};
const oid iOidProfileClass[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 5};
const oid iOidProfileAvailability[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 7};
constexpr size_t kColumnLength = 16;

// The SNMP library keeps its configuration, option parser and sessions in
// process-wide state, and the spool list is one per process: one walk at a
// time.
std::mutex gWalkMutex;

void optProc(int /*argc*/, char* const* /*argv*/, int opt) {
  if (opt != 'C') return;
  for (const char* p = optarg; p && *p; ++p) {
    switch (*p) {
      case 'i':
        netsnmp_ds_toggle_boolean(NETSNMP_DS_APPLICATION_ID, kWalkIncludeRequested);
        break;
      case 'p':
        netsnmp_ds_toggle_boolean(NETSNMP_DS_APPLICATION_ID, kWalkPrintStatistics);
        break;
      case 'c':
        netsnmp_ds_toggle_boolean(NETSNMP_DS_APPLICATION_ID, kWalkDontCheckLexicographic);
        break;
      default:
        break;
    }
  }
}

void RegisterSettings() {
  static std::once_flag once;
  std::call_once(once, [] {
    netsnmp_ds_register_config(ASN_BOOLEAN, "snmpwalk", "includeRequested", NETSNMP_DS_APPLICATION_ID,
                               kWalkIncludeRequested);
    netsnmp_ds_register_config(ASN_BOOLEAN, "snmpwalk", "printStatistics", NETSNMP_DS_APPLICATION_ID,
                               kWalkPrintStatistics);
    netsnmp_ds_register_config(ASN_BOOLEAN, "snmpwalk", "dontCheckOrdering", NETSNMP_DS_APPLICATION_ID,
                               kWalkDontCheckLexicographic);
  });
  // The settings live in the library for the whole process; every walk
  // starts from "off" so that one request's -C letters never carry over.
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, kWalkIncludeRequested, 0);
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, kWalkPrintStatistics, 0);
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, kWalkDontCheckLexicographic, 0);
}

// The agent must be a UDP address or host name: the service does not let a
// request point the library at local sockets or other transports.
bool AcceptableAgent(const char* peer) {
  if (!peer || !*peer) return false;
  std::string s(peer);
  for (const char* prefix : {"udp:", "udp6:"}) {
    size_t n = std::strlen(prefix);
    if (s.size() > n && strncasecmp(s.c_str(), prefix, n) == 0) {
      s.erase(0, n);
      break;
    }
  }
  size_t i = 0;
  if (!s.empty() && s[0] == '[') {
    size_t close = s.find(']');
    if (close == std::string::npos || close == 1) return false;
    for (size_t k = 1; k < close; ++k)
      if (!std::isxdigit(static_cast<unsigned char>(s[k])) && s[k] != ':' && s[k] != '.') return false;
    i = close + 1;
  } else {
    while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.' || s[i] == '-')) ++i;
    if (i == 0) return false;
  }
  if (i == s.size()) return true;
  if (s[i] != ':' || i + 1 == s.size() || s.size() - i > 6) return false;
  for (size_t k = i + 1; k < s.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(s[k]))) return false;
  return true;
}

bool IsException(u_char type) {
  return type == SNMP_ENDOFMIBVIEW || type == SNMP_NOSUCHOBJECT || type == SNMP_NOSUCHINSTANCE;
}

int WalkLocked(int argc, char** argv) {
  RegisterSettings();
  vSpoolPlist(nullptr, 0, nullptr, 1);
  numprinted = 0;

  netsnmp_session session;
  // The option parser is getopt: start it afresh for every walk.
  optind = 0;
  int arg = snmp_parse_args(argc, argv, &session, "C:", optProc);
  if (arg < 0) {
    vRestructPlistSpool2Current(1);
    return arg;
  }

  oid root[MAX_OID_LEN];
  size_t rootlen;
  if (arg < argc) {
    rootlen = MAX_OID_LEN;
    if (!snmp_parse_oid(argv[arg], root, &rootlen)) {
      snmp_perror(argv[arg]);
      vRestructPlistSpool2Current(1);
      return 1;
    }
  } else {
    std::memcpy(root, objid_mib, sizeof objid_mib);
    rootlen = sizeof objid_mib / sizeof objid_mib[0];
  }

  netsnmp_session* ss = AcceptableAgent(session.peername) ? snmp_open(&session) : nullptr;
  if (!ss) {
    MyDebugMessage("[UTIL-MIB] SNMP Open Err\n", 0);
    snmp_sess_perror("snmpwalk", &session);
    vRestructPlistSpool2Current(1);
    return 1;
  }

  bool check = !netsnmp_ds_get_boolean(NETSNMP_DS_APPLICATION_ID, kWalkDontCheckLexicographic);
  if (netsnmp_ds_get_boolean(NETSNMP_DS_APPLICATION_ID, kWalkIncludeRequested))
    snmp_get_and_print(ss, root, rootlen);

  oid name[MAX_OID_LEN];
  size_t nameLength = rootlen;
  std::memcpy(name, root, rootlen * sizeof(oid));
  int result = 0;
  int status = STAT_SUCCESS;
  bool running = true;
  for (int requests = 0; running; ++requests) {
    if (requests >= kMaxRequests) {
      result = 1;
      break;
    }
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GETNEXT);
    snmp_add_null_var(pdu, name, nameLength);
    netsnmp_pdu* response = nullptr;
    status = snmp_synch_response(ss, pdu, &response);
    if (status == STAT_SUCCESS) {
      if (response->errstat == SNMP_ERR_NOERROR) {
        for (netsnmp_variable_list* vars = response->variables; vars; vars = vars->next_variable) {
          if (vars->name_length < rootlen || std::memcmp(root, vars->name, rootlen * sizeof(oid)) != 0) {
            running = false;  // left the table
            continue;
          }
          ++numprinted;
          vSpoolPlist(vars->name, vars->name_length, vars, 0);
          if (IsException(vars->type)) {
            running = false;
            continue;
          }
          if (check && snmp_oid_compare(name, nameLength, vars->name, vars->name_length) >= 0) {
            result = 1;  // not increasing: the agent would loop
            running = false;
            continue;
          }
          size_t len = std::min<size_t>(vars->name_length, MAX_OID_LEN);
          std::memcpy(name, vars->name, len * sizeof(oid));
          nameLength = len;
        }
      } else if (response->errstat == SNMP_ERR_NOSUCHNAME) {
        running = false;  // end of the table
      } else {
        result = 2;
        running = false;
      }
    } else if (status == STAT_TIMEOUT) {
      result = 1;
      running = false;
    } else {
      snmp_sess_perror("snmpwalk", ss);
      result = 1;
      running = false;
    }
    if (response) snmp_free_pdu(response);
  }

  if (numprinted == 0 && status == STAT_SUCCESS) snmp_get_and_print(ss, root, rootlen);
  snmp_close(ss);
  if (netsnmp_ds_get_boolean(NETSNMP_DS_APPLICATION_ID, kWalkPrintStatistics))
    MyDebugMessage("[UTIL-MIB] Variables found: ", numprinted);

  vRestructPlistSpool2Current(result);
  return result;
}

void ClearEntry(ProfileEntry* e) { std::memset(e, 0, sizeof *e); }

}  // namespace

void MyDebugMessage(const char* /*text*/, int /*number*/) {}

int mib_walk(int argc, char** argv) {
  std::lock_guard<std::mutex> lock(gWalkMutex);
  return WalkLocked(argc, argv);
}

void snmp_get_and_print(netsnmp_session* ss, oid* theoid, size_t theoid_len) {
  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
  snmp_add_null_var(pdu, theoid, theoid_len);
  netsnmp_pdu* response = nullptr;
  int status = snmp_synch_response(ss, pdu, &response);
  if (status == STAT_SUCCESS && response->errstat == SNMP_ERR_NOERROR) {
    for (netsnmp_variable_list* vars = response->variables; vars; vars = vars->next_variable) {
      ++numprinted;
      print_variable(vars->name, vars->name_length, vars);
    }
  }
  if (response) snmp_free_pdu(response);
}

void vSpoolPlist(const oid* name, size_t nameLength, const netsnmp_variable_list* var, int clear) {
  if (clear == 1) {
    std::memset(&PlistForSpool, 0, sizeof PlistForSpool);
    return;
  }
  if (!name || !var || nameLength <= kRowSubId) return;
  // Rows outside 1..500 have no slot: they are dropped, never stored
  // beside the list.
  oid row = name[kRowSubId];
  if (row < 1 || row > static_cast<oid>(kProfileSlotCount)) return;
  ProfileEntry* e = &PlistForSpool.entry[row - 1];

  auto column = [&](const oid* col) { return std::memcmp(name, col, kColumnLength * sizeof(oid)) == 0; };
  auto integer = [&]() { return var->val.integer ? static_cast<int32_t>(*var->val.integer) : 0; };
  // At most 31 bytes and up to the first zero byte.
  auto text = [&](char (&field)[32]) {
    char buf[32] = {};
    size_t n = std::min<size_t>(var->val_len, sizeof buf - 1);
    if (var->val.string && n) std::memcpy(buf, var->val.string, n);
    std::memset(field, 0, sizeof field);
    std::memcpy(field, buf, strnlen(buf, sizeof field - 1));
  };

  if (column(iOidIndexOnDevice) && var->type == ASN_INTEGER) {
    e->IndexOnDevice = integer();
    if (PlistForSpool.iNum < kProfileSlotCount) ++PlistForSpool.iNum;
  } else if (column(iOidSourceType) && var->type == ASN_INTEGER) {
    e->Location = integer();
  } else if (column(iOidProfileName) && var->type == ASN_OCTET_STR) {
    text(e->ProfileName);
  } else if (column(iOidFileName) && var->type == ASN_OCTET_STR) {
    text(e->FileName);
  } else if (column(iOidProfileClass) && var->type == ASN_INTEGER) {
    e->ProfileClass = integer();
  } else if (column(iOidProfileAvailability) && var->type == ASN_INTEGER) {
    e->ProfileAvailability = integer();
  }
}

void vDeleteMIBprofilesTemporary(int result, ProfileList* list) {
  if (!list) return;
  for (auto& e : list->entry) {
    if (result == 0) {
      if (e.InMenu == kProfileStateFoundHidden) e.InMenu = kProfileStateDeviceHidden;
      if (e.InMenu == kProfileStateFoundShown) e.InMenu = kProfileStateDeviceShown;
    } else {
      // A dropped entry frees its slot entirely: stale names left in a free
      // slot would be written out and could match a device profile later.
      if (e.InMenu == kProfileStateDeviceHidden || e.InMenu == kProfileStateFoundHidden) {
        ClearEntry(&e);
        --list->iNum;
      }
      if (e.InMenu == kProfileStateFoundShown) e.InMenu = kProfileStateUserShown;
    }
  }
}

void vRestructDetail(int spoolIndex, ProfileList* list) {
  if (!list || spoolIndex < 0 || spoolIndex >= kProfileSlotCount) return;
  const ProfileEntry& s = PlistForSpool.entry[spoolIndex];
  int used = QVPListUsedCount(list);
  for (int i = 0; i < used; ++i) {
    ProfileEntry& e = list->entry[i];
    if (!QVPListSameProfile(e, s)) continue;
    if (e.InMenu == kProfileStateDeviceHidden || e.InMenu == kProfileStateUserHidden)
      e.InMenu = kProfileStateFoundHidden;
    else if (e.InMenu == kProfileStateDeviceShown || e.InMenu == kProfileStateUserShown)
      e.InMenu = kProfileStateFoundShown;
    return;
  }
  for (auto& e : list->entry) {
    if (e.InMenu != kProfileStateEmpty) continue;
    e = s;
    e.InMenu = kProfileStateFoundHidden;
    ++list->iNum;
    return;
  }
}

int FileNameFilter(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 0x80) return 0;
  if (std::isalnum(u)) return 1;
  return std::strchr("!#$%&'()-.^_`{}~", c) != nullptr && c != '\0' ? 1 : 0;
}

int bJudgement8point3Format(const char* name) {
  if (!name || !*name) return 0;
  size_t len = strnlen(name, 64);
  for (size_t i = 0; i < len; ++i)
    if (!FileNameFilter(name[i])) return 0;
  const char* dot = static_cast<const char*>(std::memchr(name, '.', len));
  if (!dot) return len <= 27 ? 1 : 0;
  size_t base = static_cast<size_t>(dot - name);
  size_t ext = len - base - 1;
  return base >= 1 && base <= 27 && ext <= 3 ? 1 : 0;
}

int vRestructPlistSpool2Current(int result) {
  auto lists = std::make_unique<ProfileList[]>(3);
  std::memset(lists.get(), 0, 3 * sizeof(ProfileList));
  ProfileList* rgb = &lists[0];
  ProfileList* sim = &lists[1];
  ProfileList* dst = &lists[2];
  QVPListReadProfile_All(rgb, sim, dst);
  for (int k = 0; k < 3; ++k) vDeleteMIBprofilesTemporary(result, &lists[k]);

  for (int i = 0; i < kProfileSlotCount; ++i) {
    for (int k = 0; k < 3; ++k) {
      ProfileEntry& e = lists[k].entry[i];
      if (e.FileName[0] == '\0' || bJudgement8point3Format(e.FileName)) continue;
      ClearEntry(&e);
      --lists[k].iNum;
    }
  }
  // Close the holes in all three lists before matching: a hole below iNum
  // would hide a stored entry from the match and add the device profile
  // twice.
  for (int k = 0; k < 3; ++k) {
    QVPListPaddingProfile_Dict(&lists[k]);
    QVPlistCheckWithInMenu_Dict(&lists[k]);
  }

  // Every spool slot: the device's rows need not be contiguous.
  for (int i = 0; i < kProfileSlotCount; ++i) {
    const ProfileEntry& s = PlistForSpool.entry[i];
    if (s.Location != kProfileLocationDisk && s.Location != kProfileLocationCard) continue;
    if (!bJudgement8point3Format(s.FileName)) continue;
    if (s.ProfileClass == 1 || s.ProfileClass == 2) {
      vRestructDetail(i, rgb);
    } else if (s.ProfileClass == 3) {
      vRestructDetail(i, sim);
      vRestructDetail(i, dst);
    }
  }

  for (int k = 0; k < 3; ++k) {
    QVPListCleanProfile_Dict(&lists[k]);
    QVPListPaddingProfile_Dict(&lists[k]);
    QVPListSalvage_Dict(&lists[k]);
  }
  return QVPListWriteProfile_All(rgb, sim, dst);
}
