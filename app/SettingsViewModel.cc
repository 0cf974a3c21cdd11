#include "app/SettingsViewModel.h"

#include "app/AppConsole.h"
#include "app/BoxwellAnalytics.h"

namespace tabulo {

SettingsViewModel::SettingsViewModel(std::shared_ptr<platform::URLOpener> urlOpener,
                                     std::shared_ptr<UserDefaults> userDefaults)
    : urlOpener_(std::move(urlOpener)), userDefaults_(std::move(userDefaults)) {
  isUsageDataEnabled_ = userDefaults_->boolForKey(UserSettings::sendUsageDataKey);
}

void SettingsViewModel::setUsageDataEnabled(bool enabled) {
  if (enabled == isUsageDataEnabled_) return;
  isUsageDataEnabled_ = enabled;
  changed_.emit();
}

void SettingsViewModel::refresh() { setUsageDataEnabled(userDefaults_->boolForKey(UserSettings::sendUsageDataKey)); }

void SettingsViewModel::usageDataToggled(bool isOn) {
  printLine(std::string(kToggledMessage) + (isOn ? "true" : "false"));
  userDefaults_->setBool(isOn, UserSettings::sendUsageDataKey);
}

void SettingsViewModel::openMoreApps() {
  BoxwellAnalytics::logEvent(*userDefaults_, kDeveloperTappedEvent);
  if (urlOpener_) urlOpener_->openURL(kMoreAppsURL, nullptr);
}

void SettingsViewModel::openPrivacyPolicy() {
  if (urlOpener_) urlOpener_->openURL(kPrivacyPolicyURL, nullptr);
}

}  // namespace tabulo
