// The event-editing runtime as the configuration and the event write meet
// it: programs of a downloaded configuration loaded through the real
// factory, rules run over library events through the foundation's seam, and
// the events the write then stores.
#include "analytics/audiences/GWLEventEditingInterpreter.h"

#include <gtest/gtest.h>

#include "../foundation/values/ValuesTestSupport.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/config/GWLRemoteConfigStore.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBSetting.h"
#include "analytics/wire/NANO.h"
#include "interpreter/EditingPrograms.h"

using namespace script;
using namespace editing_test;
using foundation_test::Report;

namespace {

constexpr const char* kAppID = "1:1234:ios:abcd";

// Keeps the stored configuration as its encoding, so a restart decodes it.
class EncodedConfigStore : public GWLRemoteConfigStore {
 public:
  bool updateRemoteConfig(const GWLPBMeasurementConfig& config, platform::Error*) override {
    bytes_ = config.protoBuffer().value_or(std::vector<uint8_t>());
    return true;
  }
  std::shared_ptr<GWLPBMeasurementConfig> queryMeasurementConfig(platform::Error*) override {
    return bytes_.empty() ? nullptr : GWLPBMeasurementConfig::initWithBuffer(bytes_);
  }
  std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error*) override { return 0.0; }

 private:
  std::vector<uint8_t> bytes_;
};

// A configuration of the app with one setting and these programs.
std::shared_ptr<GWLPBMeasurementConfig> Configuration(const std::vector<GWLPProgram>& programs) {
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  NANOSetString(config, GWLPBMeasurementConfig::Field::app_id, kAppID);
  auto setting = GWLPBSetting::initWithMessageInfo();
  NANOSetString(setting, GWLPBSetting::Field::setting_name, "measurement.upload.interval");
  NANOSetString(setting, GWLPBSetting::Field::setting_value, "60000");
  NANOSetArray(config, GWLPBMeasurementConfig::Field::settings,
               std::vector<NANOValue>{std::shared_ptr<NANOMessageBase>(setting)});
  std::vector<NANOValue> messages;
  for (const auto& program : programs) messages.emplace_back(std::shared_ptr<NANOMessageBase>(MessageOf(program)));
  NANOSetArray(config, GWLPBMeasurementConfig::Field::dynamic_event_editing, messages);
  return config;
}

// log(text) through the scripts' logging module: a notice the monitor prints.
GWLPValueRef Log(GWLPValueRef text) { return Call(Require("internal.logger"), "log", {C(0, {S(""), text})}); }

const GWLPProgram kRenamingProgram =
    Program({Entry("edit", std::nullopt, {E("setEventName", {S("screen_view")}), Ret(N(0))})});
const GWLPProgram kFailingProgram = ProgramOf({Ret(N(1))});

class EventEditingRuntimeTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    monitor_->setVerboseLoggingEnabled(true);  // shows the level-7 reports
  }

  std::shared_ptr<GWLRemoteConfig> start() {
    GWLRemoteConfig::Dependencies dependencies;
    dependencies.monitor = monitor_;
    dependencies.eventEditingFactory = GWLEventEditingInterpreter::factory(monitor_);
    dependencies.appVersion = [] { return std::optional<std::string>("3.1"); };
    return GWLRemoteConfig::initWithAppID(kAppID, store_, nullptr, dependencies);
  }

  // The reports of event-editing loads (29026, 29027) and of script log lines (24005).
  std::vector<Report> editingReports() {
    std::vector<Report> kept;
    for (const auto& report : reports()) {
      if (report.code == 29026 || report.code == 29027 || report.code == 24005) kept.push_back(report);
    }
    return kept;
  }

  std::shared_ptr<GWLEvent> event(const std::string& name, const platform::Dictionary& parameters = {}) {
    return GWLEvent::initWithOrigin("app", true, name, 1'700'000'000.5, 0, parameters, foundation_test::kDefaultLimits);
  }

  std::shared_ptr<EncodedConfigStore> store_ = std::make_shared<EncodedConfigStore>();
};

TEST_F(EventEditingRuntimeTest, TheConfigurationLoadsItsFirstProgramThroughTheFactory) {
  auto config = start();
  ASSERT_TRUE(config);
  ASSERT_TRUE(config->updateMeasurementConfig(Configuration({kRenamingProgram, kFailingProgram})));
  EXPECT_EQ(editingReports(),
            (std::vector<Report>{{7, 29027, "Loading Event Modification and Creation programs: 2"}}));
  auto editing = config->eventEditing();
  ASSERT_TRUE(editing);
  ASSERT_TRUE(editing->handleEvent(event("open")->editEvent()));
  EXPECT_TRUE(editing->hasEdits());
  EXPECT_EQ(editing->outputEvent().name, "screen_view");

  // A failing program: no engine, and the report says why.
  ASSERT_TRUE(config->updateMeasurementConfig(Configuration({kFailingProgram, kRenamingProgram})));
  EXPECT_FALSE(config->eventEditing());
  auto failed = editingReports();
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].level, 1);
  EXPECT_EQ(failed[0].code, 29026);
  EXPECT_EQ(failed[0].message.rfind("Failed to initiate event editing instance: ", 0), 0u) << failed[0].message;

  // The engine a caller holds outlives a configuration that withdraws the program.
  ASSERT_TRUE(config->updateMeasurementConfig(Configuration({kRenamingProgram})));
  auto held = config->eventEditing();
  ASSERT_TRUE(held);
  ASSERT_TRUE(config->updateMeasurementConfig(Configuration({})));
  EXPECT_FALSE(config->eventEditing());
  ASSERT_TRUE(held->handleEvent(event("open")->editEvent()));
  EXPECT_EQ(held->outputEvent().name, "screen_view");

  // After a restart the stored configuration runs no program either.
  EXPECT_FALSE(start()->eventEditing());
}

TEST_F(EventEditingRuntimeTest, AStoredProgramLoadsAgainAfterARestart) {
  ASSERT_TRUE(start()->updateMeasurementConfig(Configuration({kRenamingProgram})));
  auto restarted = start();
  ASSERT_TRUE(restarted->eventEditing());
  ASSERT_TRUE(restarted->eventEditing()->handleEvent(event("open")->editEvent()));
  EXPECT_EQ(restarted->eventEditing()->outputEvent().name, "screen_view");
}

TEST_F(EventEditingRuntimeTest, ScriptsReadTheSettingsAndTheAppFacts) {
  auto config = start();
  const GWLPValueRef settings = Require("internal.remoteConfig");
  auto getValue = [&](const std::string& key) { return Call(settings, "getValue", {S(key), N(7)}); };
  const GWLPProgram program = Program(
      {Entry("edit", std::nullopt,
             {Log(getValue("measurement.upload.interval")), Log(getValue("missing")),
              Let("facts", Require("internal.appMetadata")), Let("first", Invoke("facts")),
              Let("second", Invoke("facts")), Log(Get(Var("first"), S("platform"))),
              Log(Get(Var("first"), S("app_version"))), Log(Get(Var("first"), S("qrx_version"))),
              Log(C(20, {Var("first"), Var("second")})), Log(Get(Var("second"), S("app_version"))),
              Call(settings, "getValue", {S("measurement.upload.interval")})})});
  ASSERT_TRUE(config->updateMeasurementConfig(Configuration({program})));
  reports();
  auto editing = config->eventEditing();
  ASSERT_TRUE(editing);
  platform::Error error;
  EXPECT_FALSE(editing->handleEvent(event("open")->editEvent(), &error));
  EXPECT_EQ(error.code, 9) << "getValue with one argument";
  EXPECT_EQ(config->uploadingInterval(), 60);  // the setting is now a number in the cache
  ASSERT_FALSE(editing->handleEvent(event("open")->editEvent(), &error));
  std::vector<std::string> lines;
  for (const auto& report : editingReports()) lines.push_back(report.message);
  const std::vector<std::string> run = {"60000", "7", "ios", "3.1", "120500", "false", "3.1"};
  std::vector<std::string> expected = run;
  expected.insert(expected.end(), run.begin(), run.end());
  expected[7] = "60";  // the number's text
  EXPECT_EQ(lines, expected);
}

TEST_F(EventEditingRuntimeTest, TheEventWriteStoresTheEditedEventAndTheCreatedOnes) {
  auto config = start();
  const GWLPValueRef created = Invoke("log", {S("level_up"), N(1'700'000'001.9),
                                              Obj({S("_o"), S("auto"), S("level"), N(3), S("score"), N(2.5)})});
  ASSERT_TRUE(config->updateMeasurementConfig(Configuration(
      {Program({Entry("edit", std::nullopt, {E("setEventName", {S("screen_view")}), Ret(N(0))}),
                Entry("create", std::nullopt,
                      {Let("log", Require("internal.eventLogger")), created,
                       Invoke("log", {S(""), N(1), Obj({})}),  // refused by the event initialiser
                       Invoke("log", {S("plain"), N(2), Obj({})})})})})));
  auto editing = config->eventEditing();
  ASSERT_TRUE(editing);
  auto logged = event("open", {{"score", int64_t{9}}});
  GWLEventEditingOutcome outcome = GWLEditEvent(*editing, logged, foundation_test::kDefaultLimits);
  ASSERT_TRUE(outcome.succeeded) << outcome.error.toString();
  ASSERT_TRUE(outcome.event);
  EXPECT_EQ(outcome.event->name(), "_vs");  // a public name goes back to its internal name
  EXPECT_EQ(outcome.event->origin(), "app");
  EXPECT_EQ(outcome.event->timestamp(), logged->timestamp());
  ASSERT_EQ(outcome.createdEvents.size(), 2u);
  const GWLEvent& levelUp = *outcome.createdEvents[0];
  EXPECT_EQ(levelUp.name(), "level_up");
  EXPECT_EQ(levelUp.origin(), "auto");
  EXPECT_EQ(levelUp.timestamp(), 1'700'000'001.0);
  // "score" is an integer in the logged event: the created event's 2.5 becomes 2.
  EXPECT_EQ(levelUp.parameters().at("score"), GWLValue::initWithInt64(2));
  EXPECT_EQ(outcome.createdEvents[1]->name(), "plain");
  EXPECT_EQ(outcome.createdEvents[1]->origin(), "app");
}

TEST_F(EventEditingRuntimeTest, AnEditedEventTheInitialiserRefusesIsAnEditingFailure) {
  const std::vector<std::pair<const char*, GWLPValueRef>> refusals = {
      {"empty name", E("setEventName", {S("")})},
      {"name with a blank", E("setEventName", {S("no good")})},
      {"origin that is no origin", E("setParamValue", {S("_o"), S("not an origin!")})},
  };
  for (const auto& [what, change] : refusals) {
    SCOPED_TRACE(what);
    GWLEventEditingInterpreter editing(monitor_);
    ASSERT_TRUE(editing.loadProgram(MessageOf(Program(
        {Entry("edit", std::nullopt, {change, Ret(N(0))}),
         Entry("create", std::nullopt,
               {Let("log", Require("internal.eventLogger")), Invoke("log", {S("made"), N(1), Obj({})})})}))));
    auto logged = event("open");
    GWLEventEditingOutcome outcome = GWLEditEvent(editing, logged, foundation_test::kDefaultLimits);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_FALSE(outcome.error.domain.empty());
    EXPECT_EQ(outcome.event, logged) << "the unedited event is stored";
    EXPECT_TRUE(outcome.createdEvents.empty()) << "and nothing created";
  }
}

TEST_F(EventEditingRuntimeTest, AFailingRuleLeavesTheEventUnedited) {
  GWLEventEditingInterpreter editing(monitor_);
  ASSERT_TRUE(editing.loadProgram(MessageOf(Program({Entry("edit", 1, {E("setEventName", {S("renamed")}), Ret(N(0))}),
                                                     Entry("edit", 2, {E("setEventName")})}))));
  auto logged = event("open");
  GWLEventEditingOutcome outcome = GWLEditEvent(editing, logged, foundation_test::kDefaultLimits);
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.error.code, 9);
  EXPECT_EQ(outcome.event, logged);

  // Rules that change nothing store the logged event itself.
  GWLEventEditingInterpreter quiet(monitor_);
  ASSERT_TRUE(quiet.loadProgram(MessageOf(Program({Entry("edit", 1, {Ret(N(0))})}))));
  GWLEventEditingOutcome unchanged = GWLEditEvent(quiet, logged, foundation_test::kDefaultLimits);
  EXPECT_TRUE(unchanged.succeeded);
  EXPECT_EQ(unchanged.event, logged);
  EXPECT_FALSE(quiet.hasEdits());
}

}  // namespace
