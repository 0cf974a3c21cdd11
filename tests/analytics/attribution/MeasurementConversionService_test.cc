// The engine's hook-up of the on-device conversion service, over a test
// engine (real worker queue, database and settings on a manual clock) and a
// service class whose instance, version and answers each test chooses.
#include "analytics/attribution/GWLMeasurementConversionService.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>

#include "../foundation/FoundationTestSupport.h"
#include "../foundation/values/ValuesTestSupport.h"
#include "OnDeviceMeasurementTestSupport.h"
#include "analytics/attribution/GWLClassRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfigStore.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"
#include "tests/platform/TestSupport.h"

namespace {

using odm_test::ODMTestEngine;

constexpr double kNow = 1'700'000'000.0;

// A service that answers each fetch from a list (none left: nothing, no
// error), on a queue of its own, and records what the engine told it.
class FakeConversionService : public ODCConversionServiceProtocol {
 public:
  explicit FakeConversionService(int64_t version) : version_(version) {}
  void setFirstLaunchTime(std::optional<double> date) override {
    std::lock_guard<std::mutex> lock(mutex_);
    firstLaunchTimes.push_back(date);
  }
  void fetchAggregateConversionInfoForInteraction(ODCInteractionType, Completion) override {}
  void fetchMeasurementInfoForInteraction(ODCInteractionType interaction, Completion completion) override {
    std::pair<std::optional<std::string>, std::optional<platform::Error>> answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      interactions.push_back(interaction);
      if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
      }
    }
    answerQueue->async([completion = std::move(completion), answer] { completion(answer.first, answer.second); });
  }
  std::string versionString() const override { return "x"; }
  int64_t versionNumber() const override { return version_; }

  // Where the completions run (a queue of the service's own, not the engine's).
  const std::shared_ptr<platform::SerialQueue> answerQueue = platform::SerialQueue::create("answers");
  std::mutex mutex_;
  std::deque<std::pair<std::optional<std::string>, std::optional<platform::Error>>> answers;
  std::vector<std::optional<double>> firstLaunchTimes;
  std::vector<ODCInteractionType> interactions;

 private:
  int64_t version_;
};

class FakeServiceClass : public ODCConversionServiceClass {
 public:
  explicit FakeServiceClass(std::shared_ptr<ODCConversionServiceProtocol> instance) : instance_(std::move(instance)) {}
  std::shared_ptr<ODCConversionServiceProtocol> sharedInstance() const override { return instance_; }

 private:
  std::shared_ptr<ODCConversionServiceProtocol> instance_;
};

// The PSM side, linked or not.
class PSMSide : public GWLOnDeviceMeasurementHooks {
 public:
  bool isGWLPrivateSetMembershipClientLinked() override { return linked; }
  bool linked = false;
};

// A configuration store whose configuration was stored just now: not expired.
class FreshConfigStore : public GWLRemoteConfigStore {
 public:
  explicit FreshConfigStore(std::shared_ptr<platform::Clock> clock) : clock_(std::move(clock)) {}
  bool updateRemoteConfig(const GWLPBMeasurementConfig&, platform::Error*) override { return true; }
  std::shared_ptr<GWLPBMeasurementConfig> queryMeasurementConfig(platform::Error*) override { return nullptr; }
  std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error*) override { return clock_->now(); }

 private:
  std::shared_ptr<platform::Clock> clock_;
};

class ConversionTestEngine : public ODMTestEngine {
 public:
  using ODMTestEngine::ODMTestEngine;
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const override {
    return fresh ? fresh : ODMTestEngine::remoteConfig();
  }
  std::shared_ptr<GWLRemoteConfig> fresh;
};

class MeasurementConversionServiceTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    monitor_->setDebugModeEnabled(true);  // level 7 lines are printed too
    clock_ = std::make_shared<platform::ManualClock>(kNow);
    engine_ = std::make_shared<ConversionTestEngine>(monitor_, clock_);
    engine_->useSettings({{kGWLSettingAdsOnDeviceConversionFeatureEnabled, "1"}});
    Make(std::nullopt);
  }
  void TearDown() override {
    engine_->flush();
    hookup_.reset();
    engine_.reset();
    GWLClassRegistry<ODCConversionServiceClass>::resetForTesting();
    monitor_->setDebugModeEnabled(false);
    LibraryMonitorTest::TearDown();
  }

  // A hook-up whose Info dictionary holds `infoValue` under the switch's key (none: absent).
  void Make(std::optional<platform::Object> infoValue) {
    platform::Dictionary info{{"CFBundleIdentifier", "com.halcyra.tabulo"}};
    if (infoValue) info[kGWLODM2EnabledInfoKey] = *infoValue;
    const std::string path = scratch_ / "Info.plist";
    ASSERT_TRUE(platform::PropertyList::writeFile(path, platform::Object(info), platform::PropertyListFormat::XML));
    platform::AppEnvironment::Configuration configuration;
    configuration.infoDictionaryPath = path;
    GWLMeasurementConversionService::Dependencies dependencies;
    dependencies.onDeviceMeasurement = psm_;
    dependencies.engine = [engine = engine_] { return engine; };
    dependencies.monitor = monitor_;
    dependencies.clock = clock_;
    dependencies.environment = platform::AppEnvironment::create(configuration);
    dependencies.mainQueue = main_;
    hookup_ = GWLMeasurementConversionService::create(dependencies);
  }
  // Registers a class whose instance is `service` (null: it does not conform).
  std::shared_ptr<FakeConversionService> Link(int64_t version, bool conforming = true) {
    auto service = std::make_shared<FakeConversionService>(version);
    GWLClassRegistry<ODCConversionServiceClass>::registerClass(
        "ODCConversionService", std::make_shared<FakeServiceClass>(conforming ? service : nullptr));
    service_ = service;
    return service;
  }
  // The conversion codes printed since the last call.
  std::vector<int64_t> codes() {
    std::vector<int64_t> found;
    for (const auto& report : reports()) {
      if (report.code >= 23260 && report.code <= 23299) found.push_back(report.code);
    }
    return found;
  }
  // One configuration fetch's update, and the handling of the answer it gets.
  void Update() {
    engine_->onWorkerQueue([&] { hookup_->updateAdsOnDeviceConversionMeasurement(); });
    if (service_) service_->answerQueue->flush();
    engine_->flush();
  }
  // A configuration stored just now.
  std::shared_ptr<GWLRemoteConfig> FreshConfig() {
    GWLRemoteConfig::Dependencies dependencies;
    dependencies.monitor = monitor_;
    dependencies.clock = clock_;
    freshStore_ = std::make_shared<FreshConfigStore>(clock_);
    return GWLRemoteConfig::initWithAppID("1:1:ios:1", freshStore_, engine_->persistedConfig(), dependencies);
  }
  size_t fxEvents() {
    size_t count = 0;
    for (const auto& event : engine_->events()) {
      if (event->name() != "_fx") continue;
      ++count;
      EXPECT_EQ(event->origin(), "auto");
      EXPECT_TRUE(event->isRealtime());
      auto source = event->parameters().find("_fxs");
      EXPECT_TRUE(source != event->parameters().end() && source->second.stringValue() &&
                  *source->second.stringValue() == "psm_vrts");
    }
    return count;
  }
  std::optional<std::string> property() {
    auto found = engine_->property(kGWLODM2ValueProperty);
    return found && found->value().stringValue() ? std::optional(*found->value().stringValue()) : std::nullopt;
  }

  foundation_test::DataDirectory data_;
  platform::testing::ScratchDirectory scratch_;
  std::shared_ptr<platform::ManualClock> clock_;
  std::shared_ptr<ConversionTestEngine> engine_;
  std::shared_ptr<PSMSide> psm_ = std::make_shared<PSMSide>();
  std::shared_ptr<platform::MainQueue> main_ = platform::MainQueue::create();
  std::shared_ptr<GWLMeasurementConversionService> hookup_;
  std::shared_ptr<FreshConfigStore> freshStore_;
  std::shared_ptr<FakeConversionService> service_;  // the last one linked
};

TEST_F(MeasurementConversionServiceTest, TheVersionTellsTheGenerationLinked) {
  struct Case {
    const char* name;
    std::optional<int64_t> version;  // none: no class
    bool conforming;
    bool alpha;
    bool current;
  };
  const Case cases[] = {
      {"no class", std::nullopt, true, false, false},
      {"version 10000", 10000, true, true, false},
      {"version 10001", 10001, true, false, true},
      {"this system's service", 30200, true, false, true},
      {"non-conforming instance reads as version 0", 30200, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GWLClassRegistry<ODCConversionServiceClass>::resetForTesting();
    if (c.version) Link(*c.version, c.conforming);
    EXPECT_EQ(hookup_->isAlphaAppAdsOnDeviceConversionLinked(), c.alpha);
    EXPECT_EQ(hookup_->isHalcyraAdsOnDeviceConversionLinked(), c.current);
    EXPECT_EQ(GWLMeasurementConversionService::isAdsOnDeviceConversionLinked(), c.version.has_value());
  }
}

TEST_F(MeasurementConversionServiceTest, TheStartCheckTellsWhatIsLinked) {
  struct Case {
    const char* name;
    std::optional<int64_t> version;
    bool psmLinked;
    bool freshConfig;
    std::vector<int64_t> printed;
    bool integrationError;
  };
  const Case cases[] = {
      {"current service alone", 30200, false, false, {23278}, false},
      {"current service with the deprecated client", 30200, true, false, {23278}, true},
      {"alpha service with the deprecated client", 10000, true, false, {23278}, false},
      {"no service", std::nullopt, false, false, {23279}, false},
      {"only the deprecated client", std::nullopt, true, false, {23279, 23292}, false},
      {"a configuration that is not expired", 30200, false, true, {23278, 23280}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GWLClassRegistry<ODCConversionServiceClass>::resetForTesting();
    if (c.version) Link(*c.version);
    psm_->linked = c.psmLinked;
    engine_->fresh = c.freshConfig ? FreshConfig() : nullptr;
    engine_->onWorkerQueue([&] { hookup_->checkODM2DependencyOnWorkerQueue(); });
    EXPECT_EQ(codes(), c.printed);
    // The integration error is reported on the main queue, and the process goes on.
    EXPECT_EQ(main_->drain(), c.integrationError ? 1u : 0u);
    const auto reports = this->reports();
    if (c.integrationError) {
      ASSERT_EQ(reports.size(), 1u);
      EXPECT_EQ(reports[0].level, 1);
      EXPECT_NE(reports[0].message.find("MeasurementDeprecatedOnDeviceConversionException"), std::string::npos)
          << reports[0].message;
    }
  }
}

TEST_F(MeasurementConversionServiceTest, TheInfoKeyIsReadAsABoolOnlyWhenANumber) {
  Link(30200);
  struct Case {
    const char* name;
    std::optional<platform::Object> value;
    bool enabled;
  };
  const Case cases[] = {
      {"absent", std::nullopt, true},
      {"text", platform::Object("NO"), true},
      {"0", platform::Object(int64_t{0}), false},
      {"1", platform::Object(int64_t{1}), true},
      {"false", platform::Object(false), false},
      {"true", platform::Object(true), true},
      {"0.0", platform::Object(0.0), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(c.value);
    EXPECT_EQ(hookup_->isODM2EnabledInPlist(), c.enabled);
    reports();
    EXPECT_EQ(hookup_->isAdsOnDeviceConversionEnabled(), c.enabled);
    EXPECT_EQ(codes(), (std::vector<int64_t>{c.enabled ? 23277 : 23295}));
  }
}

TEST_F(MeasurementConversionServiceTest, TheSwitchChecksLinkageRemoteConfigAndConsentInOrder) {
  EXPECT_FALSE(hookup_->isAdsOnDeviceConversionEnabled());  // no class: silently off
  EXPECT_EQ(codes(), std::vector<int64_t>{});
  Link(30200);
  engine_->setAdStorageDenied(true);
  engine_->useSettings({});
  EXPECT_FALSE(hookup_->isAdsOnDeviceConversionEnabled());
  EXPECT_EQ(codes(), std::vector<int64_t>{23275});
  engine_->useSettings({{kGWLSettingAdsOnDeviceConversionFeatureEnabled, "1"}});
  EXPECT_FALSE(hookup_->isAdsOnDeviceConversionEnabled());
  EXPECT_EQ(codes(), std::vector<int64_t>{23276});
  engine_->setAdStorageDenied(false);
  EXPECT_TRUE(hookup_->isAdsOnDeviceConversionEnabled());
  EXPECT_EQ(codes(), std::vector<int64_t>{23277});
}

TEST_F(MeasurementConversionServiceTest, AValueIsStoredOnceAndKeptUntilEmptyOrSwitchedOff) {
  auto service = Link(30200);
  engine_->persistedConfig()->setFirstOpenTimestampMilliseconds(int64_t{1'699'999'000'500});
  service->answers = {{"v1", std::nullopt}, {"v1", std::nullopt}};
  Update();
  EXPECT_EQ(engine_->rowValue(kGWLODM2ValueRowName), "v1");
  EXPECT_EQ(engine_->rowSetTime(kGWLODM2ValueRowName), kNow);
  EXPECT_EQ(property(), "v1");
  EXPECT_EQ(fxEvents(), 1u);
  EXPECT_EQ(codes(), std::vector<int64_t>{23277});
  clock_->advance(10);
  Update();  // the same value: nothing changes
  EXPECT_EQ(engine_->rowSetTime(kGWLODM2ValueRowName), kNow);
  EXPECT_EQ(fxEvents(), 1u);
  EXPECT_EQ(codes(), (std::vector<int64_t>{23277, 23282}));
  EXPECT_EQ(service->interactions, (std::vector<ODCInteractionType>{0, 0}));
  ASSERT_EQ(service->firstLaunchTimes.size(), 2u);
  EXPECT_EQ(service->firstLaunchTimes[0], 1'699'999'000.5);

  // An error keeps the stored value.
  service->answers = {{std::nullopt, platform::Error(kODCConversionServiceClassName, 3000, "no store")}};
  Update();
  EXPECT_EQ(codes(), (std::vector<int64_t>{23277, 23269}));
  EXPECT_EQ(engine_->rowValue(kGWLODM2ValueRowName), "v1");
  EXPECT_EQ(property(), "v1");

  // Switched off remotely: removed at the next fetch, without asking the service.
  engine_->useSettings({});
  Update();
  EXPECT_EQ(codes(), (std::vector<int64_t>{23275, 23281}));
  EXPECT_FALSE(engine_->row(kGWLODM2ValueRowName));
  EXPECT_EQ(property(), std::nullopt);
  EXPECT_EQ(service->interactions.size(), 3u);

  // An empty answer removes a value too.
  engine_->useSettings({{kGWLSettingAdsOnDeviceConversionFeatureEnabled, "1"}});
  service->answers = {{"v2", std::nullopt}, {"", std::nullopt}};
  Update();
  EXPECT_EQ(property(), "v2");
  Update();
  EXPECT_EQ(codes(), (std::vector<int64_t>{23277, 23277, 23281}));
  EXPECT_FALSE(engine_->row(kGWLODM2ValueRowName));
  EXPECT_EQ(property(), std::nullopt);
  EXPECT_EQ(fxEvents(), 2u);
}

TEST_F(MeasurementConversionServiceTest, ANonConformingServiceLogs23268AndRemovesTheValue) {
  Link(30200, false);
  engine_->setRow(kGWLODM2ValueRowName, "old", kNow - 100);
  engine_->setProperty(kGWLODM2ValueProperty, *GWLValue::initWithString("old"), kNow - 100);
  Update();
  EXPECT_EQ(codes(), (std::vector<int64_t>{23277, 23268, 23281}));
  EXPECT_FALSE(engine_->row(kGWLODM2ValueRowName));
  EXPECT_EQ(property(), std::nullopt);
  EXPECT_FALSE(hookup_->conversionService());
}

}  // namespace
