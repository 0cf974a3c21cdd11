#include <functional>

#include "AudienceDatabaseFixture.h"
#include "analytics/audiences/GWLAudienceLog.h"

namespace audience_test {
namespace {

using LeafResults = GWLAudienceEvaluating::LeafResults;

class AudienceUpkeepTest : public AudienceDatabaseTest {
 protected:
  bool update(const GWLAudienceEvaluating::Audiences& audiences) { return audience_->updateAudiences(audiences); }

  std::vector<int32_t> storedAudienceIDs() { return database_->allAudienceIDs().value_or(std::vector<int32_t>{}); }
  std::vector<int32_t> resultAudienceIDs() {
    std::vector<int32_t> ids;
    for (const auto& [audienceID, row] : database_->allFilterResults().value_or(
             std::map<int32_t, std::shared_ptr<GWLFilterResult>>{})) {
      ids.push_back(audienceID);
    }
    return ids;
  }

  static std::shared_ptr<GWLPBPropertyFilter> gold(int32_t filterID, unsigned kind = kPlain) {
    return withKind(propertyFilter(filterID, "tier", textCondition(stringFilter(5, "gold"))), kind);
  }

  static std::shared_ptr<GWLPBAudienceLeafFilterResult> leaf(int32_t audienceID,
                                                             const std::shared_ptr<GWLPBResultData>& current,
                                                             const std::shared_ptr<GWLPBResultData>& previous,
                                                             bool noPreviousResults) {
    using F = GWLPBAudienceLeafFilterResult::Field;
    auto message = GWLPBAudienceLeafFilterResult::initWithMessageInfo();
    NANOSetInt32(message, F::audience_id, audienceID);
    NANOSetMessage(message, F::current_results, current);
    if (previous) NANOSetMessage(message, F::previous_results, previous);
    NANOSetBool(message, F::no_previous_results, noPreviousResults);
    return message;
  }

  void expectResults(const std::vector<std::shared_ptr<GWLPBAudienceLeafFilterResult>>& expected, const char* step) {
    auto results = audience_->resultsForBundling();
    ASSERT_TRUE(results) << step;
    ASSERT_EQ(results->size(), expected.size()) << step;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(bytesOf((*results)[i]), bytesOf(expected[i]))
          << step << "\n  bundled:  " << describe((*results)[i]) << "\n  expected: " << describe(expected[i]);
    }
  }
};

TEST_F(AudienceUpkeepTest, TooManyAudiencesLeaveTheStoredOnes) {
  ASSERT_TRUE(update({audience(1, {eventFilter(0, "level_up")})}));
  GWLAudienceEvaluating::Audiences many;
  for (int32_t id = 10; id < 111; ++id) many.push_back(audience(id, {eventFilter(0, "level_up")}));
  EXPECT_TRUE(update(many));  // 101, at the default limit of 100
  EXPECT_EQ(lastSampledKey(), silent(kGWLAudienceLogTooManyAudiences));
  EXPECT_EQ(storedAudienceIDs(), std::vector<int32_t>{1});

  many.pop_back();
  EXPECT_TRUE(update(many));
  EXPECT_EQ(storedAudienceIDs().size(), 100u);

  // A configuration without audiences removes every stored filter.
  EXPECT_TRUE(update({}));
  EXPECT_TRUE(storedAudienceIDs().empty());
}

TEST_F(AudienceUpkeepTest, InvalidAudienceIsSkippedAndItsIDStaysFree) {
  // Filter ID 10 equals the default filter limit.
  ASSERT_TRUE(update({audience(1, {eventFilter(0, "level_up")}), audience(2, {eventFilter(10, "level_up")}),
                      audience(2, {eventFilter(3, "purchase")})}));
  EXPECT_EQ(lastSampledKey(), silent(kGWLAudienceLogInvalidDefinition));
  EXPECT_EQ(storedAudienceIDs(), (std::vector<int32_t>{1, 2}));
  auto levelUp = database_->eventFiltersForEventName("level_up");
  ASSERT_TRUE(levelUp);
  ASSERT_EQ(levelUp->size(), 1u);
  EXPECT_EQ((*levelUp)[0]->audienceID(), 1);
  auto purchase = database_->eventFiltersForEventName("purchase");
  ASSERT_TRUE(purchase);
  ASSERT_EQ(purchase->size(), 1u);
  EXPECT_EQ((*purchase)[0]->filterID(), 3);
}

TEST_F(AudienceUpkeepTest, PublicNamesAreStoredAsInternalNames) {
  auto clicks = [](const char* event, const char* engagement) {
    return withKind(eventFilter(0, event,
                                {numberCondition(numberFilter(2, "0"), engagement),
                                 textCondition(stringFilter(5, "x"), "level")}),
                    kDynamic | kSessionScoped);
  };
  auto user = [](const char* name) {
    return withKind(propertyFilter(2, name, textCondition(stringFilter(5, "u"))), kSequence);
  };
  ASSERT_TRUE(update({audience(7, {clicks("ad_click", "engagement_time_msec"), eventFilter(1, "level_up")},
                               {user("user_id")})}));

  auto stored = database_->eventFiltersForEventName("_ac");
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->size(), 1u);
  const auto& row = *(*stored)[0];
  EXPECT_EQ(row.data(), bytesOf(clicks("_ac", "_et")));
  EXPECT_TRUE(row.isDynamic());
  EXPECT_TRUE(row.isSessionScoped());
  EXPECT_FALSE(row.isSequence());
  EXPECT_EQ(database_->eventFiltersForEventName("ad_click")->size(), 0u);
  EXPECT_EQ(database_->eventFiltersForEventName("level_up")->size(), 1u);  // no internal name: unchanged

  auto property = database_->propertyFiltersForPropertyName("_id");
  ASSERT_TRUE(property);
  ASSERT_EQ(property->size(), 1u);
  EXPECT_EQ((*property)[0]->data(), bytesOf(user("_id")));
  EXPECT_TRUE((*property)[0]->isSequence());
}

TEST_F(AudienceUpkeepTest, AudienceWhoseFiltersNeverHeldIsReported) {
  ASSERT_TRUE(update({audience(1, {}, {gold(0)}), audience(2, {eventFilter(0, "purchase")})}));
  ASSERT_TRUE(property("tier", text("silver"), 100));
  expectResults({leaf(1, resultData({1}, {0}), nullptr, true)}, "evaluated, never held");
}

TEST_F(AudienceUpkeepTest, RowsWithoutAnEvaluatedFilterAreNeitherBundledNorRolled) {
  ASSERT_TRUE(update({audience(1, {}, {gold(0)})}));
  ASSERT_TRUE(property("tier", text("gold"), 100));
  const auto held = resultData({1}, {1});
  struct Case {
    int32_t audienceID;
    const char* what;
    std::vector<uint8_t> current;
    const GWLAudienceLogLine& line;
  };
  // Each bundle visits the rows in ascending audience ID: the last line is the new row's.
  const Case cases[] = {
      {2, "current results that do not decode", {0x0a, 0x05}, kGWLAudienceLogCurrentResultsNil},
      {3, "status words all zero", bytesOf(resultData({0, 0}, {1, 0})), kGWLAudienceLogCurrentStatusZero},
  };
  bool first = true;
  for (const auto& c : cases) {
    ASSERT_TRUE(
        database_->updateFilterResults({std::make_shared<GWLFilterResult>(c.audienceID, c.current, std::nullopt)}));
    expectResults({leaf(1, held, nullptr, first)}, c.what);
    first = false;
    EXPECT_EQ(lastSampledKey(), silent(c.line)) << c.what;
    ASSERT_TRUE(row(c.audienceID)) << c.what;
    EXPECT_EQ(row(c.audienceID)->currentResults(), std::optional<std::vector<uint8_t>>(c.current)) << c.what;
    EXPECT_FALSE(row(c.audienceID)->previousResults()) << c.what;
  }
}

TEST_F(AudienceUpkeepTest, ThreeBundles) {
  ASSERT_TRUE(update({audience(1, {withKind(eventFilter(0, "purchase"), kSequence)}, {gold(1, kDynamic)})}));

  // First bundle: no previous results.
  auto cache = audience_->newTimestampsCache();
  ASSERT_TRUE(event("purchase", 100, {}, cache));
  ASSERT_TRUE(event("purchase", 105, {}, cache));
  const auto first = resultData({1}, {1}, {}, {{0, {100, 105}}});
  expectResults({leaf(1, first, nullptr, true)}, "first bundle");

  // Unchanged: no previous results attached, and the first sequence record
  // keeps only its last time, in the bundle and in the row.
  const auto cut = resultData({1}, {1}, {}, {{0, {105}}});
  expectResults({leaf(1, cut, nullptr, false)}, "unchanged");
  EXPECT_EQ(bytesOf(current(1)), bytesOf(cut));
  EXPECT_EQ(bytesOf(previous(1)), bytesOf(first));

  // Changed: the previous results (those the last bundle rolled) are attached.
  ASSERT_TRUE(property("tier", text("gold"), 200, audience_->newTimestampsCache()));
  const auto changed = resultData({0b11}, {0b11}, {{1, 200}}, {{0, {105}}});
  expectResults({leaf(1, changed, first, false)}, "changed");
  EXPECT_EQ(bytesOf(previous(1)), bytesOf(changed));
}

TEST_F(AudienceUpkeepTest, SessionResetClearsSessionScopedFilters) {
  ASSERT_TRUE(update({
      audience(1, {}, {gold(0, kSessionScoped)}),
      audience(2, {withKind(eventFilter(0, "level_up"), kSessionScoped), eventFilter(1, "level_up"),
                   withKind(eventFilter(2, "purchase"), kSequence | kSessionScoped)}),
      audience(3, {eventFilter(0, "level_up")}),
  }));
  ASSERT_TRUE(property("tier", text("gold"), 100));
  ASSERT_TRUE(event("level_up", 100));
  ASSERT_TRUE(event("purchase", 100));
  auto before2 = row(2)->currentResults();
  auto before3 = row(3);

  EXPECT_TRUE(audience_->clearEvaluationResultsForSessionScopedFilters());
  // Nothing evaluated is left of audience 1: its row goes.
  EXPECT_FALSE(row(1));
  // Audience 2 keeps its plain filter, without the session-scoped bits and
  // times; its results before the reset become the previous ones.
  EXPECT_EQ(bytesOf(current(2)), bytesOf(resultData({0b10}, {0b10}))) << describe(current(2));
  EXPECT_EQ(row(2)->previousResults(), before2);
  // Audience 3 has no session-scoped filter.
  EXPECT_EQ(row(3)->currentResults(), before3->currentResults());
  EXPECT_EQ(row(3)->previousResults(), before3->previousResults());
}

TEST_F(AudienceUpkeepTest, StaleResultsGoOnlyOverTheLimit) {
  struct Case {
    const char* what;
    std::vector<int32_t> stored;     // audiences of the configuration in force
    std::vector<int32_t> incoming;   // audiences of the new one
    std::vector<int32_t> rows;       // result rows before the update
    std::vector<int32_t> remaining;  // result rows after it
    Lines lines;
  };
  const Case cases[] = {
      {"over the limit, every row known", {1, 2}, {3}, {1, 2, 3}, {1, 2, 3}, {{3, 6016}}},
      {"over the limit, one row of neither", {1}, {2}, {1, 2, 9}, {1, 2}, {{3, 6016}}},
      {"within the limit", {1}, {1}, {1, 9}, {1, 9}, {}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(database_->reset());
    useSettings({});
    auto audiences = [](const std::vector<int32_t>& ids) {
      GWLAudienceEvaluating::Audiences out;
      for (int32_t id : ids) out.push_back(audience(id, {eventFilter(0, "level_up")}));
      return out;
    };
    ASSERT_TRUE(update(audiences(c.stored)));
    for (int32_t id : c.rows) storeResults(id, bytesOf(resultData({1}, {1})));
    useSettings({{kGWLSettingMaxFilterResultCount, "2"}});
    lines();
    EXPECT_TRUE(update(audiences(c.incoming))) << c.what;
    EXPECT_EQ(resultAudienceIDs(), c.remaining) << c.what;
    EXPECT_EQ(lines(), c.lines) << c.what;
  }
}

TEST_F(AudienceUpkeepTest, DatabaseFailuresAnswerNo) {
  // Audience 1: a session-scoped filter alone (the reset deletes its row);
  // audience 2: a session-scoped and a plain filter (the reset rewrites it).
  const GWLAudienceEvaluating::Audiences configuration = {
      audience(1, {withKind(eventFilter(0, "level_up"), kSessionScoped)}),
      audience(2, {withKind(eventFilter(0, "level_up"), kSessionScoped), eventFilter(1, "level_up")}, {gold(2)}),
  };
  const std::function<bool()> updateAudiences = [&] { return update(configuration); };
  const std::function<bool()> bundle = [&] { return audience_->resultsForBundling().has_value(); };
  const std::function<bool()> reset = [&] { return audience_->clearEvaluationResultsForSessionScopedFilters(); };
  const std::string renameResults = "ALTER TABLE audience_filter_values RENAME TO kept";
  auto refuse = [](const char* when, const char* table) {
    return std::string("CREATE TRIGGER refused BEFORE ") + when + " ON " + table +
           " BEGIN SELECT RAISE(ABORT, 'refused'); END;";
  };
  struct Case {
    const char* what;
    std::string sql;
    const std::function<bool()>& operation;
    Lines lines;                                // printed, before the transaction's 12056
    const GWLAudienceLogLine* silent = nullptr;  // a line that only feeds the health sample
    const char* limit = "200";                   // maxFilterResultCount
  };
  const Case cases[] = {
      {"results unreadable (definitions)", renameResults, updateAudiences, {{1, 6015}}},
      {"audience IDs unreadable", "DROP TABLE property_filters", updateAudiences, {{3, 6016}, {1, 6017}}, nullptr,
       "0"},
      {"stale results not deleted", refuse("DELETE", "audience_filter_values"), updateAudiences, {{3, 6016}, {1, 6018}}, nullptr, "0"},
      {"event filters not deleted", refuse("DELETE", "event_filters"), updateAudiences, {{1, 6010}}},
      {"property filters not deleted", refuse("DELETE", "property_filters"), updateAudiences, {{1, 6011}}},
      {"event filters not saved", refuse("INSERT", "event_filters"), updateAudiences, {{1, 6012}}},
      {"property filters not saved", refuse("INSERT", "property_filters"), updateAudiences, {{1, 6013}}},
      {"results unreadable (bundle)", renameResults, bundle, {{1, 6019}}},
      {"rolled results not saved", refuse("INSERT", "audience_filter_values"), bundle, {{1, 6022}}},
      {"session-scoped filters unreadable", "DROP TABLE event_filters", reset, {{1, 6040}}},
      {"results unreadable (reset)", renameResults, reset, {{1, 6041}}},
      {"reset row not deleted", refuse("DELETE", "audience_filter_values"), reset, {{1, 6042}}},
      {"reset row not written", refuse("INSERT", "audience_filter_values"), reset, {},
       &kGWLAudienceLogUpdateResetResults},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(database_->reset());
    useSettings({});
    ASSERT_TRUE(update(configuration));
    ASSERT_TRUE(event("level_up", 100));
    ASSERT_TRUE(property("tier", text("gold"), 100));
    // A row of an audience no definition names.
    storeResults(9, bytesOf(resultData({1}, {1})));
    sql(c.sql);
    useSettings({{kGWLSettingMaxFilterResultCount, c.limit}});
    lines();
    bool answer = true;
    std::string sampled;  // before the transaction's own line
    EXPECT_FALSE(database_->performTransaction([&] {
      answer = c.operation();
      sampled = lastSampledKey();
      return answer;
    })) << c.what;
    EXPECT_FALSE(answer) << c.what;
    Lines expected = c.lines;
    expected.push_back({1, 12056});
    EXPECT_EQ(lines(), expected) << c.what;
    if (c.silent) {
      EXPECT_EQ(sampled, silent(*c.silent)) << c.what;
    }
  }
}

}  // namespace
}  // namespace audience_test
