// platform::PageViewController — pages of screens, the current ones shown.
//
// The current pages (one, or two side by side) are its children and their
// views lie in its view. Setting new pages while the page controller is
// visible makes the old ones disappear and the new ones appear. Main thread
// only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

class PageViewController : public ViewController {
 public:
  explicit PageViewController(std::shared_ptr<UIEnvironment> environment) : ViewController(std::move(environment)) {}
  std::string className() const override { return "UIPageViewController"; }
  bool isPlatformClass() const override { return isExactly<PageViewController>(); }
  std::string superclassName() const override {
    return isExactly<PageViewController>() ? "UIViewController" : "UIPageViewController";
  }

  void setViewControllers(std::vector<std::shared_ptr<ViewController>> pages);
  // The current pages, first page first.
  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return pages_; }

 private:
  std::vector<std::shared_ptr<ViewController>> pages_;
};

}  // namespace platform
