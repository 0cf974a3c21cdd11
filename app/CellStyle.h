// Look shared by the grid's cell classes.
#pragma once

#include <memory>

#include "platform/grid/View.h"

namespace tabulo {

// Content insets of a cell: left and right, top and bottom.
inline constexpr double kCellHorizontalInset = 4;
inline constexpr double kCellVerticalInset = 2;
inline constexpr double kCellFontSize = 14;

// The view shown behind a selected cell's content: blue at 20 % opacity.
inline std::shared_ptr<platform::View> makeSelectedBackgroundView(const platform::Rect& bounds) {
  auto view = std::make_shared<platform::View>(bounds);
  view->setBackgroundColor(platform::Color{0, 0, 1, 0.2});
  return view;
}

}  // namespace tabulo
