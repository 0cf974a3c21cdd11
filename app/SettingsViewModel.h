// SettingsViewModel — the state and actions of the settings screen.
//
// It holds whether the user allows usage data to be sent, mirrored from the
// "SEND_USAGE_DATA" flag when the model is made and each time the screen
// appears, and written back at once when the switch changes. Its two links
// open the privacy policy page and the maker's page in the app store through
// the UI layer's open-URL call. Every event it logs reads the flag just
// before logging. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/UserDefaults.h"
#include "app/UserSettings.h"
#include "platform/ui/Signal.h"
#include "platform/ui/URLOpener.h"

namespace tabulo {

// The line printed when the switch changes, followed by "true" or "false".
inline constexpr const char* kToggledMessage = "Toggled: ";
// The maker's developer page in the app store, and the privacy policy page.
inline constexpr const char* kMoreAppsURL = "itms-apps://apps.apple.com/developer/id1593284617";
inline constexpr const char* kPrivacyPolicyURL = "https://tabulo.halcyra.com/privacy.html";

class SettingsViewModel {
 public:
  // Links open through `urlOpener` with no completion; nothing comes back.
  // Reads "SEND_USAGE_DATA" from `userDefaults` (where the settings
  // registered its default) at once.
  explicit SettingsViewModel(std::shared_ptr<platform::URLOpener> urlOpener,
                             std::shared_ptr<UserDefaults> userDefaults = UserSettings::shared().userDefaults);

  bool isUsageDataEnabled() const { return isUsageDataEnabled_; }
  // The switch's binding writes here; a change is announced through changed().
  void setUsageDataEnabled(bool enabled);
  // Emitted after every change of isUsageDataEnabled (the screen redraws).
  platform::Signal<>& changed() { return changed_; }

  // Reads the flag again (the screen calls it each time it appears).
  void refresh();

  // The switch changed: prints "Toggled: " and the value, and stores it.
  void usageDataToggled(bool isOn);
  // Sends "developer_tapped" while usage data is allowed, then opens the store page.
  void openMoreApps();
  // Opens the privacy policy page.
  void openPrivacyPolicy();

 private:
  platform::Signal<> changed_;
  std::shared_ptr<platform::URLOpener> urlOpener_;
  std::shared_ptr<UserDefaults> userDefaults_;
  bool isUsageDataEnabled_ = false;
};

}  // namespace tabulo
