// SettingsAndPopupScreens — puts the settings screen and the introduction,
// star-rating and progress-HUD popups in their places: the settings screen
// becomes the document list's settings destination (MenuView::Destinations),
// and the three popup views become the views the popup coordinator builds for
// the kinds `intro`, `feedback` and `progressHUD` (Popup::setViewBuilder).
// The app's composition root calls install() once, before the first screen.
#pragma once

#include <memory>

#include "app/UserDefaults.h"
#include "app/UserSettings.h"

namespace tabulo {

class SettingsAndPopupScreens {
 public:
  // The screens read and write the app's flags in `userDefaults`.
  static void install(std::shared_ptr<UserDefaults> userDefaults = UserSettings::shared().userDefaults);
  // Restores the placeholders (tests).
  static void uninstall();
};

}  // namespace tabulo
