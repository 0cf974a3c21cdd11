#include "platform/ui/TabBarController.h"

namespace platform {

void TabBarController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers) {
  auto old = selectedViewController();
  if (old && isVisible()) {
    old->beginAppearanceTransition(false, false);
    old->endAppearanceTransition();
  }
  for (const auto& tab : tabs_) tab->removeFromParent();
  tabs_.clear();
  for (auto& controller : controllers) {
    if (!controller) continue;
    addChild(controller);
    tabs_.push_back(std::move(controller));
  }
  selected_ = 0;
  auto now = selectedViewController();
  if (now && isVisible()) {
    now->beginAppearanceTransition(true, false);
    now->endAppearanceTransition();
  }
  setNeedsSnapshot();
}

std::shared_ptr<ViewController> TabBarController::selectedViewController() const {
  return selected_ < tabs_.size() ? tabs_[selected_] : nullptr;
}

void TabBarController::setSelectedIndex(size_t index) {
  if (index >= tabs_.size() || index == selected_) return;
  auto old = selectedViewController();
  selected_ = index;
  auto now = selectedViewController();
  if (isVisible()) {
    old->beginAppearanceTransition(false, false);
    now->beginAppearanceTransition(true, false);
    old->endAppearanceTransition();
    now->endAppearanceTransition();
  }
  setNeedsSnapshot();
}

bool TabBarController::showsChildView(const ViewController& child) const {
  return selectedViewController().get() == &child;
}

}  // namespace platform
