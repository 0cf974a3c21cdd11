// ImageCell — the grid cell that shows a photo.
//
// Its `imageView` fits the photo, aspect ratio kept, inside the cell's bounds
// inset by 4 points left and right and 2 points at the top and bottom. A
// selected cell is tinted blue at 20 % opacity. The grid data source sets the
// image for each position; a reused cell starts without one, so a cell whose
// photo cannot be read shows no image rather than another cell's.
#pragma once

#include <memory>

#include "platform/grid/Cell.h"
#include "platform/grid/ImageView.h"

namespace tabulo {

// The reuse identifier the data source registers ImageCell under.
inline constexpr const char* kImageCellIdentifier = "ImageCell";

class ImageCell : public platform::Cell {
 public:
  explicit ImageCell(platform::Rect frame = {});

  const std::shared_ptr<platform::ImageView>& imageView() const { return imageView_; }

  void setFrame(const platform::Rect& frame) override;
  void prepareForReuse() override;

 private:
  std::shared_ptr<platform::ImageView> imageView_;
};

}  // namespace tabulo
