// The conditional user property controller over a real measurement database,
// its worker queue and a manual clock, with an engine that records what it is
// asked to write (RecordingEngine.h). Lines of the silent monitor levels (2
// and 5) are seen through the health sample, the others as printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>

#include "../foundation/values/ValuesTestSupport.h"
#include "RecordingEngine.h"
#include "analytics/audiences/GWLConditionalUserPropertyController.h"
#include "analytics/foundation/values/GWLUserAttribute.h"

namespace {

using cup_test::RecordingEngine;
using Properties = GWLConditionalUserPropertyControlling::Properties;

constexpr double kStart = 1'700'000'000.0;

GWLValue text(const std::string& value) { return *GWLValue::initWithString(value); }

std::shared_ptr<GWLEvent> suppliedEvent(const std::string& name) {
  return GWLEvent::initWithOrigin("sender", false, name, 1, 0, platform::Dictionary{{"why", "test"}},
                                  GWLValueLimits{});
}

// A property of origin "app" with value "v1", waiting for `trigger` (none:
// active at once) for 60 s and living 3600 s.
std::shared_ptr<GWLConditionalUserProperty> property(const std::string& trigger = "") {
  auto p = std::make_shared<GWLConditionalUserProperty>();
  p->origin = "app";
  p->value = text("v1");
  p->triggerEventName = trigger;
  p->triggerTimeout = 60;
  p->timeToLive = 3600;
  return p;
}

// Holds the worker queue until released (or destroyed).
class BlockedWorker {
 public:
  explicit BlockedWorker(RecordingEngine& engine) {
    auto released = release_.get_future().share();
    engine.scheduler()->scheduleOnWorkerQueueBlockID("test", [released] { released.wait(); });
  }
  ~BlockedWorker() { release(); }
  void release() {
    if (!released_) release_.set_value();
    released_ = true;
  }

 private:
  std::promise<void> release_;
  bool released_ = false;
};

class ConditionalUserPropertyTest : public foundation_test::LibraryMonitorTest {
 protected:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    GWLMeasurementRegistry::resetForTesting(monitor_);
    engine_ = std::make_shared<RecordingEngine>(clock_, monitor_);
    ASSERT_TRUE(engine_->database());
    controller_ = makeController(30);
    engine_->setController(controller_);
  }
  void TearDown() override {
    engine_->flush();
    controller_.reset();
    engine_.reset();
    GWLMeasurementRegistry::resetForTesting(monitor_);
    LibraryMonitorTest::TearDown();
  }

  std::shared_ptr<GWLConditionalUserPropertyController> makeController(double waitLimit) {
    GWLConditionalUserPropertyController::Dependencies dependencies;
    dependencies.engine = [engine = engine_] { return engine; };
    dependencies.monitor = monitor_;
    dependencies.queryWaitLimit = waitLimit;
    return GWLConditionalUserPropertyController::create(std::move(dependencies));
  }

  void set(const std::shared_ptr<GWLConditionalUserProperty>& p, const std::string& name) {
    controller_->setConditionalUserProperty(p, name);
    engine_->flush();
  }
  std::shared_ptr<GWLConditionalUserProperty> stored(const std::string& name) {
    std::shared_ptr<GWLConditionalUserProperty> found;
    engine_->onWorkerQueue([&] { found = engine_->database()->conditionalUserPropertyWithName(name); });
    return found;
  }
  std::shared_ptr<GWLUserAttribute> userProperty(const std::string& name) {
    std::shared_ptr<GWLUserAttribute> found;
    engine_->onWorkerQueue([&] { found = engine_->database()->userAttributeWithName(name); });
    return found;
  }
  // The codes of the lines printed since the last call.
  std::vector<int64_t> printedCodes() {
    std::vector<int64_t> codes;
    for (const auto& report : reports()) codes.push_back(report.code);
    return codes;
  }
  static bool contains(const std::vector<int64_t>& codes, int64_t code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
  }

  foundation_test::DataDirectory data_;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>(kStart);
  std::shared_ptr<RecordingEngine> engine_;
  std::shared_ptr<GWLConditionalUserPropertyController> controller_;
};

TEST_F(ConditionalUserPropertyTest, TimeoutAndTimeToLiveLimits) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::string timeoutLine = "1E_120500:Invalid conditional user property trigger timeout";
  const std::string ttlLine = "1E_120500:Invalid conditional user property time to live";
  struct Case {
    double timeout, timeToLive;
    bool valid;
    std::string line;
  } cases[] = {
      {0.001, 0.001, true, ""},           {15552000, 15552000, true, ""},  {0, 1, false, timeoutLine},
      {15552000.5, 1, false, timeoutLine}, {nan, 1, false, timeoutLine},    {-inf, 1, false, timeoutLine},
      {1, 0, false, ttlLine},              {1, 15552000.5, false, ttlLine}, {1, nan, false, ttlLine},
      {1, inf, false, ttlLine},
  };
  for (const auto& c : cases) {
    monitor_->clearMonitoringData();
    auto p = property();
    p->name = "prop";
    p->triggerTimeout = c.timeout;
    p->timeToLive = c.timeToLive;
    EXPECT_EQ(GWLConditionalUserPropertyIsValid(*p, *monitor_), c.valid) << c.timeout << " " << c.timeToLive;
    EXPECT_EQ(lastSampledKey(), c.line) << c.timeout << " " << c.timeToLive;
  }
}

TEST_F(ConditionalUserPropertyTest, InvalidOriginNameOrValueIsRefusedWithoutALineOfItsOwn) {
  const std::function<void(GWLConditionalUserProperty&)> breakers[] = {
      [](auto& p) { p.origin = "with-dash"; },
      [](auto& p) { p.origin = std::string(33, 'o'); },
      [](auto& p) { p.name = std::string(25, 'n'); },
      [](auto& p) { p.value = text(std::string(37, 'v')); },
      [](auto& p) { p.value = text(""); },
      // The database would keep NaN as NULL, a property without a value.
      [](auto& p) { p.value = GWLValue::initWithDouble(std::nan("")); },
      [](auto& p) {
        p.active = true;
        p.triggeredTimestamp = std::nan("");
      },
  };
  for (const auto& breakIt : breakers) {
    monitor_->clearMonitoringData();
    auto p = property();
    p->name = "prop";
    breakIt(*p);
    EXPECT_FALSE(GWLConditionalUserPropertyIsValid(*p, *monitor_));
    controller_->setConditionalUserProperty(p, p->name);
    engine_->flush();
    for (int64_t code : printedCodes()) EXPECT_TRUE(code < 10000 || code > 11999) << code;
    EXPECT_EQ(lastSampledKey(), "");
  }
  EXPECT_FALSE(stored("prop"));
}

TEST_F(ConditionalUserPropertyTest, SetWithoutTriggerActivatesAtCreationTime) {
  auto p = property();
  p->name = "ignored";
  p->triggeredEvent = suppliedEvent("activated");
  {
    BlockedWorker blocked(*engine_);
    controller_->setConditionalUserProperty(p, "prop");
    clock_->advance(5);  // the worker gets to it later
  }
  engine_->flush();
  EXPECT_FALSE(p->active);  // the caller's object is not changed
  auto s = stored("prop");
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->active);
  EXPECT_EQ(s->creationTimestamp, kStart);
  EXPECT_EQ(s->triggeredTimestamp, kStart);
  auto attribute = userProperty("prop");
  ASSERT_TRUE(attribute);
  EXPECT_EQ(attribute->lastSetTimestamp(), kStart);
  EXPECT_EQ(attribute->value(), text("v1"));
  EXPECT_EQ(attribute->origin(), "app");
  // The triggered event takes the full path after the commit: processing it
  // opened a transaction of its own.
  EXPECT_EQ(engine_->takeWrites(), (std::vector<std::string>{"full:activated", "filtered:activated"}));
  EXPECT_EQ(engine_->processingFailures(), 0);
}

TEST_F(ConditionalUserPropertyTest, TriggeredEventCarriesThePropertysOriginAndTime) {
  auto p = property("level_up");
  p->triggeredEvent = suppliedEvent("leveled");
  set(p, "prop");
  EXPECT_FALSE(stored("prop")->active);
  EXPECT_FALSE(userProperty("prop"));
  clock_->advance(30);
  engine_->logEvent("level_up");
  EXPECT_EQ(engine_->filteredEvents().size(), 2u);
  auto written = engine_->filteredEvents().back();
  EXPECT_EQ(written->name(), "leveled");
  EXPECT_EQ(written->origin(), "app");
  EXPECT_EQ(written->timestamp(), kStart + 30);
  EXPECT_EQ(written->parameters().at("why"), text("test"));
  auto s = stored("prop");
  EXPECT_TRUE(s->active);
  EXPECT_EQ(s->triggeredTimestamp, kStart + 30);
  EXPECT_EQ(userProperty("prop")->lastSetTimestamp(), kStart + 30);
}

TEST_F(ConditionalUserPropertyTest, SettingAnActivePropertyAgainKeepsItsActivation) {
  auto first = property("level_up");
  first->triggeredEvent = suppliedEvent("leveled");
  set(first, "prop");
  clock_->advance(10);
  engine_->logEvent("level_up");
  clock_->advance(10);
  engine_->takeWrites();
  monitor_->clearMonitoringData();

  auto again = property("other_event");
  again->origin = "other";
  again->value = text("v2");
  again->triggerTimeout = 5;
  again->timeToLive = 100;
  set(again, "prop");
  EXPECT_EQ(lastSampledKey(),
            "1W_120500:Updating a conditional user property with different origin. Name, origin, saved origin");
  auto s = stored("prop");
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->active);
  EXPECT_EQ(s->origin, "app");
  EXPECT_EQ(s->creationTimestamp, kStart);
  EXPECT_EQ(s->triggeredTimestamp, kStart + 10);
  EXPECT_EQ(s->triggerEventName, "level_up");
  EXPECT_EQ(s->triggerTimeout, 60);
  ASSERT_TRUE(s->triggeredEvent);
  EXPECT_EQ(s->triggeredEvent->name(), "leveled");
  EXPECT_EQ(s->value, text("v2"));
  EXPECT_EQ(s->timeToLive, 100);
  EXPECT_TRUE(engine_->takeWrites().empty());
}

TEST_F(ConditionalUserPropertyTest, AdImpressionTriggersUnderscoreAiOnlyWhenNothingWaitsForItself) {
  set(property("_ai"), "alone");
  engine_->logEvent("ad_impression");
  EXPECT_TRUE(stored("alone")->active);

  set(property("ad_impression"), "public");
  set(property("_ai"), "internal");
  engine_->logEvent("ad_impression");
  EXPECT_TRUE(stored("public")->active);
  EXPECT_FALSE(stored("internal")->active);
}

TEST_F(ConditionalUserPropertyTest, OneEventEndsTimedOutAndExpiredPropertiesAndTriggersInOrder) {
  auto waiting = property("never");
  waiting->triggerTimeout = 10;
  waiting->timedOutEvent = suppliedEvent("timed_out");
  set(waiting, "waiting");
  auto living = property();
  living->timeToLive = 10;
  living->expiredEvent = suppliedEvent("expired");
  set(living, "living");
  auto trigger = property("tap");
  trigger->triggerTimeout = 1000;
  trigger->triggeredEvent = suppliedEvent("triggered");
  set(trigger, "trigger");
  engine_->takeWrites();

  // The limits themselves still hold.
  clock_->advance(10);
  engine_->logEvent("other");
  EXPECT_EQ(engine_->takeWrites(), (std::vector<std::string>{"full:other", "filtered:other"}));
  EXPECT_TRUE(stored("waiting") && stored("living"));

  clock_->advance(1);
  engine_->logEvent("tap");
  EXPECT_EQ(engine_->filteredEvents().at(0)->timestamp(), kStart + 11);
  EXPECT_EQ(engine_->filteredEvents().at(1)->origin(), "app");
  EXPECT_EQ(engine_->takeWrites(), (std::vector<std::string>{"full:tap", "filtered:timed_out", "filtered:expired",
                                                             "filtered:tap", "filtered:triggered"}));
  EXPECT_FALSE(stored("waiting"));
  EXPECT_FALSE(stored("living"));
  EXPECT_FALSE(userProperty("living"));
  EXPECT_TRUE(stored("trigger")->active);
  EXPECT_TRUE(userProperty("trigger"));
}

TEST_F(ConditionalUserPropertyTest, RemovalsWriteTheClearEventWithTheStoredOrigin) {
  set(property(), "active");
  set(property("later"), "waiting");
  engine_->takeWrites();

  // A set request without a value removes.
  auto removal = property();
  removal->origin = "remover";
  removal->value.reset();
  removal->expiredEvent = suppliedEvent("cleared");
  set(removal, "active");
  EXPECT_FALSE(stored("active"));
  EXPECT_FALSE(userProperty("active"));
  EXPECT_EQ(engine_->filteredEvents().at(0)->origin(), "app");
  EXPECT_EQ(engine_->takeWrites(), (std::vector<std::string>{"full:cleared", "filtered:cleared"}));

  controller_->clearConditionalUserPropertyWithClearEvent(suppliedEvent("gone"), "waiting");
  engine_->flush();
  EXPECT_FALSE(stored("waiting"));
  EXPECT_EQ(engine_->takeWrites(), (std::vector<std::string>{"full:gone", "filtered:gone"}));
  printedCodes();

  // An unknown name changes nothing and says so; an invalid one is not even posted.
  controller_->clearConditionalUserPropertyWithClearEvent(suppliedEvent("gone"), "unknown");
  controller_->clearConditionalUserPropertyWithClearEvent(suppliedEvent("gone"), "in-valid");
  engine_->flush();
  auto codes = printedCodes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 11018), 1);
  EXPECT_TRUE(engine_->takeWrites().empty());
}

TEST_F(ConditionalUserPropertyTest, CollectionOffRefusesEveryRequest) {
  set(property(), "kept");
  engine_->enabled = false;
  reports();
  set(property(), "new");
  controller_->clearConditionalUserPropertyWithClearEvent(nullptr, "kept");
  EXPECT_FALSE(controller_->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt));
  engine_->flush();
  auto codes = printedCodes();
  EXPECT_TRUE(contains(codes, 11007) && contains(codes, 11015) && contains(codes, 11005));
  EXPECT_FALSE(stored("new"));
  EXPECT_TRUE(stored("kept"));
}

TEST_F(ConditionalUserPropertyTest, QueryByPrefixAndOrigin) {
  set(property(), "alpha_one");
  set(property("x"), "Alpha2");
  auto other = property();
  other->origin = "other";
  set(other, "beta");

  auto names = [](const std::optional<Properties>& found) {
    std::vector<std::string> names;
    for (const auto& p : *found) names.push_back(p->name);
    std::sort(names.begin(), names.end());
    return names;
  };
  auto all = controller_->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt);
  ASSERT_TRUE(all);
  EXPECT_EQ(names(all), (std::vector<std::string>{"Alpha2", "alpha_one", "beta"}));
  auto alpha = controller_->conditionalUserPropertiesWithNamePrefix(platform::Object("alpha"), std::nullopt);
  EXPECT_EQ(names(alpha), (std::vector<std::string>{"Alpha2", "alpha_one"}));
  // "_" matches only itself.
  auto underscore = controller_->conditionalUserPropertiesWithNamePrefix(platform::Object("alpha_"), std::nullopt);
  EXPECT_EQ(names(underscore), (std::vector<std::string>{"alpha_one"}));
  auto byOrigin = controller_->conditionalUserPropertiesWithNamePrefix(platform::Object(""), platform::Object("other"));
  EXPECT_EQ(names(byOrigin), (std::vector<std::string>{"beta"}));
  auto none = controller_->conditionalUserPropertiesWithNamePrefix(platform::Object("zeta"), std::nullopt);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());

  EXPECT_FALSE(controller_->conditionalUserPropertiesWithNamePrefix(platform::Object(int64_t{5}), std::nullopt));
  EXPECT_EQ(lastSampledKey(),
            "1E_120500:Cannot query for conditional user properties. Name prefix is not a string. Class");
  EXPECT_FALSE(controller_->conditionalUserPropertiesWithNamePrefix(std::nullopt, platform::Object(true)));
  EXPECT_EQ(lastSampledKey(), "1E_120500:Cannot query for conditional user properties. Origin is not a string. Class");
}

TEST_F(ConditionalUserPropertyTest, FailingStoreLeavesNoUserPropertyRowOrEvent) {
  // A full table refuses a new name.
  engine_->onWorkerQueue([&] {
    ASSERT_TRUE(engine_->database()->performTransaction([&] {
      for (int n = 0; n < 1000; ++n) {
        auto p = property("never");
        p->name = "filler" + std::to_string(n);
        p->creationTimestamp = kStart;
        if (!engine_->database()->updateConditionalUserProperty(p)) return false;
      }
      return true;
    }));
  });
  reports();
  auto p = property();
  p->triggeredEvent = suppliedEvent("activated");
  set(p, "fresh");
  EXPECT_TRUE(contains(printedCodes(), 11014));
  EXPECT_FALSE(stored("fresh"));
  EXPECT_FALSE(userProperty("fresh"));
  EXPECT_TRUE(engine_->takeWrites().empty());
  // A name already stored is still replaced.
  set(property(), "filler7");
  EXPECT_TRUE(stored("filler7")->active);
}

TEST_F(ConditionalUserPropertyTest, FailedUserPropertyWriteStillActivates) {
  engine_->onWorkerQueue([&] {
    ASSERT_TRUE(engine_->database()->performTransaction([&] {
      for (int n = 0; n < 1000; ++n) {
        auto attribute = GWLUserAttribute::initWithOrigin("app", "u" + std::to_string(n), text("x"), kStart);
        if (!engine_->database()->updateUserAttribute(attribute)) return false;
      }
      return true;
    }));
  });
  reports();
  set(property(), "at_once");
  EXPECT_TRUE(contains(printedCodes(), 11011));
  EXPECT_TRUE(stored("at_once")->active);

  auto triggered = property("go");
  triggered->triggeredEvent = suppliedEvent("went");
  set(triggered, "on_trigger");
  engine_->takeWrites();
  engine_->logEvent("go");
  EXPECT_TRUE(contains(printedCodes(), 10009));
  EXPECT_TRUE(stored("on_trigger")->active);
  EXPECT_EQ(engine_->takeWrites(), (std::vector<std::string>{"full:go", "filtered:go", "filtered:went"}));
}

TEST_F(ConditionalUserPropertyTest, QueryFromAWorkerBlockRunsAtOnce) {
  set(property(), "prop");
  std::optional<Properties> answer;
  engine_->onWorkerQueue([&] { answer = controller_->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt); });
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->size(), 1u);
}

TEST_F(ConditionalUserPropertyTest, QueryGivesUpAtTheWaitLimitAndItsLateBlockRunsClean) {
  set(property(), "prop");
  auto impatient = makeController(0);
  {
    BlockedWorker blocked(*engine_);
    EXPECT_FALSE(impatient->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt));
  }
  engine_->flush();  // the late block answers into the state its caller left
  auto answer = controller_->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->size(), 1u);
}

TEST_F(ConditionalUserPropertyTest, ProcessingWithoutAnEventAnswersNothing) {
  std::optional<GWLConditionalUserPropertyControlling::Events> answer = GWLConditionalUserPropertyControlling::Events{};
  engine_->onWorkerQueue([&] { answer = controller_->processEventOnWorkerQueue(nullptr); });
  EXPECT_FALSE(answer);
  EXPECT_EQ(lastSampledKey(), "1E_120500:Cannot process nil event for conditional user property");
}

TEST_F(ConditionalUserPropertyTest, SharedInstanceReachesTheRegistrysEngine) {
  auto shared = GWLConditionalUserPropertyController::sharedInstance();
  EXPECT_EQ(shared, GWLConditionalUserPropertyController::sharedInstance());
  // Before an engine exists nothing is posted and nothing is waited for.
  EXPECT_FALSE(shared->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt));
  shared->setConditionalUserProperty(property(), "early");

  GWLMeasurementRegistry::initializeSharedInstance([this] { return engine_; });
  shared->setConditionalUserProperty(property(), "later");
  engine_->flush();
  EXPECT_FALSE(stored("early"));
  EXPECT_TRUE(stored("later"));
  auto all = shared->conditionalUserPropertiesWithNamePrefix(std::nullopt, std::nullopt);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 1u);
}

}  // namespace
