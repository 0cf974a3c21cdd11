// PopupCoordinator — presents the app's declarative popups.
//
// Screens ask the one coordinator of the process (Popup) to present a popup
// of a kind, or to dismiss the one that is shown. A popup is hosted in a
// CustomHost, presented over the full screen with a cross-dissolve and a clear
// background from the root controller of the application's first window,
// which is looked up afresh at every request.
//
// The completion runs once the presentation or dismissal has finished. A
// `dismiss` runs its completion even when nothing is presented (or there is
// no window), so an answer handed over as completion is never lost; a
// presentation without a window is dropped with its completion.
#pragma once

#include <functional>
#include <optional>

#include "app/Popup.h"

namespace tabulo {

class PopupCoordinator {
 public:
  virtual ~PopupCoordinator() = default;
  // `statusBarStyle`: absent is 0 (default); 1 light content, 3 dark content.
  virtual void present(const Popup& popup, std::optional<int> statusBarStyle = std::nullopt,
                       std::function<void()> completion = {});
};

}  // namespace tabulo
