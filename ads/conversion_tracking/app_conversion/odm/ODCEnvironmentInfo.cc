#include "ads/conversion_tracking/app_conversion/odm/ODCEnvironmentInfo.h"

#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCLog.h"
#include "analytics/foundation/core/GWLEnvironmentInfo.h"
#include "platform/dispatch/Clock.h"
#include "platform/env/AppEnvironment.h"

std::shared_ptr<ODCEnvironmentInfo> ODCEnvironmentInfo::sharedInstance() {
  static const std::shared_ptr<ODCEnvironmentInfo> instance =
      create(*platform::AppEnvironment::shared(), *GWLEnvironmentInfo::sharedInstance(), *platform::Clock::system());
  return instance;
}

std::shared_ptr<ODCEnvironmentInfo> ODCEnvironmentInfo::create(const platform::AppEnvironment& app,
                                                               const GWLEnvironmentInfo& environment,
                                                               const platform::Clock& clock) {
  Values values;
  values.deviceModel = app.deviceModel();
  values.deviceOSVersion = app.systemVersion();
  values.userDefaultLanguage = environment.userDefaultLanguage();
  if (!values.userDefaultLanguage) ODCLogError(ODCErrorCodeNoPreferredLanguage, "%s", kODCMessageNoPreferredLanguage);
  values.timeZoneOffsetMinutes = GWLEnvironmentInfo::timeZoneOffsetMinutes(clock.now());
  return std::make_shared<ODCEnvironmentInfo>(std::move(values));
}
