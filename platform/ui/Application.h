// platform::Application, Window and WindowScene — the app's windows.
//
// The application keeps its windows in order; the first one is the app's
// main window. A window shows a root view controller and belongs to a scene
// (store-review requests are made in a scene). `makeKeyAndVisible` makes the
// window its application's key window (one per application; only a window
// added to an application owned by a shared_ptr can be key) and runs the root
// controller's appearance. A window that stops being key (another one is made
// key, or it leaves the application) posts kWindowDidResignKeyNotification,
// with itself as the sender, on its application's notification center.
//
// Each window keeps one slot for a stack of the view controllers that
// appeared in it (screen tracking keeps its stack there); the window only
// holds it.
//
// Tests make their own Application; the host uses the shared one. Main
// thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/NotificationCenter.h"
#include "platform/ui/ViewController.h"

namespace platform {

inline constexpr const char* kWindowDidResignKeyNotification = "WindowDidResignKey";

class Application;

// View controllers held weakly, bottom first.
using WeakViewControllerArray = std::vector<std::weak_ptr<ViewController>>;

class WindowScene {
 public:
  explicit WindowScene(std::string identifier) : identifier_(std::move(identifier)) {}
  const std::string& identifier() const { return identifier_; }

 private:
  std::string identifier_;
};

class Window : public std::enable_shared_from_this<Window> {
 public:
  explicit Window(std::shared_ptr<WindowScene> scene) : scene_(std::move(scene)) {}

  const std::shared_ptr<WindowScene>& windowScene() const { return scene_; }
  const std::shared_ptr<ViewController>& rootViewController() const { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> root);
  // Makes the window its application's key window, then shows the root
  // controller: its view loads and it appears.
  void makeKeyAndVisible();
  bool isKeyWindow() const;
  // The application the window was added to; null for none.
  std::shared_ptr<Application> application() const { return application_.lock(); }

  const std::shared_ptr<WeakViewControllerArray>& viewControllerStack() const { return stack_; }
  void setViewControllerStack(std::shared_ptr<WeakViewControllerArray> stack) { stack_ = std::move(stack); }

 private:
  friend class Application;
  std::shared_ptr<WindowScene> scene_;
  std::shared_ptr<ViewController> root_;
  std::weak_ptr<Application> application_;
  std::shared_ptr<WeakViewControllerArray> stack_;
};

// The platform's interface-orientation masks.
enum InterfaceOrientationMask : unsigned {
  kInterfaceOrientationMaskPortrait = 1u << 1,
  kInterfaceOrientationMaskLandscapeLeft = 1u << 4,
  kInterfaceOrientationMaskLandscapeRight = 1u << 3,
  kInterfaceOrientationMaskPortraitUpsideDown = 1u << 2,
};

class Application : public std::enable_shared_from_this<Application> {
 public:
  // Posts on the default notification center.
  Application() : Application(nullptr) {}
  // Posts on `notifications` (the default center when null).
  explicit Application(std::shared_ptr<NotificationCenter> notifications);

  static std::shared_ptr<Application> shared();

  const std::vector<std::shared_ptr<Window>>& windows() const { return windows_; }
  void addWindow(std::shared_ptr<Window> window);
  // The key window resigns first.
  void removeAllWindows();
  // The key window; null when no window is key.
  std::shared_ptr<Window> keyWindow() const { return keyWindow_.lock(); }

 private:
  friend class Window;
  void makeKey(const std::shared_ptr<Window>& window);

  std::shared_ptr<NotificationCenter> notifications_;
  std::vector<std::shared_ptr<Window>> windows_;
  std::weak_ptr<Window> keyWindow_;
};

}  // namespace platform
