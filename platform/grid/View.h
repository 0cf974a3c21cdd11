// platform::View — the small view layer under the grid: rectangles, opaque
// or translucent colours, and a view with a frame, a background colour and
// subviews.
//
// A view's frame is in its parent's coordinates; its bounds are the same size
// at the origin. A subview that `resizesWithParent` grows and shrinks with its
// parent: when the parent's size changes, the subview's width and height change
// by the same amounts. Views are held by shared_ptr; a parent owns its
// subviews. Nothing here draws: the grid's renderer walks the views.
#pragma once

#include <memory>
#include <optional>
#include <vector>

namespace platform {

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  // The rectangle moved in by `dx` on the left and right and `dy` at the top
  // and bottom; never narrower or lower than 0.
  Rect insetBy(double dx, double dy) const;
  bool intersects(const Rect& other) const;

  friend bool operator==(const Rect&, const Rect&) = default;
};

// A colour with components from 0 to 1.
struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  friend bool operator==(const Color&, const Color&) = default;
};

class View {
 public:
  explicit View(Rect frame = {}) : frame_(frame) {}
  virtual ~View() = default;
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  const Rect& frame() const { return frame_; }
  // Sets the frame and resizes the subviews that resize with their parent.
  virtual void setFrame(const Rect& frame);
  Rect bounds() const { return {0, 0, frame_.width, frame_.height}; }

  // None draws nothing behind the view's content.
  const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<Color> color) { backgroundColor_ = color; }

  bool resizesWithParent() const { return resizesWithParent_; }
  void setResizesWithParent(bool resizes) { resizesWithParent_ = resizes; }

  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }

  void addSubview(std::shared_ptr<View> view);
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }

 private:
  Rect frame_;
  std::optional<Color> backgroundColor_;
  bool resizesWithParent_ = false;
  bool hidden_ = false;
  std::vector<std::shared_ptr<View>> subviews_;
};

}  // namespace platform
