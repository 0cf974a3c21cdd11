// platform::Label — a view that shows one line of text in a font size, a
// colour and a horizontal alignment, centred vertically in its bounds. Text
// that does not fit is cut off at the label's edges.
#pragma once

#include <string>

#include "platform/grid/View.h"

namespace platform {

class Label : public View {
 public:
  enum class Alignment { left, center, right };

  using View::View;

  const std::string& text() const { return text_; }
  void setText(std::string text) { text_ = std::move(text); }

  const Color& textColor() const { return textColor_; }
  void setTextColor(const Color& color) { textColor_ = color; }

  Alignment textAlignment() const { return alignment_; }
  void setTextAlignment(Alignment alignment) { alignment_ = alignment; }

  // Size of the system font, in points.
  double fontSize() const { return fontSize_; }
  void setFontSize(double size) { fontSize_ = size; }

 private:
  std::string text_;
  Color textColor_{0, 0, 0, 1};
  Alignment alignment_ = Alignment::left;
  double fontSize_ = 17;
};

}  // namespace platform
