#include "platform/grid/ImageView.h"

#include <algorithm>

namespace platform {

Rect ImageView::imageRect() const {
  if (!image_) return {};
  Rect box = bounds();
  double scale = std::min(box.width / image_->width(), box.height / image_->height());
  double width = image_->width() * scale;
  double height = image_->height() * scale;
  return {(box.width - width) / 2, (box.height - height) / 2, width, height};
}

}  // namespace platform
