// AES block cipher and CBC chaining. The S-box and the round tables are
// computed at compile time from the field arithmetic, so no table here is
// typed in by hand.
#include <array>
#include <cstring>

#include "QVCrypto.h"

namespace R2740_SECURITY_NS {
namespace {

constexpr uint8_t XTime(uint8_t a) { return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0x00)); }

constexpr uint8_t GMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return r;
}

constexpr uint8_t Rotl8(uint8_t x, int s) { return static_cast<uint8_t>((x << s) | (x >> (8 - s))); }

constexpr std::array<uint8_t, 256> MakeSBox() {
  std::array<uint8_t, 256> s{};
  for (int x = 0; x < 256; ++x) {
    // Multiplicative inverse as x^254; 0 maps to 0.
    uint8_t inv = 1;
    uint8_t base = static_cast<uint8_t>(x);
    for (int e = 254; e; e >>= 1) {
      if (e & 1) inv = GMul(inv, base);
      base = GMul(base, base);
    }
    if (x == 0) inv = 0;
    s[x] = static_cast<uint8_t>(inv ^ Rotl8(inv, 1) ^ Rotl8(inv, 2) ^ Rotl8(inv, 3) ^ Rotl8(inv, 4) ^ 0x63);
  }
  return s;
}

constexpr std::array<uint8_t, 256> kSBox = MakeSBox();

constexpr std::array<uint8_t, 256> MakeInvSBox() {
  std::array<uint8_t, 256> s{};
  for (int x = 0; x < 256; ++x) s[kSBox[x]] = static_cast<uint8_t>(x);
  return s;
}

constexpr std::array<uint8_t, 256> kInvSBox = MakeInvSBox();

constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | uint32_t{b3};
}

constexpr uint32_t Ror(uint32_t x, int s) { return s == 0 ? x : (x >> s) | (x << (32 - s)); }

using Table = std::array<uint32_t, 256>;

// Te[0][x] = column (2s, s, s, 3s) of MixColumns after SubBytes; the other
// three tables are byte rotations of it.
constexpr std::array<Table, 4> MakeTe() {
  std::array<Table, 4> t{};
  for (int x = 0; x < 256; ++x) {
    uint8_t s = kSBox[x];
    uint32_t w = Word(GMul(s, 2), s, s, GMul(s, 3));
    for (int i = 0; i < 4; ++i) t[i][x] = Ror(w, 8 * i);
  }
  return t;
}

constexpr std::array<Table, 4> MakeTd() {
  std::array<Table, 4> t{};
  for (int x = 0; x < 256; ++x) {
    uint8_t s = kInvSBox[x];
    uint32_t w = Word(GMul(s, 14), GMul(s, 9), GMul(s, 13), GMul(s, 11));
    for (int i = 0; i < 4; ++i) t[i][x] = Ror(w, 8 * i);
  }
  return t;
}

constexpr std::array<Table, 4> kTe = MakeTe();
constexpr std::array<Table, 4> kTd = MakeTd();

constexpr uint8_t B(uint32_t w, int i) { return static_cast<uint8_t>(w >> (24 - 8 * i)); }

uint32_t SubWord(uint32_t w) { return Word(kSBox[B(w, 0)], kSBox[B(w, 1)], kSBox[B(w, 2)], kSBox[B(w, 3)]); }

// InvMixColumns of one word, through the decryption tables: Td[i][S[b]]
// is InvMixColumns of b in position i.
uint32_t InvMixWord(uint32_t w) {
  return kTd[0][kSBox[B(w, 0)]] ^ kTd[1][kSBox[B(w, 1)]] ^ kTd[2][kSBox[B(w, 2)]] ^ kTd[3][kSBox[B(w, 3)]];
}

uint32_t LoadBE(const unsigned char* p) { return Word(p[0], p[1], p[2], p[3]); }

void StoreBE(unsigned char* p, uint32_t w) {
  p[0] = B(w, 0);
  p[1] = B(w, 1);
  p[2] = B(w, 2);
  p[3] = B(w, 3);
}

}  // namespace

int QV_MES_AES_set_key(QV_MES_AES_KEY* state, const unsigned char* key, int keyBytes) {
  if (state == nullptr || key == nullptr) return 1;
  if (keyBytes != 16 && keyBytes != 24 && keyBytes != 32) return 1;
  const uint32_t nk = static_cast<uint32_t>(keyBytes / 4);
  const uint32_t rounds = nk + 6;
  const uint32_t total = 4 * (rounds + 1);
  uint32_t* rk = state->rk;
  for (uint32_t i = 0; i < nk; ++i) rk[i] = LoadBE(key + 4 * i);
  uint8_t rcon = 1;
  for (uint32_t i = nk; i < total; ++i) {
    uint32_t t = rk[i - 1];
    if (i % nk == 0) {
      t = SubWord((t << 8) | (t >> 24)) ^ (uint32_t{rcon} << 24);
      rcon = XTime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      t = SubWord(t);
    }
    rk[i] = rk[i - nk] ^ t;
  }
  for (uint32_t i = total; i < 60; ++i) rk[i] = 0;
  state->rounds = rounds;
  state->nk = nk;
  return 0;
}

void QV_MES_AES_convert_key(QV_MES_AES_KEY* state) {
  if (state == nullptr) return;
  for (uint32_t i = 4; i < 4 * state->rounds; ++i) state->rk[i] = InvMixWord(state->rk[i]);
}

void QV_MES_AES_encrypt(const QV_MES_AES_KEY* state, uint32_t block[4]) {
  const uint32_t* rk = state->rk;
  uint32_t s0 = block[0] ^ rk[0], s1 = block[1] ^ rk[1], s2 = block[2] ^ rk[2], s3 = block[3] ^ rk[3];
  for (uint32_t r = 1; r < state->rounds; ++r) {
    rk += 4;
    uint32_t t0 = kTe[0][B(s0, 0)] ^ kTe[1][B(s1, 1)] ^ kTe[2][B(s2, 2)] ^ kTe[3][B(s3, 3)] ^ rk[0];
    uint32_t t1 = kTe[0][B(s1, 0)] ^ kTe[1][B(s2, 1)] ^ kTe[2][B(s3, 2)] ^ kTe[3][B(s0, 3)] ^ rk[1];
    uint32_t t2 = kTe[0][B(s2, 0)] ^ kTe[1][B(s3, 1)] ^ kTe[2][B(s0, 2)] ^ kTe[3][B(s1, 3)] ^ rk[2];
    uint32_t t3 = kTe[0][B(s3, 0)] ^ kTe[1][B(s0, 1)] ^ kTe[2][B(s1, 2)] ^ kTe[3][B(s2, 3)] ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  block[0] = Word(kSBox[B(s0, 0)], kSBox[B(s1, 1)], kSBox[B(s2, 2)], kSBox[B(s3, 3)]) ^ rk[0];
  block[1] = Word(kSBox[B(s1, 0)], kSBox[B(s2, 1)], kSBox[B(s3, 2)], kSBox[B(s0, 3)]) ^ rk[1];
  block[2] = Word(kSBox[B(s2, 0)], kSBox[B(s3, 1)], kSBox[B(s0, 2)], kSBox[B(s1, 3)]) ^ rk[2];
  block[3] = Word(kSBox[B(s3, 0)], kSBox[B(s0, 1)], kSBox[B(s1, 2)], kSBox[B(s2, 3)]) ^ rk[3];
}

// Equivalent inverse cipher: round keys from the last to the first, the
// middle ones already passed through InvMixColumns by convert_key.
void QV_MES_AES_decrypt(const QV_MES_AES_KEY* state, uint32_t block[4]) {
  const uint32_t* rk = state->rk + 4 * state->rounds;
  uint32_t s0 = block[0] ^ rk[0], s1 = block[1] ^ rk[1], s2 = block[2] ^ rk[2], s3 = block[3] ^ rk[3];
  for (uint32_t r = 1; r < state->rounds; ++r) {
    rk -= 4;
    uint32_t t0 = kTd[0][B(s0, 0)] ^ kTd[1][B(s3, 1)] ^ kTd[2][B(s2, 2)] ^ kTd[3][B(s1, 3)] ^ rk[0];
    uint32_t t1 = kTd[0][B(s1, 0)] ^ kTd[1][B(s0, 1)] ^ kTd[2][B(s3, 2)] ^ kTd[3][B(s2, 3)] ^ rk[1];
    uint32_t t2 = kTd[0][B(s2, 0)] ^ kTd[1][B(s1, 1)] ^ kTd[2][B(s0, 2)] ^ kTd[3][B(s3, 3)] ^ rk[2];
    uint32_t t3 = kTd[0][B(s3, 0)] ^ kTd[1][B(s2, 1)] ^ kTd[2][B(s1, 2)] ^ kTd[3][B(s0, 3)] ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk -= 4;
  block[0] = Word(kInvSBox[B(s0, 0)], kInvSBox[B(s3, 1)], kInvSBox[B(s2, 2)], kInvSBox[B(s1, 3)]) ^ rk[0];
  block[1] = Word(kInvSBox[B(s1, 0)], kInvSBox[B(s0, 1)], kInvSBox[B(s3, 2)], kInvSBox[B(s2, 3)]) ^ rk[1];
  block[2] = Word(kInvSBox[B(s2, 0)], kInvSBox[B(s1, 1)], kInvSBox[B(s0, 2)], kInvSBox[B(s3, 3)]) ^ rk[2];
  block[3] = Word(kInvSBox[B(s3, 0)], kInvSBox[B(s2, 1)], kInvSBox[B(s1, 2)], kInvSBox[B(s0, 3)]) ^ rk[3];
}

void QV_MES_AES_cbc_encrypt_com(const QV_MES_AES_KEY* state, const unsigned char* in, unsigned char* out,
                                size_t length, unsigned char iv[16], QV_MES_AES_BlockFunc block) {
  if (state == nullptr || in == nullptr || out == nullptr || iv == nullptr || block == nullptr) return;
  for (size_t off = 0; off + 16 <= length; off += 16) {
    uint32_t w[4];
    for (int i = 0; i < 4; ++i) w[i] = LoadBE(in + off + 4 * i) ^ LoadBE(iv + 4 * i);
    block(state, w);
    for (int i = 0; i < 4; ++i) StoreBE(out + off + 4 * i, w[i]);
    std::memcpy(iv, out + off, 16);
  }
}

void QV_MES_AES_cbc_decrypt_com(const QV_MES_AES_KEY* state, const unsigned char* in, unsigned char* out,
                                size_t length, unsigned char iv[16], QV_MES_AES_BlockFunc block) {
  if (state == nullptr || in == nullptr || out == nullptr || iv == nullptr || block == nullptr) return;
  for (size_t off = 0; off + 16 <= length; off += 16) {
    unsigned char cipher[16];
    std::memcpy(cipher, in + off, 16);
    uint32_t w[4];
    for (int i = 0; i < 4; ++i) w[i] = LoadBE(cipher + 4 * i);
    block(state, w);
    for (int i = 0; i < 4; ++i) StoreBE(out + off + 4 * i, w[i] ^ LoadBE(iv + 4 * i));
    std::memcpy(iv, cipher, 16);
  }
}

namespace {

void Wipe(void* p, size_t n) {
  volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
  while (n--) *v++ = 0;
}

}  // namespace

int QV_MES_AES_CBC_Encrypt(unsigned char* data, int length, int noPadding, const unsigned char key[32],
                           const unsigned char iv[16], int* outLength) {
  if (data == nullptr || key == nullptr || iv == nullptr || length < 0) return -1;
  int padded = length;
  if (!noPadding) {
    padded = (length / 16) * 16 + 16;
    const int added = padded - length;
    std::memset(data + length, added - 1, static_cast<size_t>(added));
  } else if (length % 16 != 0) {
    // A partial last block would go out in the clear.
    return -1;
  }
  QV_MES_AES_KEY ks;
  QV_MES_AES_set_key(&ks, key, 32);
  unsigned char chain[16];
  std::memcpy(chain, iv, 16);
  QV_MES_AES_cbc_encrypt_com(&ks, data, data, static_cast<size_t>(padded), chain, QV_MES_AES_encrypt);
  Wipe(&ks, sizeof ks);
  if (outLength) *outLength = padded;
  return 0;
}

int QV_MES_AES_CBC_Decrypt(unsigned char* data, int length, const unsigned char key[32], const unsigned char iv[16],
                           int* outLength) {
  if (data == nullptr || key == nullptr || iv == nullptr || length <= 0 || length % 16 != 0) return -1;
  QV_MES_AES_KEY ks;
  QV_MES_AES_set_key(&ks, key, 32);
  QV_MES_AES_convert_key(&ks);

  // Check the padding count on a copy of the last block first, so that a
  // corrupt ciphertext leaves the caller's buffer as it was.
  unsigned char last[16];
  unsigned char lastIV[16];
  std::memcpy(lastIV, length == 16 ? iv : data + length - 32, 16);
  QV_MES_AES_cbc_decrypt_com(&ks, data + length - 16, last, 16, lastIV, QV_MES_AES_decrypt);
  const int pad = last[15];
  // Every added byte carries the count: a text decrypted with another key
  // seldom passes, so it is not taken for a password.
  bool padded = pad <= 15;
  for (int i = 15 - pad; padded && i < 15; ++i) padded = last[i] == pad;
  Wipe(last, sizeof last);
  if (!padded || pad + 1 > length) {
    Wipe(&ks, sizeof ks);
    return -1;
  }

  unsigned char chain[16];
  std::memcpy(chain, iv, 16);
  QV_MES_AES_cbc_decrypt_com(&ks, data, data, static_cast<size_t>(length), chain, QV_MES_AES_decrypt);
  Wipe(&ks, sizeof ks);
  std::memset(data + length - (pad + 1), 0, static_cast<size_t>(pad + 1));
  if (outLength) *outLength = length - pad - 1;
  return 0;
}

namespace {

void DeriveKeyIV(const unsigned char material[kAesKeyMaterialSize], unsigned char key[32], unsigned char iv[16]) {
  QV_MES_SHA256(material, 10, key);
  unsigned char digest[32];
  QV_MES_SHA256(material + 10, 10, digest);
  std::memcpy(iv, digest, 16);
  Wipe(digest, sizeof digest);
}

}  // namespace

int QV_MES_AES_CBC_EncryptWord(unsigned char* data, int length, int noPadding,
                               const unsigned char material[kAesKeyMaterialSize], int* outLength) {
  if (material == nullptr) return -1;
  unsigned char key[32], iv[16];
  DeriveKeyIV(material, key, iv);
  const int rc = QV_MES_AES_CBC_Encrypt(data, length, noPadding, key, iv, outLength);
  Wipe(key, sizeof key);
  Wipe(iv, sizeof iv);
  return rc;
}

int QV_MES_AES_CBC_DecryptWord(unsigned char* data, int length, const unsigned char material[kAesKeyMaterialSize],
                               int* outLength) {
  if (material == nullptr) return -1;
  unsigned char key[32], iv[16];
  DeriveKeyIV(material, key, iv);
  const int rc = QV_MES_AES_CBC_Decrypt(data, length, key, iv, outLength);
  Wipe(key, sizeof key);
  Wipe(iv, sizeof iv);
  return rc;
}

}  // namespace R2740_SECURITY_NS
