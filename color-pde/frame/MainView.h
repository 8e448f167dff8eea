// The class of the panel's top view in the interface file.
#pragma once

#include "BuildSuffix.h"
#include "ui/ui.h"

namespace R2740_COLOR_NS {

class MainView : public ui::View {
 public:
  std::string className() const override { return "MainView"; }
};

}  // namespace R2740_COLOR_NS
