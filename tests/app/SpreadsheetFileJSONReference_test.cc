// The document reader against the store's earlier reader (nlohmann's event
// parser, tests/app/ReferenceDocumentDecoder.h): on every text both give the
// same documents, or both refuse for the same reason. The one deliberate
// difference: a malformed text is reported in the reader's own words (with a
// byte offset) rather than nlohmann's.
#include <bit>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "AppTestSupport.h"
#include "ReferenceDocumentDecoder.h"
#include "app/SpreadsheetFileJSON.h"

namespace tabulo {
namespace {

using testing::differenceFromReference;

const std::string kCell =
    R"({"text":"x","textAlignment":0,"textColor":{"red":0,"green":0,"blue":0},"cellColor":{"red":1,"green":1,"blue":1}})";

// A small valid document whose parts the cases below replace.
std::string document(const std::string& cell = kCell, const std::string& uuid = R"("U")",
                     const std::string& creationDate = "1", const std::string& contents = "",
                     const std::string& rowHeights = "[20]", const std::string& mergedRanges = "[]",
                     const std::string& extra = "") {
  return R"({"uuid":)" + uuid + R"(,"title":"t","creationDate":)" + creationDate + R"(,"contents":)" +
         (contents.empty() ? "[[" + cell + "]]" : contents) + R"(,"rowHeights":)" + rowHeights +
         R"(,"columnWidths":[50],"mergedRanges":)" + mergedRanges + extra + "}";
}
std::string cellWith(const std::string& key, const std::string& value) {
  std::string cell = kCell;
  const std::string quoted = "\"" + key + "\":";
  const size_t at = cell.find(quoted);
  if (at == std::string::npos) return cell.substr(0, cell.size() - 1) + "," + quoted + value + "}";
  size_t end = at + quoted.size();
  int depth = 0;
  for (; end < cell.size(); ++end) {
    if (cell[end] == '{') ++depth;
    if (cell[end] == '}' && depth-- == 0) break;
    if (cell[end] == ',' && depth == 0) break;
  }
  return cell.substr(0, at + quoted.size()) + value + cell.substr(end);
}
std::string range(const std::string& from, const std::string& to) {
  return R"({"from":)" + from + R"(,"to":)" + to + "}";
}
std::string nested(size_t depth, const std::string& inner) {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

TEST(SpreadsheetFileJSONReference, CornerCasesOfTheJSONAgree) {
  using namespace std::string_literals;
  const std::string d = document();
  const std::vector<std::string> texts = {
      "", " ", "[]", " [ ] \t\r\n", "\xEF\xBB\xBF[]", "\xEF\xBB[]", "\xEF[]", " \xEF\xBB\xBF[]",
      "[]\0junk"s, "\0[]"s, "[\0]"s, "[" + d + "]\0{"s, "[],", "[]]", "[,]", "[1,]", "[" + d + ",]", "[" + d + " " + d + "]",
      "0", "-", "-0", "01", "1.", "1.e5", "1e", "1e+", "1E5", "1e400", "-1e400", "1e-400", "[01]", "[1x]",
      "true", "truex", "[tru]", "nul", "[null]", "[true]", "[false]", "[\"a\"]", "{\"a\":1}", "{",
      "\"abc", "\"abc\"", "[\"\\u12\"]", "[\"\\uD800\"]", "[\"\\uDC00\"]", "[\"\\uD800\\u0041\"]",
      "[\"\\uD800\\uDC00\"]", "[\"\\x\"]", "[\"a\x01\"]", "[\"\xC0\x80\"]", "[\"\xED\xA0\x80\"]",
      "[\"\xF4\x90\x80\x80\"]", "[\"\xE2\x82\"]", "[\"\\", "[\"\\u00",
      // The order of a document's refusals and the JSON's.
      R"([{"uuid":5)", R"([{"uuid":"A","contents":{)", R"([{"uuid":"A")", R"([{"uuid":"A"})", R"([{"uuid":"A",)",
      R"([{"uuid":"A" "title")", R"([{"uuid":"A":)", R"([{"uuid" "A"}])", R"([{5:1}])", "[" + d + "," + d + ",{}]",
      "[" + d + ",[" + d + "]]", "[" + d + ",7]", "[" + d + ",\"x]",
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(differenceFromReference(text, false), "") << ::testing::PrintToString(text);
  }
  for (const std::string& text : {d, "{}"s, "[]"s, "5"s, "\"x\""s, d + " x", "\xEF\xBB\xBF" + d, d + "\0x"s,
                                  "[" + d + "]", d.substr(0, d.size() - 1)}) {
    EXPECT_EQ(differenceFromReference(text, true), "") << ::testing::PrintToString(text);
  }
}

TEST(SpreadsheetFileJSONReference, EveryKindOfValueInEveryPlaceAgrees) {
  const std::string good = range(R"({"row":0,"column":0})", R"({"row":0,"column":0})");
  std::string sixtyFour = "{\"from\":{\"row\":0,\"column\":0},\"to\":{\"row\":0,\"column\":0}";
  for (int i = 0; i < 62; ++i) sixtyFour += ",\"k" + std::to_string(i) + "\":" + std::to_string(i);
  const std::vector<std::string> values = {
      "5", "-0", "-0.0", "1.0", "1e0", "0.1", "2.5", "3", "-1", "1e-400", "-1e-400", "1e39", "-3.4028235677973366e38",
      "3.4028235e38", "18446744073709551615", "18446744073709551616", "9223372036854775808",
      "-9223372036854775808", "-9223372036854775809", "100000000000000000000", "1e400", "null", "true", "false",
      R"("")", R"("1")", R"("photo.jpg")", R"("../x")", R"("\u0041\n\/")", "[]", "{}", "[1]", "[[1]]", "[\"1\"]",
      "[1e39]", "[1,2,3,4,5,6,7]", R"({"a":[1,{"b":null}]})", nested(2000, ""), nested(3, "1e400"), "[\"\xff\"]",
      R"({"red":0,"green":0})", R"({"red":[],"green":0,"blue":0})", R"({"red":"0","green":0,"blue":0})",
      R"({"red":null,"green":0,"blue":0})", R"({"red":0,"green":0,"blue":0,"alpha":[1,{"x":2}]})",
      R"({"red":0,"green":0,"blue":0,"red":0.5})", R"({"red":0,"green":0,"blue":1e39})", "[" + good + "]",
      // The two colours read whole, and texts that only begin like them.
      R"({"red":1,"green":1,"blue":1})", R"({"red":0,"green":0,"blue":0 })", R"({"red":1,"green":1,"blue":10})",
      "[null]", "[[]]", "[{}]", "[5]", "[" + good + ",5]",
      "[" + range(R"({"row":1.0,"column":0})", R"({"row":0,"column":0})") + "]",
      "[" + range(R"({"row":-1,"column":0})", R"({"row":0,"column":0})") + "]",
      // Nested as deeply as a range may be, and one deeper.
      "[" + range(R"({"row":0,"column":0,"x":)" + nested(7, "") + "}", R"({"row":0,"column":0})") + "]",
      "[" + range(R"({"row":0,"column":0,"x":)" + nested(8, "") + "}", R"({"row":0,"column":0})") + "]",
      "[" + range(R"({"row":0,"column":0,"row":1})", R"({"row":0,"column":0})") + "]",
      "[" + sixtyFour + "}]", "[" + sixtyFour + ",\"more\":1}]", "[" + sixtyFour + ",\"more\":[" + nested(9, "") + "]}]",
      "[" + range(R"({"row":0,"column":0})", R"({"row":5,"column":0})") + "]",
  };
  for (const std::string& value : values) {
    const std::vector<std::string> texts = {
        document(kCell, value),
        document(kCell, R"("U")", value),
        document(kCell, R"("U")", "1", value),
        document(kCell, R"("U")", "1", "[" + value + "]"),
        document(kCell, R"("U")", "1", "[[" + value + "]]"),
        document(kCell, R"("U")", "1", "[[" + kCell + "]," + value + "]"),
        document(kCell, R"("U")", "1", "", value),
        document(kCell, R"("U")", "1", "", "[20]", value),
        document(kCell, R"("U")", "1", "", "[20]", "[]", ",\"unknown\":" + value),
        document(cellWith("text", value)),
        document(cellWith("textAlignment", value)),
        document(cellWith("textColor", value)),
        document(cellWith("cellColor", R"({"red":)" + value + R"(,"green":0,"blue":0})")),
        document(cellWith("imagePath", value)),
        document(cellWith("future", value)),
    };
    for (const std::string& text : texts) {
      EXPECT_EQ(differenceFromReference("[" + document() + "," + text + "]", false), "") << text;
      EXPECT_EQ(differenceFromReference(text, true), "") << text;
    }
  }
}

// A store of two documents with escapes, other scripts, a photo, a merged
// range, an unknown key and fractions: each one-byte edit, and each cut.
TEST(SpreadsheetFileJSONReference, EveryEditOfAStoreAgrees) {
  const std::string store =
      R"([{"uuid":"A","title":"Z\u00fcrich \"q\" \ud83d\ude00","creationDate":-12.5e1,"contents":[[)"
      R"({"text":"a\\b\/\t","textAlignment":2,"textColor":{"red":0.25,"green":1,"blue":0},)"
      R"("cellColor":{"red":1,"green":1,"blue":1},"imagePath":"p.jpg"}],[]],"rowHeights":[20,30.5],)"
      R"("columnWidths":[],"mergedRanges":[{"from":{"row":0,"column":0},"to":{"row":1,"column":0}}],)"
      R"("x":[true,null,{"y":-0}]},)"
      "\n {\"uuid\":\"B\",\"title\":\"\xC3\xA9\xE2\x9C\x93\",\"creationDate\":0,\"contents\":[],\"rowHeights\":[],"
      R"("columnWidths":[1e2],"mergedRanges":[]}])";
  ASSERT_EQ(differenceFromReference(store, false), "");
  ASSERT_TRUE(SpreadsheetFileJSON::decodeArray(store));
  static constexpr char kBytes[] = "0-.eE+\"\\{}[],: u\xff\x80";
  const std::string bytes = std::string(kBytes, sizeof kBytes - 1) + std::string(1, '\0');
  for (size_t i = 0; i <= store.size(); ++i) {
    EXPECT_EQ(differenceFromReference(store.substr(0, i), false), "") << "cut at " << i;
    if (i == store.size()) break;
    std::string edited = store;
    edited.erase(i, 1);
    EXPECT_EQ(differenceFromReference(edited, false), "") << edited;
    for (char byte : bytes) {
      edited = store;
      edited[i] = byte;
      EXPECT_EQ(differenceFromReference(edited, false), "") << ::testing::PrintToString(edited);
      edited = store;
      edited.insert(i, 1, byte);
      EXPECT_EQ(differenceFromReference(edited, false), "") << ::testing::PrintToString(edited);
    }
  }
}

// Random documents as the encoder writes them, and as nlohmann writes them
// again: indented, keys sorted, everything beyond ASCII escaped.
TEST(SpreadsheetFileJSONReference, RandomDocumentsInEveryLayoutAgree) {
  std::mt19937_64 random(7);
  auto anyText = [&] {
    static const char* pieces[] = {"a", "Zürich", "\"", "\\", "\n", "\x01", "😀", " ", "/", "\xE2\x80\xA8", "1.5"};
    std::string text;
    for (size_t n = random() % 5; n > 0; --n) text += pieces[random() % std::size(pieces)];
    return text;
  };
  auto anyFloat = [&] {
    float value;
    do {
      value = std::bit_cast<float>(static_cast<uint32_t>(random()));
    } while (!std::isfinite(value));
    return random() % 2 ? value : static_cast<float>(random() % 100) / 4;
  };
  for (int round = 0; round < 30; ++round) {
    std::vector<SpreadsheetFile> files;
    for (int d = 0; d < 3; ++d) {
      SpreadsheetFile file(anyText(), platform::ManualClock(kReferenceDateOffsetFrom1970 + 1));
      file.creationDate = std::bit_cast<double>(random());
      if (!std::isfinite(file.creationDate)) file.creationDate = -0.0;
      for (auto& row : file.contents) {
        for (auto& cell : row) {
          cell.text = anyText();
          cell.textAlignment = static_cast<TextAlignment>(random() % 3);
          cell.textColor = {anyFloat(), anyFloat(), anyFloat()};
          if (random() % 4 == 0) cell.imagePath = "photo" + std::to_string(random() % 100) + ".jpg";
        }
      }
      for (float& height : file.rowHeights) height = anyFloat();
      file.mergedRanges.emplace_back(platform::Location{1, 2}, platform::Location{3, 1});
      files.push_back(std::move(file));
    }
    const std::string encoded = *SpreadsheetFileJSON::encodeArray(files);
    auto decoded = SpreadsheetFileJSON::decodeArray(encoded);
    ASSERT_TRUE(decoded);
    for (size_t i = 0; i < files.size(); ++i) EXPECT_TRUE(testing::identical((*decoded)[i], files[i])) << i;

    const nlohmann::json tree = nlohmann::json::parse(encoded);
    for (const std::string& text : {encoded, tree.dump(2), tree.dump(-1, ' ', true), tree.dump(1, '\t', true)}) {
      EXPECT_EQ(differenceFromReference(text, false), "") << text;
    }
  }
}

TEST(SpreadsheetFileJSONReference, QuirksOfTheStoredFormAreKept) {
  using namespace std::string_literals;
  const std::string d = document();
  // A NUL byte between values ends the text; a byte order mark may open it.
  auto files = SpreadsheetFileJSON::decodeArray("\xEF\xBB\xBF[" + d + "] \0 anything"s);
  ASSERT_TRUE(files);
  EXPECT_EQ(files->size(), 1u);
  // Numbers below a double's range read as zero, with their sign; beyond it they refuse.
  auto file = SpreadsheetFileJSON::decode(document(kCell, R"("U")", "-1e-400"));
  ASSERT_TRUE(file);
  EXPECT_EQ(std::bit_cast<uint64_t>(file->creationDate), std::bit_cast<uint64_t>(-0.0));
  std::string reason;
  EXPECT_FALSE(SpreadsheetFileJSON::decode(document(kCell, R"("U")", "1e400"), &reason));
  EXPECT_EQ(reason, "the text is not valid JSON at byte 39: a number is beyond the range of a double");
  // An integral alignment written as a fraction counts; -0 is the integer 0.
  file = SpreadsheetFileJSON::decode(document(cellWith("textAlignment", "2.0")));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->contents[0][0].textAlignment, TextAlignment::right);
  // A document's reason names the document and the row.
  EXPECT_FALSE(SpreadsheetFileJSON::decodeArray("[" + d + "," + document(cellWith("textAlignment", "3")) + "]", &reason));
  EXPECT_EQ(reason, "document 1: row 0: \"textAlignment\" is not 0, 1 or 2");
}

}  // namespace
}  // namespace tabulo
