#include <gtest/gtest.h>

#include "BundlingTestSupport.h"

namespace measurement_test {
namespace {

constexpr int64_t kT0Millis = static_cast<int64_t>(BundlingTest::kT0) * 1000;
constexpr int32_t kDay = 20458;  // the UTC day of kT0

class SamplingTest : public BundlingTest {
 protected:
  // A wire event with int64 parameters; a name of "" leaves the name out.
  static std::shared_ptr<GWLPBEvent> wire(const std::string& name, int64_t millis,
                                          const std::map<std::string, int64_t>& params = {},
                                          int64_t previousMillis = 0) {
    auto event = GWLPBEvent::initWithMessageInfo();
    if (!name.empty()) event->setName(name);
    event->setTimestamp(millis);
    if (previousMillis > 0) event->setPreviousTimestamp(previousMillis);
    std::vector<std::shared_ptr<GWLPBEventParam>> list;
    for (const auto& [key, value] : params) {
      auto param = GWLPBEventParam::initWithMessageInfo();
      param->setName(key);
      param->setIntValue(value);
      list.push_back(param);
    }
    event->setParams(list);
    return event;
  }

  void storeAggregates(const std::string& name, int32_t lastBundledDay, int32_t lifetimeCount = 1) {
    onWorker([&] {
      auto aggregates = GWLEventAggregates::initWithName(name, lifetimeCount, 1, 1, kT0 - 3600);
      aggregates->setLastBundledDay(lastBundledDay);
      ASSERT_TRUE(database()->updateEventAggregates(aggregates));
    });
  }

  std::optional<GWLMeasurement::ProtoEvents> sample(const GWLMeasurement::ProtoEvents& events) {
    return onWorkerQueue([&] { return engine->sampleEvents(events); });
  }

  void enableSampling(const std::vector<EventSetting>& events, int offsetMinutes = 0) {
    configure({{kGWLSettingIsEventSamplingEnabled, "1"},
               {kGWLSettingAnalyticsAccountTimeZoneOffsetMinutes, std::to_string(offsetMinutes)}},
              events);
  }
};

TEST_F(SamplingTest, TheFirstOccurrenceOfADayIsKeptAndLaterOnesPassOnlyByTheirRoll) {
  enableSampling({{"lvl", 4}});
  storeAggregates("lvl", kDay - 1);
  storeAggregates("other", 0);
  random_->script({1, 1, 0});  // fail, fail, pass

  auto first = wire("lvl", kT0Millis);
  auto second = wire("lvl", kT0Millis + 1000, {{"_eid", 42}});
  auto third = wire("lvl", kT0Millis + 2000);
  auto kept = sample({first, second, third});
  ASSERT_TRUE(kept.has_value());
  ASSERT_EQ(kept->size(), 2u);
  EXPECT_EQ((*kept)[0], first);
  EXPECT_EQ(intParam(*first, "_sr"), 4);
  EXPECT_EQ(intParam(*first, "_efs"), 1) << "kept although its roll failed: the first of the day";
  EXPECT_EQ((*kept)[1], third);
  EXPECT_EQ(intParam(*third, "_sr"), 4);
  EXPECT_EQ(intParam(*third, "_efs"), std::nullopt);
  EXPECT_EQ(random_->taken(), 3);

  auto stored = aggregates("lvl");
  EXPECT_EQ(stored->lastSamplingRate(), 4);
  EXPECT_EQ(stored->lastBundledDay(), kDay);
  EXPECT_DOUBLE_EQ(stored->lastBundledTimestamp(), kT0 + 2);
  EXPECT_TRUE(stored->lastExemptFromSampling());
  EXPECT_EQ(stored->lastSampledComplexEventID(), std::nullopt) << "a passing roll clears the dropped event's ID";
  EXPECT_EQ(stored->lifetimeCount(), 1) << "only the sampling fields are written back";
  EXPECT_EQ(aggregates("other")->lastBundledDay(), 0) << "a name no event had keeps its fields";
}

TEST_F(SamplingTest, ADroppedOccurrenceRecordsItsComplexEventID) {
  enableSampling({{"lvl", 4}});
  storeAggregates("lvl", kDay);  // an occurrence was bundled today
  random_->script({1});
  auto kept = sample({wire("lvl", kT0Millis, {{"_eid", 42}})});
  ASSERT_TRUE(kept.has_value());
  EXPECT_TRUE(kept->empty());
  EXPECT_EQ(aggregates("lvl")->lastSampledComplexEventID(), 42);
  EXPECT_EQ(aggregates("lvl")->lastSamplingRate(), 4);
}

TEST_F(SamplingTest, EventsWithoutAUsableRateOrNameAreNotRolled) {
  struct Case {
    const char* what;
    std::vector<EventSetting> events;
    bool enabled;
    std::shared_ptr<GWLPBEvent> event;
    size_t kept;
    const char* sampledText;  // the health sample's text, when a report is expected
  };
  const Case cases[] = {
      {"sampling disabled", {{"lvl", 4}}, false, wire("lvl", kT0Millis), 1, nullptr},
      {"no rate for the name", {{"other", 4}}, true, wire("lvl", kT0Millis), 1, nullptr},
      {"a rate of 1", {{"lvl", 1}}, true, wire("lvl", kT0Millis), 1, "Invalid sampling rate provided"},
      {"a rate out of range", {{"lvl", 70000}}, true, wire("lvl", kT0Millis), 1, "Invalid sampling rate provided"},
      {"no name", {{"lvl", 4}}, true, wire("", kT0Millis), 0, "Dropping event at sampling. Event has no name"},
  };
  storeAggregates("lvl", kDay);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    configure({{kGWLSettingIsEventSamplingEnabled, c.enabled ? "1" : "0"}}, c.events);
    const size_t paramsBefore = c.event->params().size();
    auto kept = sample({c.event});
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->size(), c.kept);
    EXPECT_EQ(c.event->params().size(), paramsBefore) << "passed unchanged";
    if (c.sampledText) {
      EXPECT_TRUE(lastSampledKey().ends_with(c.sampledText)) << lastSampledKey();
    }
  }
  EXPECT_EQ(random_->taken(), 0);
}

TEST_F(SamplingTest, AnEventsOwnRateParameterIsKept) {
  enableSampling({{"lvl", 4}});
  storeAggregates("lvl", kDay);
  random_->script({0});
  auto event = wire("lvl", kT0Millis, {{"_sr", 9}});
  auto kept = sample({event});
  ASSERT_EQ(kept->size(), 1u);
  EXPECT_EQ(paramCount(*event, "_sr"), 1);
  EXPECT_EQ(intParam(*event, "_sr"), 9);
}

TEST_F(SamplingTest, TheDayIsTheAccountsDay) {
  // 23:30 UTC: the same day as the bundled occurrence in UTC, the next day an hour east.
  const int64_t lateMillis = 1767655800LL * 1000;
  for (int offset : {0, 60}) {
    SCOPED_TRACE(offset);
    enableSampling({{"lvl", 4}}, offset);
    storeAggregates("lvl", kDay);
    random_->script({1});
    auto kept = sample({wire("lvl", lateMillis)});
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->size(), offset == 0 ? 0u : 1u);
    if (offset == 60) {
      EXPECT_EQ(aggregates("lvl")->lastBundledDay(), kDay + 1);
    }
  }
}

TEST_F(SamplingTest, WithoutAggregatesTheDayOfThePreviousTimestampDecides) {
  enableSampling({{"lvl", 4}});
  random_->script({1, 1});
  auto sameDay = wire("lvl", kT0Millis, {}, kT0Millis - 1000);
  auto dayBefore = wire("lvl", kT0Millis, {}, kT0Millis - 86400 * 1000);
  auto kept = sample({sameDay, dayBefore});
  ASSERT_TRUE(kept.has_value());
  ASSERT_EQ(kept->size(), 1u);
  EXPECT_EQ((*kept)[0], dayBefore);
}

TEST_F(SamplingTest, BundlingKeepsItsCountsThroughTheWriteBackAndDropsAPassThatSamplingEmptied) {
  enableSampling({{"lvl", 4}});
  const int64_t fingerprint = storeMetadata();
  store("lvl", kT0, fingerprint);
  store("lvl", kT0 + 1, fingerprint);
  random_->script({1, 1});  // the first is kept as the first of the day, the second dropped
  EXPECT_TRUE(bundle());
  auto bundles = queued();
  ASSERT_EQ(bundles.size(), 1u);
  EXPECT_EQ(names(*bundles[0]), std::vector<std::string>{"lvl"});
  auto stored = aggregates("lvl");
  EXPECT_EQ(stored->lifetimeCount(), 2) << "the counts bundling wrote survive the write-back";
  EXPECT_EQ(stored->currentBundleCount(), 2);
  EXPECT_EQ(stored->lastBundledDay(), kDay);

  // Everything of the next pass is dropped: the raw events go, nothing is queued, yet the pass consumed them.
  EXPECT_EQ(storeMetadata(), fingerprint);
  store("lvl", kT0 + 2, fingerprint);
  random_->script({1});
  EXPECT_TRUE(bundle());
  EXPECT_EQ(queued().size(), 1u);
  EXPECT_EQ(rawEventCount(), 0);
  EXPECT_TRUE(lastSampledKey().ends_with("No events left after sampling. Dropping bundle")) << lastSampledKey();
  EXPECT_FALSE(bundle()) << "nothing left to bundle";
}

TEST_F(SamplingTest, DebugModeBundlesWithoutSampling) {
  enableSampling({{"lvl", 4}});
  monitor_->setSVTPDebugModeEnabled(true);
  const int64_t fingerprint = storeMetadata();
  store("lvl", kT0, fingerprint);
  store("lvl", kT0 + 1, fingerprint);
  EXPECT_TRUE(bundle());
  monitor_->setSVTPDebugModeEnabled(false);
  ASSERT_EQ(queued().size(), 1u);
  EXPECT_EQ(queued()[0]->eventsCount(), 2u);
  EXPECT_EQ(random_->taken(), 0);
}

}  // namespace
}  // namespace measurement_test
