// Fixed ticket bytes for the built-in key table, written down once from the
// OpenSSL command line (and cross-checked with Python's hashlib and
// cryptography), never from our encoder. Built against the committed
// AesKeyTbData.cpp whatever table the plug-in is configured with.
//
// Working material of record 51/0: stored bytes of AesKeyTb's {51u, 0u}
// record taken in AesKeyTbOrder (working[i] = stored[order[i]]):
//   81B48CCAF39FBF11DBD1F724ED1F639025C57BEE
// W=81b48ccaf39fbf11dbd1f724ed1f639025c57bee
// K=$(printf %s "${W:0:20}" | xxd -r -p | openssl dgst -sha256 -r | cut -c1-64)
//   = 1e04d639423fd16f3e2bde2c82760a386082485d3177896f1be2ec29f9beb8b8
// IV=$(printf %s "${W:20:20}" | xxd -r -p | openssl dgst -sha256 -r | cut -c1-32)
//   = 754fc8c9e6f623bb6ad5cf32a09f5657
// Each plaintext padded by hand (1..16 bytes of value count-1), then
//   ... | openssl enc -aes-256-cbc -nopad -K $K -iv $IV | xxd -p -u
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QVCrypto.h"

using namespace R2740_SECURITY_NS;

namespace {

cf::StringRef S(const std::string& s) { return cf::String::create(s); }

std::string Encrypted(const std::string& text) {
  const auto hex = QVCFStringEncodeWithEncrypt(S(text), 51, 0);
  return hex ? hex->utf8() : "<null>";
}

std::string Decrypted(const std::string& hex) {
  const auto text = QVCFStringDecodeWithDecrypt(S(hex), 51, 0);
  return text ? text->utf8() : "<null>";
}

}  // namespace

// printf %s "$T" | xxd -p -u
TEST(TicketGolden, HexNames) {
  const struct {
    const char* text;
    const char* hex;
  } names[] = {
      {"abc", "616263"},
      {"", ""},
      {"\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E", "E5B1B1E794B0E5A4AAE9838E"},  // a Japanese name
  };
  for (const auto& n : names) {
    const auto hex = QVCFStringEncode(S(n.text));
    ASSERT_TRUE(hex) << n.hex;
    EXPECT_EQ(hex->utf8(), n.hex);
    const auto back = QVCFStringDecode(S(n.hex));
    ASSERT_TRUE(back) << n.hex;
    EXPECT_EQ(back->utf8(), n.text);
  }
}

TEST(TicketGolden, PasswordsOfOneTwoAndThreeBlocks) {
  const struct {
    const char* text;
    const char* hex;
  } passwords[] = {
      // printf 'abc'; 13 x \x0c
      {"abc", "9F2E9B5A2ECF6708416D0ACE0FFB2364"},
      // nothing; 16 x \x0f
      {"", "CFA0A147B9451785E3EF4DF017D9164A"},
      // printf '0123456789ABCDEF'; 16 x \x0f
      {"0123456789ABCDEF", "3F8D81FB3C6F15A896716B7D07C8BB0EA293009A751FA57C2DAD4B6307B52354"},
      // 33 UTF-8 bytes; 15 x \x0e
      {"\xE6\x9A\x97\xE5\x8F\xB7\xE5\x8C\x96\xE3\x81\x95\xE3\x82\x8C\xE3\x81\x9F\xE3\x83\x91\xE3\x82\xB9\xE3\x83"
       "\xAF\xE3\x83\xBC\xE3\x83\x89",
       "1B1085775CAB222D653AEAF30A6A61608B9C5525419CE136E36FE6594781D256C8F28EF05C2741468EF59D0CADCE0D56"},
  };
  for (const auto& p : passwords) {
    EXPECT_EQ(Encrypted(p.text), p.hex);
    EXPECT_EQ(Decrypted(p.hex), p.text);
  }
}

// A last byte of 16 claims more padding than one block holds. Two blocks
// are needed to see it: in one block the count also exceeds the length.
// 31 x 'a', then \x10, -nopad.
TEST(TicketGolden, PaddingCountOf16IsUndecodable) {
  const std::string hex = "948009DD3196A8CB5138D6D2F38D54882568EA912B68BAE08BFDE88C9E979508";
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(hex), 51, 0), nullptr);

  std::vector<unsigned char> raw;
  for (size_t i = 0; i < hex.size(); i += 2)
    raw.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  const auto copy = raw;
  int out = -7;
  EXPECT_EQ(AesDecryption(raw.data(), 32, AesDefaultKeyMaterial, &out, 51, 0), -1);
  EXPECT_EQ(raw, copy);
  EXPECT_EQ(out, -7);
}
