// platform::NavigationController — a navigation stack of screens.
//
// push() puts a controller on top (it becomes a child of the navigation
// controller; the old top disappears, the new one appears), popViewController()
// removes the top one unless it is the root. Every push and pop is kept in
// history() (class name, animated) for tests. The snapshot is a
// "navigationController" node holding the navigation bar of the top
// controller (its navigation item) and the top controller's snapshot;
// performAction() routes "bar.*" names to that navigation item and the rest
// to the top controller.
//
// Layout: viewWillLayoutSubviews() runs every time the controller lays out
// its views: after each change of its stack, and when a host is about to draw
// it. It does nothing of its own; an app may replace it for every navigation
// controller of the process at once (as a category's method replaces the
// platform's), with setViewWillLayoutSubviewsMethod.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

class NavigationController : public ViewController {
 public:
  struct Step {
    enum class Kind { push, pop } kind;
    std::string controllerClass;
    bool animated;
  };

  explicit NavigationController(std::shared_ptr<UIEnvironment> environment) : ViewController(std::move(environment)) {}
  std::string className() const override { return "UINavigationController"; }
  bool isPlatformClass() const override { return isExactly<NavigationController>(); }
  std::string superclassName() const override {
    return isExactly<NavigationController>() ? "UIViewController" : "UINavigationController";
  }

  // Sets the root (the first controller) without a transition record.
  void setRoot(const std::shared_ptr<ViewController>& root);
  void pushViewController(const std::shared_ptr<ViewController>& controller, bool animated);
  // The popped controller; none when only the root is left.
  std::shared_ptr<ViewController> popViewController(bool animated);

  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
  std::shared_ptr<ViewController> topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }
  // What the navigation interface shows: a controller presented over it, else the top one.
  std::shared_ptr<ViewController> visibleViewController() const;
  // Only the top controller's view lies in the navigation controller's.
  bool showsChildView(const ViewController& child) const override;
  const std::vector<Step>& history() const { return history_; }

  void viewWillLayoutSubviews();
  using LayoutMethod = std::function<void(NavigationController&)>;
  // Replaces viewWillLayoutSubviews of every navigation controller (null: none).
  static void setViewWillLayoutSubviewsMethod(LayoutMethod method);

  ViewNode snapshot() const override;
  bool performAction(const std::string& name, const Object& value = {}) override;

 private:
  std::vector<std::shared_ptr<ViewController>> stack_;
  std::vector<Step> history_;
};

}  // namespace platform
