#include "platform/text/UnicodeText.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text/RegularExpression.h"

namespace platform {
namespace {

TEST(UnicodeText, LowerCasesWithTheDefaultMapping) {
  EXPECT_EQ(unicode::lowercased("Jo.Smith@Example.COM"), "jo.smith@example.com");
  EXPECT_EQ(unicode::lowercased("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");  // ÉTÉ
  // The root locale: a dotted capital I becomes i and a combining dot (longer),
  // a plain I becomes a plain i (no Turkish dotless i).
  EXPECT_EQ(unicode::lowercased("\xC4\xB0I"), "i\xCC\x87i");
  EXPECT_EQ(unicode::lowercased(""), "");
  EXPECT_EQ(unicode::lowercased("bad \xFF"), std::nullopt);
}

TEST(UnicodeText, WhitespaceIsSpaceSeparatorsAndTab) {
  for (char32_t c : {U' ', U'\t', U'\u00A0', U'\u2003', U'\u3000'}) EXPECT_TRUE(unicode::isWhitespace(c)) << static_cast<uint32_t>(c);
  for (char32_t c : {U'\n', U'\r', U'\u2028', U'a', U'-'}) EXPECT_FALSE(unicode::isWhitespace(c)) << static_cast<uint32_t>(c);
}

TEST(RegularExpression, SearchesWithUnicodeClasses) {
  auto digits = RegularExpression::create(R"(^\+[1-9]\d{1,14}$)");
  ASSERT_TRUE(digits);
  EXPECT_TRUE(digits->search("+5551234567"));
  EXPECT_TRUE(digits->search("+5\xD9\xA5"));  // Arabic-Indic five is a \d
  EXPECT_FALSE(digits->search("+0551234567"));
  EXPECT_FALSE(digits->search("+1234567890123456"));

  auto address = RegularExpression::create(R"(\S+@\S+\.\S+)");
  ASSERT_TRUE(address);
  EXPECT_TRUE(address->search("say hi to a@b.example now"));  // any match range counts
  EXPECT_FALSE(address->search("a\xC2\xA0@b.example"));      // U+00A0 is not \S
}

TEST(RegularExpression, RefusesBadPatternsAndTextAndStopsRunawaySearches) {
  Error error;
  EXPECT_FALSE(RegularExpression::create("(unclosed", 0, &error));
  EXPECT_EQ(error.code, kRegularExpressionErrorPattern);

  auto any = RegularExpression::create("a");
  ASSERT_TRUE(any);
  EXPECT_FALSE(any->search("a\xFF", &error));
  EXPECT_EQ(error.code, kRegularExpressionErrorText);

  auto catastrophic = RegularExpression::create("^(a+)+$");
  ASSERT_TRUE(catastrophic);
  error = {};
  EXPECT_FALSE(catastrophic->search(std::string(40, 'a') + "!", &error));
  EXPECT_EQ(error.code, kRegularExpressionErrorLimit);
}

}  // namespace
}  // namespace platform
