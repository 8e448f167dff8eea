// The preset rule table and its evaluator.
#include "ColorPresetRules.h"

#include <cstring>

#include "PDECommon.h"

namespace R2740_COLOR_NS {

namespace {

constexpr RuleAction kGreyOut[] = {{kCstGreyOut, 0}};

// c0 alone, and c0 | c1.
constexpr int32_t kExprC0[] = {kCstEnd};
constexpr int32_t kExprC0OrC1[] = {0, 1, kCstOr, kCstEnd};

constexpr RuleItem kQuickColorNotAdvanced[] = {{"QuickColorPopup", 4, kCstNotEqual}};
constexpr RuleItem kGrayOn[] = {{"ColorAsGrayCheckBox", 1, kCstEqual}};
constexpr RuleItem kGrayOrImageSourceFirst[] = {{"ColorAsGrayCheckBox", 1, kCstEqual},
                                                {"ImageRGBSourcePopup", 1, kCstEqual}};
constexpr RuleItem kGrayOrImageDestNotFirst[] = {{"ColorAsGrayCheckBox", 1, kCstEqual},
                                                 {"ImageDestinationProfilePopup", 1, kCstNotEqual}};
constexpr RuleItem kGrayOrTextSourceFirst[] = {{"ColorAsGrayCheckBox", 1, kCstEqual},
                                               {"TextRGBSourcePopup", 1, kCstEqual}};
constexpr RuleItem kGrayOrTextDestNotFirst[] = {{"ColorAsGrayCheckBox", 1, kCstEqual},
                                                {"TextDestinationProfilePopup", 1, kCstNotEqual}};
constexpr RuleItem kGrayOrGraphicsSourceFirst[] = {{"ColorAsGrayCheckBox", 1, kCstEqual},
                                                   {"GraphicsRGBSourcePopup", 1, kCstEqual}};
constexpr RuleItem kGrayOrGraphicsDestNotFirst[] = {{"ColorAsGrayCheckBox", 1, kCstEqual},
                                                    {"GraphicsDestinationProfilePopup", 1, kCstNotEqual}};
constexpr RuleItem kGrayOrSimSourceFirst[] = {{"ColorAsGrayCheckBox", 1, kCstEqual},
                                              {"SimulationSourcePopup", 1, kCstEqual}};
constexpr RuleItem kEconoOrEdgeFirst[] = {{"EconoModeCheckBox", 1, kCstEqual}, {"EdgeTypePopup", 1, kCstEqual}};
constexpr RuleItem kEdgeFirst[] = {{"EdgeTypePopup", 1, kCstEqual}};

// A rule with one or two conditions that greys out `target` and changes no
// value. The value-change item repeats the target item.
#define R2740_GROUT_RULE(conds, expr, exprLen, targetName, targetValue)                             \
  ColorPresetRule {                                                                                 \
    kCstValueChange, static_cast<int8_t>(sizeof(conds) / sizeof(RuleItem)), conds, exprLen, expr, \
        {targetName, targetValue, kCstEnd}, {targetName, targetValue, kCstEnd}, 1, kGreyOut       \
  }

}  // namespace

const ColorPresetRule cstColorOption[] = {
    /* 0 */ R2740_GROUT_RULE(kQuickColorNotAdvanced, kExprC0, 0, "GoToAdvancedOptionsButton", -1),
    /* 1 */ R2740_GROUT_RULE(kGrayOn, kExprC0, 0, "ImageRGBSourcePopup", -1),
    /* 2 */ R2740_GROUT_RULE(kGrayOrImageSourceFirst, kExprC0OrC1, 3, "ImageRenderIntentPopup", -1),
    /* 3 */ R2740_GROUT_RULE(kGrayOrImageDestNotFirst, kExprC0OrC1, 3, "ImageGrayTreatmentPopup", -1),
    /* 4 */ R2740_GROUT_RULE(kGrayOn, kExprC0, 0, "ImageDestinationProfilePopup", -1),
    /* 5 */ R2740_GROUT_RULE(kGrayOn, kExprC0, 0, "TextRGBSourcePopup", -1),
    /* 6 */ R2740_GROUT_RULE(kGrayOrTextSourceFirst, kExprC0OrC1, 3, "TextRenderIntentPopup", -1),
    /* 7 */ R2740_GROUT_RULE(kGrayOrTextDestNotFirst, kExprC0OrC1, 3, "TextGrayTreatmentPopup", -1),
    /* 8 */ R2740_GROUT_RULE(kGrayOn, kExprC0, 0, "TextDestinationProfilePopup", -1),
    /* 9 */ R2740_GROUT_RULE(kGrayOn, kExprC0, 0, "GraphicsRGBSourcePopup", -1),
    /* 10 */ R2740_GROUT_RULE(kGrayOrGraphicsSourceFirst, kExprC0OrC1, 3, "GraphicsRenderIntentPopup", -1),
    /* 11 */ R2740_GROUT_RULE(kGrayOrGraphicsDestNotFirst, kExprC0OrC1, 3, "GraphicsGrayTreatmentPopup", -1),
    /* 12 */ R2740_GROUT_RULE(kGrayOn, kExprC0, 0, "GraphicsDestinationProfilePopup", -1),
    /* 13 */ R2740_GROUT_RULE(kGrayOn, kExprC0, 0, "SimulationSourcePopup", -1),
    /* 14 */ R2740_GROUT_RULE(kGrayOrSimSourceFirst, kExprC0OrC1, 3, "SimulationRenderIntentPopup", -1),
    /* 15 */ R2740_GROUT_RULE(kGrayOrSimSourceFirst, kExprC0OrC1, 3, "SimulationGrayTreatmentPopup", -1),
    /* 16 */ R2740_GROUT_RULE(kEconoOrEdgeFirst, kExprC0OrC1, 3, "ImageEdgeEnhancePopup", -1),
    // The text edge enhancement does not depend on economy print: one
    // condition, and the second operand of the OR reads an empty slot.
    /* 17 */ R2740_GROUT_RULE(kEdgeFirst, kExprC0OrC1, 0, "TextEdgeEnhancePopup", 0),
    /* 18 */ R2740_GROUT_RULE(kEconoOrEdgeFirst, kExprC0OrC1, 3, "GraphicsEdgeEnhancePopup", -1),
#if R2740_COLOR_MONO
    // The monochrome printer prints grayscale only: once the box is on it
    // stays on and cannot be switched off.
    /* 19 */
    ColorPresetRule{kCstValueChange, 1, kGrayOn, 0, kExprC0, {"ColorAsGrayCheckBox", 1, kCstAssign},
                    {"ColorAsGrayCheckBox", 1, kCstAssign}, 1, kGreyOut},
#endif
    ColorPresetRule{kCstTableEnd, 0, nullptr, 0, nullptr, {"", 0, kCstEnd}, {"", 0, kCstEnd}, 0, nullptr},
};

#undef R2740_GROUT_RULE

int32_t ConvertToCSTValue(const PDEControlRecord* row, int32_t value) {
  if (row == nullptr || row->kind != kControlKindPopUp) return value;
  return value >= 0 ? value + 1 : 0;
}

int32_t ConvertFromCSTValue(const PDEControlRecord* row, int32_t value) {
  if (row == nullptr || row->kind != kControlKindPopUp) return value;
  return value > 0 ? value - 1 : 0;
}

int ColorPresetRuleCount() {
  int n = 0;
  while (cstColorOption[n].ruleKind != kCstTableEnd) ++n;
  return n;
}

PDEControlRecord* FindRuleControl(PDEControlTable table, const char* name) {
  if (table == nullptr || name == nullptr) return nullptr;
  const size_t len = strnlen(name, kCstNameLength);
  for (PDEControlRecord* row = table; row->kind != kControlKindEnd; ++row) {
    if (row->controlName == nullptr) continue;
    if (std::strlen(row->controlName) == len && std::memcmp(row->controlName, name, len) == 0) return row;
  }
  return nullptr;
}

namespace {

const ColorPresetRule* RuleAt(int rule) {
  if (rule < 0 || rule >= ColorPresetRuleCount()) return nullptr;
  return &cstColorOption[rule];
}

bool Compare(int32_t value, int32_t oper, int32_t reference) {
  switch (oper) {
    case kCstEqual: return value == reference;
    case kCstNotEqual: return value != reference;
    case kCstLess: return value < reference;
    case kCstGreater: return value > reference;
    case kCstLessEqual:
    case kCstLessEqual2: return value <= reference;
    case kCstGreaterEqual:
    case kCstGreaterEqual2: return value >= reference;
    default: return false;  // "->" and unknown codes never hold
  }
}

void SetTargetEnabled(int rule, PDEControlTable table, bool enabled) {
  const ColorPresetRule* r = RuleAt(rule);
  if (r == nullptr) return;
  for (int i = 0; i < r->actionCount; ++i) {
    PDEControlRecord* row = FindRuleControl(table, r->target.name);
    if (row == nullptr || r->actions[i].code != kCstGreyOut) continue;
    if (auto control = std::dynamic_pointer_cast<ui::Control>(row->control)) control->setEnabled(enabled);
  }
}

}  // namespace

bool bMatchCondition(int rule, PDEControlTable table) {
  const ColorPresetRule* r = RuleAt(rule);
  if (r == nullptr) return false;
  unsigned char slots[kCstMaxConditions] = {};
  const int count = r->conditionCount < kCstMaxConditions ? r->conditionCount : kCstMaxConditions;
  for (int i = 0; i < count; ++i) {
    const RuleItem& cond = r->conditions[i];
    PDEControlRecord* row = FindRuleControl(table, cond.name);
    if (row == nullptr) continue;
    const int32_t value =
        ConvertToCSTValue(row, PDECommon::commonGetControlValueWithSInt32(row));
    if (Compare(value, cond.oper, cond.value)) slots[i] = 1;
  }
  int acc = slots[0];
  int operand = 0;
  if (r->expression != nullptr) {
    for (int t = 0; t < kCstMaxExpression && r->expression[t] != kCstEnd; ++t) {
      const int32_t token = r->expression[t];
      if (token >= 0 && token <= 999) {
        // An index past the slots reads as a condition that does not hold.
        operand = token < kCstMaxConditions ? slots[token] : 0;
      } else if (token == kCstAnd) {
        acc = acc & operand;
      } else if (token == kCstOr) {
        acc = acc | operand;
      }
    }
  }
  return acc != 0;
}

void vValueChange(int rule, PDEControlTable table) {
  const ColorPresetRule* r = RuleAt(rule);
  if (r == nullptr || r->valueChange.oper != kCstAssign) return;
  PDEControlRecord* row = FindRuleControl(table, r->target.name);
  if (row == nullptr) return;
  PDECommon::commonSetControlValueWithSInt32(row, ConvertFromCSTValue(row, r->valueChange.value));
}

void vActOption(int rule, PDEControlTable table) { SetTargetEnabled(rule, table, false); }

void vActReverseOption(int rule, PDEControlTable table) { SetTargetEnabled(rule, table, true); }

void vColorPresetConstraints(PDEControlTable table) {
  for (int rule = 0; cstColorOption[rule].ruleKind != kCstTableEnd; ++rule) {
    if (bMatchCondition(rule, table)) {
      vValueChange(rule, table);
      vActOption(rule, table);
    } else {
      vActReverseOption(rule, table);
    }
  }
}

}  // namespace R2740_COLOR_NS
