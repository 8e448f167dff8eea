// The Color Options pane: the everyday colour settings and the button that
// leads to the advanced pane. Its logic is its control table; the shared
// services do the rest.
#pragma once

#include <cstdint>
#include <memory>

#include "PaneBase.h"

namespace R2740_COLOR_NS {

class ColorOptions : public PaneBase {
 public:
  // Rows including the terminator.
  static constexpr int16_t kRowCount = 11;

  ColorOptions();
  std::string className() const override { return "ColorOptions"; }

  void createPDEControlTable() override;

  // Index of the selected Quick Color item, -1 when none (or no menu).
  int16_t getQuickColorValue();
  // The economy checkbox, 0 or 1 (0 without the checkbox).
  int16_t getEconoModeValue();

  // Outlets, connected by the interface file.
  std::shared_ptr<ui::PopUpButton> menu_QuickColor;
  std::shared_ptr<ui::PopUpButton> menu_Brightness;
  std::shared_ptr<ui::Button> check_ColorAsGrayscale;
  std::shared_ptr<ui::Button> check_EconomyPrint;
  std::shared_ptr<ui::PopUpButton> menu_EdgeStrength;
  std::shared_ptr<ui::Button> check_GlossyMode;
  std::shared_ptr<ui::TextField> text_QuickColor;
  std::shared_ptr<ui::TextField> text_Brightness;
  std::shared_ptr<ui::TextField> text_Strength;
  std::shared_ptr<ui::Button> button_AdvanceColorOptions;
};

}  // namespace R2740_COLOR_NS
