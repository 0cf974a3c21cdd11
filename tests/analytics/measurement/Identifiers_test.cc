#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <thread>

#include "MeasurementTestSupport.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/measurement/GWLDefaultIdentitySupport.h"
#include "analytics/measurement/GWLIdentifiers.h"
#include "analytics/measurement/GWLIdentity.h"

namespace measurement_test {
namespace {

// An engine that has an identity, as the registry hands it out.
class IdentityEngine : public GWLMeasurementEngine {
 public:
  explicit IdentityEngine(std::shared_ptr<GWLIdentity> identity) : identity_(std::move(identity)) {}
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override { return nullptr; }
  std::shared_ptr<GWLIdentity> identity() const override { return identity_; }

 private:
  std::shared_ptr<GWLIdentity> identity_;
};

class IdentifiersTest : public MeasurementTest {
 protected:
  std::shared_ptr<GWLIdentity> makeIdentity(const std::optional<std::string>& appID) {
    GWLIdentity::Dependencies dependencies;
    dependencies.identitySupport = GWLDefaultIdentitySupport::create(nullptr, {monitor_, std::chrono::seconds(1)});
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.environment = environmentWith({});
    dependencies.identifierForVendor = [] { return std::nullopt; };
    auto identity = GWLIdentity::initWithPersistedConfig(persisted_, dependencies);
    identity->setAppIDFromQRX(appID.value_or(""));
    return identity;
  }

  GWLIdentifiers makeIdentifiers() {
    GWLIdentifiers::Dependencies dependencies;
    dependencies.sharedIdentity = [this] { return shared_; };
    dependencies.monitor = monitor_;
    return GWLIdentifiers(dependencies);
  }

  void installEngine(std::shared_ptr<GWLIdentity> identity) {
    GWLMeasurementRegistry::resetForTesting(monitor_);
    GWLMeasurementRegistry::initializeSharedInstance([identity] { return std::make_shared<IdentityEngine>(identity); });
  }

  // The message of the last report that fed the health sample.
  std::string lastSampled() {
    std::string key = lastSampledKey();
    return key.substr(key.find(':') + 1);
  }

  std::shared_ptr<GWLPersistedConfig> persisted_ = persistedConfig();
  std::shared_ptr<GWLIdentity> shared_;
};

TEST_F(IdentifiersTest, AskTheEngineIdentityWhenThereIsOneElseTheSharedOne) {
  shared_ = makeIdentity("shared-app");
  auto identifiers = makeIdentifiers();
  EXPECT_EQ(identifiers.halcyraAppID(), "shared-app");
  EXPECT_EQ(identifiers.analyticsAppID(), "shared-app");
  EXPECT_EQ(identifiers.appInstanceID(), *persisted_->appInstanceID());

  installEngine(makeIdentity("engine-app"));
  EXPECT_EQ(identifiers.halcyraAppID(), "engine-app");
  EXPECT_EQ(identifiers.analyticsAppID(), "engine-app");
  EXPECT_EQ(identifiers.libraryVersion(), "120500");
}

TEST_F(IdentifiersTest, MissingValuesAnswerTheEmptyStringWithTheirReport) {
  struct Case {
    bool engine;  // an engine with an identity exists
    std::string (GWLIdentifiers::*accessor)() const;
    bool analyticsStorageDenied;
    const char* message;
  } cases[] = {
      {true, &GWLIdentifiers::halcyraAppID, false, kGWLNoAppIDFromEngineIdentityMessage},         // 37000
      {false, &GWLIdentifiers::halcyraAppID, false, kGWLNoAppIDFromSharedIdentityMessage},        // 37001
      {true, &GWLIdentifiers::appInstanceID, true, kGWLNoAppInstanceIDFromEngineIdentityMessage}, // 37002
      {false, &GWLIdentifiers::appInstanceID, true, kGWLNoAppInstanceIDFromSharedIdentityMessage},// 37003
      {true, &GWLIdentifiers::analyticsAppID, false, kGWLNoEffectiveAppIDMessage},                // 37005
      {false, &GWLIdentifiers::analyticsAppID, false, kGWLNoEffectiveAppIDMessage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    GWLConsentSettingsUtil::resetForTesting();
    GWLMeasurementRegistry::resetForTesting(monitor_);
    shared_ = makeIdentity(std::nullopt);
    if (c.engine) installEngine(makeIdentity(std::nullopt));
    if (c.analyticsStorageDenied) GWLConsentSettingsUtil::updateSettings({{"analytics_storage", "denied"}});
    auto identifiers = makeIdentifiers();
    EXPECT_EQ((identifiers.*c.accessor)(), "");
    EXPECT_EQ(lastSampled(), c.message);
  }
  // Without any identity at all.
  GWLMeasurementRegistry::resetForTesting(monitor_);
  shared_ = nullptr;
  auto identifiers = makeIdentifiers();
  EXPECT_EQ(identifiers.halcyraAppID(), "");
  EXPECT_EQ(lastSampled(), kGWLNoAppIDFromSharedIdentityMessage);
}

TEST_F(IdentifiersTest, OriginRefusesEmptyValues) {
  auto identifiers = makeIdentifiers();
  EXPECT_EQ(identifiers.origin(), std::nullopt);
  identifiers.setOrigin(std::string("cz"));
  identifiers.setOrigin(std::string(""));
  EXPECT_EQ(lastSampled(), kGWLEmptyOriginMessage);
  identifiers.setOrigin(std::nullopt);
  EXPECT_EQ(identifiers.origin(), "cz");
}

TEST_F(IdentifiersTest, AdEventIDsFromThreeThreadsNeitherRepeatNorSkip) {
  // The start lies close to the top, so the counter wraps on the way.
  const int64_t start = std::numeric_limits<int64_t>::max() - 1500;
  GWLIdentifiers::Dependencies dependencies;
  dependencies.adEventIDStart = start;
  GWLIdentifiers identifiers(dependencies);
  EXPECT_EQ(identifiers.adEventID(), std::to_string(start));
  EXPECT_EQ(identifiers.adEventID(), std::to_string(start + 1));

  std::vector<std::vector<std::string>> answers(3);
  std::vector<std::thread> threads;
  for (auto& answer : answers) {
    threads.emplace_back([&identifiers, &answer] {
      for (int i = 0; i < 1000; ++i) answer.push_back(identifiers.adEventID());
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::string> seen;
  for (const auto& answer : answers) seen.insert(answer.begin(), answer.end());
  std::set<std::string> expected;
  for (uint64_t i = 2; i < 3002; ++i) expected.insert(std::to_string(static_cast<int64_t>(static_cast<uint64_t>(start) + i)));
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(expected.count(std::to_string(std::numeric_limits<int64_t>::min())));
}

}  // namespace
}  // namespace measurement_test
