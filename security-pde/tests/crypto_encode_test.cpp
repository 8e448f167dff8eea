// Ticket encoders and the key table, checked against an OpenSSL rendering of
// the wire format.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "QVCrypto.h"

using namespace R2740_SECURITY_NS;

namespace {

std::string Upper(const std::vector<unsigned char>& v) {
  static const char d[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char b : v) s += {d[b >> 4], d[b & 15]};
  return s;
}

std::vector<unsigned char> FromHex(const std::string& s) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return out;
}

struct KeyIV {
  unsigned char key[32];
  unsigned char iv[16];
};

// The key and IV the printer derives, computed with OpenSSL.
KeyIV Derive(uint32_t keyID, uint32_t subID) {
  unsigned char m[kAesKeyMaterialSize];
  AesSelectKeyMaterial(keyID, subID, nullptr, m);
  KeyIV k;
  SHA256(m, 10, k.key);
  unsigned char d[32];
  SHA256(m + 10, 10, d);
  std::memcpy(k.iv, d, 16);
  return k;
}

std::vector<unsigned char> Cbc(bool encrypt, const KeyIV& k, const std::vector<unsigned char>& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::vector<unsigned char> out(in.size() + 16);
  int n = 0, m = 0;
  EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, k.key, k.iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + m));
  return out;
}

// What the printer expects for a text: padded per the ticket rule, then
// AES-256-CBC, then uppercase hex.
std::string Reference(const std::string& utf8, uint32_t keyID, uint32_t subID) {
  std::vector<unsigned char> p(utf8.begin(), utf8.end());
  const size_t total = (p.size() / 16) * 16 + 16;
  p.resize(total, static_cast<unsigned char>(total - utf8.size() - 1));
  return Upper(Cbc(true, Derive(keyID, subID), p));
}

// A ciphertext of the given raw plaintext blocks (no padding added).
std::string RawCipher(const std::vector<unsigned char>& plain) { return Upper(Cbc(true, Derive(51, 0), plain)); }

cf::StringRef S(const std::string& s) { return cf::String::create(s); }

}  // namespace

TEST(PlainEncoding, HexOfUtf8AndBack) {
  EXPECT_EQ(QVCFStringEncode(S("abc"))->utf8(), "616263");
  EXPECT_EQ(QVCFStringEncode(S(""))->utf8(), "");
  EXPECT_EQ(QVCFStringEncode(S("\xC3\xA9\xE6\xBC\xA2"))->utf8(), "C3A9E6BCA2");
  EXPECT_EQ(QVCFStringDecode(S("616263"))->utf8(), "abc");
  EXPECT_EQ(QVCFStringDecode(S(""))->utf8(), "");
  EXPECT_EQ(QVCFStringEncode(nullptr), nullptr);
  EXPECT_EQ(QVCFStringDecode(nullptr), nullptr);

  // Longest text both ways: 255 UTF-8 bytes (85 three-byte characters).
  std::string longest;
  for (int i = 0; i < 85; ++i) longest += "\xE6\xBC\xA2";
  const auto hex = QVCFStringEncode(S(longest));
  ASSERT_TRUE(hex);
  EXPECT_EQ(hex->utf8().size(), 510u);
  ASSERT_TRUE(QVCFStringDecode(hex));
  EXPECT_EQ(QVCFStringDecode(hex)->utf8(), longest);
  EXPECT_EQ(QVCFStringEncode(S(std::string(256, 'a'))), nullptr);

  // Unreadable hex texts: odd length, non-hex, lowercase, too long, not UTF-8.
  EXPECT_EQ(QVCFStringDecode(S("616")), nullptr);
  EXPECT_EQ(QVCFStringDecode(S("61G3")), nullptr);
  EXPECT_EQ(QVCFStringDecode(S("6a")), nullptr);
  EXPECT_EQ(QVCFStringDecode(S(std::string(512, '4'))), nullptr);
  EXPECT_EQ(QVCFStringDecode(S("C3")), nullptr);
  EXPECT_EQ(QVCFStringDecode(S("\xC3\xA9" "1")), nullptr);
}

TEST(PlainEncoding, ByteLevelDigitPairs) {
  unsigned char out[8];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(QVCStringDecodeMFP("4A", out, 2), 1);
  EXPECT_EQ(out[0], 0x4A);
  EXPECT_EQ(out[1], 0);
  QVCStringDecodeMFP("4a", out, 2);
  EXPECT_NE(out[0], 0x4A);
  // A lone last digit is read without looking past the given length.
  const std::unique_ptr<char[]> odd(new char[3]{'1', '2', '3'});
  EXPECT_EQ(QVCStringDecodeMFP(odd.get(), out, 3), 2);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0x30);
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(QVCStringDecodeMFP("", out, 0), 0);
  EXPECT_EQ(out[0], 0);

  const unsigned char bytes[] = {0x00, 0x9F, 0xFF};
  char hex[7];
  EXPECT_EQ(QVCStringEncodeMFP(bytes, hex, 3), 6);
  EXPECT_STREQ(hex, "009FFF");
  EXPECT_EQ(QVCStringEncodeMFP(nullptr, hex, 3), 0);
}

TEST(KeyTable, FormAndSelection) {
  size_t n = 0;
  std::set<uint32_t> ids;
  while (AesKeyTb[n].keyID != kAesKeyTbEndID) ids.insert(AesKeyTb[n++].keyID);
  EXPECT_EQ(n, 99u);
  EXPECT_EQ(ids.size(), 54u);
  EXPECT_EQ(*ids.begin(), 1u);
  EXPECT_TRUE(ids.count(53) && ids.count(255) && ids.count(51));

  unsigned char a[20], b[20];
  // Identifier 0 takes the caller's block as it is.
  const unsigned char custom[21] = "98765432109876543210";
  AesSelectKeyMaterial(0, 0, custom, a);
  EXPECT_EQ(std::memcmp(a, custom, 20), 0);
  AesSelectKeyMaterial(0, 0, nullptr, a);
  EXPECT_EQ(std::memcmp(a, AesDefaultKeyMaterial, 20), 0);
  // Unknown identifiers and sub-identifiers fall back to the end record.
  AesSelectKeyMaterial(9999, 0, nullptr, a);
  AesSelectKeyMaterial(51, 77, nullptr, b);
  EXPECT_EQ(std::memcmp(a, b, 20), 0);
  AesSelectKeyMaterial(51, 0, nullptr, b);
  EXPECT_NE(std::memcmp(a, b, 20), 0);
  // The stored bytes are not the working bytes.
  size_t i = 0;
  while (AesKeyTb[i].keyID != 51) ++i;
  EXPECT_NE(std::memcmp(AesKeyTb[i].material, b, 20), 0);
}

// Encrypted texts match an independent OpenSSL rendering of the format, and
// decrypt back (up to a '+').
TEST(EncryptedEncoding, MatchesReferenceAndRoundTrips) {
  std::mt19937 rng(51);
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const size_t len = rng() % 256;
    for (size_t i = 0; i < len; ++i) text += static_cast<char>(0x20 + rng() % 0x5F);
    const uint32_t keyID = round % 3 == 0 ? 51 : rng() % 300;
    const uint32_t subID = rng() % 3;
    const auto hex = QVCFStringEncodeWithEncrypt(S(text), keyID, subID);
    ASSERT_TRUE(hex);
    ASSERT_EQ(hex->utf8(), Reference(text, keyID, subID)) << round;
    const auto back = QVCFStringDecodeWithDecrypt(hex, keyID, subID);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->utf8(), text.substr(0, text.find('+'))) << round;
  }
  const std::string kanji = "\xE6\xBC\xA2\xE5\xAD\x97";
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(QVCFStringEncodeWithEncrypt(S(kanji), 51, 0), 51, 0)->utf8(), kanji);
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(QVCFStringEncodeWithEncrypt(S("abc+def+g"), 51, 0), 51, 0)->utf8(), "abc");
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(QVCFStringEncodeWithEncrypt(S("+x"), 51, 0), 51, 0)->utf8(), "");
  EXPECT_EQ(QVCFStringEncodeWithEncrypt(S(std::string(256, 'p')), 51, 0), nullptr);
  EXPECT_EQ(QVCFStringEncodeWithEncrypt(nullptr, 51, 0), nullptr);
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(""), 51, 0)->utf8(), "");
}

TEST(EncryptedEncoding, PaddingRule) {
  const KeyIV k = Derive(51, 0);
  auto plain = [&](const std::string& hex) { return Cbc(false, k, FromHex(hex)); };

  auto five = plain(QVCFStringEncodeWithEncrypt(S("abcde"), 51, 0)->utf8());
  ASSERT_EQ(five.size(), 16u);
  EXPECT_EQ(std::string(five.begin(), five.begin() + 5), "abcde");
  EXPECT_EQ(std::vector<unsigned char>(five.begin() + 5, five.end()), std::vector<unsigned char>(11, 10));

  const auto hex16 = QVCFStringEncodeWithEncrypt(S("0123456789ABCDEF"), 51, 0)->utf8();
  EXPECT_EQ(hex16.size(), 64u);
  auto sixteen = plain(hex16);
  EXPECT_EQ(std::vector<unsigned char>(sixteen.begin() + 16, sixteen.end()), std::vector<unsigned char>(16, 15));

  EXPECT_EQ(plain(QVCFStringEncodeWithEncrypt(S(""), 51, 0)->utf8()), std::vector<unsigned char>(16, 15));
  EXPECT_EQ(QVCFStringEncodeWithEncrypt(S(std::string(255, 'x')), 51, 0)->utf8().size(), 512u);

  // In place at byte level: the buffer gets the padded length.
  unsigned char buf[32] = {'a', 'b', 'c'};
  int out = 0;
  ASSERT_EQ(AesEncryption(buf, 3, 0, AesDefaultKeyMaterial, &out, 51, 0), 0);
  EXPECT_EQ(out, 16);
  ASSERT_EQ(AesDecryption(buf, 16, AesDefaultKeyMaterial, &out, 51, 0), 0);
  EXPECT_EQ(out, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
  for (int i = 3; i < 16; ++i) EXPECT_EQ(buf[i], 0) << i;
}

// Corrupt ciphertexts decode to null and never touch memory outside their
// buffers (run under AddressSanitizer).
TEST(EncryptedEncoding, CorruptCiphertexts) {
  const std::string good = QVCFStringEncodeWithEncrypt(S("secret"), 51, 0)->utf8();
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(good.substr(1)), 51, 0), nullptr);             // odd length
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(good.substr(0, 30)), 51, 0), nullptr);         // partial block
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S("Z" + good.substr(1)), 51, 0), nullptr);       // non-hex
  std::string lower = good;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower != good) {
    EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(lower), 51, 0), nullptr);  // lowercase
  }
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(std::string(544, 'A')), 51, 0), nullptr);      // 272 bytes
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(std::string(1024, 'A')), 51, 0), nullptr);     // over 1023 chars
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S("\xC3\xA9\xC3\xA9"), 51, 0), nullptr);         // not ASCII

  // 256 bytes is the largest ciphertext read.
  std::vector<unsigned char> full(256, 'q');
  full.back() = 15;
  std::fill(full.end() - 16, full.end(), 15);
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(RawCipher(full)), 51, 0)->utf8(), std::string(240, 'q'));

  // Padding counts: above 15, or more than the data; added bytes that do
  // not all carry the count (what decrypting with another key leaves).
  std::vector<unsigned char> block(16, 'a');
  block.back() = 16;
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(RawCipher(block)), 51, 0), nullptr);
  block.back() = 200;
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(RawCipher(block)), 51, 0), nullptr);
  block.back() = 15;
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(RawCipher(block)), 51, 0), nullptr);
  block[14] = 1;
  block.back() = 1;
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(RawCipher(block)), 51, 0)->utf8(), std::string(14, 'a'));
  block.back() = 0;
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(RawCipher(block)), 51, 0)->utf8(), std::string(14, 'a') + "\x01");
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(RawCipher(std::vector<unsigned char>(16, 15))), 51, 0)->utf8(), "");
  // Passwords written with other keys of the table do not decrypt.
  for (uint32_t other : {1u, 50u, 52u, 255u}) {
    auto foreign = QVCFStringEncodeWithEncrypt(S("pass1234"), other, 0);
    ASSERT_TRUE(foreign);
    EXPECT_EQ(QVCFStringDecodeWithDecrypt(foreign, 51, 0), nullptr) << other;
  }
  // A plaintext that is not UTF-8.
  std::vector<unsigned char> bad(16, 0xFF);
  bad.back() = 3;
  EXPECT_EQ(QVCFStringDecodeWithDecrypt(S(RawCipher(bad)), 51, 0), nullptr);

  // A failed decryption leaves the caller's buffer as it was.
  auto raw = FromHex(RawCipher(std::vector<unsigned char>(32, 0xC8)));
  const auto copy = raw;
  int out = -7;
  EXPECT_EQ(AesDecryption(raw.data(), 32, AesDefaultKeyMaterial, &out, 51, 0), -1);
  EXPECT_EQ(raw, copy);
  EXPECT_EQ(out, -7);
  EXPECT_EQ(AesDecryption(raw.data(), 0, AesDefaultKeyMaterial, &out, 51, 0), -1);
  EXPECT_EQ(AesDecryption(raw.data(), 17, AesDefaultKeyMaterial, &out, 51, 0), -1);

  // Random garbage of every block count: null or a string, never a fault.
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    std::vector<unsigned char> junk(16 * (1 + rng() % 16));
    for (auto& b : junk) b = static_cast<unsigned char>(rng());
    const auto r = QVCFStringDecodeWithDecrypt(S(Upper(junk)), 51, 0);
    if (r) {
      EXPECT_LE(r->utf8().size(), 255u);
    }
  }
}
