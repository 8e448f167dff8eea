#include "policies.h"

#include <cups/cups.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "jobs.h"
#include "printing/typed_options.h"

namespace agent::policy {

namespace {

constexpr const char* kPrefix = "r2740";
constexpr const char* kAskEnd = "-ask";
constexpr const char* kFingerprint = "r2740-sha256-";
constexpr const char* kComment =
    "# r2740-setup-queue keeps the policy below; r2740-setup-queue --check QUEUE tells whether it is in place\n";
constexpr const char* kCommentStart = "# r2740-setup-queue";
// The markers an earlier version put around its block.
constexpr const char* kLegacyBegin = "# r2740-setup-queue: policies of the R2740 queues, up to the line \"";
constexpr const char* kLegacyEnd = "# r2740-setup-queue end";
constexpr const char* kLegacyAddedNewline = " (an end of line was added above)";

// The operations ours decide, and who may do them; every other operation
// keeps what the base policy says.
struct Rule {
  std::vector<const char*> ops;
  bool owner;  // the job's owner or the system group; else any authenticated user
  bool ask;    // on the ask queue only
};
const std::vector<Rule> kRules = {
    {{"Get-Jobs", "Get-Job-Attributes"}, false, false},
    {{"Hold-Job", "Release-Job", "Restart-Job", "Purge-Jobs", "Set-Job-Attributes", "Reprocess-Job",
      "Cancel-Current-Job", "Suspend-Current-Job", "Resume-Job", "Cancel-My-Jobs", "Close-Job", "CUPS-Move-Job",
      "Cancel-Job", "CUPS-Authenticate-Job", "CUPS-Get-Document"},
     true, false},
    {{"Create-Job", "Print-Job", "Print-URI", "Validate-Job"}, false, true},
    {{"Send-Document", "Send-URI"}, true, true},
};

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  size_t b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string Join(const std::vector<std::string>& words) {
  std::string s;
  for (const auto& w : words) s += (s.empty() ? "" : " ") + w;
  return s;
}

bool Is(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }
bool Begins(const std::string& s, const char* p) { return strncasecmp(s.c_str(), p, std::strlen(p)) == 0; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

// The name of a "<Policy NAME>" line, or empty.
std::string PolicyName(const std::string& line) {
  std::string t = Trim(line);
  if (t.size() < 9 || !Begins(t, "<Policy ") || t.back() != '>') return "";
  return Trim(t.substr(8, t.size() - 9));
}

bool IsFingerprint(const std::string& word) {
  if (word.rfind(kFingerprint, 0) != 0 || word.size() != std::strlen(kFingerprint) + 16) return false;
  return word.find_first_not_of("0123456789abcdef", std::strlen(kFingerprint)) == std::string::npos;
}

// The lines as cupsd reads them: no comments, no blank lines, one blank
// between words; without the fingerprint unless `keep`.
std::string Normalize(const std::vector<std::string>& lines, bool keep) {
  std::string out;
  for (const auto& l : lines) {
    std::string t = Trim(l);
    if (t.empty() || t[0] == '#') continue;
    auto w = Words(t);
    if (!keep && w.size() > 1 && Is(w[0], "JobPrivateValues") && IsFingerprint(w.back())) w.pop_back();
    out += Join(w) + "\n";
  }
  return out;
}

std::string Fingerprint(const std::string& normalized) {
  unsigned char hash[32];
  if (cupsHashData("sha2-256", normalized.data(), normalized.size(), hash, sizeof hash) != 32) return "";
  char hex[17];
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02x", hash[i]);
  return std::string(kFingerprint) + hex;
}

std::vector<std::string> BlockLines(const Conf& conf, const Block& b) {
  return {conf.lines.begin() + static_cast<long>(b.begin), conf.lines.begin() + static_cast<long>(b.end)};
}

// A <Limit> of the base policy.
struct Limit {
  std::vector<std::string> ops;  // as written
  std::vector<std::string> body; // its lines, without <Limit> and </Limit>
  bool Covers(ipp_op_t op) const {
    for (const auto& o : ops)
      if (ippOpValue(o.c_str()) == op) return true;
    return false;
  }
  bool All() const {
    return std::any_of(ops.begin(), ops.end(), [](const std::string& o) { return Is(o, "All"); });
  }
};

struct Base {
  std::vector<std::string> privacy;  // JobPrivate*, SubscriptionPrivate* lines, trimmed
  std::vector<Limit> limits;
  // The limit cupsd applies to `op`: the first naming it, else <Limit All>.
  const Limit* For(ipp_op_t op) const {
    for (const auto& l : limits)
      if (l.Covers(op)) return &l;
    for (const auto& l : limits)
      if (l.All()) return &l;
    return nullptr;
  }
  std::string Value(const char* directive) const {
    for (const auto& p : privacy) {
      auto w = Words(p);
      if (!w.empty() && Is(w[0], directive)) return Join({w.begin() + 1, w.end()});
    }
    return "";
  }
};

Base ParseBase(const std::vector<std::string>& body) {
  Base base;
  for (size_t i = 0; i < body.size(); ++i) {
    std::string t = Trim(body[i]);
    if (Begins(t, "JobPrivate") || Begins(t, "SubscriptionPrivate")) base.privacy.push_back(t);
    if (!Begins(t, "<Limit ") || t.back() != '>') continue;
    Limit l;
    l.ops = Words(t.substr(7, t.size() - 8));
    for (++i; i < body.size() && !Is(Trim(body[i]), "</Limit>"); ++i) l.body.push_back(body[i]);
    base.limits.push_back(std::move(l));
  }
  return base;
}

bool OwnerOrSystem(const std::string& w) { return Is(w, "@OWNER") || Is(w, "@SYSTEM"); }

// The lines of our limit for an operation whose base limit is `l`: ours
// and the base's requirements together.
bool Merge(const Limit* l, bool owner, const Conf& conf, const std::string& baseName, const std::string& op,
           std::vector<std::string>* out, std::string* error) {
  std::string authType = "Basic";
  std::vector<std::string> require, kept;
  bool order = false, access = false;
  for (const auto& line : l ? l->body : std::vector<std::string>{}) {
    auto w = Words(line);
    if (w.empty() || w[0][0] == '#') continue;
    if (Is(w[0], "AuthType")) {
      // Kerberos stays Kerberos; anything weaker than a password becomes one.
      bool negotiate = w.size() > 1 && (Is(w[1], "Negotiate") ||
                                        (Is(w[1], "Default") && Is(conf.defaultAuthType, "Negotiate")));
      authType = negotiate ? "Negotiate" : "Basic";
    } else if (Is(w[0], "Require")) {
      require.assign(w.begin() + 1, w.end());
    } else if (!Is(w[0], "Satisfy")) {  // "Satisfy any" would let an address stand in for the user
      order |= Is(w[0], "Order");
      access |= Is(w[0], "Allow") || Is(w[0], "Deny");
      kept.push_back(Join(w));
    }
  }
  std::string req;
  bool anyUser = require.empty() || Is(require[0], "valid-user");
  if (anyUser) {
    req = owner ? "user @OWNER @SYSTEM" : "valid-user";
  } else if (!owner) {
    req = Join(require);
  } else {
    // Only the names both allow: a named user or group is not "the owner".
    std::vector<std::string> both;
    if (Is(require[0], "user"))
      for (size_t i = 1; i < require.size(); ++i)
        if (OwnerOrSystem(require[i])) both.push_back(require[i]);
    if (both.empty()) {
      *error = "the policy " + baseName + " lets only \"" + Join(require) + "\" do " + op +
               ", which cannot be combined with \"the job's owner or @SYSTEM\"; give the queue another policy";
      return false;
    }
    req = "user " + Join(both);
  }
  out->push_back("AuthType " + authType);
  out->push_back("Require " + req);
  if (!order && !access) out->push_back("Order deny,allow");
  out->insert(out->end(), kept.begin(), kept.end());
  return true;
}

std::vector<std::string> BodyOf(const Conf& conf, const std::string& base, bool* found) {
  const Block* b = conf.Find(base);
  if (!b && (base == conf.defaultPolicy || base == "default")) b = conf.Find("default");
  *found = b || base == conf.defaultPolicy || base == "default";
  if (!b) {
    auto lines = Lines(kBuiltInDefault);
    return {lines.begin() + 1, lines.end() - 1};
  }
  return {conf.lines.begin() + static_cast<long>(b->begin) + 1, conf.lines.begin() + static_cast<long>(b->end) - 1};
}

}  // namespace

const char* const kBuiltInDefault =
    "<Policy default>\n"
    "  JobPrivateAccess default\n"
    "  JobPrivateValues default\n"
    "  SubscriptionPrivateAccess default\n"
    "  SubscriptionPrivateValues default\n"
    "  <Limit Create-Job Print-Job Print-URI Validate-Job>\n"
    "    Order Deny,Allow\n"
    "  </Limit>\n"
    "  <Limit Send-Document Send-URI Cancel-Job Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes "
    "Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job "
    "Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job "
    "CUPS-Authenticate-Job CUPS-Get-Document>\n"
    "    Order Deny,Allow\n"
    "    Require user @OWNER @SYSTEM\n"
    "  </Limit>\n"
    "  <Limit Pause-Printer Resume-Printer Set-Printer-Attributes Enable-Printer Disable-Printer "
    "Pause-Printer-After-Current-Job Hold-New-Jobs Release-Held-New-Jobs Deactivate-Printer Activate-Printer "
    "Restart-Printer Shutdown-Printer Startup-Printer Promote-Job Schedule-Job-After Cancel-Jobs CUPS-Add-Printer "
    "CUPS-Delete-Printer CUPS-Add-Class CUPS-Delete-Class CUPS-Accept-Jobs CUPS-Reject-Jobs CUPS-Set-Default>\n"
    "    Order Deny,Allow\n"
    "    AuthType Default\n"
    "    Require user @SYSTEM\n"
    "  </Limit>\n"
    "  <Limit All>\n"
    "    Order Deny,Allow\n"
    "  </Limit>\n"
    "</Policy>\n";

std::string Conf::Text() const {
  std::string s;
  for (const auto& l : lines) s += l;
  return s;
}

std::string Conf::Text(const Block& block) const {
  std::string s;
  for (size_t i = block.begin; i < block.end; ++i) s += lines[i];
  return s;
}

const Block* Conf::Find(const std::string& name) const {
  for (const auto& b : blocks)
    if (b.name == name) return &b;
  return nullptr;
}

bool Parse(const std::string& text, Conf* conf, std::string* error) {
  *conf = Conf();
  conf->lines = Lines(text);
  const auto& lines = conf->lines;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string t = Trim(lines[i]);
    if (t.rfind(kLegacyBegin, 0) == 0) conf->legacyBegin = i;
    if (t == kLegacyEnd && conf->legacyBegin < i) conf->legacyEnd = i + 1;
    auto w = Words(t);
    if (w.size() == 2 && Is(w[0], "DefaultPolicy")) conf->defaultPolicy = w[1];
    if (w.size() == 2 && Is(w[0], "DefaultAuthType")) conf->defaultAuthType = w[1];
    std::string name = PolicyName(t);
    if (name.empty()) continue;
    size_t end = i + 1;
    while (end < lines.size() && !Is(Trim(lines[end]), "</Policy>")) ++end;
    if (end == lines.size()) return *error = "cupsd.conf holds a <Policy " + name + "> that never ends", false;
    conf->blocks.push_back({name, i, end + 1});
    i = end;
  }
  return true;
}

std::string PairName(const std::string& base, bool ask) {
  std::string name = base == "default" ? kPrefix : std::string(kPrefix) + "-" + base;
  return ask ? name + kAskEnd : name;
}

bool IsOurs(const std::string& name, std::string* base, bool* ask) {
  if (name.rfind(kPrefix, 0) != 0) return false;
  std::string rest = name.substr(std::strlen(kPrefix));
  bool isAsk = rest.size() >= 4 && rest.compare(rest.size() - 4, 4, kAskEnd) == 0;
  if (isAsk) rest.resize(rest.size() - 4);
  if (!rest.empty() && (rest[0] != '-' || rest.size() == 1)) return false;
  if (base) *base = rest.empty() ? "default" : rest.substr(1);
  if (ask) *ask = isAsk;
  return true;
}

std::string UnusableBase(const std::string& base) {
  std::string b;
  bool ask = false;
  if (IsOurs(base)) return "its name begins with r2740, which names the policies of r2740-setup-queue";
  if (!IsOurs(PairName(base, false), &b, &ask) || b != base || ask)
    return "its name ends in -ask, so the policies built on it would be taken for another pair";
  return "";
}

std::string Build(const Conf& conf, const std::string& name, std::string* error) {
  std::string baseName;
  bool ask = false;
  if (!IsOurs(name, &baseName, &ask)) return *error = name + " is not a policy of r2740-setup-queue", "";
  bool found = false;
  Base base = ParseBase(BodyOf(conf, baseName, &found));
  if (!found) return *error = "cupsd.conf has no <Policy " + baseName + "> to build " + name + " on", "";

  // Who may see the private values: the base's list, at most the owner and the system group.
  std::string access = base.Value("JobPrivateAccess");
  std::vector<std::string> who;
  if (access.empty() || Is(access, "default") || Is(access, "all")) {
    who = {"@OWNER", "@SYSTEM"};
  } else {
    for (const auto& w : Words(access))
      if (OwnerOrSystem(w)) who.push_back(w);
  }
  if (who.empty())
    return *error = "the policy " + baseName + " shows private job values to \"" + access +
                    "\", which cannot be combined with \"the job's owner or @SYSTEM\"",
           "";
  // What is private: the base's values, the ticket keys and the typed fields.
  std::vector<std::string> values;
  for (const auto& w : Words(base.Value("JobPrivateValues").empty() ? "default" : base.Value("JobPrivateValues")))
    if (!Is(w, "none")) values.push_back(w);
  if (std::none_of(values.begin(), values.end(), [](const std::string& w) { return Is(w, "all"); })) {
    std::vector<const char*> ours(std::begin(host::kPrivateTicketKeys), std::end(host::kPrivateTicketKeys));
    // What other dialogs typed into the PPD's fields is as secret, and in clear.
    for (const auto& typed : pm::kTypedOptions) ours.push_back(typed.keyword);
    for (const char* key : ours)
      if (std::find(values.begin(), values.end(), key) == values.end()) values.push_back(key);
  }

  std::string s = "<Policy " + name + ">\n  JobPrivateAccess " + Join(who) + "\n  JobPrivateValues " +
                  Join(values) + "\n";
  for (const auto& p : base.privacy)
    if (Begins(p, "SubscriptionPrivate")) s += "  " + p + "\n";

  // Our operations, grouped by the lines their limits come to.
  std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> groups;  // lines -> ops
  std::set<ipp_op_t> mine;
  for (const auto& rule : kRules) {
    if (rule.ask && !ask) continue;
    for (const char* op : rule.ops) {
      ipp_op_t value = ippOpValue(op);
      mine.insert(value);
      std::vector<std::string> lines;
      if (!Merge(base.For(value), rule.owner, conf, baseName, op, &lines, error)) return "";
      auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == lines; });
      if (it == groups.end()) it = groups.insert(groups.end(), {lines, {}});
      it->second.push_back(op);
    }
  }
  for (const auto& [lines, ops] : groups) {
    s += "  <Limit " + Join(ops) + ">\n";
    for (const auto& l : lines) s += "    " + l + "\n";
    s += "  </Limit>\n";
  }
  // The base's other limits, less our operations.
  for (const auto& l : base.limits) {
    std::vector<std::string> left;
    for (const auto& op : l.ops)
      if (Is(op, "All") || !mine.count(ippOpValue(op.c_str()))) left.push_back(op);
    if (left.empty()) continue;
    s += "  <Limit " + Join(left) + ">\n";
    for (const auto& line : l.body) s += line;
    s += "  </Limit>\n";
  }
  s += "</Policy>\n";

  // The fingerprint goes last into JobPrivateValues.
  std::string print = Fingerprint(Normalize(Lines(s), false));
  if (print.empty()) return *error = "libcups could not make a SHA-256 digest", "";
  size_t at = s.find("\n", s.find("  JobPrivateValues "));
  return s.insert(at, " " + print);
}

State StateOf(const Conf& conf, const Block& block) {
  auto lines = BlockLines(conf, block);
  for (const auto& l : lines) {
    auto w = Words(l);
    if (w.size() > 1 && Is(w[0], "JobPrivateValues") && IsFingerprint(w.back()))
      return Fingerprint(Normalize(lines, false)) == w.back() ? State::kUnchanged : State::kChanged;
  }
  // Earlier versions wrote only these two, and no fingerprint; cupsctl may
  // have taken their markers away since.
  bool legacy = conf.legacyEnd > 0 && block.begin > conf.legacyBegin && block.end < conf.legacyEnd;
  bool earlierName = block.name == PairName("default", false) || block.name == PairName("default", true);
  return legacy || earlierName ? State::kEarlierVersion : State::kChanged;
}

bool Same(const Conf& conf, const Block& block, const std::string& wanted) {
  return Normalize(BlockLines(conf, block), true) == Normalize(Lines(wanted), true);
}

std::string Rewrite(const Conf& conf, const std::vector<std::pair<std::string, std::string>>& blocks) {
  const auto& lines = conf.lines;
  std::vector<bool> drop(lines.size());
  std::map<size_t, std::string> replace;  // first line of a block -> its new text
  std::set<size_t> keptStarts;            // blocks of ours that stay where they are
  std::set<std::string> placed;
  for (const auto& b : conf.blocks) {
    if (!IsOurs(b.name)) continue;
    auto it = std::find_if(blocks.begin(), blocks.end(), [&](const auto& w) { return w.first == b.name; });
    bool first = it != blocks.end() && placed.insert(b.name).second;
    if (first) keptStarts.insert(b.begin);
    if (first && Same(conf, b, it->second)) continue;
    if (first) replace[b.begin] = it->second;
    for (size_t i = b.begin; i < b.end; ++i) drop[i] = true;
  }
  auto legacy = [&](size_t i) {
    std::string t = Trim(lines[i]);
    return t.rfind(kLegacyBegin, 0) == 0 || t == kLegacyEnd;
  };
  auto comment = [&](size_t i) { return !legacy(i) && Trim(lines[i]).rfind(kCommentStart, 0) == 0; };
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    bool attached = i + 1 < lines.size() && keptStarts.count(i + 1);
    if (legacy(i)) {
      // The end of line the earlier version added above its block goes too.
      if (lines[i].find(kLegacyAddedNewline) != std::string::npos && !out.empty() && out.back() == '\n')
        out.pop_back();
      continue;
    }
    if (comment(i) && !attached) continue;
    if (replace.count(i)) out += (i > 0 && comment(i - 1) ? "" : kComment) + replace[i];
    if (!drop[i]) out += lines[i];
  }
  for (const auto& [name, text] : blocks) {
    if (placed.count(name)) continue;
    if (!out.empty() && out.back() != '\n') out += '\n';
    out += std::string(kComment) + text;
  }
  return out;
}

}  // namespace agent::policy
