#include "platform/text/UnicodeText.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

TEST(UnicodeText, CaseMappingUsesTheDefaultMapping) {
  EXPECT_EQ(unicode::lowercased("Jo.Smith@Example.COM"), "jo.smith@example.com");
  EXPECT_EQ(unicode::lowercased("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");  // ÉTÉ
  // The root locale: a dotted capital I becomes i and a combining dot (longer),
  // a plain I becomes a plain i (no Turkish dotless i).
  EXPECT_EQ(unicode::lowercased("\xC4\xB0I"), "i\xCC\x87i");
  EXPECT_EQ(unicode::lowercased(""), "");
  EXPECT_EQ(unicode::lowercased("bad \xFF"), std::nullopt);
  EXPECT_EQ(unicode::uppercased("usd"), "USD");
  EXPECT_EQ(unicode::uppercased("stra\xC3\x9F" "e"), "STRASSE");
  EXPECT_EQ(unicode::uppercased("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89");
  EXPECT_EQ(unicode::uppercased("bad \xFF"), std::nullopt);
}

TEST(UnicodeText, WhitespaceIsSpaceSeparatorsAndTab) {
  for (char32_t c : {U' ', U'\t', U'\u00A0', U'\u2003', U'\u3000'}) EXPECT_TRUE(unicode::isWhitespace(c)) << static_cast<uint32_t>(c);
  for (char32_t c : {U'\n', U'\r', U'\u2028', U'a', U'-'}) EXPECT_FALSE(unicode::isWhitespace(c)) << static_cast<uint32_t>(c);
}

}  // namespace
}  // namespace platform
