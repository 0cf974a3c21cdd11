#include "platform/grid/View.h"

#include <algorithm>

namespace platform {

Rect Rect::insetBy(double dx, double dy) const {
  return {x + dx, y + dy, std::max(0.0, width - 2 * dx), std::max(0.0, height - 2 * dy)};
}

bool Rect::intersects(const Rect& other) const {
  return x < other.maxX() && other.x < maxX() && y < other.maxY() && other.y < maxY();
}

void View::setFrame(const Rect& frame) {
  double dw = frame.width - frame_.width;
  double dh = frame.height - frame_.height;
  frame_ = frame;
  if (dw == 0 && dh == 0) return;
  for (const auto& subview : subviews_) {
    if (!subview->resizesWithParent()) continue;
    Rect own = subview->frame();
    own.width = std::max(0.0, own.width + dw);
    own.height = std::max(0.0, own.height + dh);
    subview->setFrame(own);
  }
}

void View::addSubview(std::shared_ptr<View> view) {
  if (view) subviews_.push_back(std::move(view));
}

}  // namespace platform
