#include "platform/ui/ViewController.h"

#include "platform/core/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace platform {

ViewController::ViewController(std::shared_ptr<UIEnvironment> environment) : environment_(std::move(environment)) {}

void ViewController::loadViewIfNeeded() {
  if (viewLoaded_) return;
  viewLoaded_ = true;
  viewDidLoad();
  for (const auto& child : std::vector(children_)) child->loadViewIfNeeded();
}

Signal<const ViewController&, AppearanceEvent>& ViewController::appearanceEvents() {
  static Signal<const ViewController&, AppearanceEvent> signal;
  return signal;
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
  if (appearing) loadViewIfNeeded();
  // Keep this controller alive while its callbacks run.
  auto self = weak_from_this().lock();
  inTransition_ = true;
  appearing_ = appearing;
  if (appearing) {
    viewWillAppear(animated);
    appearanceEvents().emit(*this, AppearanceEvent::willAppear);
  } else {
    viewWillDisappear(animated);
    appearanceEvents().emit(*this, AppearanceEvent::willDisappear);
  }
  for (const auto& child : std::vector(children_)) {
    if (showsChildView(*child)) child->beginAppearanceTransition(appearing, animated);
  }
}

void ViewController::endAppearanceTransition() {
  if (!inTransition_) return;
  auto self = weak_from_this().lock();
  inTransition_ = false;
  visible_ = appearing_;
  if (appearing_) {
    viewDidAppear(false);
    appearanceEvents().emit(*this, AppearanceEvent::didAppear);
    beingPresented_ = false;
  } else {
    viewDidDisappear(false);
    appearanceEvents().emit(*this, AppearanceEvent::didDisappear);
  }
  for (const auto& child : std::vector(children_)) child->endAppearanceTransition();
}

std::shared_ptr<Window> ViewController::window() const {
  if (auto parent = parent_.lock()) return parent->showsChildView(*this) ? parent->window() : nullptr;
  if (auto presenting = presenting_.lock()) return presenting->window();
  auto window = rootOfWindow_.lock();
  if (window && window->rootViewController().get() != this) return nullptr;
  return window;
}

bool ViewController::showsChildView(const ViewController&) const { return true; }

ViewNode ViewController::screenNode(const std::string& id) const {
  ViewNode node("screen", id);
  node.properties["class"] = className();
  return node;
}

ViewNode ViewController::snapshot() const { return screenNode(className()); }

void ViewController::registerAction(const std::string& name, ActionHandler handler) {
  actions_[name] = std::move(handler);
}

bool ViewController::performAction(const std::string& name, const Object& value) {
  auto it = actions_.find(name);
  if (it == actions_.end()) return navigationItem_.perform(name);
  auto self = weak_from_this().lock();
  ActionHandler handler = it->second;
  handler(value);
  return true;
}

std::vector<std::string> ViewController::actionNames() const {
  std::vector<std::string> names;
  for (const auto& [name, handler] : actions_) names.push_back(name);
  return names;
}

void ViewController::addChild(const std::shared_ptr<ViewController>& child) {
  auto self = weak_from_this().lock();
  if (!child || child.get() == this || !self) return;
  child->removeFromParent();
  child->setParent(self);
  children_.push_back(child);
  if (viewLoaded_) child->loadViewIfNeeded();
}

void ViewController::removeFromParent() {
  auto parent = parent_.lock();
  parent_.reset();
  if (!parent) return;
  std::erase_if(parent->children_, [this](const std::shared_ptr<ViewController>& c) { return c.get() == this; });
}

std::shared_ptr<NavigationController> ViewController::navigationController() {
  for (std::shared_ptr<ViewController> controller = weak_from_this().lock(); controller; controller = controller->parent()) {
    if (auto navigation = std::dynamic_pointer_cast<NavigationController>(controller)) return navigation;
  }
  return nullptr;
}

void ViewController::present(const std::shared_ptr<ViewController>& controller, bool animated,
                             std::function<void()> completion) {
  if (!controller) return;
  if (presented_) {
    log::write(LogLevel::Warning, "platform", "ui", "",
               "Attempt to present " + controller->className() + " on " + className() +
                   " which is already presenting " + presented_->className());
    return;
  }
  if (controller->presentingViewController() || controller->parent()) {
    log::write(LogLevel::Warning, "platform", "ui", "",
               "Attempt to present " + controller->className() + " which is already shown");
    return;
  }
  presented_ = controller;
  controller->presenting_ = weak_from_this();
  controller->beingPresented_ = true;
  if (environment_ && environment_->presenter) {
    environment_->presenter->present(*this, controller, animated, std::move(completion));
  } else {
    controller->beginAppearanceTransition(true, animated);
    controller->endAppearanceTransition();
    if (completion) completion();
  }
}

void ViewController::dismiss(bool animated, std::function<void()> completion) {
  std::shared_ptr<ViewController> presenting = presented_ ? weak_from_this().lock() : presentingViewController();
  if (!presenting || !presenting->presented_) return;
  std::vector<std::shared_ptr<ViewController>> chain;
  for (auto controller = presenting->presented_; controller; controller = controller->presented_) {
    chain.push_back(controller);
  }
  // Unlink first, so that callbacks during the transition see the new state;
  // `chain` keeps the controllers alive until the transition is over.
  presenting->presented_.reset();
  for (const auto& controller : chain) {
    controller->presenting_.reset();
    controller->beingPresented_ = false;
  }
  for (size_t i = 0; i + 1 < chain.size(); ++i) chain[i]->presented_.reset();
  if (presenting->environment_ && presenting->environment_->presenter) {
    presenting->environment_->presenter->dismiss(*presenting, chain, animated, std::move(completion));
  } else {
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      (*it)->beginAppearanceTransition(false, animated);
      (*it)->endAppearanceTransition();
    }
    if (completion) completion();
  }
}

std::shared_ptr<ViewController> ViewController::topPresentedViewController() {
  std::shared_ptr<ViewController> top = weak_from_this().lock();
  while (top && top->presented_) top = top->presented_;
  return top;
}

}  // namespace platform
