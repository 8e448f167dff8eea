// The profile table's icon cell: draws the image it holds (the mark of a
// profile found on the printer) at 16 x 16 near the cell's left edge, and
// nothing else, not even text.
#pragma once

#include <optional>
#include <string>

#include "BuildSuffix.h"
#include "ui/containers.h"

namespace R2740_COLOR_NS {

class IconedCell : public ui::Cell {
 public:
  std::string className() const override { return "IconedCell"; }
  // Where the image goes: 3 points in from the left; in a flipped view the
  // origin moves down one 16-point row, so the image's lower-left corner
  // sits at the row's bottom. Nothing without an image.
  std::optional<ui::Rect> imageRectForFrame(ui::Rect frame, bool flipped) const override;
  // The same for a cell drawn in a view (its flipped state decides).
  std::optional<ui::Rect> drawInteriorWithFrame(ui::Rect frame, const ui::View* view) const {
    return imageRectForFrame(frame, view && view->isFlipped());
  }
};

}  // namespace R2740_COLOR_NS
