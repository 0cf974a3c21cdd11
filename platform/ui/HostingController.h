// platform::HostingController — hosts a screen controller inside the
// declarative navigation: the hosted controller is its one child, its
// navigation item is the one the navigation bar shows, and its snapshot and
// actions are the hosted controller's.
#pragma once

#include <memory>
#include <string>

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
};

}  // namespace platform
