#include "app/SpreadsheetFileJSON.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "app/DocumentLimits.h"
#include "app/FileNames.h"
#include "app/TextEncoding.h"

namespace tabulo {
namespace {

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

constexpr float kHeaderRowHeight = 20;
constexpr float kRowHeight = 30;
constexpr float kNumberColumnWidth = 50;
constexpr float kColumnWidth = 100;

// Deepest nesting, and most members of one container, accepted inside a
// merged range's coded form.
constexpr int kMaxCodedRangeDepth = 8;
constexpr size_t kMaxCodedRangeMembers = 64;

// ---- Encoding --------------------------------------------------------------
//
// Written straight into one reserved buffer, without a JSON tree, in the
// form the platform's JSON encoder gives: compact, keys in field order, a
// merged range's dictionary in ascending key order, strings with only '"',
// '\', and control characters escaped, doubles in their shortest form
// (nlohmann's own formatting, so that stored bytes stay exactly as before).

struct EncodeFailure {
  std::string reason;
};

// Counts what would be written (the encoded size, without the bytes).
struct ByteCounter {
  using value_type = char;
  size_t count = 0;
  void push_back(char) { ++count; }
  size_t size() const { return count; }
  void reserve(size_t) {}
};

// Appends to a std::string, to bytes (the store's data value, built in place
// so that it can be moved on), or to a counter.
template <typename Buffer>
class Writer {
 public:
  explicit Writer(Buffer& out) : out_(out) {}

  size_t size() const { return out_.size(); }
  void raw(std::string_view text) { append(text.data(), text.size()); }
  void raw(char c) { out_.push_back(static_cast<typename Buffer::value_type>(c)); }
  void key(std::string_view name) {
    raw('"');
    raw(name);
    raw("\":");
  }

  void integer(int64_t value) {
    char buffer[24];
    auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    append(buffer, static_cast<size_t>(written.ptr - buffer));
  }

  // Integral values without a fraction (except -0, whose sign needs one).
  void number(double value) {
    if (!std::isfinite(value)) throw EncodeFailure{"a number is not finite"};
    if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0 && !(value == 0 && std::signbit(value))) {
      integer(static_cast<int64_t>(value));
      return;
    }
    char buffer[64];
    char* end = nlohmann::detail::to_chars(buffer, buffer + sizeof buffer, value);
    append(buffer, static_cast<size_t>(end - buffer));
  }

  // The shortest decimal that reads back as `value`: the float's own shortest
  // form when it survives the trip through a double, else the exact value.
  void floatNumber(float value) {
    if (!std::isfinite(value)) throw EncodeFailure{"a size or colour component is not finite"};
    // Small whole numbers (sizes, colour components 0 and 1) need no search.
    if (value == std::trunc(value) && std::fabs(value) < 16777216.0f && !(value == 0 && std::signbit(value))) {
      integer(static_cast<int64_t>(value));
      return;
    }
    char buffer[64];
    auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double candidate = value;
    double parsed = 0;
    if (written.ec == std::errc() && std::from_chars(buffer, written.ptr, parsed).ec == std::errc() &&
        std::bit_cast<uint32_t>(static_cast<float>(parsed)) == std::bit_cast<uint32_t>(value)) {
      candidate = parsed;
    }
    number(candidate);
  }

  void text(std::string_view value) {
    if (!isValidUTF8(value)) throw EncodeFailure{"a text is not valid UTF-8"};
    static constexpr char kHex[] = "0123456789abcdef";
    raw('"');
    size_t run = 0;  // start of the bytes not yet copied
    for (size_t i = 0; i < value.size(); ++i) {
      const auto c = static_cast<unsigned char>(value[i]);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      append(value.data() + run, i - run);
      run = i + 1;
      switch (c) {
        case '"': raw("\\\""); break;
        case '\\': raw("\\\\"); break;
        case '\b': raw("\\b"); break;
        case '\f': raw("\\f"); break;
        case '\n': raw("\\n"); break;
        case '\r': raw("\\r"); break;
        case '\t': raw("\\t"); break;
        default: {
          const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
          append(escape, sizeof escape);
        }
      }
    }
    append(value.data() + run, value.size() - run);
    raw('"');
  }

  void object(const platform::Object& object) {
    switch (object.type()) {
      case platform::Object::Type::Null: raw("null"); return;
      case platform::Object::Type::Bool: raw(*object.boolValue() ? "true" : "false"); return;
      case platform::Object::Type::Int: integer(*object.intValue()); return;
      case platform::Object::Type::Double: number(*object.doubleValue()); return;
      case platform::Object::Type::String: text(*object.stringValue()); return;
      case platform::Object::Type::Array: {
        raw('[');
        bool first = true;
        for (const platform::Object& element : *object.arrayValue()) {
          if (!first) raw(',');
          first = false;
          this->object(element);
        }
        raw(']');
        return;
      }
      case platform::Object::Type::Dictionary: {
        raw('{');
        bool first = true;
        for (const auto& [name, value] : *object.dictionaryValue()) {
          if (!first) raw(',');
          first = false;
          text(name);
          raw(':');
          this->object(value);
        }
        raw('}');
        return;
      }
      default: throw EncodeFailure{"a merged range holds a value JSON cannot carry"};
    }
  }

  void color(const ColorRepresentation& color) {
    raw('{');
    key(kRedKey);
    floatNumber(color.red);
    raw(',');
    key(kGreenKey);
    floatNumber(color.green);
    raw(',');
    key(kBlueKey);
    floatNumber(color.blue);
    raw('}');
  }

  void cell(const SpreadsheetCellContent& cell) {
    raw('{');
    key(kTextKey);
    text(cell.text);
    raw(',');
    key(kTextAlignmentKey);
    integer(rawValue(cell.textAlignment));
    raw(',');
    key(kTextColorKey);
    color(cell.textColor);
    raw(',');
    key(kCellColorKey);
    color(cell.cellColor);
    if (cell.imagePath) {
      raw(',');
      key(kImagePathKey);
      text(*cell.imagePath);
    }
    raw('}');
  }

  void sizes(const std::vector<float>& sizes) {
    raw('[');
    for (size_t i = 0; i < sizes.size(); ++i) {
      if (i) raw(',');
      floatNumber(sizes[i]);
    }
    raw(']');
  }

  void file(const SpreadsheetFile& file) {
    raw('{');
    key(kUUIDKey);
    text(file.uuid);
    raw(',');
    key(kTitleKey);
    text(file.title);
    raw(',');
    key(kCreationDateKey);
    number(file.creationDate);
    raw(',');
    key(kContentsKey);
    raw('[');
    for (size_t r = 0; r < file.contents.size(); ++r) {
      if (r) raw(',');
      raw('[');
      const SpreadsheetFile::Row& row = file.contents[r];
      for (size_t c = 0; c < row.size(); ++c) {
        if (c) raw(',');
        cell(row[c]);
      }
      raw(']');
    }
    raw(']');
    raw(',');
    key(kRowHeightsKey);
    sizes(file.rowHeights);
    raw(',');
    key(kColumnWidthsKey);
    sizes(file.columnWidths);
    raw(',');
    key(kMergedRangesKey);
    raw('[');
    for (size_t i = 0; i < file.mergedRanges.size(); ++i) {
      if (i) raw(',');
      object(file.mergedRanges[i].encode());
    }
    raw(']');
    raw('}');
  }

 private:
  void append(const char* text, size_t size) {
    if constexpr (std::is_same_v<Buffer, std::string>) {
      out_.append(text, size);
    } else if constexpr (std::is_same_v<Buffer, ByteCounter>) {
      (void)text;
      out_.count += size;
    } else {
      const auto* bytes = reinterpret_cast<const uint8_t*>(text);
      out_.insert(out_.end(), bytes, bytes + size);
    }
  }

  Buffer& out_;
};

// A first guess of a document's encoded size, for reserving the buffer.
size_t sizeHint(const SpreadsheetFile& file) {
  size_t cells = 0;
  size_t texts = 0;
  for (const SpreadsheetFile::Row& row : file.contents) {
    cells += row.size();
    for (const SpreadsheetCellContent& cell : row) texts += cell.text.size();
  }
  return 256 + cells * 112 + texts + (file.rowHeights.size() + file.columnWidths.size()) * 4 +
         file.mergedRanges.size() * 56 + file.title.size();
}

template <typename Buffer, typename Build>
std::optional<Buffer> encodeWith(size_t hint, Build build, std::string* error) {
  try {
    Buffer out;
    out.reserve(hint);
    Writer<Buffer> writer(out);
    build(writer);
    return out;
  } catch (const EncodeFailure& failure) {
    if (error) *error = failure.reason;
  } catch (const std::exception& exception) {
    if (error) *error = exception.what();
  }
  return std::nullopt;
}

// ---- Decoding --------------------------------------------------------------
//
// The stored array is read in one pass over nlohmann's event interface,
// straight into documents, without building a tree of the whole text: the
// document list reads the whole store on every appearance. A key that appears
// more than once in an object counts with its last value; every one of its
// values must be valid.

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

const char* keyName(Slot slot) {
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
const KeySlot* findKey(const KeySlot (&keys)[N], const std::string& key) {
  for (const KeySlot& entry : keys) {
    if (key == entry.key) return &entry;
  }
  return nullptr;
}

template <size_t N>
uint32_t allRequired(const KeySlot (&keys)[N]) {
  uint32_t mask = 0;
  for (const KeySlot& entry : keys) mask |= entry.bit;
  return mask;
}

template <size_t N>
const char* firstMissing(const KeySlot (&keys)[N], uint32_t seen) {
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

bool DocumentReader::floatInto(const Value& value, float& out, const char* what) {
  if (value.kind != Kind::number) return failHere(std::string(what) + " is not a number");
  if (!std::isfinite(value.number)) return failHere(std::string(what) + " is not finite");
  // Values from here on round to infinity: halfway between the largest float and 2^128.
  constexpr double kFloatOverflow = 0x1.ffffffp+127;
  if (std::fabs(value.number) >= kFloatOverflow) return failHere(std::string(what) + " does not fit a 32-bit float");
  out = static_cast<float>(value.number);
  return true;
}

bool DocumentReader::key(string_t& key) {
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

bool DocumentReader::scalar(const Value& value) {
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

bool DocumentReader::start(bool isObject) {
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

bool DocumentReader::end() {
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

bool DocumentReader::finishDocument() {
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

bool DocumentReader::finishRange(platform::Object object) {
  std::optional<platform::CellRange> range = platform::CellRange::decode(object);
  if (!range) return failHere("a merged range is not a cell range");
  file().mergedRanges.push_back(*range);
  return true;
}

bool DocumentReader::addGeneric(platform::Object value) {
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
std::optional<std::vector<SpreadsheetFile>> readDocuments(std::string_view text, bool single, std::string* error) {
  try {
    DocumentReader reader(single);
    if (Json::sax_parse(text.begin(), text.end(), &reader)) return std::move(reader.files);
    if (error) *error = reader.error.empty() ? "the text cannot be read" : reader.error;
  } catch (const std::exception& exception) {
    if (error) *error = exception.what();
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<SpreadsheetFileJSON::ArrayElement>> SpreadsheetFileJSON::scanArray(std::string_view json) {
  const char* const data = json.data();
  const size_t size = json.size();
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\n' || data[i] == '\r')) ++i;
  };
  // Moves past the string whose opening quote is at i; false when it never
  // closes. `escaped` tells whether it holds a backslash.
  auto skipString = [&](bool& escaped) {
    const size_t start = ++i;
    while (true) {
      const void* found = std::memchr(data + i, '"', size - i);
      if (!found) return false;
      const size_t quote = static_cast<size_t>(static_cast<const char*>(found) - data);
      size_t backslashes = 0;
      while (quote - backslashes > start && data[quote - backslashes - 1] == '\\') ++backslashes;
      i = quote + 1;
      if (backslashes % 2 == 0) break;  // else the quote is text
    }
    escaped = std::memchr(data + start, '\\', i - 1 - start) != nullptr;
    return true;
  };

  std::vector<ArrayElement> elements;
  char open[kMaxScanDepth];  // the opening bracket of each container within an element
  skipSpace();
  if (i >= size || data[i] != '[') return std::nullopt;
  ++i;
  skipSpace();
  if (i < size && data[i] == ']') {
    ++i;
  } else {
    while (true) {
      skipSpace();
      if (i >= size || data[i] != '{') return std::nullopt;
      ArrayElement element;
      element.span.begin = i;
      bool haveUUID = false;
      size_t depth = 0;
      bool expectKey = false;  // the next string of the element's own object is a key
      while (true) {
        if (i >= size) return std::nullopt;
        const char c = data[i];
        if (c == '"') {
          const size_t start = i;
          bool escaped = false;
          if (!skipString(escaped)) return std::nullopt;
          if (depth == 1 && expectKey) {
            expectKey = false;
            if (escaped) return std::nullopt;  // a key the scanner would have to unescape
            if (json.substr(start + 1, i - start - 2) == kUUIDKey) {
              skipSpace();
              if (i >= size || data[i] != ':') return std::nullopt;
              ++i;
              skipSpace();
              if (i >= size || data[i] != '"' || haveUUID) return std::nullopt;
              const size_t valueStart = i;
              if (!skipString(escaped) || escaped) return std::nullopt;
              element.uuid = json.substr(valueStart + 1, i - valueStart - 2);
              haveUUID = true;
            }
          }
          continue;
        }
        if (c == '{' || c == '[') {
          if (depth == kMaxScanDepth) return std::nullopt;
          open[depth++] = c;
          expectKey = depth == 1;
        } else if (c == '}' || c == ']') {
          if (depth == 0 || open[depth - 1] != (c == '}' ? '{' : '[')) return std::nullopt;
          if (--depth == 0) {
            ++i;
            break;
          }
        } else if (c == ',' && depth == 1) {
          expectKey = true;
        }
        ++i;
      }
      if (!haveUUID) return std::nullopt;
      element.span.end = i;
      elements.push_back(element);
      skipSpace();
      if (i < size && data[i] == ',') {
        ++i;
        continue;
      }
      if (i < size && data[i] == ']') {
        ++i;
        break;
      }
      return std::nullopt;
    }
  }
  skipSpace();
  if (i != size) return std::nullopt;
  return elements;
}

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
  return encodeWith<std::string>(sizeHint(file), [&](auto& writer) { writer.file(file); }, error);
}

std::optional<size_t> SpreadsheetFileJSON::encodedSize(const SpreadsheetFile& file, std::string* error) {
  std::optional<ByteCounter> counted = encodeWith<ByteCounter>(0, [&](auto& writer) { writer.file(file); }, error);
  if (!counted) return std::nullopt;
  return counted->count;
}

std::optional<SpreadsheetFile> SpreadsheetFileJSON::decode(std::string_view json, std::string* error) {
  std::optional<std::vector<SpreadsheetFile>> files = readDocuments(json, true, error);
  if (!files) return std::nullopt;
  if (files->size() != 1) {
    if (error) *error = "the text is not one document";
    return std::nullopt;
  }
  return std::move(files->front());
}

namespace {

template <typename Buffer>
std::optional<Buffer> encodeArrayInto(const std::vector<SpreadsheetFile>& files, std::string* error,
                                      std::vector<SpreadsheetFileJSON::Span>* spans) {
  size_t hint = 2;
  for (const SpreadsheetFile& file : files) hint += sizeHint(file) + 1;
  std::vector<SpreadsheetFileJSON::Span> found;
  std::optional<Buffer> encoded = encodeWith<Buffer>(
      hint,
      [&](auto& writer) {
        writer.raw('[');
        for (size_t i = 0; i < files.size(); ++i) {
          if (i) writer.raw(',');
          SpreadsheetFileJSON::Span span{writer.size(), 0};
          writer.file(files[i]);
          span.end = writer.size();
          found.push_back(span);
        }
        writer.raw(']');
      },
      error);
  if (encoded && spans) *spans = std::move(found);
  return encoded;
}

}  // namespace

std::optional<std::string> SpreadsheetFileJSON::encodeArray(const std::vector<SpreadsheetFile>& files,
                                                           std::string* error) {
  return encodeArrayInto<std::string>(files, error, nullptr);
}

std::optional<platform::Bytes> SpreadsheetFileJSON::encodeArrayData(const std::vector<SpreadsheetFile>& files,
                                                                   std::string* error, std::vector<Span>* spans) {
  return encodeArrayInto<platform::Bytes>(files, error, spans);
}

std::optional<std::vector<SpreadsheetFile>> SpreadsheetFileJSON::decodeArray(std::string_view json,
                                                                            std::string* error) {
  return readDocuments(json, false, error);
}

}  // namespace tabulo
