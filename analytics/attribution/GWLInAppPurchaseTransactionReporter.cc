#include "analytics/attribution/GWLInAppPurchaseTransactionReporter.h"

#include <algorithm>
#include <set>

#include "analytics/attribution/GWLInAppPurchaseProductCache.h"
#include "analytics/attribution/GWLPurchaseEventParameters.h"
#include "analytics/attribution/GWLReceipt.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLStringAdditions.h"
#include "analytics/foundation/values/GWLErrorEvents.h"
#include "platform/dispatch/Queue.h"
#include "platform/text/BooleanText.h"
#include "platform/text/InternetDate.h"

namespace {

constexpr int64_t kTransactionNilCode = 21014;
constexpr const char* kTransactionNilMessage = "Transaction is nil";
constexpr int64_t kIdentifierNilCode = 21015;
constexpr const char* kIdentifierNilMessage = "Transaction identifier is nil. Code";
constexpr int64_t kIdentifierEmptyCode = 21016;
constexpr const char* kIdentifierEmptyMessage = "Transaction identifier is empty. Code";
constexpr int64_t kIdentifierZeroesCode = 21017;
constexpr const char* kIdentifierZeroesMessage = "Transaction identifier is only zeroes. Code";
constexpr int64_t kCannotRequestProductsCode = 21027;
constexpr const char* kCannotRequestProductsMessage = "Cannot request product information. Error";
constexpr int64_t kParsedReceiptCode = 21028;
constexpr const char* kParsedReceiptMessage = "Parsed purchase items from receipt";

// The date taken to the whole second in GMT, as the receipt writes it.
std::optional<double> wholeSecondDate(const std::optional<platform::Date>& date) {
  auto text = GWLInAppPurchaseTransactionReporter::ia5StringFromDate(date);
  return text ? platform::parseInternetDate(*text) : std::nullopt;
}

// The purchase item a handed-over transaction describes.
GWLInAppPurchaseItem itemOf(const GWLStoreTransactionValues& transaction) {
  GWLInAppPurchaseItem item;
  item.freeTrial = transaction.isFreeTrial;
  item.introductoryOffer = transaction.isIntroductoryOffer;
  item.purchaseDateIA5String = GWLInAppPurchaseTransactionReporter::ia5StringFromDate(transaction.purchaseDate);
  item.originalPurchaseDateIA5String =
      GWLInAppPurchaseTransactionReporter::ia5StringFromDate(transaction.originalPurchaseDate);
  item.subscriptionExpirationDateIA5String =
      GWLInAppPurchaseTransactionReporter::ia5StringFromDate(transaction.subscriptionExpirationDate);
  item.cancellationDateIA5String = GWLInAppPurchaseTransactionReporter::ia5StringFromDate(transaction.cancellationDate);
  item.productID = transaction.productID;
  item.originalTransactionID = transaction.originalTransactionID;
  item.transactionID = transaction.transactionID;
  if (transaction.webOrderLineItemID) {
    // The text's integer value (0 when it has none); the identifier is unsigned.
    item.webOrderLineItemID =
        static_cast<uint64_t>(std::max<int64_t>(0, platform::integerValueOfText(*transaction.webOrderLineItemID)));
  }
  item.purchaseType = transaction.productType;
  return item;
}

}  // namespace

std::shared_ptr<GWLInAppPurchaseTransactionReporter> GWLInAppPurchaseTransactionReporter::sharedInstance() {
  // Never destroyed: purchases may still arrive while the process exits.
  static const auto* reporter = new std::shared_ptr<GWLInAppPurchaseTransactionReporter>(create({}));
  return *reporter;
}

std::shared_ptr<GWLInAppPurchaseTransactionReporter> GWLInAppPurchaseTransactionReporter::create(
    Dependencies dependencies) {
  return std::shared_ptr<GWLInAppPurchaseTransactionReporter>(
      new GWLInAppPurchaseTransactionReporter(std::move(dependencies)));
}

GWLInAppPurchaseTransactionReporter::GWLInAppPurchaseTransactionReporter(Dependencies dependencies)
    : productCache_(dependencies.productCache ? dependencies.productCache
                                              : GWLInAppPurchaseProductCache::sharedInstance()),
      reportQueue_(dependencies.reportQueue ? dependencies.reportQueue : platform::ConcurrentQueue::globalDefault()),
      logInternalEvent_(dependencies.logInternalEvent ? dependencies.logInternalEvent : GWLLogInternalEvent),
      monitor_(dependencies.monitor) {}

// ---------------------------------------------------------------------------
// Observed transactions (version "1")

void GWLInAppPurchaseTransactionReporter::paymentQueue(const std::shared_ptr<platform::PaymentQueue>&,
                                                       const std::vector<platform::PaymentTransaction>& filteredTransactions) {
  std::vector<platform::PaymentTransaction> kept;
  std::set<std::string> missing;
  for (const auto& transaction : filteredTransactions) {
    if (transaction.transactionState != platform::PaymentTransactionState::Purchased ||
        transaction.payment.productIdentifier.empty()) {
      continue;
    }
    kept.push_back(transaction);
    if (!productCache_->cachedProductForProductIdentifier(transaction.payment.productIdentifier)) {
      missing.insert(transaction.payment.productIdentifier);
    }
  }
  if (kept.empty()) return;
  std::weak_ptr<GWLInAppPurchaseTransactionReporter> weakSelf = weak_from_this();
  if (missing.empty()) {
    reportQueue_->async([weakSelf, kept = std::move(kept)] {
      if (auto self = weakSelf.lock()) self->reportTransactionsFromArray(kept);
    });
    return;
  }
  productCache_->requestProductsWithProductIdentifiers(
      missing, reportQueue_,
      [weakSelf, kept = std::move(kept)](const std::optional<GWLProductsRequest::Products>& valid,
                                         const std::optional<GWLProductsRequest::InvalidIdentifiers>&,
                                         const std::optional<platform::Error>& error) {
        auto self = weakSelf.lock();
        if (!self) return;
        if (!error || (valid && !valid->empty())) {
          self->reportTransactionsFromArray(kept);
        } else {
          self->logCannotRequestProducts(error);
        }
      });
}

void GWLInAppPurchaseTransactionReporter::reportTransactionsFromArray(
    const std::vector<platform::PaymentTransaction>& transactions) {
  // This batch's own snapshot, dropped when the batch is done.
  const auto items = parsePurchasedItemsFromReceipt();
  for (const auto& transaction : transactions) {
    logPurchaseEvent(productCache_->cachedProductForProductIdentifier(transaction.payment.productIdentifier),
                     transaction.payment.quantity, transaction.transactionIdentifier,
                     transaction.originalTransactionIdentifier, wholeSecondDate(transaction.transactionDate),
                     kGWLStoreKitVersion1, std::nullopt, items);
  }
}

// ---------------------------------------------------------------------------
// Handed-over transactions (version "2")

void GWLInAppPurchaseTransactionReporter::reportTransactionWithProductID(const GWLStoreTransactionValues& transaction) {
  auto items = parsePurchasedItemsFromReceipt();
  const bool known = items && transaction.transactionID &&
                     std::any_of(items->begin(), items->end(), [&](const GWLInAppPurchaseItem& item) {
                       return item.transactionID == transaction.transactionID;
                     });
  if (!known) {
    GWLInAppPurchaseItem item = itemOf(transaction);
    {
      platform::MutexLock lock(mutex_);
      handedOverItems_.insert(handedOverItems_.begin(), item);
    }
    if (!items) items.emplace();
    items->insert(items->begin(), std::move(item));
  }
  const std::optional<double> transactionDate = wholeSecondDate(transaction.purchaseDate);
  std::weak_ptr<GWLInAppPurchaseTransactionReporter> weakSelf = weak_from_this();
  auto report = [weakSelf, transaction, transactionDate, items](const platform::Product& product) {
    if (auto self = weakSelf.lock()) {
      self->logPurchaseEvent(product, transaction.paymentQuantity, transaction.transactionID,
                             transaction.originalTransactionID, transactionDate, kGWLStoreKitVersion2,
                             transaction.environment, items);
    }
  };
  const std::string productID = transaction.productID.value_or(std::string());
  if (auto cached = productCache_->cachedProductForProductIdentifier(productID)) {
    reportQueue_->async([report, product = *cached] { report(product); });
    return;
  }
  productCache_->requestProductsWithProductIdentifiers(
      {productID}, reportQueue_,
      [weakSelf, report](const std::optional<GWLProductsRequest::Products>& valid,
                         const std::optional<GWLProductsRequest::InvalidIdentifiers>&,
                         const std::optional<platform::Error>& error) {
        if (valid && !valid->empty()) {
          report(valid->begin()->second);
        } else if (auto self = weakSelf.lock()) {
          self->logCannotRequestProducts(error);
        }
      });
}

// ---------------------------------------------------------------------------
// Snapshots, events, fingerprints

std::optional<std::vector<GWLInAppPurchaseItem>> GWLInAppPurchaseTransactionReporter::parsePurchasedItemsFromReceipt() {
  std::optional<std::vector<GWLInAppPurchaseItem>> fromReceipt;
  if (auto data = GWLReadReceiptData(); data && !data->empty()) {
    fromReceipt = GWLPurchaseItemsFromReceipt(*data);
    (monitor_ ? monitor_ : GWLLibraryMonitor::monitor())
        ->logWithLevel(kGWLLevelDebug, kParsedReceiptCode, kParsedReceiptMessage);
  }
  std::vector<GWLInAppPurchaseItem> handedOver;
  {
    platform::MutexLock lock(mutex_);
    if (fromReceipt) {
      // A transaction the receipt holds now is read from there.
      std::erase_if(handedOverItems_, [&](const GWLInAppPurchaseItem& item) {
        return item.transactionID && std::any_of(fromReceipt->begin(), fromReceipt->end(), [&](const auto& inReceipt) {
                 return inReceipt.transactionID == item.transactionID;
               });
      });
    }
    handedOver = handedOverItems_;
  }
  if (!fromReceipt && handedOver.empty()) return std::nullopt;
  if (fromReceipt) handedOver.insert(handedOver.end(), fromReceipt->begin(), fromReceipt->end());
  return handedOver;
}

void GWLInAppPurchaseTransactionReporter::logPurchaseEvent(const std::optional<platform::Product>& product,
                                                           int64_t quantity,
                                                           const std::optional<std::string>& transactionID,
                                                           const std::optional<std::string>& originalTransactionID,
                                                           std::optional<double> transactionDate,
                                                           const std::string& storeKitVersion,
                                                           const std::optional<std::string>& environment,
                                                           const std::optional<std::vector<GWLInAppPurchaseItem>>& items) {
  auto parameters =
      GWLPurchaseEventParameters(product, quantity, transactionID, originalTransactionID, transactionDate, items);
  if (!parameters || parameters->empty()) return;
  GWLPurchaseEvent event =
      GWLPurchaseEventFromParameters(std::move(*parameters), storeKitVersion, environment, GWLAEU::isASRS());
  logInternalEvent_(kGWLPurchaseEventOrigin, event.name, event.parameters);
}

void GWLInAppPurchaseTransactionReporter::logCannotRequestProducts(const std::optional<platform::Error>& error) {
  (monitor_ ? monitor_ : GWLLibraryMonitor::monitor())
      ->logWithLevel(kGWLLevelErrorSampled, kCannotRequestProductsCode, kCannotRequestProductsMessage,
                     error ? GWLLogContext(*error) : GWLLogContext());
}

std::optional<std::string> GWLInAppPurchaseTransactionReporter::transactionFingerprint(
    const platform::PaymentTransaction* transaction) {
  auto monitor = GWLLibraryMonitor::monitor();
  if (!transaction) {
    monitor->logWithLevel(kGWLLevelErrorSilent, kTransactionNilCode, kTransactionNilMessage);
    return std::nullopt;
  }
  if (transaction->transactionState != platform::PaymentTransactionState::Purchased) return std::nullopt;
  const GWLLogContext code(transaction->errorCode);
  if (!transaction->transactionIdentifier) {
    monitor->logWithLevel(kGWLLevelErrorSilent, kIdentifierNilCode, kIdentifierNilMessage, code);
    return std::nullopt;
  }
  const std::string& identifier = *transaction->transactionIdentifier;
  if (identifier.empty()) {
    monitor->logWithLevel(kGWLLevelErrorSilent, kIdentifierEmptyCode, kIdentifierEmptyMessage, code);
    return std::nullopt;
  }
  if (identifier.find_first_not_of("0-") == std::string::npos) {
    monitor->logWithLevel(kGWLLevelErrorSilent, kIdentifierZeroesCode, kIdentifierZeroesMessage, code);
    return std::nullopt;
  }
  return gwl_MD5String(identifier);
}

std::optional<std::string> GWLInAppPurchaseTransactionReporter::ia5StringFromDate(
    const std::optional<platform::Date>& date) {
  if (!date) return std::nullopt;
  return platform::formatInternetDate(date->secondsSince1970);
}
