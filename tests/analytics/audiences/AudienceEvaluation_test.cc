#include <limits>

#include "AudienceDatabaseFixture.h"
#include "analytics/audiences/GWLAudienceEvaluation.h"
#include "analytics/audiences/GWLAudienceLog.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/values/GWLEvent.h"

namespace audience_test {
namespace {

// Two audiences:
//   1:  0  event "level_up", plain, "level" > 5
//       1  event "level_up", dynamic, "level" > 5
//      64  property "tier", dynamic, equals "gold"
//   2:  0  property "tier", session scoped, equals "gold"
//       1  event "purchase", sequence, no condition
//       2  property "score", dynamic, equals 3
class AudienceEvaluationTest : public AudienceDatabaseTest {
 protected:
  void SetUp() override {
    AudienceDatabaseTest::SetUp();
    storeFixture();
  }

  void storeFixture() {
    auto levelAbove5 = [] { return std::vector{numberCondition(numberFilter(2, "5"), "level")}; };
    storeEventFilter(1, eventFilter(0, "level_up", levelAbove5()));
    storeEventFilter(1, withKind(eventFilter(1, "level_up", levelAbove5()), kDynamic));
    storePropertyFilter(1, withKind(propertyFilter(64, "tier", textCondition(stringFilter(5, "gold"))), kDynamic));
    storePropertyFilter(2,
                        withKind(propertyFilter(0, "tier", textCondition(stringFilter(5, "gold"))), kSessionScoped));
    storeEventFilter(2, withKind(eventFilter(1, "purchase"), kSequence));
    storePropertyFilter(2, withKind(propertyFilter(2, "score", numberCondition(numberFilter(3, "3"))), kDynamic));
  }

  static GWLParameters level(int64_t value) { return {{"level", GWLValue::initWithInt64(value)}}; }

  void expectCurrent(int32_t audienceID, const std::shared_ptr<GWLPBResultData>& expected, const char* step) {
    auto stored = current(audienceID);
    EXPECT_EQ(bytesOf(stored), bytesOf(expected)) << step << "\n  stored:   " << describe(stored)
                                                  << "\n  expected: " << describe(expected);
  }

  int64_t writesOf(int32_t audienceID) {
    auto rows = database_->sqliteStore()->recordsForQuery(
        "SELECT COUNT(*) AS n FROM result_writes WHERE audience_id = ?", {int64_t{audienceID}});
    return rows && !rows->empty() ? rows->front().at("n").intValue().value_or(-1) : -1;
  }
};

TEST_F(AudienceEvaluationTest, EventFiltersPlainAndDynamic) {
  countResultWrites();

  // Both filters of audience 1 hold: one row saved, the dynamic one keeps its time.
  ASSERT_TRUE(event("level_up", 100.75, level(7)));
  expectCurrent(1, resultData({0b11}, {0b11}, {{1, 100}}), "first match");
  EXPECT_EQ(writesOf(1), 1);
  EXPECT_FALSE(row(2));

  // Without the parameter: the plain filter is not evaluated again (one 7009,
  // from the dynamic filter alone), and the row is not rewritten.
  ASSERT_TRUE(event("level_up", 150, {}));
  EXPECT_EQ(lines(), (Lines{{3, 7009}}));
  EXPECT_EQ(writesOf(1), 1);

  // A dynamic filter that no longer matches stays true and keeps its time.
  ASSERT_TRUE(event("level_up", 200, level(2)));
  expectCurrent(1, resultData({0b11}, {0b11}, {{1, 100}}), "no match");

  // A later match moves the time; a match at the same time logs 6037 and keeps it.
  ASSERT_TRUE(event("level_up", 300, level(9)));
  expectCurrent(1, resultData({0b11}, {0b11}, {{1, 300}}), "later match");
  ASSERT_TRUE(event("level_up", 300, level(9)));
  EXPECT_EQ(lastSampledKey(), silent(kGWLAudienceLogEarlierEvaluationTimestamp));
  expectCurrent(1, resultData({0b11}, {0b11}, {{1, 300}}), "same time");
  EXPECT_TRUE(lines().empty());

  // A time beyond the range of whole seconds is kept as the largest one.
  ASSERT_TRUE(event("level_up", 1e300, level(9)));
  expectCurrent(1, resultData({0b11}, {0b11}, {{1, std::numeric_limits<int64_t>::max()}}), "far future");
}

TEST_F(AudienceEvaluationTest, PropertyFiltersAndTheSecondWord) {
  ASSERT_TRUE(event("level_up", 50, level(7)));
  expectCurrent(1, resultData({0b11}, {0b11}, {{1, 50}}), "one word");

  // Filter 64 is bit 0 of word 1: the row grows to two words, keeping the
  // times of the audience's other filters.
  ASSERT_TRUE(property("tier", text("gold"), 100));
  expectCurrent(1, resultData({0b11, 1}, {0b11, 1}, {{1, 50}, {64, 100}}), "gold, audience 1");
  expectCurrent(2, resultData({1}, {1}, {{0, 100}}), "gold, audience 2");

  // The dynamic property filter turns false with its status bit set; the
  // session-scoped one keeps holding until the session's reset.
  ASSERT_TRUE(property("tier", text("silver"), 200));
  expectCurrent(1, resultData({0b11, 1}, {0b11, 0}, {{1, 50}, {64, 100}}), "silver, audience 1");
  expectCurrent(2, resultData({1}, {1}, {{0, 100}}), "silver, audience 2");
  EXPECT_TRUE(lines().empty());
}

TEST_F(AudienceEvaluationTest, RowWithoutStatusCountsAsNotTrue) {
  // Filter 0 reads true in `results`, but `status` is empty.
  storeResults(1, bytesOf(resultData({}, {1})));
  ASSERT_TRUE(event("level_up", 100, level(2)));
  EXPECT_EQ(lastSampledKey(), silent(kGWLAudienceLogResultMissingWords));
  expectCurrent(1, resultData({0b11}, {0}), "evaluated as not true");
}

TEST_F(AudienceEvaluationTest, SequenceTimesOncePerSecondAndOnlyTheLastCarried) {
  auto cache = audience_->newTimestampsCache();
  for (double time : {100.2, 100.7, 102.5}) ASSERT_TRUE(event("purchase", time, {}, cache));
  expectCurrent(2, resultData({0b10}, {0b10}, {}, {{1, {100, 102}}}), "one bundle");

  // The next bundle starts from the last stored time only.
  ASSERT_TRUE(event("purchase", 200, {}, audience_->newTimestampsCache()));
  expectCurrent(2, resultData({0b10}, {0b10}, {}, {{1, {102, 200}}}), "next bundle");
}

TEST_F(AudienceEvaluationTest, WirePropertyValues) {
  using F = GWLPBUserAttribute::Field;
  auto wire = [](std::optional<std::string> name, std::optional<std::string> string, std::optional<double> number,
                 std::optional<int64_t> integer) {
    auto attribute = GWLPBUserAttribute::initWithMessageInfo();
    NANOSetInt64(attribute, F::set_timestamp, 5'000);
    if (name) NANOSetString(attribute, F::name, *name);
    if (string) NANOSetString(attribute, F::string_value, *string);
    if (number) NANOSetDouble(attribute, F::double_value, *number);
    if (integer) NANOSetInt64(attribute, F::int_value, *integer);
    return attribute;
  };
  // "score" with only a float value (tag 5): the float is not read.
  const std::vector<uint8_t> floatOnly = {0x12, 5, 's', 'c', 'o', 'r', 'e', 0x2D, 0x00, 0x00, 0x40, 0x40};
  struct Case {
    const char* what;
    std::shared_ptr<GWLPBUserAttribute> attribute;
    bool answer;
    bool holds;  // filter 2 of audience 2 afterwards
  };
  const Case cases[] = {
      {"the double before the integer", wire("score", std::nullopt, 3.0, 4), true, true},
      {"an integer alone", wire("score", std::nullopt, std::nullopt, 4), true, false},
      {"the string before the double", wire("score", "3", 4.0, std::nullopt), true, true},
      {"only a float", GWLPBUserAttribute::initWithBuffer(floatOnly), false, true},
      {"no value", wire("score", std::nullopt, std::nullopt, std::nullopt), false, true},
      {"no name", wire(std::nullopt, "3", std::nullopt, std::nullopt), false, true},
  };
  double time = 100;
  for (const auto& c : cases) {
    ASSERT_TRUE(c.attribute) << c.what;
    EXPECT_EQ(audience_->evaluateFiltersForNanoUserProperty(c.attribute, nullptr, time += 10), c.answer) << c.what;
    if (!c.answer) {
      EXPECT_EQ(lastSampledKey(), silent(kGWLAudienceLogNanoUserPropertyUnreadable)) << c.what;
    }
    EXPECT_EQ(GWLAudienceResultWords::isSet(GWLAudienceResultWords::of(current(2)).results, 2), c.holds) << c.what;
  }

  // Without an evaluation time the property's set time (5000 ms) is taken.
  ASSERT_TRUE(database_->deleteFilterResults({std::make_shared<GWLFilterResult>(2, std::nullopt, std::nullopt)}));
  ASSERT_TRUE(audience_->evaluateFiltersForNanoUserProperty(wire("score", "3", std::nullopt, std::nullopt), nullptr,
                                                            std::nullopt));
  expectCurrent(2, resultData({0b100}, {0b100}, {{2, 5}}), "set time");
}

TEST_F(AudienceEvaluationTest, DamagedFilterRowsAreSkipped) {
  // A row whose data does not decode, and rows whose filter IDs no
  // configuration can give: each logs its line and is left out.
  const std::vector<uint8_t> broken = {0x0A, 0xFF};
  ASSERT_TRUE(database_->updateEventFilters(
      {std::make_shared<GWLEventFilter>(3, 0, "level_up", broken, false, false, false),
       std::make_shared<GWLEventFilter>(4, -1, "level_up", bytesOf(eventFilter(0, "level_up")), false, false, false),
       std::make_shared<GWLEventFilter>(5, 100, "level_up", bytesOf(eventFilter(0, "level_up")), false, false,
                                        false)}));
  ASSERT_TRUE(database_->updatePropertyFilters(
      {std::make_shared<GWLPropertyFilter>(3, 5, "tier", broken, false, false, false),
       std::make_shared<GWLPropertyFilter>(4, std::numeric_limits<int32_t>::min(), "tier",
                                           bytesOf(propertyFilter(0, "tier", textCondition(stringFilter(5, "gold")))),
                                           false, false, false)}));
  // One bundle: a broken filter logs at every evaluation of it.
  auto cache = audience_->newTimestampsCache();
  ASSERT_TRUE(event("level_up", 100, level(7), cache));
  ASSERT_TRUE(property("tier", text("gold"), 100, cache));
  ASSERT_TRUE(event("level_up", 101, level(7), cache));
  EXPECT_EQ(lines(), (Lines{{1, 6035}, {1, 6035}, {1, 6035}, {1, 6036}, {1, 6036}, {1, 6035}, {1, 6035}, {1, 6035}}));
  for (int32_t audienceID : {3, 4, 5}) EXPECT_FALSE(row(audienceID)) << audienceID;
  expectCurrent(1, resultData({0b11, 1}, {0b11, 1}, {{1, 101}, {64, 100}}), "the sound filters");
}

TEST_F(AudienceEvaluationTest, DatabaseFailuresAnswerNoAndChangeNothing) {
  struct Case {
    const char* what;
    const char* sql;
    int32_t refusedAudience;  // result writes of this audience fail; 0: none
    bool byEvent;             // an event "level_up" (audience 1), else the property "tier" (audiences 1 and 2)
    Lines lines;
  };
  const Case cases[] = {
      {"event filters unreadable", "DROP TABLE event_filters", 0, true, {{1, 6000}}},
      {"property filters unreadable", "DROP TABLE property_filters", 0, false, {{1, 6004}}},
      {"result row unreadable for an event", "ALTER TABLE audience_filter_values RENAME TO kept", 0, true,
       {{1, 6001}}},
      {"result row unreadable for a property", "ALTER TABLE audience_filter_values RENAME TO kept", 0, false,
       {{1, 6005}}},
      {"event results refused", "", 1, true, {{1, 6003}}},
      // Audience 1's row is written before audience 2's is refused.
      {"property results refused", "", 2, false, {{1, 6007}}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(database_->reset());
    storeFixture();
    const auto before = bytesOf(resultData({1}, {1}));
    storeResults(1, before);
    if (*c.sql) sql(c.sql);
    if (c.refusedAudience) failResultWrites(c.refusedAudience);
    lines();
    // The engine runs each evaluation inside its bundle's transaction.
    bool answer = true;
    const bool committed = database_->performTransaction([&] {
      answer = c.byEvent ? event("level_up", 100, level(7)) : property("tier", text("gold"), 100);
      return answer;
    });
    EXPECT_FALSE(answer) << c.what;
    EXPECT_FALSE(committed) << c.what;
    Lines expected = c.lines;
    expected.push_back({1, 12056});  // the rolled-back transaction
    EXPECT_EQ(lines(), expected) << c.what;
    if (c.refusedAudience) {
      EXPECT_EQ(row(1)->currentResults(), before) << c.what;
      EXPECT_FALSE(row(2)) << c.what;
    }
  }
}

TEST_F(AudienceEvaluationTest, TheEngineMakesItsEvaluatorThroughTheInstalledMaker) {
  using Hook = GWLInstalledHook<GWLAudienceEvaluatorMaker>;
  auto levelUp = GWLEvent::initWithOrigin("app", false, "level_up", 100, 0, platform::Dictionary{{"level", 7}},
                                          GWLValueLimits{});
  ASSERT_TRUE(levelUp);

  // Until the audiences layer's maker is installed, the engine gets the do-nothing evaluator.
  Hook::resetForTesting();
  auto idle = Hook::get()->audienceWithDatabase(database_);
  ASSERT_TRUE(idle);
  EXPECT_FALSE(idle->newTimestampsCache());
  EXPECT_TRUE(idle->evaluateFiltersForEvent(levelUp, aggregates("level_up"), nullptr));
  EXPECT_FALSE(row(1));
  EXPECT_FALSE(Hook::get()->audienceWithDatabase(nullptr));

  GWLAudience::Dependencies dependencies;
  dependencies.monitor = monitor_;
  dependencies.remoteConfig = [config = config_] { return config; };
  Hook::install(std::make_shared<GWLAudience::Maker>(dependencies));
  auto made = Hook::get()->audienceWithDatabase(database_);
  EXPECT_TRUE(std::dynamic_pointer_cast<GWLAudience>(made));
  EXPECT_FALSE(Hook::get()->audienceWithDatabase(nullptr));
  ASSERT_TRUE(made->evaluateFiltersForEvent(levelUp, aggregates("level_up"), made->newTimestampsCache()));
  expectCurrent(1, resultData({0b11}, {0b11}, {{1, 100}}), "through the seam");
  Hook::resetForTesting();
}

TEST(AudienceResultBits, WordsAndBits) {
  struct Case {
    int32_t filterID;
    int32_t word;
    int32_t bit;
  };
  for (const auto& c : {Case{0, 0, 0}, Case{63, 0, 63}, Case{64, 1, 0}, Case{99, 1, 35}}) {
    EXPECT_EQ(GWLAudienceResultWordIndex(c.filterID), c.word) << c.filterID;
    EXPECT_EQ(GWLAudienceResultBitIndex(c.filterID), c.bit) << c.filterID;
  }
  // Reading is bounds-safe whatever the list lengths; writing makes them equal.
  GWLAudienceResultWords words{{0, 1}, {}};
  EXPECT_FALSE(GWLAudienceResultWords::isSet(words.results, 64));
  EXPECT_FALSE(GWLAudienceResultWords::isSet(words.status, -64));
  words.setBits(64, true, true);
  EXPECT_EQ(words.results, (std::vector<uint64_t>{0, 1}));
  words.setBits(100, true, true);
  words.setBits(-1, true, true);
  EXPECT_EQ(words.status, (std::vector<uint64_t>{0, 1}));
  words.clearBits(64);
  words.clearBits(70000);
  EXPECT_EQ(words.status, (std::vector<uint64_t>{0, 0}));
}

}  // namespace
}  // namespace audience_test
