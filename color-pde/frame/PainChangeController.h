// The pane controller: shows one of the two panes in the panel's container
// and forwards every panel call to both panes in a fixed order.
#pragma once

#include <cups/ppd.h>

#include <cstdint>
#include <memory>

#include "PDEControlTable.h"
#include "printing/printing.h"
#include "ui/ui.h"

namespace R2740_COLOR_NS {

class ColorOptions;
class AdvancedColorOptions;

class PainChangeController : public ui::NibObject {
 public:
  PainChangeController();
  std::string className() const override { return "PainChangeController"; }

  // Actions of the panes' buttons.
  void ColorToAdvancedView(ui::NibObject* sender);
  void AdvancedToColorView(ui::NibObject* sender);

  void SHowColorToAdvancedView();
  void ShowAdvancedToColorView();

  void creatPDEControlTableEachView();
  void addPPDArrayEachView(const cf::ArrayRef& array);
  void deallocPDEControlTableEachView();
  void setPPDFileEachView(ppd_file_t* ppd);
  void setPMPrintEachView(pm::PMPrintSettings setting, pm::PMPrintSession session);
  void createPDEItemForPPDKeyEachView();
  void defaultFromPPDInfoEachView();
  void getControlValueFromTickettEachView();
  void setControlValueToTicketEachView();

  // Zeroes `capacity` slots, puts the colour table in slot 0 and the
  // advanced table in slot 1; answers 2 (0 when capacity is below 2).
  int16_t getControlDataEachView(PDEControlTable* tables, int16_t capacity);
  int16_t getControlCountEachView();

  void getSummaryTextEachView(const cf::DictionaryRef& dict, const cf::ArrayRef& array);
  void getSummaryAdvancedItemAccodingQuickColor(const cf::DictionaryRef& dict, const cf::ArrayRef& array);
  void changeAdvancedItemAccodingQuickColor();

  // Outlets.
  std::shared_ptr<ColorOptions> onColorView;
  std::shared_ptr<AdvancedColorOptions> onAdvancedView;
  std::shared_ptr<ui::View> onMainCustomView;

 private:
  void showPane(const std::shared_ptr<ui::View>& shown, const std::shared_ptr<ui::View>& hidden);
};

}  // namespace R2740_COLOR_NS
