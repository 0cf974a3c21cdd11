// VisualEffectView — puts the platform's blur view into a popup's view tree.
// The blur view is made without an effect; each update gives it `effect`.
#pragma once

#include <optional>
#include <string>

#include "platform/ui/ViewNode.h"

namespace tabulo {

// The platform's blur styles, with their raw values.
enum class BlurEffectStyle : int { extraLight = 0, light = 1, dark = 2, regular = 4, prominent = 5 };

class VisualEffectView {
 public:
  explicit VisualEffectView(std::optional<BlurEffectStyle> effect) : effect(effect) {}

  std::optional<BlurEffectStyle> effect;

  // A "visualEffect" node; its "blurStyle" property is the effect's raw
  // value, left out while there is no effect.
  platform::ViewNode node(const std::string& id) const;
};

}  // namespace tabulo
