#include "platform/grid/Cell.h"

namespace platform {

Cell::Cell(Rect frame) : View(frame), contentView_(std::make_shared<View>(bounds())) {
  contentView_->setResizesWithParent(true);
}

void Cell::setSelectedBackgroundView(std::shared_ptr<View> view) {
  selectedBackgroundView_ = std::move(view);
  if (selectedBackgroundView_) {
    selectedBackgroundView_->setFrame(bounds());
    selectedBackgroundView_->setHidden(!selected_);
  }
}

void Cell::setSelected(bool selected) {
  selected_ = selected;
  if (selectedBackgroundView_) selectedBackgroundView_->setHidden(!selected);
}

void Cell::prepareForReuse() {
  setBackgroundColor(std::nullopt);
  setSelected(false);
}

void Cell::setFrame(const Rect& frame) {
  View::setFrame(frame);
  contentView_->setFrame(bounds());
  if (selectedBackgroundView_) selectedBackgroundView_->setFrame(bounds());
}

}  // namespace platform
