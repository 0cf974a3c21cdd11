#include "platform/storekit/Receipt.h"

namespace platform::receipt {

namespace {

void append(Bytes& to, std::span<const uint8_t> bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

std::span<const uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

void appendText(Bytes& to, int64_t type, uint8_t tag, const std::optional<std::string>& text) {
  if (text) append(to, encodeAttribute(type, kAttributeVersion, encodeValue(tag, bytesOf(*text))));
}

void appendInteger(Bytes& to, int64_t type, std::optional<uint64_t> value) {
  if (value) append(to, encodeAttribute(type, kAttributeVersion, encodeInteger(*value)));
}

std::optional<uint64_t> unsignedValue(std::optional<int64_t> value) {
  if (!value || *value < 0) return std::nullopt;
  return static_cast<uint64_t>(*value);
}

}  // namespace

Bytes encodeLength(size_t length) {
  if (length < 0x80) return {static_cast<uint8_t>(length)};
  Bytes digits;
  for (size_t rest = length; rest > 0; rest >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(rest & 0xFF));
  Bytes encoded = {static_cast<uint8_t>(0x80 | digits.size())};
  append(encoded, digits);
  return encoded;
}

Bytes encodeValue(uint8_t tag, std::span<const uint8_t> content) {
  Bytes encoded = {tag};
  append(encoded, encodeLength(content.size()));
  append(encoded, content);
  return encoded;
}

Bytes encodeInteger(uint64_t value) {
  Bytes content;
  for (uint64_t rest = value; rest > 0; rest >>= 8) content.insert(content.begin(), static_cast<uint8_t>(rest & 0xFF));
  // A set top bit would read as negative: DER puts a zero byte before it.
  if (content.empty() || (content.front() & 0x80) != 0) content.insert(content.begin(), 0);
  return encodeValue(kIntegerTag, content);
}

Bytes encodeAttribute(int64_t type, int64_t version, std::span<const uint8_t> value) {
  Bytes members = encodeInteger(static_cast<uint64_t>(type));
  append(members, encodeInteger(static_cast<uint64_t>(version)));
  append(members, encodeValue(kOctetStringTag, value));
  return encodeValue(kSequenceTag, members);
}

Bytes encodeOriginalApplicationVersion(const std::string& version) {
  return encodeAttribute(kOriginalApplicationVersionAttribute, kAttributeVersion,
                         encodeValue(kUTF8StringTag, bytesOf(version)));
}

Bytes encodeInAppPurchase(const Purchase& purchase) {
  Bytes members;
  appendText(members, kProductIdentifierAttribute, kUTF8StringTag, purchase.productIdentifier);
  appendText(members, kTransactionIdentifierAttribute, kUTF8StringTag, purchase.transactionIdentifier);
  appendText(members, kPurchaseDateAttribute, kIA5StringTag, purchase.purchaseDate);
  appendText(members, kOriginalTransactionIdentifierAttribute, kUTF8StringTag, purchase.originalTransactionIdentifier);
  appendText(members, kOriginalPurchaseDateAttribute, kIA5StringTag, purchase.originalPurchaseDate);
  appendInteger(members, kPurchaseTypeAttribute, unsignedValue(purchase.purchaseType));
  appendText(members, kSubscriptionExpirationDateAttribute, kIA5StringTag, purchase.subscriptionExpirationDate);
  appendInteger(members, kWebOrderLineItemIdentifierAttribute, purchase.webOrderLineItemIdentifier);
  appendText(members, kCancellationDateAttribute, kIA5StringTag, purchase.cancellationDate);
  appendInteger(members, kFreeTrialAttribute, unsignedValue(purchase.freeTrial));
  appendInteger(members, kIntroductoryOfferAttribute, unsignedValue(purchase.introductoryOffer));
  return encodeAttribute(kInAppPurchaseAttribute, kAttributeVersion, encodeValue(kSetTag, members));
}

Bytes encodeReceipt(const std::string& originalApplicationVersion, const std::vector<Purchase>& purchases) {
  Bytes receipt = encodeOriginalApplicationVersion(originalApplicationVersion);
  for (const Purchase& purchase : purchases) append(receipt, encodeInAppPurchase(purchase));
  return receipt;
}

}  // namespace platform::receipt
