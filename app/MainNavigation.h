// MainNavigation — the look of every navigation bar of the app.
//
// `configureAppearance` makes one appearance (the default background, a light
// gray hairline at half alpha, a regular blur behind the bar) and sets it as
// both the standard and the scroll-edge appearance, so a bar looks the same
// whether or not content is scrolled under it. Renderers read it here.
#pragma once

#include <memory>

#include "platform/ui/ViewNode.h"

namespace tabulo {

struct NavigationBarAppearance {
  bool defaultBackground = true;
  platform::ViewColor shadowColor;
  // The platform's blur style value (regular is 4).
  int backgroundBlurStyle = 0;
};

class MainNavigation {
 public:
  static void configureAppearance();
  // Null until configured.
  static std::shared_ptr<const NavigationBarAppearance> standardAppearance();
  static std::shared_ptr<const NavigationBarAppearance> scrollEdgeAppearance();
};

}  // namespace tabulo
