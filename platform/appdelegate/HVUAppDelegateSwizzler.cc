#include "platform/appdelegate/HVUAppDelegateSwizzler.h"

#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/text/BooleanText.h"

namespace platform {

std::shared_ptr<HVUAppDelegateSwizzler> HVUAppDelegateSwizzler::sharedInstance() {
  // Never destroyed: the host may hand callbacks over while the process exits.
  static const auto* swizzler = new std::shared_ptr<HVUAppDelegateSwizzler>(create());
  return *swizzler;
}

std::shared_ptr<HVUAppDelegateSwizzler> HVUAppDelegateSwizzler::create(Dependencies dependencies) {
  return std::shared_ptr<HVUAppDelegateSwizzler>(new HVUAppDelegateSwizzler(std::move(dependencies)));
}

bool HVUAppDelegateSwizzler::isAppDelegateProxyEnabled() const {
  auto environment = dependencies_.environment ? dependencies_.environment : AppEnvironment::shared();
  const Object* value = environment ? environment->objectForInfoDictionaryKey(kAppDelegateProxyEnabledInfoKey) : nullptr;
  if (!value) return true;
  if (auto flag = value->boolValue()) return *flag;
  if (auto number = value->numberValue()) return *number != 0;
  if (const std::string* text = value->stringValue()) return booleanValueOfText(*text);
  return true;
}

void HVUAppDelegateSwizzler::proxyOriginalDelegate() {
  if (!isAppDelegateProxyEnabled()) return;
  std::lock_guard lock(mutex_);
  proxyInstalled_ = true;
}

bool HVUAppDelegateSwizzler::isProxyInstalled() const {
  std::lock_guard lock(mutex_);
  return proxyInstalled_;
}

std::string HVUAppDelegateSwizzler::registerAppDelegateInterceptor(
    const std::shared_ptr<ApplicationDelegate>& interceptor) {
  if (!interceptor) return std::string();
  std::lock_guard lock(mutex_);
  std::string identifier = "HVUAppDelegateInterceptor-" + std::to_string(nextIdentifier_++);
  interceptors_.emplace_back(identifier, interceptor);
  return identifier;
}

void HVUAppDelegateSwizzler::unregisterAppDelegateInterceptor(const std::string& identifier) {
  std::lock_guard lock(mutex_);
  std::erase_if(interceptors_, [&](const auto& entry) { return entry.first == identifier; });
}

void HVUAppDelegateSwizzler::setAppDelegate(std::weak_ptr<ApplicationDelegate> delegate) {
  std::lock_guard lock(mutex_);
  appDelegate_ = std::move(delegate);
}

std::shared_ptr<ApplicationDelegate> HVUAppDelegateSwizzler::appDelegate() const {
  std::lock_guard lock(mutex_);
  return appDelegate_.lock();
}

std::shared_ptr<Queue> HVUAppDelegateSwizzler::mainQueue() const {
  return dependencies_.mainQueue ? dependencies_.mainQueue : MainQueue::shared();
}

std::vector<std::shared_ptr<ApplicationDelegate>> HVUAppDelegateSwizzler::receivers() const {
  std::vector<std::shared_ptr<ApplicationDelegate>> result;
  std::lock_guard lock(mutex_);
  if (auto delegate = appDelegate_.lock()) result.push_back(std::move(delegate));
  if (proxyInstalled_) {
    for (const auto& entry : interceptors_) {
      if (auto interceptor = entry.second.lock()) result.push_back(std::move(interceptor));
    }
  }
  return result;
}

bool HVUAppDelegateSwizzler::openURL(const std::string& url, const Dictionary& options) {
  auto queue = mainQueue();
  if (!queue->isCurrent()) {
    queue->async([weak = weak_from_this(), url, options] {
      // Answered false to the caller already: the main queue's answer has no one to go to.
      if (auto self = weak.lock()) (void)self->openURL(url, options);
    });
    return false;
  }
  bool handled = false;
  for (const auto& receiver : receivers()) handled = receiver->openURL(url, options) || handled;
  return handled;
}

bool HVUAppDelegateSwizzler::continueUserActivity(const UserActivity& activity,
                                                  const ApplicationDelegate::RestorationHandler& restorationHandler) {
  auto queue = mainQueue();
  if (!queue->isCurrent()) {
    queue->async([weak = weak_from_this(), activity, restorationHandler] {
      // Answered false to the caller already: the main queue's answer has no one to go to.
      if (auto self = weak.lock()) (void)self->continueUserActivity(activity, restorationHandler);
    });
    return false;
  }
  bool handled = false;
  for (const auto& receiver : receivers()) {
    handled = receiver->continueUserActivity(activity, restorationHandler) || handled;
  }
  return handled;
}

void HVUAppDelegateSwizzler::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                                 const std::function<void()>& completionHandler) {
  auto queue = mainQueue();
  if (!queue->isCurrent()) {
    queue->async([weak = weak_from_this(), identifier, completionHandler] {
      if (auto self = weak.lock()) self->handleEventsForBackgroundURLSession(identifier, completionHandler);
    });
    return;
  }
  for (const auto& receiver : receivers()) receiver->handleEventsForBackgroundURLSession(identifier, completionHandler);
}

}  // namespace platform
