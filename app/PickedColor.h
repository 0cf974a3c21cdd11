// Colours between the document's ColorRepresentation and the UI layer.
//
// A colour picked in the colour picker is taken component by component: a
// component that is not a finite number leaves the stored one as it was, the
// others are clamped to 0..1. The picked alpha is dropped: documents keep
// opaque colours.
#pragma once

#include <algorithm>
#include <cmath>

#include "app/ColorRepresentation.h"
#include "platform/ui/ViewNode.h"

namespace tabulo {

inline platform::ViewColor viewColor(const ColorRepresentation& color) {
  return {color.red, color.green, color.blue, 1};
}

inline void takePickedColor(const platform::ViewColor& picked, ColorRepresentation& target) {
  auto take = [](double component, float& stored) {
    if (std::isfinite(component)) stored = static_cast<float>(std::clamp(component, 0.0, 1.0));
  };
  take(picked.red, target.red);
  take(picked.green, target.green);
  take(picked.blue, target.blue);
}

}  // namespace tabulo
