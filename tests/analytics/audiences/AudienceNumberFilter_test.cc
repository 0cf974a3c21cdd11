#include "analytics/audiences/GWLAudienceNumberFilter.h"

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "AudienceFiltersTestSupport.h"
#include "analytics/audiences/GWLAudienceMessageDescription.h"

namespace audience_test {
namespace {

class AudienceNumberFilterTest : public AudienceFiltersTest {};

GWLDecimalNumber decimal(const std::string& text) { return *GWLDecimalNumberFromString(text); }

TEST_F(AudienceNumberFilterTest, DecimalsAndIntegersCompareExactly) {
  struct Case {
    std::shared_ptr<GWLPBNumberFilter> filter;
    std::string value;
    Answer expected;
  };
  const std::string tooLongForADouble = "9223372036854775807";
  const Case cases[] = {
      {numberFilter(1, "10"), "9", Answer::Yes},
      {numberFilter(1, "10"), "10", Answer::No},
      {numberFilter(2, "10"), "10.0001", Answer::Yes},
      {numberFilter(2, "10"), "10", Answer::No},
      {numberFilter(3, "1"), "1.0", Answer::Yes},
      {numberFilter(3, "1.0"), "1", Answer::Yes},
      {numberFilter(3, "1"), "1.00000000000000000001", Answer::No},
      {numberFilter(3, "0.1"), ".1", Answer::Yes},
      {numberFilter(3, "+2.5"), "2.5", Answer::Yes},
      {numberFilter(3, "5."), "5", Answer::Yes},
      {numberFilter(3, "-.5"), "-0.5", Answer::Yes},
      {numberFilter(3, tooLongForADouble), "9223372036854775806", Answer::No},
      {between("1", "3"), "1", Answer::Yes},
      {between("1", "3"), "3", Answer::Yes},
      {between("1", "3"), "0.999", Answer::No},
      {between("1", "3"), "3.001", Answer::No},
      {between("-1.5", "-1.5"), "-1.5", Answer::Yes},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answerOf(GWLAudienceEvaluateDecimalNumberFilter(c.filter, decimal(c.value), environment())), c.expected)
        << GWLAudienceMessageDescription(c.filter.get()) << " with " << c.value;
  }
  // Integers convert exactly, the extremes included.
  EXPECT_EQ(answerOf(GWLAudienceEvaluateIntegerNumberFilter(numberFilter(3, "1"), 1, environment())), Answer::Yes);
  EXPECT_EQ(answerOf(GWLAudienceEvaluateIntegerNumberFilter(numberFilter(3, tooLongForADouble),
                                                            std::numeric_limits<int64_t>::max(), environment())),
            Answer::Yes);
  EXPECT_EQ(answerOf(GWLAudienceEvaluateIntegerNumberFilter(numberFilter(3, tooLongForADouble),
                                                            std::numeric_limits<int64_t>::max() - 1, environment())),
            Answer::No);
  EXPECT_EQ(answerOf(GWLAudienceEvaluateIntegerNumberFilter(numberFilter(1, "-9223372036854775807"),
                                                            std::numeric_limits<int64_t>::min(), environment())),
            Answer::Yes);
  EXPECT_EQ(lines(), Lines{});
}

TEST_F(AudienceNumberFilterTest, DoublesCompareAsDoubles) {
  const double tenth = 0.1;
  const double up1 = std::nextafter(tenth, 1.0), up2 = std::nextafter(up1, 1.0), up3 = std::nextafter(up2, 1.0);
  const double down1 = std::nextafter(tenth, 0.0), down2 = std::nextafter(down1, 0.0);
  struct Case {
    std::shared_ptr<GWLPBNumberFilter> filter;
    double value;
    Answer expected;
  };
  const Case cases[] = {
      {numberFilter(1, "2.5"), 2.4, Answer::Yes},
      {numberFilter(1, "2.5"), 2.5, Answer::No},
      {numberFilter(2, "2.5"), 2.6, Answer::Yes},
      {numberFilter(2, "+2.5"), 2.6, Answer::Yes},
      {numberFilter(2, "+2.5"), 2.5, Answer::No},
      {numberFilter(3, ".5"), 0.5, Answer::Yes},
      {numberFilter(3, "5."), 5.0, Answer::Yes},
      {numberFilter(3, "-.5"), -0.5, Answer::Yes},
      // Equality is a band of one representable step on either side.
      {numberFilter(3, "0.1"), tenth, Answer::Yes},
      {numberFilter(3, "0.1"), up1, Answer::Yes},
      {numberFilter(3, "0.1"), up2, Answer::No},
      {numberFilter(3, "0.1"), up3, Answer::No},
      {numberFilter(3, "0.1"), down1, Answer::Yes},
      {numberFilter(3, "0.1"), down2, Answer::No},
      {between("1", "3"), 1.0, Answer::Yes},
      {between("1", "3"), 3.0, Answer::Yes},
      {between("1", "3"), std::nextafter(3.0, 4.0), Answer::No},
      {between("1", "3"), std::nextafter(1.0, 0.0), Answer::No},
      {between("+1.5", "2."), 2.0, Answer::Yes},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answerOf(GWLAudienceEvaluateDoubleNumberFilter(c.filter, c.value, environment())), c.expected)
        << GWLAudienceMessageDescription(c.filter.get()) << " with " << c.value;
  }
  EXPECT_EQ(lines(), Lines{});

  // A comparison text beyond the range of doubles cannot be compared.
  EXPECT_EQ(answerOf(GWLAudienceEvaluateDoubleNumberFilter(numberFilter(1, "1" + std::string(400, '0')), 1.0,
                                                           environment())),
            Answer::None);
  EXPECT_EQ(lines(), (Lines{{1, 8012}}));
}

TEST_F(AudienceNumberFilterTest, DoubleComparisonTextsReadTheSameInEveryLocale) {
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  const bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
  EXPECT_EQ(GWLAudienceDoubleFromDecimalString("+2.5"), 2.5);
  EXPECT_EQ(GWLAudienceDoubleFromDecimalString("-.25"), -0.25);
  EXPECT_EQ(GWLAudienceDoubleFromDecimalString("7."), 7.0);
  EXPECT_EQ(GWLAudienceDoubleFromDecimalString("2,5"), std::nullopt);
  EXPECT_EQ(GWLAudienceDoubleFromDecimalString("1e5"), std::nullopt);
  std::setlocale(LC_NUMERIC, before.c_str());
  if (!switched) GTEST_LOG_(INFO) << "no locale with a decimal comma installed; read in the C locale only";
}

TEST_F(AudienceNumberFilterTest, InvalidConditionsGiveNoResultWithTheirLines) {
  struct Case {
    const char* what;
    std::shared_ptr<GWLPBNumberFilter> filter;
    Lines expected;
  };
  const std::string fortyDigits(40, '7');
  const Case cases[] = {
      {"no comparison type", numberFilter(std::nullopt, "1"), {{1, 8006}}},
      {"comparison type 0", numberFilter(0, "1"), {{1, 8007}}},
      {"comparison type 5", numberFilter(5, "1"), {{1, 8011}}},
      {"negative comparison type", numberFilter(-3, "1"), {{1, 8011}}},
      {"no comparison value", numberFilter(1), {{1, 8008}}},
      {"exponent in the comparison value", numberFilter(2, "1e5"), {{1, 8008}}},
      {"between without bounds", numberFilter(4, "1"), {{1, 8009}, {1, 8010}}},
      {"between without a maximum", numberFilter(4, std::nullopt, "1"), {{1, 8010}}},
      {"between with a bad minimum", between("x", "2"), {{1, 8009}}},
      {"more digits than a decimal keeps", numberFilter(3, fortyDigits), {{1, 8002}, {1, 8015}}},
      {"minimum with too many digits", between(fortyDigits, "1"), {{1, 8004}, {1, 8015}}},
      {"maximum with too many digits", between("1", fortyDigits), {{1, 8005}, {1, 8015}}},
      {"no filter", nullptr, {{1, 8006}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answerOf(GWLAudienceEvaluateDecimalNumberFilter(c.filter, decimal("1"), environment())), Answer::None)
        << c.what;
    EXPECT_EQ(lines(), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace audience_test
