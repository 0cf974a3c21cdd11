// platform::ProductsRequest — one request for products of the store's catalog.
//
// Made with the identifiers asked for, given a delegate (held weakly) and
// started; the store answers once, on its queue: either a response (the
// catalog's products among the identifiers, and the identifiers it does not
// know) or a failure. A started request keeps itself alive until it has
// answered; starting it again does nothing.
//
// Thread-safe: any thread may make, set up and start a request.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/storekit/Product.h"
#include "platform/util/Mutex.h"

namespace platform {

class Store;
class ProductsRequest;

struct ProductsResponse {
  std::vector<Product> products;                         // in identifier order
  std::vector<std::string> invalidProductIdentifiers;  // in identifier order
};

class ProductsRequestDelegate {
 public:
  virtual ~ProductsRequestDelegate() = default;
  virtual void productsRequestDidReceiveResponse(const std::shared_ptr<ProductsRequest>& request,
                                                 const ProductsResponse& response) = 0;
  virtual void requestDidFailWithError(const std::shared_ptr<ProductsRequest>& request, const Error& error) = 0;
};

class ProductsRequest : public std::enable_shared_from_this<ProductsRequest> {
 public:
  // Null when there is no store (no shared one and none given), or when no
  // identifier is given or one of them is empty.
  static std::shared_ptr<ProductsRequest> create(std::set<std::string> productIdentifiers,
                                                 std::shared_ptr<Store> store = nullptr);

  void setDelegate(std::weak_ptr<ProductsRequestDelegate> delegate);
  void start();
  const std::set<std::string>& productIdentifiers() const { return productIdentifiers_; }

 private:
  ProductsRequest(std::set<std::string> productIdentifiers, std::shared_ptr<Store> store)
      : productIdentifiers_(std::move(productIdentifiers)), store_(std::move(store)) {}

  const std::set<std::string> productIdentifiers_;
  const std::shared_ptr<Store> store_;
  Mutex mutex_;
  std::weak_ptr<ProductsRequestDelegate> delegate_ ABSL_GUARDED_BY(mutex_);
  bool started_ ABSL_GUARDED_BY(mutex_) = false;
};

}  // namespace platform
