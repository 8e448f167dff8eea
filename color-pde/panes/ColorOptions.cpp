#include "ColorOptions.h"

namespace R2740_COLOR_NS {

ColorOptions::ColorOptions() {
  outlet("menu_QuickColor", &menu_QuickColor);
  outlet("menu_Brightness", &menu_Brightness);
  outlet("check_ColorAsGrayscale", &check_ColorAsGrayscale);
  outlet("check_EconomyPrint", &check_EconomyPrint);
  outlet("menu_EdgeStrength", &menu_EdgeStrength);
  outlet("check_GlossyMode", &check_GlossyMode);
  outlet("text_QuickColor", &text_QuickColor);
  outlet("text_Brightness", &text_Brightness);
  outlet("text_Strength", &text_Strength);
  outlet("button_AdvanceColorOptions", &button_AdvanceColorOptions);
}

void ColorOptions::createPDEControlTable() {
  const PDEControlRecord rows[kRowCount] = {
      {menu_QuickColor, kControlKindPopUp, "QVQuickColor", nullptr, "Quick Color", "QuickColorPopup", 0, nullptr},
      {menu_Brightness, kControlKindPopUp, "QVBrightness", nullptr, "Brightness", "", 0, nullptr},
      {check_ColorAsGrayscale, kControlKindCheckBox, "QVColorAsGray", "Color as Grayscale", "Color as Grayscale",
       "ColorAsGrayCheckBox", 0, nullptr},
      {check_EconomyPrint, kControlKindCheckBox, "QVEconoMode", "EconoMode", "EconoMode", "EconoModeCheckBox", 0,
       nullptr},
      {menu_EdgeStrength, kControlKindPopUp, "QVEdgeType", nullptr, "EdgeType", "EdgeTypePopup", 0, nullptr},
      {check_GlossyMode, kControlKindCheckBox, "QVGlossyMode", "GlossyMode", "GlossyMode", "GlossyModeCheckBox", 0,
       nullptr},
      {text_QuickColor, kControlKindText, "", "Quick Color:", nullptr, "", 0, nullptr},
      {text_Brightness, kControlKindText, "", "Brightness:", nullptr, "", 0, nullptr},
      {text_Strength, kControlKindText, "", "EdgeType:", nullptr, "", 0, nullptr},
      {button_AdvanceColorOptions, kControlKindButton, "", "Advanced Color Options", nullptr,
       "GoToAdvancedOptionsButton", 0, nullptr},
      PDEControlTerminator(),
  };
  installControlTable(rows, kRowCount);
}

int16_t ColorOptions::getQuickColorValue() {
  if (!menu_QuickColor) return -1;
  return static_cast<int16_t>(menu_QuickColor->indexOfSelectedItem());
}

int16_t ColorOptions::getEconoModeValue() {
  if (!check_EconomyPrint) return 0;
  return static_cast<int16_t>(check_EconomyPrint->intValue());
}

}  // namespace R2740_COLOR_NS
