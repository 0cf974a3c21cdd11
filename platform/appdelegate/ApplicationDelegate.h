// platform::ApplicationDelegate — the app delegate's callbacks that other
// code may intercept: an opened URL, a continued user activity and the events
// of a background URL session. Each has a default that handles nothing.
//
// platform::UserActivity — an activity the platform hands over to continue
// (a web page the user opened in the app, for one).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace platform {

// The activity type of a web page opened in the app.
inline constexpr const char* kUserActivityTypeBrowsingWeb = "NSUserActivityTypeBrowsingWeb";

struct UserActivity {
  std::string activityType;
  std::optional<std::string> webpageURL;   // absolute URL text
  std::optional<std::string> referrerURL;  // absolute URL text
  friend bool operator==(const UserActivity&, const UserActivity&) = default;
};

class ApplicationDelegate {
 public:
  using RestorationHandler = std::function<void(const Array& restorableObjects)>;

  virtual ~ApplicationDelegate() = default;
  // Answers whether the URL was handled.
  virtual bool openURL(const std::string& url, const Dictionary& options) {
    (void)url;
    (void)options;
    return false;
  }
  // Answers whether the activity was continued.
  virtual bool continueUserActivity(const UserActivity& activity, const RestorationHandler& restorationHandler) {
    (void)activity;
    (void)restorationHandler;
    return false;
  }
  virtual void handleEventsForBackgroundURLSession(const std::string& identifier,
                                                   const std::function<void()>& completionHandler) {
    (void)identifier;
    (void)completionHandler;
  }
};

}  // namespace platform
