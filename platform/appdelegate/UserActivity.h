// platform::UserActivity — an activity the platform hands the app to
// continue: a web page the user opened in the app (a universal link, for
// one), with the page's URL and the URL of the page that referred the user.
//
// In a dictionary (the launch options of a launch that continues an
// activity, see LaunchOptions.h) an activity stands as a dictionary of the
// keys below: a string type and, when present, the two URL texts.
#pragma once

#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace platform {

// The activity type of a web page opened in the app.
inline constexpr const char* kUserActivityTypeBrowsingWeb = "NSUserActivityTypeBrowsingWeb";

// Keys of an activity's dictionary form.
inline constexpr const char* kUserActivityTypeKey = "activityType";
inline constexpr const char* kUserActivityWebpageURLKey = "webpageURL";
inline constexpr const char* kUserActivityReferrerURLKey = "referrerURL";

struct UserActivity {
  std::string activityType;
  std::optional<std::string> webpageURL;   // absolute URL text
  std::optional<std::string> referrerURL;  // absolute URL text

  friend bool operator==(const UserActivity&, const UserActivity&) = default;

  // The dictionary form.
  Dictionary dictionary() const;
  // The activity a dictionary form describes: a dictionary with a string
  // type; URL entries that are not strings are left out. None for anything else.
  [[nodiscard]] static std::optional<UserActivity> fromObject(const Object& object);
};

}  // namespace platform
