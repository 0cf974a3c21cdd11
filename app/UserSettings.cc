#include "app/UserSettings.h"

#include "app/PreferencesUserDefaults.h"

namespace tabulo {

UserSettings& UserSettings::shared() {
  static UserSettings instance(PreferencesUserDefaults::standard());
  return instance;
}

UserSettings::UserSettings(std::shared_ptr<UserDefaults> defaults) : userDefaults(std::move(defaults)) {
  userDefaults->registerDefaults(platform::Dictionary{{sendUsageDataKey, true}});
}

}  // namespace tabulo
