// SHA-256 with a replaceable block function.
#include <algorithm>
#include <cstring>

#include "QVCrypto.h"

namespace R2740_SECURITY_NS {
namespace {

constexpr uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Wipe(void* p, size_t n) {
  volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
  while (n--) *v++ = 0;
}

unsigned char gStaticDigest[32];

}  // namespace

void sha256_block(QV_MES_SHA256_CTX* ctx, const unsigned char* p) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = (uint32_t{p[4 * i]} << 24) | (uint32_t{p[4 * i + 1]} << 16) | (uint32_t{p[4 * i + 2]} << 8) |
           uint32_t{p[4 * i + 3]};
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = ctx->h[0], b = ctx->h[1], c = ctx->h[2], d = ctx->h[3];
  uint32_t e = ctx->h[4], f = ctx->h[5], g = ctx->h[6], h = ctx->h[7];
  for (int i = 0; i < 64; ++i) {
    const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kK[i] + w[i];
    const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
  }
  ctx->h[0] += a, ctx->h[1] += b, ctx->h[2] += c, ctx->h[3] += d;
  ctx->h[4] += e, ctx->h[5] += f, ctx->h[6] += g, ctx->h[7] += h;
  Wipe(w, sizeof w);
}

void QV_MES_SHA256_Init(QV_MES_SHA256_CTX* ctx) {
  if (ctx == nullptr) return;
  std::memcpy(ctx->h, kInit, sizeof kInit);
  ctx->bitCount = 0;
  std::memset(ctx->buf, 0, sizeof ctx->buf);
  ctx->bufLen = 0;
  ctx->blockFunc = sha256_block;
}

void QV_MES_SHA256_Setup(QV_MES_SHA256_CTX* ctx, QV_MES_SHA256_BlockFunc blockFunc) {
  if (ctx == nullptr) return;
  ctx->blockFunc = blockFunc ? blockFunc : sha256_block;
}

void QV_MES_SHA256_Update(QV_MES_SHA256_CTX* ctx, const void* data, size_t length) {
  if (ctx == nullptr || (data == nullptr && length != 0)) return;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  ctx->bitCount += static_cast<uint64_t>(length) * 8;
  if (ctx->bufLen) {
    const size_t take = std::min<size_t>(64 - ctx->bufLen, length);
    std::memcpy(ctx->buf + ctx->bufLen, p, take);
    ctx->bufLen += static_cast<uint32_t>(take);
    p += take;
    length -= take;
    if (ctx->bufLen < 64) return;
    ctx->blockFunc(ctx, ctx->buf);
    ctx->bufLen = 0;
  }
  for (; length >= 64; p += 64, length -= 64) ctx->blockFunc(ctx, p);
  if (length) {
    std::memcpy(ctx->buf, p, length);
    ctx->bufLen = static_cast<uint32_t>(length);
  }
}

void QV_MES_SHA256_Final(unsigned char digest[32], QV_MES_SHA256_CTX* ctx) {
  if (ctx == nullptr) return;
  const uint64_t bits = ctx->bitCount;
  ctx->buf[ctx->bufLen++] = 0x80;
  if (ctx->bufLen > 56) {
    std::memset(ctx->buf + ctx->bufLen, 0, 64 - ctx->bufLen);
    ctx->blockFunc(ctx, ctx->buf);
    ctx->bufLen = 0;
  }
  std::memset(ctx->buf + ctx->bufLen, 0, 56 - ctx->bufLen);
  for (int i = 0; i < 8; ++i) ctx->buf[56 + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  ctx->blockFunc(ctx, ctx->buf);
  ctx->bufLen = 0;
  if (digest == nullptr) return;
  for (int i = 0; i < 8; ++i) {
    digest[4 * i] = static_cast<unsigned char>(ctx->h[i] >> 24);
    digest[4 * i + 1] = static_cast<unsigned char>(ctx->h[i] >> 16);
    digest[4 * i + 2] = static_cast<unsigned char>(ctx->h[i] >> 8);
    digest[4 * i + 3] = static_cast<unsigned char>(ctx->h[i]);
  }
}

unsigned char* QV_MES_SHA256(const void* data, size_t length, unsigned char* digest) {
  if (digest == nullptr) digest = gStaticDigest;
  QV_MES_SHA256_CTX ctx;
  QV_MES_SHA256_Init(&ctx);
  QV_MES_SHA256_Update(&ctx, data, length);
  QV_MES_SHA256_Final(digest, &ctx);
  Wipe(&ctx, sizeof ctx);
  return digest;
}

}  // namespace R2740_SECURITY_NS
