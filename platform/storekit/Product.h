// platform::Product — a product of the store's catalog, as a products request
// answers it: the fields the analytics library reads of a store product.
//
// Prices are decimal text in the currency's units ("0.99"), so that they
// reach the reader exactly; the currency is the price locale's currency code.
// The type says how a purchase of the product is recorded in the receipt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

enum class ProductType : int64_t {
  NonConsumable = 0,
  Consumable = 1,
  NonRenewingSubscription = 2,
  AutoRenewableSubscription = 3,
};

// How an introductory offer is paid.
enum class ProductDiscountPaymentMode : int64_t {
  PayAsYouGo = 0,
  PayUpFront = 1,
  FreeTrial = 2,
};

struct ProductDiscount {
  std::string price;  // decimal text
  ProductDiscountPaymentMode paymentMode = ProductDiscountPaymentMode::PayAsYouGo;
  friend bool operator==(const ProductDiscount&, const ProductDiscount&) = default;
};

struct Product {
  std::string productIdentifier;
  std::optional<std::string> price;         // decimal text, "0.99"
  std::optional<std::string> currencyCode;  // "USD"
  std::optional<std::string> localizedTitle;
  std::optional<ProductDiscount> introductoryPrice;
  ProductType type = ProductType::Consumable;
  friend bool operator==(const Product&, const Product&) = default;
};

}  // namespace platform
