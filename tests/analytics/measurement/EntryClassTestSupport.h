// The entry class's tests: an entry class over a recording engine, recording
// reporters, a main queue and a global queue of the test's own, a manual
// clock, and an app environment whose Info dictionary, service file and
// components the test chooses.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MeasurementTestSupport.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/measurement/GWLAnalytics.h"
#include "analytics/measurement/GWLAnalyticsOperationQueue.h"
#include "analytics/measurement/GWLAppDelegateInterceptor.h"
#include "analytics/measurement/GWLDefaultIdentitySupport.h"
#include "analytics/measurement/GWLIdentifiers.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLScreenViewReporting.h"
#include "analytics/measurement/testing/RecordingAnalyticsEngine.h"
#include "platform/appdelegate/HVUAppDelegateSwizzler.h"
#include "platform/core/Log.h"
#include "platform/dispatch/NotificationCenter.h"
#include "platform/dispatch/Queue.h"

namespace measurement_test {

using measurement_testing::RecordingAnalyticsEngine;

class RecordingScreenViewReporter : public GWLScreenViewReporting {
 public:
  void trackScreenWithParameters(const GWLRawParameters& parameters, double timestamp) override {
    std::lock_guard lock(mutex_);
    tracked_.emplace_back(parameters, timestamp);
  }
  GWLParameters screenParameters() override {
    std::lock_guard lock(mutex_);
    return current_;
  }
  void setScreenName(const std::optional<std::string>& name, const std::optional<std::string>& screenClass) override {
    std::lock_guard lock(mutex_);
    manual_.emplace_back(name, screenClass);
  }
  void setCurrent(GWLParameters current) {
    std::lock_guard lock(mutex_);
    current_ = std::move(current);
  }
  std::vector<std::pair<GWLRawParameters, double>> tracked() {
    std::lock_guard lock(mutex_);
    return tracked_;
  }
  std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> manual() {
    std::lock_guard lock(mutex_);
    return manual_;
  }

 private:
  std::mutex mutex_;
  GWLParameters current_;
  std::vector<std::pair<GWLRawParameters, double>> tracked_;
  std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> manual_;
};

class RecordingPurchaseReporter : public GWLInAppPurchaseTransactionReporting {
 public:
  void reportTransactionWithProductID(const GWLStoreTransactionValues& transaction) override {
    std::lock_guard lock(mutex_);
    reported_.push_back(transaction);
  }
  void paymentQueue(const std::shared_ptr<platform::PaymentQueue>&,
                    const std::vector<platform::PaymentTransaction>& filtered) override {
    std::lock_guard lock(mutex_);
    filtered_.push_back(filtered);
  }
  std::vector<GWLStoreTransactionValues> reported() {
    std::lock_guard lock(mutex_);
    return reported_;
  }
  std::vector<std::vector<platform::PaymentTransaction>> filtered() {
    std::lock_guard lock(mutex_);
    return filtered_;
  }

 private:
  std::mutex mutex_;
  std::vector<GWLStoreTransactionValues> reported_;
  std::vector<std::vector<platform::PaymentTransaction>> filtered_;
};

// The parameters as plain objects (typed values by their objects).
inline platform::Dictionary plain(const std::optional<GWLRawParameters>& parameters) {
  platform::Dictionary result;
  if (!parameters) return result;
  for (const auto& [name, value] : *parameters) {
    if (const auto* object = std::get_if<platform::Object>(&value)) {
      result.emplace(name, *object);
    } else {
      result.emplace(name, std::get<GWLValue>(value).objectValue());
    }
  }
  return result;
}

class EntryClassTest : public MeasurementTest {
 protected:
  struct Setup {
    platform::Dictionary info;
    std::optional<std::string> serviceFile;
    std::vector<std::string> components;
    std::map<std::string, platform::AppEnvironment::ComponentMethod> tagManagerMethods;
    bool withTagManager = false;
    std::shared_ptr<platform::Clock> clock;  // the manual clock when null
    std::function<std::string()> randomAppInstanceID;
  };

  void SetUp() override {
    MeasurementTest::SetUp();
    previousLevel_ = platform::log::level();
    platform::HVUSetLoggerLevel(7);  // debug reports print too
    GWLMeasurementRegistry::resetForTesting(monitor_);
    GWLMeasurement::resetSVTPPreviewHeadersForTesting();
  }

  void TearDown() override {
    if (analytics_) settle();
    GWLAnalytics::setSharedInstanceForTesting(nullptr);
    analytics_.reset();
    GWLMeasurementRegistry::resetForTesting(monitor_);
    GWLMeasurement::resetSVTPPreviewHeadersForTesting();
    platform::log::setLevel(previousLevel_);
    MeasurementTest::TearDown();
  }

  // A new entry class (as in a new process: no engine attempt yet), which
  // becomes the logger of the library's error events.
  static Setup with(const std::function<void(Setup&)>& change) {
    Setup setup;
    change(setup);
    return setup;
  }
  std::shared_ptr<GWLAnalytics> make() { return make(Setup()); }
  std::shared_ptr<GWLAnalytics> make(const Setup& setup) {
    if (analytics_) settle();
    GWLMeasurementRegistry::resetForTesting(monitor_);
    environment_ = environmentWith(setup.info, setup.serviceFile);
    for (const auto& component : setup.components) environment_->registerComponent(component);
    if (setup.withTagManager) environment_->registerComponent(kGWLTagManagerClassName, setup.tagManagerMethods);
    swizzler_ = platform::HVUAppDelegateSwizzler::create({environment_, main_});
    paymentQueue_ = platform::PaymentQueue::create(main_);
    identity_ = makeIdentity();
    GWLIdentifiers::Dependencies identifierDependencies;
    identifierDependencies.engineIdentity = [] { return nullptr; };
    identifierDependencies.sharedIdentity = [identity = identity_] { return identity; };
    identifierDependencies.monitor = monitor_;
    identifierDependencies.adEventIDStart = 1;
    identifiers_ = std::make_shared<GWLIdentifiers>(identifierDependencies);

    GWLAnalytics::Dependencies dependencies;
    dependencies.clock = setup.clock ? setup.clock : clock_;
    dependencies.monitor = monitor_;
    dependencies.defaults = suite_;
    dependencies.persistedConfig = [settings = settings_] { return settings; };
    dependencies.identity = [identity = identity_] { return identity; };
    dependencies.identifiers = identifiers_;
    dependencies.randomAppInstanceID = setup.randomAppInstanceID ? setup.randomAppInstanceID : [] {
      return std::string("0123456789ABCDEF0123456789ABCDEF");
    };
    dependencies.environment = environment_;
    dependencies.notificationCenter = center_;
    dependencies.mainQueue = main_;
    dependencies.globalQueue = global_;
    dependencies.paymentQueue = paymentQueue_;
    dependencies.appDelegateSwizzler = swizzler_;
    dependencies.screenViewReporter = screens_;
    dependencies.purchaseReporter = purchases_;
    dependencies.engineFactory = [this](const GWLAnalyticsEngineConfiguration& configuration) {
      std::lock_guard lock(madeMutex_);
      made_.push_back(configuration);
      return engine_;
    };
    analytics_ = GWLAnalytics::create(dependencies);
    GWLAnalytics::setSharedInstanceForTesting(analytics_);
    return analytics_;
  }

  // The start the public class makes: origin "cz", the given options.
  void start(const platform::Dictionary& options = {{kGWLStartOptionLogTag, "<Test>"}},
             const std::string& origin = kGWLOriginCorvane, const std::string& appID = "1:123:ios:abc",
             const platform::NotificationSender& configuration = nullptr) {
    analytics_->startWithAppID(appID, origin, options, configuration);
    settle();
  }

  // Lets every queue involved run what it was given.
  void settle() {
    for (int round = 0; round < 2; ++round) {
      analytics_->queue()->flush();
      main_->drain();
      global_->waitUntilIdle();
    }
  }

  std::vector<GWLAnalyticsEngineConfiguration> made() {
    std::lock_guard lock(madeMutex_);
    return made_;
  }

  // The error events ("_err", origin "auto") the engine received, as plain parameters.
  std::vector<platform::Dictionary> errorEvents() {
    std::vector<platform::Dictionary> result;
    for (const auto& event : engine_->events()) {
      if (event.name == "_err" && event.origin == "auto" && !event.isPublicEvent) result.push_back(plain(event.parameters));
    }
    return result;
  }

  // The codes of the entry class's own printed reports (250xx) since the last call.
  std::vector<int64_t> entryCodes() {
    std::vector<int64_t> result;
    for (int64_t code : codes()) {
      if (code >= 25000 && code < 26000) result.push_back(code);
    }
    return result;
  }

  // The text of the last report that fed the health sample (levels 1, 2, 4, 5).
  std::string sampled() {
    const std::string key = lastSampledKey();
    const size_t colon = key.find(':');
    return colon == std::string::npos ? std::string() : key.substr(colon + 1);
  }

  std::shared_ptr<GWLIdentity> makeIdentity() {
    GWLIdentity::Dependencies dependencies;
    GWLDefaultIdentitySupport::Dependencies supportDependencies;
    supportDependencies.monitor = monitor_;
    supportDependencies.resettableDeviceIDWait = std::chrono::seconds(10);  // the fake answers at once
    dependencies.identitySupport =
        GWLDefaultIdentitySupport::create(platformIdentity_, supportDependencies);
    dependencies.clock = clock_;
    dependencies.monitor = monitor_;
    dependencies.remoteConfig = [config = configWith(monitor_, {})] { return config; };
    dependencies.environment = environment_;
    dependencies.identifierForVendor = [] { return std::optional<std::string>("11111111-2222-4333-8444-555555555555"); };
    return GWLIdentity::initWithPersistedConfig(settings_, dependencies);
  }

  platform::LogLevel previousLevel_ = platform::LogLevel::Notice;
  std::shared_ptr<GWLUserDefaults> suite_ = foundation_test::suiteIn(app_.path(), kGWLAnalyticsSuiteName);
  std::shared_ptr<GWLPersistedConfig> settings_ = persistedConfig();
  std::shared_ptr<platform::MainQueue> main_ = platform::MainQueue::create();
  std::shared_ptr<platform::ConcurrentQueue> global_ = platform::ConcurrentQueue::create("global", 2);
  std::shared_ptr<platform::NotificationCenter> center_ = platform::NotificationCenter::create();
  std::shared_ptr<RecordingScreenViewReporter> screens_ = std::make_shared<RecordingScreenViewReporter>();
  std::shared_ptr<RecordingPurchaseReporter> purchases_ = std::make_shared<RecordingPurchaseReporter>();
  std::shared_ptr<RecordingAnalyticsEngine> engine_ = std::make_shared<RecordingAnalyticsEngine>();
  std::shared_ptr<platform::AppEnvironment> environment_;
  std::shared_ptr<platform::HVUAppDelegateSwizzler> swizzler_;
  std::shared_ptr<platform::PaymentQueue> paymentQueue_;
  std::shared_ptr<GWLIdentity> identity_;
  // The platform's advertising services under the identities made here.
  std::shared_ptr<FakePlatformIdentity> platformIdentity_ = std::make_shared<FakePlatformIdentity>();
  std::shared_ptr<GWLIdentifiers> identifiers_;
  std::shared_ptr<GWLAnalytics> analytics_;
  std::mutex madeMutex_;
  std::vector<GWLAnalyticsEngineConfiguration> made_;
};

}  // namespace measurement_test
