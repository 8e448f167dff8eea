// The pane controller without an interface file: switching panes in the
// container, the gathering of tables, and the panel's factory entry.
#include <gtest/gtest.h>

#include "AdvancedColorOptions.h"
#include "ColorOptions.h"
#include "ColorTestSupport.h"
#include "PDEPlugIn.h"
#include "PainChangeController.h"

using namespace colortest;

namespace {

ui::Rect R(double x, double y, double w, double h) { return ui::Rect{ui::Point{x, y}, ui::Size{w, h}}; }

struct Panes {
  Panes() {
    controller->onColorView = color;
    controller->onAdvancedView = advanced;
    container->setBounds(R(5, 7, 300, 200));
    container->addSubview(color);
  }
  std::shared_ptr<ns::PainChangeController> controller = std::make_shared<ns::PainChangeController>();
  std::shared_ptr<ns::ColorOptions> color = std::make_shared<ns::ColorOptions>();
  std::shared_ptr<ns::AdvancedColorOptions> advanced = std::make_shared<ns::AdvancedColorOptions>();
  std::shared_ptr<ui::View> container = std::make_shared<ui::View>();
};

}  // namespace

TEST(ColorPaneSwitch, PanesTakeTurnsInTheContainerAtItsSize) {
  Panes p;
  // Without a table the advanced pane cannot be shown.
  p.controller->onMainCustomView = p.container;
  p.controller->ColorToAdvancedView(nullptr);
  ASSERT_EQ(p.container->subviews().size(), 1u);
  EXPECT_EQ(p.container->subviews()[0], p.color);

  PPD ppd;
  p.color->setPPDFile(ppd.ppd);
  p.advanced->setPPDFile(ppd.ppd);
  p.controller->creatPDEControlTableEachView();
  p.controller->ColorToAdvancedView(nullptr);
  ASSERT_EQ(p.container->subviews().size(), 1u);
  EXPECT_EQ(p.container->subviews()[0], p.advanced);
  EXPECT_EQ(p.advanced->bounds(), R(0, 0, 300, 200));
  EXPECT_EQ(p.color->superview(), nullptr);

  p.controller->ShowAdvancedToColorView();
  p.controller->ShowAdvancedToColorView();
  ASSERT_EQ(p.container->subviews().size(), 1u);
  EXPECT_EQ(p.container->subviews()[0], p.color);
  EXPECT_EQ(p.color->bounds(), R(0, 0, 300, 200));

  // The hide button's action goes back to the colour pane.
  p.controller->SHowColorToAdvancedView();
  EXPECT_TRUE(p.controller->performAction("AdvancedToColorView:", nullptr));
  EXPECT_EQ(p.container->subviews()[0], p.color);
  p.controller->deallocPDEControlTableEachView();
  EXPECT_EQ(p.color->getControlData(), nullptr);
  EXPECT_EQ(p.advanced->getControlData(), nullptr);
}

TEST(ColorPaneSwitch, NoContainerMeansZeroBoundsAndNoViewChange) {
  Panes p;
  PPD ppd;
  p.color->setPPDFile(ppd.ppd);
  p.advanced->setPPDFile(ppd.ppd);
  p.controller->creatPDEControlTableEachView();
  p.advanced->setBounds(R(1, 2, 3, 4));
  p.controller->SHowColorToAdvancedView();
  EXPECT_EQ(p.advanced->bounds(), R(0, 0, 0, 0));
  EXPECT_EQ(p.advanced->superview(), nullptr);
  EXPECT_EQ(p.container->subviews()[0], p.color);
}

TEST(ColorPaneSwitch, TablesAreGatheredColourFirst) {
  Panes p;
  PPD ppd;
  p.color->setPPDFile(ppd.ppd);
  p.advanced->setPPDFile(ppd.ppd);
  p.controller->creatPDEControlTableEachView();
  EXPECT_EQ(p.controller->getControlCountEachView(), 11 + 47);

  ns::PDEControlTable tables[5];
  for (auto& t : tables) t = reinterpret_cast<ns::PDEControlTable>(&tables);
  EXPECT_EQ(p.controller->getControlDataEachView(tables, 5), 2);
  EXPECT_EQ(tables[0], p.color->getControlData());
  EXPECT_EQ(tables[1], p.advanced->getControlData());
  for (int i = 2; i < 5; ++i) EXPECT_EQ(tables[i], nullptr);
  ns::PDEControlTable one[1] = {nullptr};
  EXPECT_EQ(p.controller->getControlDataEachView(one, 1), 0);
  EXPECT_EQ(p.controller->getControlDataEachView(nullptr, 5), 0);

}

TEST(ColorPanel, WithoutInterfaceFileEverythingAnswersEmpty) {
  // No bundle is known to this process: the panel loads nothing and its
  // protocol answers stay harmless.
  ns::PDECommon::commonSetPlugInBundle(nullptr);
  auto panel = ns::PDEPlugInInterface::initWithCallback(nullptr);
  EXPECT_EQ(panel->panelName()->utf8(), "Color Options");
  EXPECT_EQ(panel->panelKind()->utf8(), R2740_PANEL_KIND);
  EXPECT_TRUE(panel->supportedPPDOptionKeys()->empty());
  EXPECT_EQ(panel->panelView(), nullptr);
  EXPECT_TRUE(panel->restoreValuesAndReturnError(nullptr));
  auto summary = panel->summaryInfo();
  ASSERT_EQ(summary->count(), 1u);
  EXPECT_TRUE(summary->get<cf::Array>("Summary Display Order")->empty());
  EXPECT_TRUE(panel->saveValuesAndReturnError(nullptr));
  EXPECT_TRUE(panel->shouldPrint());
  panel->willShow();
  EXPECT_TRUE(panel->allViews().empty());
  panel->terminate();

  ns::PDEPlugIn factory;
  EXPECT_FALSE(factory.PDEPanelsForType(cf::str(pde::kGeneralPanelType), nullptr).has_value());
  auto panels = factory.PDEPanelsForType(cf::str(pde::kPrinterModuleType), nullptr);
  ASSERT_TRUE(panels.has_value());
  EXPECT_EQ(panels->size(), 1u);
}
