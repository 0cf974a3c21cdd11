#include "analytics/attribution/GWLPurchaseEventParameters.h"

#include <algorithm>

#include "analytics/attribution/GWLReceipt.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/text/UnicodeText.h"

namespace {

constexpr int64_t kLogLevel = 8;

constexpr int64_t kTransactionIDMissingCode = 40003;
constexpr const char* kTransactionIDMissingMessage = "Transaction ID cannot be nil or empty.";
constexpr int64_t kRestoreCode = 40005;
constexpr const char* kRestoreMessage = "Restore/repurchase of non-consumable item will be reported as invalid";
constexpr int64_t kMismatchedIDsCode = 40007;
constexpr const char* kMismatchedIDsMessage =
    "Transaction with mismatched transaction ID and original transaction ID will be reported as consumable";
constexpr int64_t kAutoRenewableCode = 40008;
constexpr const char* kAutoRenewableMessage = "Transaction of auto-renewable subscription will be reported";
constexpr int64_t kFreeTrialCode = 40009;
constexpr const char* kFreeTrialMessage = "Transaction of free-trial auto-renewable subscription will be reported";
constexpr int64_t kRenewalCode = 40010;
constexpr const char* kRenewalMessage = "Transaction of auto-renewable subscription renewal will be reported";
constexpr int64_t kFreeTrialRepurchaseCode = 40011;
constexpr const char* kFreeTrialRepurchaseMessage =
    "Repurchase of free-trial auto-renewable subscription will be reported as invalid";
constexpr int64_t kIntroductoryOfferCode = 40018;
constexpr const char* kIntroductoryOfferMessage = "Transaction of introductory offer will be reported";
constexpr int64_t kMissingInReceiptCode = 40020;
constexpr const char* kMissingInReceiptMessage = "Transaction missing in receipt will be reported as invalid";
constexpr int64_t kConsumableCode = 40021;
constexpr const char* kConsumableMessage = "Transaction of consumable item will be reported";
constexpr int64_t kNonConsumableCode = 40022;
constexpr const char* kNonConsumableMessage = "Transaction of non-consumable item will be reported";
constexpr int64_t kSubscriptionMissingCode = 40023;
constexpr const char* kSubscriptionMissingMessage =
    "Subscription transaction missing in receipt will be reported as invalid";
constexpr int64_t kDuplicateDateCode = 40024;
constexpr const char* kDuplicateDateMessage =
    "Subscription transaction with duplicate transaction date will be reported as invalid";
constexpr int64_t kNonRenewingCode = 40025;
constexpr const char* kNonRenewingMessage = "Transaction of non-renewing subscription will be reported";
constexpr int64_t kNilProductCode = 40026;
constexpr const char* kNilProductMessage = "IAP Transaction cannot be created from nil product";
constexpr int64_t kEmptyProductIDCode = 40027;
constexpr const char* kEmptyProductIDMessage = "IAP Transaction cannot be created from empty or nil product ID";

constexpr int64_t kMicrosPower = 6;

void log(int64_t code, const char* message) { GWLLibraryMonitor::monitor()->logWithLevel(kLogLevel, code, message); }
void log(int64_t code, const char* message, const GWLLogContext& context) {
  GWLLibraryMonitor::monitor()->logWithLevel(kLogLevel, code, message, context);
}
void log(int64_t code, const char* message, const GWLLogContext& first, const GWLLogContext& second) {
  GWLLibraryMonitor::monitor()->logWithLevel(kLogLevel, code, message, first, second);
}

bool nonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

void setFlag(GWLParameters& parameters, const char* name) {
  parameters.insert_or_assign(name, GWLValue::initWithInt64(1));
}

bool flagIsSet(const GWLParameters& parameters, const char* name) {
  auto it = parameters.find(name);
  return it != parameters.end() && it->second.isInt64() && it->second.int64Value() == 1;
}

void setMicros(GWLParameters& parameters, const char* name, std::optional<int64_t> micros) {
  if (micros) {
    parameters.insert_or_assign(name, GWLValue::initWithInt64(*micros));
  } else {
    parameters.erase(name);  // an amount that does not fit is left out
  }
}

std::optional<GWLDecimalNumber> decimal(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return GWLDecimalNumberFromString(*text);
}

// Replaces the price by the discounted one, keeping the list price.
void discount(GWLParameters& parameters, std::optional<int64_t> price) {
  if (auto listPrice = parameters.find(kGWLPurchasePriceParameter); listPrice != parameters.end()) {
    parameters.insert_or_assign(kGWLPurchaseOriginalPriceParameter, listPrice->second);
  }
  setFlag(parameters, kGWLPurchasePriceIsDiscountedParameter);
  setMicros(parameters, kGWLPurchasePriceParameter, price);
}

void freeOfCharge(GWLParameters& parameters) {
  discount(parameters, 0);
  setMicros(parameters, kGWLPurchaseValueParameter, 0);
}

// Steps 4 to 9 of the classification: what the receipt says about the purchase.
void classify(GWLParameters& parameters, const platform::Product& product,
              const std::optional<std::string>& transactionID, const std::optional<std::string>& originalTransactionID,
              std::optional<double> transactionDate, const std::optional<std::vector<GWLInAppPurchaseItem>>& items) {
  const std::string& productID = product.productIdentifier;
  auto productItems = GWLFilterPurchaseItems(items.value_or(std::vector<GWLInAppPurchaseItem>{}), productID,
                                             std::nullopt)
                          .value_or(std::vector<GWLInAppPurchaseItem>{});
  if (productItems.empty()) {
    log(kMissingInReceiptCode, kMissingInReceiptMessage, productID);
    setFlag(parameters, kGWLPurchaseInvalidParameter);
    return;
  }
  const GWLInAppPurchaseItem& latest = productItems.back();
  const std::optional<int64_t> type = latest.purchaseType;
  const bool idsDiffer = nonEmpty(transactionID) && nonEmpty(originalTransactionID) && *transactionID != *originalTransactionID;
  if (type == kGWLPurchaseTypeNonConsumable && idsDiffer) {
    log(kRestoreCode, kRestoreMessage);
    setFlag(parameters, kGWLPurchaseInvalidParameter);
    return;
  }
  const bool subscriptionLike = type == kGWLPurchaseTypeAutoRenewableSubscription ||
                                type == kGWLPurchaseTypeNonRenewingSubscription || latest.webOrderLineItemID.has_value();
  const bool same = latest.transactionID == latest.originalTransactionID;
  if (!subscriptionLike) {
    if (same) {
      if (type == kGWLPurchaseTypeConsumable) log(kConsumableCode, kConsumableMessage);
      if (type == kGWLPurchaseTypeNonConsumable) log(kNonConsumableCode, kNonConsumableMessage);
      parameters.insert_or_assign(kGWLPurchaseDedupIDParameter,
                                  GWLValue::initWithInt64(GWLPurchaseDedupID(latest.originalTransactionID, std::nullopt,
                                                                             latest.productID)));
    } else {
      log(kMismatchedIDsCode, kMismatchedIDsMessage);
    }
    return;
  }

  auto matched = GWLFilterPurchaseItems(productItems, std::nullopt, transactionDate)
                     .value_or(std::vector<GWLInAppPurchaseItem>{});
  if (matched.size() != 1) {
    if (matched.empty()) {
      log(kSubscriptionMissingCode, kSubscriptionMissingMessage, productID);
    } else {
      log(kDuplicateDateCode, kDuplicateDateMessage, productID, static_cast<int64_t>(matched.size()));
    }
    setFlag(parameters, kGWLPurchaseInvalidParameter);
    setFlag(parameters, kGWLPurchaseSubscriptionParameter);
    return;
  }
  const GWLInAppPurchaseItem& item = matched.front();
  if (type == kGWLPurchaseTypeNonRenewingSubscription) {
    setFlag(parameters, kGWLPurchaseSubscriptionParameter);
    parameters.insert_or_assign(
        kGWLPurchaseDedupIDParameter,
        GWLValue::initWithInt64(GWLPurchaseDedupID(item.originalTransactionID, std::nullopt, item.productID)));
    log(kNonRenewingCode, kNonRenewingMessage);
    return;
  }
  // Auto-renewable (or marked subscription-like by its web order line item).
  if (item.originalTransactionID == item.transactionID) setFlag(parameters, kGWLPurchaseSubscriptionParameter);
  parameters.insert_or_assign(kGWLPurchaseDedupIDParameter,
                              GWLValue::initWithInt64(GWLPurchaseDedupID(item.originalTransactionID,
                                                                         item.webOrderLineItemID, item.productID)));
  if (!item.freeTrial && !item.introductoryOffer) {
    log(kAutoRenewableCode, kAutoRenewableMessage);
    GWLMarkSubscriptionRenewalOrConversion(parameters, productItems, item);
    return;
  }
  if (item.freeTrial) {
    setFlag(parameters, kGWLPurchaseFreeTrialParameter);
    if (idsDiffer) {
      log(kFreeTrialRepurchaseCode, kFreeTrialRepurchaseMessage);
      setFlag(parameters, kGWLPurchaseInvalidParameter);
      return;
    }
    log(kFreeTrialCode, kFreeTrialMessage);
  } else {
    setFlag(parameters, kGWLPurchasePriceIsDiscountedParameter);
    GWLMarkSubscriptionRenewalOrConversion(parameters, productItems, item);
    log(kIntroductoryOfferCode, kIntroductoryOfferMessage);
  }
  log(kRenewalCode, kRenewalMessage);
}

}  // namespace

std::optional<int64_t> GWLPurchaseValueMicros(const GWLDecimalNumber& price, int64_t quantity) {
  auto value = price.multipliedBy(quantity);
  if (!value) return std::nullopt;
  return value->int64ValueScaledBy(kMicrosPower, GWLDecimalNumber::Rounding::kTowardZero);
}

int64_t GWLPurchaseDedupID(const std::optional<std::string>& originalTransactionID,
                           std::optional<uint64_t> webOrderLineItemID, const std::optional<std::string>& productID) {
  if (!nonEmpty(originalTransactionID) || !nonEmpty(productID)) return -1;
  std::string joined = *originalTransactionID;
  if (webOrderLineItemID) joined += std::to_string(*webOrderLineItemID);
  joined += *productID;
  const uint64_t bits = gwl_64LSBMD5({reinterpret_cast<const uint8_t*>(joined.data()), joined.size()});
  return static_cast<int64_t>(bits);  // the same 64 bits read as signed
}

void GWLMarkSubscriptionRenewalOrConversion(GWLParameters& parameters,
                                            const std::vector<GWLInAppPurchaseItem>& productItems,
                                            const GWLInAppPurchaseItem& matched) {
  if (productItems.empty() || matched.originalTransactionID == matched.transactionID) return;
  auto at = std::find(productItems.begin(), productItems.end(), matched);
  const GWLInAppPurchaseItem* previous = at != productItems.end() && at != productItems.begin() ? &*(at - 1) : nullptr;
  setFlag(parameters, previous && previous->freeTrial ? kGWLPurchaseSubscriptionConvertParameter
                                                      : kGWLPurchaseSubscriptionRenewParameter);
}

std::optional<GWLParameters> GWLPurchaseEventParameters(const std::optional<platform::Product>& product,
                                                        int64_t quantity,
                                                        const std::optional<std::string>& transactionID,
                                                        const std::optional<std::string>& originalTransactionID,
                                                        std::optional<double> transactionDate,
                                                        const std::optional<std::vector<GWLInAppPurchaseItem>>& items) {
  if (!product) {
    log(kNilProductCode, kNilProductMessage);
    return std::nullopt;
  }
  if (product->productIdentifier.empty()) {
    log(kEmptyProductIDCode, kEmptyProductIDMessage);
    return std::nullopt;
  }
  GWLParameters parameters;
  parameters.insert_or_assign(kGWLPurchaseProductIDParameter, *GWLValue::initWithString(product->productIdentifier));
  const std::optional<GWLDecimalNumber> price = decimal(product->price);
  if (price) {
    setMicros(parameters, kGWLPurchasePriceParameter, GWLDecimalNumberToMicros(*price));
    if (quantity != 0) {
      setMicros(parameters, kGWLPurchaseValueParameter, GWLPurchaseValueMicros(*price, quantity));
      parameters.insert_or_assign(kGWLPurchaseQuantityParameter, GWLValue::initWithInt64(quantity));
    }
  }
  if (product->currencyCode) {
    if (auto currency = GWLValue::initWithString(*product->currencyCode)) {
      parameters.insert_or_assign(kGWLPurchaseCurrencyParameter, *currency);
    }
  }
  if (product->localizedTitle) {
    if (auto title = GWLValue::initWithString(*product->localizedTitle)) {
      parameters.insert_or_assign(kGWLPurchaseProductNameParameter, *title);
    }
  }
  if (!nonEmpty(transactionID)) log(kTransactionIDMissingCode, kTransactionIDMissingMessage);

  classify(parameters, *product, transactionID, originalTransactionID, transactionDate, items);

  // Discounts: a free trial costs nothing; an introductory offer its own price.
  if (flagIsSet(parameters, kGWLPurchaseFreeTrialParameter)) {
    freeOfCharge(parameters);
  } else if (flagIsSet(parameters, kGWLPurchasePriceIsDiscountedParameter) && product->introductoryPrice) {
    if (product->introductoryPrice->paymentMode == platform::ProductDiscountPaymentMode::FreeTrial) {
      freeOfCharge(parameters);
    } else if (auto introductory = decimal(product->introductoryPrice->price)) {
      discount(parameters, GWLDecimalNumberToMicros(*introductory));
      if (quantity != 0) setMicros(parameters, kGWLPurchaseValueParameter, GWLPurchaseValueMicros(*introductory, quantity));
    }
  }

  for (const char* required : {kGWLPurchasePriceParameter, kGWLPurchaseValueParameter, kGWLPurchaseCurrencyParameter,
                               kGWLPurchaseProductIDParameter}) {
    if (!parameters.count(required)) return std::nullopt;
  }
  return parameters;
}

GWLPurchaseEvent GWLPurchaseEventFromParameters(GWLParameters parameters, const std::string& storeKitVersion,
                                               const std::optional<std::string>& environment, bool isSandboxReceipt) {
  const std::string lowered = platform::unicode::lowercased(environment.value_or(std::string())).value_or("");
  const bool sandbox = lowered == "sandbox" || lowered == "xcode" || isSandboxReceipt;
  GWLPurchaseEvent event;
  if (flagIsSet(parameters, kGWLPurchaseInvalidParameter)) {
    parameters.erase(kGWLPurchaseInvalidParameter);
    if (sandbox) setFlag(parameters, kGWLPurchaseSandboxParameter);
    event.name = kGWLInvalidInAppPurchaseEventName;
  } else {
    event.name = kGWLInAppPurchaseEventName;
    if (storeKitVersion == kGWLStoreKitVersion2 && sandbox) setFlag(parameters, kGWLPurchaseSandboxParameter);
  }
  if (flagIsSet(parameters, kGWLPurchaseSubscriptionRenewParameter)) {
    parameters.erase(kGWLPurchaseSubscriptionRenewParameter);
    event.name = kGWLSubscriptionRenewalEventName;
  }
  if (flagIsSet(parameters, kGWLPurchaseSubscriptionConvertParameter)) {
    parameters.erase(kGWLPurchaseSubscriptionConvertParameter);
    event.name = kGWLSubscriptionConversionEventName;
  }
  parameters.insert_or_assign(kGWLPurchaseStoreKitVersionParameter, *GWLValue::initWithString(storeKitVersion));
  event.parameters = std::move(parameters);
  return event;
}
