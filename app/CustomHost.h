// CustomHost — the hosting controller a popup is shown in: it hosts the
// popup's view and sets the status bar's style while it is presented.
//
// ViewControllerHolder is how a view reads its presenting controller: a
// popup's view gets its own host; any other reader gets the root controller of
// the application's first window (or nothing without a window).
#pragma once

#include <memory>

#include "platform/ui/Application.h"
#include "platform/ui/HostingController.h"

namespace tabulo {

// The platform's status-bar styles.
enum StatusBarStyle : int { kStatusBarStyleDefault = 0, kStatusBarStyleLightContent = 1, kStatusBarStyleDarkContent = 3 };

struct ViewControllerHolder {
  std::weak_ptr<platform::ViewController> value;

  // The default reading: the first window's root controller.
  static ViewControllerHolder rootOfFirstWindow(const platform::Application& application);
};

class CustomHost : public platform::HostingController {
 public:
  CustomHost(std::shared_ptr<platform::UIEnvironment> environment, int style)
      : HostingController(std::move(environment)), style_(style) {}

  // Makes a host over `rootView` (null for an empty placeholder).
  static std::shared_ptr<CustomHost> make(std::shared_ptr<platform::UIEnvironment> environment,
                                          std::shared_ptr<platform::ViewController> rootView, int style);

  std::string className() const override { return "CustomHost"; }
  int preferredStatusBarStyle() const { return style_; }

  bool modalPresentationCapturesStatusBarAppearance() const { return capturesStatusBarAppearance_; }
  void setModalPresentationCapturesStatusBarAppearance(bool captures) { capturesStatusBarAppearance_ = captures; }
  const platform::ViewColor& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(platform::ViewColor color) { backgroundColor_ = color; }

  // Replaces the hosted view.
  void setRootView(std::shared_ptr<platform::ViewController> rootView);

  platform::ViewNode snapshot() const override;

 private:
  int style_;
  bool capturesStatusBarAppearance_ = false;
  platform::ViewColor backgroundColor_ = platform::ViewColor::white();
};

}  // namespace tabulo
