// platform::TabBarController — tabs of screens, one selected at a time.
//
// The tab controllers are its children; only the selected one's view lies in
// the tab bar controller's view and takes part in its appearance. Selecting
// another tab while the tab bar controller is visible makes the old one
// disappear and the new one appear. Main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

class TabBarController : public ViewController {
 public:
  explicit TabBarController(std::shared_ptr<UIEnvironment> environment) : ViewController(std::move(environment)) {}
  std::string className() const override { return "UITabBarController"; }
  bool isPlatformClass() const override { return isExactly<TabBarController>(); }
  std::string superclassName() const override {
    return isExactly<TabBarController>() ? "UIViewController" : "UITabBarController";
  }

  // Replaces the tabs and selects the first one.
  void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers);
  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return tabs_; }
  std::shared_ptr<ViewController> selectedViewController() const;
  size_t selectedIndex() const { return selected_; }
  // An index past the last tab is ignored.
  void setSelectedIndex(size_t index);

  bool showsChildView(const ViewController& child) const override;

 private:
  std::vector<std::shared_ptr<ViewController>> tabs_;
  size_t selected_ = 0;
};

}  // namespace platform
