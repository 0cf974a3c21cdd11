#include "analytics/audiences/GWLAudienceFilterEvaluation.h"

#include <cmath>
#include <limits>
#include <string>

#include "AudienceFiltersTestSupport.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/values/GWLUserAttribute.h"

namespace audience_test {
namespace {

class AudienceFilterEvaluationTest : public AudienceFiltersTest {
 protected:
  static GWLValue text(const std::string& value) { return *GWLValue::initWithString(value); }
};

TEST_F(AudienceFilterEvaluationTest, ValueAgainstACondition) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  auto equalsOne = numberCondition(numberFilter(3, "1"));
  auto equalsGold = textCondition(stringFilter(5, "gold"));
  struct Case {
    const char* what;
    std::shared_ptr<GWLPBFilter> filter;
    GWLValue value;
    Answer expected;
    Lines lines;
  };
  const Case cases[] = {
      {"integer under a number condition", equalsOne, GWLValue::initWithInt64(1), Answer::Yes, {}},
      {"decimal text under a number condition", equalsOne, text("1.0"), Answer::Yes, {}},
      {"double under a number condition", equalsOne, GWLValue::initWithDouble(1.0), Answer::Yes, {}},
      {"other integer", equalsOne, GWLValue::initWithInt64(2), Answer::No, {}},
      {"letters after the digits", equalsOne, text("1.0abc"), Answer::None, {{3, 7001}}},
      {"NaN", equalsOne, GWLValue::initWithDouble(nan), Answer::None, {{3, 7002}}},
      {"infinity", equalsOne, GWLValue::initWithDouble(-infinity), Answer::None, {{3, 7002}}},
      {"array", equalsOne, *GWLValue::initWithArray(platform::Array{}), Answer::None, {}},
      {"text under a string condition", equalsGold, text("GOLD"), Answer::Yes, {}},
      {"integer under a string condition", equalsGold, GWLValue::initWithInt64(1), Answer::None, {{3, 7003}}},
      {"no condition", condition(nullptr, nullptr), GWLValue::initWithInt64(1), Answer::None, {{1, 7000}}},
      {"the number condition decides when both are present",
       condition(stringFilter(5, "gold"), numberFilter(3, "5")), GWLValue::initWithInt64(5), Answer::Yes, {}},
      {"between doubles", numberCondition(between("1", "3")), GWLValue::initWithDouble(3.0), Answer::Yes, {}},
      // The complement flips YES and NO and leaves no result.
      {"complement of YES", condition(nullptr, numberFilter(3, "1"), std::nullopt, true), GWLValue::initWithInt64(1),
       Answer::No, {}},
      {"complement of NO", condition(stringFilter(5, "gold"), nullptr, std::nullopt, true), text("silver"),
       Answer::Yes, {}},
      {"complement of no result", condition(nullptr, numberFilter(3, "1"), std::nullopt, true), text("x1"),
       Answer::None, {{3, 7001}}},
      {"complement NO leaves the answer", condition(nullptr, numberFilter(3, "1"), std::nullopt, false),
       GWLValue::initWithInt64(1), Answer::Yes, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answerOf(GWLAudienceEvaluateParameterValue(c.filter, c.value, environment())), c.expected) << c.what;
    EXPECT_EQ(lines(), c.lines) << c.what;
  }
}

class AudienceEventFilterTest : public AudienceFilterEvaluationTest {
 protected:
  std::optional<bool> evaluate(const std::shared_ptr<GWLPBEventFilter>& filter, const std::string& name = "purchase") {
    return GWLAudienceEvaluateEventFilter(filter, name, parameters_, aggregates_, environment());
  }

  GWLParameters parameters_{{"value", GWLValue::initWithDouble(9.5)},
                            {"currency", *GWLValue::initWithString("EUR")},
                            {"quantity", GWLValue::initWithInt64(3)}};
  // Five in the app's lifetime, two in this session.
  std::shared_ptr<GWLEventAggregates> aggregates_ = GWLEventAggregates::initWithName("purchase", 5, 0, 2, 0);
};

TEST_F(AudienceEventFilterTest, NameAndOccurrenceCount) {
  EXPECT_EQ(answerOf(evaluate(eventFilter(1, "purchase"))), Answer::Yes);  // no conditions: every event of the name
  EXPECT_EQ(lines(), Lines{});

  struct Case {
    const char* what;
    std::shared_ptr<GWLPBEventFilter> filter;
    Answer expected;
  };
  const Case cases[] = {
      {"lifetime count", eventFilter(1, "purchase", {}, numberFilter(3, "5")), Answer::Yes},
      {"lifetime count, not the session's", eventFilter(1, "purchase", {}, numberFilter(3, "2")), Answer::No},
      {"session count of a session-scoped filter", eventFilter(1, "purchase", {}, numberFilter(3, "2"), true),
       Answer::Yes},
      {"session count, not the lifetime's", eventFilter(1, "purchase", {}, numberFilter(3, "5"), true), Answer::No},
      {"a count that fails ends before the parameters",
       eventFilter(1, "purchase", {numberCondition(numberFilter(3, "1"), "missing")}, numberFilter(1, "2")),
       Answer::No},
      {"count and parameters together",
       eventFilter(1, "purchase", {numberCondition(numberFilter(2, "9"), "value")}, numberFilter(2, "4")),
       Answer::Yes},
  };
  for (const auto& c : cases) EXPECT_EQ(answerOf(evaluate(c.filter)), c.expected) << c.what;
  EXPECT_EQ(lines(), Lines{});
}

TEST_F(AudienceEventFilterTest, ParameterConditionsInOrder) {
  struct Case {
    const char* what;
    std::vector<std::shared_ptr<GWLPBFilter>> conditions;
    Answer expected;
    Lines lines;
  };
  const Case cases[] = {
      {"all hold",
       {numberCondition(between("9", "10"), "value"), textCondition(stringFilter(5, "eur"), "currency"),
        numberCondition(numberFilter(3, "3"), "quantity")},
       Answer::Yes,
       {}},
      {"the first that fails answers",
       {numberCondition(numberFilter(1, "1"), "quantity"), numberCondition(numberFilter(3, "1"), "missing")},
       Answer::No,
       {}},
      {"a missing parameter is no result, not NO", {numberCondition(numberFilter(3, "1"), "missing")}, Answer::None,
       {{3, 7009}}},
      {"a string parameter under a number-only condition", {numberCondition(numberFilter(3, "1"), "currency")},
       Answer::None,
       {{3, 7010}}},
      {"a condition without a parameter name", {numberCondition(numberFilter(3, "1"))}, Answer::None, {{1, 7008}}},
      {"a double parameter under a string condition", {textCondition(stringFilter(5, "9.5"), "value")},
       Answer::None,
       {{3, 7003}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answerOf(evaluate(eventFilter(1, "purchase", c.conditions))), c.expected) << c.what;
    EXPECT_EQ(lines(), c.lines) << c.what;
  }
}

TEST_F(AudienceEventFilterTest, FiltersThatDoNotFitTheEvent) {
  struct Case {
    const char* what;
    std::shared_ptr<GWLPBEventFilter> filter;
    std::string eventName;
    Lines lines;
  };
  const Case cases[] = {
      {"no filter", nullptr, "purchase", {{1, 7004}}},
      {"no event name", eventFilter(1, "purchase"), "", {{1, 7005}}},
      {"another event's filter", eventFilter(1, "login"), "purchase", {{1, 7006}}},
      {"a filter without event name", eventFilter(1, std::nullopt), "purchase", {{1, 7006}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answerOf(evaluate(c.filter, c.eventName)), Answer::None) << c.what;
    EXPECT_EQ(lines(), c.lines) << c.what;
  }
  // A count condition needs the aggregates of this very event.
  aggregates_ = GWLEventAggregates::initWithName("login", 5, 0, 2, 0);
  EXPECT_EQ(answerOf(evaluate(eventFilter(1, "purchase", {}, numberFilter(3, "5")))), Answer::None);
  aggregates_ = nullptr;
  EXPECT_EQ(answerOf(evaluate(eventFilter(1, "purchase", {}, numberFilter(3, "5")))), Answer::None);
  EXPECT_EQ(lines(), (Lines{{1, 7007}, {1, 7007}}));
}

TEST_F(AudienceEventFilterTest, LinesCarryTheirContexts) {
  EXPECT_EQ(answerOf(evaluate(eventFilter(1, "purchase", {numberCondition(numberFilter(3, "1"), "missing")}))),
            Answer::None);
  auto reports = this->reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].message.find("Event does not have parameter required by filter"), std::string::npos);
  EXPECT_NE(reports[0].message.find("purchase"), std::string::npos);
  EXPECT_NE(reports[0].message.find("currency"), std::string::npos);          // the event's parameters
  EXPECT_NE(reports[0].message.find("parameter_name: \"missing\""), std::string::npos);  // the condition
}

class AudiencePropertyFilterTest : public AudienceFilterEvaluationTest {
 protected:
  static std::shared_ptr<GWLUserAttribute> property(const std::string& name, const GWLValue& value) {
    return GWLUserAttribute::initWithOrigin("app", name, value, 0);
  }
};

TEST_F(AudiencePropertyFilterTest, PropertyValueAgainstItsCondition) {
  struct Case {
    const char* what;
    std::shared_ptr<GWLPBPropertyFilter> filter;
    std::shared_ptr<GWLUserAttribute> attribute;
    Answer expected;
    Lines lines;
  };
  auto equalsOne = propertyFilter(1, "level", numberCondition(numberFilter(3, "1")));
  const Case cases[] = {
      {"decimal text equals the integer comparison value", equalsOne, property("level", text("1.0")), Answer::Yes,
       {}},
      {"integer property", equalsOne, property("level", GWLValue::initWithInt64(1)), Answer::Yes, {}},
      {"letters after the digits", equalsOne, property("level", text("1.0x")), Answer::None, {{3, 7001}}},
      {"string condition", propertyFilter(1, "plan", textCondition(stringFilter(4, "GOLD"))),
       property("plan", text("gold-yearly")), Answer::Yes, {}},
      {"no filter", nullptr, property("level", text("1")), Answer::None, {{1, 7011}}},
      {"no user property", equalsOne, nullptr, Answer::None, {{1, 7012}}},
      {"another property's filter", equalsOne, property("plan", text("1")), Answer::None, {{1, 7013}}},
      {"a filter without property name", propertyFilter(1, std::nullopt, numberCondition(numberFilter(3, "1"))),
       property("level", text("1")), Answer::None, {{1, 7013}}},
      {"a filter without condition", propertyFilter(1, "level", nullptr), property("level", text("1")),
       Answer::None, {{1, 7014}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answerOf(GWLAudienceEvaluatePropertyFilter(c.filter, c.attribute, environment())), c.expected)
        << c.what;
    EXPECT_EQ(lines(), c.lines) << c.what;
  }
}

}  // namespace
}  // namespace audience_test
