#include "MibWalk.h"

#include <sys/random.h>
#include <sys/socket.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A walk of the profile table needs about 3500 requests; an agent that keeps
// answering beyond this is not a printer's profile table.
constexpr int kMaxRequests = 20000;

// Rows 1 to 500 fill spool slots 0 to 499.
constexpr size_t kRowSubId = 17;

constexpr const char* kArgMarker = ":arg:";
const oid kTableRoot[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1};
constexpr size_t kTableRootLength = sizeof kTableRoot / sizeof kTableRoot[0];
constexpr size_t kWalkArgumentCount = 8;
constexpr size_t kMaxCommunityLength = 255;
constexpr size_t kMaxAddressLength = 255;

const oid iOidIndexOnDevice[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 1};
const oid iOidSourceType[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 2};
const oid iOidProfileName[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 3};
const oid iOidFileName[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 4};
const oid iOidProfileClass[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 5};
const oid iOidProfileAvailability[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1, 7};
constexpr size_t kColumnLength = 16;

// ---- the request ---------------------------------------------------------

// A host name or dotted IPv4 address: letters, digits, ".", "-" and "_",
// beginning with a letter or digit, so that it can never be read as an
// option, a transport prefix, a port or a local socket.
bool AcceptableAddress(const std::string& s) {
  if (s.empty() || s.size() > kMaxAddressLength || !std::isalnum(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return false;
  return true;
}

bool AcceptableCommunity(const std::string& s) {
  if (s.empty() || s.size() > kMaxCommunityLength) return false;
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

// ---- settings ------------------------------------------------------------

std::once_flag gSetupOnce;
WalkSettings gSettings;
// Set when the service stops: running walks end after their current request.
std::atomic<bool> gStopping{false};

const WalkSettings& Settings() {
  MibWalkSetup(WalkSettings{});
  return gSettings;
}

bool ReadSetting(const char* name, long min, long max, int* value, std::string* reason) {
  const char* text = std::getenv(name);
  if (!text || !*text) return true;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || v < min || v > max) {
    if (reason)
      *reason = std::string(name) + " must be a number from " + std::to_string(min) + " to " + std::to_string(max);
    return false;
  }
  *value = static_cast<int>(v);
  return true;
}

// ---- walks shared by their callers ----------------------------------------

// One walk of one device for one community. The thread that starts it fills
// `spool` and `result`; everybody reads them once `done` is set (under
// gWalksMutex).
struct SharedWalk {
  std::condition_variable finished;
  bool done = false;
  int result = 1;
  std::unique_ptr<ProfileList> spool = std::make_unique<ProfileList>();
  Clock::time_point endedAt;
};

// Running walks, and ended walks for as long as they are held: a complete
// one for the share time, a failed one for the hold time.
std::mutex gWalksMutex;
std::map<std::string, std::shared_ptr<SharedWalk>> gWalks;
// Each held walk keeps its spool (some 70 KiB): a caller naming ever new
// devices must not grow the service without end.
constexpr size_t kMaxHeldWalks = 64;

std::chrono::seconds HoldTime(int result) {
  const WalkSettings& s = Settings();
  return std::chrono::seconds(result == 0 ? s.successHoldSeconds : s.failureHoldSeconds);
}

void ForgetOldWalks(Clock::time_point now) {
  size_t held = 0;
  auto oldest = gWalks.end();
  for (auto it = gWalks.begin(); it != gWalks.end();) {
    if (!it->second->done) {
      ++it;
      continue;
    }
    if (now - it->second->endedAt >= HoldTime(it->second->result)) {
      it = gWalks.erase(it);
      continue;
    }
    ++held;
    if (oldest == gWalks.end() || it->second->endedAt < oldest->second->endedAt) oldest = it;
    ++it;
  }
  if (held >= kMaxHeldWalks) gWalks.erase(oldest);
}

// The walk to take part in: the running or held one for `key`, or a new
// one that the caller runs (`*mine`).
std::shared_ptr<SharedWalk> JoinOrStart(const std::string& key, bool* mine) {
  std::lock_guard<std::mutex> lock(gWalksMutex);
  ForgetOldWalks(Clock::now());
  auto it = gWalks.find(key);
  *mine = it == gWalks.end();
  if (!*mine) return it->second;
  auto walk = std::make_shared<SharedWalk>();
  gWalks.emplace(key, walk);
  return walk;
}

void Finish(const std::string& key, SharedWalk* walk, int result) {
  std::lock_guard<std::mutex> lock(gWalksMutex);
  walk->result = result;
  walk->done = true;
  walk->endedAt = Clock::now();
  // A walk whose hold time is 0 is not held: the next caller walks again.
  auto it = gWalks.find(key);
  if (HoldTime(result).count() == 0 && it != gWalks.end() && it->second.get() == walk) gWalks.erase(it);
  walk->finished.notify_all();
}

// ---- one walk --------------------------------------------------------------

bool IsException(u_char type) {
  return type == SNMP_ENDOFMIBVIEW || type == SNMP_NOSUCHOBJECT || type == SNMP_NOSUCHINSTANCE;
}

// The longest a caller can wait for a walk it did not start: the walk's
// deadline, its last request and a margin for name lookup and scheduling.
Clock::duration WaitLimit() {
  const WalkSettings& s = Settings();
  return std::chrono::milliseconds(s.deadlineMs + s.timeoutMs * (s.retries + 1)) + std::chrono::seconds(5);
}

// Answers are taken from the printer alone: the walk's socket is connected
// to the address the library resolved for the session, so the kernel drops
// datagrams from any other address or port before the library sees them.
// False (the walk fails) when the session has no such socket.
bool ConnectToPrinter(void* sessp) {
  netsnmp_transport* t = snmp_sess_transport(sessp);
  if (!t || t->sock < 0 || !t->data || t->data_length != sizeof(netsnmp_indexed_addr_pair)) return false;
  const auto* pair = static_cast<const netsnmp_indexed_addr_pair*>(t->data);
  const sockaddr* peer = &pair->remote_addr.sa;
  socklen_t length = peer->sa_family == AF_INET ? sizeof(sockaddr_in) : 0;
#ifdef NETSNMP_ENABLE_IPV6
  if (peer->sa_family == AF_INET6) length = sizeof(sockaddr_in6);
#endif
  return length != 0 && ::connect(t->sock, peer, length) == 0;
}

// A request whose id nobody can foresee: the library counts ids up by one
// from a time-seeded start across all walks, so one user's walk would tell
// the next walk's ids. Null when the system has no random bytes to give.
netsnmp_pdu* NewRequest(int command, const oid* name, size_t nameLength) {
  uint32_t id = 0;
  while (id == 0) {
    ssize_t n = ::getrandom(&id, sizeof id, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof id)) return nullptr;
    id &= 0x7fffffff;  // a positive INTEGER on the wire
  }
  netsnmp_pdu* pdu = snmp_pdu_create(command);
  if (!pdu) return nullptr;
  pdu->reqid = static_cast<long>(id);
  snmp_add_null_var(pdu, name, nameLength);
  return pdu;
}

int RunWalk(const WalkRequest& request, ProfileList* spool) {
  const WalkSettings& s = Settings();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(s.deadlineMs);
  vSpoolPlist(spool, nullptr, 0, nullptr, 1);

  netsnmp_session session;
  snmp_sess_init(&session);
  std::string peer = "udp:" + request.address + ":" + std::to_string(s.port);
  std::vector<u_char> community(request.community.begin(), request.community.end());
  session.version = SNMP_VERSION_1;
  session.peername = peer.data();
  session.community = community.data();
  session.community_len = community.size();
  session.timeout = s.timeoutMs * 1000L;
  session.retries = s.retries;
  void* sessp = snmp_sess_open(&session);
  if (!sessp) {
    MyDebugMessage("[UTIL-MIB] SNMP Open Err\n", 0);
    snmp_sess_perror("snmpwalk", &session);
    return 1;
  }
  if (!ConnectToPrinter(sessp)) {
    snmp_sess_close(sessp);
    return 1;
  }
  netsnmp_session* ss = snmp_sess_session(sessp);

  oid root[kTableRootLength];
  std::memcpy(root, kTableRoot, sizeof root);
  const size_t rootlen = kTableRootLength;
  oid name[MAX_OID_LEN];
  size_t nameLength = rootlen;
  std::memcpy(name, root, rootlen * sizeof(oid));
  int numprinted = 0;
  int result = 0;
  int status = STAT_SUCCESS;
  bool running = true;
  for (int requests = 0; running; ++requests) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (requests >= kMaxRequests || left <= 0 || gStopping) {
      result = 1;
      break;
    }
    // No request outlives the walk's deadline.
    ss->timeout = std::max(1000L, std::min<long>(s.timeoutMs * 1000L, left / (s.retries + 1)));
    netsnmp_pdu* pdu = NewRequest(SNMP_MSG_GETNEXT, name, nameLength);
    if (!pdu) {
      result = 1;
      status = STAT_ERROR;
      break;
    }
    netsnmp_pdu* response = nullptr;
    status = snmp_sess_synch_response(sessp, pdu, &response);
    if (status == STAT_SUCCESS) {
      if (response->errstat == SNMP_ERR_NOERROR) {
        for (netsnmp_variable_list* vars = response->variables; vars; vars = vars->next_variable) {
          if (vars->name_length < rootlen || std::memcmp(root, vars->name, rootlen * sizeof(oid)) != 0) {
            running = false;  // left the table
            continue;
          }
          ++numprinted;
          vSpoolPlist(spool, vars->name, vars->name_length, vars, 0);
          if (IsException(vars->type)) {
            running = false;
            continue;
          }
          if (snmp_oid_compare(name, nameLength, vars->name, vars->name_length) >= 0) {
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

  if (numprinted == 0 && status == STAT_SUCCESS && Clock::now() < deadline)
    snmp_get_and_print(sessp, root, rootlen, &numprinted);
  snmp_sess_close(sessp);
  return result;
}

void ClearEntry(ProfileEntry* e) { std::memset(e, 0, sizeof *e); }

}  // namespace

std::optional<WalkRequest> ParseWalkRequest(const std::string& argumentText, std::string* reason) {
  auto fail = [&](const char* why) -> std::optional<WalkRequest> {
    if (reason) *reason = why;
    return std::nullopt;
  };
  std::vector<std::string> args;
  for (size_t start = 0;;) {
    size_t next = argumentText.find(kArgMarker, start);
    if (next == std::string::npos) break;  // the last component is dropped
    if (args.size() == kWalkArgumentCount) return fail("walk request with more than the walk's 8 arguments");
    args.push_back(argumentText.substr(start, next - start));
    start = next + std::strlen(kArgMarker);
  }
  if (args.size() != kWalkArgumentCount) return fail("walk request with fewer than the walk's 8 arguments");
  if (args[0] != "snmpwalk" || args[1] != "-Os" || args[2] != "-c" || args[4] != "-v")
    return fail("walk arguments are not the profile walk");
  if (args[5] != "1") return fail("only SNMP version 1 is walked");
  if (args[7] != kProfileTableOID) return fail("only the profile table is walked");
  if (!AcceptableCommunity(args[3])) return fail("invalid community");
  if (!AcceptableAddress(args[6])) return fail("invalid device address");
  return WalkRequest{args[3], args[6]};
}

bool WalkSettingsFromEnvironment(WalkSettings* out, std::string* reason) {
  WalkSettings s;
  if (!ReadSetting("R2740_XPC_SNMP_PORT", 1, 65535, &s.port, reason) ||
      !ReadSetting("R2740_XPC_WALK_TIMEOUT_MS", 10, 10000, &s.timeoutMs, reason) ||
      !ReadSetting("R2740_XPC_WALK_RETRIES", 0, 5, &s.retries, reason) ||
      !ReadSetting("R2740_XPC_WALK_DEADLINE_MS", 100, 600000, &s.deadlineMs, reason) ||
      !ReadSetting("R2740_XPC_WALK_HOLD_SECONDS", 0, 3600, &s.failureHoldSeconds, reason) ||
      !ReadSetting("R2740_XPC_WALK_SHARE_SECONDS", 0, 3600, &s.successHoldSeconds, reason))
    return false;
  *out = s;
  return true;
}

void MibWalkSetup(const WalkSettings& settings) {
  std::call_once(gSetupOnce, [&] {
    gSettings = settings;
    // The library's one-time set-up (transports, request ids), done here
    // before walks run in parallel. No configuration file is read and no
    // option parsed: every session is built field by field.
    netsnmp_session unused;
    snmp_sess_init(&unused);
  });
}

void MibWalkStopAll() { gStopping = true; }

void MyDebugMessage(const char* /*text*/, int /*number*/) {}

int mib_walk(const WalkRequest& request) {
  const std::string key = request.address + '\n' + request.community;
  bool mine = false;
  std::shared_ptr<SharedWalk> walk = JoinOrStart(key, &mine);
  int result = 1;
  const ProfileList* spool = nullptr;
  if (mine) {
    int ran = 1;
    try {
      ran = RunWalk(request, walk->spool.get());
    } catch (const std::bad_alloc&) {
      // Out of memory: a failed walk, but one that ends for its callers.
    }
    Finish(key, walk.get(), ran);
  }
  {
    std::unique_lock<std::mutex> lock(gWalksMutex);
    if (walk->finished.wait_until(lock, Clock::now() + WaitLimit(), [&] { return walk->done; })) {
      result = walk->result;
      spool = walk->spool.get();
    }
  }
  // A walk that never ended for us counts as failed, with nothing received.
  static const ProfileList kNothing{};
  vRestructPlistSpool2Current(spool ? *spool : kNothing, result);
  return result;
}

void snmp_get_and_print(void* sessp, oid* theoid, size_t theoid_len, int* numprinted) {
  netsnmp_pdu* pdu = NewRequest(SNMP_MSG_GET, theoid, theoid_len);
  if (!pdu) return;
  netsnmp_pdu* response = nullptr;
  int status = snmp_sess_synch_response(sessp, pdu, &response);
  if (status == STAT_SUCCESS && response->errstat == SNMP_ERR_NOERROR) {
    for (netsnmp_variable_list* vars = response->variables; vars; vars = vars->next_variable) {
      ++*numprinted;
      print_variable(vars->name, vars->name_length, vars);
    }
  }
  if (response) snmp_free_pdu(response);
}

void vSpoolPlist(ProfileList* spool, const oid* name, size_t nameLength, const netsnmp_variable_list* var, int clear) {
  if (!spool) return;
  if (clear == 1) {
    std::memset(spool, 0, sizeof *spool);
    return;
  }
  if (!name || !var || nameLength <= kRowSubId) return;
  // Rows outside 1..500 have no slot: they are dropped, never stored
  // beside the list.
  oid row = name[kRowSubId];
  if (row < 1 || row > static_cast<oid>(kProfileSlotCount)) return;
  ProfileEntry* e = &spool->entry[row - 1];

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
    if (spool->iNum < kProfileSlotCount) ++spool->iNum;
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

void vRestructDetail(const ProfileList& spool, int spoolIndex, ProfileList* list) {
  if (!list || spoolIndex < 0 || spoolIndex >= kProfileSlotCount) return;
  const ProfileEntry& s = spool.entry[spoolIndex];
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

int vRestructPlistSpool2Current(const ProfileList& spool, int result) {
  auto lists = std::make_unique<ProfileList[]>(3);
  std::memset(lists.get(), 0, 3 * sizeof(ProfileList));
  ProfileList* rgb = &lists[0];
  ProfileList* sim = &lists[1];
  ProfileList* dst = &lists[2];
  (void)QVPListReadProfile_All(rgb, sim, dst);  // unreadable: the walk starts from empty lists
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
    const ProfileEntry& s = spool.entry[i];
    if (s.Location != kProfileLocationDisk && s.Location != kProfileLocationCard) continue;
    if (!bJudgement8point3Format(s.FileName)) continue;
    if (s.ProfileClass == 1 || s.ProfileClass == 2) {
      vRestructDetail(spool, i, rgb);
    } else if (s.ProfileClass == 3) {
      vRestructDetail(spool, i, sim);
      vRestructDetail(spool, i, dst);
    }
  }

  for (int k = 0; k < 3; ++k) {
    QVPListCleanProfile_Dict(&lists[k]);
    QVPListPaddingProfile_Dict(&lists[k]);
    QVPListSalvage_Dict(&lists[k]);
  }
  return QVPListWriteProfile_All(rgb, sim, dst);
}
