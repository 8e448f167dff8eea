// The colour preset rules: a compiled-in table of "grey out X while Y"
// dependencies between colour controls, and the evaluator that runs it over
// a control table. Rules find their controls by the rows' controlName, so
// one table serves a single pane's table as well as the compound table.
#pragma once

#include <cstdint>

#include "PDEControlTable.h"

// Codes of the rule format.
inline constexpr int32_t kCstAnd = 1003;             // "&"
inline constexpr int32_t kCstOr = 1004;              // "|"
inline constexpr int32_t kCstEqual = 1005;           // "="
inline constexpr int32_t kCstNotEqual = 1006;        // "!="
inline constexpr int32_t kCstAssign = 1007;          // "->"
inline constexpr int32_t kCstLess = 1009;            // "<"
inline constexpr int32_t kCstGreater = 1010;         // ">"
inline constexpr int32_t kCstLessEqual = 1011;       // "=<"
inline constexpr int32_t kCstLessEqual2 = 1012;      // "<="
inline constexpr int32_t kCstGreaterEqual = 1013;    // ">="
inline constexpr int32_t kCstGreaterEqual2 = 1014;   // "=>"
inline constexpr int32_t kCstEnd = 1017;             // end of expression / no change
inline constexpr int32_t kCstTableEnd = 1019;        // ruleKind of the last entry
inline constexpr int32_t kCstValueChange = 1022;     // "VRCHG"
inline constexpr int32_t kCstGreyOut = 1027;         // "/GROUT"

// Limits of the format: slots of the condition results, tokens read.
inline constexpr int kCstMaxConditions = 20;
inline constexpr int kCstMaxExpression = 40;
inline constexpr int kCstNameLength = 64;

namespace R2740_COLOR_NS {

// A named operand: a control (by controlName), a value in rule units and
// an operator code. (`oper` because `operator` is reserved in C++.)
struct RuleItem {
  char name[kCstNameLength];
  int32_t value;
  int32_t oper;
};

struct RuleAction {
  int32_t code;
  int32_t argument;  // always 0, not read
};

struct ColorPresetRule {
  int32_t ruleKind;          // kCstValueChange; kCstTableEnd ends the table
  int8_t conditionCount;     // at most kCstMaxConditions
  const RuleItem* conditions;
  int32_t expressionLength;  // informational only
  const int32_t* expression; // condition indexes and operators, ending in kCstEnd
  RuleItem target;
  RuleItem valueChange;      // oper kCstAssign sets the target to value
  int8_t actionCount;
  const RuleAction* actions;
};

// Rules 0..18 in both builds, rule 19 in the monochrome build only, then
// the end entry.
extern const ColorPresetRule cstColorOption[];
// Number of rules before the end entry.
int ColorPresetRuleCount();

// Runs every rule over the table: a rule that holds gets its value change
// and its actions, one that does not gets its actions undone.
void vColorPresetConstraints(PDEControlTable table);
// Whether rule `rule` holds on the table; false for a rule number outside
// the table.
bool bMatchCondition(int rule, PDEControlTable table);
void vValueChange(int rule, PDEControlTable table);
void vActOption(int rule, PDEControlTable table);
void vActReverseOption(int rule, PDEControlTable table);

// Rule units of a row's value (PDECommon's commonConvertTo/FromCSTValue):
// a pop-up counts its items from 1 and reads 0 with nothing selected; every
// other kind, and a null row, keeps its value.
int32_t ConvertToCSTValue(const PDEControlRecord* row, int32_t value);
int32_t ConvertFromCSTValue(const PDEControlRecord* row, int32_t value);

// The row whose controlName is `name` (exact bytes), searched before the
// first kControlKindEnd row; null when none.
PDEControlRecord* FindRuleControl(PDEControlTable table, const char* name);

}  // namespace R2740_COLOR_NS
