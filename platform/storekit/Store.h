// platform::Store — the app store, as far as the analytics library meets it:
// a catalog of products answering products requests, and the app's receipt
// file, which every purchase extends.
//
// Everything lives in one directory of the app container (DIR/StoreKit under
// the data directory for the shared store):
//
//   Products.plist     the catalog: {"Products": [{"ProductIdentifier": "...",
//                      "Price": "0.99", "CurrencyCode": "USD", "Title": "...",
//                      "Type": 0-3, "IntroductoryPrice": "0.49",
//                      "IntroductoryPaymentMode": 0-2}, ...]}; read when the
//                      store is made, replaced in memory by `setProducts`
//   Purchases.plist    the purchases made so far (the receipt's source)
//   receipt            the receipt (Receipt.h); "sandboxReceipt" for a sandbox
//                      store, which a development build's shared store is
//
// A purchase records a new transaction (identifiers counting up from
// 1000000000000001, dated by the store's clock), writes the purchases and the
// re-encoded receipt atomically, then reports the transaction on the payment
// queue, whose observers see it as the device's store would show it. A renewal or
// restore names the original transaction; an auto-renewable subscription gets
// a web order line item identifier.
//
// Products requests answer on the store's queue. Tests may make the next
// requests fail (`setRequestFailure`).
//
// Thread-safe: every method may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/core/Error.h"
#include "platform/storekit/PaymentQueue.h"
#include "platform/storekit/Product.h"
#include "platform/storekit/ProductsRequest.h"
#include "platform/storekit/Receipt.h"
#include "platform/util/Mutex.h"

namespace platform {

class Clock;
class Queue;

inline constexpr const char* kStoreDirectoryName = "StoreKit";
inline constexpr const char* kStoreCatalogFileName = "Products.plist";
inline constexpr const char* kStorePurchasesFileName = "Purchases.plist";
inline constexpr const char* kStoreReceiptFileName = "receipt";
inline constexpr const char* kStoreSandboxReceiptFileName = "sandboxReceipt";
inline constexpr const char* kStoreErrorDomain = "platform.Store";

class Store : public std::enable_shared_from_this<Store> {
 public:
  enum Code : int64_t {
    kUnknownProduct = 1,  // a purchase of a product the catalog does not hold
    kUnreadableFile = 2,  // the catalog or the purchases file cannot be read
    kWriteFailed = 3,     // the purchases or the receipt could not be written
  };

  struct Configuration {
    std::string directory;  // where the files live; created by the first purchase
    bool sandbox = false;   // the receipt is "sandboxReceipt"
    // The version written as the receipt's original application version; the
    // app environment's build version when empty.
    std::string originalApplicationVersion;
    std::shared_ptr<Clock> clock;  // purchase dates; the system clock when null
    std::shared_ptr<Queue> queue;  // where requests answer; a serial queue of the store's own when null
    // Where purchases are reported; the default payment queue when null.
    std::shared_ptr<PaymentQueue> paymentQueue;
  };

  // What a purchase asks for.
  struct PurchaseRequest {
    std::string productIdentifier;
    int64_t quantity = 1;
    // A renewal or restore: the original transaction's identifier.
    std::optional<std::string> originalTransactionIdentifier;
    bool freeTrial = false;
    bool introductoryOffer = false;
  };

  // A purchase as recorded: the receipt's record and the purchase's time.
  struct Recorded {
    receipt::Purchase purchase;
    double date = 0;
    int64_t quantity = 1;
  };

  // Null with an error when the catalog or the purchases file is there but
  // cannot be read.
  [[nodiscard]] static std::shared_ptr<Store> create(Configuration configuration, Error* error = nullptr);

  // The process-wide store: made on first use in DIR/StoreKit of the current
  // data directory (a sandbox store unless this is a store build); null
  // without a data directory, and (with a warning in the platform log) when
  // its files cannot be read.
  static std::shared_ptr<Store> shared();
  static void setShared(std::shared_ptr<Store> store);

  std::vector<Product> products() const;
  void setProducts(std::vector<Product> products);
  [[nodiscard]] std::optional<Product> productWithIdentifier(const std::string& identifier) const;
  // Tests: requests answer with this failure while it is set.
  void setRequestFailure(std::optional<Error> failure);

  // The receipt file's path (the file exists once a purchase was made).
  std::string receiptPath() const;
  bool isSandbox() const { return configuration_.sandbox; }
  const std::shared_ptr<Queue>& queue() const { return queue_; }

  // Records a purchase and extends the receipt; nullopt with an error when
  // the product is unknown or the files could not be written.
  [[nodiscard]] std::optional<Recorded> recordPurchase(const PurchaseRequest& request, Error* error = nullptr);
  // Records a purchase and reports its transaction, purchased, on the payment
  // queue; nullopt with an error as `recordPurchase`.
  [[nodiscard]] std::optional<PaymentTransaction> purchase(const PurchaseRequest& request, Error* error = nullptr);
  // The purchases recorded so far, oldest first.
  std::vector<receipt::Purchase> purchases() const;

  // The answer to a products request for `identifiers` (ProductsRequest).
  std::variant<ProductsResponse, Error> answerProductsRequest(const std::set<std::string>& identifiers) const;

 private:
  Store(Configuration configuration, std::shared_ptr<Queue> queue, std::shared_ptr<Clock> clock,
        std::shared_ptr<PaymentQueue> paymentQueue)
      : configuration_(std::move(configuration)),
        queue_(std::move(queue)),
        clock_(std::move(clock)),
        paymentQueue_(std::move(paymentQueue)) {}
  [[nodiscard]] bool writeFiles(const std::vector<receipt::Purchase>& purchases, Error* error) const ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex_);

  const Configuration configuration_;
  const std::shared_ptr<Queue> queue_;
  const std::shared_ptr<Clock> clock_;
  const std::shared_ptr<PaymentQueue> paymentQueue_;
  mutable Mutex mutex_;
  std::vector<Product> products_ ABSL_GUARDED_BY(mutex_);
  std::optional<Error> requestFailure_ ABSL_GUARDED_BY(mutex_);
  std::vector<receipt::Purchase> purchases_ ABSL_GUARDED_BY(mutex_);
};

}  // namespace platform
