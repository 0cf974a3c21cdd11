#include "platform/ui/Application.h"

namespace platform {

void Window::makeKeyAndVisible() {
  if (!root_ || root_->isVisible()) return;
  root_->beginAppearanceTransition(true, false);
  root_->endAppearanceTransition();
}

std::shared_ptr<Application> Application::shared() {
  static const std::shared_ptr<Application> instance = std::make_shared<Application>();
  return instance;
}

}  // namespace platform
