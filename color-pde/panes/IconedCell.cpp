#include "IconedCell.h"

namespace R2740_COLOR_NS {

std::optional<ui::Rect> IconedCell::imageRectForFrame(ui::Rect frame, bool flipped) const {
  ui::ImageRef img = image();
  if (!img) return std::nullopt;
  img->setSize({16, 16});
  ui::Rect r;
  r.origin.x = frame.origin.x + 3;
  r.origin.y = frame.origin.y + (flipped ? 16 : 0);
  r.size = {16, 16};
  return r;
}

}  // namespace R2740_COLOR_NS
