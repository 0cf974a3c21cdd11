#include "analytics/attribution/GWLProductsRequest.h"

#include "analytics/foundation/core/GWLError.h"
#include "platform/dispatch/Queue.h"
#include "platform/storekit/Store.h"

void GWLProductsRequest::requestProductsWithProductIdentifiers(const std::set<std::string>& identifiers,
                                                               std::shared_ptr<platform::Queue> queue,
                                                               CompletionHandler completionHandler,
                                                               std::shared_ptr<platform::Store> store) {
  if (!queue || !completionHandler) return;
  auto request = initWithProductIdentifiers(identifiers, std::move(store));
  if (!request) {
    queue->async([completionHandler = std::move(completionHandler)] {
      completionHandler(std::nullopt, std::nullopt,
                        gwl_errorWithCode(kInvalidProductIdentifiersCode, kInvalidProductIdentifiersMessage));
    });
    return;
  }
  request->requestWithQueue(std::move(queue), std::move(completionHandler));
}

std::shared_ptr<GWLProductsRequest> GWLProductsRequest::initWithProductIdentifiers(
    const std::set<std::string>& identifiers, std::shared_ptr<platform::Store> store) {
  auto productsRequest = platform::ProductsRequest::create(identifiers, std::move(store));
  if (!productsRequest) return nullptr;
  return std::shared_ptr<GWLProductsRequest>(new GWLProductsRequest(std::move(productsRequest)));
}

void GWLProductsRequest::requestWithQueue(std::shared_ptr<platform::Queue> queue, CompletionHandler completionHandler) {
  if (!queue || !completionHandler) return;
  std::shared_ptr<platform::ProductsRequest> started;
  {
    platform::MutexLock lock(mutex_);
    if (!productsRequest_ || completionHandler_) return;  // answered already, or running
    completionHandler_ = std::move(completionHandler);
    queue_ = std::move(queue);
    keepAlive_ = shared_from_this();
    started = productsRequest_;
  }
  started->setDelegate(weak_from_this());
  started->start();
}

void GWLProductsRequest::productsRequestDidReceiveResponse(const std::shared_ptr<platform::ProductsRequest>&,
                                                           const platform::ProductsResponse& response) {
  Products valid;
  for (const platform::Product& product : response.products) {
    if (!product.productIdentifier.empty()) valid.insert_or_assign(product.productIdentifier, product);
  }
  InvalidIdentifiers invalid(response.invalidProductIdentifiers.begin(), response.invalidProductIdentifiers.end());
  answer(std::move(valid), std::move(invalid), std::nullopt);
}

void GWLProductsRequest::requestDidFailWithError(const std::shared_ptr<platform::ProductsRequest>&,
                                                 const platform::Error& error) {
  answer(std::nullopt, std::nullopt, error);
}

void GWLProductsRequest::answer(std::optional<Products> validProducts,
                                std::optional<InvalidIdentifiers> invalidIdentifiers,
                                std::optional<platform::Error> error) {
  CompletionHandler handler;
  std::shared_ptr<platform::Queue> queue;
  std::shared_ptr<GWLProductsRequest> self;
  {
    platform::MutexLock lock(mutex_);
    handler = std::move(completionHandler_);
    queue = std::move(queue_);
    self = std::move(keepAlive_);
  }
  clearInstance();
  if (!handler || !queue) return;
  queue->async([handler = std::move(handler), validProducts = std::move(validProducts),
                invalidIdentifiers = std::move(invalidIdentifiers), error = std::move(error)] {
    handler(validProducts, invalidIdentifiers, error);
  });
}

void GWLProductsRequest::clearInstance() {
  platform::MutexLock lock(mutex_);
  productsRequest_.reset();
  completionHandler_ = nullptr;
  queue_.reset();
  keepAlive_.reset();
}
