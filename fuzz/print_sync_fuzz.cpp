// The colour panes' sync with the print settings over arbitrary value
// trees: the input decodes into a dictionary of nested dictionaries,
// arrays, strings, numbers, booleans and data that becomes the print
// settings; then pane-from-ticket and ticket-from-pane run on the real
// control table.
#include <vector>

#include "ColorFuzzSupport.h"

namespace {

std::vector<std::string>& KnownKeys() {
  static std::vector<std::string> keys;
  return keys;
}

std::string Text(fuzz::Bytes& in) {
  const uint8_t b = in.byte();
  const auto& keys = KnownKeys();
  if (b < 0xC0 && !keys.empty()) return keys[b % keys.size()];
  static const char* const words[] = {"True", "False", "", "1", "-1", "None", "Manual", "Custom"};
  if (b < 0xE0) return words[b % 8];
  return in.str(40);
}

cf::Ref Value(fuzz::Bytes& in, int depth);

cf::DictionaryRef Dict(fuzz::Bytes& in, int depth) {
  auto d = cf::Dictionary::create();
  for (int n = in.byte() % 8; n > 0 && !in.empty(); --n) {
    std::string key = Text(in);
    d->setValue(key, Value(in, depth + 1));
  }
  return d;
}

cf::Ref Value(fuzz::Bytes& in, int depth) {
  const uint8_t kind = in.byte() % 8;
  switch (depth > 4 && kind < 2 ? 2 : kind) {
    case 0: return Dict(in, depth);
    case 1: {
      auto a = cf::Array::create();
      for (int n = in.byte() % 6; n > 0 && !in.empty(); --n) a->append(Value(in, depth + 1));
      return a;
    }
    case 2:
    case 3: {
      std::string t = Text(in);
      auto s = cf::String::createWithBytes(t.data(), t.size(), cf::kCFStringEncodingUTF8);
      return s ? cf::Ref(s) : cf::Ref(cf::String::createWithBytes(t.data(), t.size(), cf::kCFStringEncodingISOLatin1));
    }
    case 4: return cf::Number::create(static_cast<int32_t>(in.u32()));
    case 5: return cf::Number::createReal(static_cast<int32_t>(in.u32()) / 7.0);
    case 6: return cf::Boolean::create(in.byte() & 1);
    default: return cf::Data::create(in.str(16));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::Panes* panes = [] {
    fuzz::WriteSampleProfileFile();
    auto* p = new fuzz::Panes;
    fuzz::color::PDECommon::commonAddMenuFromProfilePlist(p->compTable);
    auto& keys = KnownKeys();
    keys = {R2740_MODEL_KEY, p->printer.id()};
    for (auto* row = p->compTable; row->kind != kControlKindEnd; ++row) {
      if (!row->ppdKey || !*row->ppdKey) continue;
      keys.push_back(row->ppdKey);
      keys.push_back(std::string(row->ppdKey) + "Custom");
      keys.push_back(std::string(row->ppdKey) + "CustomFilename");
    }
    return p;
  }();
  fuzz::Bytes in(data, size);
  panes->settings.loadDictionary(Dict(in, 0));
  fuzz::color::PDECommon::commonSyncPaneFromTicket(&panes->settings, &panes->session, panes->compTable);
  fuzz::color::PDECommon::commonSyncTicketFromPane(&panes->settings, &panes->session, panes->compTable);
  return 0;
}
