#include "platform/text/BoundedRegex.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::BoundedRegex;
using platform::RegexError;
using platform::RegexFailure;

constexpr platform::RegexLimits kLimits{100, 300, 1 << 20};

TEST(BoundedRegexTest, FindsTheFirstMatchAnywhereInUtf16Units) {
  struct Case {
    const char* pattern;
    bool caseInsensitive;
    std::u16string text;
    bool found;
    size_t start, end;
  };
  const Case cases[] = {
      {"b+", false, u"abbc", true, 1, 3},
      {"B+", false, u"abbc", false, 0, 0},
      {"B+", true, u"abbc", true, 1, 3},
      {"^bc$", false, u"abc", false, 0, 0},
      {"c", false, u"\U0001F600c", true, 2, 3},  // a character beyond the BMP takes two units
      {"", false, u"abc", true, 0, 0},
  };
  for (const auto& c : cases) {
    RegexError error;
    auto regex = BoundedRegex::compile(std::string(c.pattern), {c.caseInsensitive}, kLimits, &error);
    ASSERT_TRUE(regex) << c.pattern;
    auto match = regex->firstMatch(c.text, &error);
    ASSERT_TRUE(match) << c.pattern;
    EXPECT_EQ(match->found, c.found) << c.pattern;
    if (c.found) {
      EXPECT_EQ(match->start, c.start) << c.pattern;
      EXPECT_EQ(match->end, c.end) << c.pattern;
    }
  }
}

TEST(BoundedRegexTest, ClassesAreUnicodeClasses) {
  const struct {
    const char* pattern;
    std::u16string text;
    bool found;
  } cases[] = {
      {R"(^\+[1-9]\d{1,14}$)", u"+5551234567", true},
      {R"(^\+[1-9]\d{1,14}$)", u"+5\u0665", true},  // Arabic-Indic five is a \d
      {R"(^\+[1-9]\d{1,14}$)", u"+0551234567", false},
      {R"(^\+[1-9]\d{1,14}$)", u"+1234567890123456", false},
      {R"(\S+@\S+\.\S+)", u"say hi to a@b.example now", true},  // any match range counts
      {R"(\S+@\S+\.\S+)", u"a\u00A0@b.example", false},      // U+00A0 is not \S
  };
  for (const auto& c : cases) {
    auto regex = BoundedRegex::compile(std::string_view(c.pattern), {}, kLimits);
    ASSERT_TRUE(regex) << c.pattern;
    auto match = regex->firstMatch(c.text);
    ASSERT_TRUE(match) << c.pattern;
    EXPECT_EQ(match->found, c.found) << c.pattern;
  }
}

TEST(BoundedRegexTest, RefusesMalformedAndOverlongPatterns) {
  RegexError error;
  EXPECT_FALSE(BoundedRegex::compile(std::string("a)"), {}, kLimits, &error));
  EXPECT_EQ(error.failure, RegexFailure::kMalformed);
  EXPECT_EQ(error.engineStatus, 66310);  // U_REGEX_MISMATCHED_PAREN
  EXPECT_EQ(error.engineStatusName, "U_REGEX_MISMATCHED_PAREN");
  EXPECT_EQ(error.toError().domain, platform::kRegexErrorDomain);
  EXPECT_EQ(error.toError().code, static_cast<int64_t>(RegexFailure::kMalformed));

  EXPECT_TRUE(BoundedRegex::compile(std::string(100, 'a'), {}, kLimits));
  EXPECT_FALSE(BoundedRegex::compile(std::string(101, 'a'), {}, kLimits, &error));
  EXPECT_EQ(error.failure, RegexFailure::kPatternTooLong);
  // Counted in UTF-16 units, not bytes: 100 two-byte characters still fit.
  std::string accented;
  for (int i = 0; i < 100; ++i) accented += "\xC3\xA9";
  EXPECT_TRUE(BoundedRegex::compile(accented, {}, kLimits));

  EXPECT_FALSE(BoundedRegex::compile(std::string("a"), {}, platform::RegexLimits{100, 0, 1 << 20}, &error));
  EXPECT_EQ(error.failure, RegexFailure::kEngineFailure);
}

TEST(BoundedRegexTest, CatastrophicBacktrackingEndsAtTheTimeLimit) {
  auto regex = BoundedRegex::compile(std::string("(a+)+$"), {}, kLimits);
  ASSERT_TRUE(regex);
  RegexError error;
  EXPECT_FALSE(regex->firstMatch(std::u16string(40, u'a') + u"b", &error));
  EXPECT_EQ(error.failure, RegexFailure::kLimitExceeded);
  EXPECT_EQ(error.engineStatusName, "U_REGEX_TIME_OUT");
  // The object stays usable for the next text.
  auto match = regex->firstMatch(u"aaa", &error);
  ASSERT_TRUE(match);
  EXPECT_TRUE(match->found);
}

TEST(BoundedRegexTest, DeepBacktrackingEndsAtTheStackLimit) {
  auto regex = BoundedRegex::compile(std::string("(a|b)*c"), {}, platform::RegexLimits{100, 300, 1024});
  ASSERT_TRUE(regex);
  RegexError error;
  EXPECT_FALSE(regex->firstMatch(std::u16string(100000, u'a'), &error));
  EXPECT_EQ(error.failure, RegexFailure::kLimitExceeded);
  EXPECT_EQ(error.engineStatusName, "U_REGEX_STACK_OVERFLOW");
}

TEST(BoundedRegexTest, TheStepCallbackSeesTheStepsAndMayStopTheMatch) {
  auto regex = BoundedRegex::compile(std::string("(a+)+$"), {}, kLimits);
  ASSERT_TRUE(regex);
  int calls = 0;
  int32_t lastSteps = 0;
  RegexError error;
  auto match = regex->firstMatch(std::u16string(40, u'a') + u"b", &error, [&](int32_t steps) {
    ++calls;
    EXPECT_GT(steps, lastSteps);
    lastSteps = steps;
    return calls < 3;
  });
  EXPECT_FALSE(match);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(error.failure, RegexFailure::kLimitExceeded);
  EXPECT_EQ(error.engineStatusName, "U_REGEX_STOPPED_BY_CALLER");
}

}  // namespace
