#include "app/SpreadsheetFileJSON.h"

#include <cmath>
#include <functional>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "AppTestSupport.h"

namespace tabulo {
namespace {

using ::testing::ElementsAre;
using testing::expectIdentical;
using Json = nlohmann::json;

SpreadsheetFile awkwardFile() {
  platform::ManualClock clock(kReferenceDateOffsetFrom1970 + 100);
  SpreadsheetFile file("Quarterly \"numbers\", ünïcødé ✓", clock);
  file.creationDate = 786'000'123.456789;  // a fraction no decimal writes exactly
  auto& cell = file.contents[1][1];
  cell.text = "line\nbreak, \"quoted\" \t and \\ backslash";
  cell.textAlignment = TextAlignment::right;
  cell.textColor = {0.1f, 1.0f / 3.0f, std::numeric_limits<float>::denorm_min()};
  cell.cellColor = {-0.0f, std::numeric_limits<float>::max(), 0.7f};
  cell.imagePath = "0F3C2B1A-1111-4222-8333-444455556666.jpg";
  file.contents[2][3].textAlignment = TextAlignment::center;
  file.rowHeights[2] = 33.333333f;
  file.columnWidths[1] = 1e-7f;
  file.mergedRanges = {platform::CellRange({1, 1}, {2, 3}), platform::CellRange({4, 4}, {3, 2})};
  return file;
}

Json parse(const std::string& text) { return Json::parse(text); }

TEST(SpreadsheetFileJSON, RoundTripIsExact) {
  SpreadsheetFile file = awkwardFile();
  std::string error;
  std::optional<std::string> json = SpreadsheetFileJSON::encode(file, &error);
  ASSERT_TRUE(json) << error;
  std::optional<SpreadsheetFile> decoded = SpreadsheetFileJSON::decode(*json, &error);
  ASSERT_TRUE(decoded) << error;
  expectIdentical(*decoded, file);

  std::optional<std::string> array = SpreadsheetFileJSON::encodeArray({file, SpreadsheetFile("b", platform::ManualClock())});
  ASSERT_TRUE(array);
  auto files = SpreadsheetFileJSON::decodeArray(*array);
  ASSERT_TRUE(files);
  ASSERT_EQ(files->size(), 2u);
  expectIdentical((*files)[0], file);
  EXPECT_EQ((*files)[1].title, "b");
}

TEST(SpreadsheetFileJSON, WritesTheDocumentedKeysAndShortNumbers) {
  SpreadsheetFile file("t", platform::ManualClock(kReferenceDateOffsetFrom1970 + 100));
  file.contents[1][1].imagePath = "photo.jpg";
  file.contents[1][2].textColor = {0.1f, 0.5f, 1};
  std::string text = *SpreadsheetFileJSON::encode(file);
  Json json = parse(text);

  EXPECT_NE(text.find("\"creationDate\":100,"), std::string::npos);
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  EXPECT_THAT(keys, ::testing::UnorderedElementsAre("uuid", "title", "creationDate", "contents", "rowHeights",
                                                    "columnWidths", "mergedRanges"));
  EXPECT_FALSE(json["contents"][0][0].contains("imagePath"));
  EXPECT_EQ(json["contents"][1][1]["imagePath"], "photo.jpg");
  EXPECT_EQ(json["contents"][1][1]["textAlignment"], 0);
  EXPECT_EQ(json["contents"][1][1]["cellColor"], (Json{{"red", 1}, {"green", 1}, {"blue", 1}}));
  // The float's own shortest form, not its widened double's digits.
  EXPECT_NE(text.find("{\"red\":0.1,\"green\":0.5,\"blue\":1}"), std::string::npos) << text;
  EXPECT_EQ(json["rowHeights"], (Json{20, 30, 30, 30, 30}));
}

TEST(SpreadsheetFileJSON, AcceptsAnyKeyOrderUnknownKeysAndNullImagePath) {
  SpreadsheetFile file("t", platform::ManualClock());
  Json json = parse(*SpreadsheetFileJSON::encode(file));
  json["somethingNew"] = {1, 2};
  json["contents"][1][1]["imagePath"] = nullptr;
  json["contents"][1][1]["future"] = "x";
  std::optional<SpreadsheetFile> decoded = SpreadsheetFileJSON::decode(json.dump());  // std::map: sorted keys
  ASSERT_TRUE(decoded);
  expectIdentical(*decoded, file);

  // A repeated key counts with its last value.
  std::string text = *SpreadsheetFileJSON::encode(file);
  text.replace(text.find("\"title\":\"t\""), 11, "\"title\":\"first\",\"title\":\"t\"");
  decoded = SpreadsheetFileJSON::decode(text);
  ASSERT_TRUE(decoded) << text;
  EXPECT_EQ(decoded->title, "t");
}

TEST(SpreadsheetFileJSON, DecodeFailures) {
  const std::string valid = *SpreadsheetFileJSON::encode(SpreadsheetFile("t", platform::ManualClock()));
  struct Case {
    const char* name;
    std::function<void(Json&)> change;
  };
  const Case cases[] = {
      {"uuid missing", [](Json& j) { j.erase("uuid"); }},
      {"title not a string", [](Json& j) { j["title"] = 5; }},
      {"creationDate missing", [](Json& j) { j.erase("creationDate"); }},
      {"creationDate a string", [](Json& j) { j["creationDate"] = "100"; }},
      {"contents not an array", [](Json& j) { j["contents"] = Json::object(); }},
      {"row not an array", [](Json& j) { j["contents"][1] = "row"; }},
      {"cell not an object", [](Json& j) { j["contents"][1][1] = 3; }},
      {"rowHeights missing", [](Json& j) { j.erase("rowHeights"); }},
      {"columnWidths holds a string", [](Json& j) { j["columnWidths"][0] = "50"; }},
      {"size too big for a float", [](Json& j) { j["rowHeights"][0] = 1e39; }},
      {"size rounds to infinity", [](Json& j) { j["columnWidths"][1] = -3.4028235677973366e38; }},
      {"size a boolean", [](Json& j) { j["rowHeights"][0] = true; }},
      {"mergedRanges missing", [](Json& j) { j.erase("mergedRanges"); }},
      {"merged range not a range", [](Json& j) { j["mergedRanges"] = Json::array({Json{{"from", 1}}}); }},
      {"merged range negative", [](Json& j) {
         j["mergedRanges"] = Json::array({Json{{"from", {{"row", -1}, {"column", 0}}},
                                               {"to", {{"row", 1}, {"column", 1}}}}});
       }},
      {"text missing", [](Json& j) { j["contents"][0][0].erase("text"); }},
      {"textAlignment 3", [](Json& j) { j["contents"][0][0]["textAlignment"] = 3; }},
      {"textAlignment -1", [](Json& j) { j["contents"][0][0]["textAlignment"] = -1; }},
      {"textAlignment 1.5", [](Json& j) { j["contents"][0][0]["textAlignment"] = 1.5; }},
      {"textAlignment huge", [](Json& j) { j["contents"][0][0]["textAlignment"] = 18446744073709551615ull; }},
      {"textAlignment a string", [](Json& j) { j["contents"][0][0]["textAlignment"] = "1"; }},
      {"textColor missing", [](Json& j) { j["contents"][0][0].erase("textColor"); }},
      {"cellColor without blue", [](Json& j) { j["contents"][0][0]["cellColor"].erase("blue"); }},
      {"colour component null", [](Json& j) { j["contents"][0][0]["cellColor"]["red"] = nullptr; }},
      {"imagePath a number", [](Json& j) { j["contents"][0][0]["imagePath"] = 7; }},
  };
  for (const Case& c : cases) {
    Json json = parse(valid);
    c.change(json);
    std::string error;
    EXPECT_FALSE(SpreadsheetFileJSON::decode(json.dump(), &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
    EXPECT_FALSE(SpreadsheetFileJSON::decodeArray("[" + valid + "," + json.dump() + "]")) << c.name;
  }

  for (const char* text : {"", "[", "{}", "[1]", "null", "[{}]", "{\"a\":1}", "[] x", "[\"\xff\"]",
                           "[{\"creationDate\":1e999}]"}) {
    EXPECT_FALSE(SpreadsheetFileJSON::decodeArray(text)) << text;
  }
  EXPECT_THAT(*SpreadsheetFileJSON::decodeArray("[]"), ElementsAre());
}

TEST(SpreadsheetFileJSON, DecodingRepairsWhatItCanWithoutLosingText) {
  SpreadsheetFile file("t", platform::ManualClock());
  file.contents[4][4].text = "kept";
  file.contents[1][1].imagePath = "../../secret";
  file.contents[1][2].imagePath = "photo.jpg";
  Json json = parse(*SpreadsheetFileJSON::encode(file));
  json["contents"][2].erase(4);                       // a short row
  json["contents"][3].push_back(json["contents"][4][4]);  // a long row
  json["rowHeights"] = Json::array({22});             // heights missing
  json["columnWidths"] = Json::array({1, 2, 3, 4, 5, 6, 7, 8});  // too many widths
  json["mergedRanges"] = Json::array({
      Json{{"from", {{"row", 1}, {"column", 1}}}, {"to", {{"row", 4}, {"column", 5}}}},  // inside after widening
      Json{{"from", {{"row", 1}, {"column", 1}}}, {"to", {{"row", 5}, {"column", 1}}}},  // below the grid
      Json{{"from", {{"row", 0}, {"column", 9}}}, {"to", {{"row", 0}, {"column", 0}}}},  // right of the grid
  });

  std::optional<SpreadsheetFile> decoded = SpreadsheetFileJSON::decode(json.dump());
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->contents.size(), 5u);
  for (const auto& row : decoded->contents) EXPECT_EQ(row.size(), 6u);
  EXPECT_EQ(decoded->contents[4][4].text, "kept");
  EXPECT_EQ(decoded->contents[3][5].text, "kept");
  EXPECT_EQ(decoded->contents[2][4], SpreadsheetCellContent());
  EXPECT_THAT(decoded->rowHeights, ElementsAre(22, 30, 30, 30, 30));
  EXPECT_THAT(decoded->columnWidths, ElementsAre(1, 2, 3, 4, 5, 6));
  EXPECT_THAT(decoded->mergedRanges, ElementsAre(platform::CellRange({1, 1}, {4, 5})));
  EXPECT_FALSE(decoded->contents[1][1].imagePath);
  EXPECT_EQ(decoded->contents[1][2].imagePath, "photo.jpg");

  json["contents"] = Json::array();
  json["rowHeights"] = Json::array();
  json["columnWidths"] = Json::array();
  json["mergedRanges"] = Json::array();
  decoded = SpreadsheetFileJSON::decode(json.dump());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(testing::gridTexts(*decoded), (std::vector<std::vector<std::string>>{{""}}));
  EXPECT_THAT(decoded->rowHeights, ElementsAre(20));
  EXPECT_THAT(decoded->columnWidths, ElementsAre(50));
}

TEST(SpreadsheetFileJSON, EncodingRefusesNonFiniteNumbersAndInvalidText) {
  const std::function<void(SpreadsheetFile&)> changes[] = {
      [](SpreadsheetFile& f) { f.rowHeights[1] = std::numeric_limits<float>::infinity(); },
      [](SpreadsheetFile& f) { f.columnWidths[0] = std::nanf(""); },
      [](SpreadsheetFile& f) { f.contents[0][0].cellColor.green = -std::numeric_limits<float>::infinity(); },
      [](SpreadsheetFile& f) { f.creationDate = std::nan(""); },
      [](SpreadsheetFile& f) { f.contents[2][2].text = "bad \xC3"; },
      [](SpreadsheetFile& f) { f.title = "\xFF"; },
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    SpreadsheetFile file("t", platform::ManualClock());
    changes[i](file);
    std::string error;
    EXPECT_FALSE(SpreadsheetFileJSON::encode(file, &error)) << i;
    EXPECT_FALSE(error.empty()) << i;
    EXPECT_FALSE(SpreadsheetFileJSON::encodeArray({SpreadsheetFile("ok", platform::ManualClock()), file})) << i;
  }
}

}  // namespace
}  // namespace tabulo
