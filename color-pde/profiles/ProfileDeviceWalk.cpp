// The plug-in side of the device walk: classify the queue's device URI,
// find the printer's address, back up the profile file and have the helper
// run the walk in the service.
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "PDECommon.h"
#include "QVPList.h"
#include "system/system.h"

namespace R2740_COLOR_NS {

namespace {

constexpr const char* kProfileTableOID = "1.3.6.1.4.1.47291.1.1.1.1.6.13.1.1";
constexpr int kBonjourTimeoutMs = 1000;

std::string PercentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// The URI's authority ("user@host:port"), as the platform's net location.
std::string NetLocation(const std::string& uri) {
  size_t start = uri.find("://");
  if (start == std::string::npos) return {};
  start += 3;
  size_t end = uri.find_first_of("/?#", start);
  return uri.substr(start, end == std::string::npos ? std::string::npos : end - start);
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

// The text to walk: the resolved address (class 1) or the URI's net
// location (class 0), in either case cut at its first ":".
std::optional<std::string> DeviceAddress(int16_t protocol, const std::string& uri) {
  std::string text;
  if (protocol == 1) {
    auto url = cf::URL::createWithString(uri);
    if (!url) return std::nullopt;
    std::vector<std::string> parts;
    const std::string host = url->host();
    for (size_t start = 0;;) {
      size_t dot = host.find('.', start);
      parts.push_back(host.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
    // name.type-1.type-2.domain: anything shorter names no service.
    if (parts.size() < 4 || parts[0].empty()) return std::nullopt;
    auto address = ResolveBonjour(PercentDecode(parts[0]), parts[1] + "." + parts[2], parts[3]);
    if (!address) return std::nullopt;
    text = *address;
  } else if (protocol == 0) {
    auto location = cf::str(NetLocation(uri));
    auto bytes = location->getBytes(cf::kCFStringEncodingMacRoman);
    if (!bytes || bytes->size() > 254) return std::nullopt;
    text = *bytes;
  } else {
    return std::nullopt;
  }
  text = text.substr(0, text.find(':'));
  if (text.size() > 255) text.resize(255);
  // An address beginning with "-" would read as an option of the walk.
  if (text.empty() || text[0] == '-') return std::nullopt;
  return text;
}

}  // namespace

int16_t PDECommon::commoniGetProtocolByUrl(const cf::StringRef& uri) {
  if (!uri) return -1;
  const std::string& s = uri->utf8();
  auto starts = [&](const char* prefix) { return s.rfind(prefix, 0) == 0; };
  if (starts("mdns://") || starts("dnssd://")) return 1;
  if (starts("lpd://")) return 0;
  if (starts("pap://")) return 2;
  if (starts("usb://")) return 3;
  return -1;
}

int16_t PDECommon::commoniGetProtocol(pm::PMPrintSession session) {
  pm::PMPrinter printer = nullptr;
  if (!session || pm::PMSessionGetCurrentPrinter(session, &printer) != pm::noErr || !printer) return -1;
  cf::URLRef uri;
  if (pm::PMPrinterCopyDeviceURI(printer, &uri) != pm::noErr || !uri) return -1;
  return commoniGetProtocolByUrl(cf::str(uri->string()));
}

int PDECommon::commonGetProfilesFromMIB(pm::PMPrintSession session) {
  QVPListSwapProfile(kQVPListSwapBackup);

  pm::PMPrinter printer = nullptr;
  if (!session || pm::PMSessionGetCurrentPrinter(session, &printer) != pm::noErr || !printer) return 0;
  cf::URLRef uri;
  if (pm::PMPrinterCopyDeviceURI(printer, &uri) != pm::noErr || !uri) return 0;
  int16_t protocol = commoniGetProtocolByUrl(cf::str(uri->string()));
  auto address = DeviceAddress(protocol, uri->string());
  if (!address) return 0;

  std::string helper = QVPListHelperPath();
  if (!sys::FileExists(helper)) return 0;
  sys::TaskResult r = sys::RunTask(helper, {"mibwalk_XPC", R2740_MODEL_KEY, sys::LoginName(), "snmpwalk", "-Os", "-c",
                                            "public", "-v", "1", *address, kProfileTableOID});
  // The walk's result follows "mibwalk_XPC=iRet="; the panel goes on with
  // whatever the profile file holds either way.
  (void)r;
  return 0;
}

}  // namespace R2740_COLOR_NS
