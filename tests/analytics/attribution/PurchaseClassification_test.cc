// Purchase classification: the event each kind of purchase makes, with its
// parameters and its level-8 lines, from a product and the receipt's items.
// Amounts are checked against exact millionths; the de-duplication IDs against
// an MD5 computed elsewhere (Python's hashlib) for the first, and against the
// function for the rest.
#include <gtest/gtest.h>

#include <variant>

#include "../foundation/values/ValuesTestSupport.h"
#include "analytics/attribution/GWLPurchaseEventParameters.h"

namespace {

using Expected = std::map<std::string, std::variant<int64_t, std::string>>;

platform::Product product(const std::string& id, const char* price, std::optional<platform::ProductDiscount> intro = {}) {
  platform::Product p;
  p.productIdentifier = id;
  p.price = price;
  p.currencyCode = "USD";
  p.localizedTitle = "Title of " + id;
  p.introductoryPrice = std::move(intro);
  return p;
}

struct ItemFields {
  const char* product;
  const char* transaction;
  const char* original;
  const char* date;
  int64_t type;
  std::optional<uint64_t> webOrder = std::nullopt;
  bool freeTrial = false;
  bool introductory = false;
};

GWLInAppPurchaseItem item(const ItemFields& f) {
  GWLInAppPurchaseItem i;
  i.productID = f.product;
  i.transactionID = f.transaction;
  i.originalTransactionID = f.original;
  i.purchaseDateIA5String = f.date;
  i.purchaseType = f.type;
  i.webOrderLineItemID = f.webOrder;
  i.freeTrial = f.freeTrial;
  i.introductoryOffer = f.introductory;
  return i;
}

Expected plain(const GWLParameters& parameters) {
  Expected result;
  for (const auto& [name, value] : parameters) {
    if (value.isInt64()) result[name] = value.int64Value();
    else if (value.stringValue()) result[name] = *value.stringValue();
    else ADD_FAILURE() << name << " is neither an integer nor a string";
  }
  return result;
}

constexpr double kMarch = 1709285400;  // 2024-03-01T09:30:00Z
constexpr const char* kMarchText = "2024-03-01T09:30:00Z";
constexpr const char* kFebruaryText = "2024-02-01T09:30:00Z";

class PurchaseClassificationTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    monitor_->setVerboseLoggingEnabled(true);
  }
  void TearDown() override {
    monitor_->setVerboseLoggingEnabled(false);
    LibraryMonitorTest::TearDown();
  }
  std::vector<int64_t> verboseCodes() {
    std::vector<int64_t> codes;
    for (const auto& report : reports()) {
      if (report.level == 8) codes.push_back(report.code);
    }
    return codes;
  }
};

TEST_F(PurchaseClassificationTest, DedupIDsAndValues) {
  EXPECT_EQ(GWLPurchaseDedupID("1000000000000001", std::nullopt, "com.example.coins"), 2567386139246323113);
  EXPECT_EQ(GWLPurchaseDedupID("", std::nullopt, "com.example.coins"), -1);
  EXPECT_EQ(GWLPurchaseDedupID(std::nullopt, 5, "com.example.coins"), -1);
  EXPECT_EQ(GWLPurchaseDedupID("1", 5, ""), -1);
  EXPECT_EQ(GWLPurchaseDedupID("1", 5, "p"), GWLPurchaseDedupID("15", std::nullopt, "p"))
      << "the web order line item ID joins as its decimal text";

  auto decimal = [](const char* text) { return *GWLDecimalNumberFromString(text); };
  EXPECT_EQ(GWLPurchaseValueMicros(decimal("0.99"), 3), 2970000);
  EXPECT_EQ(GWLPurchaseValueMicros(decimal("19.999999"), 1000000), 19999999000000);
  EXPECT_EQ(GWLPurchaseValueMicros(decimal("9223372036854.775807"), 2), std::nullopt);
}

TEST_F(PurchaseClassificationTest, EveryBranchOfTheClassification) {
  const platform::Product coins = product("coins", "0.99");
  const platform::Product monthly = product("monthly", "4.99");
  const platform::Product monthlyIntro =
      product("monthly", "4.99", platform::ProductDiscount{"0.49", platform::ProductDiscountPaymentMode::PayAsYouGo});
  const platform::Product monthlyIntroFree =
      product("monthly", "4.99", platform::ProductDiscount{"1.00", platform::ProductDiscountPaymentMode::FreeTrial});
  const Expected coinsBase = {{"product_id", "coins"}, {"price", 990000},  {"value", 2970000},
                              {"quantity", 3},         {"currency", "USD"}, {"product_name", "Title of coins"}};
  const Expected monthlyBase = {{"product_id", "monthly"}, {"price", 4990000},   {"value", 4990000},
                                {"quantity", 1},           {"currency", "USD"}, {"product_name", "Title of monthly"}};
  auto with = [](Expected base, const Expected& more) {
    for (const auto& [name, value] : more) base[name] = value;
    return base;
  };
  auto dedup = [](const char* original, std::optional<uint64_t> webOrder, const char* productID) -> int64_t {
    return GWLPurchaseDedupID(original, webOrder, productID);
  };

  struct Row {
    const char* name;
    std::optional<platform::Product> product;
    int64_t quantity;
    std::optional<std::string> transaction;
    std::optional<std::string> original;
    std::vector<GWLInAppPurchaseItem> items;
    std::vector<int64_t> codes;
    std::optional<std::string> event;  // nullopt: no event
    Expected parameters;
  };
  const Row rows[] = {
      {"no product", std::nullopt, 1, "1", "1", {}, {40026}, std::nullopt, {}},
      {"empty product ID", product("", "1"), 1, "1", "1", {}, {40027}, std::nullopt, {}},
      {"consumable 0.99 x 3", coins, 3, "1", "1",
       {item({"coins", "1", "1", kMarchText, kGWLPurchaseTypeConsumable})}, {40021}, "_iap",
       with(coinsBase, {{"_did", dedup("1", std::nullopt, "coins")}})},
      {"consumable bought again: the latest item counts", coins, 3, "2", "2",
       {item({"coins", "2", "2", kMarchText, kGWLPurchaseTypeConsumable}),
        item({"coins", "1", "1", kFebruaryText, kGWLPurchaseTypeConsumable})},
       {40021}, "_iap", with(coinsBase, {{"_did", dedup("2", std::nullopt, "coins")}})},
      {"quantity 0", coins, 0, "1", "1", {item({"coins", "1", "1", kMarchText, kGWLPurchaseTypeConsumable})},
       {40021}, std::nullopt, {}},
      {"no transaction ID", coins, 3, std::nullopt, std::nullopt,
       {item({"coins", "1", "1", kMarchText, kGWLPurchaseTypeConsumable})}, {40003, 40021}, "_iap",
       with(coinsBase, {{"_did", dedup("1", std::nullopt, "coins")}})},
      {"not in the receipt", coins, 3, "1", "1", {item({"gems", "1", "1", kMarchText, 1})}, {40020}, "_iapx",
       coinsBase},
      {"no receipt items", coins, 3, "1", "1", {}, {40020}, "_iapx", coinsBase},
      {"non-consumable", coins, 3, "1", "1", {item({"coins", "1", "1", kMarchText, kGWLPurchaseTypeNonConsumable})},
       {40022}, "_iap", with(coinsBase, {{"_did", dedup("1", std::nullopt, "coins")}})},
      {"non-consumable restored", coins, 3, "5", "1",
       {item({"coins", "1", "1", kMarchText, kGWLPurchaseTypeNonConsumable})}, {40005}, "_iapx", coinsBase},
      {"mismatched IDs in the receipt", coins, 3, "2", "1",
       {item({"coins", "2", "1", kMarchText, kGWLPurchaseTypeConsumable})}, {40007}, "_iap", coinsBase},
      {"subscription without an item of its date", monthly, 1, "1", "1",
       {item({"monthly", "1", "1", kFebruaryText, kGWLPurchaseTypeAutoRenewableSubscription})}, {40023}, "_iapx",
       with(monthlyBase, {{"subscription", 1}})},
      {"two items of the transaction's date", monthly, 1, "2", "1",
       {item({"monthly", "1", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription}),
        item({"monthly", "2", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription})},
       {40024}, "_iapx", with(monthlyBase, {{"subscription", 1}})},
      {"non-renewing subscription", monthly, 1, "1", "1",
       {item({"monthly", "1", "1", kMarchText, kGWLPurchaseTypeNonRenewingSubscription})}, {40025}, "_iap",
       with(monthlyBase, {{"subscription", 1}, {"_did", dedup("1", std::nullopt, "monthly")}})},
      {"first auto-renewable purchase", monthly, 1, "1", "1",
       {item({"monthly", "1", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription, 77})}, {40008}, "_iap",
       with(monthlyBase, {{"subscription", 1}, {"_did", dedup("1", 77, "monthly")}})},
      {"a web order line item makes a consumable subscription-like", monthly, 1, "1", "1",
       {item({"monthly", "1", "1", kMarchText, kGWLPurchaseTypeConsumable, 77})}, {40008}, "_iap",
       with(monthlyBase, {{"subscription", 1}, {"_did", dedup("1", 77, "monthly")}})},
      {"renewal", monthly, 1, "2", "1",
       {item({"monthly", "1", "1", kFebruaryText, kGWLPurchaseTypeAutoRenewableSubscription, 77}),
        item({"monthly", "2", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription, 78})},
       {40008}, "_assr", with(monthlyBase, {{"_did", dedup("1", 78, "monthly")}})},
      {"renewal after a free trial", monthly, 1, "2", "1",
       {item({"monthly", "1", "1", kFebruaryText, kGWLPurchaseTypeAutoRenewableSubscription, 77, true}),
        item({"monthly", "2", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription, 78})},
       {40008}, "_assc", with(monthlyBase, {{"_did", dedup("1", 78, "monthly")}})},
      {"free trial", monthly, 1, "1", "1",
       {item({"monthly", "1", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription, 77, true})},
       {40009, 40010}, "_iap",
       with(monthlyBase, {{"subscription", 1}, {"_did", dedup("1", 77, "monthly")}, {"free_trial", 1},
                          {"price", 0}, {"value", 0}, {"original_price", 4990000}, {"price_is_discounted", 1}})},
      {"free trial bought again", monthly, 1, "3", "1",
       {item({"monthly", "1", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription, 77, true})}, {40011},
       "_iapx",
       with(monthlyBase, {{"subscription", 1}, {"_did", dedup("1", 77, "monthly")}, {"free_trial", 1},
                          {"price", 0}, {"value", 0}, {"original_price", 4990000}, {"price_is_discounted", 1}})},
      {"introductory price", monthlyIntro, 2, "1", "1",
       {item({"monthly", "1", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription, 77, false, true})},
       {40018, 40010}, "_iap",
       with(monthlyBase, {{"subscription", 1}, {"_did", dedup("1", 77, "monthly")}, {"quantity", 2},
                          {"price", 490000}, {"value", 980000}, {"original_price", 4990000},
                          {"price_is_discounted", 1}})},
      {"introductory offer renewing a free trial", monthlyIntro, 1, "2", "1",
       {item({"monthly", "1", "1", kFebruaryText, kGWLPurchaseTypeAutoRenewableSubscription, 77, true}),
        item({"monthly", "2", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription, 78, false, true})},
       {40018, 40010}, "_assc",
       with(monthlyBase, {{"_did", dedup("1", 78, "monthly")}, {"price", 490000}, {"value", 490000},
                          {"original_price", 4990000}, {"price_is_discounted", 1}})},
      {"introductory offer paid as a free trial", monthlyIntroFree, 1, "1", "1",
       {item({"monthly", "1", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription, 77, false, true})},
       {40018, 40010}, "_iap",
       with(monthlyBase, {{"subscription", 1}, {"_did", dedup("1", 77, "monthly")}, {"price", 0}, {"value", 0},
                          {"original_price", 4990000}, {"price_is_discounted", 1}})},
      {"introductory offer without an introductory price", monthly, 1, "1", "1",
       {item({"monthly", "1", "1", kMarchText, kGWLPurchaseTypeAutoRenewableSubscription, 77, false, true})},
       {40018, 40010}, "_iap",
       with(monthlyBase, {{"subscription", 1}, {"_did", dedup("1", 77, "monthly")}, {"price_is_discounted", 1}})},
      {"a price without millionths that fit", product("coins", "10000000000000"), 1, "1", "1",
       {item({"coins", "1", "1", kMarchText, kGWLPurchaseTypeConsumable})}, {40021}, std::nullopt, {}},
  };
  for (const Row& row : rows) {
    auto parameters = GWLPurchaseEventParameters(row.product, row.quantity, row.transaction, row.original, kMarch,
                                                 row.items);
    EXPECT_EQ(verboseCodes(), row.codes) << row.name;
    if (!row.event) {
      EXPECT_FALSE(parameters) << row.name;
      continue;
    }
    ASSERT_TRUE(parameters) << row.name;
    auto event = GWLPurchaseEventFromParameters(*parameters, kGWLStoreKitVersion1, std::nullopt, false);
    EXPECT_EQ(event.name, *row.event) << row.name;
    EXPECT_EQ(plain(event.parameters), with(row.parameters, {{"_skv", "1"}})) << row.name;
  }
}

TEST_F(PurchaseClassificationTest, SandboxMarks) {
  GWLParameters valid{{"price", GWLValue::initWithInt64(1)}};
  GWLParameters invalid{{"price", GWLValue::initWithInt64(1)}, {"invalid", GWLValue::initWithInt64(1)}};
  struct Row {
    const GWLParameters* parameters;
    const char* version;
    std::optional<std::string> environment;
    bool sandboxReceipt;
    const char* event;
    bool sandbox;
  };
  const Row rows[] = {
      {&valid, "2", "SandBox", false, "_iap", true},
      {&valid, "2", "XCODE", false, "_iap", true},
      {&valid, "2", "Production", false, "_iap", false},
      {&valid, "2", std::nullopt, true, "_iap", true},
      {&valid, "1", std::nullopt, true, "_iap", false},
      {&invalid, "1", std::nullopt, true, "_iapx", true},
      {&invalid, "1", std::nullopt, false, "_iapx", false},
      {&invalid, "2", "sandbox", false, "_iapx", true},
  };
  for (const Row& row : rows) {
    auto event = GWLPurchaseEventFromParameters(*row.parameters, row.version, row.environment, row.sandboxReceipt);
    EXPECT_EQ(event.name, row.event);
    EXPECT_EQ(event.parameters.count("sandbox"), row.sandbox ? 1u : 0u) << row.version << row.environment.value_or("");
    EXPECT_EQ(event.parameters.count("invalid"), 0u);
    EXPECT_EQ(*event.parameters.at("_skv").stringValue(), row.version);
  }
}

}  // namespace
