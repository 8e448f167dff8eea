// Set-up shared by the colour plug-in's targets: a profile file for the
// current user with a few shown profiles, and the plug-in's panes over the
// test PPD with their control tables, as the panel builds them.
#pragma once

#include <cups/ppd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "AdvancedColorOptions.h"
#include "ColorOptions.h"
#include "ColorTextField.h"
#include "IconedCell.h"
#include "FuzzSupport.h"
#include "MainView.h"
#include "PDECommon.h"
#include "PainChangeController.h"
#include "ProfileControl.h"
#include "cf/plist.h"
#include "QVPList.h"
#include "system/system.h"
#include "ui/ui.h"

namespace fuzz {

namespace color = R2740_COLOR_NS;

// The current user's profile file: three shown profiles per list, on disk
// and on the card.
inline void WriteSampleProfileFile() {
  auto lists = std::make_unique<ProfileList[]>(3);
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 3; ++i) {
      ProfileEntry& e = lists[k].entry[i];
      e.IndexOnDevice = i + 1;
      e.InMenu = i == 2 ? kProfileStateUserShown : kProfileStateDeviceShown;
      e.ProfileClass = k;
      std::snprintf(e.FileName, sizeof e.FileName, "PROF%d_%d.ICC", k, i);
      std::snprintf(e.ProfileName, sizeof e.ProfileName, "Profile %d-%d", k, i);
      e.Location = i == 1 ? kProfileLocationCard : kProfileLocationDisk;
    }
    lists[k].iNum = 3;
  }
  // The store writes all 500 slots of every field; only the used ones are
  // kept, so that each read stays fast (absent slots read as empty).
  auto root = QVPListCreateRootDictionary(&lists[0], &lists[1], &lists[2]);
  for (const char* kind : {"RGB", "SIM", "DST"}) {
    auto fields = root->get<cf::Dictionary>(kind);
    for (const auto& name : fields->keys()) {
      auto slots = cf::As<cf::Dictionary>(fields->getValue(name));
      if (!slots) continue;
      for (const auto& key : slots->keys()) {
        auto k = cf::As<cf::String>(key);
        const std::string text = k ? k->utf8() : "";
        if (text.size() >= 4 && text.substr(text.size() - 4) >= "0004") slots->removeValue(key);
      }
    }
  }
  ProfileFolder();
  if (!cf::PropertyListWriteToFile(root, QVPListCurrentPath())) abort();
}

class FuzzOwner : public ui::NibObject {
 public:
  FuzzOwner() {
    outlet("pdeMainView", &pdeMainView);
    outlet("onColorView", &onColorView);
    outlet("onAdvancedView", &onAdvancedView);
    outlet("painChange", &painChange);
    outlet("profileControl", &profileControl);
    action("selectItem:", [](ui::NibObject*) {});
    action("constraints:", [](ui::NibObject*) {});
  }
  std::shared_ptr<color::MainView> pdeMainView;
  std::shared_ptr<color::ColorOptions> onColorView;
  std::shared_ptr<color::AdvancedColorOptions> onAdvancedView;
  std::shared_ptr<color::PainChangeController> painChange;
  std::shared_ptr<color::ProfileControl> profileControl;
};

// Both panes with their tables and the compound table, built once.
struct Panes {
  Panes() {
    namespace fs = std::filesystem;
    fs::path bundlePath = fs::path(TempRoot()) / "ColorFuzz.plugin";
    fs::create_directories(bundlePath / "Contents");
    fs::copy(std::string(R2740_SOURCE_DIR) + "/color-pde/resources", bundlePath / "Contents/Resources",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const char* info =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleIdentifier</key><string>jp.orvessa.fuzz.color</string>"
        "<key>CFBundleDevelopmentRegion</key><string>en</string></dict></plist>\n";
    WriteFile((bundlePath / "Contents/Info.plist").string(), info, std::strlen(info));
    bundle = bndl::Bundle::bundleWithPath(bundlePath.string());
    if (!bundle) abort();
    color::PDECommon::commonSetPlugInBundle(bundle);
    registry.registerClass<color::ColorOptions>("ColorOptions");
    registry.registerClass<color::AdvancedColorOptions>("AdvancedColorOptions");
    registry.registerClass<color::PainChangeController>("PainChangeController");
    registry.registerClass<color::MainView>("MainView");
    registry.registerClass<color::ProfileControl>("ProfileControl");
    registry.registerClass<color::QVTextField>("QVTextField");
    registry.registerClass<color::IconedCell>("IconedCell");
    owner = std::make_shared<FuzzOwner>();
    nib = ui::LoadNibNamed(*bundle, "PDEMain", owner, registry);
    if (!nib.ok || !owner->onColorView || !owner->onAdvancedView) {
      std::fprintf(stderr, "colour panes: %s\n", nib.error.c_str());
      abort();
    }
    ppd = ppdOpenFile((std::string(R2740_SOURCE_DIR) + "/color-pde/tests/data/panes_full.ppd").c_str());
    if (!ppd) abort();
    ppdMarkDefaults(ppd);
    session.setCurrentPrinter(&printer);
    color::PaneBase* panes[] = {owner->onAdvancedView.get(), owner->onColorView.get()};
    for (color::PaneBase* pane : panes) {
      pane->setPMPrint(&settings, &session);
      pane->setPPDFile(ppd);
      pane->createPDEControlTable();
    }
    color::PDEControlTable tables[2] = {owner->onColorView->getControlData(), owner->onAdvancedView->getControlData()};
    compTable = color::PDECommon::commonControlTableCompound(tables, 2);
    owner->onAdvancedView->createPDEItemForPPDKey();
    owner->onColorView->createPDEItemForPPDKey();
    owner->onColorView->defaultFromPPDInfo();
    owner->onAdvancedView->defaultFromPPDInfo();
  }

  bndl::BundleRef bundle;
  ui::NibClassRegistry registry;
  std::shared_ptr<FuzzOwner> owner;
  ui::NibLoadResult nib;
  ppd_file_t* ppd = nullptr;
  pm::PrintSettings settings;
  pm::PrintSession session;
  pm::Printer printer{"R2740_Queue_1", "lpd://127.0.0.1/queue"};
  color::PDEControlTable compTable = nullptr;
};

}  // namespace fuzz
