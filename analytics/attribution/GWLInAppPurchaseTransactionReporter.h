// GWLInAppPurchaseTransactionReporter — turns store purchases into the
// internal purchase events "_iap", "_iapx", "_assr" and "_assc" (origin
// "auto"), logged through the entry class's internal-event path.
//
// Purchases arrive two ways:
//   paymentQueue(...)                   observed store transactions (StoreKit
//                                       version "1") that passed the engine's
//                                       fingerprint filter: the purchased ones
//                                       with a product identifier are reported
//   reportTransactionWithProductID(...) a transaction the app hands over field
//                                       by field (version "2")
// Each needs its store product (price, currency, title) from the product cache;
// when the cache lacks it, it is requested first, and a request that brings
// nothing logs (1, 21027) "Cannot request product information. Error" and
// reports nothing. Then each purchase is classified against the receipt's
// purchase items (GWLPurchaseEventParameters) and logged.
//
// Each report works on its own snapshot of purchase items: the receipt's
// items, read for that report, after the items of the transactions handed
// over so far (kept by the reporter under its mutex, newest first, each until
// the receipt holds its transaction). Concurrent reports share no list, so a
// batch of observed transactions and handed-over reports running at once give
// the events of running them one by one.
//
// Dates: a transaction's date is taken to the whole second in GMT (the
// receipt's precision) before it is matched with the receipt.
//
// Threads: the two entry points may be called on any thread; reports run on
// the report queue (the platform's global queue of default priority).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/attribution/GWLInAppPurchaseItem.h"
#include "analytics/attribution/GWLInAppPurchaseTransactionReporting.h"
#include "analytics/foundation/values/GWLValue.h"
#include "platform/core/Error.h"
#include "platform/storekit/PaymentQueue.h"
#include "platform/storekit/Product.h"
#include "platform/util/Mutex.h"

namespace platform {
class Queue;
}
class GWLInAppPurchaseProductCache;
class GWLMonitor;

class GWLInAppPurchaseTransactionReporter : public GWLInAppPurchaseTransactionReporting,
                                            public std::enable_shared_from_this<GWLInAppPurchaseTransactionReporter> {
 public:
  using InternalEventLogger =
      std::function<void(const std::string& origin, const std::string& name, const GWLParameters& parameters)>;

  struct Dependencies {
    std::shared_ptr<GWLInAppPurchaseProductCache> productCache;  // the shared cache when null
    std::shared_ptr<platform::Queue> reportQueue;                 // the global queue when null
    InternalEventLogger logInternalEvent;                         // GWLLogInternalEvent when empty
    std::shared_ptr<GWLMonitor> monitor;                          // the library's monitor when null
  };

  static std::shared_ptr<GWLInAppPurchaseTransactionReporter> sharedInstance();
  static std::shared_ptr<GWLInAppPurchaseTransactionReporter> create(Dependencies dependencies);

  void reportTransactionWithProductID(const GWLStoreTransactionValues& transaction) override;
  void paymentQueue(const std::shared_ptr<platform::PaymentQueue>& queue,
                    const std::vector<platform::PaymentTransaction>& filteredTransactions) override;

  // Reports each transaction with its cached product, on the calling thread.
  void reportTransactionsFromArray(const std::vector<platform::PaymentTransaction>& transactions);
  // A report's snapshot: the handed-over items, then the receipt's (nullopt
  // when there are neither).
  std::optional<std::vector<GWLInAppPurchaseItem>> parsePurchasedItemsFromReceipt();

  // The lower-case hexadecimal MD5 of a purchased transaction's identifier;
  // nullopt (with a level-2 line, except for a transaction that is not
  // purchased) for no transaction (21014), no identifier (21015), an empty
  // one (21016) or one of only "0" and "-" (21017).
  static std::optional<std::string> transactionFingerprint(const platform::PaymentTransaction* transaction);
  // The date as an internet date in GMT; nullopt without a date.
  static std::optional<std::string> ia5StringFromDate(const std::optional<platform::Date>& date);

 private:
  explicit GWLInAppPurchaseTransactionReporter(Dependencies dependencies);
  // Builds and logs one purchase event.
  void logPurchaseEvent(const std::optional<platform::Product>& product, int64_t quantity,
                        const std::optional<std::string>& transactionID,
                        const std::optional<std::string>& originalTransactionID, std::optional<double> transactionDate,
                        const std::string& storeKitVersion, const std::optional<std::string>& environment,
                        const std::optional<std::vector<GWLInAppPurchaseItem>>& items);
  void logCannotRequestProducts(const std::optional<platform::Error>& error);

  const std::shared_ptr<GWLInAppPurchaseProductCache> productCache_;
  const std::shared_ptr<platform::Queue> reportQueue_;
  const InternalEventLogger logInternalEvent_;
  const std::shared_ptr<GWLMonitor> monitor_;
  platform::Mutex mutex_;
  std::vector<GWLInAppPurchaseItem> handedOverItems_ ABSL_GUARDED_BY(mutex_);  // newest first
};
