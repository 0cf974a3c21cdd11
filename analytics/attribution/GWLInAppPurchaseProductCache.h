// GWLInAppPurchaseProductCache — the store products the purchase reporter has
// asked for, and the identifiers the store did not know.
//
// A request goes to the store (GWLProductsRequest) and its answer is merged in
// on the cache's own queue ("com.halcyra.qrx.measurement.iap-cache"): the
// valid products V are added and the invalid identifiers I recorded, each
// side dropping what the other now holds. When the two together then hold
// more than 100 entries, the cache keeps only that answer (V and I). Then the
// caller's handler runs on the caller's queue with the answer.
//
// Lookups run synchronously on the cache's queue. The cache lives for the
// process (`sharedInstance`); tests make their own over a store of theirs.
//
// Threads: the cache's state belongs to its queue; every method may be
// called from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "analytics/attribution/GWLProductsRequest.h"

namespace platform {
class Queue;
class SerialQueue;
class Store;
}  // namespace platform

inline constexpr const char* kGWLProductCacheQueueLabel = "com.halcyra.qrx.measurement.iap-cache";

class GWLInAppPurchaseProductCache : public std::enable_shared_from_this<GWLInAppPurchaseProductCache> {
 public:
  static constexpr size_t kMaxEntries = 100;

  static std::shared_ptr<GWLInAppPurchaseProductCache> sharedInstance();
  // `store`: the shared store (at the time of each request) when null.
  static std::shared_ptr<GWLInAppPurchaseProductCache> create(std::shared_ptr<platform::Store> store = nullptr);

  std::optional<platform::Product> cachedProductForProductIdentifier(const std::string& identifier);
  // Nothing without a queue or a handler.
  void requestProductsWithProductIdentifiers(const std::set<std::string>& identifiers,
                                             std::shared_ptr<platform::Queue> queue,
                                             GWLProductsRequest::CompletionHandler completionHandler);

  // Tests: how many valid products and invalid identifiers are held.
  size_t validProductCount();
  size_t invalidIdentifierCount();

 private:
  explicit GWLInAppPurchaseProductCache(std::shared_ptr<platform::Store> store);
  void mergeOnLockQueue(const GWLProductsRequest::Products& valid, const GWLProductsRequest::InvalidIdentifiers& invalid);

  const std::shared_ptr<platform::Store> store_;
  const std::shared_ptr<platform::SerialQueue> lockQueue_;
  // Lock queue only.
  std::map<std::string, platform::Product> validProducts_;
  std::set<std::string> invalidProductIdentifiers_;
};
