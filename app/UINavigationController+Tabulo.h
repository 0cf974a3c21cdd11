// UINavigationController(Tabulo) — the app's own layout step for every
// navigation controller of the process: each time one lays out its views, the
// item on top of its bar gets a new back item with an empty title, plain
// style, no target and no action, so a screen pushed on top of it shows the
// back chevron without any text. Nothing else is done (no inherited step).
#pragma once

#include "platform/ui/NavigationController.h"

namespace tabulo {

struct UINavigationControllerTabulo {
  static void viewWillLayoutSubviews(platform::NavigationController& navigationController);
  // Makes viewWillLayoutSubviews above the layout step of every navigation
  // controller (as loading the category does); running it again changes nothing.
  static void install();
};

}  // namespace tabulo
