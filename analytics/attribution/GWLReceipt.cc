#include "analytics/attribution/GWLReceipt.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/FileBuffer.h"
#include "platform/text/InternetDate.h"
#include "platform/text/Utf8.h"
#include "platform/util/Mutex.h"

namespace {

constexpr uint8_t W = kGWLReceiptWildcard;

// The thirteen patterns: the start of an in-app purchase (attribute 17, whose
// last wildcard is the attribute's version byte, a marker only), its eleven
// fields, and the original application version (attribute 19).
//                                                type          version   value tag, length
constexpr uint8_t kItemStart[] = {0x02, 0x01, 0x11, 0x02, 0x01, W, 0x04};
constexpr uint8_t kProductID[] = {0x02, 0x02, 0x06, 0xA6, 0x02, 0x01, W, 0x04, W, 0x0C, W};
constexpr uint8_t kTransactionID[] = {0x02, 0x02, 0x06, 0xA7, 0x02, 0x01, W, 0x04, W, 0x0C, W};
constexpr uint8_t kPurchaseDate[] = {0x02, 0x02, 0x06, 0xA8, 0x02, 0x01, W, 0x04, W, 0x16, W};
constexpr uint8_t kOriginalTransactionID[] = {0x02, 0x02, 0x06, 0xA9, 0x02, 0x01, W, 0x04, W, 0x0C, W};
constexpr uint8_t kOriginalPurchaseDate[] = {0x02, 0x02, 0x06, 0xAA, 0x02, 0x01, W, 0x04, W, 0x16, W};
constexpr uint8_t kPurchaseType[] = {0x02, 0x02, 0x06, 0xAB, 0x02, 0x01, W, 0x04, W, 0x02, W};
constexpr uint8_t kSubscriptionExpirationDate[] = {0x02, 0x02, 0x06, 0xAC, 0x02, 0x01, W, 0x04, W, 0x16, W};
constexpr uint8_t kWebOrderLineItemID[] = {0x02, 0x02, 0x06, 0xAF, 0x02, 0x01, W, 0x04, W, 0x02, W};
constexpr uint8_t kCancellationDate[] = {0x02, 0x02, 0x06, 0xB0, 0x02, 0x01, W, 0x04, W, 0x16, W};
constexpr uint8_t kFreeTrial[] = {0x02, 0x02, 0x06, 0xB1, 0x02, 0x01, W, 0x04, W, 0x02, W};
constexpr uint8_t kIntroductoryOffer[] = {0x02, 0x02, 0x06, 0xB7, 0x02, 0x01, W, 0x04, W, 0x02, W};
constexpr uint8_t kOriginalApplicationVersion[] = {0x30, W, 0x02, 0x01, 0x13, 0x02, 0x01, W, 0x04, W};

constexpr int64_t kLongDataCode = 39027;
constexpr const char* kLongDataMessage = "Data is longer than 127";
constexpr int64_t kFreeTrialValueCode = 39025;
constexpr const char* kFreeTrialValueMessage = "Subdata FT unexpected value";
constexpr int64_t kIntroductoryOfferValueCode = 39028;
constexpr const char* kIntroductoryOfferValueMessage = "Subdata IO unexpected value";
constexpr int64_t kVersionDataNilCode = 39002;
constexpr const char* kVersionDataNilMessage = "Version data is nil";
constexpr int64_t kVersionDataEmptyCode = 39004;
constexpr const char* kVersionDataEmptyMessage = "Version data is empty";
constexpr int64_t kVersionTooShortCode = 39006;
constexpr const char* kVersionTooShortMessage = "V data is too short. Length";
constexpr int64_t kVersionByte0Code = 39007;
constexpr const char* kVersionByte0Message = "V data byte 0 is wrong. Value";
constexpr int64_t kVersionByte1Code = 39008;
constexpr const char* kVersionByte1Message = "V data byte 1 is wrong. Value, expected";
constexpr int64_t kReceiptLogLevel = 5;

void report(int64_t code, const char* message) {
  GWLLibraryMonitor::monitor()->logWithLevel(kReceiptLogLevel, code, message);
}
void report(int64_t code, const char* message, const GWLLogContext& context) {
  GWLLibraryMonitor::monitor()->logWithLevel(kReceiptLogLevel, code, message, context);
}
void report(int64_t code, const char* message, const GWLLogContext& first, const GWLLogContext& second) {
  GWLLibraryMonitor::monitor()->logWithLevel(kReceiptLogLevel, code, message, first, second);
}

// What a field's content becomes.
enum class Content { kUTF8, kASCII, kOneByte, kFreeTrial, kIntroductoryOffer, kBigEndian };

struct Field {
  GWLReceiptPattern pattern;
  Content content;
  std::optional<std::string> GWLInAppPurchaseItem::*text = nullptr;
};

// The fields in the order they are tried at an offset.
const std::array<Field, 11> kFields = {{
    {kProductID, Content::kUTF8, &GWLInAppPurchaseItem::productID},
    {kTransactionID, Content::kUTF8, &GWLInAppPurchaseItem::transactionID},
    {kPurchaseDate, Content::kASCII, &GWLInAppPurchaseItem::purchaseDateIA5String},
    {kOriginalTransactionID, Content::kUTF8, &GWLInAppPurchaseItem::originalTransactionID},
    {kOriginalPurchaseDate, Content::kASCII, &GWLInAppPurchaseItem::originalPurchaseDateIA5String},
    {kPurchaseType, Content::kOneByte},
    {kSubscriptionExpirationDate, Content::kASCII, &GWLInAppPurchaseItem::subscriptionExpirationDateIA5String},
    {kWebOrderLineItemID, Content::kBigEndian},
    {kCancellationDate, Content::kASCII, &GWLInAppPurchaseItem::cancellationDateIA5String},
    {kFreeTrial, Content::kFreeTrial},
    {kIntroductoryOffer, Content::kIntroductoryOffer},
}};

std::optional<std::string> textOf(std::span<const uint8_t> bytes, Content content) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (content == Content::kASCII) {
    if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte >= 0x80; })) return std::nullopt;
    return std::string(text);
  }
  if (!platform::utf8::isValid(text)) return std::nullopt;
  return std::string(text);
}

// Sets the field of `item` from its content.
void take(const Field& field, std::span<const uint8_t> content, GWLInAppPurchaseItem& item) {
  switch (field.content) {
    case Content::kUTF8:
    case Content::kASCII:
      item.*field.text = textOf(content, field.content);
      return;
    case Content::kOneByte:
      if (content.size() == 1) item.purchaseType = content[0];
      return;
    case Content::kBigEndian:
      if (uint64_t value = gwl_64LeastSignificantBits(content); value != 0) item.webOrderLineItemID = value;
      return;
    case Content::kFreeTrial:
    case Content::kIntroductoryOffer: {
      if (content.size() != 1) return;
      const bool isFreeTrial = field.content == Content::kFreeTrial;
      bool& flag = isFreeTrial ? item.freeTrial : item.introductoryOffer;
      if (content[0] <= 1) {
        flag = content[0] == 1;
      } else {
        report(isFreeTrial ? kFreeTrialValueCode : kIntroductoryOfferValueCode,
               isFreeTrial ? kFreeTrialValueMessage : kIntroductoryOfferValueMessage, static_cast<int64_t>(content[0]));
      }
      return;
    }
  }
}

// Every pattern of the item scan begins with the same fixed byte (the tag of
// an attribute's type, INTEGER): an offset holding another byte can match none
// of them, so the scan moves from one such byte to the next.
constexpr uint8_t kScanLead = kItemStart[0];
static_assert(kProductID[0] == kScanLead && kTransactionID[0] == kScanLead && kPurchaseDate[0] == kScanLead &&
              kOriginalTransactionID[0] == kScanLead && kOriginalPurchaseDate[0] == kScanLead &&
              kPurchaseType[0] == kScanLead && kSubscriptionExpirationDate[0] == kScanLead &&
              kWebOrderLineItemID[0] == kScanLead && kCancellationDate[0] == kScanLead &&
              kFreeTrial[0] == kScanLead && kIntroductoryOffer[0] == kScanLead && kScanLead != kGWLReceiptWildcard);

// The first offset from `offset` on that holds the lead byte; the size when none does.
int64_t nextLead(std::span<const uint8_t> data, int64_t offset) {
  const auto start = static_cast<size_t>(offset);
  const void* found = std::memchr(data.data() + start, kScanLead, data.size() - start);
  return found ? static_cast<const uint8_t*>(found) - data.data() : static_cast<int64_t>(data.size());
}

std::optional<double> purchaseDateOf(const GWLInAppPurchaseItem& item) {
  if (!item.purchaseDateIA5String) return std::nullopt;
  return platform::parseInternetDate(*item.purchaseDateIA5String);
}

struct KeptAnswer {
  platform::Mutex mutex;
  std::optional<bool> answer ABSL_GUARDED_BY(mutex);
};

KeptAnswer& keptAnswer() {
  static auto* kept = new KeptAnswer();  // never destroyed: asked from queues while the process exits
  return *kept;
}

}  // namespace

const GWLReceiptPattern kGWLReceiptPurchaseItemStartPattern = kItemStart;
const GWLReceiptPattern kGWLReceiptOriginalApplicationVersionPattern = kOriginalApplicationVersion;

std::optional<std::span<const uint8_t>> GWLReceiptFieldAtOffset(GWLReceiptPattern pattern,
                                                                std::span<const uint8_t> data, int64_t offset) {
  if (offset < 0 || data.empty() || pattern.empty()) return std::nullopt;
  const auto start = static_cast<uint64_t>(offset);
  // The pattern must end before the data's last byte: a match leaves at least one byte of content.
  if (start >= data.size() || pattern.size() >= data.size() - start) return std::nullopt;
  std::optional<uint8_t> length;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const uint8_t byte = data[start + i];
    if (pattern[i] == kGWLReceiptWildcard) {
      length = byte;
    } else if (pattern[i] != byte) {
      return std::nullopt;
    }
  }
  if (!length || *length == 0) return std::nullopt;
  const size_t contentStart = start + pattern.size();
  if (*length > data.size() - contentStart) return std::nullopt;
  // DER writes lengths of 128 or more in several bytes: the byte is taken as
  // the length all the same, as a receipt reader always has.
  if (*length >= 128) report(kLongDataCode, kLongDataMessage);
  return data.subspan(contentStart, *length);
}

std::optional<std::span<const uint8_t>> GWLReceiptPurchaseItemStartAtOffset(std::span<const uint8_t> data,
                                                                            int64_t offset) {
  return GWLReceiptFieldAtOffset(kGWLReceiptPurchaseItemStartPattern, data, offset);
}

std::optional<std::vector<GWLInAppPurchaseItem>> GWLPurchaseItemsFromReceipt(std::span<const uint8_t> receipt) {
  if (receipt.empty()) return std::nullopt;
  std::vector<GWLInAppPurchaseItem> items;
  std::optional<GWLInAppPurchaseItem> current;
  std::array<bool, kFields.size()> received{};
  const auto size = static_cast<int64_t>(receipt.size());
  for (int64_t offset = 0; offset < size; ++offset) {
    offset = nextLead(receipt, offset);
    if (offset >= size) break;
    if (auto start = GWLReceiptPurchaseItemStartAtOffset(receipt, offset)) {
      if (current && current->productID) items.push_back(std::move(*current));
      current.emplace();
      received.fill(false);
      offset += static_cast<int64_t>(start->size());
      continue;
    }
    if (!current) continue;
    for (size_t f = 0; f < kFields.size(); ++f) {
      if (received[f]) continue;
      auto content = GWLReceiptFieldAtOffset(kFields[f].pattern, receipt, offset);
      if (!content) continue;
      received[f] = true;  // the first match of a field wins
      take(kFields[f], *content, *current);
      offset += static_cast<int64_t>(content->size());
      break;
    }
  }
  if (current) items.push_back(std::move(*current));
  return items;
}

std::optional<std::vector<GWLInAppPurchaseItem>> GWLFilterPurchaseItems(
    const std::vector<GWLInAppPurchaseItem>& items, const std::optional<std::string>& productID,
    std::optional<double> purchaseDate) {
  const bool byProduct = productID && !productID->empty();
  if (items.empty() || (!byProduct && !purchaseDate)) return std::nullopt;
  std::vector<std::pair<std::optional<double>, const GWLInAppPurchaseItem*>> kept;
  for (const auto& item : items) {
    if (byProduct && item.productID != productID) continue;
    auto date = purchaseDateOf(item);
    if (purchaseDate && date != purchaseDate) continue;
    kept.emplace_back(date, &item);
  }
  // Earliest first; an unreadable date sorts before every date.
  std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<GWLInAppPurchaseItem> result;
  result.reserve(kept.size());
  for (const auto& entry : kept) result.push_back(*entry.second);
  return result;
}

std::optional<std::vector<uint8_t>> GWLReadReceiptData() {
  auto location = GWLAEU::appStoreRURL();
  if (!location) return std::nullopt;
  auto file = platform::readRegularFile(*location, kGWLReceiptMaxBytes);
  if (!file) return std::nullopt;
  return std::vector<uint8_t>(file->bytes().begin(), file->bytes().end());
}

bool GWLIsReceiptAppVersionCurrentInData(const std::optional<std::vector<uint8_t>>& receipt,
                                         const std::string& bundleVersion) {
  if (!receipt) {
    report(kVersionDataNilCode, kVersionDataNilMessage);
    return false;
  }
  if (receipt->empty()) {
    report(kVersionDataEmptyCode, kVersionDataEmptyMessage);
    return false;
  }
  std::optional<std::span<const uint8_t>> version;
  const auto size = static_cast<int64_t>(receipt->size());
  for (int64_t offset = 0; offset < size && !version; ++offset) {
    version = GWLReceiptFieldAtOffset(kGWLReceiptOriginalApplicationVersionPattern, *receipt, offset);
  }
  const size_t length = version ? version->size() : 0;
  if (length <= 2) {
    report(kVersionTooShortCode, kVersionTooShortMessage, static_cast<int64_t>(length));
    return false;
  }
  // The content is a UTF8String: tag 0C, its length, the text.
  if ((*version)[0] != 0x0C) report(kVersionByte0Code, kVersionByte0Message, static_cast<int64_t>((*version)[0]));
  if ((*version)[1] != length - 2) {
    report(kVersionByte1Code, kVersionByte1Message, static_cast<int64_t>((*version)[1]),
           static_cast<int64_t>(length - 2));
  }
  std::string_view text(reinterpret_cast<const char*>(version->data() + 2), length - 2);
  return platform::utf8::isValid(text) && text == bundleVersion;
}

bool GWLIsReceiptAppVersionCurrent() {
  KeptAnswer& kept = keptAnswer();
  platform::MutexLock lock(kept.mutex);
  if (!kept.answer) {
    if (GWLAEU::isNOD() || GWLAEU::isASRS()) {
      kept.answer = true;
    } else {
      kept.answer = GWLIsReceiptAppVersionCurrentInData(GWLReadReceiptData(),
                                                       platform::AppEnvironment::shared()->buildVersion());
    }
  }
  return *kept.answer;
}

void GWLResetReceiptAppVersionCurrentForTesting() {
  KeptAnswer& kept = keptAnswer();
  platform::MutexLock lock(kept.mutex);
  kept.answer.reset();
}
