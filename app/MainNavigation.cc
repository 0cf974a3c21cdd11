#include "app/MainNavigation.h"

namespace tabulo {
namespace {
struct Appearances {
  std::shared_ptr<const NavigationBarAppearance> standard;
  std::shared_ptr<const NavigationBarAppearance> scrollEdge;
};
Appearances& appearances() {
  static Appearances instance;
  return instance;
}
}  // namespace

void MainNavigation::configureAppearance() {
  auto appearance = std::make_shared<NavigationBarAppearance>();
  appearance->defaultBackground = true;
  appearance->shadowColor = platform::ViewColor{2.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0, 0.5};
  appearance->backgroundBlurStyle = 4;
  appearances().standard = appearance;
  appearances().scrollEdge = appearance;
}

std::shared_ptr<const NavigationBarAppearance> MainNavigation::standardAppearance() { return appearances().standard; }
std::shared_ptr<const NavigationBarAppearance> MainNavigation::scrollEdgeAppearance() {
  return appearances().scrollEdge;
}

}  // namespace tabulo
