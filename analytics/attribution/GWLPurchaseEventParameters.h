// The parameters of a purchase event: the store product's price and currency
// in millionths, and the purchase's classification against the receipt's
// purchase items (consumable, non-consumable, subscription start, renewal,
// conversion from a free trial, introductory offer, or invalid).
//
//   "product_id", "price", "value" (price x quantity), "quantity", "currency",
//   "product_name", "_did" (de-duplication ID), "subscription", "free_trial",
//   "price_is_discounted", "original_price", and the marks the purchase
//   reporter turns into the event's name: "invalid" ("_iapx"), "sub_renew"
//   ("_assr"), "sub_convert" ("_assc").
//
// Amounts are exact (GWLDecimalNumber): an amount whose millionths do not fit
// an int64 is left out, and the parameters without it make no event. Every
// step is logged at level 8 (verbose logging only), codes 40003 to 40027.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analytics/attribution/GWLInAppPurchaseItem.h"
#include "analytics/foundation/values/GWLDecimalNumber.h"
#include "analytics/foundation/values/GWLValue.h"
#include "platform/storekit/Product.h"

// Parameter names.
inline constexpr const char* kGWLPurchaseProductIDParameter = "product_id";
inline constexpr const char* kGWLPurchasePriceParameter = "price";
inline constexpr const char* kGWLPurchaseValueParameter = "value";
inline constexpr const char* kGWLPurchaseQuantityParameter = "quantity";
inline constexpr const char* kGWLPurchaseCurrencyParameter = "currency";
inline constexpr const char* kGWLPurchaseProductNameParameter = "product_name";
inline constexpr const char* kGWLPurchaseDedupIDParameter = "_did";
inline constexpr const char* kGWLPurchaseSubscriptionParameter = "subscription";
inline constexpr const char* kGWLPurchaseFreeTrialParameter = "free_trial";
inline constexpr const char* kGWLPurchasePriceIsDiscountedParameter = "price_is_discounted";
inline constexpr const char* kGWLPurchaseOriginalPriceParameter = "original_price";
inline constexpr const char* kGWLPurchaseInvalidParameter = "invalid";
inline constexpr const char* kGWLPurchaseSubscriptionRenewParameter = "sub_renew";
inline constexpr const char* kGWLPurchaseSubscriptionConvertParameter = "sub_convert";
inline constexpr const char* kGWLPurchaseSandboxParameter = "sandbox";
inline constexpr const char* kGWLPurchaseStoreKitVersionParameter = "_skv";

// The parameters of one purchase, or nullopt when there is no product, its
// identifier is empty, or the result lacks "price", "value", "currency" or
// "product_id". `transactionDate` is seconds since 1970; `items` the
// receipt's purchase items (nullopt: none read).
std::optional<GWLParameters> GWLPurchaseEventParameters(const std::optional<platform::Product>& product,
                                                        int64_t quantity,
                                                        const std::optional<std::string>& transactionID,
                                                        const std::optional<std::string>& originalTransactionID,
                                                        std::optional<double> transactionDate,
                                                        const std::optional<std::vector<GWLInAppPurchaseItem>>& items);

// Event names.
inline constexpr const char* kGWLInAppPurchaseEventName = "_iap";
inline constexpr const char* kGWLInvalidInAppPurchaseEventName = "_iapx";
inline constexpr const char* kGWLSubscriptionRenewalEventName = "_assr";
inline constexpr const char* kGWLSubscriptionConversionEventName = "_assc";
inline constexpr const char* kGWLPurchaseEventOrigin = "auto";

// StoreKit versions of a report.
inline constexpr const char* kGWLStoreKitVersion1 = "1";  // observed on the payment queue
inline constexpr const char* kGWLStoreKitVersion2 = "2";  // handed over by the app

struct GWLPurchaseEvent {
  std::string name;
  GWLParameters parameters;
  friend bool operator==(const GWLPurchaseEvent&, const GWLPurchaseEvent&) = default;
};

// The event a purchase's parameters make: "invalid" makes "_iapx" (with
// "sandbox" 1 in a sandbox), "sub_renew" "_assr" and "sub_convert" "_assc",
// else "_iap" (with "sandbox" 1 in a sandbox for a version "2" report); the
// marks are removed and "_skv" carries the version. A sandbox is an
// environment of "sandbox" or "xcode" in any letter case, or a sandbox
// receipt.
GWLPurchaseEvent GWLPurchaseEventFromParameters(GWLParameters parameters, const std::string& storeKitVersion,
                                               const std::optional<std::string>& environment, bool isSandboxReceipt);

// price x quantity in millionths, truncated; nullopt when it does not fit.
std::optional<int64_t> GWLPurchaseValueMicros(const GWLDecimalNumber& price, int64_t quantity);

// The MD5 of original transaction ID + web order line item ID (decimal, when
// given) + product identifier, its last eight bytes as a big-endian signed
// integer; -1 when the original transaction ID or the product identifier is
// missing or empty.
int64_t GWLPurchaseDedupID(const std::optional<std::string>& originalTransactionID,
                           std::optional<uint64_t> webOrderLineItemID, const std::optional<std::string>& productID);

// Marks a subscription purchase `matched` (one of `productItems`, the
// product's items in purchase order) that is not the first of its
// subscription: "sub_convert" when the item before it was a free trial,
// else "sub_renew".
void GWLMarkSubscriptionRenewalOrConversion(GWLParameters& parameters,
                                            const std::vector<GWLInAppPurchaseItem>& productItems,
                                            const GWLInAppPurchaseItem& matched);
