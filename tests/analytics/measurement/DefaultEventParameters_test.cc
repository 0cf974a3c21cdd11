// Default event parameters: kept in the persisted settings, merged under each
// event's own, backfilled into the events stored since the library was
// loaded; and the backfill of a new session's ID into stored events. Raw
// events and their metadata are stored in a real database directly.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "OperationsTestSupport.h"
#include "analytics/foundation/core/GWLDataAdditions.h"
#include "analytics/foundation/storage/GWLRawEventData.h"
#include "analytics/wire/GWLPBMeasurementBundle.h"
#include "analytics/wire/GWLPBUserAttribute.h"

namespace measurement_test {
namespace {

constexpr double kInit = 1'700'000'000;

class DefaultEventParametersTest : public MeasurementOperationsTest {
 protected:
  void SetUp() override {
    MeasurementOperationsTest::SetUp();
    engine_->initTime = kInit;
    plainMetadata_ = storeMetadata(false);
  }

  // Stores metadata (with or without a "_sid" user property) and answers its fingerprint.
  int64_t storeMetadata(bool withSessionID) {
    auto bundle = GWLPBMeasurementBundle::initWithMessageInfo();
    bundle->setProtocolVersion(1);
    bundle->setAppId("1:123:ios:abc");
    auto fot = GWLPBUserAttribute::initWithMessageInfo();
    fot->setName("_fot");
    fot->setIntValue(1);
    std::vector<std::shared_ptr<GWLPBUserAttribute>> attributes{fot};
    if (withSessionID) {
      auto sid = GWLPBUserAttribute::initWithMessageInfo();
      sid->setName("_sid");
      sid->setIntValue(42);
      attributes.push_back(sid);
    }
    bundle->setUserAttributes(attributes);
    EXPECT_TRUE(database_->insertIfNotExistsRawEventMetadata(*bundle));
    return static_cast<int64_t>(gwl_64LSBMD5(*bundle->protoBuffer()));
  }

  void storeEvent(const std::string& origin, const std::string& name, double timestamp,
                  const Dictionary& parameters = {}, std::optional<int64_t> fingerprint = std::nullopt) {
    auto event = GWLEvent::initWithOrigin(origin, false, name, timestamp, 0, parameters, GWLValueLimits{});
    ASSERT_TRUE(event);
    ASSERT_TRUE(database_->insertRawEvent(event, fingerprint.value_or(plainMetadata_), false));
  }

  // The stored events' parameters without "_o", in row order.
  std::vector<Dictionary> storedParameters() {
    std::vector<Dictionary> result;
    const auto rows = database_->allRawEventsWithError();
    EXPECT_TRUE(rows);
    for (const auto& row : rows.value_or(std::vector<std::shared_ptr<GWLRawEventData>>{})) {
      Dictionary parameters = GWLDictionaryFromParameters(row->rawEvent()->parameters());
      parameters.erase("_o");
      result.push_back(std::move(parameters));
    }
    return result;
  }

  void setDefaults(const std::optional<Dictionary>& parameters) {
    engine_->setDefaultEventParameters(parameters);
    drain();
  }
  Dictionary storedDefaults() { return persisted_->defaultEventParameters().value_or(Dictionary{}); }
  bool printed(int64_t code) {
    auto all = codes();
    return std::find(all.begin(), all.end(), code) != all.end();
  }

  int64_t plainMetadata_ = 0;
};

TEST_F(DefaultEventParametersTest, DefaultsAreValidatedKeptAndCleared) {
  setDefaults(Dictionary{{"a", Object("x")}, {"b", Object(1)}, {"c", Object(2.5)}, {"flag", Object(true)}});
  EXPECT_EQ(storedDefaults(),
            (Dictionary{{"a", Object("x")}, {"b", Object(1)}, {"c", Object(2.5)}, {"flag", Object(true)}}));
  EXPECT_EQ(codes(), (std::vector<int64_t>{23216}));

  // Null removes that name only; the others stay and a new one is added.
  setDefaults(Dictionary{{"b", Object()}, {"d", Object("y")}});
  EXPECT_EQ(storedDefaults(),
            (Dictionary{{"a", Object("x")}, {"c", Object(2.5)}, {"d", Object("y")}, {"flag", Object(true)}}));
  reports();

  struct Refused {
    const char* what;
    Dictionary parameters;
    int64_t code;
    std::vector<int64_t> errorEvents;
  };
  const std::vector<Refused> refused{
      {"an array", {{"items", Object(platform::Array{Object(1)})}}, 23213, {27}},
      {"a dictionary", {{"nested", Object(Dictionary{{"k", Object(1)}})}}, 23213, {}},
      {"a name with a reserved prefix", {{"ha_x", Object(1)}}, 23214, {}},
      {"an internal name", {{"_x", Object(1)}}, 23214, {}},
      {"a name without a leading letter", {{"1x", Object(1)}}, 23214, {}},
      {"a name that is not text", {{std::string("bad\xff"), Object(1)}}, 23212, {}},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.what);
    setDefaults(c.parameters);
    EXPECT_TRUE(printed(c.code));
    EXPECT_EQ(errorEventCodes(), c.errorEvents);
    EXPECT_EQ(storedDefaults().size(), 4u) << "nothing added, nothing lost";
  }

  // A value too long for a public parameter is dropped without a word.
  setDefaults(Dictionary{{"long", Object(std::string(501, 'v'))}});
  EXPECT_FALSE(storedDefaults().count("long"));
  const auto quiet = codes();
  EXPECT_TRUE(std::find(quiet.begin(), quiet.end(), 23213) == quiet.end() &&
              std::find(quiet.begin(), quiet.end(), 23214) == quiet.end());

  setDefaults(std::nullopt);
  EXPECT_TRUE(storedDefaults().empty());
}

TEST_F(DefaultEventParametersTest, BeyondTheLimitTheNamesLastInOrderGo) {
  config_ = configWith(monitor_, {{kGWLSettingMaxPublicEventParams, "25"}});
  engine_ = makeEngine({});
  engine_->initTime = kInit;
  Dictionary many;
  for (int i = 0; i < 27; ++i) many[(i < 10 ? "p0" : "p") + std::to_string(i)] = Object(i);
  setDefaults(many);

  Dictionary kept = storedDefaults();
  ASSERT_EQ(kept.size(), 25u);
  EXPECT_TRUE(kept.count("p00") && kept.count("p24"));
  EXPECT_FALSE(kept.count("p25") || kept.count("p26"));
  EXPECT_EQ(errorEventCodes(), (std::vector<int64_t>{26}));
  EXPECT_TRUE(printed(23215));
}

TEST_F(DefaultEventParametersTest, EventsCarryTheDefaultsUnderTheirOwnValues) {
  auto merge = [&](const std::optional<GWLRawParameters>& parameters) {
    return onWorker([&] { return engine_->parametersWithAddedDefaultEventParameters(parameters); });
  };
  // No defaults: the parameters as they were, none staying none.
  EXPECT_EQ(merge(std::nullopt), std::nullopt);

  persisted_->setDefaultEventParameters(Dictionary{{"a", Object("default")}, {"b", Object(1)}});
  auto merged = merge(GWLRawParameters{{"a", Object("own")}, {"c", GWLValue::initWithInt64(3)}});
  ASSERT_TRUE(merged);
  EXPECT_EQ(std::get<Object>(merged->at("a")), Object("own"));
  EXPECT_EQ(std::get<Object>(merged->at("b")), Object(1));
  EXPECT_EQ(std::get<GWLValue>(merged->at("c")), GWLValue::initWithInt64(3));
  EXPECT_EQ(merge(std::nullopt)->size(), 2u);
}

TEST_F(DefaultEventParametersTest, DefaultsSetBeforeTheAppsFirstEventReachEventsStoredSinceTheLoad) {
  // Nothing stored: nothing to backfill.
  setDefaults(Dictionary{{"z", Object(0)}});
  EXPECT_EQ(codes(), (std::vector<int64_t>{23216}));

  // An app event from before the load does not count; the library's events since the load get the defaults.
  storeEvent("app", "early", kInit - 100);
  storeEvent("auto", "_f", kInit, {{"a", Object("own")}});
  storeEvent("auto", "_e", kInit + 10);
  setDefaults(Dictionary{{"a", Object("d")}, {"b", Object("d")}});
  EXPECT_EQ(codes(), (std::vector<int64_t>{23272}));
  EXPECT_EQ(storedParameters(), (std::vector<Dictionary>{
                                    {},
                                    {{"a", Object("own")}, {"b", Object("d")}, {"z", Object(0)}},
                                    {{"a", Object("d")}, {"b", Object("d")}, {"z", Object(0)}},
                                }));

  // Once the app has logged an event since the load, defaults apply to new events only.
  storeEvent("app", "tap", kInit + 20);
  setDefaults(Dictionary{{"c", Object("c")}});
  EXPECT_EQ(codes(), (std::vector<int64_t>{23216}));
  for (const Dictionary& parameters : storedParameters()) EXPECT_FALSE(parameters.count("c"));
}

TEST_F(DefaultEventParametersTest, BackfillFailuresAreCountedAndTheOtherRowsStillRewritten) {
  for (int i = 0; i < 3; ++i) storeEvent("auto", "_e" + std::to_string(i), kInit + i);
  {
    FailingStatements failing(*database_);
    failing.failNext("UPDATE raw_events");
    failing.failNext("UPDATE raw_events");
    onWorker([&] {
      engine_->backfillEventsWithParameters({{"a", Object("d")}}, true, nullptr);
      return true;
    });
  }
  auto printedReports = reports();
  auto failed = std::find_if(printedReports.begin(), printedReports.end(),
                             [](const Report& report) { return report.code == 23271; });
  ASSERT_NE(failed, printedReports.end());
  EXPECT_NE(failed->message.find("Count, last error: 2, "), std::string::npos) << failed->message;
  const auto stored = storedParameters();
  EXPECT_EQ(std::count_if(stored.begin(), stored.end(), [](const Dictionary& p) { return p.count("a") > 0; }), 1);

  // A failed read rewrites nothing.
  {
    FailingStatements failing(*database_);
    failing.failNext("FROM raw_events");
    onWorker([&] {
      engine_->backfillEventsWithParameters({{"b", Object("d")}}, true, nullptr);
      return true;
    });
  }
  EXPECT_EQ(codes(), (std::vector<int64_t>{23270}));
  for (const Dictionary& parameters : storedParameters()) EXPECT_FALSE(parameters.count("b"));
}

TEST_F(DefaultEventParametersTest, SessionIDJoinsEventsFromItsStartWrittenWithoutASessionID) {
  const int64_t sessionID = static_cast<int64_t>(kInit) + 1000;
  const int64_t withSession = storeMetadata(true);
  struct Case {
    const char* what;
    bool storedFirstOpen;  // a first open 100 s before the session, first in row order
    std::vector<bool> joined;
  };
  for (const Case& c : std::vector<Case>{{"without a first open: from 15 s before", false,
                                          {false, true, false, true, true}},
                                         {"from the stored first open", true, {true, true, true, false, true, true}}}) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(database_->deleteRawEventsWithMaxRowID(INT64_MAX));
    if (c.storedFirstOpen) storeEvent("auto", "_f", sessionID - 100);
    storeEvent("auto", "before", sessionID - 20);
    storeEvent("app", "lead", sessionID - 10);
    storeEvent("app", "other", sessionID - 5, {}, withSession);
    storeEvent("auto", "_s", sessionID, {{"_sid", Object(sessionID)}, {"_sno", Object(7)}});
    storeEvent("app", "after", sessionID + 1);
    onWorker([&] {
      engine_->backfillSessionID(GWLValue::initWithInt64(sessionID), GWLValue::initWithInt64(3));
      return true;
    });

    const auto stored = storedParameters();
    ASSERT_EQ(stored.size(), c.joined.size());
    for (size_t i = 0; i < stored.size(); ++i) {
      SCOPED_TRACE(i);
      if (!c.joined[i]) {
        EXPECT_FALSE(stored[i].count("_sid") || stored[i].count("_sno"));
        continue;
      }
      EXPECT_EQ(stored[i].at("_sid"), Object(sessionID));
      // The session start's own number stays.
      const bool isStart = i + 2 == stored.size();
      EXPECT_EQ(stored[i].at("_sno"), Object(isStart ? 7 : 3));
    }
  }
}

TEST_F(DefaultEventParametersTest, SessionMetadataAnswersAreCachedAndAFailedReadJoinsNothing) {
  const int64_t withSession = storeMetadata(true);
  const int64_t missing = 12345;  // no metadata stored under it
  storeEvent("app", "plain", kInit, {}, plainMetadata_);
  storeEvent("app", "session", kInit, {}, withSession);
  storeEvent("app", "lost", kInit, {}, missing);
  const auto rows = database_->allRawEventsWithError().value_or(std::vector<std::shared_ptr<GWLRawEventData>>{});
  ASSERT_EQ(rows.size(), 3u);
  const GWLValue sessionID = GWLValue::initWithInt64(static_cast<int64_t>(kInit));

  GWLMeasurementOperations::FingerprintToSessionIDExistence cache;
  auto ask = [&](size_t row) {
    return onWorker([&] { return engine_->shouldBackfillSessionID(sessionID, kInit, cache, *rows[row]); });
  };
  EXPECT_TRUE(ask(0));
  EXPECT_FALSE(ask(1));
  EXPECT_EQ(cache, (GWLMeasurementOperations::FingerprintToSessionIDExistence{{plainMetadata_, false},
                                                                               {withSession, true}}));
  EXPECT_FALSE(ask(2));
  EXPECT_EQ(codes(), (std::vector<int64_t>{23273}));
  EXPECT_FALSE(cache.count(missing)) << "a failed read is asked again";

  // Cached answers are used as they stand.
  cache[plainMetadata_] = true;
  cache[withSession] = false;
  EXPECT_FALSE(ask(0));
  EXPECT_TRUE(ask(1));
  // Before the start: no, whatever the metadata.
  EXPECT_FALSE(onWorker([&] { return engine_->shouldBackfillSessionID(sessionID, kInit + 1, cache, *rows[1]); }));
}

}  // namespace
}  // namespace measurement_test
