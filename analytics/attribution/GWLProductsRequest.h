// GWLProductsRequest — one products request to the store, answering on a
// queue of the caller's choosing.
//
// `requestProductsWithProductIdentifiers` makes a request for the identifiers
// and starts it; the handler runs once, on `queue`, with either the valid
// products by identifier and the identifiers the store does not know (and no
// error), or no products and the error. When no store request can be made
// (no identifier, an empty one, no store) the handler gets error code 1
// "Invalid product identifiers.". Without a queue or a handler nothing
// happens. The request keeps itself alive until it has answered, then lets go
// of the store request, the handler and the queue (`clearInstance`).
//
// Thread-safe: any thread may start a request; the store answers on its own
// queue and the handler runs on the caller's.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/core/Error.h"
#include "platform/storekit/ProductsRequest.h"
#include "platform/util/Mutex.h"

namespace platform {
class Queue;
class Store;
}  // namespace platform

class GWLProductsRequest : public platform::ProductsRequestDelegate,
                           public std::enable_shared_from_this<GWLProductsRequest> {
 public:
  using Products = std::map<std::string, platform::Product>;
  using InvalidIdentifiers = std::set<std::string>;
  using CompletionHandler = std::function<void(const std::optional<Products>& validProducts,
                                               const std::optional<InvalidIdentifiers>& invalidIdentifiers,
                                               const std::optional<platform::Error>& error)>;

  static constexpr int64_t kInvalidProductIdentifiersCode = 1;
  static constexpr const char* kInvalidProductIdentifiersMessage = "Invalid product identifiers.";

  // `store`: the shared store when null.
  static void requestProductsWithProductIdentifiers(const std::set<std::string>& identifiers,
                                                    std::shared_ptr<platform::Queue> queue,
                                                    CompletionHandler completionHandler,
                                                    std::shared_ptr<platform::Store> store = nullptr);

  static std::shared_ptr<GWLProductsRequest> initWithProductIdentifiers(const std::set<std::string>& identifiers,
                                                                        std::shared_ptr<platform::Store> store = nullptr);
  void requestWithQueue(std::shared_ptr<platform::Queue> queue, CompletionHandler completionHandler);

  void productsRequestDidReceiveResponse(const std::shared_ptr<platform::ProductsRequest>& request,
                                         const platform::ProductsResponse& response) override;
  void requestDidFailWithError(const std::shared_ptr<platform::ProductsRequest>& request,
                               const platform::Error& error) override;
  void clearInstance();

 private:
  explicit GWLProductsRequest(std::shared_ptr<platform::ProductsRequest> productsRequest)
      : productsRequest_(std::move(productsRequest)) {}
  // Hands the answer to the handler on its queue, once, and clears the request.
  void answer(std::optional<Products> validProducts, std::optional<InvalidIdentifiers> invalidIdentifiers,
              std::optional<platform::Error> error);

  platform::Mutex mutex_;
  std::shared_ptr<platform::ProductsRequest> productsRequest_ ABSL_GUARDED_BY(mutex_);
  CompletionHandler completionHandler_ ABSL_GUARDED_BY(mutex_);
  std::shared_ptr<platform::Queue> queue_ ABSL_GUARDED_BY(mutex_);
  // Held while the request runs, so that the store's answer finds it.
  std::shared_ptr<GWLProductsRequest> keepAlive_ ABSL_GUARDED_BY(mutex_);
};
