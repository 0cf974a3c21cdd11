#include "app/SettingsAndPopupScreens.h"

#include <optional>

#include "app/FeedbackView.h"
#include "app/IntroView.h"
#include "app/MenuView.h"
#include "app/Popup.h"
#include "app/ProgressHUDView.h"
#include "app/SettingsView.h"

namespace tabulo {

namespace {
using SettingsDestination = decltype(MenuView::Destinations::settings);

// The list's settings destination from before install(), for uninstall().
std::optional<SettingsDestination>& replacedSettings() {
  static std::optional<SettingsDestination> replaced;
  return replaced;
}
}  // namespace

void SettingsAndPopupScreens::install(std::shared_ptr<UserDefaults> userDefaults) {
  if (!replacedSettings()) replacedSettings() = MenuView::Destinations::standard().settings;
  MenuView::Destinations::standard().settings = [userDefaults](bool isUsageDataEnabled,
                                                               std::shared_ptr<platform::UIEnvironment> environment) {
    auto viewModel = std::make_shared<SettingsViewModel>(environment ? environment->urlOpener : nullptr, userDefaults);
    viewModel->setUsageDataEnabled(isUsageDataEnabled);
    return std::make_shared<SettingsView>(std::move(environment), std::move(viewModel));
  };
  Popup::setViewBuilder(Popup::Kind::intro, [](const Popup&, const PopupViewContext& context) {
    return std::make_shared<IntroView>(context.environment, context.popupCoordinator);
  });
  Popup::setViewBuilder(Popup::Kind::feedback, [userDefaults](const Popup&, const PopupViewContext& context) {
    return std::make_shared<FeedbackView>(context.environment, context.popupCoordinator, kSystemGray, kSystemBlue,
                                          FeedbackViewModel::RequestStoreReview{}, userDefaults);
  });
  Popup::setViewBuilder(Popup::Kind::progressHUD, [](const Popup& popup, const PopupViewContext& context) {
    return std::make_shared<ProgressHUDView>(context.environment, popup.text, popup.secondaryText);
  });
}

void SettingsAndPopupScreens::uninstall() {
  if (replacedSettings()) {
    MenuView::Destinations::standard().settings = std::move(*replacedSettings());
    replacedSettings().reset();
  }
  for (Popup::Kind kind : {Popup::Kind::intro, Popup::Kind::feedback, Popup::Kind::progressHUD}) {
    Popup::setViewBuilder(kind, nullptr);
  }
}

}  // namespace tabulo
