// Bundling and sampling tests: a started engine over a real database, with
// scripted sampling draws, an audience evaluator that records what it is
// asked, and helpers that store metadata and raw events the way the write
// pipeline leaves them and read the upload queue back.
#pragma once

#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MeasurementTestEngine.h"
#include "analytics/foundation/config/GWLAudienceEvaluating.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/GWLMeasurementBundling.h"
#include "analytics/wire/GWLPBAudienceLeafFilterResult.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventConfig.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "platform/util/Random.h"

namespace measurement_test {

// Draws in the order scripted. With a power-of-two rate r, a draw d gives
// d % r: 0 keeps the event, 1 drops it. An unscripted draw fails the test.
class ScriptedRandom : public platform::Random {
 public:
  void script(std::vector<uint64_t> draws) {
    std::lock_guard lock(mutex_);
    draws_.assign(draws.begin(), draws.end());
  }
  uint64_t nextUInt64() override {
    std::lock_guard lock(mutex_);
    ++taken_;
    if (draws_.empty()) {
      ADD_FAILURE() << "a sampling draw that was not scripted";
      return 0;
    }
    const uint64_t draw = draws_.front();
    draws_.pop_front();
    return draw;
  }
  int taken() {
    std::lock_guard lock(mutex_);
    return taken_;
  }

 private:
  std::mutex mutex_;
  std::deque<uint64_t> draws_;
  int taken_ = 0;
};

// Counts what bundling asks of the audiences; each bundle gets one result.
class RecordingAudience : public GWLAudienceEvaluating {
 public:
  bool evaluateFiltersForEvent(const std::shared_ptr<GWLEvent>& event, const std::shared_ptr<GWLEventAggregates>&,
                               const std::shared_ptr<GWLAudienceTimestampsCache>&) override {
    std::lock_guard lock(mutex);
    eventNames.push_back(event->name());
    return true;
  }
  bool evaluateFiltersForNanoUserProperty(const std::shared_ptr<GWLPBUserAttribute>&,
                                          const std::shared_ptr<GWLAudienceTimestampsCache>&,
                                          std::optional<double>) override {
    std::lock_guard lock(mutex);
    ++propertyEvaluations;
    return true;
  }
  std::optional<LeafResults> resultsForBundling() override {
    auto result = GWLPBAudienceLeafFilterResult::initWithMessageInfo();
    result->setAudienceId(7);
    return LeafResults{result};
  }
  bool clearEvaluationResultsForSessionScopedFilters() override {
    std::lock_guard lock(mutex);
    ++sessionClears;
    return true;
  }

  std::mutex mutex;
  std::vector<std::string> eventNames;
  int propertyEvaluations = 0;
  int sessionClears = 0;
};

class RecordingAudienceMaker : public GWLAudienceEvaluatorMaker {
 public:
  std::shared_ptr<GWLAudienceEvaluating> audienceWithDatabase(const std::shared_ptr<GWLDatabase>&) override {
    return audience;
  }
  std::shared_ptr<RecordingAudience> audience = std::make_shared<RecordingAudience>();
};

// Experiments in force: the IDs the bundles carry.
class StaticExperimentsClient : public GWLExperimentsClient {
 public:
  bool activateLatestSnapshot(platform::Error*) override { return false; }
  std::optional<platform::Object> experimentFlag(const std::string&) const override { return std::nullopt; }
};
class StaticExperimentsManager : public GWLExperimentsManaging {
 public:
  std::shared_ptr<GWLExperimentsClient> registerSDKProperty(const std::string&, int64_t,
                                                            std::weak_ptr<GWLExperimentsObserver>) override {
    return std::make_shared<StaticExperimentsClient>();
  }
  std::vector<int32_t> experimentIDs() override { return {5, 11}; }
  void reset() override {}
};

// How the configuration in force treats one event name.
struct EventSetting {
  std::string name;
  std::optional<int32_t> samplingRate;
  bool blocked = false;
  bool conversion = false;
};

class BundlingTest : public EngineTest {
 public:
  static constexpr const char* kAppID = "1:123:ios:abc";
  // 2026-01-05 10:59:00 UTC.
  static constexpr double kT0 = 1767610740;

 protected:
  void SetUp() override {
    EngineTest::SetUp();
    clock_->advance(kT0 + 600 - clock_->now());
    GWLInstalledHook<GWLAudienceEvaluatorMaker>::install(audienceMaker_);
    experiments = std::make_shared<StaticExperimentsManager>();
    makeEngine();
    drain();
    ASSERT_NE(engine->database(), nullptr);
    engine->setRandomSource(random_);
    reports();
  }

  void TearDown() override {
    EngineTest::TearDown();
    GWLInstalledHook<GWLAudienceEvaluatorMaker>::resetForTesting();
  }

 public:
  std::shared_ptr<GWLDatabase> database() { return engine->database(); }
  RecordingAudience& audience() { return *audienceMaker_->audience; }

  // Runs `block` on the worker queue (the database's) and answers its result.
  template <class F>
  auto onWorkerQueue(F block) -> decltype(block()) {
    std::optional<decltype(block())> result;
    onWorker([&] { result.emplace(block()); });
    return std::move(*result);
  }

  // Settings and event configurations in force (configuration version 3).
  void configure(const std::map<std::string, std::string>& settings, const std::vector<EventSetting>& events = {}) {
    auto config = GWLPBMeasurementConfig::initWithMessageInfo();
    config->setAppId(kAppID);
    config->setVersion(3);
    std::vector<std::shared_ptr<GWLPBEventConfig>> entries;
    for (const EventSetting& setting : events) {
      auto entry = GWLPBEventConfig::initWithMessageInfo();
      entry->setEventName(setting.name);
      if (setting.samplingRate) entry->setSamplingRate(*setting.samplingRate);
      if (setting.blocked) entry->setBlocklisted(true);
      if (setting.conversion) entry->setCustomConversion(true);
      entries.push_back(entry);
    }
    config->setEventConfig(entries);
    onWorker([&] {
      EXPECT_TRUE(engine->engineRemoteConfig()->updateMeasurementConfig(config));
      engine->engineRemoteConfig()->replaceCachedValues(settings);
    });
  }

  // Stores a metadata bundle (app ID and platform, then `change`); answers its fingerprint.
  int64_t storeMetadata(const std::function<void(GWLPBMeasurementBundle&)>& change = {}) {
    auto metadata = GWLPBMeasurementBundle::initWithMessageInfo();
    metadata->setProtocolVersion(1);
    metadata->setPlatform("ios");
    metadata->setAppId(kAppID);
    if (change) change(*metadata);
    EXPECT_TRUE(onWorkerQueue([&] { return database()->insertIfNotExistsRawEventMetadata(*metadata); }));
    auto bytes = metadata->protoBuffer();
    return static_cast<int64_t>(gwl_64LSBMD5(*bytes));
  }

  static std::shared_ptr<GWLEvent> event(const std::string& name, double timestamp,
                                         const platform::Dictionary& parameters = {},
                                         const std::string& origin = "app") {
    auto made = GWLEvent::initWithOrigin(origin, false, name, timestamp, 0, parameters, GWLValueLimits{});
    EXPECT_NE(made, nullptr) << name;
    return made;
  }

  void store(const std::shared_ptr<GWLEvent>& event, int64_t fingerprint) {
    EXPECT_TRUE(onWorkerQueue([&] { return database()->insertRawEvent(event, fingerprint, event->isRealtime()); }));
  }
  void store(const std::string& name, double timestamp, int64_t fingerprint,
             const platform::Dictionary& parameters = {}) {
    store(event(name, timestamp, parameters), fingerprint);
  }

  bool bundle() {
    return onWorkerQueue([&] { return engine->bundleRawEvents(); });
  }
  // Bundles until nothing is left; answers how many passes consumed raw events.
  int bundleAll() {
    int passes = 0;
    while (bundle()) ++passes;
    return passes;
  }

  std::vector<std::shared_ptr<GWLPBMeasurementBundle>> queued() {
    return onWorkerQueue([&] {
      std::vector<std::shared_ptr<GWLPBMeasurementBundle>> bundles;
      auto found = database()->queryBundlesWithCountLimit(1000, std::numeric_limits<int32_t>::max());
      EXPECT_TRUE(found.has_value());
      for (const auto& queuedBundle : found.value_or(std::vector<GWLQueuedBundle>{})) {
        bundles.push_back(queuedBundle.bundle);
      }
      return bundles;
    });
  }

  int64_t rawEventCount() {
    return onWorkerQueue([&] { return database()->allRawEventsWithError()->size(); });
  }

  std::shared_ptr<GWLEventAggregates> aggregates(const std::string& name) {
    return onWorkerQueue([&] { return database()->eventAggregatesWithName(name); });
  }

  static std::vector<std::string> names(const GWLPBMeasurementBundle& bundle) {
    std::vector<std::string> result;
    for (const auto& event : bundle.events()) result.push_back(event->name().value_or(""));
    return result;
  }

  // The event names of each bundle.
  static std::vector<std::vector<std::string>> groups(
      const std::vector<std::shared_ptr<GWLPBMeasurementBundle>>& bundles) {
    std::vector<std::vector<std::string>> result;
    for (const auto& bundle : bundles) result.push_back(names(*bundle));
    return result;
  }
  static std::shared_ptr<GWLPBEventParam> param(const GWLPBEvent& event, const std::string& name) {
    for (const auto& param : event.params()) {
      if (param->name() == name) return param;
    }
    return nullptr;
  }
  static std::optional<int64_t> intParam(const GWLPBEvent& event, const std::string& name) {
    auto found = param(event, name);
    if (!found) return std::nullopt;
    return found->intValue();
  }
  static int paramCount(const GWLPBEvent& event, const std::string& name) {
    int count = 0;
    for (const auto& param : event.params()) count += param->name() == name ? 1 : 0;
    return count;
  }
  static std::shared_ptr<GWLPBUserAttribute> property(const GWLPBMeasurementBundle& bundle, const std::string& name) {
    for (const auto& attribute : bundle.userAttributes()) {
      if (attribute->name() == name) return attribute;
    }
    return nullptr;
  }

  // The codes of the printed reports since the last call.
  std::vector<int64_t> printedCodes() { return codes(); }
  bool printed(int64_t code) {
    auto all = codes();
    return std::find(all.begin(), all.end(), code) != all.end();
  }

  std::shared_ptr<RecordingAudienceMaker> audienceMaker_ = std::make_shared<RecordingAudienceMaker>();
  std::shared_ptr<ScriptedRandom> random_ = std::make_shared<ScriptedRandom>();
};

}  // namespace measurement_test
