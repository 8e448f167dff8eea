// Helpers of the colour plug-in's unit tests: a scratch bundle with
// localized strings, the test PPD, and rows over real widgets.
#pragma once

#include <cups/ppd.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "PDECommon.h"
#include "PDEControlTable.h"
#include "ui/ui.h"

namespace colortest {

namespace ns = R2740_COLOR_NS;

inline std::string TestPPDPath() { return std::string(R2740_SOURCE_DIR) + "/color-pde/tests/data/test.ppd"; }

// An opened PPD with its defaults marked, closed on scope exit.
struct PPD {
  explicit PPD(const std::string& path = TestPPDPath()) : ppd(ppdOpenFile(path.c_str())) {
    if (ppd) ppdMarkDefaults(ppd);
  }
  ~PPD() {
    if (ppd) ppdClose(ppd);
  }
  PPD(const PPD&) = delete;
  PPD& operator=(const PPD&) = delete;
  ppd_file_t* ppd;
};

// A bundle in a temporary folder whose en.lproj/Localizable.strings holds
// `strings` (the .strings text). Removed on scope exit.
class ScratchBundle {
 public:
  explicit ScratchBundle(const std::string& strings) {
    char tmpl[] = "/tmp/r2740-color-test-XXXXXX";
    dir_ = mkdtemp(tmpl);
    std::string contents = dir_ + "/Test.plugin/Contents";
    std::filesystem::create_directories(contents + "/Resources/en.lproj");
    std::ofstream(contents + "/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>test.color</string>"
           "<key>CFBundleDevelopmentRegion</key><string>en</string></dict></plist>\n";
    std::ofstream(contents + "/Resources/en.lproj/Localizable.strings") << strings;
    setenv("R2740_LANG", "en", 1);
    bundle_ = bndl::Bundle::bundleWithPath(dir_ + "/Test.plugin");
  }
  ~ScratchBundle() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const bndl::BundleRef& bundle() const { return bundle_; }

 private:
  std::string dir_;
  bndl::BundleRef bundle_;
};

inline ns::PDEControlRecord Row(std::shared_ptr<ui::View> control, int32_t kind, const char* ppdKey,
                                const char* titleKey = nullptr, const char* itemName = nullptr,
                                const char* controlName = "", uint16_t profileType = 0) {
  return ns::PDEControlRecord{std::move(control), kind, ppdKey, titleKey, itemName, controlName, profileType,
                              nullptr};
}

// A heap table of the given rows plus the terminator, with the choice lists
// of bound rows read from the PPD.
struct Table {
  Table(std::initializer_list<ns::PDEControlRecord> rows, ppd_file_t* ppd) {
    table = ns::NewControlTable(rows.size() + 1);
    size_t i = 0;
    for (const auto& r : rows) table[i++] = r;
    for (ns::PDEControlRecord* row = table; row->kind != kControlKindEnd; ++row)
      if (*row->ppdKey) ns::PDECommon::commonGetPPDArrayForUIOption(ppd, row->ppdKey, &row->choices);
  }
  ~Table() { ns::FreeControlTable(table); }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  ns::PDEControlRecord& operator[](size_t i) { return table[i]; }
  ns::PDEControlTable table;
};

inline std::shared_ptr<ui::PopUpButton> PopUp() { return std::make_shared<ui::PopUpButton>(); }
inline std::shared_ptr<ui::Button> CheckBox() {
  auto b = std::make_shared<ui::Button>();
  b->setButtonType(ui::ButtonType::Switch);
  return b;
}

}  // namespace colortest
