#include "platform/appdelegate/UserActivity.h"

namespace platform {

Dictionary UserActivity::dictionary() const {
  Dictionary form{{kUserActivityTypeKey, activityType}};
  if (webpageURL) form[kUserActivityWebpageURLKey] = *webpageURL;
  if (referrerURL) form[kUserActivityReferrerURLKey] = *referrerURL;
  return form;
}

std::optional<UserActivity> UserActivity::fromObject(const Object& object) {
  const Object* type = object.find(kUserActivityTypeKey);
  if (!type || !type->stringValue()) return std::nullopt;
  UserActivity activity;
  activity.activityType = *type->stringValue();
  if (const Object* url = object.find(kUserActivityWebpageURLKey); url && url->stringValue()) {
    activity.webpageURL = *url->stringValue();
  }
  if (const Object* url = object.find(kUserActivityReferrerURLKey); url && url->stringValue()) {
    activity.referrerURL = *url->stringValue();
  }
  return activity;
}

}  // namespace platform
