// The CUPS policies r2740-setup-queue keeps in cupsd.conf: how they are
// named, built on the policy a queue had, recognised and checked. Pure text
// work on cupsd.conf; fetching and putting the file is setup_queue.cpp's.
//
// Ours are found by name alone, so that a tool that rewrites cupsd.conf
// without comments (cupsctl, cupsAdminSetServerSettings, the web
// interface) loses nothing we need: "r2740" and "r2740-ask" are built on
// the policy "default", "r2740-B" and "r2740-B-ask" on a policy B. Every
// policy name beginning with "r2740" belongs to the command. What tells
// that nobody changed a block since the command wrote it is a fingerprint
// of the block, kept as the last name of its JobPrivateValues (a name no
// job attribute has, which cupsd and cupsctl keep as they keep any).
#pragma once

#include <string>
#include <vector>

namespace agent::policy {

// One <Policy NAME> ... </Policy> of cupsd.conf: its lines [begin, end).
struct Block {
  std::string name;
  size_t begin = 0, end = 0;
};

struct Conf {
  std::vector<std::string> lines;  // each with its end of line
  std::string defaultPolicy = "default";
  std::string defaultAuthType = "Basic";
  std::vector<Block> blocks;
  // The lines between the markers of an earlier version of the command.
  size_t legacyBegin = 0, legacyEnd = 0;

  std::string Text() const;
  // One block's lines as they stand.
  std::string Text(const Block& block) const;
  // The first block of that name; null when there is none.
  const Block* Find(const std::string& name) const;
};

// False (with the reason) when a <Policy> never ends.
bool Parse(const std::string& text, Conf* conf, std::string* error);

// The names of the pair built on `base`.
std::string PairName(const std::string& base, bool ask);
// Whether `name` is one of ours; its base and whether it is an ask policy.
bool IsOurs(const std::string& name, std::string* base = nullptr, bool* ask = nullptr);
// Why a base cannot carry a pair of ours (its name would be read back as
// another), or empty.
std::string UnusableBase(const std::string& base);

// Our policy `name` built on the base policy of the conf (its block, or
// cupsd's built-in default policy when the conf has no block of the
// server's default policy). Empty, with the reason, when the base is
// missing or says something ours cannot be combined with.
std::string Build(const Conf& conf, const std::string& name, std::string* error);

enum class State {
  kUnchanged,     // carries its fingerprint, and it matches
  kChanged,       // changed since the command wrote it, or no fingerprint
  kEarlierVersion // r2740 or r2740-ask without a fingerprint, or between an
                  // earlier version's markers: written before fingerprints
};
State StateOf(const Conf& conf, const Block& block);
// Whether the block says what `wanted` (a Build result) says, however a
// tool laid out its lines.
bool Same(const Conf& conf, const Block& block, const std::string& wanted);

// The conf with the blocks of these names put in (in place, or appended
// with a comment line of ours when new) and every block of ours not named
// taken out, with duplicates, the comment lines of ours and an earlier
// version's markers; the administrator's other lines stay byte for byte.
// `blocks` pairs each name with its Build text.
std::string Rewrite(const Conf& conf, const std::vector<std::pair<std::string, std::string>>& blocks);

// cupsd's own default policy, used when cupsd.conf has none (as cupsd
// 2.4 logs it when it creates it).
extern const char* const kBuiltInDefault;

}  // namespace agent::policy
