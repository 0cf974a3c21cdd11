#include "analytics/measurement/GWLAppDelegateInterceptor.h"

#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "platform/net/HVUNetwork.h"

std::shared_ptr<GWLAppDelegateInterceptor> GWLAppDelegateInterceptor::sharedInstance() {
  return GWLAnalytics::sharedInstance()->appDelegateInterceptor();
}

bool GWLAppDelegateInterceptor::openURL(const std::string& url, const platform::Dictionary&) {
  if (auto analytics = analytics_.lock()) analytics->handleOpenURL(url);
  return false;
}

bool GWLAppDelegateInterceptor::continueUserActivity(const platform::UserActivity& activity,
                                                     const RestorationHandler&) {
  auto link = GWLMeasurement::deepLinkFromUserActivity(activity);
  if (link && !link->empty()) {
    if (auto analytics = analytics_.lock()) analytics->handleUserActivity(activity);
  }
  return false;
}

void GWLAppDelegateInterceptor::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                                    const std::function<void()>& completionHandler) {
  platform::HVUNetwork::handleEventsForBackgroundURLSessionID(identifier, completionHandler);
}
