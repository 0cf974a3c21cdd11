// PopupCoordinator — presents the app's declarative popups.
//
// Screens ask the one coordinator of the process to present a popup of a kind
// (Popup), or to dismiss the one that is shown. A popup's view is hosted in a
// CustomHost, presented animated over the full screen (the screens beneath
// stay and show through) with a cross-dissolve, a clear background and the
// given status-bar style, from the root controller of the application's first
// window, looked up afresh at every request. The coordinator keeps no state
// between requests.
//
// The completion runs once the presentation or dismissal has finished. A
// `dismiss` runs its completion even when nothing is presented or there is no
// window, so an answer handed over as its completion is never lost. A
// presentation without a window is dropped, completion included.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "app/Popup.h"
#include "platform/ui/Application.h"

namespace tabulo {

class PopupCoordinator : public std::enable_shared_from_this<PopupCoordinator> {
 public:
  // Over the application's windows (Application::shared() when null); the
  // application is held weakly, since its windows hold the screens that hold
  // the coordinator.
  explicit PopupCoordinator(std::shared_ptr<platform::Application> application = nullptr);
  virtual ~PopupCoordinator() = default;

  // `statusBarStyle`: absent is 0 (default); 1 light content, 3 dark content.
  virtual void present(const Popup& popup, std::optional<int> statusBarStyle = std::nullopt,
                       std::function<void()> completion = {});

  // The controller popups are presented from: the first window's root.
  std::shared_ptr<platform::ViewController> presentingController() const;

 private:
  std::weak_ptr<platform::Application> application_;
};

}  // namespace tabulo
