#include "platform/text/PercentEncoding.h"

#include <gtest/gtest.h>

namespace platform::percent {
namespace {

TEST(PercentEncoding, EncodesWithTheGivenSet) {
  struct Case {
    std::string text;
    const AllowedSet* set;
    std::string encoded;
  };
  const Case cases[] = {
      {"", &AllowedSet::unreserved(), ""},
      {"AZaz09-._~", &AllowedSet::unreserved(), "AZaz09-._~"},
      {"a b/c?d", &AllowedSet::unreserved(), "a%20b%2Fc%3Fd"},
      {"caf\xC3\xA9", &AllowedSet::unreserved(), "caf%C3%A9"},
      {std::string("\0\x7F", 2), &AllowedSet::unreserved(), "%00%7F"},
      {"a=1&b=2+3;x#f", &AllowedSet::queryValue(), "a%3D1%26b%3D2%2B3%3Bx%23f"},
      {"/p:1@h?x/y'(*)", &AllowedSet::queryValue(), "/p:1@h?x/y'(*)"},
      {"/docs/a b;v=1/%", &AllowedSet::path(), "/docs/a%20b;v=1/%25"},
      {"?#[]", &AllowedSet::path(), "%3F%23%5B%5D"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encode(c.text, *c.set), c.encoded) << c.text;
    EXPECT_EQ(decode(c.encoded), c.text) << c.encoded;
  }
  EXPECT_EQ(encode("a/b", AllowedSet::path().removing("/")), "a%2Fb");
  EXPECT_EQ(encode("\xFF", AllowedSet::path()), "%FF") << "bytes that are not text still encode";
}

TEST(PercentEncoding, DecodingFailsOnBadEscapesAndNonText) {
  EXPECT_EQ(decode("%41%62%2f"), "Ab/");
  EXPECT_EQ(decode("a+b"), "a+b");
  struct Case {
    std::string input;
    PercentEncodingErrorCode code;
  };
  const Case cases[] = {
      {"%", kPercentEncodingErrorBadEscape},   {"abc%4", kPercentEncodingErrorBadEscape},
      {"%G1", kPercentEncodingErrorBadEscape}, {"%%41", kPercentEncodingErrorBadEscape},
      {"%+1", kPercentEncodingErrorBadEscape}, {"%FF", kPercentEncodingErrorInvalidUtf8},
      {"%C0%AF", kPercentEncodingErrorInvalidUtf8},
  };
  for (const auto& c : cases) {
    Error error;
    EXPECT_EQ(decode(c.input, &error), std::nullopt) << c.input;
    EXPECT_EQ(error.domain, kPercentEncodingErrorDomain);
    EXPECT_EQ(error.code, c.code) << c.input;
  }
}

TEST(PercentEncoding, FormFieldsUsePlusForSpace) {
  EXPECT_EQ(formEncode("a b+c&d=\xC3\xA9"), "a+b%2Bc%26d%3D%C3%A9");
  EXPECT_EQ(formDecode("a+b%2Bc%26d%3D%C3%A9"), "a b+c&d=\xC3\xA9");
  EXPECT_EQ(formDecode("bad%2"), std::nullopt);
}

}  // namespace
}  // namespace platform::percent
