// The Advanced Color Options pane: per object type (image, text, graphics)
// colour management menus and the simulation menus, the Quick Color presets
// that fix them when the user has not chosen the custom setting, and the
// Download Manager button.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "PaneBase.h"

namespace R2740_COLOR_NS {

class AdvancedColorOptions : public PaneBase {
 public:
  // Rows including the terminator; the first kPopUpCount rows are the
  // pop-up menus in preset order.
  static constexpr int16_t kRowCount = 47;
  static constexpr int kPopUpCount = 21;
  // Presets exist for Quick Color 0..2; any other index leaves the pane
  // to the user.
  static constexpr int kPresetCount = 3;

  AdvancedColorOptions();
  std::string className() const override { return "AdvancedColorOptions"; }

  void createPDEControlTable() override;
  // Menus rebuilt from the PPD, then the stored profiles appended.
  void createPDEItemForPPDKey() override;

  // Selects in the 21 menus what the Quick Color preset and the economy
  // flag imply; nothing for Quick Color 3 or outside 0..2.
  void changeItemAccodingQuickColor(int16_t quickColor, int16_t eco);
  // Reports into the summary what changeItemAccodingQuickColor would
  // select, without touching the menus.
  void getSummaryItemAccodingQuickColor(int16_t quickColor, int16_t eco, const cf::DictionaryRef& dict,
                                        const cf::ArrayRef& array);
  // Launches the Download Manager application, if installed.
  void downloadManagerButton(ui::NibObject* sender);

  // The program that downloadManagerButton starts, resolved under the
  // install root; empty when there is nothing to launch.
  static std::string DownloadManagerExecutable();

  // The preset menu index of pop-up row `row` (0..20) for Quick Color
  // `quickColor` and the economy flag, or -1 when the preset leaves it.
  static int PresetIndex(int quickColor, bool eco, int row);

  // Outlets, connected by the interface file.
  std::shared_ptr<ui::PopUpButton> menu_iRGBSource, menu_iRGBIntent, menu_iRGBGrayTreatment,
      menu_iDestinationProfile, menu_iHalftone, menu_iEdgeEnhancement;
  std::shared_ptr<ui::PopUpButton> menu_tRGBSource, menu_tRGBIntent, menu_tRGBGrayTreatment,
      menu_tDestinationProfile, menu_tHalftone, menu_tEdgeEnhancement;
  std::shared_ptr<ui::PopUpButton> menu_gRGBSource, menu_gRGBIntent, menu_gRGBGrayTreatment,
      menu_gDestinationProfile, menu_gHalftone, menu_gEdgeEnhancement;
  std::shared_ptr<ui::PopUpButton> menu_sSimulationProfile, menu_sMatchPaperColor, menu_sCMYKGrayTreatment;
  std::shared_ptr<ui::TabView> tab_SwitchVew;
  std::shared_ptr<ui::TextField> text_iRGBSource, text_iRGBIntent, text_iRGBGrayTreatment,
      text_iDestinationProfile, text_iHalftone, text_iEdgeEnhancement;
  std::shared_ptr<ui::TextField> text_tRGBSource, text_tRGBIntent, text_tRGBGrayTreatment,
      text_tDestinationProfile, text_tHalftone, text_tEdgeEnhancement;
  std::shared_ptr<ui::TextField> text_gRGBSource, text_gRGBIntent, text_gRGBGrayTreatment,
      text_gDestinationProfile, text_gHalftone, text_gEdgeEnhancement;
  std::shared_ptr<ui::TextField> text_sSimulationProfile, text_sMatchPaperColor, text_sCMYKGrayTreatment;
  std::shared_ptr<ui::Button> button_ManageProfile;
  std::shared_ptr<ui::Button> button_DownloadManager;
  std::shared_ptr<ui::Button> button_HideAdvancedOptions;

 private:
  // The preset index usable on pop-up row `row`, or -1 (see the .cpp).
  int UsablePresetIndex(int quickColor, bool eco, int row) const;
};

}  // namespace R2740_COLOR_NS
