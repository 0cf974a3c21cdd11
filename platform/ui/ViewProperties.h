// platform::ViewProperties, Slider and SegmentedControl — the state of the
// simple views a screen's layout holds (labels, image views, plain views,
// sliders, segmented controls), kept by the screen and shown in its snapshot.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ViewNode.h"

namespace platform {

struct ViewProperties {
  std::optional<std::string> text;
  std::optional<ViewColor> backgroundColor;
  std::optional<ViewColor> tintColor;
  bool hidden = false;
  // A tap gesture recogniser is attached (its action is the screen's).
  bool receivesTaps = false;
};

struct Slider {
  float minimumValue = 0;
  float maximumValue = 1;
  float value = 0;

  // Sets the value within the range; a value that is not a number is ignored.
  void setValue(float newValue, bool /*animated*/ = false) {
    if (std::isnan(newValue)) return;
    value = newValue < minimumValue ? minimumValue : newValue > maximumValue ? maximumValue : newValue;
  }
};

struct SegmentedControl {
  std::vector<std::string> segments;
  int64_t selectedSegmentIndex = -1;  // none
};

}  // namespace platform
