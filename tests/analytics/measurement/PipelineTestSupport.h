// The write pipeline's tests: a started engine over a real measurement
// database in the test's data directory, whose configuration the test sets
// (small limits), with doubles for what lies above the engine (conditional
// user properties, event editing, lifetime value, on-device values) and the
// library's error events recorded as they are logged.
#pragma once

#include <sqlite3.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MeasurementTestEngine.h"
#include "analytics/foundation/config/GWLConditionalUserPropertyControlling.h"
#include "analytics/foundation/config/GWLEventEditingRuntime.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLOnDeviceMeasurementHooks.h"
#include "analytics/foundation/config/GWLPurchaseHooks.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/foundation/values/GWLErrorEvents.h"
#include "analytics/wire/GWLPBEventConfig.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/NANO.h"

namespace measurement_test {

// An editing runtime whose answers the test sets.
class ScriptedEditing : public GWLEventEditingRuntime {
 public:
  void setModuleCreator(ModuleCreator, const std::string&) override {}
  bool loadProgram(const std::shared_ptr<GWLPBProgram>&, platform::Error*) override { return true; }
  bool handleEvent(const GWLEditableEvent& event, platform::Error* error) override {
    seen.push_back(event.name);
    if (fails) platform::setError(error, platform::Error("test", 1, "the rule failed"));
    return !fails;
  }
  bool hasEdits() const override { return output.has_value(); }
  bool hasCreatedEvents() const override { return !created.empty(); }
  GWLEditableEvent outputEvent() const override { return output.value_or(GWLEditableEvent{}); }
  std::vector<GWLEditableEvent> eventsToLog() const override { return created; }

  bool fails = false;
  std::optional<GWLEditableEvent> output;
  std::vector<GWLEditableEvent> created;
  std::vector<std::string> seen;
};

// Conditional user properties that answer a set list of triggered events, or nothing.
class ScriptedConditionalProperties : public GWLConditionalUserPropertyControlling {
 public:
  std::optional<Events> processEventOnWorkerQueue(const std::shared_ptr<GWLEvent>& event) override {
    seen.push_back(event->name());
    return answer;
  }
  std::optional<Events> answer = Events{};
  std::vector<std::string> seen;
};

class RecordingPurchaseHooks : public GWLPurchaseHooks {
 public:
  bool isPurchaseEvent(const GWLEvent& event) override { return event.name() == "purchase"; }
  bool recordLifetimeValueToDatabase(GWLDatabase&, const GWLEvent&) override {
    ++records;
    return records_succeed;
  }
  int records = 0;
  bool records_succeed = true;
};

class RecordingOnDeviceHooks : public GWLOnDeviceMeasurementHooks {
 public:
  void initiateODMSessionStartProtocolWithTimestamp(double timestamp) override { sessionStarts.push_back(timestamp); }
  std::vector<double> sessionStarts;
};

class PipelineMeasurement : public TestMeasurement {
 public:
  using TestMeasurement::TestMeasurement;

  // The doubles, unless a test asks for the library's own.
  std::shared_ptr<GWLConditionalUserPropertyControlling> conditionalUserPropertyController() const override {
    return useLibraryLayers ? TestMeasurement::conditionalUserPropertyController() : properties;
  }
  std::shared_ptr<GWLEventEditingRuntime> eventEditingRuntime() const override {
    return useLibraryLayers ? TestMeasurement::eventEditingRuntime() : editing;
  }
  bool hasTrackingAuthorizationClass() const override { return true; }
  void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool inBackground) override {
    steps->add("sessionStart " + std::to_string(static_cast<int64_t>(timestamp)) + (inBackground ? " bg" : ""));
  }
  void removeSessionUserPropertiesOnWorkerQueue() override { steps->add("removeSessionProperties"); }
  bool isSessionExpired() const override { return sessionExpired.load(); }
  // The stored default event parameters, under the given ones.
  std::optional<GWLRawParameters> parametersWithAddedDefaultEventParameters(
      const std::optional<GWLRawParameters>& parameters) override {
    GWLRawParameters merged = defaults;
    if (parameters) {
      for (const auto& [name, value] : *parameters) merged.insert_or_assign(name, value);
    }
    return merged;
  }
  void backfillSessionID(const GWLValue& sessionID, const GWLValue& sessionNumber) override {
    steps->add("backfill " + sessionID.description() + " " + sessionNumber.description());
  }

  std::shared_ptr<ScriptedConditionalProperties> properties = std::make_shared<ScriptedConditionalProperties>();
  std::shared_ptr<ScriptedEditing> editing;  // none: no editing program
  // The library's conditional user property controller and the configuration's editing, in place of the doubles.
  std::atomic<bool> useLibraryLayers{false};
  GWLRawParameters defaults;
  std::atomic<bool> sessionExpired{false};
};

struct LoggedErrorEvent {
  std::string origin;
  std::string name;
  GWLParameters parameters;
};

class PipelineTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    GWLInstalledHook<GWLPurchaseHooks>::install(purchases);
    GWLInstalledHook<GWLOnDeviceMeasurementHooks>::install(onDevice);
    start();
  }
  void TearDown() override {
    if (pipeline) drain();
    pipeline.reset();
    GWLSetInternalEventLogger(nullptr);
    GWLInstalledHook<GWLPurchaseHooks>::resetForTesting();
    GWLInstalledHook<GWLOnDeviceMeasurementHooks>::resetForTesting();
    EngineTest::TearDown();
  }

  // A started engine (collection on, database open) with these settings.
  void start(const std::map<std::string, std::string>& settings = {},
             const std::optional<std::vector<std::string>>& safelist = std::nullopt) {
    if (pipeline) drain();
    pipeline.reset();
    dropEngine();
    GWLAnalyticsEngineConfiguration configuration;
    configuration.appID = "1:123:ios:abc";
    configuration.isAnalyticsCollectionEnabled = true;
    configuration.safelistedEvents = safelist;
    pipeline = GWLMeasurement::create<PipelineMeasurement>(configuration, dependencies());
    engine = pipeline;
    drain();
    ASSERT_TRUE(pipeline->database());
    settings_in_force = settings;
    pipeline->engineRemoteConfig()->replaceCachedValues(settings);
    // The library's error events, as they are logged (after the start's own).
    GWLSetInternalEventLogger([this](const std::string& origin, const std::string& name, const GWLParameters& p) {
      std::lock_guard lock(errorEventsMutex_);
      errorEvents_.push_back({origin, name, p});
    });
    pipeline->steps->take();
    reports();
  }

  // Blocks these event names through the configuration, keeping the settings.
  // An engine made as the entry class makes it: through the registry, so the
  // layers the library's load call installed find it at their first use, the
  // start block's included; the layers' own collaborators in place of this
  // fixture's stand-ins.
  void startShared() {
    if (pipeline) drain();
    pipeline.reset();
    dropEngine();
    GWLMeasurementRegistry::resetForTesting(monitor_);
    GWLAnalyticsEngineConfiguration configuration;
    configuration.appID = "1:123:ios:abc";
    configuration.isAnalyticsCollectionEnabled = true;
    (void)GWLMeasurementRegistry::initializeSharedInstance([&] {
      pipeline = GWLMeasurement::create<PipelineMeasurement>(configuration, dependencies());
      return pipeline;
    });
    pipeline->useLibraryLayers = true;
    engine = pipeline;
    drain();
    ASSERT_TRUE(pipeline->database());
  }

  void blocklist(const std::vector<std::string>& names) {
    auto config = GWLPBMeasurementConfig::initWithMessageInfo();
    NANOSetString(config, GWLPBMeasurementConfig::Field::app_id, std::string("1:123:ios:abc"));
    std::vector<NANOValue> entries;
    for (const auto& name : names) {
      auto entry = GWLPBEventConfig::initWithMessageInfo();
      NANOSetString(entry, GWLPBEventConfig::Field::event_name, name);
      NANOSetBool(entry, GWLPBEventConfig::Field::blocklisted, true);
      entries.emplace_back(std::shared_ptr<NANOMessageBase>(entry));
    }
    NANOSetArray(config, GWLPBMeasurementConfig::Field::event_config, entries);
    onWorker([&] { pipeline->engineRemoteConfig()->parseRemoteConfigFromMeasurementConfig(config); });
    pipeline->engineRemoteConfig()->replaceCachedValues(settings_in_force);
  }

  std::shared_ptr<GWLEvent> event(const std::string& name, const platform::Dictionary& parameters = {},
                                   const std::string& origin = "app", double timestamp = 0) {
    const bool isPublic = !name.empty() && name[0] != '_';
    auto made = GWLEvent::initWithOrigin(origin, isPublic, name, timestamp ? timestamp : clock_->now(), 0,
                                         parameters, GWLValueLimits{});
    EXPECT_TRUE(made) << name;
    return made;
  }

  // Hands events to an entry on the worker queue and waits.
  void handle(const std::shared_ptr<GWLEvent>& event) {
    onWorker([&] { pipeline->handleEventOnWorkerQueue(event); });
    drain();
  }
  void handleInternal(const std::shared_ptr<GWLEvent>& event) {
    onWorker([&] { pipeline->handleInternalEventOnWorkerQueue(event); });
    drain();
  }
  void writeFiltered(const std::shared_ptr<GWLEvent>& event) {
    onWorker([&] { pipeline->writeFilteredEventOnWorkerQueue(event); });
    drain();
  }

  // The stored raw events, oldest first.
  std::vector<std::shared_ptr<GWLEvent>> stored() {
    std::vector<std::shared_ptr<GWLEvent>> events;
    onWorker([&] {
      platform::Error error;
      auto rows = pipeline->database()->allRawEventsWithError(&error);
      ASSERT_TRUE(rows) << error.toString();
      for (const auto& row : *rows) events.push_back(row->rawEvent());
    });
    return events;
  }
  std::vector<std::string> storedNames() {
    std::vector<std::string> names;
    for (const auto& stored : stored()) names.push_back(stored->name());
    return names;
  }

  // One column of a query's rows, as text, on the engine's own connection.
  std::vector<std::string> column(const std::string& sql) {
    std::vector<std::string> values;
    onWorker([&] {
      sqlite3* handle = pipeline->database()->sqliteStore()->sqliteHandle();
      sqlite3_stmt* statement = nullptr;
      ASSERT_EQ(sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
      while (sqlite3_step(statement) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(statement, 0);
        values.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
      }
      sqlite3_finalize(statement);
    });
    return values;
  }
  int64_t count(const std::string& table) { return std::stoll(column("SELECT count(*) FROM " + table).at(0)); }

  GWLDailyCounts dailyCounts() {
    std::optional<GWLDailyCounts> counts;
    onWorker([&] { counts = pipeline->database()->dailyCounts(); });
    EXPECT_TRUE(counts);
    return counts.value_or(GWLDailyCounts(0, 0, 0, 0, 0, 0, 0));
  }
  void setDailyCounts(int32_t all, int32_t publicEvents, int32_t errors, int32_t realtime, int32_t dcuRealtime = 0) {
    onWorker([&] {
      GWLDailyCounts counts(pipeline->database()->currentDayIndex(), 0, all, publicEvents, errors, realtime,
                            dcuRealtime);
      ASSERT_TRUE(pipeline->database()->updateDailyCounts(counts));
    });
  }

  // The error events logged since the last call, as (code, "_ev").
  std::vector<std::pair<int64_t, std::string>> takeErrorEvents() {
    std::lock_guard lock(errorEventsMutex_);
    std::vector<std::pair<int64_t, std::string>> result;
    for (const auto& logged : errorEvents_) {
      auto code = logged.parameters.find("_err");
      auto value = logged.parameters.find("_ev");
      result.emplace_back(code == logged.parameters.end() ? -1 : code->second.int64Value(),
                          value == logged.parameters.end() || !value->second.stringValue()
                              ? std::string()
                              : *value->second.stringValue());
    }
    errorEvents_.clear();
    return result;
  }

  // How often each code was printed since the last call.
  std::map<int64_t, int> codeCounts() {
    std::map<int64_t, int> counts;
    for (int64_t code : codes()) ++counts[code];
    return counts;
  }

  std::shared_ptr<PipelineMeasurement> pipeline;
  std::shared_ptr<RecordingPurchaseHooks> purchases = std::make_shared<RecordingPurchaseHooks>();
  std::shared_ptr<RecordingOnDeviceHooks> onDevice = std::make_shared<RecordingOnDeviceHooks>();
  std::map<std::string, std::string> settings_in_force;

 private:
  std::mutex errorEventsMutex_;
  std::vector<LoggedErrorEvent> errorEvents_;
};

}  // namespace measurement_test
