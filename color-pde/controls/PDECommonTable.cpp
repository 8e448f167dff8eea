// Control table services: PPD keywords of a table, the choice lists of PPD
// options, the conflict test and the compound table.
#include <cups/array.h>

#include <cstring>
#include <string>

#include "PDECommon.h"
#include "PPDText.h"

namespace R2740_COLOR_NS {

namespace {
bool IsEnd(const PDEControlRecord& row) { return row.kind == kControlKindEnd; }
}  // namespace

OSStatus PDECommon::commonAddPPDArray(const cf::ArrayRef& array, PDEControlTable table) {
  if (!array) return pm::paramErr;
  OSStatus status = pm::noErr;
  if (!table) return status;
  for (PDEControlRecord* row = table; row->control; ++row) {
    if (!row->ppdKey || !*row->ppdKey) continue;
    auto key = cf::String::createWithCString(row->ppdKey, cf::kCFStringEncodingASCII);
    if (key)
      array->append(key);
    else
      status = pm::paramErr;
  }
  return status;
}

OSStatus PDECommon::commonGetPPDArrayForUIOption(ppd_file_t* ppd, const char* key, cf::ArrayRef* array) {
  if (!ppd || !key || !ppdFindOption(ppd, key)) return pm::kPMPPDOptionNotFound;
  if (!array) return pm::paramErr;
  *array = cf::Array::create();
  if (!*array) return pm::kPMCreateMessageFailed;
  int16_t count = 0;
  commonGetUIListFromPPD(ppd, key, *array, &count);
  return pm::noErr;
}

namespace {

bool OptionTakesPartInConstraints(ppd_file_t* ppd, const char* keyword) {
  // Constraints given as cupsUIConstraints attributes are not in consts:
  // with any of them, test every option the long way.
  if (ppdFindAttr(ppd, "cupsUIConstraints", nullptr)) return true;
  for (int i = 0; i < ppd->num_consts; ++i) {
    const ppd_const_t& c = ppd->consts[i];
    if (std::strcmp(c.option1, keyword) == 0 || std::strcmp(c.option2, keyword) == 0) return true;
  }
  return false;
}

// `constrained`: whether any constraint can name the option. An option no
// constraint names can never be flagged; skipping the mark-and-recompute
// keeps building the choice lists cheap.
bool ChoiceConflicted(ppd_file_t* ppd, ppd_option_t* option, ppd_choice_t* tested, bool constrained) {
  if (tested->marked) return option->conflicted != 0;
  if (!constrained) return false;

  const char* optionKey = option->keyword;
  ppd_choice_t* previous = ppdFindMarkedChoice(ppd, optionKey);
  // ppdMarkOption may hand back or reuse the choice strings; keep a copy.
  std::string previousKey = previous ? previous->choice : "";
  ppdMarkOption(ppd, optionKey, tested->choice);
  bool conflicted = option->conflicted != 0;
  if (previous) {
    ppdMarkOption(ppd, optionKey, previousKey.c_str());
  } else {
    tested->marked = 0;
    cupsArrayRemove(ppd->marked, tested);
    ppdConflicts(ppd);  // the flags again as they were before the test
  }
  return conflicted;
}

}  // namespace

OSStatus PDECommon::commonGetUIListFromPPD(ppd_file_t* ppd, const char* key, const cf::ArrayRef& array,
                                           int16_t* count) {
  if (!array || !ppd || !key) return pm::noErr;
  ppd_option_t* option = ppdFindOption(ppd, key);
  if (!option || option->num_choices <= 0 || !option->choices) return pm::noErr;
  // Every entry of the option shares its keyword and default (strings never change).
  const bool constrained = OptionTakesPartInConstraints(ppd, option->keyword);
  const cf::StringRef keyword = PPDText(ppd, option->keyword);
  const cf::StringRef defchoice = PPDText(ppd, option->defchoice);
  for (int i = 0; i < option->num_choices; ++i) {
    ppd_choice_t& choice = option->choices[i];
    bool conflicted = ChoiceConflicted(ppd, option, &choice, constrained);
    array->append(cf::Array::create({keyword, defchoice, PPDText(ppd, choice.choice), PPDText(ppd, choice.text),
                                     cf::str(conflicted ? "ConflictTrue" : "ConflictFalse")}));
    if (count) ++*count;
  }
  return pm::noErr;
}

bool PDECommon::commonIsPPDChoiceConflicted(ppd_file_t* ppd, const char* optionKey, const char* choiceKey) {
  if (!ppd || !optionKey || !choiceKey) return false;
  ppd_option_t* option = ppdFindOption(ppd, optionKey);
  if (!option) return false;
  ppd_choice_t* tested = ppdFindChoice(option, choiceKey);
  if (!tested) return false;
  return ChoiceConflicted(ppd, option, tested, tested->marked || OptionTakesPartInConstraints(ppd, optionKey));
}

int32_t PDECommon::commonFindPPDKeyPairsMatch(const cf::ArrayRef& choices, const cf::StringRef& option,
                                              const cf::StringRef& choice) {
  if (!choices || !option || !choice) return -1;
  for (size_t i = 0; i < choices->count(); ++i) {
    auto entry = choices->at<cf::Array>(i);
    if (!entry) continue;
    auto key = entry->at<cf::String>(0);
    auto value = entry->at<cf::String>(2);
    if (key && value && key->utf8() == option->utf8() && value->utf8() == choice->utf8())
      return static_cast<int32_t>(i);
  }
  return -1;
}

PDEControlTable PDECommon::commonControlTableCompound(const PDEControlTable* tables, int16_t count) {
  size_t total = 0;
  for (int16_t t = 0; tables && t < count; ++t) {
    if (!tables[t]) continue;
    for (const PDEControlRecord* row = tables[t]; !IsEnd(*row); ++row) ++total;
  }
  PDEControlTable compound = NewControlTable(total + 1);
  if (!compound) return nullptr;
  size_t at = 0;
  for (int16_t t = 0; tables && t < count; ++t) {
    if (!tables[t]) continue;
    for (const PDEControlRecord* row = tables[t]; !IsEnd(*row); ++row) compound[at++] = *row;
  }
  compound[at] = PDEControlTerminator();
  return compound;
}

}  // namespace R2740_COLOR_NS
