#include "app/TextCell.h"

#include "app/CellStyle.h"

namespace tabulo {

TextCell::TextCell(platform::Rect frame) : label_(std::make_shared<platform::Label>()) {
  setSelectedBackgroundView(makeSelectedBackgroundView(bounds()));
  label_->setResizesWithParent(true);
  label_->setFontSize(kCellFontSize);
  label_->setTextAlignment(platform::Label::Alignment::left);
  contentView()->addSubview(label_);
  setFrame(frame);
}

void TextCell::setFrame(const platform::Rect& frame) {
  platform::Cell::setFrame(frame);
  label_->setFrame(bounds().insetBy(kCellHorizontalInset, kCellVerticalInset));
}

void TextCell::prepareForReuse() {
  platform::Cell::prepareForReuse();
  label_->setText({});
  label_->setTextColor(platform::Color{0, 0, 0, 1});
  label_->setTextAlignment(platform::Label::Alignment::left);
}

}  // namespace tabulo
