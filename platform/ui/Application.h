// platform::Application, Window and WindowScene — the app's windows.
//
// The application keeps its windows in order; the first one is the app's
// main window. A window shows a root view controller and belongs to a scene
// (store-review requests are made in a scene). `makeKeyAndVisible` runs the
// root controller's appearance. Tests make their own Application; the host
// uses the shared one. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

class WindowScene {
 public:
  explicit WindowScene(std::string identifier) : identifier_(std::move(identifier)) {}
  const std::string& identifier() const { return identifier_; }

 private:
  std::string identifier_;
};

class Window {
 public:
  explicit Window(std::shared_ptr<WindowScene> scene) : scene_(std::move(scene)) {}

  const std::shared_ptr<WindowScene>& windowScene() const { return scene_; }
  const std::shared_ptr<ViewController>& rootViewController() const { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> root) { root_ = std::move(root); }
  // Shows the root controller: its view loads and it appears.
  void makeKeyAndVisible();

 private:
  std::shared_ptr<WindowScene> scene_;
  std::shared_ptr<ViewController> root_;
};

// The platform's interface-orientation masks.
enum InterfaceOrientationMask : unsigned {
  kInterfaceOrientationMaskPortrait = 1u << 1,
  kInterfaceOrientationMaskLandscapeLeft = 1u << 4,
  kInterfaceOrientationMaskLandscapeRight = 1u << 3,
  kInterfaceOrientationMaskPortraitUpsideDown = 1u << 2,
};

class Application {
 public:
  static std::shared_ptr<Application> shared();

  const std::vector<std::shared_ptr<Window>>& windows() const { return windows_; }
  void addWindow(std::shared_ptr<Window> window) { windows_.push_back(std::move(window)); }
  void removeAllWindows() { windows_.clear(); }

 private:
  std::vector<std::shared_ptr<Window>> windows_;
};

}  // namespace platform
