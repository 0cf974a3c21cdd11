#include "platform/text/BooleanText.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(BooleanText, ReadsTheLeadingCharacterAfterBlanksSignAndZeros) {
  struct Case {
    const char* text;
    bool expected;
  } cases[] = {
      {"YES", true},          {"yes", true},        {"Yellow", true},      {"true", true},   {"T", true},
      {"t", true},            {"1", true},          {"9", true},           {"42", true},     {"  \tyes", true},
      {"+1", true},           {"-1", true},         {"0001", true},        {"-007", true},   {"+00y", true},
      {"\xC2\xA0true", true},  // a no-break space is a blank
      {"\xE3\x80\x80" "1", true},  // so is the ideographic space
      {"", false},            {"NO", false},        {"false", false},      {"0", false},     {"000", false},
      {"0.5", false},         {"x1", false},        {"+", false},          {"-0", false},    {"++1", false},
      {"\n1", false},         // a line break is not a blank
      {"\xFF" "1", false},    // nor is a byte that is not UTF-8
      {"\xC2\xA0", false},
  };
  for (const auto& c : cases) EXPECT_EQ(booleanValueOfText(c.text), c.expected) << '"' << c.text << '"';
}

TEST(IntegerText, ReadsLeadingDigitsAndSaturates) {
  struct Case {
    const char* text;
    int64_t expected;
  } cases[] = {
      {"123", 123},
      {"  -42", -42},
      {"+7", 7},
      {"12a", 12},
      {"-7.9", -7},
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", INT64_MAX},
      {"99999999999999999999", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"-9223372036854775809", INT64_MIN},
      {"-99999999999999999999", INT64_MIN},
      {"000000000000000000000000012", 12},
  };
  for (const auto& c : cases) EXPECT_EQ(integerValueOfText(c.text), c.expected) << '"' << c.text << '"';
}

}  // namespace
}  // namespace platform
