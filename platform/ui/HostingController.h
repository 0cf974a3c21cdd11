// platform::HostingController — hosts a screen controller inside the
// declarative navigation: the hosted controller is its one child, its
// navigation item is the one the navigation bar shows, and its snapshot and
// actions are the hosted controller's.
//
// Modifiers of the hosted view add on-appear actions: each runs every time
// the hosted screen appears, after the host's own handling, in the order
// added. A subclass that overrides viewDidAppear calls this class's.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

class HostingController : public ViewController {
 public:
  static std::shared_ptr<HostingController> make(std::shared_ptr<UIEnvironment> environment,
                                                 std::shared_ptr<ViewController> hosted) {
    auto host = std::make_shared<HostingController>(std::move(environment));
    host->addChild(hosted);
    return host;
  }

  explicit HostingController(std::shared_ptr<UIEnvironment> environment) : ViewController(std::move(environment)) {}
  std::string className() const override { return "UIHostingController"; }
  bool isPlatformClass() const override { return isExactly<HostingController>(); }
  std::string superclassName() const override {
    return isExactly<HostingController>() ? "UIViewController" : "UIHostingController";
  }

  std::shared_ptr<ViewController> hosted() const { return children().empty() ? nullptr : children().front(); }

  ViewNode snapshot() const override {
    auto child = hosted();
    return child ? child->snapshot() : ViewController::snapshot();
  }
  bool performAction(const std::string& name, const Object& value = {}) override {
    if (ViewController::performAction(name, value)) return true;
    auto child = hosted();
    return child && child->performAction(name, value);
  }

  void addOnAppearAction(std::function<void()> action) {
    if (action) onAppearActions_.push_back(std::move(action));
  }

 protected:
  void viewDidAppear(bool /*animated*/) override {
    auto self = weak_from_this().lock();  // an action may drop the last other owner
    for (const auto& action : std::vector(onAppearActions_)) action();
  }

 private:
  std::vector<std::function<void()>> onAppearActions_;
};

}  // namespace platform
