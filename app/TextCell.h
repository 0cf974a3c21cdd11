// TextCell — the grid cell that shows a text.
//
// Its `label` shows the system font at 14 points, laid out over the cell's
// bounds inset by 4 points left and right and 2 points at the top and bottom.
// A selected cell is tinted blue at 20 % opacity over its background. The
// grid data source sets the label's text, colour and alignment and the cell's
// background for each position; a reused cell starts empty (no text, black,
// left-aligned, no background).
#pragma once

#include <memory>

#include "platform/grid/Cell.h"
#include "platform/grid/Label.h"

namespace tabulo {

// The reuse identifier the data source registers TextCell under.
inline constexpr const char* kTextCellIdentifier = "TextCell";

class TextCell : public platform::Cell {
 public:
  explicit TextCell(platform::Rect frame = {});

  const std::shared_ptr<platform::Label>& label() const { return label_; }

  void setFrame(const platform::Rect& frame) override;
  void prepareForReuse() override;

 private:
  std::shared_ptr<platform::Label> label_;
};

}  // namespace tabulo
