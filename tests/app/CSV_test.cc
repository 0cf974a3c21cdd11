#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/CSVReader.h"
#include "app/CSVWriter.h"
#include "app/TextEncoding.h"
#include "platform/text/Utf8.h"

namespace tabulo {
namespace {

using Records = std::vector<std::vector<std::string>>;

Records readAll(const std::string& bytes, CSVReader::Settings settings = {}) {
  CSVReader reader(bytes, settings);
  Records records;
  while (auto record = reader.next()) records.push_back(*record);
  EXPECT_FALSE(reader.failed()) << reader.error();
  return records;
}

TEST(CSVReader, Grammar) {
  const struct {
    const char* input;
    Records records;
  } cases[] = {
      {"", {}},
      {"a", {{"a"}}},
      {"a\n", {{"a"}}},
      {"a,b,c\nd,e,f\n", {{"a", "b", "c"}, {"d", "e", "f"}}},
      {"a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}},
      {"a,b\rc,d", {{"a", "b"}, {"c", "d"}}},
      {"a\n\nb", {{"a"}, {""}, {"b"}}},
      {"\n", {{""}}},
      {"a,\n,b", {{"a", ""}, {"", "b"}}},
      {",", {{"", ""}}},
      {" a , b ", {{" a ", " b "}}},
      {"\"a,b\",c", {{"a,b", "c"}}},
      {"\"say \"\"hi\"\"\"", {{"say \"hi\""}}},
      {"\"line\nbreak\",\"cr\r\nlf\"\nnext", {{"line\nbreak", "cr\r\nlf"}, {"next"}}},
      {"\"\"", {{""}}},
      {"\"\",\"\"\n", {{"", ""}}},
      {"ab\"cd\",e", {{"ab\"cd\"", "e"}}},          // a quote inside an unquoted field is text
      {"\"ab\"cd,e", {{"abcd", "e"}}},              // text after a closing quote is kept
      {" \"a\"", {{" \"a\""}}},                     // not trimmed, so not quoted
      {"\xEF\xBB\xBF" "a,b", {{"a", "b"}}},         // byte-order mark dropped
      {"\xEF\xBB\xBF", {}},
      {"caf\xC3\xA9,\xE2\x82\xAC", {{"caf\xC3\xA9", "\xE2\x82\xAC"}}},
      {"caf\xE9,\x80", {{"caf\xC3\xA9", "\xE2\x82\xAC"}}},  // Windows-1252
  };
  for (const auto& c : cases) EXPECT_EQ(readAll(c.input), c.records) << "input: " << c.input;
  EXPECT_EQ(readAll(std::string("a\0b,c", 5)), (Records{{std::string("a\0b", 3), "c"}}));
}

TEST(CSVReader, MalformedInputStopsWithAReason) {
  for (const char* input : {"\"never closed", "a\n\"b,c\nd", "\"ab\"\"", "x,\""}) {
    CSVReader reader(input);
    while (reader.next()) {
    }
    EXPECT_TRUE(reader.failed()) << input;
    EXPECT_THAT(reader.error(), ::testing::HasSubstr("never closed"));
    EXPECT_FALSE(reader.next());
  }
  CSVReader wide("a,b,c\na,b,c,d\n", CSVReader::Settings{',', 3});
  EXPECT_TRUE(wide.next());
  EXPECT_FALSE(wide.next());
  EXPECT_THAT(wide.error(), ::testing::HasSubstr("more than 3 fields"));
}

TEST(TextEncoding, ValidatesUTF8Strictly) {
  for (const char* valid : {"", "ascii", "\xC2\x80", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
                            "\xED\x9F\xBF"}) {
    EXPECT_TRUE(platform::utf8::isValid(valid)) << valid;
  }
  for (const char* invalid : {"\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                              "\xF5\x80\x80\x80", "\xC3", "\xE2\x82", "abcdefgh\xFF"}) {
    EXPECT_FALSE(platform::utf8::isValid(invalid)) << invalid;
  }
  EXPECT_EQ(windows1252ToUTF8("\x80\x81\x9F\xA0\xFF"), "\xE2\x82\xAC\xC2\x81\xC5\xB8\xC2\xA0\xC3\xBF");
}

TEST(CSVWriter, QuotesOnlyTheFieldsItIsToldTo) {
  CSVWriter writer;
  std::vector<std::string> row = {"plain", "a,b", "say \"hi\"", "cr\r", "lf\n", ""};
  writer.write(row, [&](size_t i) { return CSVWriter::needsQuotes(row[i]); });
  writer.write({"x", "y,z"}, [](size_t) { return false; });
  EXPECT_EQ(writer.text(), "plain,\"a,b\",\"say \"\"hi\"\"\",\"cr\r\",\"lf\n\",\n"
                           "x,y,z\n");
}

// Random records of awkward texts come back identical after writing and reading.
TEST(CSVWriter, RoundTripsThroughTheReader) {
  std::mt19937 random(20261210);
  const std::string alphabet[] = {"a", "Z", " ", ",", "\"", "\n", "\r", "\r\n", "\xC3\xA9", "\xE2\x82\xAC", "\t", "''"};
  for (int trial = 0; trial < 300; ++trial) {
    Records records(1 + random() % 6);
    for (auto& record : records) {
      record.resize(1 + random() % 5);
      for (auto& field : record) {
        size_t length = random() % 8;
        for (size_t i = 0; i < length; ++i) field += alphabet[random() % std::size(alphabet)];
      }
    }
    CSVWriter writer;
    for (const auto& record : records) {
      writer.write(record, [&](size_t i) { return CSVWriter::needsQuotes(record[i]); });
    }
    ASSERT_EQ(readAll(writer.text()), records) << writer.text();
  }
}

}  // namespace
}  // namespace tabulo
