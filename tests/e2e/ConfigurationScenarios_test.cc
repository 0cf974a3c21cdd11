// The served configuration acts on what the app logs: its event-editing
// program edits and creates events, its blocklist keeps an event off the
// wire, its audiences put their results into the uploads; and a conditional
// user property a sibling library set is applied when its trigger is logged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "analytics/audiences/AudienceFiltersTestSupport.h"
#include "analytics/audiences/interpreter/EditingPrograms.h"
#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/measurement/CVNAnalyticsConnector.h"
#include "analytics/wire/GWLPBAudienceLeafFilterResult.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventConfig.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBMeasurementConfig.h"
#include "analytics/wire/GWLPBResultData.h"
#include "e2e/E2EHarness.h"
#include "platform/corvane/CVNApp.h"

namespace e2e {
namespace {

using namespace script;
using namespace editing_test;
using platform::Object;

std::shared_ptr<GWLPBMeasurementConfig> servedConfiguration(double createdAt) {
  auto config = GWLPBMeasurementConfig::initWithMessageInfo();
  // Every event gets "edited" = 1; "open" also creates "made".
  const GWLPProgram program = Program({
      Entry("edit", 1, {E("setParamValue", {S("edited"), N(1)}), Ret(N(0))}),
      Entry("create", std::nullopt,
            {C(22, {C(20, {E("getEventName"), S("open")}),
                    List({Let("log", Require("internal.eventLogger")),
                          Invoke("log", {S("made"), N(createdAt), Obj({S("kind"), S("created")})})})})}),
  });
  NANOSetArray(config, GWLPBMeasurementConfig::Field::dynamic_event_editing,
               std::vector<NANOValue>{std::shared_ptr<NANOMessageBase>(MessageOf(program))});
  auto blocked = GWLPBEventConfig::initWithMessageInfo();
  blocked->setEventName("spam");
  blocked->setBlocklisted(true);
  config->setEventConfig(std::vector{blocked});
  using audience_test::audience;
  using audience_test::eventFilter;
  config->setAudiences(std::vector{audience(3, {eventFilter(0, "level_up"), eventFilter(1, "never_logged")}),
                                   audience(4, {eventFilter(0, "never_logged")})});
  return config;
}

class ConfigurationScenarios : public E2ETest {};

TEST_F(ConfigurationScenarios, TheServedConfigurationAndAConditionalPropertyShapeTheUploads) {
  Scenario scenario;
  // The created event's time, set in the program before the clock exists: a
  // whole second well before any event of the scenario.
  const double createdAt = std::floor(platform::Clock::system()->now()) - 30;
  scenario.config = servedConfiguration(createdAt);
  ASSERT_NO_FATAL_FAILURE(start(scenario));

  // A sibling library's conditional property, through the interop component.
  auto connector = std::static_pointer_cast<CVNAnalyticsConnector>(
      platform::CVNApp::defaultApp()->instanceForProtocol(kCVNAnalyticsInteropProtocol));
  ASSERT_TRUE(connector);
  connector->setConditionalUserProperty(platform::Dictionary{
      {"name", std::string("tier")},
      {"origin", std::string("cvm")},
      {"value", std::string("gold")},
      {"triggerEventName", std::string("level_up")},
      {"triggerTimeout", int64_t{600}},
      {"timeToLive", int64_t{3600}},
      {"triggeredEvent", platform::Dictionary{{"origin", std::string("cvm")}, {"name", std::string("tier_set")}}},
  });
  CVNAnalytics::logEventWithName("open", GWLRawParameters{{"screen", Object(std::string("grid"))}});
  CVNAnalytics::logEventWithName("spam", std::nullopt);
  auto recorded = waitForEvent("open");
  EXPECT_FALSE(eventNamed(recorded, "tier_set")) << "the property waits for its trigger";
  for (const auto& bundle : recorded.back().bundles()) EXPECT_EQ(userProperty(bundle, "tier"), "none");

  CVNAnalytics::logEventWithName("level_up", std::nullopt);
  recorded = waitForEvent("tier_set");
  const std::string uploaded = describeEvents(recorded);

  const auto open = eventNamed(recorded, "open");
  ASSERT_TRUE(open) << uploaded;
  EXPECT_EQ(parameter(open->event, "edited"), "double 1");
  EXPECT_EQ(parameter(open->event, "screen"), "text grid");
  const auto made = eventNamed(recorded, "made");
  ASSERT_TRUE(made) << "the program created it: " << uploaded;
  EXPECT_EQ(parameter(made->event, "kind"), "text created");
  EXPECT_EQ(made->event->timestamp(), static_cast<int64_t>(createdAt * 1000));
  const auto names = eventNames(recorded);
  EXPECT_EQ(std::count(names.begin(), names.end(), "made"), 1) << "created for \"open\" only";

  EXPECT_FALSE(eventNamed(recorded, "spam")) << uploaded;
  const auto rejected = eventNamed(recorded, "_err");
  ASSERT_TRUE(rejected) << "a blocked event is reported: " << uploaded;
  EXPECT_EQ(parameter(rejected->event, "_err"), "int 11");
  EXPECT_EQ(parameter(rejected->event, "_ev"), "text spam");

  const auto levelUp = eventNamed(recorded, "level_up");
  const auto triggered = eventNamed(recorded, "tier_set");
  ASSERT_TRUE(levelUp && triggered) << uploaded;
  EXPECT_EQ(userProperty(triggered->bundle, "tier"), "text gold");
  EXPECT_GE(triggered->event->timestamp(), levelUp->event->timestamp());

  // Audience 3's first filter holds once "level_up" is logged; audience 4 never has a result.
  const auto results = levelUp->bundle->audienceEvaluationResults();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->audienceId(), 3);
  ASSERT_TRUE(results[0]->currentResults());
  EXPECT_EQ(results[0]->currentResults()->results(), std::vector<uint64_t>{0b01});
}

}  // namespace
}  // namespace e2e
