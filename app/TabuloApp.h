// TabuloApp — the app's composition root.
//
// Making it puts the app's navigation-controller category in place (back
// buttons without titles), creates the one PopupCoordinator of the process and
// sets the navigation bars' look. `launch` then does what the platform does at start:
// creates the AppDelegate and runs its launch handler, and shows one window
// whose root is a navigation stack rooted at the document list (MenuView with
// a new MenuViewModel), every screen below it sharing the coordinator. Files
// that other apps hand over arrive at `openURL`.
#pragma once

#include <memory>
#include <string>

#include "app/AppDelegate.h"
#include "app/AppServices.h"
#include "app/MenuView.h"
#include "app/PopupCoordinator.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace tabulo {

inline constexpr const char* kGotURLPrefix = "GOT URL! ";

class TabuloApp {
 public:
  struct Configuration {
    std::shared_ptr<platform::UIEnvironment> environment;
    std::shared_ptr<platform::Application> application;
    AppServices services;
    AppDelegate::Dependencies delegateDependencies = AppDelegate::Dependencies::standard();
    MenuView::Destinations destinations = MenuView::Destinations::standard();

    // The shared application and the standard services over `environment`.
    static Configuration standard(std::shared_ptr<platform::UIEnvironment> environment);
  };

  explicit TabuloApp(Configuration configuration);

  // Creates the delegate, runs its launch handler, then builds the scene and
  // shows its window. Answers the window.
  std::shared_ptr<platform::Window> launch();

  // The open-URL action: prints "GOT URL! " and the URL; a "file:" URL goes
  // to AppFileOpener as a local path, anything else is ignored.
  void openURL(const std::string& url);

  const std::shared_ptr<AppDelegate>& delegate() const { return delegate_; }
  const std::shared_ptr<PopupCoordinator>& popupCoordinator() const { return popupCoordinator_; }
  const std::shared_ptr<platform::NavigationController>& navigation() const { return navigation_; }
  const std::shared_ptr<MenuView>& menuView() const { return menuView_; }

 private:
  std::shared_ptr<platform::Window> body();

  Configuration configuration_;
  std::shared_ptr<AppDelegate> delegate_;
  std::shared_ptr<PopupCoordinator> popupCoordinator_;
  std::shared_ptr<platform::NavigationController> navigation_;
  std::shared_ptr<MenuView> menuView_;
};

}  // namespace tabulo
