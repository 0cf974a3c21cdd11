#include "app/UserSettings.h"

namespace tabulo {

UserSettings::UserSettings(std::shared_ptr<UserDefaults> defaults) : userDefaults(std::move(defaults)) {
  userDefaults->registerDefaults(platform::Dictionary{{sendUsageDataKey, true}});
}

}  // namespace tabulo
