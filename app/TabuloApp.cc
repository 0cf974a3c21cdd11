#include "app/TabuloApp.h"

#include "app/AppConsole.h"
#include "app/AppFileOpener.h"
#include "app/MainNavigation.h"
#include "app/UINavigationController+Tabulo.h"

namespace tabulo {

TabuloApp::Configuration TabuloApp::Configuration::standard(std::shared_ptr<platform::UIEnvironment> environment) {
  Configuration configuration;
  configuration.environment = environment;
  configuration.application = platform::Application::shared();
  configuration.services = AppServices::standard(environment, configuration.application);
  return configuration;
}

TabuloApp::TabuloApp(Configuration configuration)
    : configuration_(std::move(configuration)),
      popupCoordinator_(std::make_shared<PopupCoordinator>(configuration_.application)) {
  UINavigationControllerTabulo::install();
  MainNavigation::configureAppearance();
}

std::shared_ptr<platform::Window> TabuloApp::launch() {
  delegate_ = std::make_shared<AppDelegate>(configuration_.delegateDependencies);
  delegate_->application(*configuration_.application, std::nullopt);
  auto window = body();
  configuration_.application->addWindow(window);
  window->makeKeyAndVisible();
  return window;
}

std::shared_ptr<platform::Window> TabuloApp::body() {
  auto environment = configuration_.environment;
  menuView_ = std::make_shared<MenuView>(environment, popupCoordinator_, MenuViewModel::make(configuration_.services),
                                         configuration_.destinations);
  navigation_ = std::make_shared<platform::NavigationController>(environment);
  navigation_->setRoot(menuView_);
  auto window = std::make_shared<platform::Window>(std::make_shared<platform::WindowScene>("main"));
  window->setRootViewController(navigation_);
  return window;
}

void TabuloApp::openURL(const std::string& url) {
  printLine(kGotURLPrefix + url);
  if (auto path = AppFileOpener::filePathFromURL(url)) AppFileOpener::open(*path);
}

}  // namespace tabulo
