// One row per control of a colour pane: binds the control to its PPD main
// keyword, its titles, its rule name and its PPD choice list.
#pragma once

#include <cstdint>
#include <memory>

#include "cf/cf.h"
#include "ui/ui.h"
#include "BuildSuffix.h"

inline constexpr int32_t kControlKindEnd = 1032;
inline constexpr int32_t kControlKindText = 1034;
inline constexpr int32_t kControlKindPopUp = 1035;
inline constexpr int32_t kControlKindCheckBox = 1036;
inline constexpr int32_t kControlKindButton = 1039;
inline constexpr int32_t kControlKindTabView = 1040;

namespace R2740_COLOR_NS {

struct PDEControlRecord {
  std::shared_ptr<ui::View> control;  // null only in the terminator row
  int32_t kind;
  const char* ppdKey;       // "" when bound to no PPD option
  const char* titleKey;     // may be null
  const char* itemName;     // may be null
  const char* controlName;  // "" when no rule refers to it
  uint16_t profileType;     // 0, or 1 RGB / 2 destination / 3 simulation
  // Entries are five-string arrays (keyword, default, choice, text,
  // "ConflictTrue"/"ConflictFalse"); owned by the pane's row, shared by
  // the compound table.
  cf::ArrayRef choices;
};

// A heap array of rows ending in the terminator row.
using PDEControlTable = PDEControlRecord*;

inline PDEControlRecord PDEControlTerminator() {
  return PDEControlRecord{nullptr, kControlKindEnd, "", nullptr, nullptr, "", 0, nullptr};
}

// Tables are heap arrays of `count` rows, every row the terminator row
// until filled. Null when memory runs out.
PDEControlTable NewControlTable(size_t count);
// Frees a table made by NewControlTable or commonControlTableCompound
// (the rows' choice lists are released with it); null is allowed.
void FreeControlTable(PDEControlTable table);

}  // namespace R2740_COLOR_NS
