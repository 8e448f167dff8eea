#include "AdvancedColorOptions.h"

#include "PDECommon.h"
#include "QVPList.h"
#include "system/system.h"

namespace R2740_COLOR_NS {

namespace {

constexpr const char* kDownloadManagerPath = "/Applications/Download Manager R2740/ORVESSA Download Manager.app";

// Menu index that each pop-up row (table order) takes under Quick Color 0,
// 1 and 2. Indices are PPD choice positions.
constexpr int8_t kQuickColorPreset[AdvancedColorOptions::kPopUpCount][AdvancedColorOptions::kPresetCount] = {
    {1, 1, 1},  // menu_iRGBSource
    {0, 0, 1},  // menu_iRGBIntent
    {1, 0, 1},  // menu_iRGBGrayTreatment
    {0, 0, 0},  // menu_iDestinationProfile
    {1, 1, 2},  // menu_iHalftone
    {0, 0, 1},  // menu_iEdgeEnhancement
    {1, 1, 1},  // menu_tRGBSource
    {1, 0, 1},  // menu_tRGBIntent
    {1, 0, 1},  // menu_tRGBGrayTreatment
    {0, 0, 0},  // menu_tDestinationProfile
    {2, 1, 2},  // menu_tHalftone
    {1, 0, 1},  // menu_tEdgeEnhancement
    {1, 1, 1},  // menu_gRGBSource
    {1, 0, 1},  // menu_gRGBIntent
    {1, 0, 1},  // menu_gRGBGrayTreatment
    {0, 0, 0},  // menu_gDestinationProfile
    {1, 1, 2},  // menu_gHalftone
    {1, 0, 1},  // menu_gEdgeEnhancement
    {0, 0, 0},  // menu_sSimulationProfile
    {0, 0, 0},  // menu_sMatchPaperColor
    {0, 0, 0},  // menu_sCMYKGrayTreatment
};

constexpr int kRowImageEdgeEnhance = 5;
constexpr int kRowGraphicsEdgeEnhance = 17;

// Economy print turns edge enhancement off for images and graphics, in this
// order, after the preset; text keeps its edge enhancement. Quick Color 1
// has it off already.
struct EconomyOverride {
  int count;
  int rows[2];
};
constexpr EconomyOverride kEconomyOverride[AdvancedColorOptions::kPresetCount] = {
    {1, {kRowGraphicsEdgeEnhance, 0}},
    {0, {0, 0}},
    {2, {kRowImageEdgeEnhance, kRowGraphicsEdgeEnhance}},
};

bool IsPreset(int quickColor) { return quickColor >= 0 && quickColor < AdvancedColorOptions::kPresetCount; }

int PPDChoiceCount(const PDEControlRecord& row) {
  return row.choices ? static_cast<int>(row.choices->count()) : 0;
}

std::shared_ptr<ui::PopUpButton> PopUp(const PDEControlRecord& row) {
  return std::dynamic_pointer_cast<ui::PopUpButton>(row.control);
}

}  // namespace

AdvancedColorOptions::AdvancedColorOptions() {
  outlet("menu_iRGBSource", &menu_iRGBSource);
  outlet("menu_iRGBIntent", &menu_iRGBIntent);
  outlet("menu_iRGBGrayTreatment", &menu_iRGBGrayTreatment);
  outlet("menu_iDestinationProfile", &menu_iDestinationProfile);
  outlet("menu_iHalftone", &menu_iHalftone);
  outlet("menu_iEdgeEnhancement", &menu_iEdgeEnhancement);
  outlet("menu_tRGBSource", &menu_tRGBSource);
  outlet("menu_tRGBIntent", &menu_tRGBIntent);
  outlet("menu_tRGBGrayTreatment", &menu_tRGBGrayTreatment);
  outlet("menu_tDestinationProfile", &menu_tDestinationProfile);
  outlet("menu_tHalftone", &menu_tHalftone);
  outlet("menu_tEdgeEnhancement", &menu_tEdgeEnhancement);
  outlet("menu_gRGBSource", &menu_gRGBSource);
  outlet("menu_gRGBIntent", &menu_gRGBIntent);
  outlet("menu_gRGBGrayTreatment", &menu_gRGBGrayTreatment);
  outlet("menu_gDestinationProfile", &menu_gDestinationProfile);
  outlet("menu_gHalftone", &menu_gHalftone);
  outlet("menu_gEdgeEnhancement", &menu_gEdgeEnhancement);
  outlet("menu_sSimulationProfile", &menu_sSimulationProfile);
  outlet("menu_sMatchPaperColor", &menu_sMatchPaperColor);
  outlet("menu_sCMYKGrayTreatment", &menu_sCMYKGrayTreatment);
  outlet("tab_SwitchVew", &tab_SwitchVew);
  outlet("text_iRGBSource", &text_iRGBSource);
  outlet("text_iRGBIntent", &text_iRGBIntent);
  outlet("text_iRGBGrayTreatment", &text_iRGBGrayTreatment);
  outlet("text_iDestinationProfile", &text_iDestinationProfile);
  outlet("text_iHalftone", &text_iHalftone);
  outlet("text_iEdgeEnhancement", &text_iEdgeEnhancement);
  outlet("text_tRGBSource", &text_tRGBSource);
  outlet("text_tRGBIntent", &text_tRGBIntent);
  outlet("text_tRGBGrayTreatment", &text_tRGBGrayTreatment);
  outlet("text_tDestinationProfile", &text_tDestinationProfile);
  outlet("text_tHalftone", &text_tHalftone);
  outlet("text_tEdgeEnhancement", &text_tEdgeEnhancement);
  outlet("text_gRGBSource", &text_gRGBSource);
  outlet("text_gRGBIntent", &text_gRGBIntent);
  outlet("text_gRGBGrayTreatment", &text_gRGBGrayTreatment);
  outlet("text_gDestinationProfile", &text_gDestinationProfile);
  outlet("text_gHalftone", &text_gHalftone);
  outlet("text_gEdgeEnhancement", &text_gEdgeEnhancement);
  outlet("text_sSimulationProfile", &text_sSimulationProfile);
  outlet("text_sMatchPaperColor", &text_sMatchPaperColor);
  outlet("text_sCMYKGrayTreatment", &text_sCMYKGrayTreatment);
  outlet("button_ManageProfile", &button_ManageProfile);
  outlet("button_DownloadManager", &button_DownloadManager);
  outlet("button_HideAdvancedOptions", &button_HideAdvancedOptions);
  action("downloadManagerButton:", [this](ui::NibObject* sender) { downloadManagerButton(sender); });
}

void AdvancedColorOptions::createPDEControlTable() {
  constexpr int32_t P = kControlKindPopUp;
  constexpr int32_t T = kControlKindText;
  constexpr int32_t B = kControlKindButton;
  const PDEControlRecord rows[kRowCount] = {
      // Image
      {menu_iRGBSource, P, "QVImageRGBSource", "RGB Source:", "Image RGB Source", "ImageRGBSourcePopup", 1, nullptr},
      {menu_iRGBIntent, P, "QVImageRenderIntent", "RGB Intent:", "Image RGB Intent", "ImageRenderIntentPopup", 0,
       nullptr},
      {menu_iRGBGrayTreatment, P, "QVImageGrayTreatment", "RGB Gray Treatment:", "Image RGB Gray Treatment",
       "ImageGrayTreatmentPopup", 0, nullptr},
      {menu_iDestinationProfile, P, "QVImageDestinationProfile", "Destination Profile:", "Image Destination Profile",
       "ImageDestinationProfilePopup", 2, nullptr},
      {menu_iHalftone, P, "QVImageHalftone", "Halftone:", "Image Halftone", "", 0, nullptr},
      {menu_iEdgeEnhancement, P, "QVImageEdgeEnhance", "EdgeEnhance:", "Image EdgeEnhance", "ImageEdgeEnhancePopup",
       0, nullptr},
      // Text
      {menu_tRGBSource, P, "QVTextRGBSource", "RGB Source:", "Text RGB Source", "TextRGBSourcePopup", 1, nullptr},
      {menu_tRGBIntent, P, "QVTextRenderIntent", "RGB Intent:", "Text RGB Intent", "TextRenderIntentPopup", 0,
       nullptr},
      {menu_tRGBGrayTreatment, P, "QVTextGrayTreatment", "RGB Gray Treatment:", "Text RGB Gray Treatment",
       "TextGrayTreatmentPopup", 0, nullptr},
      {menu_tDestinationProfile, P, "QVTextDestinationProfile", "Destination Profile:", "Text Destination Profile",
       "TextDestinationProfilePopup", 2, nullptr},
      {menu_tHalftone, P, "QVTextHalftone", "Halftone:", "Text Halftone", "", 0, nullptr},
      {menu_tEdgeEnhancement, P, "QVTextEdgeEnhance", "EdgeEnhance:", "Text EdgeEnhance", "TextEdgeEnhancePopup", 0,
       nullptr},
      // Graphics
      {menu_gRGBSource, P, "QVGraphicsRGBSource", "RGB Source:", "Graphics RGB Source", "GraphicsRGBSourcePopup", 1,
       nullptr},
      {menu_gRGBIntent, P, "QVGraphicsRenderIntent", "RGB Intent:", "Graphics RGB Intent",
       "GraphicsRenderIntentPopup", 0, nullptr},
      {menu_gRGBGrayTreatment, P, "QVGraphicsGrayTreatment", "RGB Gray Treatment:", "Graphics RGB Gray Treatment",
       "GraphicsGrayTreatmentPopup", 0, nullptr},
      {menu_gDestinationProfile, P, "QVGraphicsDestinationProfile", "Destination Profile:",
       "Graphics Destination Profile", "GraphicsDestinationProfilePopup", 2, nullptr},
      {menu_gHalftone, P, "QVGraphicsHalftone", "Halftone:", "Graphics Halftone", "", 0, nullptr},
      {menu_gEdgeEnhancement, P, "QVGraphicsEdgeEnhance", "EdgeEnhance:", "Graphics EdgeEnhance",
       "GraphicsEdgeEnhancePopup", 0, nullptr},
      // Simulation
      {menu_sSimulationProfile, P, "QVSimSource", "Simulation Profile:", "Simulation Profile",
       "SimulationSourcePopup", 3, nullptr},
      {menu_sMatchPaperColor, P, "QVSimRenderIntent", "Match Paper Color:", "Match Paper Color",
       "SimulationRenderIntentPopup", 0, nullptr},
      {menu_sCMYKGrayTreatment, P, "QVSimGrayTreatment", "CMYK Gray Treatment:", "CMYK Gray Treatment",
       "SimulationGrayTreatmentPopup", 0, nullptr},
      // Tab view and captions
      {tab_SwitchVew, kControlKindTabView, "", "Image", nullptr, "", 0, nullptr},
      {text_iRGBSource, T, "", "RGB Source:", nullptr, "", 0, nullptr},
      {text_iRGBIntent, T, "", "RGB Intent:", nullptr, "", 0, nullptr},
      {text_iRGBGrayTreatment, T, "", "RGB Gray Treatment:", nullptr, "", 0, nullptr},
      {text_iDestinationProfile, T, "", "Destination Profile:", nullptr, "", 0, nullptr},
      {text_iHalftone, T, "", "Halftone:", nullptr, "", 0, nullptr},
      {text_iEdgeEnhancement, T, "", "EdgeEnhance:", nullptr, "", 0, nullptr},
      {text_tRGBSource, T, "", "RGB Source:", nullptr, "", 0, nullptr},
      {text_tRGBIntent, T, "", "RGB Intent:", nullptr, "", 0, nullptr},
      {text_tRGBGrayTreatment, T, "", "RGB Gray Treatment:", nullptr, "", 0, nullptr},
      {text_tDestinationProfile, T, "", "Destination Profile:", nullptr, "", 0, nullptr},
      {text_tHalftone, T, "", "Halftone:", nullptr, "", 0, nullptr},
      {text_tEdgeEnhancement, T, "", "EdgeEnhance:", nullptr, "", 0, nullptr},
      {text_gRGBSource, T, "", "RGB Source:", nullptr, "", 0, nullptr},
      {text_gRGBIntent, T, "", "RGB Intent:", nullptr, "", 0, nullptr},
      {text_gRGBGrayTreatment, T, "", "RGB Gray Treatment:", nullptr, "", 0, nullptr},
      {text_gDestinationProfile, T, "", "Destination Profile:", nullptr, "", 0, nullptr},
      {text_gHalftone, T, "", "Halftone:", nullptr, "", 0, nullptr},
      {text_gEdgeEnhancement, T, "", "EdgeEnhance:", nullptr, "", 0, nullptr},
      {text_sSimulationProfile, T, "", "Simulation Profile:", nullptr, "", 0, nullptr},
      {text_sMatchPaperColor, T, "", "Match Paper Color:", nullptr, "", 0, nullptr},
      {text_sCMYKGrayTreatment, T, "", "CMYK Gray Treatment:", nullptr, "", 0, nullptr},
      // Buttons
      {button_ManageProfile, B, "", "Management Profile", nullptr, "", 0, nullptr},
      {button_DownloadManager, B, "", "Download Manager", nullptr, "", 0, nullptr},
      {button_HideAdvancedOptions, B, "", "Hide Advanced Options", nullptr, "", 0, nullptr},
      PDEControlTerminator(),
  };
  installControlTable(rows, kRowCount);

  if (tab_SwitchVew) tab_SwitchVew->selectTabViewItemAtIndex(0);
  // Only a user who may write the profile file manages profiles.
  if (button_ManageProfile) button_ManageProfile->setEnabled(QVPListIsAdminProfile() != 0);
}

void AdvancedColorOptions::createPDEItemForPPDKey() {
  PaneBase::createPDEItemForPPDKey();
  PDECommon::commonAddMenuFromProfilePlist(ctrlTable);
}

int AdvancedColorOptions::PresetIndex(int quickColor, bool eco, int row) {
  if (!IsPreset(quickColor) || row < 0 || row >= kPopUpCount) return -1;
  int index = kQuickColorPreset[row][quickColor];
  if (eco) {
    const EconomyOverride& o = kEconomyOverride[quickColor];
    for (int i = 0; i < o.count; ++i)
      if (o.rows[i] == row) index = 0;
  }
  return index;
}

// A preset index names a PPD choice. When the queue's PPD offers fewer
// choices for the option than the preset needs (or lacks the option), the
// preset leaves that menu as it is: selecting by position would otherwise
// pick a stored profile appended after the PPD choices, or nothing at all.
// The summary then reports the menu's current item, which is what prints.
int AdvancedColorOptions::UsablePresetIndex(int quickColor, bool eco, int row) const {
  if (ctrlTable == nullptr) return -1;
  const int index = PresetIndex(quickColor, eco, row);
  if (index < 0 || index >= PPDChoiceCount(ctrlTable[row])) return -1;
  return index;
}

void AdvancedColorOptions::changeItemAccodingQuickColor(int16_t quickColor, int16_t eco) {
  if (ctrlTable == nullptr || !IsPreset(quickColor)) return;
  // The preset first, then the economy overrides, as the menus would be
  // set by hand.
  for (int row = 0; row < kPopUpCount; ++row) {
    const int index = UsablePresetIndex(quickColor, false, row);
    auto menu = PopUp(ctrlTable[row]);
    if (menu && index >= 0) menu->selectItemAtIndex(index);
  }
  if (eco == 0) return;
  const EconomyOverride& o = kEconomyOverride[quickColor];
  for (int i = 0; i < o.count; ++i) {
    const int row = o.rows[i];
    const int index = UsablePresetIndex(quickColor, true, row);
    auto menu = PopUp(ctrlTable[row]);
    if (menu && index >= 0) menu->selectItemAtIndex(index);
  }
}

void AdvancedColorOptions::getSummaryItemAccodingQuickColor(int16_t quickColor, int16_t eco,
                                                            const cf::DictionaryRef& dict,
                                                            const cf::ArrayRef& array) {
  if (ctrlTable == nullptr || !IsPreset(quickColor)) return;
  auto report = [&](int row, int index) {
    auto menu = PopUp(ctrlTable[row]);
    if (!menu) return;
    std::string title;
    if (index >= 0) {
      title = menu->itemTitleAtIndex(index);
    } else if (menu->indexOfSelectedItem() >= 0) {
      title = menu->titleOfSelectedItem();  // left as it is at print time
    } else {
      return;
    }
    PDECommon::commonGetSummaryTextQuickColor(ctrlTable[row].itemName, cf::String::create(title), dict, array);
  };
  for (int row = 0; row < kPopUpCount; ++row) report(row, UsablePresetIndex(quickColor, false, row));
  if (eco == 0) return;
  // The overridden items once more; the later value replaces the earlier.
  const EconomyOverride& o = kEconomyOverride[quickColor];
  for (int i = 0; i < o.count; ++i) report(o.rows[i], UsablePresetIndex(quickColor, true, o.rows[i]));
}

// The Download Manager is an application bundle. On this platform a bundle
// is a directory whose program is "<app>/Contents/MacOS/<name without
// .app>"; a plain executable file at the path is started as it is. Anything
// else (missing path, no executable inside) launches nothing, silently.
std::string AdvancedColorOptions::DownloadManagerExecutable() {
  const std::string app = sys::ResolvePath(kDownloadManagerPath);
  if (sys::IsDirectory(app)) {
    std::string name = app.substr(app.find_last_of('/') + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0) name.resize(name.size() - 4);
    const std::string program = app + "/Contents/MacOS/" + name;
    if (sys::IsExecutableFile(program) && !sys::IsDirectory(program)) return program;
    return {};
  }
  if (sys::IsExecutableFile(app)) return app;
  return {};
}

void AdvancedColorOptions::downloadManagerButton(ui::NibObject*) {
  const std::string program = DownloadManagerExecutable();
  // No arguments; nothing waits for the application, and a failed start
  // is not reported, as a missing application is not.
  if (!program.empty()) (void)sys::LaunchDetached(program, {});
}

}  // namespace R2740_COLOR_NS
