#include "app/UINavigationController+Tabulo.h"

namespace tabulo {

void UINavigationControllerTabulo::viewWillLayoutSubviews(platform::NavigationController& navigationController) {
  std::shared_ptr<platform::ViewController> top = navigationController.topViewController();
  if (!top) return;
  top->navigationItem().backBarButtonItem =
      platform::BarButtonItem::withTitle("", platform::BarButtonItem::Style::plain, nullptr);
}

void UINavigationControllerTabulo::install() {
  platform::NavigationController::setViewWillLayoutSubviewsMethod(&viewWillLayoutSubviews);
}

}  // namespace tabulo
