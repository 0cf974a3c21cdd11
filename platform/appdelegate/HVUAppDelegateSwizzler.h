// platform::HVUAppDelegateSwizzler — the utilities framework's app-delegate
// proxy: lets code that is not the app delegate see the app's opened URLs,
// continued user activities and background URL-session events, without the
// app's help.
//
// The host (standing for the platform) hands those callbacks to the swizzler
// on the main queue: `openURL`, `continueUserActivity` and
// `handleEventsForBackgroundURLSession` run there (called from another thread,
// they are posted there and answer NO). Each reaches the app's own delegate
// first (`setAppDelegate`), then, once `proxyOriginalDelegate` has put the
// proxy in place, every registered interceptor in registration order. The
// answer is YES when any of them handled the call.
//
// The app turns the proxy off with the Info dictionary key
// "CorvaneAppDelegateProxyEnabled" set to NO (a boolean, a number or text
// read as the platform reads booleans); absent or of another kind, it is on.
// While it is off, `proxyOriginalDelegate` does nothing.
//
// Delegate and interceptors are held weakly. Thread-safe: any thread may
// register; the callbacks run on the main queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/appdelegate/ApplicationDelegate.h"

namespace platform {

class AppEnvironment;
class Queue;

inline constexpr const char* kAppDelegateProxyEnabledInfoKey = "CorvaneAppDelegateProxyEnabled";

class HVUAppDelegateSwizzler : public std::enable_shared_from_this<HVUAppDelegateSwizzler> {
 public:
  struct Dependencies {
    std::shared_ptr<AppEnvironment> environment;  // the shared app environment (at each use) when null
    std::shared_ptr<Queue> mainQueue;             // MainQueue::shared() when null
  };

  // The process-wide swizzler.
  static std::shared_ptr<HVUAppDelegateSwizzler> sharedInstance();
  static std::shared_ptr<HVUAppDelegateSwizzler> create(Dependencies dependencies = {});

  bool isAppDelegateProxyEnabled() const;
  // Puts the proxy in front of the app delegate (once; nothing while the proxy is off).
  void proxyOriginalDelegate();
  bool isProxyInstalled() const;
  // Registers an interceptor; answers its identifier ("" for a null one).
  std::string registerAppDelegateInterceptor(const std::shared_ptr<ApplicationDelegate>& interceptor);
  void unregisterAppDelegateInterceptor(const std::string& identifier);

  // The host: the app's own delegate.
  void setAppDelegate(std::weak_ptr<ApplicationDelegate> delegate);
  // The app's own delegate, or null: for code that hands the app something
  // itself (it bypasses the interceptors).
  std::shared_ptr<ApplicationDelegate> appDelegate() const;

  // The host's callbacks (see the header comment).
  [[nodiscard]] bool openURL(const std::string& url, const Dictionary& options = {});
  [[nodiscard]] bool continueUserActivity(const UserActivity& activity,
                            const ApplicationDelegate::RestorationHandler& restorationHandler = {});
  void handleEventsForBackgroundURLSession(const std::string& identifier,
                                           const std::function<void()>& completionHandler);

 private:
  explicit HVUAppDelegateSwizzler(Dependencies dependencies) : dependencies_(std::move(dependencies)) {}
  std::shared_ptr<Queue> mainQueue() const;
  // The app delegate, then (with the proxy in place) the live interceptors.
  std::vector<std::shared_ptr<ApplicationDelegate>> receivers() const;

  Dependencies dependencies_;
  mutable std::mutex mutex_;
  bool proxyInstalled_ = false;
  uint64_t nextIdentifier_ = 1;
  std::weak_ptr<ApplicationDelegate> appDelegate_;
  std::vector<std::pair<std::string, std::weak_ptr<ApplicationDelegate>>> interceptors_;
};

}  // namespace platform
