#include "PainChangeController.h"

#include "AdvancedColorOptions.h"
#include "ColorOptions.h"

namespace R2740_COLOR_NS {

PainChangeController::PainChangeController() {
  outlet("onColorView", &onColorView);
  outlet("onAdvancedView", &onAdvancedView);
  outlet("onMainCustomView", &onMainCustomView);
  action("ColorToAdvancedView:", [this](ui::NibObject* sender) { ColorToAdvancedView(sender); });
  action("AdvancedToColorView:", [this](ui::NibObject* sender) { AdvancedToColorView(sender); });
}

void PainChangeController::ColorToAdvancedView(ui::NibObject*) {
  if (onAdvancedView && onAdvancedView->getControlData()) SHowColorToAdvancedView();
}

void PainChangeController::AdvancedToColorView(ui::NibObject*) {
  if (onColorView && onColorView->getControlData()) ShowAdvancedToColorView();
}

void PainChangeController::SHowColorToAdvancedView() { showPane(onAdvancedView, onColorView); }

void PainChangeController::ShowAdvancedToColorView() { showPane(onColorView, onAdvancedView); }

void PainChangeController::showPane(const std::shared_ptr<ui::View>& shown, const std::shared_ptr<ui::View>& hidden) {
  if (!shown) return;
  ui::Rect rect = onMainCustomView ? onMainCustomView->bounds() : ui::Rect{};
  if (auto pane = std::dynamic_pointer_cast<PaneBase>(shown)) pane->setViewBounds(rect);
  if (!onMainCustomView) return;
  bool hiddenIsThere = hidden && hidden != shown && hidden->superview() == onMainCustomView.get();
  if (shown->superview() == onMainCustomView.get()) {
    if (hiddenIsThere) hidden->removeFromSuperview();
  } else if (hiddenIsThere) {
    onMainCustomView->replaceSubview(hidden, shown);
  } else {
    onMainCustomView->addSubview(shown);
  }
}

void PainChangeController::creatPDEControlTableEachView() {
  if (onAdvancedView) onAdvancedView->createPDEControlTable();
  if (onColorView) onColorView->createPDEControlTable();
}

void PainChangeController::addPPDArrayEachView(const cf::ArrayRef& array) {
  if (onAdvancedView) onAdvancedView->addPPDArray(array);
  if (onColorView) onColorView->addPPDArray(array);
}

void PainChangeController::deallocPDEControlTableEachView() {
  if (onAdvancedView) onAdvancedView->deallocPDEControlTable();
  if (onColorView) onColorView->deallocPDEControlTable();
}

void PainChangeController::setPPDFileEachView(ppd_file_t* ppd) {
  if (onAdvancedView) onAdvancedView->setPPDFile(ppd);
  if (onColorView) onColorView->setPPDFile(ppd);
}

void PainChangeController::setPMPrintEachView(pm::PMPrintSettings setting, pm::PMPrintSession session) {
  if (onAdvancedView) onAdvancedView->setPMPrint(setting, session);
  if (onColorView) onColorView->setPMPrint(setting, session);
}

void PainChangeController::createPDEItemForPPDKeyEachView() {
  if (onAdvancedView) onAdvancedView->createPDEItemForPPDKey();
  if (onColorView) onColorView->createPDEItemForPPDKey();
}

void PainChangeController::defaultFromPPDInfoEachView() {
  if (onColorView) onColorView->defaultFromPPDInfo();
  if (onAdvancedView) onAdvancedView->defaultFromPPDInfo();
}

void PainChangeController::getControlValueFromTickettEachView() {
  if (onAdvancedView) onAdvancedView->getControlValueFromTicket();
  if (onColorView) onColorView->getControlValueFromTicket();
}

void PainChangeController::setControlValueToTicketEachView() {
  if (onAdvancedView) onAdvancedView->setControlValueToTicket();
  if (onColorView) onColorView->setControlValueToTicket();
}

int16_t PainChangeController::getControlDataEachView(PDEControlTable* tables, int16_t capacity) {
  if (!tables || capacity < 2) return 0;
  for (int16_t i = 0; i < capacity; ++i) tables[i] = nullptr;
  tables[0] = onColorView ? onColorView->getControlData() : nullptr;
  tables[1] = onAdvancedView ? onAdvancedView->getControlData() : nullptr;
  return 2;
}

int16_t PainChangeController::getControlCountEachView() {
  int count = (onColorView ? onColorView->getControlCount() : 0) +
              (onAdvancedView ? onAdvancedView->getControlCount() : 0);
  return static_cast<int16_t>(count);
}

void PainChangeController::getSummaryTextEachView(const cf::DictionaryRef& dict, const cf::ArrayRef& array) {
  if (!onColorView) return;
  onColorView->getSummaryText(dict, array);
  if (onColorView->getQuickColorValue() == 3) {
    if (onAdvancedView) onAdvancedView->getSummaryText(dict, array);
  } else {
    getSummaryAdvancedItemAccodingQuickColor(dict, array);
  }
}

void PainChangeController::getSummaryAdvancedItemAccodingQuickColor(const cf::DictionaryRef& dict,
                                                                    const cf::ArrayRef& array) {
  if (!onColorView || !onAdvancedView) return;
  onAdvancedView->getSummaryItemAccodingQuickColor(onColorView->getQuickColorValue(),
                                                   onColorView->getEconoModeValue(), dict, array);
}

void PainChangeController::changeAdvancedItemAccodingQuickColor() {
  if (!onColorView || !onAdvancedView) return;
  onAdvancedView->changeItemAccodingQuickColor(onColorView->getQuickColorValue(), onColorView->getEconoModeValue());
}

}  // namespace R2740_COLOR_NS
