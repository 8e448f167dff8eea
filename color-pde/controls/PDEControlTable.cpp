#include "PDEControlTable.h"

#include <new>

namespace R2740_COLOR_NS {

PDEControlTable NewControlTable(size_t count) {
  if (count == 0) return nullptr;
  auto* table = new (std::nothrow) PDEControlRecord[count];
  if (!table) return nullptr;
  for (size_t i = 0; i < count; ++i) table[i] = PDEControlTerminator();
  return table;
}

void FreeControlTable(PDEControlTable table) { delete[] table; }

}  // namespace R2740_COLOR_NS
