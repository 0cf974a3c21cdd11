// Lifetime value per currency over a real measurement database. Failing
// database steps come from SQLite triggers that refuse the statement.
#include "analytics/attribution/GWLLifetimeValueRecorder.h"

#include <gtest/gtest.h>

#include <limits>

#include "../foundation/values/ValuesTestSupport.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"

namespace {

class LifetimeValueTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    GWLDatabase::Dependencies dependencies;
    dependencies.clock = clock_;
    database_ = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr, dependencies);
    ASSERT_TRUE(database_);
  }

  static std::shared_ptr<GWLEvent> event(const std::string& name, platform::Dictionary parameters) {
    auto made = GWLEvent::initWithOrigin("app", false, name, 1, 0, parameters, GWLValueLimits{});
    EXPECT_TRUE(made) << name;
    return made;
  }
  bool record(const std::shared_ptr<GWLEvent>& e, int32_t maxTracked = 4) {
    clock_->advance(1);
    return GWLLifetimeValueRecorder::recordLifetimeValueToDatabase(*database_, *e,
                                                                   {maxTracked, clock_->now(), monitor_});
  }
  std::optional<int64_t> total(const std::string& name) {
    auto attribute = database_->userAttributeWithName(name);
    if (!attribute) return std::nullopt;
    EXPECT_EQ(attribute->origin(), "auto");
    EXPECT_TRUE(attribute->value().isInt64());
    return attribute->value().int64Value();
  }
  std::vector<int64_t> printedCodes() {
    std::vector<int64_t> codes;
    for (const auto& report : reports()) {
      if (report.level <= 1) codes.push_back(report.code);
    }
    return codes;
  }
  void refuse(const std::string& trigger) { ASSERT_TRUE(database_->sqliteStore()->executeSQL(trigger)); }

  foundation_test::DataDirectory data_;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
  std::shared_ptr<GWLDatabase> database_;
};

TEST_F(LifetimeValueTest, PurchaseEventsAddToTheirCurrencyTotal) {
  EXPECT_TRUE(GWLLifetimeValueRecorder::isPurchaseEvent(*event("_iap", {})));
  EXPECT_TRUE(GWLLifetimeValueRecorder::isPurchaseEvent(*event("in_app_purchase", {})));
  EXPECT_TRUE(GWLLifetimeValueRecorder::isEcommercePurchaseEvent(*event("ecommerce_purchase", {})));
  EXPECT_FALSE(GWLLifetimeValueRecorder::isEcommercePurchaseEvent(*event("_iap", {})));
  EXPECT_FALSE(GWLLifetimeValueRecorder::isPurchaseEvent(*event("add_to_cart", {})));

  EXPECT_TRUE(record(event("purchase", {{"value", 9.99}, {"currency", "usd"}})));
  EXPECT_EQ(total("_ltv_USD"), 9990000);
  EXPECT_TRUE(record(event("_iap", {{"value", int64_t{990000}}, {"currency", "USD"}})));
  EXPECT_EQ(total("_ltv_USD"), 10980000) << "_iap values are millionths already";
  EXPECT_TRUE(record(event("_iap", {{"value", 1.9}, {"currency", "USD"}})));
  EXPECT_EQ(total("_ltv_USD"), 10980001) << "a double _iap value is truncated";
  EXPECT_TRUE(record(event("in_app_purchase", {{"value", int64_t{2}}, {"currency", "USD"}})));
  EXPECT_EQ(total("_ltv_USD"), 12980001);
  EXPECT_TRUE(record(event("ecommerce_purchase", {{"value", 0.0000005}, {"currency", "USD"}})));
  EXPECT_EQ(total("_ltv_USD"), 12980002) << "half a millionth rounds away from zero";

  EXPECT_TRUE(record(event("refund", {{"value", int64_t{5}}, {"currency", "EUR"}})));
  EXPECT_EQ(total("_ltv_EUR"), -5000000);
  EXPECT_TRUE(record(event("add_to_cart", {{"value", int64_t{5}}, {"currency", "EUR"}})));
  EXPECT_EQ(total("_ltv_EUR"), -5000000);
  EXPECT_TRUE(printedCodes().empty());
}

TEST_F(LifetimeValueTest, BadParametersKeepTheEventWithoutATotal) {
  struct Row {
    const char* name;
    platform::Dictionary parameters;
    bool answer;
    std::vector<int64_t> codes;
  };
  const Row rows[] = {
      {"two-letter currency", {{"value", 1.0}, {"currency", "US"}}, true, {22000}},
      {"four-letter currency", {{"value", 1.0}, {"currency", "USDX"}}, true, {22000}},
      {"numeric currency", {{"value", 1.0}, {"currency", int64_t{840}}}, true, {22000}},
      {"no currency", {{"value", 1.0}}, true, {22000}},
      {"currency that makes no property name", {{"value", 1.0}, {"currency", "U$D"}}, true, {13002, 22000}},
      {"text value", {{"value", "1"}, {"currency", "USD"}}, true, {22001}},
      {"no value", {{"currency", "USD"}}, true, {22001}},
      {"1e13 units", {{"value", 1e13}, {"currency", "USD"}}, false, {22002}},
      {"-1e13 units", {{"value", -1e13}, {"currency", "USD"}}, false, {22002}},
      {"huge integer", {{"value", std::numeric_limits<int64_t>::max()}, {"currency", "USD"}}, false, {22002}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(record(event("purchase", row.parameters)), row.answer) << row.name;
    EXPECT_EQ(printedCodes(), row.codes) << row.name;
  }
  EXPECT_FALSE(record(event("_iap", {{"value", 1e19}, {"currency", "USD"}})));
  EXPECT_EQ(printedCodes(), std::vector<int64_t>{22002});
  auto totals = database_->allLifetimeValueUserAttributes();
  ASSERT_TRUE(totals);
  EXPECT_TRUE(totals->empty());
}

TEST_F(LifetimeValueTest, TotalsStayAtTheInt64Bound) {
  const int64_t max = std::numeric_limits<int64_t>::max();
  EXPECT_TRUE(record(event("_iap", {{"value", max - 10}, {"currency", "USD"}})));
  EXPECT_TRUE(record(event("_iap", {{"value", int64_t{100}}, {"currency", "USD"}})));
  EXPECT_EQ(total("_ltv_USD"), max);
  EXPECT_EQ(printedCodes(), std::vector<int64_t>{22002});
}

TEST_F(LifetimeValueTest, AFifthCurrencyEvictsTheLeastRecentlySet) {
  for (const char* currency : {"AUD", "BRL", "CAD", "DKK"}) {
    ASSERT_TRUE(record(event("purchase", {{"value", 1.0}, {"currency", currency}})));
  }
  ASSERT_TRUE(record(event("purchase", {{"value", 1.0}, {"currency", "AUD"}})));  // AUD is the most recent now
  ASSERT_TRUE(record(event("purchase", {{"value", 1.0}, {"currency", "EUR"}})));
  EXPECT_EQ(total("_ltv_BRL"), std::nullopt);
  EXPECT_EQ(total("_ltv_AUD"), 2000000);
  EXPECT_EQ(total("_ltv_EUR"), 1000000);
  EXPECT_EQ(database_->allLifetimeValueUserAttributes()->size(), 4u);

  ASSERT_TRUE(record(event("purchase", {{"value", 1.0}, {"currency", "GBP"}}), 1));
  EXPECT_EQ(database_->allLifetimeValueUserAttributes()->size(), 4u) << "one total gives way per new currency";
  EXPECT_EQ(total("_ltv_CAD"), std::nullopt);
}

TEST_F(LifetimeValueTest, DatabaseFailuresAnswerNo) {
  ASSERT_TRUE(record(event("purchase", {{"value", 1.0}, {"currency", "USD"}}), 1));
  refuse("CREATE TRIGGER refuse_upsert BEFORE INSERT ON user_attributes BEGIN SELECT RAISE(ABORT, 'refused'); END");
  EXPECT_FALSE(record(event("purchase", {{"value", 1.0}, {"currency", "USD"}})));
  EXPECT_EQ(printedCodes(), std::vector<int64_t>{22005});

  refuse("CREATE TRIGGER refuse_delete BEFORE DELETE ON user_attributes BEGIN SELECT RAISE(ABORT, 'refused'); END");
  EXPECT_FALSE(record(event("purchase", {{"value", 1.0}, {"currency", "EUR"}}), 1));
  EXPECT_EQ(printedCodes(), std::vector<int64_t>{22004});
  EXPECT_EQ(total("_ltv_USD"), 1000000);

  refuse("ALTER TABLE user_attributes RENAME TO user_attributes_gone");
  EXPECT_FALSE(record(event("purchase", {{"value", 1.0}, {"currency", "USD"}})));
  EXPECT_EQ(printedCodes(), std::vector<int64_t>{22003});
}

TEST_F(LifetimeValueTest, ANoRollsTheEventsWriteBack) {
  refuse(
      "CREATE TRIGGER refuse_totals BEFORE INSERT ON user_attributes WHEN NEW.name LIKE '!_ltv!_%' ESCAPE '!' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
  auto purchase = event("purchase", {{"value", 1.0}, {"currency", "USD"}});
  auto written = GWLUserAttribute::initWithOrigin("app", "written_with_the_event", GWLValue::initWithInt64(1), 1);
  const bool committed = database_->performTransaction([&] {
    return database_->updateUserAttribute(written) && record(purchase);
  });
  EXPECT_FALSE(committed);
  EXPECT_EQ(database_->userAttributeWithName("written_with_the_event"), nullptr);
  EXPECT_EQ(total("_ltv_USD"), std::nullopt);
}

}  // namespace
