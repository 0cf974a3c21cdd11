// StarEvaluationView — the row of five stars of the rating popup. It keeps
// its own selection (0 until a star is tapped); a tap on star n fills stars 1
// to n and reports n. There is no way back to no star.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/ui/ViewNode.h"

namespace tabulo {

inline constexpr const char* kStarSelectedImage = "starSelected";
inline constexpr const char* kStarDeselectedImage = "starDeselected";

class StarEvaluationView {
 public:
  static constexpr int64_t starCount = 5;

  explicit StarEvaluationView(std::function<void(int64_t)> onStarSelected)
      : onStarSelected(std::move(onStarSelected)) {}

  int64_t currentSelection() const { return currentSelection_; }
  std::function<void(int64_t)> onStarSelected;

  // A tap on star `star` (1 to 5); any other number is no star and is ignored.
  void tapStar(int64_t star);

  // The action name of star `star` in node(): "star.<n>".
  static std::string starAction(int64_t star);
  platform::ViewNode node() const;

 private:
  int64_t currentSelection_ = 0;
};

}  // namespace tabulo
