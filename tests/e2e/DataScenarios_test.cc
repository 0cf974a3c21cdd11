// What an app logs through the library's public interface arrives at the
// collection service as it was logged: names, typed values, order, times,
// sessions, screens and user properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "analytics/measurement/CVNAnalytics.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "e2e/E2EHarness.h"
#include "platform/dispatch/NotificationCenter.h"

namespace e2e {
namespace {

using platform::Object;

int64_t millis(double seconds) { return static_cast<int64_t>(seconds * 1000); }

// The app's own events (the library's automatic ones, named "_...", left out).
std::vector<LoggedEvent> appEvents(const std::vector<RecordedBatch>& batches) {
  std::vector<LoggedEvent> events = eventsIn(batches);
  std::erase_if(events, [](const LoggedEvent& logged) { return logged.event->name().value_or("").starts_with("_"); });
  return events;
}

class DataScenarios : public E2ETest {};

TEST_F(DataScenarios, EventsAndUserPropertiesArriveAsLoggedInOrderWithTheirTimes) {
  ASSERT_NO_FATAL_FAILURE(start());
  CVNAnalytics::setUserPropertyString(Object(std::string("gold")), "tier");
  const double first = clock().now();
  CVNAnalytics::logEventWithName("level_up", GWLRawParameters{{"character", Object(std::string("Zoë ✓"))},
                                                              {"premium", Object(true)},
                                                              {"level", Object(int64_t{7})},
                                                              {"score", Object(1234.5)},
                                                              {"big", Object(int64_t{1} << 53)},
                                                              {"negative", Object(-0.125)}});
  clock().advance(0.25);
  const double second = clock().now();
  CVNAnalytics::logEventWithName(
      "add_to_cart",
      GWLRawParameters{{"currency", Object(std::string("EUR"))},
                       {"value", Object(9.99)},
                       {"items", Object(platform::Array{Object(platform::Dictionary{{"item_id", std::string("sword")},
                                                                                    {"quantity", int64_t{2}},
                                                                                    {"price", 4.995}}),
                                                        Object(platform::Dictionary{{"item_id", std::string("shield")}})})}});
  clock().advance(0.25);
  const double third = clock().now();
  CVNAnalytics::logEventWithName("tutorial_begin", std::nullopt);

  const auto recorded = waitForBatches(1);
  const auto events = appEvents(recorded);
  std::vector<std::string> names;
  for (const auto& logged : events) names.push_back(logged.event->name().value_or(""));
  ASSERT_EQ(names, (std::vector<std::string>{"level_up", "add_to_cart", "tutorial_begin"}));

  const auto& levelUp = events[0].event;
  EXPECT_EQ(parameter(levelUp, "character"), "text Zoë ✓");
  EXPECT_EQ(parameter(levelUp, "premium"), "int 1");
  EXPECT_EQ(parameter(levelUp, "level"), "int 7");
  EXPECT_EQ(parameter(levelUp, "score"), "double 1234.5");
  EXPECT_EQ(parameter(levelUp, "big"), "int 9007199254740992");
  EXPECT_EQ(parameter(levelUp, "negative"), "double -0.125");
  const auto& cart = events[1].event;
  EXPECT_EQ(parameter(cart, "currency"), "text EUR");
  EXPECT_EQ(parameter(cart, "value"), "double 9.9900000000000002");
  EXPECT_EQ(parameter(cart, "items"),
            "items [{item_id: text sword, price: double 4.9950000000000001, quantity: int 2, }{item_id: text shield, }]");
  EXPECT_EQ(levelUp->timestamp(), millis(first));
  EXPECT_EQ(cart->timestamp(), millis(second));
  EXPECT_EQ(events[2].event->timestamp(), millis(third));

  for (const auto& logged : events) {
    EXPECT_EQ(userProperty(logged.bundle, "tier"), "text gold");
    EXPECT_EQ(logged.bundle->appId(), kBundleID);
    EXPECT_TRUE(logged.bundle->appInstanceId()) << "granted consent: the app instance ID goes with every bundle";
  }
}

TEST_F(DataScenarios, SessionsAndScreenViewsArriveWithTheEventsTheyFrame) {
  ASSERT_NO_FATAL_FAILURE(start());
  // The start's session: its ID is its start time in seconds.
  const auto firstSession = eventNamed(allBatches(), "_s");
  ASSERT_TRUE(firstSession) << describeEvents(allBatches());
  EXPECT_EQ(parameter(firstSession->event, "_sno"), "int 1");
  EXPECT_EQ(parameter(firstSession->event, "_sid"), "int " + std::to_string(firstSession->event->timestamp() / 1000));

  // Two screens the app names, and an event between them.
  auto screen = [](const std::string& name, const std::string& screenClass) {
    CVNAnalytics::logEventWithName("screen_view", GWLRawParameters{{"screen_name", Object(name)},
                                                                   {"screen_class", Object(screenClass)}});
  };
  const double firstScreenAt = clock().now();
  screen("Grid", "GridView");
  CVNAnalytics::logEventWithName("level_up", std::nullopt);
  clock().advance(0.5);
  screen("Chart", "ChartView");
  auto recorded = waitForBatches(1);
  std::vector<std::shared_ptr<GWLPBEvent>> views;
  for (const auto& logged : eventsIn(recorded)) {
    if (logged.event->name() == "_vs") views.push_back(logged.event);
  }
  ASSERT_EQ(views.size(), 2u) << describeEvents(recorded);
  const auto levelUp = eventNamed(recorded, "level_up");
  ASSERT_TRUE(levelUp);
  EXPECT_EQ(views[0]->timestamp(), millis(firstScreenAt));
  EXPECT_EQ(parameter(views[0], "_o"), "text app");
  EXPECT_EQ(parameter(views[0], "_sn"), "text Grid");
  EXPECT_EQ(parameter(views[0], "_sc"), "text GridView");
  EXPECT_EQ(parameter(views[0], "_pn"), "none");
  const std::string gridInstance = parameter(views[0], "_si");
  EXPECT_EQ(parameter(levelUp->event, "_sn"), "text Grid") << "an event carries the screen it happened on";
  EXPECT_EQ(parameter(levelUp->event, "_si"), gridInstance);
  EXPECT_EQ(parameter(views[1], "_sn"), "text Chart");
  EXPECT_EQ(parameter(views[1], "_pn"), "text Grid");
  EXPECT_EQ(parameter(views[1], "_pc"), "text GridView");
  EXPECT_EQ(parameter(views[1], "_pi"), gridInstance);
  EXPECT_NE(parameter(views[1], "_si"), gridInstance);

  // Away longer than the session timeout: coming back starts session 2,
  // and what is logged then belongs to it.
  post(platform::kApplicationWillResignActiveNotification);
  post(platform::kApplicationDidEnterBackgroundNotification);
  advance(1801);
  const double resumed = clock().now();
  post(platform::kApplicationWillEnterForegroundNotification);
  post(platform::kApplicationDidBecomeActiveNotification);
  CVNAnalytics::logEventWithName("level_up", std::nullopt);
  recorded = waitForEvent("level_up", 2);
  std::optional<LoggedEvent> secondSession;
  for (const auto& logged : eventsIn(recorded)) {
    if (logged.event->name() == "_s") secondSession = logged;
  }
  ASSERT_TRUE(secondSession) << describeEvents(recorded);
  EXPECT_EQ(parameter(secondSession->event, "_sno"), "int 2");
  EXPECT_EQ(parameter(secondSession->event, "_sid"), "int " + std::to_string(static_cast<int64_t>(resumed)));
  EXPECT_EQ(userProperty(secondSession->bundle, "_sno"), "int 2");
  const auto events = eventsIn(recorded);
  ASSERT_EQ(events.back().event->name(), "level_up");
  EXPECT_EQ(userProperty(events.back().bundle, "_sid"), "int " + std::to_string(static_cast<int64_t>(resumed)));
}

}  // namespace
}  // namespace e2e
