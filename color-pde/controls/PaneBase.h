// What every colour pane offers the pane controller: its control table and
// the calls that hand the table to the PDECommon services. A pane derives
// from PaneBase, fills its rows in createPDEControlTable and hands them to
// installControlTable; everything else has a working default.
//
// The pane controller (color-pde/frame) also uses these pane-specific
// methods, declared by the panes themselves:
//   color-pde/panes/ColorOptions.h          class ColorOptions : PaneBase
//     int16_t getQuickColorValue();
//     int16_t getEconoModeValue();
//   color-pde/panes/AdvancedColorOptions.h  class AdvancedColorOptions : PaneBase
//     void changeItemAccodingQuickColor(int16_t quickColor, int16_t eco);
//     void getSummaryItemAccodingQuickColor(int16_t quickColor, int16_t eco,
//                                           const cf::DictionaryRef& dict,
//                                           const cf::ArrayRef& array);
#pragma once

#include <cups/ppd.h>

#include <cstdint>

#include "cf/cf.h"
#include "printing/printing.h"
#include "ui/ui.h"
#include "PDEControlTable.h"

namespace R2740_COLOR_NS {

class PaneBase : public ui::View {
 public:
  PaneBase() = default;
  ~PaneBase() override;
  // Owns ctrlTable and frees it in the destructor.
  PaneBase(const PaneBase&) = delete;
  PaneBase& operator=(const PaneBase&) = delete;

  // Builds the pane's table (ppd must be set before).
  virtual void createPDEControlTable() = 0;
  // Releases every row's choice list, frees the table, nulls ctrlTable.
  virtual void deallocPDEControlTable();

  virtual void setPPDFile(ppd_file_t* ppdFile) { ppd = ppdFile; }
  virtual void setPMPrint(pm::PMPrintSettings printSettings, pm::PMPrintSession printSession) {
    setting = printSettings;
    session = printSession;
  }
  // Bounds become origin (0, 0) with the rectangle's size.
  virtual void setViewBounds(ui::Rect rect);

  PDEControlTable getControlData() const { return ctrlTable; }
  int16_t getControlCount() const { return ctrlCount; }

  // commonAddPPDArray with the table.
  virtual void addPPDArray(const cf::ArrayRef& array);
  // commonBuildPDEItem with the table and the PPD.
  virtual void createPDEItemForPPDKey();
  // commonGetSummaryText with the table.
  virtual void getSummaryText(const cf::DictionaryRef& dict, const cf::ArrayRef& array);
  // commonSyncTicketFromPane / commonSyncPaneFromTicket with the stored
  // settings, session and table.
  virtual void setControlValueToTicket();
  virtual void getControlValueFromTicket();
  // commonDefaultFromPPDInfo with the table.
  virtual void defaultFromPPDInfo();

 protected:
  // Copies `count` rows (the last one the terminator) into a new heap table
  // kept in ctrlTable, sets ctrlCount, and gives every bound row its PPD
  // choice list (null when the PPD lacks the option). A previous table is
  // freed first. On allocation failure ctrlTable stays null.
  void installControlTable(const PDEControlRecord* rows, int16_t count);

  ppd_file_t* ppd = nullptr;
  PDEControlTable ctrlTable = nullptr;
  int16_t ctrlCount = 0;
  pm::PMPrintSettings setting = nullptr;
  pm::PMPrintSession session = nullptr;
};

}  // namespace R2740_COLOR_NS
