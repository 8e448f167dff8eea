// The plug-in side of the device walk: classify the queue's device URI,
// find the printer's address, back up the profile file and have the helper
// run the walk in the service.
#include "ProfileDeviceWalk.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/domain.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <cups/http.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "ProfilePrintServer.h"
#include "QVPList.h"
#include "printing/pde.h"
#include "system/system.h"

namespace R2740_COLOR_NS {

namespace {

constexpr int kBonjourTimeoutMs = 1000;
// A class's members are walked in order until one answers; each silent one
// costs the dialog a walk's time-outs.
constexpr int kMaxWalks = 3;

// The URI's host as libcups separates it (a port, user and path cut off),
// or nullopt when the URI cannot be separated.
std::optional<std::string> UriHost(const std::string& uri, http_uri_coding_t coding) {
  char scheme[HTTP_MAX_URI], user[HTTP_MAX_URI], host[HTTP_MAX_URI], resource[HTTP_MAX_URI];
  int port = 0;
  if (httpSeparateURI(coding, uri.c_str(), scheme, sizeof scheme, user, sizeof user, host, sizeof host, &port,
                      resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return std::nullopt;
  return std::string(host);
}

struct BonjourService {
  std::string name, type, domain;
};

// A service's full name as CUPS writes it into a dnssd:// URI, percent
// escapes already decoded: "NAME._type._tcp.domain". The name may hold dots,
// plain or escaped ("\."), and DNS-SD escapes ("\032"), so the type begins
// at the first unescaped "._"; a missing domain is Bonjour's "local".
std::optional<BonjourService> SplitBonjourName(const std::string& host) {
  size_t cut = std::string::npos;
  for (size_t i = 0; i + 1 < host.size() && cut == std::string::npos; ++i) {
    if (host[i] == '\\')
      ++i;
    else if (host[i] == '.' && host[i + 1] == '_')
      cut = i;
  }
  if (cut == 0 || cut == std::string::npos) return std::nullopt;

  BonjourService service;
  const std::string escaped = host.substr(0, cut);
  for (const char* p = escaped.c_str(); *p;) {
    char label[AVAHI_LABEL_MAX];
    if (p != escaped.c_str()) service.name += '.';
    if (!avahi_unescape_label(&p, label, sizeof label)) return std::nullopt;
    service.name += label;
  }
  const std::string rest = host.substr(cut + 1);
  const size_t typeEnd = rest.find('.', rest.find('.') + 1);
  service.type = rest.substr(0, typeEnd);
  if (!avahi_is_valid_service_type_strict(service.type.c_str())) return std::nullopt;
  service.domain = typeEnd == std::string::npos ? "" : rest.substr(typeEnd + 1);
  if (!service.domain.empty() && service.domain.back() == '.') service.domain.pop_back();
  if (service.domain.empty()) service.domain = "local";
  return service;
}

struct Resolution {
  bool done = false;
  std::optional<std::string> address;
};

void OnResolved(AvahiServiceResolver* r, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event, const char*,
                const char*, const char*, const char*, const AvahiAddress* a, uint16_t, AvahiStringList*,
                AvahiLookupResultFlags, void* userdata) {
  auto* res = static_cast<Resolution*>(userdata);
  if (event == AVAHI_RESOLVER_FOUND && a && a->proto == AVAHI_PROTO_INET) {
    const auto* b = reinterpret_cast<const uint8_t*>(&a->data.ipv4.address);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    res->address = text;
  }
  res->done = true;
  (void)r;
}

void OnClientState(AvahiClient*, AvahiClientState, void*) {}

// Resolves a Bonjour service to its first IPv4 address within 1.0 s; nullopt
// when the daemon is unreachable, the service unknown or the address not IPv4.
std::optional<std::string> ResolveBonjour(const std::string& name, const std::string& type, const std::string& domain) {
  AvahiSimplePoll* poll = avahi_simple_poll_new();
  if (!poll) return std::nullopt;
  int error = 0;
  // Without a reachable daemon this fails at once.
  AvahiClient* client =
      avahi_client_new(avahi_simple_poll_get(poll), AvahiClientFlags(0), OnClientState, nullptr, &error);
  Resolution res;
  if (client) {
    AvahiServiceResolver* resolver =
        avahi_service_resolver_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, name.c_str(), type.c_str(),
                                   domain.c_str(), AVAHI_PROTO_INET, AvahiLookupFlags(0), OnResolved, &res);
    if (resolver) {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBonjourTimeoutMs);
      while (!res.done) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) break;
        if (avahi_simple_poll_iterate(poll, static_cast<int>(left)) != 0) break;
      }
      avahi_service_resolver_free(resolver);
    }
    avahi_client_free(client);
  }
  avahi_simple_poll_free(poll);
  return res.address;
}

// The text to walk: the resolved IPv4 address (class 1) or the URI's host
// (class 0). An IPv6 literal has no address the walk could take.
std::optional<std::string> DeviceAddress(int16_t protocol, const std::string& uri) {
  std::string text;
  if (protocol == kProfileProtocolBonjour) {
    auto host = UriHost(uri, HTTP_URI_CODING_ALL);
    auto service = host ? SplitBonjourName(*host) : std::nullopt;
    if (!service) return std::nullopt;
    auto address = ResolveBonjour(service->name, service->type, service->domain);
    if (!address) return std::nullopt;
    text = *address;
  } else if (protocol == kProfileProtocolLpd) {
    auto host = UriHost(uri, HTTP_URI_CODING_NONE);
    if (!host || host->find(':') != std::string::npos) return std::nullopt;
    auto bytes = cf::str(*host)->getBytes(cf::kCFStringEncodingMacRoman);
    if (!bytes || bytes->size() > 254) return std::nullopt;
    text = *bytes;
  } else {
    return std::nullopt;
  }
  // An address beginning with "-" would read as an option of the walk.
  if (text.empty() || text[0] == '-') return std::nullopt;
  return text;
}

}  // namespace

int16_t GetProtocolByUrl(const cf::StringRef& uri) {
  if (!uri) return kProfileProtocolOther;
  const std::string& s = uri->utf8();
  auto starts = [&](const char* prefix) { return s.rfind(prefix, 0) == 0; };
  if (starts("mdns://") || starts("dnssd://")) return kProfileProtocolBonjour;
  // A networked printer as Linux sets up its queue (AppSocket, IPP and
  // IPP's HTTP forms) is walked at the URI's host, just as an lpd one.
  for (const char* networked : {"lpd://", "socket://", "ipp://", "ipps://", "http://", "https://"})
    if (starts(networked)) return kProfileProtocolLpd;
  // cups-browsed's queue of a print server's queue: the printer behind it.
  if (starts("implicitclass://")) return kProfileProtocolLpd;
  if (starts("pap://")) return kProfileProtocolPap;
  if (starts("usb://")) return kProfileProtocolUsb;
  return kProfileProtocolOther;
}

int16_t GetProtocol(pm::PMPrintSession session) {
  pm::PMPrinter printer = nullptr;
  if (!session || pm::PMSessionGetCurrentPrinter(session, &printer) != pm::noErr || !printer)
    return kProfileProtocolOther;
  cf::URLRef uri;
  if (pm::PMPrinterCopyDeviceURI(printer, &uri) != pm::noErr || !uri) return kProfileProtocolOther;
  return GetProtocolByUrl(cf::str(uri->string()));
}

namespace {

// Leaves a line for the host to show: a profile file that could not be read
// was kept aside by the service (the user's registrations are in it, or in
// the backup that took its place).
void TellUnreadableProfileFile(pm::PMPrintSession session) {
  if (!session) return;
  const std::string current = QVPListCurrentPath();
  const std::string aside = current + kQVPListSetAsideSuffix;
  std::string line = "The profile file " + current + " could not be read";
  if (!sys::FileExists(aside))
    line += "; it is kept as " + aside + " when it is next written.";
  else if (QVPListIsUnreadable(current.c_str()) || !sys::FileExists(current))
    line += "; it was kept as " + aside + " and the printer's profiles are read anew.";
  else
    line += "; it was kept as " + aside + " and the profiles were taken from its backup.";
  cf::Ref notices;
  auto list = cf::Array::create();
  if (pm::PMSessionGetDataFromSession(session, pde::kNoticesKey, &notices) == pm::noErr)
    if (auto old = cf::As<cf::Array>(notices)) list = cf::As<cf::Array>(cf::DeepCopy(old));
  list->append(cf::str(line));
  (void)pm::PMSessionSetDataInSession(session, pde::kNoticesKey, list);  // a lost note costs only the message
}

// From the device URI on: the printer behind a print-server queue, its
// address, then the walk through the helper; a class's members in order
// until one walk is complete.
void WalkDevice(pm::PMPrintSession session) {
  pm::PMPrinter printer = nullptr;
  if (!session || pm::PMSessionGetCurrentPrinter(session, &printer) != pm::noErr || !printer) return;
  cf::URLRef uri;
  if (pm::PMPrinterCopyDeviceURI(printer, &uri) != pm::noErr || !uri) return;
  if (GetProtocolByUrl(cf::str(uri->string())) == kProfileProtocolOther) return;

  std::string helper = QVPListHelperPath();
  int walks = 0;
  for (const std::string& target : PrintersBehindQueue(uri->string())) {
    auto address = DeviceAddress(GetProtocolByUrl(cf::str(target)), target);
    if (!address) continue;
    if (!sys::FileExists(helper) || walks++ == kMaxWalks) return;
    sys::TaskResult r = sys::RunTask(helper, {"mibwalk_XPC", R2740_MODEL_KEY, sys::LoginName(), "snmpwalk", "-Os",
                                              "-c", "public", "-v", "1", *address, kProfileTableOID});
    // The walk's result follows "mibwalk_XPC=iRet="; the panel goes on with
    // whatever the profile file holds either way.
    if (r.output.find("=iRet=0") != std::string::npos) return;
  }
}

}  // namespace

int GetProfilesFromMIB(pm::PMPrintSession session) {
  // Checked before the backup step, which keeps such a file aside.
  const std::string current = QVPListCurrentPath();
  const bool unreadable = !current.empty() && QVPListIsUnreadable(current.c_str());
  QVPListSwapProfile(kQVPListSwapBackup);
  WalkDevice(session);
  if (unreadable) TellUnreadableProfileFile(session);
  return 0;
}

}  // namespace R2740_COLOR_NS
