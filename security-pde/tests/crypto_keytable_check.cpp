// The key table pipeline: crypto_keytable_sample.txt went through
// aeskeytb_gen into this test's AesKeyTb; the selection must give back the
// working-order material written in the file. Also the generator's refusals.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "AesKeyTbInternal.h"
#include "QVCrypto.h"

using namespace R2740_SECURITY_NS;
namespace fs = std::filesystem;

namespace {

// Material of the sample's records: byte i = tag + i.
std::string Tagged(unsigned tag) {
  std::string s;
  for (unsigned i = 0; i < 20; ++i) s += static_cast<char>(tag + i);
  return s;
}

std::string Select(uint32_t id, uint32_t sub) {
  unsigned char m[20];
  AesSelectKeyMaterial(id, sub, nullptr, m);
  return std::string(reinterpret_cast<char*>(m), 20);
}

struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/r2740-keytb-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
};

int RunGenerator(const fs::path& table, const fs::path& out) {
  const std::string cmd = std::string("'") + R2740_AESKEYTB_GEN + "' generate '" + table.string() + "' '" +
                          out.string() + "' 2>/dev/null";
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(KeyTablePipeline, SelectionRulesOnSampleTable) {
  EXPECT_EQ(Select(7, 0), Tagged(0x10));  // sub 0 takes the first record whatever its sub
  EXPECT_EQ(Select(7, 3), Tagged(0x10));
  EXPECT_EQ(Select(7, 5), Tagged(0x50));
  EXPECT_EQ(Select(7, 9), Tagged(0xD0));  // the run of 7 ends before that record
  EXPECT_EQ(Select(8, 1), Tagged(0x70));
  EXPECT_EQ(Select(8, 0), Tagged(0x70));
  EXPECT_EQ(Select(51, 0), Tagged(0xB0));
  EXPECT_EQ(Select(52, 0), Tagged(0xD0));
  EXPECT_EQ(Select(0xFFFFFFFFu, 0), Tagged(0xD0));
  EXPECT_EQ(Select(0, 0), "11112222333344445555");
  EXPECT_EQ(std::memcmp(AesDefaultKeyMaterial, "11112222333344445555", 21), 0);

  // Stored scrambled with the file's order: working[i] = stored[order[i]].
  const unsigned order[20] = {3, 0, 19, 7, 12, 1, 18, 5, 10, 15, 2, 9, 14, 17, 4, 11, 16, 6, 13, 8};
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(AesKeyTbOrder[i], order[i]);
    EXPECT_EQ(AesKeyTb[0].material[order[i]], 0x10 + i);
  }
  EXPECT_EQ(AesKeyTb[6].keyID, 0xFFFFFFFFu);
}

TEST(KeyTablePipeline, GeneratorRefusesBadTablesAndIsReproducible) {
  TempDir dir;
  const std::string sample = Slurp(R2740_SAMPLE_TABLE);
  const std::string record = "key 1 0 " + std::string(40, 'A') + "\n";
  const std::string end = "end " + std::string(40, 'B') + "\n";
  const std::string head = "default 01234567890123456789\n";
  const struct {
    const char* what;
    std::string text;
  } bad[] = {
      {"no end", head + record},
      {"no default", record + end},
      {"no records", head + end},
      {"short material", head + "key 1 0 ABCD\n" + end},
      {"non-hex material", head + "key 1 0 " + std::string(40, 'G') + "\n" + end},
      {"identifier 0", head + "key 0 0 " + std::string(40, 'A') + "\n" + end},
      {"end identifier", head + "key 0xFFFFFFFF 0 " + std::string(40, 'A') + "\n" + end},
      {"duplicate", head + record + record + end},
      {"not a permutation", head + "order 0 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18\n" + record + end},
      {"record after end", head + record + end + record},
      {"short default", "default 123\n" + record + end},
      {"unknown entry", head + "keys 1 0\n" + record + end},
  };
  for (const auto& b : bad) {
    const fs::path table = dir.path / "bad.txt";
    const fs::path out = dir.path / "out.cpp";
    std::ofstream(table) << b.text;
    EXPECT_EQ(RunGenerator(table, out), 1) << b.what;
    EXPECT_FALSE(fs::exists(out)) << b.what;
    EXPECT_FALSE(fs::exists(dir.path / "out.cpp.tmp")) << b.what;
  }

  // Without an order line the order is derived from the file: same file,
  // same output.
  const fs::path table = dir.path / "good.txt";
  std::ofstream(table) << head << record << end;
  ASSERT_EQ(RunGenerator(table, dir.path / "a.cpp"), 0);
  ASSERT_EQ(RunGenerator(table, dir.path / "b.cpp"), 0);
  EXPECT_EQ(Slurp(dir.path / "a.cpp"), Slurp(dir.path / "b.cpp"));
  EXPECT_NE(Slurp(dir.path / "a.cpp").find("AesKeyTbOrder"), std::string::npos);
}
