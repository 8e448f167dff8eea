// Credential encoding for the job ticket: names travel as uppercase hex of
// their UTF-8 bytes, passwords as uppercase hex of an AES-256-CBC ciphertext.
// The printer driver and the printer read these entries, so every byte of
// the transformation is a wire format.
//
// All routines are reentrant except QV_MES_SHA256 with a null digest.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SecurityNamespace.h"
#include "cf/cf.h"

namespace R2740_SECURITY_NS {

// ---------------------------------------------------------------------------
// String level. Null in, or anything that cannot be encoded/decoded: null out.

// Longest UTF-8 form accepted by the encoders (bytes).
inline constexpr size_t kQVMaxPlainBytes = 255;
// Longest ciphertext the decrypting decoder accepts (bytes).
inline constexpr size_t kQVMaxCipherBytes = 256;

// Text -> hex of its UTF-8 bytes; null when the UTF-8 form exceeds 255 bytes.
cf::StringRef QVCFStringEncode(const cf::StringRef& text);
// Uppercase hex -> string read as UTF-8; null for odd length, a non-hex or
// lowercase digit, more than 255 bytes, or bytes that are not UTF-8.
cf::StringRef QVCFStringDecode(const cf::StringRef& hex);
// Text -> hex of AES-256-CBC(padded UTF-8) with the key table's material for
// (keyID, subID); null when the UTF-8 form exceeds 255 bytes.
cf::StringRef QVCFStringEncodeWithEncrypt(const cf::StringRef& text, uint32_t keyID, uint32_t subID);
// Inverse of QVCFStringEncodeWithEncrypt. The plaintext ends before its
// first '+', else at its unpadded length. Null for a hex text that cannot be
// read, a ciphertext over 256 bytes or not a whole number of blocks, a bad
// padding byte, or a plaintext that is not UTF-8.
cf::StringRef QVCFStringDecodeWithDecrypt(const cf::StringRef& hex, uint32_t keyID, uint32_t subID);

// ---------------------------------------------------------------------------
// Byte level.

// Writes 2*length uppercase hex digits and a NUL into out (room for
// 2*length+1); returns 2*length, 0 for a null argument or negative length.
int QVCStringEncodeMFP(const unsigned char* bytes, char* out, int length);
// Decodes `length` hex characters in digit pairs: a digit below 'A' counts
// as digit-'0', from 'A' on as digit-'A'+10 (so only uppercase reads right).
// Writes ((length-1)/2)+1 bytes and a NUL (room for that count + 1) and
// returns the count; a lone last digit is the high nibble. A length below 1
// writes only the NUL and returns 0. Never reads past hex[length-1].
int QVCStringDecodeMFP(const char* hex, unsigned char* out, int length);

// ---------------------------------------------------------------------------
// Key table. Each record's material is stored scrambled; the working order
// is restored at run time.

inline constexpr size_t kAesKeyMaterialSize = 20;
inline constexpr uint32_t kAesKeyTbEndID = 0xFFFFFFFFu;

struct AesKeyTbRecord {
  uint32_t keyID;
  uint32_t subID;
  unsigned char material[kAesKeyMaterialSize];  // scrambled order
};

// 99 records (identifiers 1..53 and 255), then the end record (keyID
// 0xFFFFFFFF) whose material is the fallback.
extern const AesKeyTbRecord AesKeyTb[];
// The default key material block: 20 ASCII decimal digits and a NUL. Used
// as the material when the key identifier is 0.
extern const unsigned char AesDefaultKeyMaterial[kAesKeyMaterialSize + 1];

// Key identifier and sub-identifier the security panel encrypts with.
inline constexpr uint32_t kQVPanelKeyID = 51;
inline constexpr uint32_t kQVPanelSubID = 0;

// Selects the working material for (keyID, subID): identifier 0 takes the
// first 20 bytes of defaultMaterial (null: AesDefaultKeyMaterial); an
// unknown identifier or sub-identifier takes the end record's material.
void AesSelectKeyMaterial(uint32_t keyID, uint32_t subID, const unsigned char* defaultMaterial,
                          unsigned char out[kAesKeyMaterialSize]);

// Encrypts data[0..length) in place with the selected material. Unless
// noPadding, 1..16 bytes are added (each = count added - 1), so data must
// have room for (length/16)*16+16 bytes. Returns 0, or -1 for a bad argument
// (noPadding with a length not a multiple of 16).
int AesEncryption(unsigned char* data, int length, int noPadding, const unsigned char* defaultMaterial,
                  int* outLength, uint32_t keyID, uint32_t subID);
// Decrypts data[0..length) in place and strips the padding. Returns 0, or
// -1 (data untouched) for a length that is not a positive multiple of 16 or
// padding that is not 1 to 16 bytes each holding the count minus one.
int AesDecryption(unsigned char* data, int length, const unsigned char* defaultMaterial, int* outLength,
                  uint32_t keyID, uint32_t subID);

// ---------------------------------------------------------------------------
// AES-256-CBC with key and IV derived from 20 bytes of material:
// key = SHA-256(material[0..10)), IV = SHA-256(material[10..20))[0..16).

int QV_MES_AES_CBC_EncryptWord(unsigned char* data, int length, int noPadding,
                               const unsigned char material[kAesKeyMaterialSize], int* outLength);
int QV_MES_AES_CBC_DecryptWord(unsigned char* data, int length, const unsigned char material[kAesKeyMaterialSize],
                               int* outLength);
// Same return rules as AesEncryption / AesDecryption.
int QV_MES_AES_CBC_Encrypt(unsigned char* data, int length, int noPadding, const unsigned char key[32],
                           const unsigned char iv[16], int* outLength);
int QV_MES_AES_CBC_Decrypt(unsigned char* data, int length, const unsigned char key[32], const unsigned char iv[16],
                           int* outLength);

// ---------------------------------------------------------------------------
// AES block cipher (FIPS-197), table driven.

struct QV_MES_AES_KEY {
  uint32_t rounds;   // 10, 12 or 14
  uint32_t nk;       // key words: 4, 6 or 8
  uint32_t rk[60];   // expanded schedule
};

// Key expansion for 16, 24 or 32 key bytes: 0; any other size: 1 (state unset).
int QV_MES_AES_set_key(QV_MES_AES_KEY* state, const unsigned char* key, int keyBytes);
// Encryption schedule -> equivalent decryption schedule.
void QV_MES_AES_convert_key(QV_MES_AES_KEY* state);
// One block as four big-endian words, in place.
void QV_MES_AES_encrypt(const QV_MES_AES_KEY* state, uint32_t block[4]);
void QV_MES_AES_decrypt(const QV_MES_AES_KEY* state, uint32_t block[4]);

using QV_MES_AES_BlockFunc = void (*)(const QV_MES_AES_KEY*, uint32_t*);
// CBC over whole 16-byte blocks (a trailing partial block is left alone);
// in and out may be the same buffer. iv is updated to the last ciphertext block.
void QV_MES_AES_cbc_encrypt_com(const QV_MES_AES_KEY* state, const unsigned char* in, unsigned char* out,
                                size_t length, unsigned char iv[16], QV_MES_AES_BlockFunc block);
void QV_MES_AES_cbc_decrypt_com(const QV_MES_AES_KEY* state, const unsigned char* in, unsigned char* out,
                                size_t length, unsigned char iv[16], QV_MES_AES_BlockFunc block);

// ---------------------------------------------------------------------------
// SHA-256 (FIPS 180-2).

struct QV_MES_SHA256_CTX;
using QV_MES_SHA256_BlockFunc = void (*)(QV_MES_SHA256_CTX*, const unsigned char* block64);

struct QV_MES_SHA256_CTX {
  uint32_t h[8];
  uint64_t bitCount;
  unsigned char buf[64];
  uint32_t bufLen;
  QV_MES_SHA256_BlockFunc blockFunc;
};

// The standard compression function over one 64-byte block.
void sha256_block(QV_MES_SHA256_CTX* ctx, const unsigned char* block64);

void QV_MES_SHA256_Init(QV_MES_SHA256_CTX* ctx);
// Replaces the block function (null restores sha256_block).
void QV_MES_SHA256_Setup(QV_MES_SHA256_CTX* ctx, QV_MES_SHA256_BlockFunc blockFunc);
void QV_MES_SHA256_Update(QV_MES_SHA256_CTX* ctx, const void* data, size_t length);
void QV_MES_SHA256_Final(unsigned char digest[32], QV_MES_SHA256_CTX* ctx);
// One shot; a null digest writes into one shared static buffer. Returns the
// digest pointer.
unsigned char* QV_MES_SHA256(const void* data, size_t length, unsigned char* digest);

}  // namespace R2740_SECURITY_NS
