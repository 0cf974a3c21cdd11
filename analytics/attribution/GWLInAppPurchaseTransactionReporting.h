// GWLInAppPurchaseTransactionReporting — the purchase reporter as the entry
// class hands purchases to it: a store transaction's fourteen values from the
// app's transaction logging, and the payment queue's purchased transactions
// that the engine let through its duplicate filter.
//
// `sharedInstance` answers the reporter's one instance
// (GWLInAppPurchaseTransactionReporter::sharedInstance).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/storekit/PaymentQueue.h"

// Product types of a store transaction.
enum GWLStoreProductType : int64_t {
  kGWLStoreProductTypeNonConsumable = 0,
  kGWLStoreProductTypeConsumable = 1,
  kGWLStoreProductTypeNonRenewing = 2,
  kGWLStoreProductTypeAutoRenewable = 3,
};

// The fourteen values of a store transaction, in the order the app logs them.
struct GWLStoreTransactionValues {
  std::optional<std::string> productID;
  std::optional<std::string> transactionID;
  std::optional<std::string> originalTransactionID;
  std::optional<std::string> webOrderLineItemID;
  int64_t productType = kGWLStoreProductTypeNonConsumable;
  bool isFreeTrial = false;
  bool isIntroductoryOffer = false;
  int64_t paymentQuantity = 0;
  std::optional<platform::Date> purchaseDate;
  std::optional<platform::Date> originalPurchaseDate;
  std::optional<platform::Date> subscriptionExpirationDate;
  std::optional<platform::Date> cancellationDate;
  std::optional<std::string> environment;
  bool isVerified = false;
  friend bool operator==(const GWLStoreTransactionValues&, const GWLStoreTransactionValues&) = default;
};

class GWLInAppPurchaseTransactionReporting {
 public:
  virtual ~GWLInAppPurchaseTransactionReporting() = default;

  // The reporter's one instance.
  static std::shared_ptr<GWLInAppPurchaseTransactionReporting> sharedInstance();

  // A transaction the app logged itself; called on the caller's thread.
  virtual void reportTransactionWithProductID(const GWLStoreTransactionValues& transaction) = 0;
  // `paymentQueue:updatedFilteredTransactions:`: the payment queue's
  // transactions that passed the engine's duplicate filter.
  virtual void paymentQueue(const std::shared_ptr<platform::PaymentQueue>& queue,
                            const std::vector<platform::PaymentTransaction>& filteredTransactions) = 0;
};
