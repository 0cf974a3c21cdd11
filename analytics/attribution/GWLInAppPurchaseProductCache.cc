#include "analytics/attribution/GWLInAppPurchaseProductCache.h"

#include "platform/dispatch/Queue.h"

std::shared_ptr<GWLInAppPurchaseProductCache> GWLInAppPurchaseProductCache::sharedInstance() {
  // Never destroyed: answers may still arrive while the process exits.
  static const auto* cache = new std::shared_ptr<GWLInAppPurchaseProductCache>(create());
  return *cache;
}

std::shared_ptr<GWLInAppPurchaseProductCache> GWLInAppPurchaseProductCache::create(
    std::shared_ptr<platform::Store> store) {
  return std::shared_ptr<GWLInAppPurchaseProductCache>(new GWLInAppPurchaseProductCache(std::move(store)));
}

GWLInAppPurchaseProductCache::GWLInAppPurchaseProductCache(std::shared_ptr<platform::Store> store)
    : store_(std::move(store)), lockQueue_(platform::SerialQueue::create(kGWLProductCacheQueueLabel)) {}

std::optional<platform::Product> GWLInAppPurchaseProductCache::cachedProductForProductIdentifier(
    const std::string& identifier) {
  std::optional<platform::Product> found;
  lockQueue_->sync([&] {
    auto it = validProducts_.find(identifier);
    if (it != validProducts_.end()) found = it->second;
  });
  return found;
}

void GWLInAppPurchaseProductCache::requestProductsWithProductIdentifiers(
    const std::set<std::string>& identifiers, std::shared_ptr<platform::Queue> queue,
    GWLProductsRequest::CompletionHandler completionHandler) {
  if (!queue || !completionHandler) return;
  std::weak_ptr<GWLInAppPurchaseProductCache> weakSelf = weak_from_this();
  GWLProductsRequest::requestProductsWithProductIdentifiers(
      identifiers, lockQueue_,
      [weakSelf, queue, completionHandler](const std::optional<GWLProductsRequest::Products>& valid,
                                           const std::optional<GWLProductsRequest::InvalidIdentifiers>& invalid,
                                           const std::optional<platform::Error>& error) {
        // On the lock queue.
        if (auto self = weakSelf.lock()) {
          self->mergeOnLockQueue(valid.value_or(GWLProductsRequest::Products{}),
                                 invalid.value_or(GWLProductsRequest::InvalidIdentifiers{}));
        }
        queue->async([completionHandler, valid, invalid, error] { completionHandler(valid, invalid, error); });
      },
      store_);
}

void GWLInAppPurchaseProductCache::mergeOnLockQueue(const GWLProductsRequest::Products& valid,
                                                    const GWLProductsRequest::InvalidIdentifiers& invalid) {
  for (const auto& [identifier, product] : valid) validProducts_.insert_or_assign(identifier, product);
  for (const auto& identifier : invalid) validProducts_.erase(identifier);
  invalidProductIdentifiers_.insert(invalid.begin(), invalid.end());
  for (const auto& [identifier, product] : valid) invalidProductIdentifiers_.erase(identifier);
  if (validProducts_.size() + invalidProductIdentifiers_.size() > kMaxEntries) {
    validProducts_ = valid;
    invalidProductIdentifiers_ = invalid;
  }
}

size_t GWLInAppPurchaseProductCache::validProductCount() {
  size_t count = 0;
  lockQueue_->sync([&] { count = validProducts_.size(); });
  return count;
}

size_t GWLInAppPurchaseProductCache::invalidIdentifierCount() {
  size_t count = 0;
  lockQueue_->sync([&] { count = invalidProductIdentifiers_.size(); });
  return count;
}
