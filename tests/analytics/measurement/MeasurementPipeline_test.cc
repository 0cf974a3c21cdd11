// The event write pipeline over a real measurement database: what is
// stored, counted and dropped, and what each drop says.
#include <limits>

#include "PipelineTestSupport.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/core/GWLAEU.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"

namespace measurement_test {
namespace {

using platform::Dictionary;
using platform::Object;

TEST_F(PipelineTest, StoresAnEventWithItsCountersAggregatesAndMetadata) {
  handle(event("level_up", {{"level", int64_t{3}}}));
  EXPECT_EQ(storedNames(), std::vector<std::string>{"level_up"});
  const GWLDailyCounts counts = dailyCounts();
  EXPECT_EQ(counts.allEventsCount(), 1);
  EXPECT_EQ(counts.publicEventsCount(), 1);
  EXPECT_EQ(column("SELECT name FROM events"), std::vector<std::string>{"level_up"});
  EXPECT_EQ(count("raw_events_metadata"), 1);
  // The raw event refers to its metadata by the fingerprint of the stored bytes.
  EXPECT_EQ(column("SELECT count(*) FROM raw_events JOIN raw_events_metadata USING (metadata_fingerprint)"),
            std::vector<std::string>{"1"});
  auto codes = codeCounts();
  EXPECT_EQ(codes[23051], 1);
  EXPECT_EQ(codes[23072], 1);
  EXPECT_EQ(pipeline->steps->take(), std::vector<std::string>{"updateSchedule"});
}

TEST_F(PipelineTest, MetadataCarriesTheInstallationAndIsStoredOncePerContent) {
  handle(event("a"));
  handle(event("b"));
  EXPECT_EQ(count("raw_events"), 2);
  EXPECT_EQ(count("raw_events_metadata"), 1) << "identical metadata is stored once";
  std::shared_ptr<GWLPBMeasurementBundle> metadata;
  onWorker([&] {
    const int64_t fingerprint = std::stoll(column("SELECT metadata_fingerprint FROM raw_events LIMIT 1").at(0));
    metadata = pipeline->database()->queryRawEventsMetadataWithFingerprint(fingerprint);
  });
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->protocolVersion(), 1);
  EXPECT_EQ(metadata->platform(), "ios");
  EXPECT_EQ(metadata->appStore(), "manual_install");
  EXPECT_EQ(metadata->libraryVersion(), 120500);
  EXPECT_FALSE(metadata->hasOnDeviceMeasurementInfo()) << "no stored on-device value";
  EXPECT_EQ(metadata->onDeviceConversionFlags(), 1) << "the tracking-authorisation class only";
  EXPECT_EQ(metadata->userAttributesCount(), 0u);

  // A user property changes the content: a second metadata row.
  onWorker([&] {
    auto attribute = GWLUserAttribute::initWithOrigin("app", "favorite", *GWLValue::initWithString("tea"), 1);
    ASSERT_TRUE(attribute);
    ASSERT_TRUE(pipeline->database()->updateUserAttribute(attribute));
  });
  handle(event("c"));
  EXPECT_EQ(count("raw_events_metadata"), 2);
}

TEST_F(PipelineTest, SafelistKeepsListedNamesOnly) {
  start({}, std::vector<std::string>{"level_up", "_s"});
  struct Case {
    std::string name;
    std::string origin;
    bool stored;
  };
  for (const Case& c : std::vector<Case>{{"level_up", "app", true},
                                         {"_s", "auto", true},
                                         {"share", "app", false},
                                         {"_vs", "auto", false}}) {
    SCOPED_TRACE(c.name);
    handle(event(c.name, {}, c.origin));
    EXPECT_EQ(codeCounts()[23174], c.stored ? 0 : 1);
  }
  auto events = stored();
  ASSERT_EQ(events.size(), 2u);
  for (const auto& stored : events) {
    EXPECT_EQ(stored->parameters().at("ha_safelisted"), GWLValue::initWithInt64(1)) << stored->name();
  }
}

TEST_F(PipelineTest, CollectionOffStoresNothing) {
  onWorker([&] { pipeline->setEnabledOnWorkerQueue(false); });
  reports();
  handle(event("level_up"));
  EXPECT_TRUE(storedNames().empty());
  EXPECT_EQ(codeCounts()[23049], 1);
}

// ---------------------------------------------------------------------------
// Daily limits

TEST_F(PipelineTest, EventsOverTheDailyLimitAreCountedNotStored) {
  start({{kGWLSettingMaxEventsPerDay, "3"}});
  for (int i = 0; i < 5; ++i) handle(event("_vs", {}, "auto"));
  EXPECT_EQ(count("raw_events"), 3);
  EXPECT_EQ(dailyCounts().allEventsCount(), 5) << "drops over the limit keep raising the count";
  EXPECT_EQ(codeCounts()[23055], 1) << "only at the first event over the limit";
}

TEST_F(PipelineTest, TooManyEventsMessageRepeatsEveryThousandthEvent) {
  start({{kGWLSettingMaxEventsPerDay, "10"}});
  struct Case {
    int32_t before;
    int messages;
  };
  for (const Case& c : std::vector<Case>{{10, 1}, {11, 0}, {1009, 0}, {1010, 1}, {2010, 1}}) {
    SCOPED_TRACE(c.before);
    setDailyCounts(c.before, 0, 0, 0);
    handle(event("_vs", {}, "auto"));
    EXPECT_EQ(codeCounts()[23055], c.messages);
    EXPECT_EQ(dailyCounts().allEventsCount(), c.before + 1);
  }
  EXPECT_EQ(count("raw_events"), 0);
}

TEST_F(PipelineTest, PublicEventOverItsLimitGivesErrorEventAndTakesTheCountBack) {
  start({{kGWLSettingMaxPublicEventsPerDay, "2"}});
  for (int i = 0; i < 3; ++i) handle(event("level_up"));
  EXPECT_EQ(count("raw_events"), 2);
  const GWLDailyCounts counts = dailyCounts();
  EXPECT_EQ(counts.allEventsCount(), 2) << "the dropped public event does not raise the all-events count";
  EXPECT_EQ(counts.publicEventsCount(), 3);
  EXPECT_EQ(codeCounts()[23057], 1);
  EXPECT_EQ(takeErrorEvents(), (std::vector<std::pair<int64_t, std::string>>{{16, ""}}));
  // Internal events are not limited by the public limit.
  handle(event("_vs", {}, "auto"));
  EXPECT_EQ(count("raw_events"), 3);
}

TEST_F(PipelineTest, ErrorEventsOverTheirLimitMakeNoFurtherErrorEvent) {
  start({{kGWLSettingMaxErrorEventsPerDay, "1"}});
  handle(event("_err", {{"_err", int64_t{4}}}, "auto"));
  handle(event("_err", {{"_err", int64_t{4}}}, "auto"));
  EXPECT_EQ(count("raw_events"), 1);
  const GWLDailyCounts counts = dailyCounts();
  EXPECT_EQ(counts.errorEventsCount(), 2);
  EXPECT_EQ(counts.allEventsCount(), 1);
  EXPECT_EQ(codeCounts()[23056], 1);
  EXPECT_TRUE(takeErrorEvents().empty());
}

TEST_F(PipelineTest, CountersStartAgainOnANewDay) {
  start({{kGWLSettingMaxEventsPerDay, "1"}});
  handle(event("_vs", {}, "auto"));
  handle(event("_vs", {}, "auto"));
  EXPECT_EQ(count("raw_events"), 1);
  clock_->advance(86400);
  handle(event("_vs", {}, "auto"));
  EXPECT_EQ(count("raw_events"), 2);
  EXPECT_EQ(dailyCounts().allEventsCount(), 1);
}

TEST_F(PipelineTest, CountersStopAtTheirMaximum) {
  start({{kGWLSettingMaxEventsPerDay, "10"}});
  setDailyCounts(std::numeric_limits<int32_t>::max(), 0, 0, 0);
  handle(event("_vs", {}, "auto"));
  EXPECT_EQ(dailyCounts().allEventsCount(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(count("raw_events"), 0) << "a full counter still reads as over the limit";
}

TEST_F(PipelineTest, NewPublicNameBeyondTheNameLimitIsRefused) {
  start({{kGWLSettingMaxEventNameCardinality, "500"}});
  onWorker([&] {
    ASSERT_TRUE(pipeline->database()->performTransaction([&] {
      for (int i = 0; i < 499; ++i) {
        if (!pipeline->database()->updateEventAggregates(
                GWLEventAggregates::initWithName("name" + std::to_string(i), 0, 0, 0, 0))) {
          return false;
        }
      }
      return true;
    }));
  });
  handle(event("name_499"));  // the 500th name still fits
  handle(event("name_500"));
  handle(event("name7"));     // a known name
  handle(event("_vs", {}, "auto"));
  EXPECT_EQ(storedNames(), (std::vector<std::string>{"name_499", "name7", "_vs"}));
  EXPECT_EQ(codeCounts()[23065], 1);
  EXPECT_EQ(takeErrorEvents(), (std::vector<std::pair<int64_t, std::string>>{{8, ""}}));
  EXPECT_EQ(dailyCounts().allEventsCount(), 3) << "the refused event's transaction rolled back";
}

// ---------------------------------------------------------------------------
// Blocklist

TEST_F(PipelineTest, BlocklistedEventsGiveErrorEventElevenExceptTheErrorEvent) {
  blocklist({"level_up", "_err"});
  handle(event("level_up"));
  handle(event("_err", {{"_err", int64_t{4}}}, "auto"));
  EXPECT_TRUE(storedNames().empty());
  EXPECT_EQ(codeCounts()[23052], 0) << "level 5: sampled, never printed";
  EXPECT_EQ(takeErrorEvents(), (std::vector<std::pair<int64_t, std::string>>{{11, "level_up"}}));
  EXPECT_EQ(dailyCounts().allEventsCount(), 0);

  // With the whole public blocklist on, no error event.
  start({{kGWLSettingBlocklistPublic, "1"}});
  handle(event("share"));
  EXPECT_TRUE(storedNames().empty());
  EXPECT_TRUE(takeErrorEvents().empty());
}

// ---------------------------------------------------------------------------
// Real-time

TEST_F(PipelineTest, DebugModeMarksEveryEventRealtimeAndDebug) {
  monitor_->setDebugModeEnabled(true);
  handle(event("level_up"));
  handle(event("_vs", {}, "auto"));
  for (const auto& stored : stored()) {
    EXPECT_TRUE(stored->isRealtime()) << stored->name();
    EXPECT_TRUE(stored->isDebug()) << stored->name();
  }
  EXPECT_EQ(column("SELECT count(*) FROM raw_events WHERE is_realtime = 1"), std::vector<std::string>{"2"});
  EXPECT_EQ(codeCounts()[23073], 2);
  monitor_->setDebugModeEnabled(false);
}

TEST_F(PipelineTest, PurchaseLimitedByTheDailyRealtimeCountButNotInAppPurchase) {
  setDailyCounts(0, 0, 0, 10);  // ten real-time events today
  handle(event("_iap", {{"value", 1.5}, {"currency", "EUR"}}, "auto"));
  handle(event("purchase", {{"value", 1.5}, {"currency", "EUR"}}));
  EXPECT_EQ(column("SELECT name FROM raw_events WHERE is_realtime = 1"), std::vector<std::string>{"_iap"});
  EXPECT_EQ(column("SELECT name FROM raw_events WHERE is_realtime = 0"), std::vector<std::string>{"purchase"});

  setDailyCounts(0, 0, 0, 9);
  handle(event("purchase", {{"value", 1.5}, {"currency", "EUR"}}));
  EXPECT_EQ(column("SELECT count(*) FROM raw_events WHERE is_realtime = 1 AND name = 'purchase'"),
            std::vector<std::string>{"1"});
}

TEST_F(PipelineTest, RealtimeMarkOverTheLimitIsTakenOff) {
  setDailyCounts(0, 0, 0, 10, 1);
  auto marked = event("_vs", {}, "auto");
  marked->setRealtime(true);
  writeFiltered(marked);
  auto consent = event("_dcu", {}, "auto");
  consent->setRealtime(true);
  writeFiltered(consent);
  EXPECT_EQ(column("SELECT count(*) FROM raw_events WHERE is_realtime = 1"), std::vector<std::string>{"0"});
  for (const auto& stored : stored()) EXPECT_FALSE(stored->isRealtime()) << stored->name();
  EXPECT_EQ(codeCounts()[23060], 1) << "the \"_dcu\" mark goes silently";
}

// ---------------------------------------------------------------------------
// Handling steps

TEST_F(PipelineTest, RolloutSessionStartsReportedTwiceAreDropped) {
  struct Case {
    std::optional<std::string> stored;
    std::optional<Dictionary> rollouts;  // the event's "_ffr"
    bool kept;
    std::optional<std::string> storedAfter;
  };
  const std::vector<Case> cases = {
      {"a,b", Dictionary{{"_ffr", "a,b"}}, false, "a,b"},
      {"a,b", Dictionary{{"_ffr", "c"}}, true, "c"},
      {"a,b", Dictionary{{"_ffr", ""}}, true, std::nullopt},
      {std::nullopt, Dictionary{}, false, std::nullopt},
      {std::nullopt, Dictionary{{"_ffr", ""}}, false, std::nullopt},
      {std::nullopt, Dictionary{{"_ffr", "c"}}, true, "c"},
      {std::nullopt, Dictionary{{"_ffr", int64_t{3}}}, true, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored.value_or("none") + " " + std::to_string(c.rollouts->size()));
    settings_->setCorvaneFeatureRollouts(c.stored);
    const size_t before = stored().size();
    handle(event("_ssr", *c.rollouts, "auto"));
    EXPECT_EQ(stored().size(), before + (c.kept ? 1 : 0));
    EXPECT_EQ(settings_->corvaneFeatureRollouts(), c.storedAfter);
  }
}

TEST_F(PipelineTest, SessionStartBackfillsAndWritesTheRolloutSessionStart) {
  start({{kGWLSettingPSMSessionStartEnabled, "1"}});
  settings_->setCorvaneFeatureRollouts(std::string("r1"));
  handle(event("_s", {{"_sid", int64_t{77}}, {"_sno", int64_t{2}}}, "auto", 1'700'000'100));
  EXPECT_EQ(storedNames(), (std::vector<std::string>{"_ssr", "_s"}));
  EXPECT_EQ(stored().front()->parameters().at("_ffr"), *GWLValue::initWithString("r1"));
  EXPECT_EQ(pipeline->steps->take(), (std::vector<std::string>{"backfill 77 2", "updateSchedule"}));
  EXPECT_EQ(onDevice->sessionStarts, std::vector<double>{1'700'000'100});
}

TEST_F(PipelineTest, AppExceptionCarriesTheStoredRollouts) {
  settings_->setCorvaneFeatureRollouts(std::string("r1"));
  handle(event("_ae", {}, "auto"));
  ASSERT_EQ(stored().size(), 1u);
  EXPECT_EQ(stored().front()->parameters().at("_ffr"), *GWLValue::initWithString("r1"));
}

TEST_F(PipelineTest, ExtendSessionInTheBackground) {
  struct Case {
    bool expired;
    Dictionary parameters;
    std::vector<std::string> steps;
    int reserved;  // 23179
  };
  const std::vector<Case> cases = {
      {false, {{"extend_session", int64_t{1}}}, {"updateSchedule"}, 0},
      {true, {{"extend_session", int64_t{1}}},
       {"sessionStart 1700000000 bg", "removeSessionProperties", "updateSchedule"}, 0},
      {false, {{"extend_session", int64_t{2}}}, {"updateSchedule"}, 1},
      {true, {{"extend_session", "1"}}, {"removeSessionProperties", "updateSchedule"}, 1},
      {true, {}, {"removeSessionProperties", "updateSchedule"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.expired) + " " + std::to_string(c.parameters.size()));
    pipeline->sessionExpired = c.expired;
    handle(event("level_up", c.parameters, "app", 1'700'000'000));
    EXPECT_EQ(pipeline->steps->take(), c.steps);
    EXPECT_EQ(codeCounts()[23179], c.reserved);
  }
  EXPECT_EQ(count("raw_events"), static_cast<int64_t>(cases.size())) << "the event always goes on";

  // In the foreground the session reporter sees the app's events itself.
  GWLSetAppActiveProvider([] { return true; });
  handle(event("level_up", {{"extend_session", int64_t{2}}}));
  GWLSetAppActiveProvider(nullptr);
  EXPECT_EQ(pipeline->steps->take(), std::vector<std::string>{"updateSchedule"});
  EXPECT_EQ(codeCounts()[23179], 0);
}

TEST_F(PipelineTest, SecondSubscriptionWithTheSameIDIsDropped) {
  handle(event("_assc", {{"_did", int64_t{42}}, {"product_id", "monthly"}}, "auto"));
  handle(event("_assc", {{"_did", int64_t{42}}, {"product_id", "monthly"}}, "auto"));
  handle(event("_assc", {{"_did", int64_t{43}}}, "auto"));
  EXPECT_EQ(count("raw_events"), 2);
  EXPECT_EQ(codeCounts()[23182], 1);
}

TEST_F(PipelineTest, FailedSubscriptionCleanUpStillStoresTheEvent) {
  onWorker([&] {
    // Any deletion from the table fails.
    ASSERT_TRUE(pipeline->database()->sqliteStore()->executeSQL(
        "CREATE TRIGGER no_delete BEFORE DELETE ON subscriptions BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
    for (int i = 0; i < 1000; ++i) {
      ASSERT_TRUE(pipeline->database()->insertIfNotDuplicateSubscriptionID(std::to_string(i)).value_or(false));
    }
  });
  bool kept = false;
  onWorker([&] { kept = pipeline->dedupeSubscriptionEvent(*event("_assc", {{"_did", int64_t{5000}}}, "auto")); });
  EXPECT_TRUE(kept);
  EXPECT_NE(sampled().find("Failed to delete older subscription records"), std::string::npos) << sampled();
  handle(event("_assc", {{"_did", int64_t{5001}}}, "auto"));
  EXPECT_EQ(storedNames(), std::vector<std::string>{"_assc"});
}

TEST_F(PipelineTest, FailedLifetimeValueRollsTheEventBack) {
  purchases->records_succeed = false;
  handle(event("purchase", {{"value", 1.5}, {"currency", "EUR"}}));
  EXPECT_EQ(purchases->records, 1);
  EXPECT_EQ(count("raw_events"), 0);
  EXPECT_EQ(dailyCounts().allEventsCount(), 0);
  EXPECT_EQ(codeCounts()[23053], 1);
}

// ---------------------------------------------------------------------------
// Editing and conditional properties

TEST_F(PipelineTest, EditingFailureStoresTheUneditedEventWithoutScheduling) {
  pipeline->editing = std::make_shared<ScriptedEditing>();
  pipeline->editing->fails = true;
  pipeline->editing->output = GWLEditableEvent{"edited", clock_->now(), {}};
  pipeline->steps->take();
  handle(event("level_up", {{"a", int64_t{1}}}));
  EXPECT_EQ(storedNames(), std::vector<std::string>{"level_up"});
  EXPECT_EQ(codeCounts()[23223], 1);
  for (const auto& step : pipeline->steps->take()) EXPECT_NE(step, "updateSchedule");
}

TEST_F(PipelineTest, EditsReplaceTheEventAndCreatedEventsFollowInOrder) {
  pipeline->editing = std::make_shared<ScriptedEditing>();
  pipeline->editing->output = GWLEditableEvent{"level_up", clock_->now(), {{"edited", int64_t{1}}, {"_o", "app"}}};
  pipeline->editing->created = {
      GWLEditableEvent{"made_one", clock_->now(), {{"_o", "fcm"}}},
      GWLEditableEvent{"made_two", clock_->now(), {}},
  };
  handle(event("level_up", {{"a", int64_t{1}}}));
  auto events = stored();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0]->name(), "level_up");
  EXPECT_TRUE(events[0]->parameters().contains("edited"));
  EXPECT_FALSE(events[0]->parameters().contains("a"));
  EXPECT_EQ(events[1]->name(), "made_one");
  EXPECT_EQ(events[1]->origin(), "fcm");
  EXPECT_EQ(events[2]->name(), "made_two");
  EXPECT_EQ(events[2]->origin(), "app");
}

TEST_F(PipelineTest, ConditionalPropertiesAddTheirEventsAfterTheEvent) {
  pipeline->properties->answer = GWLConditionalUserPropertyControlling::Events{event("_cupt", {}, "auto")};
  handle(event("level_up"));
  EXPECT_EQ(storedNames(), (std::vector<std::string>{"level_up", "_cupt"}));
  pipeline->properties->answer = std::nullopt;
  handle(event("share"));
  EXPECT_EQ(codeCounts()[23050], 1);
  EXPECT_EQ(storedNames().back(), "share") << "the event is written all the same";
}

TEST_F(PipelineTest, InternalEventsTakeTheDefaultsButTheErrorEventDoesNot) {
  pipeline->defaults = GWLRawParameters{{"shop", Object("north")}, {"vrt_code", Object("x")}};
  handleInternal(event("_vs", {{"shop", "own"}}, "auto"));
  handleInternal(event("_cmp", {}, "auto"));
  handleInternal(event("_err", {{"_err", int64_t{4}}}, "auto"));
  auto events = stored();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0]->parameters().at("shop"), *GWLValue::initWithString("own")) << "the event's own value wins";
  EXPECT_EQ(events[0]->parameters().at("vrt_code"), *GWLValue::initWithString("x"));
  EXPECT_EQ(events[1]->parameters().at("shop"), *GWLValue::initWithString("north"));
  EXPECT_FALSE(events[1]->parameters().contains("vrt_code")) << "the campaign event keeps its own \"vrt_\" values";
  EXPECT_FALSE(events[2]->parameters().contains("shop"));
}

// ---------------------------------------------------------------------------
// First opens

TEST_F(PipelineTest, FirstOpenWithoutAdvertisingIDIsMatchedOnceByTheNextEventWithOne) {
  handle(event("_f", {}, "auto"));
  EXPECT_TRUE(settings_->unmatchedFirstOpenWithoutIDFA());
  handle(event("level_up"));
  EXPECT_EQ(storedNames(), (std::vector<std::string>{"_f", "level_up"})) << "still no advertising identifier";

  platformIdentity_->setIdentifier(std::string("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"));
  clock_->advance(2);  // the identity asks the platform again
  handle(event("share"));
  handle(event("share"));
  EXPECT_EQ(storedNames(), (std::vector<std::string>{"_f", "level_up", "share", "_fx", "share"}));
  EXPECT_FALSE(settings_->unmatchedFirstOpenWithoutIDFA());
  auto events = stored();
  const auto& consented = events[3];
  EXPECT_EQ(consented->origin(), "auto");
  EXPECT_EQ(consented->timestamp(), events[2]->timestamp()) << "the matching event's time";
  EXPECT_TRUE(consented->parameters().contains("_pfo"));
  EXPECT_TRUE(consented->parameters().contains("_uwa"));
  EXPECT_EQ(column("SELECT is_realtime FROM raw_events WHERE name = '_fx'"), std::vector<std::string>{"1"});

  std::shared_ptr<GWLPBMeasurementBundle> metadata;
  onWorker([&] {
    const int64_t fingerprint =
        std::stoll(column("SELECT metadata_fingerprint FROM raw_events WHERE name = '_fx'").at(0));
    metadata = pipeline->database()->queryRawEventsMetadataWithFingerprint(fingerprint);
  });
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->resettableDeviceId(), "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
}

TEST_F(PipelineTest, PreviousFirstOpenCountInTheKeychain) {
  struct Case {
    std::optional<std::string> before;
    std::optional<std::string> after;
  };
  const std::vector<Case> cases = {
      {std::nullopt, "1"}, {"0", "1"},  {"-4", "1"}, {"2", "3"},
      {"abc", "1"},        {"7x", "1"}, {"9223372036854775807", "9223372036854775807"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before.value_or("none"));
    pipeline->setPreviousFirstOpenCount(c.before);
    handle(event("_f", {}, "auto"));
    EXPECT_EQ(pipeline->previousFirstOpenCount(), c.after);
  }
}

}  // namespace
}  // namespace measurement_test
