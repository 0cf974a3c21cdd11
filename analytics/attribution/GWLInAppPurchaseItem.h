// GWLInAppPurchaseItem — one in-app purchase as the app's receipt records it
// (GWLPurchaseItemsFromReceipt reads them), or as a transaction the app handed
// over describes it.
//
// A plain value: every field may be changed. The date texts are the
// receipt's own, unchanged; they are read as internet dates
// ("yyyy-MM-dd'T'HH:mm:ssZZZZZ", GMT) only when compared.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct GWLInAppPurchaseItem {
  bool freeTrial = false;          // attribute 1713 was 1
  bool introductoryOffer = false;  // attribute 1719 was 1
  std::optional<std::string> subscriptionExpirationDateIA5String;
  std::optional<std::string> productID;
  std::optional<std::string> originalTransactionID;
  std::optional<std::string> transactionID;
  std::optional<uint64_t> webOrderLineItemID;
  std::optional<std::string> originalPurchaseDateIA5String;
  std::optional<std::string> purchaseDateIA5String;
  std::optional<std::string> cancellationDateIA5String;
  // 0 non-consumable, 1 consumable, 2 non-renewing subscription, 3 auto-renewable subscription.
  std::optional<int64_t> purchaseType;

  friend bool operator==(const GWLInAppPurchaseItem&, const GWLInAppPurchaseItem&) = default;
};

// Purchase types.
inline constexpr int64_t kGWLPurchaseTypeNonConsumable = 0;
inline constexpr int64_t kGWLPurchaseTypeConsumable = 1;
inline constexpr int64_t kGWLPurchaseTypeNonRenewingSubscription = 2;
inline constexpr int64_t kGWLPurchaseTypeAutoRenewableSubscription = 3;
