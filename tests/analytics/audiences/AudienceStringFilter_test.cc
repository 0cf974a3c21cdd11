#include "analytics/audiences/GWLAudienceStringFilter.h"

#include <string>

#include "AudienceFiltersTestSupport.h"

namespace audience_test {
namespace {

class AudienceStringFilterTest : public AudienceFiltersTest {};

struct MatchCase {
  int32_t matchType;
  std::string expression;
  std::optional<bool> caseSensitive;
  std::string value;
  Answer expected;
  std::vector<std::string> list = {};
};

TEST_F(AudienceStringFilterTest, EveryMatchTypeWithAndWithoutCase) {
  const std::optional<bool> absent;
  const MatchCase cases[] = {
      // 1: found anywhere, compiled case-insensitive unless the flag is YES.
      {1, "b+", absent, "abbc", Answer::Yes},
      {1, "B+", absent, "abbc", Answer::Yes},
      {1, "B+", false, "abbc", Answer::Yes},
      {1, "B+", true, "abbc", Answer::No},
      {1, "^b", absent, "abbc", Answer::No},
      {1, "", absent, "abc", Answer::Yes},
      // 2: begins with.
      {2, "HEL", absent, "hello", Answer::Yes},
      {2, "HEL", false, "hello", Answer::Yes},
      {2, "HEL", true, "hello", Answer::No},
      {2, "hel", true, "hello", Answer::Yes},
      {2, "ell", absent, "hello", Answer::No},
      {2, "\xC3\x89", absent, "\xC3\xA9" "cole", Answer::Yes},  // "É" begins "école"
      // 3: ends with; an expression longer than the value is NO.
      {3, "LO", absent, "hello", Answer::Yes},
      {3, "LO", true, "hello", Answer::No},
      {3, "lo", true, "hello", Answer::Yes},
      {3, "xhello", absent, "hello", Answer::No},
      {3, "xhello", true, "hello", Answer::No},
      {3, "\xF0\x90\x90\x80", absent, "a\xF0\x90\x90\xA8", Answer::Yes},  // U+10400 folds to U+10428
      // 4: contains.
      {4, "ELL", absent, "hello", Answer::Yes},
      {4, "ELL", true, "hello", Answer::No},
      {4, "ell", true, "hello", Answer::Yes},
      {4, "elo", absent, "hello", Answer::No},
      // 5: equals; lengths must agree.
      {5, "HELLO", absent, "hello", Answer::Yes},
      {5, "HELLO", true, "hello", Answer::No},
      {5, "hello", true, "hello", Answer::Yes},
      {5, "HELL", absent, "hello", Answer::No},
      {5, "\xCE\xA3\xCE\x91\xCE\xA3", absent, "\xCF\x83\xCE\xB1\xCF\x82", Answer::Yes},  // "ΣΑΣ" and "σας"
      // 6: equals a member of the list.
      {6, "", absent, "hello", Answer::Yes, {"x", "HELLO"}},
      {6, "", true, "hello", Answer::No, {"x", "HELLO"}},
      {6, "", true, "hello", Answer::Yes, {"x", "hello"}},
      {6, "", absent, "hello", Answer::No, {"hell", "helloo"}},
      // Types beyond the table never match.
      {7, "hello", absent, "hello", Answer::No},
      {-1, "hello", absent, "hello", Answer::No},
      {0x7FFFFFFF, "hello", absent, "hello", Answer::No},
  };
  for (const auto& c : cases) {
    auto filter = stringFilter(c.matchType, c.matchType == 6 ? std::nullopt : std::optional(c.expression),
                               c.caseSensitive, c.list);
    EXPECT_EQ(answerOf(GWLAudienceEvaluateStringFilter(filter, c.value, environment())), c.expected)
        << "type " << c.matchType << " expression \"" << c.expression << "\" value \"" << c.value << "\"";
  }
  EXPECT_EQ(lines(), Lines{});
}

TEST_F(AudienceStringFilterTest, BrokenFiltersGiveNoResultWithTheirLines) {
  struct Case {
    const char* what;
    std::shared_ptr<GWLPBStringFilter> filter;
    Lines expected;
  };
  const Case cases[] = {
      {"no match type", stringFilter(std::nullopt, "a"), {{1, 9000}, {1, 9006}}},
      {"unknown match type", stringFilter(0, "a"), {{1, 9001}, {1, 9006}}},
      {"no expression", stringFilter(2), {{1, 9002}, {1, 9006}}},
      {"empty list", stringFilter(6, "a"), {{1, 9003}, {1, 9006}}},
      {"malformed expression", stringFilter(1, "a("), {{1, 9004}, {1, 9006}}},
      {"expression over the length limit", stringFilter(1, std::string(1001, 'a')), {{1, 9004}, {1, 9006}}},
      {"no filter", nullptr, {{1, 9000}, {1, 9006}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answerOf(GWLAudienceEvaluateStringFilter(c.filter, "a", environment())), Answer::None) << c.what;
    EXPECT_EQ(lines(), c.expected) << c.what;
  }
  EXPECT_EQ(answerOf(GWLAudienceEvaluateStringFilter(stringFilter(5, "a"), std::nullopt, environment())),
            Answer::None);
  EXPECT_EQ(lines(), (Lines{{1, 9005}}));
}

TEST_F(AudienceStringFilterTest, RunawayExpressionEndsWithinItsLimitWithoutResult) {
  auto filter = stringFilter(1, "(a+)+$");
  EXPECT_EQ(answerOf(GWLAudienceEvaluateStringFilter(filter, std::string(40, 'a') + "b", environment())),
            Answer::None);
  EXPECT_EQ(lines(), (Lines{{1, 9009}}));
  // The same expression on a value it can settle quickly still answers.
  EXPECT_EQ(answerOf(GWLAudienceEvaluateStringFilter(filter, "aaa", environment())), Answer::Yes);
}

TEST_F(AudienceStringFilterTest, ValidationHandsOutTheCompiledExpression) {
  std::optional<platform::BoundedRegex> compiled;
  EXPECT_TRUE(GWLAudienceValidateStringFilter(stringFilter(1, "B", true), &compiled, environment()));
  ASSERT_TRUE(compiled);
  EXPECT_FALSE(compiled->firstMatch(u"abc")->found);  // compiled with case
  EXPECT_TRUE(GWLAudienceValidateStringFilter(stringFilter(1, "B"), &compiled, environment()));
  ASSERT_TRUE(compiled);
  EXPECT_TRUE(compiled->firstMatch(u"abc")->found);
  EXPECT_TRUE(GWLAudienceValidateStringFilter(stringFilter(4, "b"), &compiled, environment()));
  EXPECT_FALSE(compiled);
  // Types beyond the table are valid with an expression; they just never match.
  EXPECT_TRUE(GWLAudienceIsValidStringFilter(stringFilter(9, "b"), environment()));
  EXPECT_FALSE(GWLAudienceIsValidStringFilter(stringFilter(9), environment()));
  EXPECT_EQ(lines(), (Lines{{1, 9002}}));
}

TEST_F(AudienceStringFilterTest, SharedCompiledExpressionsAnswerAsFreshOnes) {
  GWLAudienceFilterEnvironment shared = environment();
  shared.regexCache = std::make_shared<GWLAudienceRegexCache>();
  struct Case {
    std::shared_ptr<GWLPBStringFilter> filter;
    const char* text;
    Answer answer;
    Lines lines;
  };
  const Case cases[] = {
      {stringFilter(1, "b+"), "aBc", Answer::Yes, {}},
      {stringFilter(1, "b+", true), "aBc", Answer::No, {}},  // the same pattern with case: compiled apart
      {stringFilter(1, "b+"), "xyz", Answer::No, {}},
      {stringFilter(1, "(a"), "a", Answer::None, {{1, 9004}, {1, 9006}}},
      {stringFilter(1, "(a+)+$"), "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", Answer::None, {{1, 9009}}},
  };
  // Twice over: the second round finds every expression (and every failure) compiled.
  for (int round = 0; round < 2; ++round) {
    for (const auto& c : cases) {
      EXPECT_EQ(answerOf(GWLAudienceEvaluateStringFilter(c.filter, c.text, environment())), c.answer) << c.text;
      const Lines fresh = lines();
      EXPECT_EQ(answerOf(GWLAudienceEvaluateStringFilter(c.filter, c.text, shared)), c.answer) << c.text;
      EXPECT_EQ(lines(), fresh) << c.text;
      EXPECT_EQ(fresh, c.lines) << c.text;
    }
  }
}

}  // namespace
}  // namespace audience_test
