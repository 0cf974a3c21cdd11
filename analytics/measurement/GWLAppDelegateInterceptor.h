// GWLAppDelegateInterceptor — what the entry class registers with the
// app-delegate swizzler, so that opened URLs, continued user activities and
// background URL-session events reach the library without the app's help.
//
//   openURL                              GWLAnalytics::handleOpenURL; answers NO
//   continueUserActivity                 GWLAnalytics::handleUserActivity when the
//                                        activity has a deep link; answers NO; the
//                                        restoration handler is never called
//   handleEventsForBackgroundURLSession  HVUNetwork::handleEventsForBackgroundURLSessionID
//
// The platform calls it on the main queue. It holds its entry class weakly
// and has no state of its own; `sharedInstance` is the one of the process's
// entry class.
#pragma once

#include <memory>

#include "platform/appdelegate/ApplicationDelegate.h"

class GWLAnalytics;

class GWLAppDelegateInterceptor : public platform::ApplicationDelegate {
 public:
  static std::shared_ptr<GWLAppDelegateInterceptor> sharedInstance();
  explicit GWLAppDelegateInterceptor(std::weak_ptr<GWLAnalytics> analytics) : analytics_(std::move(analytics)) {}

  bool openURL(const std::string& url, const platform::Dictionary& options) override;
  bool continueUserActivity(const platform::UserActivity& activity,
                            const RestorationHandler& restorationHandler) override;
  void handleEventsForBackgroundURLSession(const std::string& identifier,
                                           const std::function<void()>& completionHandler) override;

 private:
  std::weak_ptr<GWLAnalytics> analytics_;
};
