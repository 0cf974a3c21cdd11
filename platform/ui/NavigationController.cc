#include "platform/ui/NavigationController.h"

namespace platform {
namespace {

NavigationController::LayoutMethod& layoutMethod() {
  static NavigationController::LayoutMethod method;
  return method;
}

}  // namespace

void NavigationController::setViewWillLayoutSubviewsMethod(LayoutMethod method) {
  layoutMethod() = std::move(method);
}

void NavigationController::viewWillLayoutSubviews() {
  if (layoutMethod()) layoutMethod()(*this);
}

void NavigationController::setRoot(const std::shared_ptr<ViewController>& root) {
  while (!stack_.empty()) {
    stack_.back()->removeFromParent();
    stack_.pop_back();
  }
  if (!root) return;
  stack_.push_back(root);
  addChild(root);
  if (isVisible()) {
    root->beginAppearanceTransition(true, false);
    root->endAppearanceTransition();
  }
  viewWillLayoutSubviews();
  setNeedsSnapshot();
}

void NavigationController::pushViewController(const std::shared_ptr<ViewController>& controller, bool animated) {
  if (!controller || controller->parent()) return;
  std::shared_ptr<ViewController> previous = topViewController();
  history_.push_back({Step::Kind::push, controller->className(), animated});
  stack_.push_back(controller);
  addChild(controller);
  if (isVisible()) {
    if (previous) previous->beginAppearanceTransition(false, animated);
    controller->beginAppearanceTransition(true, animated);
    if (previous) previous->endAppearanceTransition();
    controller->endAppearanceTransition();
  }
  viewWillLayoutSubviews();
  setNeedsSnapshot();
}

std::shared_ptr<ViewController> NavigationController::popViewController(bool animated) {
  if (stack_.size() < 2) return nullptr;
  std::shared_ptr<ViewController> popped = stack_.back();
  history_.push_back({Step::Kind::pop, popped->className(), animated});
  stack_.pop_back();
  if (isVisible()) {
    popped->beginAppearanceTransition(false, animated);
    stack_.back()->beginAppearanceTransition(true, animated);
    popped->endAppearanceTransition();
    stack_.back()->endAppearanceTransition();
  }
  popped->removeFromParent();
  viewWillLayoutSubviews();
  setNeedsSnapshot();
  return popped;
}

std::shared_ptr<ViewController> NavigationController::visibleViewController() const {
  if (presentedViewController()) return presentedViewController();
  return topViewController();
}

bool NavigationController::showsChildView(const ViewController& child) const {
  return !stack_.empty() && stack_.back().get() == &child;
}

ViewNode NavigationController::snapshot() const {
  ViewNode node = screenNode("navigationController");
  if (auto top = topViewController()) {
    node.add(top->navigationItem().snapshot());
    node.add(top->snapshot());
  }
  return node;
}

bool NavigationController::performAction(const std::string& name, const Object& value) {
  auto top = topViewController();
  if (!top) return ViewController::performAction(name, value);
  if (name.compare(0, 4, "bar.") == 0) return top->navigationItem().perform(name);
  return top->performAction(name, value);
}

}  // namespace platform
