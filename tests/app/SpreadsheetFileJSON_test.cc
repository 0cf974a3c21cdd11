#include "app/SpreadsheetFileJSON.h"

#include <sys/resource.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "AppTestSupport.h"
#include "StoreFixture.h"
#include "app/DocumentLimits.h"

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

namespace tabulo {
namespace {

std::string fixtureBytes() {
  std::ifstream in(std::string(TABULO_SOURCE_DIR) + "/tests/app/fixtures/store_fixture.json", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SpreadsheetFileJSON, StoredBytesOfTheEarlierEncoderReadBackAndAreWrittenAgainExactly) {
  const std::string stored = fixtureBytes();
  ASSERT_FALSE(stored.empty());
  const std::vector<SpreadsheetFile> expected = testing::storeFixtureDocuments();
  std::string error;
  auto decoded = SpreadsheetFileJSON::decodeArray(stored, &error);
  ASSERT_TRUE(decoded) << error;
  ASSERT_EQ(decoded->size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) expectIdentical((*decoded)[i], expected[i]);
  EXPECT_EQ(SpreadsheetFileJSON::encodeArray(expected), stored);
  std::vector<SpreadsheetFileJSON::Span> spans;
  auto data = SpreadsheetFileJSON::encodeArrayData(expected, nullptr, &spans);
  ASSERT_TRUE(data);
  EXPECT_EQ(std::string(data->begin(), data->end()), stored);
  // The encoder's spans are where the decoder finds the documents.
  std::vector<SpreadsheetFileJSON::Span> found;
  ASSERT_TRUE(SpreadsheetFileJSON::decodeArray(stored, nullptr, &found));
  EXPECT_EQ(found, spans);
}

// The earlier encoder, kept as the reference: a JSON tree of the document
// dumped by nlohmann. The streaming encoder must give the same bytes.
nlohmann::ordered_json referenceNumber(double value) {
  if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0 && !(value == 0 && std::signbit(value))) {
    return nlohmann::ordered_json(static_cast<int64_t>(value));
  }
  return nlohmann::ordered_json(value);
}
nlohmann::ordered_json referenceFloat(float value) {
  char buffer[64];
  auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
  double candidate = value;
  double parsed = 0;
  if (std::from_chars(buffer, written.ptr, parsed).ec == std::errc() &&
      std::bit_cast<uint32_t>(static_cast<float>(parsed)) == std::bit_cast<uint32_t>(value)) {
    candidate = parsed;
  }
  return referenceNumber(candidate);
}
nlohmann::ordered_json referenceColor(const ColorRepresentation& color) {
  nlohmann::ordered_json json;
  json["red"] = referenceFloat(color.red);
  json["green"] = referenceFloat(color.green);
  json["blue"] = referenceFloat(color.blue);
  return json;
}
std::string referenceEncode(const SpreadsheetFile& file) {
  nlohmann::ordered_json json;
  json["uuid"] = file.uuid;
  json["title"] = file.title;
  json["creationDate"] = referenceNumber(file.creationDate);
  json["contents"] = nlohmann::ordered_json::array();
  for (const auto& row : file.contents) {
    nlohmann::ordered_json cells = nlohmann::ordered_json::array();
    for (const auto& cell : row) {
      nlohmann::ordered_json c;
      c["text"] = cell.text;
      c["textAlignment"] = rawValue(cell.textAlignment);
      c["textColor"] = referenceColor(cell.textColor);
      c["cellColor"] = referenceColor(cell.cellColor);
      if (cell.imagePath) c["imagePath"] = *cell.imagePath;
      cells.push_back(c);
    }
    json["contents"].push_back(cells);
  }
  for (const char* key : {"rowHeights", "columnWidths"}) {
    const auto& sizes = std::string(key) == "rowHeights" ? file.rowHeights : file.columnWidths;
    json[key] = nlohmann::ordered_json::array();
    for (float size : sizes) json[key].push_back(referenceFloat(size));
  }
  json["mergedRanges"] = nlohmann::ordered_json::array();
  for (const auto& range : file.mergedRanges) {
    json["mergedRanges"].push_back({{"from", {{"column", range.from().column}, {"row", range.from().row}}},
                                    {"to", {{"column", range.to().column}, {"row", range.to().row}}}});
  }
  return json.dump();
}

TEST(SpreadsheetFileJSON, EncodesRandomDocumentsAsTheTreeEncoderDid) {
  std::mt19937_64 random(20240601);
  auto anyFloat = [&] {
    switch (random() % 4) {
      case 0: return static_cast<float>(random() % 1000) / 8.0f;
      case 1: return static_cast<float>(static_cast<double>(random() % 1000000) / 997.0);
      default: {
        float value;
        do {
          value = std::bit_cast<float>(static_cast<uint32_t>(random()));
        } while (!std::isfinite(value));
        return value;
      }
    }
  };
  auto anyText = [&] {
    static const char* pieces[] = {"a", "Zürich", "\"", "\\", "\n", "\t", "\x01", "\x1f", "\x7f", "😀", " ", "/", ","};
    std::string text;
    for (size_t n = random() % 6; n > 0; --n) text += pieces[random() % std::size(pieces)];
    return text;
  };
  for (int round = 0; round < 40; ++round) {
    SpreadsheetFile file(anyText(), platform::ManualClock(kReferenceDateOffsetFrom1970 + 1));
    file.creationDate = std::bit_cast<double>(random());
    if (!std::isfinite(file.creationDate)) file.creationDate = static_cast<double>(random() % 100000) / 7.0;
    for (auto& row : file.contents) {
      for (auto& cell : row) {
        cell.text = anyText();
        cell.textAlignment = static_cast<TextAlignment>(random() % 3);
        cell.textColor = {anyFloat(), anyFloat(), anyFloat()};
        cell.cellColor = {anyFloat(), anyFloat(), anyFloat()};
        if (random() % 5 == 0) cell.imagePath = "photo" + std::to_string(random() % 100) + ".jpg";
      }
    }
    for (float& height : file.rowHeights) height = anyFloat();
    for (float& width : file.columnWidths) width = anyFloat();
    file.mergedRanges.emplace_back(platform::Location{1, 2}, platform::Location{3, 1});
    std::optional<std::string> encoded = SpreadsheetFileJSON::encode(file);
    ASSERT_TRUE(encoded);
    ASSERT_EQ(*encoded, referenceEncode(file)) << "round " << round;
  }
}

TEST(SpreadsheetFileJSON, DecodingTellsWhereEachDocumentLies) {
  const std::string a = R"({"uuid":"A","title":"}]\"\\","creationDate":1,"contents":[],"rowHeights":[],)"
                        R"("columnWidths":[],"mergedRanges":[],"x":{"uuid":"inner"}})";
  const std::string b = R"({ "title" : "t" , "uuid" : "\u0042" , "uuid" : "B", "creationDate" : 2 , "contents" : [ ] ,)"
                        R"( "rowHeights" : [ ] , "columnWidths" : [ ] , "mergedRanges" : [ ] })";
  const std::string text = " [" + a + " ,\n" + b + "] ";
  std::vector<SpreadsheetFileJSON::Span> spans;
  auto files = SpreadsheetFileJSON::decodeArray(text, nullptr, &spans);
  ASSERT_TRUE(files);
  ASSERT_EQ(spans.size(), 2u);
  auto textOf = [&](const SpreadsheetFileJSON::Span& span) { return text.substr(span.begin, span.end - span.begin); };
  EXPECT_EQ(textOf(spans[0]), a);
  EXPECT_EQ(textOf(spans[1]), b);
  EXPECT_EQ((*files)[0].uuid, "A");
  EXPECT_EQ((*files)[1].uuid, "B");
  spans.clear();
  ASSERT_TRUE(SpreadsheetFileJSON::decodeArray(" [ ] ", nullptr, &spans));
  EXPECT_THAT(spans, ElementsAre());
}

// A small stored document whose padding would make a huge grid: one row of
// `width` cells and `rows` empty rows.
std::string amplifyingStore(size_t width, size_t rows) {
  const std::string cell = R"({"text":"","textAlignment":0,"textColor":{"red":0,"green":0,"blue":0},)"
                           R"("cellColor":{"red":1,"green":1,"blue":1}})";
  std::string json = R"([{"uuid":"A","title":"t","creationDate":1,"rowHeights":[],"columnWidths":[],)"
                     R"("mergedRanges":[],"contents":[[)";
  for (size_t c = 0; c < width; ++c) json += (c ? "," : "") + cell;
  json += "]";
  for (size_t r = 0; r < rows; ++r) json += ",[]";
  return json + "]}]";
}

TEST(SpreadsheetFileJSON, AGridBeyondTheCellBoundIsRefusedBeforeItIsPadded) {
  // 2,000 x 100,001 cells from half a megabyte.
  const std::string json = amplifyingStore(2000, 100'000);
  EXPECT_LT(json.size(), 600'000u);
  std::string error;
  EXPECT_FALSE(SpreadsheetFileJSON::decodeArray(json, &error));
  EXPECT_THAT(error, ::testing::HasSubstr("more than " + std::to_string(DocumentLimits::kMaxCells) + " cells"));

  // Within the bound it decodes and is padded as before.
  auto files = SpreadsheetFileJSON::decodeArray(amplifyingStore(100, 50));
  ASSERT_TRUE(files);
  EXPECT_EQ((*files)[0].contents.size(), 51u);
  EXPECT_EQ((*files)[0].contents[50].size(), 100u);

  // Rows alone count: each holds a cell once padded.
  EXPECT_FALSE(SpreadsheetFileJSON::decodeArray(amplifyingStore(1, DocumentLimits::kMaxCells), &error));
  // A merged range's coded form cannot grow without bound either.
  std::string ranges = *SpreadsheetFileJSON::encodeArray({SpreadsheetFile("t", platform::ManualClock())});
  std::string big = R"({"from":{"row":1,"column":1},"to":{"row":1,"column":1},"x":[)";
  for (int i = 0; i < 1000; ++i) big += i ? ",0" : "0";
  ranges.replace(ranges.find(R"("mergedRanges":[])"), 17, R"("mergedRanges":[)" + big + "]}]");
  EXPECT_FALSE(SpreadsheetFileJSON::decodeArray(ranges, &error));
  EXPECT_THAT(error, ::testing::HasSubstr("merged range"));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// In a child process capped far below the 2 x 10^8 cells the padding would
// ask for: 0 when the store is refused for its cells, 1 otherwise.
int decodeUnderAMemoryCap(const std::string& json) {
  rlimit cap{};
  cap.rlim_cur = cap.rlim_max = 512u << 20;
  if (::setrlimit(RLIMIT_AS, &cap) != 0) return 2;
  std::string reason;
  const bool refused = !SpreadsheetFileJSON::decodeArray(json, &reason) && reason.find("cells") != std::string::npos;
  return refused ? 0 : 1;
}

TEST(SpreadsheetFileJSONDeathTest, TheAmplifyingStoreIsRefusedWithinAMemoryCap) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string json = amplifyingStore(2000, 100'000);
  EXPECT_EXIT(::_exit(decodeUnderAMemoryCap(json)), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace tabulo
