// The purchase hooks as the engine reaches them: the do-nothing defaults
// before the composition root installs purchase measurement, then its answers.
#include "analytics/attribution/GWLPurchaseMeasurement.h"

#include <gtest/gtest.h>

#include "../foundation/values/ValuesTestSupport.h"
#include "analytics/attribution/GWLReceipt.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"
#include "platform/storekit/Store.h"

namespace {

class PurchaseHooksTest : public foundation_test::LibraryMonitorTest {
 protected:
  void TearDown() override {
    GWLInstalledHook<GWLPurchaseHooks>::resetForTesting();
    GWLResetReceiptAppVersionCurrentForTesting();
    platform::Store::setShared(nullptr);
    platform::AppEnvironment::setShared(previousEnvironment_);
    LibraryMonitorTest::TearDown();
  }

  // A store whose receipt says the app was first installed as `version`.
  void useStore(bool sandbox, const std::string& firstVersion) {
    platform::Store::Configuration configuration;
    configuration.directory = data_.root() + (sandbox ? "/SandboxStore" : "/Store");
    configuration.sandbox = sandbox;
    configuration.originalApplicationVersion = firstVersion;
    auto store = platform::Store::create(configuration);
    platform::Product coins;
    coins.productIdentifier = "coins";
    store->setProducts({coins});
    ASSERT_TRUE(store->recordPurchase({"coins", 1, std::nullopt, false, false}));
    platform::Store::setShared(store);
  }
  void runningVersion(const std::string& version) {
    const std::string info = data_.root() + "/Info.plist";
    ASSERT_TRUE(platform::PropertyList::writeFile(info, platform::Dictionary{{"CFBundleVersion", version}}));
    platform::AppEnvironment::Configuration configuration;
    configuration.infoDictionaryPath = info;
    platform::AppEnvironment::setShared(platform::AppEnvironment::create(configuration));
  }

  foundation_test::DataDirectory data_;
  std::shared_ptr<platform::AppEnvironment> previousEnvironment_ = platform::AppEnvironment::shared();
};

TEST_F(PurchaseHooksTest, DefaultsBeforeInstallation) {
  auto hooks = GWLInstalledHook<GWLPurchaseHooks>::get();
  auto purchase = GWLEvent::initWithOrigin("app", false, "_iap", 1, 0,
                                           platform::Dictionary{{"value", int64_t{1}}, {"currency", "USD"}}, {});
  auto database = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr);
  ASSERT_TRUE(database);
  EXPECT_FALSE(hooks->isPurchaseEvent(*purchase));
  EXPECT_TRUE(hooks->recordLifetimeValueToDatabase(*database, *purchase)) << "nothing to record: the write goes on";
  EXPECT_FALSE(database->userAttributeWithName("_ltv_USD"));
  platform::PaymentTransaction transaction;
  transaction.transactionIdentifier = "1000000000000042";
  transaction.transactionState = platform::PaymentTransactionState::Purchased;
  EXPECT_EQ(hooks->transactionFingerprint(transaction), std::nullopt);
  EXPECT_FALSE(hooks->isVersionSameAsOriginalVersion());
}

TEST_F(PurchaseHooksTest, InstalledPurchaseMeasurementAnswers) {
  GWLPurchaseMeasurement::Dependencies dependencies;
  dependencies.maxTrackedCurrencies = [] { return 1; };
  dependencies.now = [] { return 1234.0; };
  dependencies.monitor = monitor_;
  GWLInstalledHook<GWLPurchaseHooks>::install(std::make_shared<GWLPurchaseMeasurement>(dependencies));
  auto hooks = GWLInstalledHook<GWLPurchaseHooks>::get();

  auto database = GWLDatabase::initWithDatabaseName(kGWLDatabaseFileName, nullptr);
  ASSERT_TRUE(database);
  for (const char* currency : {"USD", "EUR"}) {
    auto purchase = GWLEvent::initWithOrigin("app", false, "purchase", 1, 0,
                                             platform::Dictionary{{"value", 2.5}, {"currency", currency}}, {});
    EXPECT_TRUE(hooks->isPurchaseEvent(*purchase));
    EXPECT_TRUE(hooks->recordLifetimeValueToDatabase(*database, *purchase));
  }
  auto totals = database->allLifetimeValueUserAttributes();
  ASSERT_EQ(totals->size(), 1u) << "one tracked currency";
  EXPECT_EQ(totals->front()->name(), "_ltv_EUR");
  EXPECT_EQ(totals->front()->value().int64Value(), 2500000);
  EXPECT_EQ(totals->front()->lastSetTimestamp(), 1234.0);

  platform::PaymentTransaction transaction;
  transaction.transactionIdentifier = "1000000000000042";
  transaction.transactionState = platform::PaymentTransactionState::Purchased;
  EXPECT_EQ(hooks->transactionFingerprint(transaction), "112abeb993bad32869f3288369e2d6a0");
}

TEST_F(PurchaseHooksTest, OriginalVersionOncePerProcess) {
  GWLInstalledHook<GWLPurchaseHooks>::install(std::make_shared<GWLPurchaseMeasurement>());
  auto hooks = GWLInstalledHook<GWLPurchaseHooks>::get();
  runningVersion("1.0");
  useStore(false, "1.0");
  EXPECT_TRUE(hooks->isVersionSameAsOriginalVersion());
  useStore(false, "0.9");
  EXPECT_TRUE(hooks->isVersionSameAsOriginalVersion()) << "the answer is kept";
  GWLResetReceiptAppVersionCurrentForTesting();
  EXPECT_FALSE(hooks->isVersionSameAsOriginalVersion());

  // With a sandbox receipt the answer is YES without reading: this one says 0.9.
  GWLResetReceiptAppVersionCurrentForTesting();
  useStore(true, "0.9");
  EXPECT_TRUE(hooks->isVersionSameAsOriginalVersion());
  // And in the simulator.
  GWLResetReceiptAppVersionCurrentForTesting();
  useStore(false, "0.9");
  platform::AppEnvironment::Configuration simulator;
  simulator.deviceModel = "x86_64";
  platform::AppEnvironment::setShared(platform::AppEnvironment::create(simulator));
  EXPECT_TRUE(hooks->isVersionSameAsOriginalVersion());
}

}  // namespace
