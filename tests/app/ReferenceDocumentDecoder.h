// The document store's earlier decoder, kept as the reference that the
// hand-written reader is held to: one pass over nlohmann's event interface,
// straight into documents. Tests and the JSON fuzz target run both on the same
// text; they must give the same documents, or both refuse (with the same
// reason, except that this one words a malformed text as nlohmann's own parse
// error).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/DocumentLimits.h"
#include "app/SpreadsheetFileJSON.h"

namespace tabulo::testing::reference {

using Json = nlohmann::json;

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

constexpr int kMaxCodedRangeDepth = 8;
constexpr size_t kMaxCodedRangeMembers = 64;

enum class Slot {
  none,
  // Document keys.
  uuid, title, creationDate, contents, rowHeights, columnWidths, mergedRanges,
  // Cell keys.
  text, textAlignment, textColor, cellColor, imagePath,
  // Colour keys.
  red, green, blue,
  unknown,
};

struct KeySlot {
  const char* key;
  Slot slot;
  uint32_t bit;  // in the frame's mask of required keys seen
};

constexpr KeySlot kDocumentKeys[] = {
    {kUUIDKey, Slot::uuid, 1},         {kTitleKey, Slot::title, 2},
    {kCreationDateKey, Slot::creationDate, 4}, {kContentsKey, Slot::contents, 8},
    {kRowHeightsKey, Slot::rowHeights, 16},    {kColumnWidthsKey, Slot::columnWidths, 32},
    {kMergedRangesKey, Slot::mergedRanges, 64},
};
constexpr KeySlot kCellKeys[] = {
    {kTextKey, Slot::text, 1},           {kTextAlignmentKey, Slot::textAlignment, 2},
    {kTextColorKey, Slot::textColor, 4}, {kCellColorKey, Slot::cellColor, 8},
    {kImagePathKey, Slot::imagePath, 0},
};
constexpr KeySlot kColorKeys[] = {{kRedKey, Slot::red, 1}, {kGreenKey, Slot::green, 2}, {kBlueKey, Slot::blue, 4}};

inline const char* keyName(Slot slot) {
  for (const KeySlot& entry : kDocumentKeys) {
    if (entry.slot == slot) return entry.key;
  }
  for (const KeySlot& entry : kCellKeys) {
    if (entry.slot == slot) return entry.key;
  }
  for (const KeySlot& entry : kColorKeys) {
    if (entry.slot == slot) return entry.key;
  }
  return "value";
}

template <size_t N>
inline const KeySlot* findKey(const KeySlot (&keys)[N], const std::string& key) {
  for (const KeySlot& entry : keys) {
    if (key == entry.key) return &entry;
  }
  return nullptr;
}

template <size_t N>
inline uint32_t allRequired(const KeySlot (&keys)[N]) {
  uint32_t mask = 0;
  for (const KeySlot& entry : keys) mask |= entry.bit;
  return mask;
}

template <size_t N>
inline const char* firstMissing(const KeySlot (&keys)[N], uint32_t seen) {
  for (const KeySlot& entry : keys) {
    if (entry.bit && !(seen & entry.bit)) return entry.key;
  }
  return "";
}

class DocumentReader : public nlohmann::json_sax<Json> {
 public:
  // `single`: the text is one document object rather than an array of them.
  explicit DocumentReader(bool single) : single_(single) {}

  std::vector<SpreadsheetFile> files;
  std::string error;

  bool null() override { return scalar(Value{Kind::null}); }
  bool boolean(bool value) override { return scalar(Value{Kind::boolean, 0, value}); }
  bool number_integer(number_integer_t value) override {
    return scalar(Value{Kind::number, static_cast<double>(value), false, value, true});
  }
  bool number_unsigned(number_unsigned_t value) override {
    bool fits = value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    return scalar(Value{Kind::number, static_cast<double>(value), false, fits ? static_cast<int64_t>(value) : 0, fits});
  }
  bool number_float(number_float_t value, const string_t&) override {
    return scalar(Value{Kind::number, value, false, 0, false, true});
  }
  bool string(string_t& value) override { return scalar(Value{Kind::string, 0, false, 0, false, false, &value}); }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }

  bool start_object(std::size_t) override { return start(true); }
  bool start_array(std::size_t) override { return start(false); }
  bool key(string_t& key) override;
  bool end_object() override { return end(); }
  bool end_array() override { return end(); }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& exception) override {
    if (error.empty()) error = exception.what();
    return false;
  }

 private:
  enum class Kind { null, boolean, number, string };
  struct Value {
    Kind kind;
    double number = 0;
    bool flag = false;
    int64_t integer = 0;
    bool isInteger = false;  // an integer within int64
    bool isFloat = false;    // written with a fraction or an exponent
    std::string* text = nullptr;
  };

  enum class Frame { documents, document, contents, row, cell, color, sizes, ranges, generic, skip };
  struct State {
    Frame frame;
    uint32_t seen = 0;
    Slot slot = Slot::none;  // the slot the next value fills (objects)
    ColorRepresentation* color = nullptr;
    std::vector<float>* sizes = nullptr;
    const char* name = "";  // sizes and colours: the key, for messages
    size_t depth = 0;                 // skip: open containers; generic: nesting
    platform::Object object{};        // generic: the container being built
    std::string pendingKey{};         // generic objects: the key of the next value
    size_t members = 0;               // generic: values added
  };

  bool fail(std::string reason) {
    if (error.empty()) error = std::move(reason);
    return false;
  }
  bool failHere(const std::string& what) { return fail(where() + what); }
  std::string where() const {
    std::string text = single_ ? "" : "document " + std::to_string(documentIndex_) + ": ";
    if (rowIndex_) text += "row " + std::to_string(*rowIndex_) + ": ";
    return text;
  }

  SpreadsheetFile& file() { return current_; }
  SpreadsheetCellContent& cell() { return current_.contents.back().back(); }

  bool scalar(const Value& value);
  bool start(bool isObject);
  bool end();
  bool finishDocument();
  bool finishRange(platform::Object object);
  bool addGeneric(platform::Object value);
  bool floatInto(const Value& value, float& out, const char* what);

  bool single_;
  bool started_ = false;
  std::vector<State> stack_;
  SpreadsheetFile current_;
  size_t cells_ = 0;  // cells of the current document so far
  size_t documentIndex_ = 0;
  std::optional<size_t> rowIndex_;
};

inline bool DocumentReader::floatInto(const Value& value, float& out, const char* what) {
  if (value.kind != Kind::number) return failHere(std::string(what) + " is not a number");
  if (!std::isfinite(value.number)) return failHere(std::string(what) + " is not finite");
  // Values from here on round to infinity: halfway between the largest float and 2^128.
  constexpr double kFloatOverflow = 0x1.ffffffp+127;
  if (std::fabs(value.number) >= kFloatOverflow) return failHere(std::string(what) + " does not fit a 32-bit float");
  out = static_cast<float>(value.number);
  return true;
}

inline bool DocumentReader::key(string_t& key) {
  State& top = stack_.back();
  const KeySlot* entry = nullptr;
  switch (top.frame) {
    case Frame::document: entry = findKey(kDocumentKeys, key); break;
    case Frame::cell: entry = findKey(kCellKeys, key); break;
    case Frame::color: entry = findKey(kColorKeys, key); break;
    case Frame::generic: top.pendingKey = key; return true;
    default: return true;  // skip
  }
  top.slot = entry ? entry->slot : Slot::unknown;
  if (entry) top.seen |= entry->bit;
  return true;
}

inline bool DocumentReader::scalar(const Value& value) {
  if (stack_.empty()) {
    return fail(single_ ? "a document is not an object" : "the stored value is not an array");
  }
  State& top = stack_.back();
  switch (top.frame) {
    case Frame::documents: return fail("document " + std::to_string(documentIndex_) + ": a document is not an object");
    case Frame::contents: return failHere("a row is not an array");
    case Frame::row: return failHere("a cell is not an object");
    case Frame::sizes: {
      float size = 0;
      if (!floatInto(value, size, top.name)) return false;
      top.sizes->push_back(size);
      return true;
    }
    case Frame::ranges: return finishRange(platform::Object());  // a scalar is no range
    case Frame::generic: {
      platform::Object object;
      switch (value.kind) {
        case Kind::null: break;
        case Kind::boolean: object = value.flag; break;
        case Kind::number:
          if (value.isInteger) {
            object = value.integer;
          } else {
            object = value.number;
          }
          break;
        case Kind::string: object = *value.text; break;
      }
      return addGeneric(std::move(object));
    }
    case Frame::skip: return true;
    case Frame::document:
      switch (top.slot) {
        case Slot::uuid:
        case Slot::title:
          if (value.kind != Kind::string) {
            return failHere(std::string("\"") + (top.slot == Slot::uuid ? kUUIDKey : kTitleKey) +
                            "\" has the wrong type");
          }
          (top.slot == Slot::uuid ? file().uuid : file().title) = std::move(*value.text);
          return true;
        case Slot::creationDate:
          if (value.kind != Kind::number) return failHere("\"creationDate\" is not a number");
          if (!std::isfinite(value.number)) return failHere("\"creationDate\" is not finite");
          file().creationDate = value.number;
          return true;
        case Slot::unknown: return true;
        default: return failHere(std::string("\"") + keyName(top.slot) + "\" has the wrong type");
      }
    case Frame::cell:
      switch (top.slot) {
        case Slot::text:
          if (value.kind != Kind::string) return failHere("\"text\" has the wrong type");
          if (value.text->size() > DocumentLimits::kMaxTextBytes) {
            return failHere("a text is longer than " + std::to_string(DocumentLimits::kMaxTextBytes) + " bytes");
          }
          cell().text = std::move(*value.text);
          return true;
        case Slot::textAlignment: {
          std::optional<TextAlignment> alignment;
          if (value.kind == Kind::number) {
            if (value.isInteger) {
              alignment = textAlignmentFromRawValue(value.integer);
            } else if (value.isFloat && (value.number == 0 || value.number == 1 || value.number == 2)) {
              alignment = textAlignmentFromRawValue(static_cast<int64_t>(value.number));
            }
          }
          if (!alignment) return failHere("\"textAlignment\" is not 0, 1 or 2");
          cell().textAlignment = *alignment;
          return true;
        }
        case Slot::imagePath:
          if (value.kind == Kind::null) {
            cell().imagePath.reset();
          } else if (value.kind == Kind::string) {
            cell().imagePath = std::move(*value.text);
          } else {
            return failHere("\"imagePath\" has the wrong type");
          }
          return true;
        case Slot::unknown: return true;
        default: return failHere(std::string("\"") + keyName(top.slot) + "\" has the wrong type");
      }
    case Frame::color:
      switch (top.slot) {
        case Slot::red: return floatInto(value, top.color->red, kRedKey);
        case Slot::green: return floatInto(value, top.color->green, kGreenKey);
        case Slot::blue: return floatInto(value, top.color->blue, kBlueKey);
        default: return true;
      }
  }
  return true;
}

inline bool DocumentReader::start(bool isObject) {
  if (stack_.empty()) {
    if (started_) return fail("more than one value");
    started_ = true;
    if (single_) {
      if (!isObject) return fail("a document is not an object");
      current_ = SpreadsheetFile();
      stack_.push_back(State{Frame::document});
    } else {
      if (isObject) return fail("the stored value is not an array");
      stack_.push_back(State{Frame::documents});
    }
    return true;
  }
  State& top = stack_.back();
  auto push = [&](State state) {
    stack_.push_back(std::move(state));
    return true;
  };
  switch (top.frame) {
    case Frame::documents:
      if (!isObject) return fail("document " + std::to_string(documentIndex_) + ": a document is not an object");
      current_ = SpreadsheetFile();
      cells_ = 0;
      rowIndex_.reset();
      return push(State{Frame::document});
    case Frame::document:
      switch (top.slot) {
        case Slot::contents:
          if (isObject) return failHere("\"contents\" has the wrong type");
          file().contents.clear();
          cells_ = 0;
          return push(State{Frame::contents});
        case Slot::rowHeights:
        case Slot::columnWidths: {
          bool heights = top.slot == Slot::rowHeights;
          if (isObject) return failHere(std::string("\"") + keyName(top.slot) + "\" has the wrong type");
          State state{Frame::sizes};
          state.sizes = heights ? &file().rowHeights : &file().columnWidths;
          state.sizes->clear();
          state.name = heights ? kRowHeightsKey : kColumnWidthsKey;
          return push(std::move(state));
        }
        case Slot::mergedRanges:
          if (isObject) return failHere("\"mergedRanges\" has the wrong type");
          file().mergedRanges.clear();
          return push(State{Frame::ranges});
        case Slot::unknown: {
          State state{Frame::skip};
          state.depth = 1;
          return push(std::move(state));
        }
        default: return failHere(std::string("\"") + keyName(top.slot) + "\" has the wrong type");
      }
    case Frame::contents:
      if (isObject) return failHere("a row is not an array");
      // Every row holds at least one cell once padded.
      if (file().contents.size() >= DocumentLimits::kMaxCells) {
        return failHere("the grid has more than " + std::to_string(DocumentLimits::kMaxCells) + " cells");
      }
      rowIndex_ = file().contents.size();
      file().contents.emplace_back();
      return push(State{Frame::row});
    case Frame::row:
      if (!isObject) return failHere("a cell is not an object");
      if (++cells_ > DocumentLimits::kMaxCells) {
        return failHere("the grid has more than " + std::to_string(DocumentLimits::kMaxCells) + " cells");
      }
      file().contents.back().emplace_back();
      return push(State{Frame::cell});
    case Frame::cell:
      switch (top.slot) {
        case Slot::textColor:
        case Slot::cellColor: {
          bool text = top.slot == Slot::textColor;
          if (!isObject) return failHere(std::string("\"") + keyName(top.slot) + "\" has the wrong type");
          State state{Frame::color};
          state.color = text ? &cell().textColor : &cell().cellColor;
          state.name = text ? kTextColorKey : kCellColorKey;
          return push(std::move(state));
        }
        case Slot::unknown: {
          State state{Frame::skip};
          state.depth = 1;
          return push(std::move(state));
        }
        default: return failHere(std::string("\"") + keyName(top.slot) + "\" has the wrong type");
      }
    case Frame::color:
      if (top.slot == Slot::red || top.slot == Slot::green || top.slot == Slot::blue) {
        return failHere(std::string(top.name) + ": " + keyName(top.slot) + " is not a number");
      }
      {
        State state{Frame::skip};
        state.depth = 1;
        return push(std::move(state));
      }
    case Frame::sizes: return failHere(std::string(top.name) + " is not a number");
    case Frame::ranges:
    case Frame::generic: {
      size_t depth = top.frame == Frame::generic ? top.depth + 1 : 0;
      if (depth > kMaxCodedRangeDepth) return fail("a merged range is nested too deeply");
      State state{Frame::generic};
      state.depth = depth;
      state.object = isObject ? platform::Object(platform::Dictionary{}) : platform::Object(platform::Array{});
      return push(std::move(state));
    }
    case Frame::skip:
      ++top.depth;
      return true;
  }
  return true;
}

inline bool DocumentReader::end() {
  State& top = stack_.back();
  switch (top.frame) {
    case Frame::skip:
      if (--top.depth > 0) return true;
      stack_.pop_back();
      return true;
    case Frame::generic: {
      platform::Object object = std::move(top.object);
      stack_.pop_back();
      if (stack_.back().frame == Frame::ranges) return finishRange(std::move(object));
      return addGeneric(std::move(object));
    }
    case Frame::cell:
      if ((top.seen & allRequired(kCellKeys)) != allRequired(kCellKeys)) {
        return failHere(std::string("\"") + firstMissing(kCellKeys, top.seen) + "\" is missing");
      }
      break;
    case Frame::color:
      if ((top.seen & allRequired(kColorKeys)) != allRequired(kColorKeys)) {
        return failHere(std::string(top.name) + ": \"" + firstMissing(kColorKeys, top.seen) + "\" is missing");
      }
      break;
    case Frame::contents: rowIndex_.reset(); break;
    case Frame::document:
      if ((top.seen & allRequired(kDocumentKeys)) != allRequired(kDocumentKeys)) {
        return failHere(std::string("\"") + firstMissing(kDocumentKeys, top.seen) + "\" is missing");
      }
      stack_.pop_back();
      return finishDocument();
    default: break;
  }
  stack_.pop_back();
  return true;
}

inline bool DocumentReader::finishDocument() {
  // Padding makes every row as wide as the widest: the grid it would make is
  // checked before anything is allocated for it.
  size_t widest = 0;
  for (const SpreadsheetFile::Row& row : current_.contents) widest = std::max(widest, row.size());
  const size_t rows = std::max<size_t>(current_.contents.size(), 1);
  if (std::max<size_t>(widest, 1) > DocumentLimits::kMaxCells / rows) {
    return fail(where() + "the grid has more than " + std::to_string(DocumentLimits::kMaxCells) + " cells");
  }
  SpreadsheetFileJSON::repair(current_);
  files.push_back(std::move(current_));
  current_ = SpreadsheetFile();
  cells_ = 0;
  ++documentIndex_;
  rowIndex_.reset();
  return true;
}

inline bool DocumentReader::finishRange(platform::Object object) {
  std::optional<platform::CellRange> range = platform::CellRange::decode(object);
  if (!range) return failHere("a merged range is not a cell range");
  file().mergedRanges.push_back(*range);
  return true;
}

inline bool DocumentReader::addGeneric(platform::Object value) {
  State& top = stack_.back();
  // A range's coded form is a few small dictionaries; anything bigger is
  // refused before it is built up in memory.
  if (++top.members > kMaxCodedRangeMembers) return fail("a merged range is not a cell range");
  if (platform::Array* array = top.object.mutableArray()) {
    array->push_back(std::move(value));
  } else if (platform::Dictionary* dictionary = top.object.mutableDictionary()) {
    dictionary->insert_or_assign(top.pendingKey, std::move(value));
  }
  return true;
}

// Reads `text` into documents; none, with the reason, when it does not hold
// exactly what is expected (one document, or an array of them).
inline std::optional<std::vector<SpreadsheetFile>> readDocuments(std::string_view text, bool single, std::string* error) {
  try {
    DocumentReader reader(single);
    if (Json::sax_parse(text.begin(), text.end(), &reader)) return std::move(reader.files);
    if (error) *error = reader.error.empty() ? "the text cannot be read" : reader.error;
  } catch (const std::exception& exception) {
    if (error) *error = exception.what();
  }
  return std::nullopt;
}


// The reference's answers for one document and for the store's array.
inline std::optional<SpreadsheetFile> decode(std::string_view text, std::string* error = nullptr) {
  std::optional<std::vector<SpreadsheetFile>> files = readDocuments(text, true, error);
  if (!files) return std::nullopt;
  if (files->size() != 1) {
    if (error) *error = "the text is not one document";
    return std::nullopt;
  }
  return std::move(files->front());
}

inline std::optional<std::vector<SpreadsheetFile>> decodeArray(std::string_view text, std::string* error = nullptr) {
  return readDocuments(text, false, error);
}

// Whether a reason of the reference is nlohmann's wording of a malformed text.
inline bool isParseError(const std::string& reason) { return reason.rfind("[json.exception.", 0) == 0; }

}  // namespace tabulo::testing::reference

namespace tabulo::testing {

// Every field equal, floats and the creation date bit for bit.
inline bool identical(const SpreadsheetFile& a, const SpreadsheetFile& b) {
  auto sameFloat = [](float x, float y) { return std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y); };
  auto sameFloats = [&](const std::vector<float>& x, const std::vector<float>& y) {
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
      if (!sameFloat(x[i], y[i])) return false;
    }
    return true;
  };
  auto sameColor = [&](const ColorRepresentation& x, const ColorRepresentation& y) {
    return sameFloat(x.red, y.red) && sameFloat(x.green, y.green) && sameFloat(x.blue, y.blue);
  };
  if (a.uuid != b.uuid || a.title != b.title ||
      std::bit_cast<uint64_t>(a.creationDate) != std::bit_cast<uint64_t>(b.creationDate) ||
      !sameFloats(a.rowHeights, b.rowHeights) || !sameFloats(a.columnWidths, b.columnWidths) ||
      a.mergedRanges != b.mergedRanges || a.contents.size() != b.contents.size()) {
    return false;
  }
  for (size_t r = 0; r < a.contents.size(); ++r) {
    if (a.contents[r].size() != b.contents[r].size()) return false;
    for (size_t c = 0; c < a.contents[r].size(); ++c) {
      const SpreadsheetCellContent& x = a.contents[r][c];
      const SpreadsheetCellContent& y = b.contents[r][c];
      if (x.text != y.text || x.textAlignment != y.textAlignment || x.imagePath != y.imagePath ||
          !sameColor(x.textColor, y.textColor) || !sameColor(x.cellColor, y.cellColor)) {
        return false;
      }
    }
  }
  return true;
}

// Decodes `text` with SpreadsheetFileJSON and with the reference, as the
// store's array or as one document. Empty when they agree: the same
// documents, or both refuse with the same reason (for a malformed text, both
// say so, each in its own words). An array's spans must each decode alone to
// their document. Otherwise, what differs.
inline std::string differenceFromReference(std::string_view text, bool single) {
  std::string reason, expectedReason;
  std::vector<SpreadsheetFile> files, expected;
  bool decoded = false, expectedDecoded = false;
  std::vector<SpreadsheetFileJSON::Span> spans;
  if (single) {
    auto file = SpreadsheetFileJSON::decode(text, &reason);
    if ((decoded = file.has_value())) files.push_back(std::move(*file));
    auto reference = reference::decode(text, &expectedReason);
    if ((expectedDecoded = reference.has_value())) expected.push_back(std::move(*reference));
  } else {
    auto array = SpreadsheetFileJSON::decodeArray(text, &reason, &spans);
    if ((decoded = array.has_value())) files = std::move(*array);
    auto reference = reference::decodeArray(text, &expectedReason);
    if ((expectedDecoded = reference.has_value())) expected = std::move(*reference);
  }
  if (decoded != expectedDecoded) {
    return decoded ? "decoded where the reference refused: " + expectedReason : "refused (" + reason + ") where the reference decoded";
  }
  if (!decoded) {
    if (reference::isParseError(expectedReason)) {
      if (reason.rfind("the text is not valid JSON", 0) != 0) {
        return "refused with \"" + reason + "\" where the reference found malformed JSON: " + expectedReason;
      }
    } else if (reason != expectedReason) {
      return "refused with \"" + reason + "\" where the reference said \"" + expectedReason + "\"";
    }
    return "";
  }
  if (files.size() != expected.size()) return "a different number of documents";
  for (size_t i = 0; i < files.size(); ++i) {
    if (!identical(files[i], expected[i])) return "document " + std::to_string(i) + " differs";
  }
  if (!single) {
    if (spans.size() != files.size()) return "a span for each document is missing";
    for (size_t i = 0; i < spans.size(); ++i) {
      if (spans[i].begin >= spans[i].end || spans[i].end > text.size()) return "a span lies outside the text";
      auto alone = SpreadsheetFileJSON::decode(text.substr(spans[i].begin, spans[i].end - spans[i].begin));
      if (!alone || !identical(*alone, files[i])) return "span " + std::to_string(i) + " does not hold its document";
    }
  }
  return "";
}

}  // namespace tabulo::testing
