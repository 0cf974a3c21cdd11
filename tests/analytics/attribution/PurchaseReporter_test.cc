// The purchase reporter over the store stand-in: purchases made in the store
// reach the reporter through the payment queue (observed, version "1") or are
// handed over field by field (version "2"); the store's receipt file is what
// the reporter reads. Queues are settled by flushing each hop in turn (main,
// store, cache, reports), never by waiting for time.
#include "analytics/attribution/GWLInAppPurchaseTransactionReporter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <set>
#include <thread>
#include <variant>

#include "../foundation/values/ValuesTestSupport.h"
#include "analytics/attribution/GWLInAppPurchaseProductCache.h"
#include "analytics/attribution/GWLPurchaseEventParameters.h"
#include "analytics/attribution/GWLReceipt.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/storekit/Store.h"

namespace {

using Plain = std::map<std::string, std::variant<int64_t, std::string>>;

struct LoggedEvent {
  std::string origin;
  std::string name;
  Plain parameters;
  friend bool operator==(const LoggedEvent&, const LoggedEvent&) = default;
  friend bool operator<(const LoggedEvent& a, const LoggedEvent& b) {
    return std::tie(a.name, a.parameters) < std::tie(b.name, b.parameters);
  }
  friend std::ostream& operator<<(std::ostream& out, const LoggedEvent& event) {
    out << event.origin << "/" << event.name << " {";
    for (const auto& [name, value] : event.parameters) {
      out << name << "=";
      std::visit([&](const auto& v) { out << v; }, value);
      out << " ";
    }
    return out << "}";
  }
};

class EventRecorder {
 public:
  void log(const std::string& origin, const std::string& name, const GWLParameters& parameters) {
    LoggedEvent event{origin, name, {}};
    for (const auto& [key, value] : parameters) {
      if (value.isInt64()) event.parameters[key] = value.int64Value();
      else if (value.stringValue()) event.parameters[key] = *value.stringValue();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::vector<LoggedEvent> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(events_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<LoggedEvent> events_;
};

// Hands the payment queue's transactions to the reporter, as the entry class
// does once the engine's duplicate filter has let them through.
class Forwarder : public platform::PaymentTransactionObserver {
 public:
  explicit Forwarder(std::shared_ptr<GWLInAppPurchaseTransactionReporter> reporter) : reporter_(std::move(reporter)) {}
  void paymentQueue(const std::shared_ptr<platform::PaymentQueue>& queue,
                    const std::vector<platform::PaymentTransaction>& transactions) override {
    reporter_->paymentQueue(queue, transactions);
  }

 private:
  std::shared_ptr<GWLInAppPurchaseTransactionReporter> reporter_;
};

platform::Product product(const std::string& id, const char* price, platform::ProductType type,
                          std::optional<platform::ProductDiscount> intro = std::nullopt) {
  platform::Product p;
  p.productIdentifier = id;
  p.price = price;
  p.currencyCode = "USD";
  p.localizedTitle = id;
  p.type = type;
  p.introductoryPrice = std::move(intro);
  return p;
}

platform::Store::PurchaseRequest buy(const std::string& id, int64_t quantity = 1) {
  platform::Store::PurchaseRequest request;
  request.productIdentifier = id;
  request.quantity = quantity;
  return request;
}

constexpr double kStart = 1709285400;  // 2024-03-01T09:30:00Z

class PurchaseReporterTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    makeStore(false);
  }
  void TearDown() override {
    settle();
    platform::Store::setShared(nullptr);
    LibraryMonitorTest::TearDown();
  }

  void makeStore(bool sandbox) {
    platform::Store::Configuration configuration;
    configuration.directory = data_.root() + (sandbox ? "/SandboxStore" : "/Store");
    configuration.sandbox = sandbox;
    configuration.originalApplicationVersion = "1.0";
    configuration.clock = clock_;
    configuration.queue = storeQueue_;
    configuration.paymentQueue = paymentQueue_;
    store_ = platform::Store::create(configuration);
    ASSERT_TRUE(store_);
    store_->setProducts(
        {product("coins", "0.99", platform::ProductType::Consumable),
         product("lifetime", "19.99", platform::ProductType::NonConsumable),
         product("monthly", "4.99", platform::ProductType::AutoRenewableSubscription),
         product("intro", "4.99", platform::ProductType::AutoRenewableSubscription,
                 platform::ProductDiscount{"0.49", platform::ProductDiscountPaymentMode::PayAsYouGo})});
    platform::Store::setShared(store_);
    cache_ = GWLInAppPurchaseProductCache::create(store_);
    GWLInAppPurchaseTransactionReporter::Dependencies dependencies;
    dependencies.productCache = cache_;
    dependencies.reportQueue = reportQueue_;
    dependencies.logInternalEvent = [recorder = recorder_](const std::string& origin, const std::string& name,
                                                           const GWLParameters& parameters) {
      recorder->log(origin, name, parameters);
    };
    dependencies.monitor = monitor_;
    reporter_ = GWLInAppPurchaseTransactionReporter::create(dependencies);
    forwarder_ = std::make_shared<Forwarder>(reporter_);
    paymentQueue_->addTransactionObserver(forwarder_);
  }

  // Runs every hop until nothing is left: main queue, store answers, cache
  // merges, reports.
  void settle() {
    for (int round = 0; round < 4; ++round) {
      mainQueue_->drain();
      storeQueue_->flush();
      cache_->validProductCount();  // runs on the cache's queue after what it holds
      reportQueue_->waitUntilIdle();
    }
  }

  std::vector<LoggedEvent> events() {
    settle();
    return recorder_->take();
  }

  std::vector<int64_t> printedCodes() {
    std::vector<int64_t> codes;
    for (const auto& report : reports()) codes.push_back(report.code);
    return codes;
  }

  foundation_test::DataDirectory data_;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>(kStart);
  std::shared_ptr<platform::MainQueue> mainQueue_ = platform::MainQueue::create();
  std::shared_ptr<platform::PaymentQueue> paymentQueue_ = platform::PaymentQueue::create(mainQueue_);
  std::shared_ptr<platform::SerialQueue> storeQueue_ = platform::SerialQueue::create("test.store");
  std::shared_ptr<platform::ConcurrentQueue> reportQueue_ = platform::ConcurrentQueue::create("test.reports", 4);
  std::shared_ptr<EventRecorder> recorder_ = std::make_shared<EventRecorder>();
  std::shared_ptr<platform::Store> store_;
  std::shared_ptr<GWLInAppPurchaseProductCache> cache_;
  std::shared_ptr<GWLInAppPurchaseTransactionReporter> reporter_;
  std::shared_ptr<Forwarder> forwarder_;
};

TEST_F(PurchaseReporterTest, ObservedPurchasesBecomeEvents) {
  ASSERT_TRUE(store_->purchase(buy("coins", 3)));
  const Plain coins = {{"product_id", "coins"}, {"product_name", "coins"}, {"currency", "USD"}, {"price", 990000},
                       {"value", 2970000},      {"quantity", 3},           {"_skv", "1"},
                       {"_did", GWLPurchaseDedupID("1000000000000001", std::nullopt, "coins")}};
  EXPECT_EQ(events(), (std::vector<LoggedEvent>{{"auto", "_iap", coins}}));

  // A subscription's free trial, then its renewal a month later (the cached product now).
  auto trialRequest = buy("monthly");
  trialRequest.freeTrial = true;
  auto trial = store_->purchase(trialRequest);
  ASSERT_TRUE(trial);
  auto trialEvents = events();
  ASSERT_EQ(trialEvents.size(), 1u);
  EXPECT_EQ(trialEvents[0].name, "_iap");
  EXPECT_EQ(trialEvents[0].parameters["price"], Plain::mapped_type(int64_t{0}));
  EXPECT_EQ(trialEvents[0].parameters["original_price"], Plain::mapped_type(int64_t{4990000}));
  EXPECT_EQ(trialEvents[0].parameters["subscription"], Plain::mapped_type(int64_t{1}));

  clock_->advance(30 * 86400 + 0.75);  // the transaction's date has a fraction; the receipt's has none
  auto renewal = buy("monthly");
  renewal.originalTransactionIdentifier = trial->transactionIdentifier;
  ASSERT_TRUE(store_->purchase(renewal));
  auto renewalEvents = events();
  ASSERT_EQ(renewalEvents.size(), 1u);
  EXPECT_EQ(renewalEvents[0].name, "_assc");
  EXPECT_EQ(renewalEvents[0].parameters.count("subscription"), 0u);

  // A restored non-consumable is invalid.
  auto lifetime = store_->purchase(buy("lifetime"));
  EXPECT_EQ(events().at(0).name, "_iap");
  auto restore = buy("lifetime");
  restore.originalTransactionIdentifier = lifetime->transactionIdentifier;
  ASSERT_TRUE(store_->purchase(restore));
  EXPECT_EQ(events().at(0).name, "_iapx");
}

TEST_F(PurchaseReporterTest, ObservedTransactionsThatAreNotReported) {
  platform::PaymentTransaction failed;
  failed.transactionIdentifier = "9";
  failed.transactionState = platform::PaymentTransactionState::Failed;
  failed.payment = {"coins", 1};
  platform::PaymentTransaction noProduct;
  noProduct.transactionIdentifier = "10";
  noProduct.transactionState = platform::PaymentTransactionState::Purchased;
  reporter_->paymentQueue(paymentQueue_, {failed, noProduct});
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(cache_->validProductCount() + cache_->invalidIdentifierCount(), 0u) << "nothing was asked for";

  // A failed products request reports nothing.
  store_->setRequestFailure(platform::Error("test", 5, "offline"));
  ASSERT_TRUE(store_->purchase(buy("coins")));
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(printedCodes(), std::vector<int64_t>{21027});

  // Neither does a request the store answers without the product: the purchase is not reported.
  store_->setRequestFailure(std::nullopt);
  platform::PaymentTransaction unknown = noProduct;
  unknown.payment = {"gems", 1};
  reporter_->paymentQueue(paymentQueue_, {unknown});
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(cache_->invalidIdentifierCount(), 1u);
}

TEST_F(PurchaseReporterTest, SandboxMarksByVersion) {
  makeStore(true);
  ASSERT_TRUE(store_->purchase(buy("coins")));
  auto observed = events();
  ASSERT_EQ(observed.size(), 1u);
  EXPECT_EQ(observed[0].name, "_iap");
  EXPECT_EQ(observed[0].parameters.count("sandbox"), 0u) << "a version-1 report in a sandbox receipt";

  GWLStoreTransactionValues handed;
  handed.productID = "coins";
  handed.transactionID = "2000";
  handed.originalTransactionID = "2000";
  handed.productType = kGWLStoreProductTypeConsumable;
  handed.paymentQuantity = 1;
  handed.purchaseDate = platform::Date{kStart};
  handed.environment = "SandBox";
  reporter_->reportTransactionWithProductID(handed);
  auto reported = events();
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].name, "_iap");
  EXPECT_EQ(reported[0].parameters["sandbox"], Plain::mapped_type(int64_t{1}));
  EXPECT_EQ(reported[0].parameters["_skv"], Plain::mapped_type(std::string("2")));
}

TEST_F(PurchaseReporterTest, HandedOverTransactionsClassifyAgainstEachOther) {
  // No receipt at all: the handed-over transactions are the only items.
  GWLStoreTransactionValues trial;
  trial.productID = "monthly";
  trial.transactionID = "500";
  trial.originalTransactionID = "500";
  trial.webOrderLineItemID = "7001";
  trial.productType = kGWLStoreProductTypeAutoRenewable;
  trial.isFreeTrial = true;
  trial.paymentQuantity = 1;
  trial.purchaseDate = platform::Date{kStart + 0.5};
  trial.environment = "Production";
  reporter_->reportTransactionWithProductID(trial);
  auto first = events();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].name, "_iap");
  EXPECT_EQ(first[0].parameters["free_trial"], Plain::mapped_type(int64_t{1}));
  EXPECT_EQ(first[0].parameters["_did"], Plain::mapped_type(GWLPurchaseDedupID("500", 7001, "monthly")));
  EXPECT_EQ(first[0].parameters.count("sandbox"), 0u);

  GWLStoreTransactionValues renewal = trial;
  renewal.transactionID = "501";
  renewal.webOrderLineItemID = "7002";
  renewal.isFreeTrial = false;
  renewal.purchaseDate = platform::Date{kStart + 30 * 86400};
  reporter_->reportTransactionWithProductID(renewal);
  auto second = events();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].name, "_assc") << "the renewal finds the trial handed over before it";

  // A product the store does not know is not reported.
  GWLStoreTransactionValues unknown = trial;
  unknown.productID = "gems";
  unknown.transactionID = "502";
  reporter_->reportTransactionWithProductID(unknown);
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(printedCodes(), std::vector<int64_t>{21027});
}

TEST_F(PurchaseReporterTest, ConcurrentReportsGiveTheEventsOfRunningThemOneByOne) {
  // An observed batch of three purchases in the receipt, and nine handed-over
  // transactions of other products that the receipt does not hold.
  const std::vector<std::string> observedProducts = {"a", "b", "c"};
  const std::vector<std::string> handedProducts = {"d", "e", "f", "g", "h", "i", "j", "k", "l"};
  std::vector<platform::Product> catalog;
  std::set<std::string> all;
  int64_t price = 1;
  for (const auto& ids : {observedProducts, handedProducts}) {
    for (const auto& id : ids) {
      const std::string text = std::to_string(price++) + ".99";
      catalog.push_back(product(id, text.c_str(), price % 2 ? platform::ProductType::Consumable
                                                            : platform::ProductType::NonConsumable));
      all.insert(id);
    }
  }
  auto prepare = [&] {
    store_->setProducts(catalog);
    // Products cached first in both runs, so that both take the same paths.
    cache_->requestProductsWithProductIdentifiers(all, reportQueue_, [](const auto&, const auto&, const auto&) {});
    settle();
  };
  prepare();
  std::vector<platform::PaymentTransaction> batch;
  for (const auto& id : observedProducts) {
    auto recorded = store_->recordPurchase(buy(id, 2));
    ASSERT_TRUE(recorded);
    platform::PaymentTransaction transaction;
    transaction.transactionIdentifier = recorded->purchase.transactionIdentifier;
    transaction.transactionState = platform::PaymentTransactionState::Purchased;
    transaction.transactionDate = platform::Date{recorded->date};
    transaction.payment = {id, 2};
    batch.push_back(transaction);
  }
  std::vector<GWLStoreTransactionValues> handed;
  int64_t next = 9000;
  for (const auto& id : handedProducts) {
    GWLStoreTransactionValues values;
    values.productID = id;
    values.transactionID = values.originalTransactionID = std::to_string(next++);
    values.productType = store_->productWithIdentifier(id)->type == platform::ProductType::Consumable
                             ? kGWLStoreProductTypeConsumable
                             : kGWLStoreProductTypeNonConsumable;
    values.paymentQuantity = 1;
    values.purchaseDate = platform::Date{kStart};
    values.environment = "sandbox";
    handed.push_back(values);
  }

  for (const auto& values : handed) reporter_->reportTransactionWithProductID(values);
  reporter_->paymentQueue(paymentQueue_, batch);
  auto oneByOne = events();
  ASSERT_EQ(oneByOne.size(), batch.size() + handed.size());

  makeStore(false);  // a fresh reporter over the same receipt
  prepare();
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < 3; ++i) reporter_->paymentQueue(paymentQueue_, batch);
  });
  for (const auto& values : handed) {
    threads.emplace_back([&, values] { reporter_->reportTransactionWithProductID(values); });
  }
  for (auto& thread : threads) thread.join();
  auto atOnce = events();

  // The batch ran three times.
  std::vector<LoggedEvent> expected = oneByOne;
  for (const auto& event : oneByOne) {
    if (event.parameters.at("_skv") == Plain::mapped_type(std::string("1"))) {
      expected.push_back(event);
      expected.push_back(event);
    }
  }
  std::sort(expected.begin(), expected.end());
  std::sort(atOnce.begin(), atOnce.end());
  EXPECT_EQ(atOnce, expected);
}

TEST_F(PurchaseReporterTest, TheCacheKeepsOnlyAnAnswerThatGoesAbove100) {
  std::vector<platform::Product> products;
  for (int i = 0; i < 120; ++i) products.push_back(product("p" + std::to_string(i), "1", platform::ProductType::Consumable));
  store_->setProducts(products);
  auto ask = [&](int from, int to) {
    std::set<std::string> ids;
    for (int i = from; i < to; ++i) ids.insert("p" + std::to_string(i));
    cache_->requestProductsWithProductIdentifiers(ids, reportQueue_, [](const auto&, const auto&, const auto&) {});
    settle();
  };
  ask(0, 60);
  ask(60, 90);
  ask(500, 510);  // unknown identifiers
  EXPECT_EQ(cache_->validProductCount(), 90u);
  EXPECT_EQ(cache_->invalidIdentifierCount(), 10u);
  ask(90, 91);  // 101 entries: only this answer stays
  EXPECT_EQ(cache_->validProductCount(), 1u);
  EXPECT_EQ(cache_->invalidIdentifierCount(), 0u);
  EXPECT_TRUE(cache_->cachedProductForProductIdentifier("p90"));
  EXPECT_FALSE(cache_->cachedProductForProductIdentifier("p0"));
}

TEST_F(PurchaseReporterTest, ProductsRequestsAnswerOnTheCallersQueue) {
  std::promise<std::optional<platform::Error>> answered;
  auto callerQueue = platform::SerialQueue::create("test.caller");
  GWLProductsRequest::requestProductsWithProductIdentifiers(
      {}, callerQueue, [&](const auto& valid, const auto& invalid, const auto& error) {
        EXPECT_TRUE(callerQueue->isCurrent());
        EXPECT_FALSE(valid);
        EXPECT_FALSE(invalid);
        answered.set_value(error);
      });
  auto error = answered.get_future().get();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 1);
  EXPECT_EQ(error->description, "Invalid product identifiers.");
}

TEST_F(PurchaseReporterTest, Fingerprints) {
  platform::PaymentTransaction transaction;
  transaction.transactionState = platform::PaymentTransactionState::Purchased;
  transaction.transactionIdentifier = "1000000000000042";
  EXPECT_EQ(GWLInAppPurchaseTransactionReporter::transactionFingerprint(&transaction),
            "112abeb993bad32869f3288369e2d6a0");
  struct Row {
    std::optional<std::string> identifier;
    platform::PaymentTransactionState state;
    std::string sampled;
  };
  const Row rows[] = {
      {"0-0", platform::PaymentTransactionState::Purchased, "1E_120500:Transaction identifier is only zeroes. Code"},
      {"", platform::PaymentTransactionState::Purchased, "1E_120500:Transaction identifier is empty. Code"},
      {std::nullopt, platform::PaymentTransactionState::Purchased, "1E_120500:Transaction identifier is nil. Code"},
      {"1000000000000042", platform::PaymentTransactionState::Restored, ""},
  };
  for (const Row& row : rows) {
    monitor_->clearMonitoringData();
    transaction.transactionIdentifier = row.identifier;
    transaction.transactionState = row.state;
    EXPECT_EQ(GWLInAppPurchaseTransactionReporter::transactionFingerprint(&transaction), std::nullopt);
    EXPECT_EQ(lastSampledKey(), row.sampled) << row.identifier.value_or("(none)");
  }
  monitor_->clearMonitoringData();
  EXPECT_EQ(GWLInAppPurchaseTransactionReporter::transactionFingerprint(nullptr), std::nullopt);
  EXPECT_EQ(lastSampledKey(), "1E_120500:Transaction is nil");
}

}  // namespace
