#include "platform/ui/Application.h"

namespace platform {

void Window::setRootViewController(std::shared_ptr<ViewController> root) {
  if (root_ && root_ != root) root_->rootOfWindow_.reset();
  root_ = std::move(root);
  if (root_) root_->rootOfWindow_ = weak_from_this();
}

void Window::makeKeyAndVisible() {
  if (auto application = application_.lock()) application->makeKey(shared_from_this());
  if (!root_ || root_->isVisible()) return;
  root_->beginAppearanceTransition(true, false);
  root_->endAppearanceTransition();
}

bool Window::isKeyWindow() const {
  auto application = application_.lock();
  return application && application->keyWindow().get() == this;
}

Application::Application(std::shared_ptr<NotificationCenter> notifications)
    : notifications_(notifications ? std::move(notifications) : NotificationCenter::defaultCenter()) {}

std::shared_ptr<Application> Application::shared() {
  static const std::shared_ptr<Application> instance = std::make_shared<Application>();
  return instance;
}

void Application::addWindow(std::shared_ptr<Window> window) {
  if (!window) return;
  window->application_ = weak_from_this();
  windows_.push_back(std::move(window));
}

void Application::removeAllWindows() {
  auto key = keyWindow_.lock();
  keyWindow_.reset();
  for (const auto& window : windows_) window->application_.reset();
  windows_.clear();
  if (key) notifications_->post(kWindowDidResignKeyNotification, {}, key);
}

void Application::makeKey(const std::shared_ptr<Window>& window) {
  auto previous = keyWindow_.lock();
  if (previous == window) return;
  // The new key window is in place before the old one says it resigned.
  keyWindow_ = window;
  if (previous) notifications_->post(kWindowDidResignKeyNotification, {}, previous);
}

}  // namespace platform
