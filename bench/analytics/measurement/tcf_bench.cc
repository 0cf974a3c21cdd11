// The TCF client's step at start and before every upload, with consent
// strings of growing length (the keys may hold anything another component
// writes): unchanged keys (read, state string, compare) and a change each time
// (also the decision, "_tcf", the stored copies and the consent). The cost per
// byte should stay flat from a kilobyte to a megabyte.
#include <benchmark/benchmark.h>

#include <string>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/measurement/GWLAnalyticsConsent.h"
#include "analytics/measurement/GWLConsentSettingsUtil.h"
#include "analytics/measurement/GWLTCFClient.h"
#include "platform/dispatch/Clock.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PreferencesStore.h"

namespace {

class NoSink : public GWLAnalyticsConsentSink {
 public:
  void logInternalEvent(const std::string&, const std::string&, const platform::Dictionary&) override {}
  void setUserPropertyString(const std::optional<std::string>&, const std::string&) override {}
};

std::shared_ptr<GWLUserDefaults> memorySuite(const std::string& name) {
  return std::make_shared<GWLUserDefaults>(platform::PreferencesStore::create(name, std::string(), nullptr, nullptr),
                                           name);
}

struct Setup {
  std::shared_ptr<GWLUserDefaults> appDefaults = memorySuite("app");
  std::shared_ptr<NoSink> sink = std::make_shared<NoSink>();
  std::unique_ptr<GWLTCFClient> client;

  explicit Setup(size_t length) {
    GWLMonitor::Dependencies monitorDependencies;  // no preferences: nothing is stored
    monitorDependencies.clock = std::make_shared<platform::ManualClock>();
    auto monitor = GWLMonitor::create(6, nullptr, 1, monitorDependencies);
    GWLMeasurementRegistry::resetForTesting(monitor);
    GWLConsentSettingsUtil::resetForTesting();
    GWLAnalyticsConsent::Dependencies consentDependencies;
    consentDependencies.defaults = memorySuite(kGWLAnalyticsSuiteName);
    consentDependencies.monitor = monitor;
    consentDependencies.remoteConfig = [] { return std::shared_ptr<GWLRemoteConfig>(); };
    GWLTCFClient::Dependencies dependencies;
    dependencies.consent = std::make_shared<GWLAnalyticsConsent>(consentDependencies);
    dependencies.eventSink = sink;
    dependencies.appDefaults = appDefaults;
    dependencies.userDefaults = memorySuite(kGWLTCFSuiteName);
    dependencies.environment = platform::AppEnvironment::create({});
    client = std::make_unique<GWLTCFClient>(dependencies);

    std::string vendors(length, '0');
    vendors[754] = '1';
    appDefaults->setObject(platform::Object(1), kGWLTCFEnableAdvertiserConsentModeKey);
    appDefaults->setObject(platform::Object(1), kGWLTCFGdprAppliesKey);
    appDefaults->setObject(platform::Object(4), kGWLTCFPolicyVersionKey);
    appDefaults->setObject(platform::Object(vendors), kGWLTCFVendorConsentsKey);
    appDefaults->setObject(platform::Object(vendors), kGWLTCFVendorLegitimateInterestsKey);
    appDefaults->setObject(platform::Object(std::string(length, '1')), kGWLTCFPurposeConsentsKey);
    appDefaults->setObject(platform::Object(std::string(length, '1')), kGWLTCFPurposeLegitimateInterestsKey);
    for (int purpose = 1; purpose <= 10; ++purpose) {
      appDefaults->setObject(platform::Object(std::string(length, '2')),
                             kGWLTCFPublisherRestrictionsKey + std::to_string(purpose));
    }
    client->setConsentFromTCFData();
  }
};

// Six strings of `length` characters and ten restriction strings.
int64_t bytesPerCall(size_t length) { return static_cast<int64_t>(length) * 14; }

void BM_TCFStepUnchanged(benchmark::State& state) {
  const size_t length = static_cast<size_t>(state.range(0));
  Setup setup(length);
  for (auto _ : state) setup.client->setConsentFromTCFData();
  state.SetBytesProcessed(state.iterations() * bytesPerCall(length));
}
BENCHMARK(BM_TCFStepUnchanged)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void BM_TCFStepChanged(benchmark::State& state) {
  const size_t length = static_cast<size_t>(state.range(0));
  Setup setup(length);
  int64_t cmpSDKID = 0;
  for (auto _ : state) {
    setup.appDefaults->setObject(platform::Object(++cmpSDKID), kGWLTCFCmpSdkIDKey);
    setup.client->setConsentFromTCFData();
  }
  state.SetBytesProcessed(state.iterations() * bytesPerCall(length));
}
BENCHMARK(BM_TCFStepChanged)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
