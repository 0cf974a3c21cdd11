#include "app/AppServices.h"

#include "app/UserSettings.h"
#include "platform/env/AppEnvironment.h"

namespace tabulo {

AppServices AppServices::standard() {
  static const std::shared_ptr<RelevantActionCounter> counter = std::make_shared<RelevantActionCounter>();
  AppServices services;
  // The shared instances live for the whole process; the pointers do not own them.
  services.store = std::shared_ptr<SpreadsheetPersistance>(&SpreadsheetPersistance::shared(),
                                                           [](SpreadsheetPersistance*) {});
  services.userDefaults = UserSettings::shared().userDefaults;
  services.io = std::shared_ptr<const TabuloIO>(&TabuloIO::shared(), [](const TabuloIO*) {});
  services.counter = counter;
  services.isPad = [] { return platform::AppEnvironment::shared()->deviceModel().starts_with("iPad"); };
  return services;
}

}  // namespace tabulo
