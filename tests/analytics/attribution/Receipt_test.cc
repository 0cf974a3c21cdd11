// The receipt reader over synthetic receipts: the store stand-in's encoder for
// well-formed ones, and hand-written bytes for the odd ones. Its lines are of
// the silent monitor level 5, seen through the health sample.
#include "analytics/attribution/GWLReceipt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../foundation/values/ValuesTestSupport.h"
#include "platform/storekit/Receipt.h"

namespace {

namespace receipt = platform::receipt;
using Bytes = std::vector<uint8_t>;

Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// One attribute of an item with a value of `tag` holding `content`.
Bytes field(int64_t type, uint8_t tag, const Bytes& content) {
  return receipt::encodeAttribute(type, receipt::kAttributeVersion, receipt::encodeValue(tag, content));
}
Bytes productField(const std::string& id) {
  return field(receipt::kProductIdentifierAttribute, receipt::kUTF8StringTag, textBytes(id));
}
Bytes transactionField(const std::string& id) {
  return field(receipt::kTransactionIdentifierAttribute, receipt::kUTF8StringTag, textBytes(id));
}
// An in-app purchase attribute around the given attributes.
Bytes item(const Bytes& members) {
  return receipt::encodeAttribute(receipt::kInAppPurchaseAttribute, receipt::kAttributeVersion,
                                  receipt::encodeValue(receipt::kSetTag, members));
}

receipt::Purchase fullPurchase() {
  receipt::Purchase purchase;
  purchase.productIdentifier = "com.example.monthly";
  purchase.transactionIdentifier = "1000000000000042";
  purchase.originalTransactionIdentifier = "1000000000000040";
  purchase.purchaseDate = "2024-03-01T09:30:00Z";
  purchase.originalPurchaseDate = "2024-01-01T09:30:00Z";
  purchase.subscriptionExpirationDate = "2024-04-01T09:30:00Z";
  purchase.cancellationDate = "2024-03-15T00:00:00Z";
  purchase.purchaseType = 3;
  purchase.webOrderLineItemIdentifier = 0x8000000000000001ull;  // top bit set: DER adds a zero byte
  purchase.freeTrial = 0;
  purchase.introductoryOffer = 1;
  return purchase;
}

class ReceiptTest : public foundation_test::LibraryMonitorTest {
 protected:
  std::string sampled() { return lastSampledKey(); }
};

TEST_F(ReceiptTest, ReadsEveryFieldTheStoreWrites) {
  receipt::Purchase consumable;
  consumable.productIdentifier = "com.example.coins";
  consumable.transactionIdentifier = "1000000000000001";
  consumable.originalTransactionIdentifier = "1000000000000001";
  consumable.purchaseDate = "2024-02-01T00:00:00Z";
  consumable.purchaseType = 1;
  const Bytes bytes = receipt::encodeReceipt("1.0", {consumable, fullPurchase()});

  auto items = GWLPurchaseItemsFromReceipt(bytes);
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 2u);
  EXPECT_EQ((*items)[0].productID, "com.example.coins");
  EXPECT_EQ((*items)[0].purchaseType, 1);
  EXPECT_FALSE((*items)[0].webOrderLineItemID);
  EXPECT_FALSE((*items)[0].freeTrial);

  const GWLInAppPurchaseItem& full = (*items)[1];
  EXPECT_EQ(full.productID, "com.example.monthly");
  EXPECT_EQ(full.transactionID, "1000000000000042");
  EXPECT_EQ(full.originalTransactionID, "1000000000000040");
  EXPECT_EQ(full.purchaseDateIA5String, "2024-03-01T09:30:00Z");
  EXPECT_EQ(full.originalPurchaseDateIA5String, "2024-01-01T09:30:00Z");
  EXPECT_EQ(full.subscriptionExpirationDateIA5String, "2024-04-01T09:30:00Z");
  EXPECT_EQ(full.cancellationDateIA5String, "2024-03-15T00:00:00Z");
  EXPECT_EQ(full.purchaseType, 3);
  EXPECT_EQ(full.webOrderLineItemID, 0x8000000000000001ull);
  EXPECT_FALSE(full.freeTrial);
  EXPECT_TRUE(full.introductoryOffer);
  EXPECT_TRUE(sampled().empty()) << sampled();

  EXPECT_FALSE(GWLPurchaseItemsFromReceipt({})) << "empty data";
  EXPECT_EQ(GWLPurchaseItemsFromReceipt(textBytes("no receipt here")), std::vector<GWLInAppPurchaseItem>{});
}

TEST_F(ReceiptTest, ItemsAndFieldsOfOddReceipts) {
  // An item without a product identifier is dropped unless it is the last.
  auto items = GWLPurchaseItemsFromReceipt(join({item(transactionField("1")), item(productField("a")),
                                                 item(transactionField("3"))}));
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 2u);
  EXPECT_EQ((*items)[0].productID, "a");
  EXPECT_FALSE((*items)[1].productID);
  EXPECT_EQ((*items)[1].transactionID, "3");

  // A field that occurs twice keeps its first value.
  items = GWLPurchaseItemsFromReceipt(item(join({productField("first"), transactionField("7"), productField("second")})));
  ASSERT_EQ(items->size(), 1u);
  EXPECT_EQ((*items)[0].productID, "first");

  // A web order line item identifier of 0 leaves the field unset.
  items = GWLPurchaseItemsFromReceipt(
      item(join({productField("a"), field(receipt::kWebOrderLineItemIdentifierAttribute, receipt::kIntegerTag, {0})})));
  EXPECT_FALSE((*items)[0].webOrderLineItemID);

  // Text that is not what its type says is refused, not replaced.
  items = GWLPurchaseItemsFromReceipt(item(join(
      {productField("a"), field(receipt::kTransactionIdentifierAttribute, receipt::kUTF8StringTag, {0xC3, 0x28}),
       field(receipt::kPurchaseDateAttribute, receipt::kIA5StringTag, {'2', 0xE9})})));
  EXPECT_FALSE((*items)[0].transactionID);
  EXPECT_FALSE((*items)[0].purchaseDateIA5String);

  // One-byte fields take effect only with exactly one byte.
  items = GWLPurchaseItemsFromReceipt(
      item(join({productField("a"), field(receipt::kPurchaseTypeAttribute, receipt::kIntegerTag, {0, 3})})));
  EXPECT_FALSE((*items)[0].purchaseType);
  EXPECT_TRUE(sampled().empty()) << sampled();
}

TEST_F(ReceiptTest, OfferFlagsOtherThanZeroOrOneAreReported) {
  struct Row {
    int64_t attribute;
    uint8_t value;
    bool freeTrial;
    bool introductoryOffer;
    std::string line;
  };
  const Row rows[] = {
      {receipt::kFreeTrialAttribute, 1, true, false, ""},
      {receipt::kFreeTrialAttribute, 2, false, false, "1W_120500:Subdata FT unexpected value"},
      {receipt::kIntroductoryOfferAttribute, 1, false, true, ""},
      {receipt::kIntroductoryOfferAttribute, 255, false, false, "1W_120500:Subdata IO unexpected value"},
  };
  for (const Row& row : rows) {
    monitor_->clearMonitoringData();
    auto items = GWLPurchaseItemsFromReceipt(
        item(join({productField("a"), field(row.attribute, receipt::kIntegerTag, {row.value})})));
    ASSERT_EQ(items->size(), 1u);
    EXPECT_EQ((*items)[0].freeTrial, row.freeTrial) << int(row.value);
    EXPECT_EQ((*items)[0].introductoryOffer, row.introductoryOffer) << int(row.value);
    EXPECT_EQ(sampled(), row.line) << int(row.value);
  }
}

TEST_F(ReceiptTest, PatternMatchStaysInsideTheData) {
  const uint8_t pattern[] = {0xAA, kGWLReceiptWildcard, 0xBB, kGWLReceiptWildcard};
  auto at = [&](const Bytes& data, int64_t offset) {
    // A copy of exactly the data's size, so that a read past it is a heap overflow.
    auto exact = std::make_unique<uint8_t[]>(data.size());
    std::copy(data.begin(), data.end(), exact.get());
    auto content = GWLReceiptFieldAtOffset(pattern, std::span<const uint8_t>(exact.get(), data.size()), offset);
    return content ? std::optional(Bytes(content->begin(), content->end())) : std::nullopt;
  };
  EXPECT_EQ(at({0xAA, 0x01, 0xBB, 0x02, 'x', 'y'}, 0), Bytes({'x', 'y'})) << "the last wildcard is the length";
  EXPECT_EQ(at({0, 0xAA, 0x01, 0xBB, 0x01, 'x'}, 1), Bytes({'x'}));
  EXPECT_EQ(at({0xAA, 0x01, 0xBB, 0x02, 'x'}, 0), std::nullopt) << "content past the end";
  EXPECT_EQ(at({0xAA, 0x01, 0xBB, 0x01}, 0), std::nullopt) << "the pattern ends at the very end";
  EXPECT_EQ(at({0xAA, 0x01, 0xBB}, 0), std::nullopt);
  EXPECT_EQ(at({0xAA, 0x01, 0xBB, 0x00, 'x'}, 0), std::nullopt) << "length 0";
  EXPECT_EQ(at({0xAA, 0x01, 0xBC, 0x01, 'x'}, 0), std::nullopt) << "a fixed byte differs";
  EXPECT_EQ(at({0xAA, 0x01, 0xBB, 0x01, 'x'}, -1), std::nullopt);
  EXPECT_EQ(at({0xAA, 0x01, 0xBB, 0x01, 'x'}, 5), std::nullopt);
  EXPECT_EQ(at({0xAA, 0x01, 0xBB, 0x01, 'x'}, INT64_MAX), std::nullopt);
  const uint8_t fixedOnly[] = {0xAA};
  EXPECT_EQ(GWLReceiptFieldAtOffset(fixedOnly, Bytes{0xAA, 1, 2}, 0), std::nullopt) << "no wildcard";
  EXPECT_EQ(GWLReceiptFieldAtOffset({}, Bytes{0xAA, 1, 2}, 0), std::nullopt);
  EXPECT_TRUE(sampled().empty()) << sampled();

  // A length byte of 200 is reported and still read when the bytes are there.
  Bytes longContent(200, 'p');
  Bytes data = join({{0xAA, 0x01, 0xBB, 200}, longContent});
  EXPECT_EQ(at(data, 0), longContent);
  EXPECT_EQ(sampled(), "1W_120500:Data is longer than 127");
  data.pop_back();
  EXPECT_EQ(at(data, 0), std::nullopt);
}

TEST_F(ReceiptTest, FilterByProductAndPurchaseDate) {
  auto make = [](const char* product, std::optional<std::string> date, const char* transaction) {
    GWLInAppPurchaseItem item;
    item.productID = product;
    item.purchaseDateIA5String = std::move(date);
    item.transactionID = transaction;
    return item;
  };
  const std::vector<GWLInAppPurchaseItem> items = {
      make("a", "2024-03-01T00:00:00Z", "1"), make("b", "2024-01-01T00:00:00Z", "2"),
      make("a", "2024-01-01T01:00:00+01:00", "3"),  // the same moment as "2", written with an offset
      make("a", std::nullopt, "4"), make("a", "not a date", "5")};
  auto transactions = [](const std::optional<std::vector<GWLInAppPurchaseItem>>& found) {
    std::vector<std::string> ids;
    for (const auto& item : found.value_or(std::vector<GWLInAppPurchaseItem>{})) ids.push_back(*item.transactionID);
    return ids;
  };
  const double january = 1704067200;  // 2024-01-01T00:00:00Z
  EXPECT_EQ(transactions(GWLFilterPurchaseItems(items, "a", std::nullopt)),
            (std::vector<std::string>{"4", "5", "3", "1"}));
  EXPECT_EQ(transactions(GWLFilterPurchaseItems(items, std::nullopt, january)), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(transactions(GWLFilterPurchaseItems(items, "a", january)), (std::vector<std::string>{"3"}));
  EXPECT_EQ(GWLFilterPurchaseItems(items, "c", std::nullopt), std::vector<GWLInAppPurchaseItem>{});
  EXPECT_EQ(GWLFilterPurchaseItems(items, std::nullopt, std::nullopt), std::nullopt);
  EXPECT_EQ(GWLFilterPurchaseItems(items, "", std::nullopt), std::nullopt);
  EXPECT_EQ(GWLFilterPurchaseItems({}, "a", january), std::nullopt);
}

TEST_F(ReceiptTest, OriginalApplicationVersion) {
  struct Row {
    const char* name;
    std::optional<Bytes> receipt;
    bool current;
    std::string line;
  };
  const Bytes versionAttribute = {0x30, 0x0D, 0x02, 0x01, 0x13, 0x02, 0x01, 0x01, 0x04, 0x05,
                                  0x0C, 0x03, 0x31, 0x2E, 0x30};
  const Row rows[] = {
      {"content 0C 03 31 2E 30", join({textBytes("lead"), versionAttribute, item(productField("a"))}), true, ""},
      {"the stand-in's receipt", receipt::encodeReceipt("1.0", {fullPurchase()}), true, ""},
      {"another version", receipt::encodeReceipt("1.0.1", {}), false, ""},
      {"no receipt", std::nullopt, false, "1W_120500:Version data is nil"},
      {"empty", Bytes{}, false, "1W_120500:Version data is empty"},
      {"no attribute 19", item(productField("a")), false, "1W_120500:V data is too short. Length"},
      {"two content bytes", Bytes{0x30, 0x0A, 0x02, 0x01, 0x13, 0x02, 0x01, 0x01, 0x04, 0x02, 0x0C, 0x00, 0x00},
       false, "1W_120500:V data is too short. Length"},
      {"wrong tag", Bytes{0x30, 0x0D, 0x02, 0x01, 0x13, 0x02, 0x01, 0x01, 0x04, 0x05, 0x16, 0x03, '1', '.', '0'},
       true, "1W_120500:V data byte 0 is wrong. Value"},
      {"wrong length byte", Bytes{0x30, 0x0D, 0x02, 0x01, 0x13, 0x02, 0x01, 0x01, 0x04, 0x05, 0x0C, 0x09, '1', '.', '0'},
       true, "1W_120500:V data byte 1 is wrong. Value, expected"},
  };
  for (const Row& row : rows) {
    monitor_->clearMonitoringData();
    EXPECT_EQ(GWLIsReceiptAppVersionCurrentInData(row.receipt, "1.0"), row.current) << row.name;
    EXPECT_EQ(sampled(), row.line) << row.name;
  }
}

}  // namespace
