// platform::ImageView — a view that shows an image, scaled to fit inside its
// bounds with its aspect ratio kept and centred. Without an image it shows
// nothing but its background.
#pragma once

#include <memory>

#include "platform/grid/Image.h"
#include "platform/grid/View.h"

namespace platform {

class ImageView : public View {
 public:
  using View::View;

  const std::shared_ptr<const Image>& image() const { return image_; }
  void setImage(std::shared_ptr<const Image> image) { image_ = std::move(image); }

  // Where the image is drawn, in the view's own coordinates: the largest
  // rectangle of the image's proportions that fits the bounds, centred. Empty
  // without an image.
  Rect imageRect() const;

 private:
  std::shared_ptr<const Image> image_;
};

}  // namespace platform
