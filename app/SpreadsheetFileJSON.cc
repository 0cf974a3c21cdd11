#include "app/SpreadsheetFileJSON.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>

#include <nlohmann/json.hpp>

#include "app/FileNames.h"
#include "app/TextEncoding.h"

namespace tabulo {
namespace {

using Json = nlohmann::json;             // decoding: keys in any order
using OrderedJson = nlohmann::ordered_json;  // encoding: keys in field order

constexpr const char* kUUIDKey = "uuid";
constexpr const char* kTitleKey = "title";
constexpr const char* kCreationDateKey = "creationDate";
constexpr const char* kContentsKey = "contents";
constexpr const char* kRowHeightsKey = "rowHeights";
constexpr const char* kColumnWidthsKey = "columnWidths";
constexpr const char* kMergedRangesKey = "mergedRanges";
constexpr const char* kTextKey = "text";
constexpr const char* kTextAlignmentKey = "textAlignment";
constexpr const char* kTextColorKey = "textColor";
constexpr const char* kCellColorKey = "cellColor";
constexpr const char* kImagePathKey = "imagePath";
constexpr const char* kRedKey = "red";
constexpr const char* kGreenKey = "green";
constexpr const char* kBlueKey = "blue";

constexpr float kHeaderRowHeight = 20;
constexpr float kRowHeight = 30;
constexpr float kNumberColumnWidth = 50;
constexpr float kColumnWidth = 100;

// Deepest nesting accepted inside a merged range's coded form.
constexpr int kMaxCodedRangeDepth = 8;

// ---- Encoding --------------------------------------------------------------

struct EncodeFailure {
  std::string reason;
};

// Integral values without a fraction (except -0, whose sign needs one).
OrderedJson number(double value) {
  if (!std::isfinite(value)) throw EncodeFailure{"a number is not finite"};
  if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0 && !(value == 0 && std::signbit(value))) {
    return OrderedJson(static_cast<int64_t>(value));
  }
  return OrderedJson(value);
}

// The shortest decimal that reads back as `value`: the float's own shortest
// form when it survives the trip through a double, else the exact value.
OrderedJson floatNumber(float value) {
  if (!std::isfinite(value)) throw EncodeFailure{"a size or colour component is not finite"};
  char buffer[64];
  auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
  double candidate = value;
  double parsed = 0;
  if (written.ec == std::errc() && std::from_chars(buffer, written.ptr, parsed).ec == std::errc() &&
      std::bit_cast<uint32_t>(static_cast<float>(parsed)) == std::bit_cast<uint32_t>(value)) {
    candidate = parsed;
  }
  return number(candidate);
}

OrderedJson text(const std::string& value) {
  if (!isValidUTF8(value)) throw EncodeFailure{"a text is not valid UTF-8"};
  return OrderedJson(value);
}

OrderedJson encodeObject(const platform::Object& object) {
  switch (object.type()) {
    case platform::Object::Type::Null: return nullptr;
    case platform::Object::Type::Bool: return *object.boolValue();
    case platform::Object::Type::Int: return *object.intValue();
    case platform::Object::Type::Double: return number(*object.doubleValue());
    case platform::Object::Type::String: return text(*object.stringValue());
    case platform::Object::Type::Array: {
      OrderedJson array = OrderedJson::array();
      for (const platform::Object& element : *object.arrayValue()) array.push_back(encodeObject(element));
      return array;
    }
    case platform::Object::Type::Dictionary: {
      OrderedJson dictionary = OrderedJson::object();
      for (const auto& [key, value] : *object.dictionaryValue()) {
        if (!isValidUTF8(key)) throw EncodeFailure{"a text is not valid UTF-8"};
        dictionary[key] = encodeObject(value);
      }
      return dictionary;
    }
    default: throw EncodeFailure{"a merged range holds a value JSON cannot carry"};
  }
}

OrderedJson encodeColor(const ColorRepresentation& color) {
  OrderedJson json = OrderedJson::object();
  json[kRedKey] = floatNumber(color.red);
  json[kGreenKey] = floatNumber(color.green);
  json[kBlueKey] = floatNumber(color.blue);
  return json;
}

OrderedJson encodeCell(const SpreadsheetCellContent& cell) {
  OrderedJson json = OrderedJson::object();
  json[kTextKey] = text(cell.text);
  json[kTextAlignmentKey] = rawValue(cell.textAlignment);
  json[kTextColorKey] = encodeColor(cell.textColor);
  json[kCellColorKey] = encodeColor(cell.cellColor);
  if (cell.imagePath) json[kImagePathKey] = text(*cell.imagePath);
  return json;
}

OrderedJson encodeSizes(const std::vector<float>& sizes) {
  OrderedJson json = OrderedJson::array();
  for (float size : sizes) json.push_back(floatNumber(size));
  return json;
}

OrderedJson encodeFile(const SpreadsheetFile& file) {
  OrderedJson json = OrderedJson::object();
  json[kUUIDKey] = text(file.uuid);
  json[kTitleKey] = text(file.title);
  json[kCreationDateKey] = number(file.creationDate);
  OrderedJson contents = OrderedJson::array();
  for (const SpreadsheetFile::Row& row : file.contents) {
    OrderedJson cells = OrderedJson::array();
    for (const SpreadsheetCellContent& cell : row) cells.push_back(encodeCell(cell));
    contents.push_back(std::move(cells));
  }
  json[kContentsKey] = std::move(contents);
  json[kRowHeightsKey] = encodeSizes(file.rowHeights);
  json[kColumnWidthsKey] = encodeSizes(file.columnWidths);
  OrderedJson ranges = OrderedJson::array();
  for (const platform::CellRange& range : file.mergedRanges) ranges.push_back(encodeObject(range.encode()));
  json[kMergedRangesKey] = std::move(ranges);
  return json;
}

template <typename Build>
std::optional<std::string> encodeWith(Build build, std::string* error) {
  try {
    return build().dump();
  } catch (const EncodeFailure& failure) {
    if (error) *error = failure.reason;
  } catch (const std::exception& exception) {
    if (error) *error = exception.what();
  }
  return std::nullopt;
}

// ---- Decoding --------------------------------------------------------------

struct DecodeFailure {
  std::string reason;
};

[[noreturn]] void fail(const std::string& where, const std::string& what) { throw DecodeFailure{where + what}; }

const Json& required(const Json& object, const char* key, const std::string& where) {
  auto found = object.find(key);
  if (found == object.end()) fail(where, std::string("\"") + key + "\" is missing");
  return *found;
}

const Json& requiredOfType(const Json& object, const char* key, Json::value_t type, const std::string& where) {
  const Json& value = required(object, key, where);
  bool matches = type == Json::value_t::number_float ? value.is_number() : value.type() == type;
  if (!matches) fail(where, std::string("\"") + key + "\" has the wrong type");
  return value;
}

double finiteNumber(const Json& value, const std::string& where, const char* what) {
  if (!value.is_number()) fail(where, std::string(what) + " is not a number");
  double number = value.get<double>();
  if (!std::isfinite(number)) fail(where, std::string(what) + " is not finite");
  return number;
}

float floatValue(const Json& value, const std::string& where, const char* what) {
  double number = finiteNumber(value, where, what);
  // Values from here on round to infinity: halfway between the largest float and 2^128.
  constexpr double kFloatOverflow = 0x1.ffffffp+127;
  if (std::fabs(number) >= kFloatOverflow) {
    fail(where, std::string(what) + " does not fit a 32-bit float");
  }
  return static_cast<float>(number);
}

ColorRepresentation decodeColor(const Json& object, const char* key, const std::string& where) {
  const Json& json = requiredOfType(object, key, Json::value_t::object, where);
  std::string inner = where + key + ": ";
  return ColorRepresentation{floatValue(required(json, kRedKey, inner), inner, kRedKey),
                             floatValue(required(json, kGreenKey, inner), inner, kGreenKey),
                             floatValue(required(json, kBlueKey, inner), inner, kBlueKey)};
}

TextAlignment decodeAlignment(const Json& value, const std::string& where) {
  std::optional<TextAlignment> alignment;
  if (value.is_number_integer()) {
    if (value.is_number_unsigned()) {
      uint64_t raw = value.get<uint64_t>();
      if (raw <= 2) alignment = textAlignmentFromRawValue(static_cast<int64_t>(raw));
    } else {
      alignment = textAlignmentFromRawValue(value.get<int64_t>());
    }
  } else if (value.is_number_float()) {
    double raw = value.get<double>();
    if (raw == 0 || raw == 1 || raw == 2) alignment = textAlignmentFromRawValue(static_cast<int64_t>(raw));
  }
  if (!alignment) fail(where, "\"textAlignment\" is not 0, 1 or 2");
  return *alignment;
}

SpreadsheetCellContent decodeCell(const Json& json, const std::string& where) {
  if (!json.is_object()) fail(where, "a cell is not an object");
  SpreadsheetCellContent cell;
  cell.text = requiredOfType(json, kTextKey, Json::value_t::string, where).get<std::string>();
  cell.textAlignment = decodeAlignment(required(json, kTextAlignmentKey, where), where);
  cell.textColor = decodeColor(json, kTextColorKey, where);
  cell.cellColor = decodeColor(json, kCellColorKey, where);
  auto image = json.find(kImagePathKey);
  if (image != json.end() && !image->is_null()) {
    if (!image->is_string()) fail(where, "\"imagePath\" has the wrong type");
    cell.imagePath = image->get<std::string>();
  }
  return cell;
}

std::vector<float> decodeSizes(const Json& object, const char* key, const std::string& where) {
  const Json& json = requiredOfType(object, key, Json::value_t::array, where);
  std::vector<float> sizes;
  sizes.reserve(json.size());
  for (const Json& value : json) sizes.push_back(floatValue(value, where, key));
  return sizes;
}

platform::Object decodeObject(const Json& json, int depth) {
  if (depth > kMaxCodedRangeDepth) throw DecodeFailure{"a merged range is nested too deeply"};
  switch (json.type()) {
    case Json::value_t::null: return nullptr;
    case Json::value_t::boolean: return json.get<bool>();
    case Json::value_t::number_integer: return json.get<int64_t>();
    case Json::value_t::number_unsigned: {
      uint64_t value = json.get<uint64_t>();
      if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return static_cast<int64_t>(value);
      return static_cast<double>(value);
    }
    case Json::value_t::number_float: return json.get<double>();
    case Json::value_t::string: return json.get<std::string>();
    case Json::value_t::array: {
      platform::Array array;
      for (const Json& element : json) array.push_back(decodeObject(element, depth + 1));
      return array;
    }
    case Json::value_t::object: {
      platform::Dictionary dictionary;
      for (const auto& [key, value] : json.items()) dictionary.emplace(key, decodeObject(value, depth + 1));
      return dictionary;
    }
    default: return nullptr;
  }
}

SpreadsheetFile decodeFile(const Json& json, const std::string& where) {
  if (!json.is_object()) fail(where, "a document is not an object");
  SpreadsheetFile file;
  file.uuid = requiredOfType(json, kUUIDKey, Json::value_t::string, where).get<std::string>();
  file.title = requiredOfType(json, kTitleKey, Json::value_t::string, where).get<std::string>();
  file.creationDate = finiteNumber(required(json, kCreationDateKey, where), where, "\"creationDate\"");

  const Json& contents = requiredOfType(json, kContentsKey, Json::value_t::array, where);
  file.contents.reserve(contents.size());
  for (size_t r = 0; r < contents.size(); ++r) {
    const Json& row = contents[r];
    std::string rowWhere = where + "row " + std::to_string(r) + ": ";
    if (!row.is_array()) fail(rowWhere, "a row is not an array");
    SpreadsheetFile::Row cells;
    cells.reserve(row.size());
    for (const Json& cell : row) cells.push_back(decodeCell(cell, rowWhere));
    file.contents.push_back(std::move(cells));
  }
  file.rowHeights = decodeSizes(json, kRowHeightsKey, where);
  file.columnWidths = decodeSizes(json, kColumnWidthsKey, where);

  const Json& ranges = requiredOfType(json, kMergedRangesKey, Json::value_t::array, where);
  for (const Json& coded : ranges) {
    std::optional<platform::CellRange> range = platform::CellRange::decode(decodeObject(coded, 0));
    if (!range) fail(where, "a merged range is not a cell range");
    file.mergedRanges.push_back(*range);
  }
  SpreadsheetFileJSON::repair(file);
  return file;
}

template <typename T, typename Build>
std::optional<T> decodeWith(std::string_view text, Build build, std::string* error) {
  try {
    Json json = Json::parse(text.begin(), text.end());
    return build(json);
  } catch (const DecodeFailure& failure) {
    if (error) *error = failure.reason;
  } catch (const std::exception& exception) {
    if (error) *error = exception.what();
  }
  return std::nullopt;
}

}  // namespace

void SpreadsheetFileJSON::repair(SpreadsheetFile& file) {
  if (file.contents.empty()) file.contents.emplace_back();
  size_t width = std::max<size_t>(file.columnCount(), 1);
  for (SpreadsheetFile::Row& row : file.contents) {
    row.resize(width);
    for (SpreadsheetCellContent& cell : row) {
      if (cell.imagePath && !isPlainFileName(*cell.imagePath)) cell.imagePath.reset();
    }
  }
  size_t height = file.contents.size();

  size_t knownHeights = file.rowHeights.size();
  file.rowHeights.resize(height, kRowHeight);
  if (knownHeights == 0) file.rowHeights[0] = kHeaderRowHeight;
  size_t knownWidths = file.columnWidths.size();
  file.columnWidths.resize(width, kColumnWidth);
  if (knownWidths == 0) file.columnWidths[0] = kNumberColumnWidth;

  std::erase_if(file.mergedRanges, [&](const platform::CellRange& range) {
    return range.bottomRow() >= static_cast<int64_t>(height) || range.rightColumn() >= static_cast<int64_t>(width);
  });
}

std::optional<std::string> SpreadsheetFileJSON::encode(const SpreadsheetFile& file, std::string* error) {
  return encodeWith([&] { return encodeFile(file); }, error);
}

std::optional<SpreadsheetFile> SpreadsheetFileJSON::decode(std::string_view json, std::string* error) {
  return decodeWith<SpreadsheetFile>(json, [](const Json& parsed) { return decodeFile(parsed, ""); }, error);
}

std::optional<std::string> SpreadsheetFileJSON::encodeArray(const std::vector<SpreadsheetFile>& files,
                                                           std::string* error) {
  return encodeWith(
      [&] {
        OrderedJson array = OrderedJson::array();
        for (const SpreadsheetFile& file : files) array.push_back(encodeFile(file));
        return array;
      },
      error);
}

std::optional<std::vector<SpreadsheetFile>> SpreadsheetFileJSON::decodeArray(std::string_view json,
                                                                            std::string* error) {
  return decodeWith<std::vector<SpreadsheetFile>>(
      json,
      [](const Json& parsed) {
        if (!parsed.is_array()) throw DecodeFailure{"the stored value is not an array"};
        std::vector<SpreadsheetFile> files;
        files.reserve(parsed.size());
        for (size_t i = 0; i < parsed.size(); ++i) {
          files.push_back(decodeFile(parsed[i], "document " + std::to_string(i) + ": "));
        }
        return files;
      },
      error);
}

}  // namespace tabulo
