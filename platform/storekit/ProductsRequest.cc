#include "platform/storekit/ProductsRequest.h"

#include "platform/dispatch/Queue.h"
#include "platform/storekit/Store.h"

namespace platform {

std::shared_ptr<ProductsRequest> ProductsRequest::create(std::set<std::string> productIdentifiers,
                                                         std::shared_ptr<Store> store) {
  if (!store) store = Store::shared();
  if (!store || productIdentifiers.empty() || productIdentifiers.count(std::string())) return nullptr;
  return std::shared_ptr<ProductsRequest>(new ProductsRequest(std::move(productIdentifiers), std::move(store)));
}

void ProductsRequest::setDelegate(std::weak_ptr<ProductsRequestDelegate> delegate) {
  MutexLock lock(mutex_);
  delegate_ = std::move(delegate);
}

void ProductsRequest::start() {
  {
    MutexLock lock(mutex_);
    if (started_) return;
    started_ = true;
  }
  // The block holds the request until it has answered.
  store_->queue()->async([self = shared_from_this()] {
    auto answer = self->store_->answerProductsRequest(self->productIdentifiers_);
    std::shared_ptr<ProductsRequestDelegate> delegate;
    {
      MutexLock lock(self->mutex_);
      delegate = self->delegate_.lock();
    }
    if (!delegate) return;
    if (const auto* response = std::get_if<ProductsResponse>(&answer)) {
      delegate->productsRequestDidReceiveResponse(self, *response);
    } else {
      delegate->requestDidFailWithError(self, std::get<Error>(answer));
    }
  });
}

}  // namespace platform
