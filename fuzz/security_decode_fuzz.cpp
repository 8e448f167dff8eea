// The security plug-in's decoders: the digit-pair decoder, the hex decoder
// and the decrypting decoder. The first byte picks the key.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "QVCrypto.h"

namespace sec = R2740_SECURITY_NS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Bytes in(data, size);
  const uint8_t pick = in.byte();
  const std::string text = in.rest();

  // Exactly length digits, nothing after them, and exactly the room the
  // decoder is documented to need.
  std::vector<char> hex(text.begin(), text.end());
  const int length = static_cast<int>(hex.size());
  std::vector<unsigned char> out(length < 1 ? 1 : static_cast<size_t>((length - 1) / 2 + 2));
  if (sec::QVCStringDecodeMFP(hex.data(), out.data(), length) != (length < 1 ? 0 : (length - 1) / 2 + 1)) abort();

  auto s = cf::String::createWithBytes(text.data(), text.size(), cf::kCFStringEncodingUTF8);
  if (!s) return 0;
  // The hex form is canonical: what decodes encodes back to the same text.
  if (auto plain = sec::QVCFStringDecode(s)) {
    auto again = sec::QVCFStringEncode(plain);
    if (!again || again->utf8() != text) abort();
  }
  static const uint32_t keys[] = {sec::kQVPanelKeyID, 0, 1, 53, 255, 54, 0xFFFFFFFFu};
  const uint32_t keyID = keys[pick % (sizeof keys / sizeof keys[0])];
  const uint32_t subID = (pick >> 4) & 3;
  if (auto plain = sec::QVCFStringDecodeWithDecrypt(s, keyID, subID)) {
    if (plain->utf8().size() > sec::kQVMaxCipherBytes) abort();
  }
  return 0;
}
