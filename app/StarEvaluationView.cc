#include "app/StarEvaluationView.h"

#include <string>

namespace tabulo {

void StarEvaluationView::tapStar(int64_t star) {
  if (star < 1 || star > starCount) return;
  currentSelection_ = star;
  if (onStarSelected) onStarSelected(star);
}

std::string StarEvaluationView::starAction(int64_t star) { return "star." + std::to_string(star); }

platform::ViewNode StarEvaluationView::node() const {
  platform::ViewNode row("stack", "stars");
  row.properties = {{"axis", "horizontal"}, {"alignment", "center"}, {"spacing", "2"}};
  for (int64_t star = 1; star <= starCount; ++star) {
    platform::ViewNode& image = row.add(platform::ViewNode("image", starAction(star)));
    image.selected = star <= currentSelection_;
    image.properties = {{"imageName", image.selected ? kStarSelectedImage : kStarDeselectedImage},
                        {"width", "33"},
                        {"height", "33"},
                        {"alignment", "leading"},
                        {"resizable", "true"}};
    image.action = starAction(star);
  }
  return row;
}

}  // namespace tabulo
