// aeskeytb_gen: turns a key table file into the C++ source of AesKeyTb.
//
//   aeskeytb_gen generate TABLE OUT.cpp   write the source for TABLE
//   aeskeytb_gen random                   print a new table of random material
//
// Table file format (text, one entry per line; '#' starts a comment, blank
// lines are ignored, numbers are decimal or 0x-prefixed hex):
//
//   default <20 decimal digits>      material for key identifier 0
//   order <20 numbers>               optional: a permutation of 0..19; byte i
//                                    of the working material is kept at
//                                    stored position order[i]. When absent,
//                                    a permutation is derived from the file's
//                                    contents, so the output is reproducible.
//   key <id> <sub> <40 hex digits>   one record: identifier (1..0xFFFFFFFE),
//                                    sub-identifier, working-order material;
//                                    records keep the file's order, and the
//                                    first record of an identifier is the one
//                                    taken for sub-identifier 0
//   end <40 hex digits>              the fallback material; exactly once
//
// The material is written as the printer uses it (working order); the
// generator stores it scrambled. Exit status 0 on success, 1 on any error,
// with a message naming the line.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaterial = 20;
using Material = std::array<unsigned char, kMaterial>;

struct Record {
  uint32_t id;
  uint32_t sub;
  Material material;
};

struct Table {
  std::string defaultDigits;
  bool haveOrder = false;
  std::array<unsigned, kMaterial> order{};
  std::vector<Record> records;
  bool haveEnd = false;
  Material end{};
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  std::cerr << "aeskeytb_gen: " << where << ": " << what << "\n";
  std::exit(1);
}

bool ParseNumber(const std::string& s, uint64_t& v) {
  if (s.empty()) return false;
  try {
    size_t used = 0;
    v = std::stoull(s, &used, 0);
    return used == s.size() && s[0] != '-' && s[0] != '+';
  } catch (...) {
    return false;
  }
}

bool ParseMaterial(const std::string& s, Material& m) {
  if (s.size() != 2 * kMaterial) return false;
  for (size_t i = 0; i < kMaterial; ++i) {
    unsigned v = 0;
    for (int k = 0; k < 2; ++k) {
      const char c = s[2 * i + k];
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (d < 0) return false;
      v = v * 16 + static_cast<unsigned>(d);
    }
    m[i] = static_cast<unsigned char>(v);
  }
  return true;
}

Table Parse(const std::string& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path, "cannot be read");
  std::stringstream all;
  all << in.rdbuf();
  contents = all.str();

  Table t;
  std::istringstream lines(contents);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string where = path + ":" + std::to_string(number);
    if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.empty()) continue;
    if (t.haveEnd) Fail(where, "entry after the end record");
    if (w[0] == "default") {
      if (w.size() != 2 || w[1].size() != kMaterial ||
          !std::all_of(w[1].begin(), w[1].end(), [](char c) { return c >= '0' && c <= '9'; }))
        Fail(where, "default needs 20 decimal digits");
      if (!t.defaultDigits.empty()) Fail(where, "default given twice");
      t.defaultDigits = w[1];
    } else if (w[0] == "order") {
      if (t.haveOrder) Fail(where, "order given twice");
      if (w.size() != kMaterial + 1) Fail(where, "order needs 20 numbers");
      std::array<bool, kMaterial> seen{};
      for (size_t i = 0; i < kMaterial; ++i) {
        uint64_t v = 0;
        if (!ParseNumber(w[i + 1], v) || v >= kMaterial || seen[v]) Fail(where, "order is not a permutation of 0..19");
        seen[v] = true;
        t.order[i] = static_cast<unsigned>(v);
      }
      t.haveOrder = true;
    } else if (w[0] == "key") {
      uint64_t id = 0, sub = 0;
      Record r{};
      if (w.size() != 4) Fail(where, "key needs <id> <sub> <40 hex digits>");
      if (!ParseNumber(w[1], id) || id == 0 || id >= 0xFFFFFFFFull) Fail(where, "key identifier out of range");
      if (!ParseNumber(w[2], sub) || sub > 0xFFFFFFFFull) Fail(where, "sub-identifier out of range");
      if (!ParseMaterial(w[3], r.material)) Fail(where, "material needs 40 hex digits");
      r.id = static_cast<uint32_t>(id);
      r.sub = static_cast<uint32_t>(sub);
      for (const Record& o : t.records)
        if (o.id == r.id && o.sub == r.sub) Fail(where, "duplicate key identifier and sub-identifier");
      t.records.push_back(r);
    } else if (w[0] == "end") {
      if (w.size() != 2 || !ParseMaterial(w[1], t.end)) Fail(where, "end needs 40 hex digits");
      t.haveEnd = true;
    } else {
      Fail(where, "unknown entry '" + w[0] + "'");
    }
  }
  if (t.defaultDigits.empty()) Fail(path, "no default entry");
  if (t.records.empty()) Fail(path, "no key records");
  if (!t.haveEnd) Fail(path, "no end record");
  return t;
}

// FNV-1a over the file; seeds the derived permutation.
uint64_t Fingerprint(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::array<unsigned, kMaterial> DeriveOrder(const std::string& contents) {
  std::array<unsigned, kMaterial> order{};
  for (unsigned i = 0; i < kMaterial; ++i) order[i] = i;
  uint64_t x = Fingerprint(contents) | 1;
  for (size_t i = kMaterial - 1; i > 0; --i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    std::swap(order[i], order[x % (i + 1)]);
  }
  return order;
}

std::string Bytes(const Material& working, const std::array<unsigned, kMaterial>& order) {
  Material stored{};
  for (size_t i = 0; i < kMaterial; ++i) stored[order[i]] = working[i];
  std::string out;
  char buf[8];
  for (size_t i = 0; i < kMaterial; ++i) {
    std::snprintf(buf, sizeof buf, "0x%02X,", stored[i]);
    out += buf;
  }
  return out;
}

int Generate(const std::string& tablePath, const std::string& outPath) {
  std::string contents;
  Table t = Parse(tablePath, contents);
  const auto order = t.haveOrder ? t.order : DeriveOrder(contents);

  std::ostringstream o;
  o << "// Generated by aeskeytb_gen from a key table file; do not edit.\n"
    << "// Material is stored scrambled; AesKeyTbOrder restores the working order.\n"
    << "#include \"AesKeyTbInternal.h\"\n\n"
    << "namespace R2740_SECURITY_NS {\n\n"
    << "const unsigned char AesKeyTbOrder[kAesKeyMaterialSize] = {";
  for (size_t i = 0; i < kMaterial; ++i) o << order[i] << (i + 1 < kMaterial ? ", " : "");
  o << "};\n\n"
    << "const unsigned char AesDefaultKeyMaterial[kAesKeyMaterialSize + 1] = \"" << t.defaultDigits << "\";\n\n"
    << "const AesKeyTbRecord AesKeyTb[] = {\n";
  for (const Record& r : t.records)
    o << "    {" << r.id << "u, " << r.sub << "u, {" << Bytes(r.material, order) << "}},\n";
  o << "    {0xFFFFFFFFu, 0xFFFFFFFFu, {" << Bytes(t.end, order) << "}},\n"
    << "};\n\n"
    << "}  // namespace R2740_SECURITY_NS\n";

  // Write beside the target and rename, so a failed run leaves no half file.
  const std::string tmp = outPath + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << o.str();
    out.close();
    if (!out) Fail(outPath, "cannot be written");
  }
  if (std::rename(tmp.c_str(), outPath.c_str()) != 0) {
    std::remove(tmp.c_str());
    Fail(outPath, "cannot be written");
  }
  return 0;
}

// A table of the shipped form: 99 records for identifiers 1..53 and 255
// (identifiers 1..45 with sub-identifiers 0 and 1), then the end record.
int Random() {
  std::random_device rd;
  auto byte = [&rd] { return static_cast<unsigned>(rd() & 0xFF); };
  auto material = [&] {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < kMaterial; ++i) {
      std::snprintf(buf, sizeof buf, "%02X", byte());
      s += buf;
    }
    return s;
  };
  std::string digits;
  for (size_t i = 0; i < kMaterial; ++i) digits += static_cast<char>('0' + rd() % 10);
  std::array<unsigned, kMaterial> order{};
  for (unsigned i = 0; i < kMaterial; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(rd()));

  std::cout << "# R2740 AES key table (working-order material)\n";
  std::cout << "default " << digits << "\n";
  std::cout << "order";
  for (unsigned v : order) std::cout << " " << v;
  std::cout << "\n";
  std::vector<uint32_t> ids;
  for (uint32_t id = 1; id <= 53; ++id) ids.push_back(id);
  ids.push_back(255);
  for (uint32_t id : ids) {
    std::cout << "key " << id << " 0 " << material() << "\n";
    if (id <= 45) std::cout << "key " << id << " 1 " << material() << "\n";
  }
  std::cout << "end " << material() << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "generate") return Generate(args[1], args[2]);
  if (args.size() == 1 && args[0] == "random") return Random();
  std::cerr << "usage: aeskeytb_gen generate TABLE OUT.cpp | aeskeytb_gen random\n";
  return 1;
}
