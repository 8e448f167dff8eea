#include "PaneBase.h"

#include "PDECommon.h"

namespace R2740_COLOR_NS {

PaneBase::~PaneBase() { FreeControlTable(ctrlTable); }

void PaneBase::deallocPDEControlTable() {
  if (ctrlTable) {
    for (PDEControlRecord* row = ctrlTable; row->control; ++row) row->choices = nullptr;
  }
  FreeControlTable(ctrlTable);
  ctrlTable = nullptr;
}

void PaneBase::setViewBounds(ui::Rect rect) {
  setBounds(ui::Rect{ui::Point{0, 0}, rect.size});
}

void PaneBase::addPPDArray(const cf::ArrayRef& array) { PDECommon::commonAddPPDArray(array, ctrlTable); }

void PaneBase::createPDEItemForPPDKey() { PDECommon::commonBuildPDEItem(ctrlTable, ppd); }

void PaneBase::getSummaryText(const cf::DictionaryRef& dict, const cf::ArrayRef& array) {
  PDECommon::commonGetSummaryText(ctrlTable, dict, array);
}

void PaneBase::setControlValueToTicket() { PDECommon::commonSyncTicketFromPane(setting, session, ctrlTable); }

void PaneBase::getControlValueFromTicket() { PDECommon::commonSyncPaneFromTicket(setting, session, ctrlTable); }

void PaneBase::defaultFromPPDInfo() { PDECommon::commonDefaultFromPPDInfo(ctrlTable); }

void PaneBase::installControlTable(const PDEControlRecord* rows, int16_t count) {
  deallocPDEControlTable();
  ctrlCount = 0;
  if (!rows || count <= 0) return;
  PDEControlTable table = NewControlTable(static_cast<size_t>(count));
  if (!table) return;
  for (int16_t i = 0; i < count; ++i) table[i] = rows[i];
  table[count - 1] = PDEControlTerminator();
  ctrlTable = table;
  ctrlCount = count;
  for (PDEControlRecord* row = ctrlTable; row->kind != kControlKindEnd; ++row) {
    row->choices = nullptr;
    if (row->ppdKey && *row->ppdKey)
      PDECommon::commonGetPPDArrayForUIOption(ppd, row->ppdKey, &row->choices);
  }
}

}  // namespace R2740_COLOR_NS
