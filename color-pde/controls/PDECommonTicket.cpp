// The colour values in the print settings: a model dictionary under the
// model key holding one queue dictionary per queue (PPD keyword -> choice),
// and a flat copy of the current queue's pairs at the top level.
#include <new>
#include <vector>

#include "PDECommon.h"

namespace R2740_COLOR_NS {

cf::StringRef PDECommon::commonGetPPDProductName(pm::PMPrintSettings) { return cf::str(R2740_MODEL_KEY); }

cf::StringRef PDECommon::commonGetPrintQueueName(pm::PMPrintSession session) {
  pm::PMPrinter printer = nullptr;
  if (!session || pm::PMSessionGetCurrentPrinter(session, &printer) != pm::noErr || !printer) return nullptr;
  return pm::PMPrinterGetID(printer);
}

cf::DictionaryRef PDECommon::commonGetModelDictionary(pm::PMPrintSettings settings, pm::PMPrintSession session) {
  if (!settings) return nullptr;
  auto modelKey = commonGetPPDProductName(settings);
  auto queue = commonGetPrintQueueName(session);

  cf::Ref model;
  if (pm::PMPrintSettingsGetValue(settings, modelKey, &model) != pm::noErr || !model) {
    (void)pm::PMPrintSettingsSetValue(settings, modelKey, cf::Dictionary::create(), false);  // settings not null
    model = nullptr;
    pm::PMPrintSettingsGetValue(settings, modelKey, &model);
  }
  auto modelDict = cf::As<cf::Dictionary>(model);
  // A model entry of another type is someone else's: leave it alone.
  if (!modelDict || !queue || queue->empty()) return nullptr;
  if (!modelDict->contains(queue->utf8())) modelDict->setValue(queue->utf8(), cf::Dictionary::create());
  return commonCFDictionaryGetValueWithType(modelDict, queue);
}

cf::DictionaryRef PDECommon::commonCFDictionaryGetValueWithType(const cf::Ref& dict, const cf::Ref& key) {
  auto d = cf::As<cf::Dictionary>(dict);
  if (!d || d->empty() || !key) return nullptr;
  return cf::As<cf::Dictionary>(d->getValue(key));
}

bool PDECommon::commonCFTypeIsValid(const cf::Ref& object, cf::TypeID type) { return cf::IsType(object, type); }

OSStatus PDECommon::commonCFDictionaryMapToTicket(pm::PMPrintSettings settings, const cf::DictionaryRef& dict) {
  if (!settings || !dict) return pm::paramErr;
  std::vector<std::pair<cf::StringRef, cf::Ref>> pairs;
  try {
    pairs.reserve(dict->count());
  } catch (const std::bad_alloc&) {
    return pm::memFullErr;
  }
  dict->forEach([&](const cf::Ref& key, const cf::Ref& value) {
    if (auto k = cf::As<cf::String>(key)) pairs.emplace_back(k, value);
  });
  // The flat copy never replaces the model dictionary it comes from.
  const std::string modelKey = R2740_MODEL_KEY;
  for (const auto& [key, value] : pairs) {
    if (key->utf8() == modelKey) continue;
    (void)pm::PMPrintSettingsSetValue(settings, key, value, false);  // an empty key is skipped
  }
  return pm::noErr;
}

OSStatus PDECommon::commonSyncTicketFromPane(pm::PMPrintSettings settings, pm::PMPrintSession session,
                                             PDEControlTable table) {
  auto dict = commonGetModelDictionary(settings, session);
  if (!dict) return pm::noErr;
  for (PDEControlRecord* row = table; row && row->control; ++row) {
    if (!row->ppdKey || !*row->ppdKey || !row->choices) continue;
    int32_t index = commonGetControlValueFromPPDWithSInt32(row);
    auto count = static_cast<int16_t>(row->choices->count());
    if (index >= 0 && index < count) {
      auto entry = row->choices->at<cf::Array>(static_cast<size_t>(index));
      auto option = entry ? entry->at<cf::String>(0) : nullptr;
      auto choice = entry ? entry->at<cf::String>(2) : nullptr;
      if (option && choice) dict->setValue(option->utf8(), choice);
      commonSetTicketAddedProfileFlag(row, dict, cf::str("False"));
    } else if (index >= count && count > 0) {
      commonSetTicketAddedProfile(row, dict, static_cast<int16_t>(index + 1 - count));
      commonSetTicketAddedProfileFlag(row, dict, cf::str("True"));
    }
  }
  return commonCFDictionaryMapToTicket(settings, dict);
}

OSStatus PDECommon::commonSyncPaneFromTicket(pm::PMPrintSettings settings, pm::PMPrintSession session,
                                             PDEControlTable table) {
  auto dict = commonGetModelDictionary(settings, session);
  if (!dict) return pm::noErr;
  for (PDEControlRecord* row = table; row && row->control; ++row) {
    if (!row->ppdKey || !*row->ppdKey || !row->choices) continue;
    bool hasValue = false;
    int32_t value = -1;
    // Null for a row that is not profile-typed.
    auto flag = commonGetTicketAddedProfileFlag(row, dict);
    if (flag && flag->utf8() == "True") {
      int16_t number = commonGetTicketAddedProfile(row, dict);
      hasValue = true;
      value = number < 1 ? commonGetDefualtValueFromPPDWithSInt32(row)
                         : static_cast<int32_t>(row->choices->count()) + number - 1;
    } else {
      auto key = cf::String::createWithCString(row->ppdKey, cf::kCFStringEncodingUTF8);
      cf::Ref entry = key ? dict->getValue(key->utf8()) : nullptr;
      if (!entry) {
        hasValue = true;
        value = commonGetDefualtValueFromPPDWithSInt32(row);
      } else if (cf::IsType(entry, cf::kStringTypeID)) {
        hasValue = true;
        value = commonGetTicketValueWithSInt32(row, key, entry);
      }
    }
    if (hasValue && value != -1) commonSetControlValueWithSInt32(row, value);
  }
  return commonCFDictionaryMapToTicket(settings, dict);
}

}  // namespace R2740_COLOR_NS
