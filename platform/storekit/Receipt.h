// platform::receipt — how the store stand-in writes the app's receipt file.
//
// A receipt holds attributes, each a DER sequence of three members: the
// attribute's type (INTEGER), its version (INTEGER) and its value (an OCTET
// STRING holding one DER value):
//
//   30 len  02 n TYPE  02 01 VERSION  04 len VALUE
//
// The app's attributes come first (19: the version of the app first
// installed, a UTF8String); then one attribute 17 per in-app purchase, whose
// value is a SET of the purchase's own attributes:
//
//   1702 product identifier (UTF8String)      1703 transaction identifier (UTF8String)
//   1704 purchase date (IA5String)            1705 original transaction identifier (UTF8String)
//   1706 original purchase date (IA5String)   1707 purchase type (INTEGER)
//   1708 subscription expiration (IA5String)  1711 web order line item identifier (INTEGER)
//   1712 cancellation date (IA5String)        1713 free trial (INTEGER 0 or 1)
//   1719 introductory offer (INTEGER 0 or 1)
//
// Dates are internet dates ("2024-03-01T09:30:00Z", InternetDate.h). The
// receipt on a device is wrapped in a signed container; the stand-in writes
// the attributes one after another without one (its readers scan the bytes
// for the attribute sequences and never open the container). Lengths are
// DER's: one byte below 128, else 0x81 or 0x82 and the length's bytes.
//
// Tests build receipts, odd ones included, from the same pieces.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/core/Object.h"

namespace platform::receipt {

// Attribute types.
inline constexpr int64_t kInAppPurchaseAttribute = 17;
inline constexpr int64_t kOriginalApplicationVersionAttribute = 19;
inline constexpr int64_t kProductIdentifierAttribute = 1702;
inline constexpr int64_t kTransactionIdentifierAttribute = 1703;
inline constexpr int64_t kPurchaseDateAttribute = 1704;
inline constexpr int64_t kOriginalTransactionIdentifierAttribute = 1705;
inline constexpr int64_t kOriginalPurchaseDateAttribute = 1706;
inline constexpr int64_t kPurchaseTypeAttribute = 1707;
inline constexpr int64_t kSubscriptionExpirationDateAttribute = 1708;
inline constexpr int64_t kWebOrderLineItemIdentifierAttribute = 1711;
inline constexpr int64_t kCancellationDateAttribute = 1712;
inline constexpr int64_t kFreeTrialAttribute = 1713;
inline constexpr int64_t kIntroductoryOfferAttribute = 1719;

// DER tags of the values.
inline constexpr uint8_t kIntegerTag = 0x02;
inline constexpr uint8_t kOctetStringTag = 0x04;
inline constexpr uint8_t kUTF8StringTag = 0x0C;
inline constexpr uint8_t kIA5StringTag = 0x16;
inline constexpr uint8_t kSequenceTag = 0x30;
inline constexpr uint8_t kSetTag = 0x31;

// The version the stand-in gives every attribute.
inline constexpr int64_t kAttributeVersion = 1;

// One in-app purchase as a receipt records it; absent fields are not written.
struct Purchase {
  std::optional<std::string> productIdentifier;
  std::optional<std::string> transactionIdentifier;
  std::optional<std::string> originalTransactionIdentifier;
  std::optional<std::string> purchaseDate;  // internet dates
  std::optional<std::string> originalPurchaseDate;
  std::optional<std::string> subscriptionExpirationDate;
  std::optional<std::string> cancellationDate;
  std::optional<int64_t> purchaseType;  // 0 non-consumable, 1 consumable, 2 non-renewing, 3 auto-renewable
  std::optional<uint64_t> webOrderLineItemIdentifier;
  std::optional<int64_t> freeTrial;  // 1 or 0
  std::optional<int64_t> introductoryOffer;
  friend bool operator==(const Purchase&, const Purchase&) = default;
};

// A DER length.
Bytes encodeLength(size_t length);
// A DER value: the tag, the length and the content.
Bytes encodeValue(uint8_t tag, std::span<const uint8_t> content);
// A DER INTEGER of a non-negative number, in its fewest bytes.
Bytes encodeInteger(uint64_t value);
// The sequence of one attribute around an already encoded value.
Bytes encodeAttribute(int64_t type, int64_t version, std::span<const uint8_t> value);
// Attribute 19 with the version text.
Bytes encodeOriginalApplicationVersion(const std::string& version);
// Attribute 17 with the purchase's attributes, in the order of the table above.
Bytes encodeInAppPurchase(const Purchase& purchase);
// A whole receipt: the original application version, then each purchase.
Bytes encodeReceipt(const std::string& originalApplicationVersion, const std::vector<Purchase>& purchases);

}  // namespace platform::receipt
