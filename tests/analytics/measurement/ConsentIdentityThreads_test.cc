// Consent and identifiers changed and read from several threads at once; the
// value of this test is its run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "MeasurementTestSupport.h"
#include "analytics/measurement/GWLDefaultIdentitySupport.h"
#include "analytics/measurement/GWLIdentifiers.h"
#include "analytics/measurement/GWLIdentity.h"

namespace measurement_test {
namespace {

using Util = GWLConsentSettingsUtil;
using platform::Dictionary;

class ConsentIdentityThreadsTest : public MeasurementTest {};

TEST_F(ConsentIdentityThreadsTest, ChangesAndQuestionsFromSeveralThreads) {
  auto platform = std::make_shared<FakePlatformIdentity>();
  platform->set({true, 3, true, std::string("6D1E5A2B-0C3F-4D2E-9A1B-2C3D4E5F6A7B")});
  auto config = configWith(monitor_, {{kGWLSettingAdIDCacheTime, "0"}}, {{3, 1}});
  GWLIdentity::Dependencies identityDependencies;
  identityDependencies.identitySupport =
      GWLDefaultIdentitySupport::create(platform, {monitor_, std::chrono::milliseconds(10)});
  identityDependencies.clock = clock_;
  identityDependencies.monitor = monitor_;
  identityDependencies.remoteConfig = [config] { return config; };
  identityDependencies.environment = environmentWith({});
  identityDependencies.identifierForVendor = [] { return std::string("11111111-2222-4333-8444-555555555555"); };
  auto identity = GWLIdentity::initWithPersistedConfig(persistedConfig(), identityDependencies);
  ASSERT_TRUE(identity);

  GWLAnalyticsConsent::Dependencies consentDependencies;
  consentDependencies.defaults = foundation_test::suiteIn(app_.path(), kGWLAnalyticsSuiteName);
  consentDependencies.monitor = monitor_;
  consentDependencies.remoteConfig = [config] { return config; };
  GWLAnalyticsConsent consent(consentDependencies);
  auto sink = std::make_shared<RecordingSink>();
  sink->duringCall = [] { (void)Util::consentDiagnostics(); };
  consent.setSink(sink);

  GWLIdentifiers::Dependencies identifiersDependencies;
  identifiersDependencies.sharedIdentity = [identity] { return identity; };
  identifiersDependencies.monitor = monitor_;
  GWLIdentifiers identifiers(identifiersDependencies);

  constexpr int kRounds = 200;
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      consent.setConsent(Dictionary{{"ad_storage", i % 2 ? "granted" : "denied"},
                                    {"ad_user_data", i % 3 ? "granted" : "denied"}});
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      consent.setConsent(Dictionary{{"analytics_storage", i % 2 ? "granted" : "denied"}},
                         i % 2 ? kGWLConsentSettings3PKey : kGWLConsentSettingsTCFKey);
      Util::setDefaultSettings(Dictionary{{"ad_personalization", i % 2 ? "granted" : "denied"}});
      Util::setDelegatedSettings(Dictionary{{"ad_user_data", "ad_storage"}});
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      const std::string signals = Util::consentSignals();
      const std::string diagnostics = Util::consentDiagnostics();
      (void)Util::description();
      (void)Util::isAdUserDataDenied();
      (void)Util::adPersonalization();
      if (signals.size() == 4 && diagnostics.size() == 5) ++answered;
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      identity->updateIdentifiers();
      (void)identity->appInstanceID();
      (void)identity->identifierForVendor();
      (void)identity->sessionStitchingToken(i / 10, i % 7 == 0, false);
      (void)identity->diversionKey();
      (void)identifiers.appInstanceID();
      (void)identifiers.adEventID();
      identity->setCorvaneInstallationID(std::to_string(i));
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      (void)identity->resettableDeviceID();
      (void)identity->corvaneInstallationID();
      (void)identifiers.adEventID();
      identity->resetSessionStitchingToken();
      identity->resetEphemeralAppInstanceID();
      (void)identity->ephemeralAppInstanceID();
    }
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(answered.load(), kRounds);
  // Consent calls persist in the order they change the state.
  EXPECT_EQ(consent.persistedConsentSource(), Util::consentSource());
  identity->updateIdentifiersAndWait();
}

}  // namespace
}  // namespace measurement_test
