// platform::StoreTransaction — a verified store transaction as the newer
// store interface hands it to the app: a plain value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace platform {

struct StoreTransaction {
  enum class ProductType { NonConsumable, Consumable, NonRenewable, AutoRenewable, Unknown };
  enum class OfferType { Introductory, Promotional, Code, WinBack };
  enum class OfferPaymentMode { FreeTrial, PayAsYouGo, PayUpFront, OneTime };
  enum class VerificationResult { Verified, Unverified };

  struct Offer {
    std::optional<std::string> identifier;
    OfferType type = OfferType::Introductory;
    std::optional<OfferPaymentMode> paymentMode;
  };

  std::string productID;
  ProductType productType = ProductType::NonConsumable;
  uint64_t id = 0;
  uint64_t originalID = 0;
  std::optional<std::string> webOrderLineItemID;
  std::optional<Offer> offer;
  int64_t purchasedQuantity = 1;
  Date purchaseDate;
  Date originalPurchaseDate;
  std::optional<Date> expirationDate;
  std::optional<Date> revocationDate;
  // "Production", "Sandbox" or "Xcode".
  std::string environment = "Production";
  VerificationResult verification = VerificationResult::Verified;
};

}  // namespace platform
