// AES, CBC and SHA-256: published vectors, then random inputs against OpenSSL.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <random>
#include <string>
#include <vector>

#include "QVCrypto.h"

using namespace R2740_SECURITY_NS;

namespace {

std::vector<unsigned char> Hex(const std::string& s) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const unsigned char* p, size_t n) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += {d[p[i] >> 4], d[p[i] & 15]};
  return s;
}

void BlockToWords(const unsigned char* b, uint32_t w[4]) {
  for (int i = 0; i < 4; ++i)
    w[i] = (uint32_t{b[4 * i]} << 24) | (uint32_t{b[4 * i + 1]} << 16) | (uint32_t{b[4 * i + 2]} << 8) | b[4 * i + 3];
}

std::string WordsHex(const uint32_t w[4]) {
  unsigned char b[16];
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) b[4 * i + k] = static_cast<unsigned char>(w[i] >> (24 - 8 * k));
  return ToHex(b, 16);
}

std::vector<unsigned char> OpenSSLCbc(bool encrypt, const unsigned char* key, const unsigned char* iv,
                                      const std::vector<unsigned char>& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::vector<unsigned char> out(in.size() + 16);
  int n = 0, m = 0;
  EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + m));
  return out;
}

}  // namespace

// FIPS-197 appendix C: one block with 128-, 192- and 256-bit keys, both ways.
TEST(AesBlock, Fips197AppendixC) {
  const auto plain = Hex("00112233445566778899aabbccddeeff");
  struct {
    int bytes;
    const char* cipher;
  } cases[] = {{16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
               {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
               {32, "8ea2b7ca516745bfeafc49904b496089"}};
  for (const auto& c : cases) {
    std::vector<unsigned char> key(static_cast<size_t>(c.bytes));
    for (int i = 0; i < c.bytes; ++i) key[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
    QV_MES_AES_KEY ks;
    ASSERT_EQ(QV_MES_AES_set_key(&ks, key.data(), c.bytes), 0);
    EXPECT_EQ(ks.rounds, static_cast<uint32_t>(c.bytes / 4 + 6));
    EXPECT_EQ(ks.nk, static_cast<uint32_t>(c.bytes / 4));
    uint32_t w[4];
    BlockToWords(plain.data(), w);
    QV_MES_AES_encrypt(&ks, w);
    EXPECT_EQ(WordsHex(w), c.cipher) << c.bytes;
    QV_MES_AES_convert_key(&ks);
    QV_MES_AES_decrypt(&ks, w);
    EXPECT_EQ(WordsHex(w), ToHex(plain.data(), 16)) << c.bytes;
  }
  QV_MES_AES_KEY ks{};
  ks.rounds = 99;
  const unsigned char key[33] = {};
  EXPECT_EQ(QV_MES_AES_set_key(&ks, key, 20), 1);
  EXPECT_EQ(QV_MES_AES_set_key(&ks, key, 33), 1);
  EXPECT_EQ(ks.rounds, 99u);
}

// SP 800-38A F.2.5 / F.2.6, through the raw CBC routine without padding.
TEST(AesCbc, Sp80038aCbcAes256) {
  const auto key = Hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const auto iv = Hex("000102030405060708090a0b0c0d0e0f");
  const std::string plain =
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
  const std::string cipher =
      "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
      "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";
  auto buf = Hex(plain);
  int outLength = -1;
  ASSERT_EQ(QV_MES_AES_CBC_Encrypt(buf.data(), 64, 1, key.data(), iv.data(), &outLength), 0);
  EXPECT_EQ(outLength, 64);
  EXPECT_EQ(ToHex(buf.data(), 64), cipher);

  // Decryption through the chaining routine, updating the IV block by block.
  QV_MES_AES_KEY ks;
  QV_MES_AES_set_key(&ks, key.data(), 32);
  QV_MES_AES_convert_key(&ks);
  unsigned char chain[16];
  std::copy(iv.begin(), iv.end(), chain);
  std::vector<unsigned char> out(64);
  QV_MES_AES_cbc_decrypt_com(&ks, buf.data(), out.data(), 32, chain, QV_MES_AES_decrypt);
  EXPECT_EQ(ToHex(chain, 16), cipher.substr(32, 32));
  QV_MES_AES_cbc_decrypt_com(&ks, buf.data() + 32, out.data() + 32, 32, chain, QV_MES_AES_decrypt);
  EXPECT_EQ(ToHex(out.data(), 64), plain);

  // Without padding a partial block is refused rather than left in clear.
  auto odd = Hex(plain);
  EXPECT_EQ(QV_MES_AES_CBC_Encrypt(odd.data(), 20, 1, key.data(), iv.data(), &outLength), -1);
  EXPECT_EQ(ToHex(odd.data(), 64), plain);
}

TEST(Sha256, Fips1802Vectors) {
  unsigned char d[32];
  QV_MES_SHA256("abc", 3, d);
  EXPECT_EQ(ToHex(d, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string m448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  QV_MES_SHA256(m448.data(), m448.size(), d);
  EXPECT_EQ(ToHex(d, 32), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

  // One million 'a' fed in uneven pieces.
  QV_MES_SHA256_CTX ctx;
  QV_MES_SHA256_Init(&ctx);
  const std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left) {
    const size_t n = std::min(left, chunk.size());
    QV_MES_SHA256_Update(&ctx, chunk.data(), n);
    left -= n;
  }
  QV_MES_SHA256_Final(d, &ctx);
  EXPECT_EQ(ToHex(d, 32), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

  QV_MES_SHA256("", 0, d);
  EXPECT_EQ(ToHex(d, 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // A null digest lands in the shared buffer, which is returned.
  const unsigned char* shared = QV_MES_SHA256("abc", 3, nullptr);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(ToHex(shared, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

namespace {
int gBlocks = 0;
void CountingBlock(QV_MES_SHA256_CTX* ctx, const unsigned char* block) {
  ++gBlocks;
  sha256_block(ctx, block);
}
}  // namespace

TEST(Sha256, SetupReplacesBlockFunction) {
  QV_MES_SHA256_CTX ctx;
  QV_MES_SHA256_Init(&ctx);
  QV_MES_SHA256_Setup(&ctx, CountingBlock);
  gBlocks = 0;
  const std::string m(100, 'x');  // 100 bytes + padding: two blocks
  QV_MES_SHA256_Update(&ctx, m.data(), m.size());
  unsigned char d[32], ref[32];
  QV_MES_SHA256_Final(d, &ctx);
  EXPECT_EQ(gBlocks, 2);
  SHA256(reinterpret_cast<const unsigned char*>(m.data()), m.size(), ref);
  EXPECT_EQ(ToHex(d, 32), ToHex(ref, 32));
}

// Random keys, IVs, data and split points against OpenSSL.
TEST(Differential, AesCbcAndSha256AgainstOpenSSL) {
  std::mt19937 rng(2740);
  auto bytes = [&rng](size_t n) {
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
  };
  for (int round = 0; round < 300; ++round) {
    const auto key = bytes(32);
    const auto iv = bytes(16);
    const size_t blocks = 1 + rng() % 32;
    const auto plain = bytes(16 * blocks);

    auto ours = plain;
    int outLength = -1;
    ASSERT_EQ(QV_MES_AES_CBC_Encrypt(ours.data(), static_cast<int>(ours.size()), 1, key.data(), iv.data(),
                                     &outLength),
              0);
    ASSERT_EQ(outLength, static_cast<int>(plain.size()));
    ASSERT_EQ(ours, OpenSSLCbc(true, key.data(), iv.data(), plain)) << round;

    // Our padded encryption equals OpenSSL's raw CBC over our padding rule.
    const size_t len = rng() % 256;
    auto text = bytes(len);
    std::vector<unsigned char> padded(text);
    const size_t total = (len / 16) * 16 + 16;
    padded.resize(total, static_cast<unsigned char>(total - len - 1));
    text.resize(total + 1);
    ASSERT_EQ(QV_MES_AES_CBC_Encrypt(text.data(), static_cast<int>(len), 0, key.data(), iv.data(), &outLength), 0);
    ASSERT_EQ(outLength, static_cast<int>(total));
    text.resize(total);
    const auto expected = OpenSSLCbc(true, key.data(), iv.data(), padded);
    ASSERT_EQ(text, expected) << round;
    ASSERT_EQ(QV_MES_AES_CBC_Decrypt(text.data(), static_cast<int>(total), key.data(), iv.data(), &outLength), 0);
    ASSERT_EQ(outLength, static_cast<int>(len));
    ASSERT_TRUE(std::equal(text.begin(), text.begin() + static_cast<long>(len), padded.begin()));

    // SHA-256 over a random length, fed in two random pieces.
    const auto msg = bytes(rng() % 700);
    const size_t cut = msg.empty() ? 0 : rng() % msg.size();
    QV_MES_SHA256_CTX ctx;
    QV_MES_SHA256_Init(&ctx);
    QV_MES_SHA256_Update(&ctx, msg.data(), cut);
    QV_MES_SHA256_Update(&ctx, msg.data() + cut, msg.size() - cut);
    unsigned char d[32], ref[32];
    QV_MES_SHA256_Final(d, &ctx);
    SHA256(msg.data(), msg.size(), ref);
    ASSERT_EQ(ToHex(d, 32), ToHex(ref, 32)) << msg.size();
  }
}

// Every added byte must hold the count: a last block that differs from the
// rule in any one added byte, not only the last, is refused and the buffer
// left as it was. OpenSSL makes the ciphertexts from chosen plaintexts.
TEST(AesCbc, PaddingThatDiffersAnywhereIsRefused) {
  std::mt19937 rng(27402);
  std::vector<unsigned char> key(32), iv(16);
  for (auto& b : key) b = static_cast<unsigned char>(rng());
  for (auto& b : iv) b = static_cast<unsigned char>(rng());
  for (int added = 1; added <= 16; ++added) {
    std::vector<unsigned char> plain(32);
    for (auto& b : plain) b = static_cast<unsigned char>('a' + rng() % 26);
    std::fill(plain.end() - added, plain.end(), static_cast<unsigned char>(added - 1));
    auto good = OpenSSLCbc(true, key.data(), iv.data(), plain);
    int outLength = -1;
    ASSERT_EQ(QV_MES_AES_CBC_Decrypt(good.data(), 32, key.data(), iv.data(), &outLength), 0) << added;
    EXPECT_EQ(32 - added, outLength);
    // The count byte itself stays; each other added byte is changed in turn.
    for (int at = 32 - added; at < 31; ++at) {
      auto bad = plain;
      bad[at] ^= static_cast<unsigned char>(1 + rng() % 255);
      auto cipher = OpenSSLCbc(true, key.data(), iv.data(), bad);
      const auto before = cipher;
      EXPECT_EQ(QV_MES_AES_CBC_Decrypt(cipher.data(), 32, key.data(), iv.data(), &outLength), -1)
          << added << " added, byte " << at << " differs";
      EXPECT_EQ(before, cipher);
    }
  }
}
