#include "app/BoxwellAnalytics.h"

#include "app/AppAnalytics.h"
#include "app/UserSettings.h"

namespace tabulo {

void BoxwellAnalytics::logEvent(const UserDefaults& userDefaults, const std::string& name,
                                const std::optional<platform::Dictionary>& parameters) {
  if (!userDefaults.boolForKey(UserSettings::sendUsageDataKey)) return;
  AppAnalytics::shared()->logEvent(name, parameters);
}

void BoxwellAnalytics::logEvaluation(int64_t rating) {
  logEvaluation(rating, *UserSettings::shared().userDefaults);
}

void BoxwellAnalytics::logEvaluation(int64_t rating, const UserDefaults& userDefaults) {
  logEvent(userDefaults, kEvaluatedAppEvent, platform::Dictionary{{kRatingParameter, rating}});
}

}  // namespace tabulo
