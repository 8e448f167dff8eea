// Builds the colour panel's views from the bundle's interface file, as the
// panel does, over a small test PPD: both panes with their tables and items,
// the compound table, print settings and a session with a current printer.
#pragma once

#include <cups/ppd.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "AdvancedColorOptions.h"
#include "ColorOptions.h"
#include "ColorPresetRules.h"
#include "ColorTextField.h"
#include "IconedCell.h"
#include "MainView.h"
#include "PDECommon.h"
#include "PainChangeController.h"
#include "ProfileControl.h"
#include "bundle/bundle.h"
#include "printing/printing.h"
#include "ui/ui.h"

namespace R2740_COLOR_NS {
namespace panes_test {

namespace fs = std::filesystem;

inline std::string SourcePath(const std::string& rel) { return std::string(R2740_SOURCE_DIR) + "/" + rel; }

// The file's owner as the panel object: the outlets it must receive and the
// two rule actions.
class TestOwner : public ui::NibObject {
 public:
  TestOwner() {
    outlet("pdeMainView", &pdeMainView);
    outlet("onColorView", &onColorView);
    outlet("onAdvancedView", &onAdvancedView);
    outlet("painChange", &painChange);
    outlet("profileControl", &profileControl);
    action("selectItem:", [this](ui::NibObject*) {
      ++selectItemCount;
      if (onColorView) vColorPresetConstraints(onColorView->getControlData());
    });
    action("constraints:", [this](ui::NibObject*) {
      ++constraintsCount;
      vColorPresetConstraints(compTable);
    });
  }
  std::shared_ptr<MainView> pdeMainView;
  std::shared_ptr<ColorOptions> onColorView;
  std::shared_ptr<AdvancedColorOptions> onAdvancedView;
  std::shared_ptr<PainChangeController> painChange;
  std::shared_ptr<ProfileControl> profileControl;
  PDEControlTable compTable = nullptr;
  int selectItemCount = 0;
  int constraintsCount = 0;
};

// A bundle directory holding the plug-in's resources, in a temp folder.
inline fs::path MakeTestBundle(const fs::path& dir) {
  fs::path bundle = dir / "ColorTest.plugin";
  fs::create_directories(bundle / "Contents");
  fs::copy(SourcePath("color-pde/resources"), bundle / "Contents/Resources", fs::copy_options::recursive);
  FILE* f = fopen((bundle / "Contents/Info.plist").c_str(), "w");
  fputs(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\"><dict>"
      "<key>CFBundleIdentifier</key><string>jp.orvessa.test.colorpanes</string>"
      "<key>CFBundleDevelopmentRegion</key><string>en</string>"
      "</dict></plist>\n",
      f);
  fclose(f);
  return bundle;
}

class PanesTest : public ::testing::Test {
 protected:
  // Subclasses may pick another PPD before SetUp.
  std::string ppdPath = SourcePath("color-pde/tests/data/panes_full.ppd");

  void SetUp() override {
    setenv("R2740_LANG", "en", 1);
    tmp = fs::temp_directory_path() / ("panes_test_" + std::to_string(getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(tmp);
    fs::create_directories(tmp);
    std::string error;
    bundle = bndl::Bundle::bundleWithPath(MakeTestBundle(tmp).string(), &error);
    ASSERT_TRUE(bundle) << error;
    PDECommon::commonSetPlugInBundle(bundle);

    registry.registerClass<ColorOptions>("ColorOptions");
    registry.registerClass<AdvancedColorOptions>("AdvancedColorOptions");
    registry.registerClass<PainChangeController>("PainChangeController");
    registry.registerClass<MainView>("MainView");
    registry.registerClass<ProfileControl>("ProfileControl");
    registry.registerClass<QVTextField>("QVTextField");
    registry.registerClass<IconedCell>("IconedCell");

    owner = std::make_shared<TestOwner>();
    nib = ui::LoadNibNamed(*bundle, "PDEMain", owner, registry);
    ASSERT_TRUE(nib.ok) << nib.error;
    ASSERT_TRUE(owner->onColorView && owner->onAdvancedView && owner->painChange);
    color = owner->onColorView;
    advanced = owner->onAdvancedView;

    ppd = ppdOpenFile(ppdPath.c_str());
    ASSERT_NE(ppd, nullptr) << ppdPath;
    ppdMarkDefaults(ppd);

    session.setCurrentPrinter(&printer);
    for (PaneBase* pane : {static_cast<PaneBase*>(advanced.get()), static_cast<PaneBase*>(color.get())}) {
      pane->setPMPrint(&settings, &session);
      pane->setPPDFile(ppd);
      pane->createPDEControlTable();
    }
    PDEControlTable tables[2] = {color->getControlData(), advanced->getControlData()};
    compTable = PDECommon::commonControlTableCompound(tables, 2);
    owner->compTable = compTable;
    advanced->createPDEItemForPPDKey();
    color->createPDEItemForPPDKey();
    color->defaultFromPPDInfo();
    advanced->defaultFromPPDInfo();
  }

  void TearDown() override {
    FreeControlTable(compTable);
    if (advanced) advanced->deallocPDEControlTable();
    if (color) color->deallocPDEControlTable();
    if (ppd) ppdClose(ppd);
    PDECommon::commonSetPlugInBundle(nullptr);
    std::error_code ec;
    fs::remove_all(tmp, ec);
  }

  // The pop-up or checkbox of a row found by its rule name.
  ui::Control* ByRuleName(const char* name) {
    PDEControlRecord* row = FindRuleControl(compTable, name);
    return row ? dynamic_cast<ui::Control*>(row->control.get()) : nullptr;
  }

  // The advanced pane's 21 pop-up menus in table order.
  std::vector<std::shared_ptr<ui::PopUpButton>> AdvancedMenus() {
    std::vector<std::shared_ptr<ui::PopUpButton>> out;
    PDEControlTable t = advanced->getControlData();
    for (int i = 0; i < AdvancedColorOptions::kPopUpCount; ++i)
      out.push_back(std::dynamic_pointer_cast<ui::PopUpButton>(t[i].control));
    return out;
  }

  fs::path tmp;
  bndl::BundleRef bundle;
  ui::NibClassRegistry registry;
  std::shared_ptr<TestOwner> owner;
  ui::NibLoadResult nib;
  std::shared_ptr<ColorOptions> color;
  std::shared_ptr<AdvancedColorOptions> advanced;
  ppd_file_t* ppd = nullptr;
  pm::PrintSettings settings;
  pm::PrintSession session;
  pm::Printer printer{"R2740_Queue_1", "lpd://127.0.0.1/queue"};
  PDEControlTable compTable = nullptr;
};

}  // namespace panes_test
}  // namespace R2740_COLOR_NS
