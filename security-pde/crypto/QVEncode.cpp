// Ticket encoders: hex of UTF-8, and hex of the AES-256-CBC ciphertext.
#include <cstring>
#include <string>

#include "AesKeyTbInternal.h"
#include "QVCrypto.h"

namespace R2740_SECURITY_NS {
namespace {

// The widest hex text the plain decoder reads: the encoder's largest output.
constexpr size_t kMaxPlainHex = 2 * kQVMaxPlainBytes;
// The decrypting decoder reads up to 1023 characters of hex text.
constexpr size_t kMaxCipherHexText = 1023;
// Working buffers: the largest plaintext, its padding and a NUL.
constexpr size_t kWorkBuffer = 257;

void Wipe(void* p, size_t n) {
  volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
  while (n--) *v++ = 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Strict reader for stored ticket texts: even length, uppercase digits only.
bool ReadHex(const std::string& hex, size_t maxChars, std::string& bytes) {
  if (hex.size() > maxChars || hex.size() % 2 != 0) return false;
  bytes.clear();
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexValue(hex[i]);
    const int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

cf::StringRef HexText(const unsigned char* bytes, size_t length) {
  std::string out(2 * length + 1, '\0');
  QVCStringEncodeMFP(bytes, out.data(), static_cast<int>(length));
  out.resize(2 * length);
  return cf::String::createWithBytes(out.data(), out.size(), cf::kCFStringEncodingASCII);
}

cf::StringRef Utf8String(const void* bytes, size_t length) {
  static const char kEmpty = '\0';
  return cf::String::createWithBytes(length ? bytes : &kEmpty, length, cf::kCFStringEncodingUTF8);
}

}  // namespace

// ---------------------------------------------------------------------------

int QVCStringEncodeMFP(const unsigned char* bytes, char* out, int length) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (bytes == nullptr || out == nullptr || length < 0) return 0;
  for (int i = 0; i < length; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  out[2 * length] = '\0';
  return 2 * length;
}

int QVCStringDecodeMFP(const char* hex, unsigned char* out, int length) {
  if (hex == nullptr || out == nullptr) return 0;
  if (length < 1) {
    out[0] = 0;
    return 0;
  }
  auto digit = [](char c) { return c < 'A' ? c - '0' : c - 'A' + 10; };
  const int count = ((length - 1) / 2) + 1;
  for (int i = 0; i < count; ++i) {
    const int hi = digit(hex[2 * i]);
    const int lo = 2 * i + 1 < length ? digit(hex[2 * i + 1]) : 0;
    out[i] = static_cast<unsigned char>(hi * 16 + lo);
  }
  out[count] = 0;
  return count;
}

// ---------------------------------------------------------------------------

void AesSelectKeyMaterial(uint32_t keyID, uint32_t subID, const unsigned char* defaultMaterial,
                          unsigned char out[kAesKeyMaterialSize]) {
  if (out == nullptr) return;
  if (keyID == 0) {
    std::memcpy(out, defaultMaterial ? defaultMaterial : AesDefaultKeyMaterial, kAesKeyMaterialSize);
    return;
  }
  size_t end = 0;
  while (AesKeyTb[end].keyID != kAesKeyTbEndID) ++end;

  const AesKeyTbRecord* chosen = &AesKeyTb[end];
  size_t i = 0;
  while (i < end && AesKeyTb[i].keyID != keyID) ++i;
  if (i < end) {
    if (subID == 0) {
      chosen = &AesKeyTb[i];
    } else {
      for (; i < end && AesKeyTb[i].keyID == keyID; ++i) {
        if (AesKeyTb[i].subID == subID) {
          chosen = &AesKeyTb[i];
          break;
        }
      }
    }
  }
  for (size_t k = 0; k < kAesKeyMaterialSize; ++k) out[k] = chosen->material[AesKeyTbOrder[k]];
}

int AesEncryption(unsigned char* data, int length, int noPadding, const unsigned char* defaultMaterial,
                  int* outLength, uint32_t keyID, uint32_t subID) {
  unsigned char material[kAesKeyMaterialSize];
  AesSelectKeyMaterial(keyID, subID, defaultMaterial, material);
  const int rc = QV_MES_AES_CBC_EncryptWord(data, length, noPadding, material, outLength);
  Wipe(material, sizeof material);
  return rc;
}

int AesDecryption(unsigned char* data, int length, const unsigned char* defaultMaterial, int* outLength,
                  uint32_t keyID, uint32_t subID) {
  unsigned char material[kAesKeyMaterialSize];
  AesSelectKeyMaterial(keyID, subID, defaultMaterial, material);
  const int rc = QV_MES_AES_CBC_DecryptWord(data, length, material, outLength);
  Wipe(material, sizeof material);
  return rc;
}

// ---------------------------------------------------------------------------

cf::StringRef QVCFStringEncode(const cf::StringRef& text) {
  if (!text) return nullptr;
  const std::string& utf8 = text->utf8();
  if (utf8.size() > kQVMaxPlainBytes) return nullptr;
  return HexText(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
}

cf::StringRef QVCFStringDecode(const cf::StringRef& hex) {
  if (!hex) return nullptr;
  std::string bytes;
  if (!ReadHex(hex->utf8(), kMaxPlainHex, bytes)) return nullptr;
  return Utf8String(bytes.data(), bytes.size());
}

cf::StringRef QVCFStringEncodeWithEncrypt(const cf::StringRef& text, uint32_t keyID, uint32_t subID) {
  if (!text) return nullptr;
  const std::string& utf8 = text->utf8();
  if (utf8.size() > kQVMaxPlainBytes) return nullptr;
  unsigned char buf[kWorkBuffer] = {};
  std::memcpy(buf, utf8.data(), utf8.size());
  int outLength = 0;
  cf::StringRef result;
  if (AesEncryption(buf, static_cast<int>(utf8.size()), 0, AesDefaultKeyMaterial, &outLength, keyID, subID) == 0)
    result = HexText(buf, static_cast<size_t>(outLength));
  Wipe(buf, sizeof buf);
  return result;
}

cf::StringRef QVCFStringDecodeWithDecrypt(const cf::StringRef& hex, uint32_t keyID, uint32_t subID) {
  if (!hex) return nullptr;
  std::string cipher;
  if (!ReadHex(hex->utf8(), kMaxCipherHexText, cipher)) return nullptr;
  if (cipher.size() > kQVMaxCipherBytes) return nullptr;
  if (cipher.empty()) return Utf8String(nullptr, 0);

  unsigned char buf[kWorkBuffer] = {};
  std::memcpy(buf, cipher.data(), cipher.size());
  Wipe(cipher.data(), cipher.size());
  int plainLength = 0;
  cf::StringRef result;
  if (AesDecryption(buf, static_cast<int>(cipher.size()), AesDefaultKeyMaterial, &plainLength, keyID, subID) ==
      0) {
    const void* plus = std::memchr(buf, '+', static_cast<size_t>(plainLength));
    const size_t length = plus ? static_cast<size_t>(static_cast<const unsigned char*>(plus) - buf)
                               : static_cast<size_t>(plainLength);
    result = Utf8String(buf, length);
  }
  Wipe(buf, sizeof buf);
  return result;
}

}  // namespace R2740_SECURITY_NS
