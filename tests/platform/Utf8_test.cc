#include "platform/text/Utf8.h"
#include "platform/text/Utf8Object.h"

#include <gtest/gtest.h>

namespace platform::utf8 {
namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(Utf8, ValidTextAndItsLengths) {
  struct Case {
    std::string text;
    size_t codePoints;
    size_t utf16;
  };
  const Case cases[] = {
      {"", 0, 0},
      {"plain", 5, 5},
      {std::string("nul\0in", 6), 6, 6},
      {"caf\xC3\xA9", 4, 4},                      // 2-byte
      {"\xE2\x82\xAC 5", 3, 3},                   // 3-byte euro sign
      {"\xED\x9F\xBF\xEE\x80\x80", 2, 2},         // U+D7FF and U+E000 around the surrogates
      {"a\xF0\x9F\x98\x80" "b", 3, 4},            // U+1F600 takes two UTF-16 units
      {"\xF4\x8F\xBF\xBF", 1, 2},                 // U+10FFFF, the last code point
      {"\xC2\x80\xDF\xBF\xE0\xA0\x80", 3, 3},     // lowest of each length
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(isValid(c.text)) << c.text;
    EXPECT_EQ(replacingInvalid(c.text), c.text);
    EXPECT_EQ(codePointCount(c.text), c.codePoints) << c.text;
    EXPECT_EQ(utf16Length(c.text), c.utf16) << c.text;
    EXPECT_EQ(toUtf16(c.text).size(), c.utf16) << c.text;
    EXPECT_EQ(fromUtf16(toUtf16(c.text)), c.text);
  }
}

TEST(Utf8, InvalidSequencesAreRefusedAndReplacedByMaximalSubpart) {
  struct Case {
    const char* what;
    std::string text;
    std::string replaced;
  };
  const Case cases[] = {
      {"lone continuation", "a\x80z", "a" + kFFFD + "z"},
      {"overlong 2-byte", "\xC0\xAF", kFFFD + kFFFD},
      {"overlong 3-byte", "\xE0\x80\xAF", kFFFD + kFFFD + kFFFD},
      {"overlong 4-byte", "\xF0\x80\x80\xAF", kFFFD + kFFFD + kFFFD + kFFFD},
      {"high surrogate", "\xED\xA0\x80", kFFFD + kFFFD + kFFFD},
      {"low surrogate", "\xED\xBF\xBF", kFFFD + kFFFD + kFFFD},
      {"above U+10FFFF", "\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},
      {"F5 lead", "\xF5\x80", kFFFD + kFFFD},
      {"FF byte", "\xFF", kFFFD},
      {"cut 3-byte", "\xE2\x82", kFFFD},
      {"cut 4-byte then ASCII", "\xF0\x9F\x98z", kFFFD + "z"},
      {"cut 2-byte before lead", "\xC3\xC3\xA9", kFFFD + "\xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(isValid(c.text)) << c.what;
    const std::string replaced = replacingInvalid(c.text);
    EXPECT_EQ(replaced, c.replaced) << c.what;
    EXPECT_TRUE(isValid(replaced)) << c.what;
    // Counting reads invalid input the way replacement does.
    EXPECT_EQ(codePointCount(c.text), codePointCount(replaced)) << c.what;
    EXPECT_EQ(utf16Length(c.text), utf16Length(replaced)) << c.what;
    EXPECT_EQ(fromUtf16(toUtf16(c.text)), replaced) << c.what;
  }
}

TEST(Utf8, LoneSurrogatesInUtf16BecomeReplacementCharacters) {
  EXPECT_EQ(fromUtf16(u"a\xD83D"), "a" + kFFFD);
  EXPECT_EQ(fromUtf16(std::u16string{0xDE00, 'b'}), kFFFD + "b");
  EXPECT_EQ(fromUtf16(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(fromUtf16(std::u16string{0xD83D, 0xD83D, 0xDE00}), kFFFD + "\xF0\x9F\x98\x80");
}

TEST(Utf8, Utf16OffsetsMapToByteOffsetsOnlyAtCharacterBoundaries) {
  const std::string s = "a\xC3\xA9\xF0\x9F\x98\x80z";  // a é 😀 z: bytes 0,1,3,7; UTF-16 units 0,1,2,4
  const std::pair<size_t, size_t> boundaries[] = {{0, 0}, {1, 1}, {2, 3}, {4, 7}, {5, 8}};
  for (auto [unit, byte] : boundaries) {
    EXPECT_EQ(byteOffsetForUtf16Offset(s, unit), byte) << unit;
    EXPECT_EQ(utf16OffsetForByteOffset(s, byte), unit) << byte;
  }
  EXPECT_EQ(byteOffsetForUtf16Offset(s, 3), std::nullopt) << "between the halves of a surrogate pair";
  EXPECT_EQ(byteOffsetForUtf16Offset(s, 6), std::nullopt) << "beyond the end";
  for (size_t inside : {size_t{2}, size_t{4}, size_t{5}, size_t{6}, size_t{9}}) {
    EXPECT_EQ(utf16OffsetForByteOffset(s, inside), std::nullopt) << inside;
  }
}

TEST(Utf8, TruncationNeverSplitsACharacter) {
  const std::string s = "a\xC3\xA9\xF0\x9F\x98\x80z";
  EXPECT_EQ(truncatedToCodePoints(s, 0), "");
  EXPECT_EQ(truncatedToCodePoints(s, 1), "a");
  EXPECT_EQ(truncatedToCodePoints(s, 2), "a\xC3\xA9");
  EXPECT_EQ(truncatedToCodePoints(s, 3), "a\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(truncatedToCodePoints(s, 4), s);
  EXPECT_EQ(truncatedToCodePoints(s, 100), s);
  EXPECT_EQ(truncatedToCodePoints("\xE2\x82" "ab", 2), "\xE2\x82" "a") << "an invalid subpart counts as one";
}

TEST(Utf8, AppendEncodesEveryLengthAndRefusesNonCharacters) {
  std::string out;
  for (char32_t cp : {U'\x41', U'\xE9', U'\x20AC', U'\x1F600', char32_t{0xD800}, char32_t{0x110000}}) append(out, cp);
  EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" + kFFFD + kFFFD);
}

}  // namespace
}  // namespace platform::utf8

namespace platform::utf8 {
namespace {

TEST(Utf8Object, ReplacesIllFormedTextThroughoutATree) {
  const std::string bad = "a\xFF" "b";
  const std::string fixed = "a\xEF\xBF\xBD" "b";
  Object tree(Dictionary{{bad, Array{Object(bad), Object(1), Object(Dictionary{{"k", Object(bad)}})}},
                         {"bytes", Object(Bytes{0xFF})}});
  ASSERT_FALSE(isValidObject(tree));
  Object cleaned = objectReplacingInvalid(tree);
  EXPECT_TRUE(isValidObject(cleaned));
  EXPECT_EQ(cleaned, Object(Dictionary{{fixed, Array{Object(fixed), Object(1), Object(Dictionary{{"k", Object(fixed)}})}},
                                       {"bytes", Object(Bytes{0xFF})}}));  // bytes are not text
  EXPECT_EQ(objectReplacingInvalid(Object("ok")), Object("ok"));

  // A cleaned key that meets an existing one: the first in the dictionary's order stays.
  Dictionary clash = dictionaryReplacingInvalid({{bad, Object("was ill-formed")}, {fixed, Object("first")}});
  EXPECT_EQ(clash, (Dictionary{{fixed, Object("first")}}));
}

}  // namespace
}  // namespace platform::utf8
