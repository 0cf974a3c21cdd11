#include "app/ImageCell.h"

#include "app/CellStyle.h"

namespace tabulo {

ImageCell::ImageCell(platform::Rect frame) : imageView_(std::make_shared<platform::ImageView>()) {
  setSelectedBackgroundView(makeSelectedBackgroundView(bounds()));
  imageView_->setResizesWithParent(true);
  contentView()->addSubview(imageView_);
  setFrame(frame);
}

void ImageCell::setFrame(const platform::Rect& frame) {
  platform::Cell::setFrame(frame);
  imageView_->setFrame(bounds().insetBy(kCellHorizontalInset, kCellVerticalInset));
}

void ImageCell::prepareForReuse() {
  platform::Cell::prepareForReuse();
  imageView_->setImage(nullptr);
}

}  // namespace tabulo
