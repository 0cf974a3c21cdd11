#include "app/SpreadsheetFileJSON.h"

#include <algorithm>
#include <array>
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
#include "platform/text/Utf8.h"

namespace tabulo {
namespace {

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
constexpr size_t kMaxCodedRangeDepth = 8;
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
    if (!platform::utf8::isValid(value)) throw EncodeFailure{"a text is not valid UTF-8"};
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
// The stored array is read by hand in one pass over its bytes, straight into
// documents, without a tree or a token buffer: the document list reads the
// whole store at start-up. Strings are checked (escapes, UTF-8, no raw control
// characters) and measured first, then decoded once into the field they fill.
// A key that appears more than once in an object counts with its last value;
// every one of its values must be valid.
//
// What the reader accepts and how it reads numbers follow the JSON reader the
// store was first read with (nlohmann's), so that every stored text reads as
// it always did: a leading byte order mark is skipped; a NUL byte where a
// value or separator is expected ends the text as the end does; an integer
// within int64 (or uint64) stays an integer, any other number is the nearest
// double, and a number beyond the double range refuses the text (one below it
// reads as zero). A problem with the JSON itself is reported with the byte
// offset where it was found; a problem with the documents names the document,
// the row and the key, and is found in the same order as before: for a
// value, once the whole value's token has been read; for a container, at its
// opening bracket.

struct DecodeFailure {
  std::string reason;
};

enum class Slot {
  // Document keys.
  uuid, title, creationDate, contents, rowHeights, columnWidths, mergedRanges,
  // Cell keys.
  text, textAlignment, textColor, cellColor, imagePath,
  // Colour keys.
  red, green, blue,
  unknown,
};

struct KeySlot {
  std::string_view key;
  Slot slot;
  uint32_t bit;  // in the object's mask of required keys seen
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

// Whether n bytes are equal, compared in place in at most two overlapping
// loads each for the few bytes of a key (no call out).
[[gnu::always_inline]] inline bool sameBytes(const char* a, const char* b, size_t n) {
  auto equalAt = [&]<typename Word>(Word, size_t at) {
    Word x, y;
    std::memcpy(&x, a + at, sizeof x);
    std::memcpy(&y, b + at, sizeof y);
    return x == y;
  };
  if (n >= 8 && n <= 16) return equalAt(uint64_t{}, 0) && equalAt(uint64_t{}, n - 8);
  if (n >= 4 && n < 8) return equalAt(uint32_t{}, 0) && equalAt(uint32_t{}, n - 4);
  if (n >= 2 && n < 4) return equalAt(uint16_t{}, 0) && equalAt(uint16_t{}, n - 2);
  return std::memcmp(a, b, n) == 0;
}

// Finds `key` and marks it seen; `next` becomes the index after it.
template <size_t N>
Slot findKey(const KeySlot (&keys)[N], std::string_view key, uint32_t& seen, size_t& next) {
  for (size_t i = 0; i < N; ++i) {
    if (key.size() == keys[i].key.size() && sameBytes(key.data(), keys[i].key.data(), key.size())) {
      seen |= keys[i].bit;
      next = i + 1;
      return keys[i].slot;
    }
  }
  return Slot::unknown;
}

template <size_t N>
constexpr uint32_t allRequired(const KeySlot (&keys)[N]) {
  uint32_t mask = 0;
  for (const KeySlot& entry : keys) mask |= entry.bit;
  return mask;
}

template <size_t N>
std::string_view firstMissing(const KeySlot (&keys)[N], uint32_t seen) {
  for (const KeySlot& entry : keys) {
    if (entry.bit && !(seen & entry.bit)) return entry.key;
  }
  return "";
}

// Bytes that a string holds as they are: printable ASCII other than '"' and '\'.
constexpr std::array<bool, 256> kPlainStringBytes = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[static_cast<size_t>(c)] = c != '"' && c != '\\';
  return plain;
}();

// Flags (in its high bit) each of eight bytes that is '"', '\\', a control
// character or beyond ASCII. A flag may be wrong only above a right one, so
// the lowest flag is the first such byte.
constexpr uint64_t specialBytes(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  auto zeroBytes = [](uint64_t x) { return (x - kOnes) & ~x & kHigh; };
  return zeroBytes(word ^ (kOnes * '"')) | zeroBytes(word ^ (kOnes * '\\')) | ((word - kOnes * 0x20) & ~word & kHigh) |
         (word & kHigh);
}

// Bytes that may open a value.
constexpr std::array<bool, 256> kValueStartBytes = [] {
  std::array<bool, 256> start{};
  for (char c : std::string_view("{[\"-tfn0123456789")) start[static_cast<unsigned char>(c)] = true;
  return start;
}();

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

size_t utf8Length(char32_t codePoint) {
  return codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
}

// A number as the documents read it.
struct Number {
  double value = 0;
  int64_t integer = 0;     // when isInteger
  bool isInteger = false;  // written without a fraction or an exponent, within int64
  bool isFloat = false;    // written with a fraction or an exponent, or an integer beyond 64 bits
};

// A checked string: its bytes between the quotes and its decoded length.
struct StringToken {
  const char* begin;
  const char* end;
  size_t length;
  bool escaped;
};

// Reads one text into documents (run), throwing DecodeFailure at the first
// problem; p_ walks the text once.
class DocumentParser {
 public:
  // `single`: the text is one document object rather than an array of them.
  DocumentParser(std::string_view text, bool single)
      : text_(text), p_(text.data()), end_(text.data() + text.size()), single_(single) {}

  std::vector<SpreadsheetFile> files;
  std::vector<SpreadsheetFileJSON::Span> spans;  // of each document in the array

  void run();

 private:
  static constexpr int kEnd = -1;

  // ---- The JSON itself.

  [[noreturn]] void syntax(const char* what) const {
    throw DecodeFailure{"the text is not valid JSON at byte " + std::to_string(offset()) + ": " + what};
  }
  size_t offset() const { return static_cast<size_t>(p_ - text_.data()); }

  // Skips white space; the next byte, or kEnd at the end of the text or at a
  // NUL byte.
  [[gnu::always_inline]] int peek() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    if (p_ == end_ || *p_ == '\0') return kEnd;
    return static_cast<unsigned char>(*p_);
  }
  // The first byte of the value that comes next.
  [[gnu::always_inline]] int valueStart() {
    const int c = peek();
    if (c == kEnd || !kValueStartBytes[static_cast<size_t>(c)]) noValue(c);
    return c;
  }
  [[noreturn, gnu::noinline]] void noValue(int c) const {
    syntax(c == kEnd ? "the text ends where a value is expected" : "a value is expected");
  }
  static bool isContainer(int c) { return c == '{' || c == '['; }
  // The value that comes next must open with `open`; any other calls
  // `refuse` (which throws): at once for a container, once the whole of a
  // scalar has been read.
  template <typename Refuse>
  [[gnu::always_inline]] void expect(char open, Refuse refuse) {
    const int c = valueStart();
    if (c == open) return;
    if (!isContainer(c)) skipScalar();
    refuse();
  }

  StringToken scanString();
  void decodeString(const StringToken& token, std::string& out) const;
  std::string_view key(const StringToken& token) {
    if (!token.escaped) return {token.begin, static_cast<size_t>(token.end - token.begin)};
    decodeString(token, keyBuffer_);
    return keyBuffer_;
  }
  // The number at p_ (at its '-' or first digit). Most numbers are small
  // integers: up to 18 digits need no further checks.
  [[gnu::always_inline]] Number number() {
    const char* q = p_;
    if (isDigit(*q)) {
      uint64_t value = static_cast<uint64_t>(*q++ - '0');
      if (value != 0) {
        while (q < end_ && isDigit(*q) && q - p_ < 18) value = value * 10 + static_cast<uint64_t>(*q++ - '0');
      }
      if (q == end_ || (!isDigit(*q) && *q != '.' && *q != 'e' && *q != 'E')) {
        p_ = q;
        Number result;
        result.value = static_cast<double>(value);
        result.integer = static_cast<int64_t>(value);
        result.isInteger = true;
        return result;
      }
    }
    return anyNumber();
  }
  Number anyNumber();
  bool outOfRangeIsOverflow(const char* digits, const char* end) const;
  // true, false or null: the literal's first byte.
  char literal();
  // Reads and checks the scalar value that comes next, keeping nothing.
  void skipScalar();
  // Reads and checks the value that comes next, keeping nothing.
  void skipValue();

  // An array at p_: `element` reads each element (and must consume it).
  template <typename Element>
  void array(Element element) {
    ++p_;
    if (peek() == ']') {
      ++p_;
      return;
    }
    while (true) {
      element();
      const int c = peek();
      if (c != ',' && c != ']') syntax("',' or ']' is expected");
      ++p_;
      if (c == ']') return;
    }
  }
  // An object at p_: for each member, `readKey` reads its key (at its opening
  // quote) and `member` reads its value, given what readKey answered.
  template <typename ReadKey, typename Member>
  void members(ReadKey readKey, Member member) {
    ++p_;
    int c = peek();
    if (c == '}') {
      ++p_;
      return;
    }
    while (true) {
      if (c != '"') syntax("a key is expected");
      const auto key = readKey();
      if (peek() != ':') syntax("':' is expected");
      ++p_;
      member(key);
      c = peek();
      if (c != ',' && c != '}') syntax("',' or '}' is expected");
      ++p_;
      if (c == '}') return;
      c = peek();
    }
  }
  // An object at p_: `member` reads each member's value, given its key (the
  // key's bytes are valid until the next key).
  template <typename Member>
  void object(Member member) {
    members([&] { return key(scanString()); }, member);
  }
  // An object whose keys are in `keys`, at p_: `member` reads each member's
  // value, given its key's slot. Answers the mask of keys seen. Keys mostly
  // come in the table's order (the order they are written in): the one
  // expected next is matched in place, quotes included, which also shows it
  // is a plain string; any other key is read and looked up.
  template <size_t N, typename Member>
  uint32_t knownObject(const KeySlot (&keys)[N], Member member) {
    uint32_t seen = 0;
    size_t next = 0;
    auto readKey = [&] {
      if (next < N) {
        const std::string_view expected = keys[next].key;
        if (static_cast<size_t>(end_ - p_) >= expected.size() + 2 &&
            sameBytes(p_ + 1, expected.data(), expected.size()) && p_[expected.size() + 1] == '"') {
          p_ += expected.size() + 2;
          seen |= keys[next].bit;
          return keys[next++].slot;
        }
      }
      return findKey(keys, key(scanString()), seen, next);
    };
    members(readKey, member);
    return seen;
  }

  // ---- The documents.

  [[noreturn]] void fail(std::string reason) const { throw DecodeFailure{std::move(reason)}; }
  [[noreturn]] void failHere(std::string_view what) const { fail(where() + std::string(what)); }
  [[noreturn]] void failWrongType(std::string_view key) const {
    failHere("\"" + std::string(key) + "\" has the wrong type");
  }
  [[noreturn]] void failTooManyCells() const {
    failHere("the grid has more than " + std::to_string(DocumentLimits::kMaxCells) + " cells");
  }
  std::string where() const {
    std::string text = single_ ? "" : "document " + std::to_string(files.size()) + ": ";
    if (rowIndex_) text += "row " + std::to_string(*rowIndex_) + ": ";
    return text;
  }

  void document();
  void finishDocument();
  void contents();
  void row(SpreadsheetFile::Row& row);
  void cell(SpreadsheetCellContent& cell);
  void color(ColorRepresentation& color, std::string_view name);
  void sizes(std::vector<float>& sizes, const char* name);
  void ranges();
  // A string value for `out`; anything else fails as the wrong type of `key`.
  void stringInto(std::string& out, std::string_view key);
  // A number for a size or a colour component; anything else fails.
  [[gnu::always_inline]] float floatValue(int start, const char* what) {
    if (start != '-' && !isDigit(static_cast<char>(start))) notANumber(what);
    const double value = number().value;
    // Values from here on round to infinity: halfway between the largest float and 2^128.
    constexpr double kFloatOverflow = 0x1.ffffffp+127;
    if (std::fabs(value) >= kFloatOverflow) failHere(std::string(what) + " does not fit a 32-bit float");
    return static_cast<float>(value);
  }
  // Reads the scalar value at p_ (a container fails earlier) and fails.
  [[noreturn]] void notANumber(const char* what) {
    skipScalar();
    failHere(std::string(what) + " is not a number");
  }
  // A merged range's coded form: the container at p_ at `depth`, and a value in it.
  platform::Object generic(size_t depth);
  platform::Object genericValue(size_t depth);
  void finishRange(const platform::Object& object);

  std::string_view text_;
  const char* p_;
  const char* end_;
  bool single_;
  std::string keyBuffer_;  // an escaped key, decoded
  SpreadsheetFile current_;
  size_t cells_ = 0;  // cells of the current document so far
  std::optional<size_t> rowIndex_;
};

StringToken DocumentParser::scanString() {
  const char* const start = ++p_;
  const char* q = start;
  size_t saved = 0;  // bytes that escapes take beyond what they stand for
  bool escaped = false;
  while (true) {
    // Eight bytes at a time up to the first one that is not plain; byte by
    // byte near the end.
    while (end_ - q >= 8) {
      uint64_t word;
      std::memcpy(&word, q, 8);
      if (const uint64_t special = specialBytes(word)) {
        q += std::countr_zero(special) / 8;
        break;
      }
      q += 8;
    }
    while (q < end_ && kPlainStringBytes[static_cast<unsigned char>(*q)]) ++q;
    if (q == end_) {
      p_ = q;
      syntax("a string is not closed");
    }
    const auto c = static_cast<unsigned char>(*q);
    if (c == '"') break;
    if (c >= 0x80) {
      platform::utf8::Decoded decoded = platform::utf8::decode(text_, static_cast<size_t>(q - text_.data()));
      if (!decoded.valid) {
        p_ = q;
        syntax("a string is not valid UTF-8");
      }
      q += decoded.length;
      continue;
    }
    if (c < 0x20) {
      p_ = q;
      syntax("a control character in a string is not escaped");
    }
    // A backslash.
    escaped = true;
    p_ = q;
    if (end_ - q < 2) syntax("a string is not closed");
    switch (q[1]) {
      case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
        q += 2;
        saved += 1;
        continue;
      case 'u': break;
      default: syntax("a backslash is followed by a character that is no escape");
    }
    auto hex4 = [&](const char* at) {
      if (end_ - at < 4) return -1;
      int value = 0;
      for (int i = 0; i < 4; ++i) {
        const int digit = hexDigit(at[i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
      }
      return value;
    };
    const int first = hex4(q + 2);
    if (first < 0) syntax("'\\u' is not followed by four hexadecimal digits");
    if (first >= 0xDC00 && first <= 0xDFFF) syntax("a low surrogate does not follow a high one");
    if (first >= 0xD800 && first <= 0xDBFF) {
      if (end_ - q < 8 || q[6] != '\\' || q[7] != 'u') syntax("a high surrogate is not followed by a low one");
      const int second = hex4(q + 8);
      if (second < 0) syntax("'\\u' is not followed by four hexadecimal digits");
      if (second < 0xDC00 || second > 0xDFFF) syntax("a high surrogate is not followed by a low one");
      q += 12;
      saved += 12 - 4;
    } else {
      q += 6;
      saved += 6 - utf8Length(static_cast<char32_t>(first));
    }
  }
  StringToken token{start, q, static_cast<size_t>(q - start) - saved, escaped};
  p_ = q + 1;
  return token;
}

// The token was checked by scanString: every escape in it is whole and valid.
void DocumentParser::decodeString(const StringToken& token, std::string& out) const {
  const size_t size = static_cast<size_t>(token.end - token.begin);
  if (!token.escaped) {
    out.assign(token.begin, size);
    return;
  }
  out.clear();
  out.reserve(token.length);
  const char* q = token.begin;
  while (q < token.end) {
    const void* found = std::memchr(q, '\\', static_cast<size_t>(token.end - q));
    const char* backslash = found ? static_cast<const char*>(found) : token.end;
    out.append(q, static_cast<size_t>(backslash - q));
    q = backslash;
    if (q == token.end) break;
    const char escape = q[1];
    q += 2;
    switch (escape) {
      case 'b': out += '\b'; continue;
      case 'f': out += '\f'; continue;
      case 'n': out += '\n'; continue;
      case 'r': out += '\r'; continue;
      case 't': out += '\t'; continue;
      case 'u': break;
      default: out += escape; continue;  // '"', '\' and '/'
    }
    auto hex4 = [](const char* at) {
      return static_cast<char32_t>(hexDigit(at[0]) << 12 | hexDigit(at[1]) << 8 | hexDigit(at[2]) << 4 |
                                   hexDigit(at[3]));
    };
    char32_t codePoint = hex4(q);
    q += 4;
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (hex4(q + 2) - 0xDC00);
      q += 6;
    }
    platform::utf8::append(out, codePoint);
  }
}

Number DocumentParser::anyNumber() {
  const char* const start = p_;
  const char* q = p_;
  const bool negative = *q == '-';
  if (negative) ++q;
  const char* const digits = q;
  if (q == end_ || !isDigit(*q)) {
    p_ = q;
    syntax("a digit is expected after '-'");
  }
  if (*q == '0') {
    ++q;
  } else {
    while (q < end_ && isDigit(*q)) ++q;
  }
  const char* const integerEnd = q;
  bool isFloat = false;
  if (q < end_ && *q == '.') {
    ++q;
    if (q == end_ || !isDigit(*q)) {
      p_ = q;
      syntax("a digit is expected after '.'");
    }
    while (q < end_ && isDigit(*q)) ++q;
    isFloat = true;
  }
  if (q < end_ && (*q == 'e' || *q == 'E')) {
    ++q;
    if (q < end_ && (*q == '+' || *q == '-')) ++q;
    if (q == end_ || !isDigit(*q)) {
      p_ = q;
      syntax("a digit is expected in the exponent");
    }
    while (q < end_ && isDigit(*q)) ++q;
    isFloat = true;
  }
  p_ = q;

  Number result;
  if (!isFloat) {
    uint64_t magnitude = 0;
    bool fits = true;
    for (const char* d = digits; d < integerEnd; ++d) {
      const auto digit = static_cast<uint64_t>(*d - '0');
      if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
        fits = false;
        break;
      }
      magnitude = magnitude * 10 + digit;
    }
    constexpr uint64_t kInt64Max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (fits && !negative) {
      result.value = static_cast<double>(magnitude);
      result.isInteger = magnitude <= kInt64Max;
      if (result.isInteger) result.integer = static_cast<int64_t>(magnitude);
      return result;
    }
    if (fits && magnitude <= kInt64Max + 1) {
      // -0 is the integer 0.
      result.integer = magnitude == kInt64Max + 1 ? std::numeric_limits<int64_t>::min()
                                                  : -static_cast<int64_t>(magnitude);
      result.value = static_cast<double>(result.integer);
      result.isInteger = true;
      return result;
    }
    // Beyond 64 bits: the nearest double, as for a fraction.
  }
  result.isFloat = true;
  const std::from_chars_result parsed = std::from_chars(start, q, result.value);
  if (parsed.ec == std::errc::result_out_of_range) {
    if (outOfRangeIsOverflow(digits, q)) {
      p_ = start;
      syntax("a number is beyond the range of a double");
    }
    result.value = negative ? -0.0 : 0.0;
  } else if (parsed.ec != std::errc() || parsed.ptr != q) {
    p_ = start;
    syntax("a number cannot be read");
  }
  return result;
}

// For a number that from_chars found out of range: whether it is too large
// (its magnitude is at least 1) rather than too small.
bool DocumentParser::outOfRangeIsOverflow(const char* digits, const char* end) const {
  const char* q = digits;
  while (q < end && isDigit(*q)) ++q;
  const auto integerDigits = static_cast<int64_t>(q - digits);
  const char* const fraction = q < end && *q == '.' ? q + 1 : q;
  // The first significant digit stands for 10^place.
  std::optional<int64_t> place;
  for (const char* d = digits; d < digits + integerDigits && !place; ++d) {
    if (*d != '0') place = integerDigits - 1 - (d - digits);
  }
  for (q = fraction; q < end && isDigit(*q); ++q) {
    if (!place && *q != '0') place = -1 - (q - fraction);
  }
  if (!place) return false;
  // The written exponent, saturated: only the sign of the sum matters.
  int64_t exponent = 0;
  if (q < end) {
    ++q;  // past 'e' or 'E'
    const bool negativeExponent = *q == '-';
    if (*q == '-' || *q == '+') ++q;
    for (; q < end; ++q) exponent = std::min<int64_t>(exponent * 10 + (*q - '0'), int64_t{1} << 40);
    if (negativeExponent) exponent = -exponent;
  }
  return *place + exponent >= 0;
}

char DocumentParser::literal() {
  const char first = *p_;
  std::string_view word = first == 't' ? "true" : first == 'f' ? "false" : "null";
  if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) {
    syntax("an unknown literal");
  }
  p_ += word.size();
  return first;
}

void DocumentParser::skipScalar() {
  const int c = valueStart();
  if (c == '"') {
    scanString();
  } else if (c == 't' || c == 'f' || c == 'n') {
    literal();
  } else if (!isContainer(c)) {
    number();
  } else {
    syntax("a value other than an object or array is expected");
  }
}

void DocumentParser::skipValue() {
  std::string open;  // the containers around p_, innermost last
  while (true) {
    const int c = valueStart();
    if (isContainer(c)) {
      ++p_;
      const int next = peek();
      if (next == (c == '{' ? '}' : ']')) {
        ++p_;
      } else {
        open.push_back(static_cast<char>(c));
        if (c == '{') {
          if (next != '"') syntax("a key is expected");
          scanString();
          if (peek() != ':') syntax("':' is expected");
          ++p_;
        }
        continue;
      }
    } else {
      skipScalar();
    }
    // After a value: close what ends here, up to the next value.
    while (true) {
      if (open.empty()) return;
      const int next = peek();
      const bool inObject = open.back() == '{';
      if (next == ',') {
        ++p_;
        if (inObject) {
          if (peek() != '"') syntax("a key is expected");
          scanString();
          if (peek() != ':') syntax("':' is expected");
          ++p_;
        }
        break;
      }
      if (next != (inObject ? '}' : ']')) syntax(inObject ? "',' or '}' is expected" : "',' or ']' is expected");
      ++p_;
      open.pop_back();
    }
  }
}

void DocumentParser::run() {
  // A byte order mark may open the text.
  if (p_ < end_ && static_cast<unsigned char>(*p_) == 0xEF) {
    if (std::string_view(p_, static_cast<size_t>(end_ - p_)).substr(0, 3) != "\xEF\xBB\xBF") {
      syntax("the text opens with a broken byte order mark");
    }
    p_ += 3;
  }
  if (single_) {
    expect('{', [&] { fail("a document is not an object"); });
    document();
  } else {
    expect('[', [&] { fail("the stored value is not an array"); });
    array([&] {
      expect('{', [&] { fail("document " + std::to_string(files.size()) + ": a document is not an object"); });
      const size_t begin = offset();
      document();
      spans.push_back({begin, offset()});
    });
  }
  if (peek() != kEnd) syntax("the text goes on after its value");
}

void DocumentParser::document() {
  current_ = SpreadsheetFile();
  cells_ = 0;
  rowIndex_.reset();
  const uint32_t seen = knownObject(kDocumentKeys, [&](Slot slot) {
    switch (slot) {
      case Slot::uuid: stringInto(current_.uuid, kUUIDKey); return;
      case Slot::title: stringInto(current_.title, kTitleKey); return;
      case Slot::creationDate: {
        const int c = valueStart();
        if (isContainer(c)) failWrongType(kCreationDateKey);
        if (c != '-' && !isDigit(static_cast<char>(c))) {
          skipScalar();
          failHere("\"creationDate\" is not a number");
        }
        current_.creationDate = number().value;
        return;
      }
      case Slot::contents:
        expect('[', [&] { failWrongType(kContentsKey); });
        contents();
        return;
      case Slot::rowHeights:
      case Slot::columnWidths: {
        const bool heights = slot == Slot::rowHeights;
        const char* key = heights ? kRowHeightsKey : kColumnWidthsKey;
        expect('[', [&] { failWrongType(key); });
        sizes(heights ? current_.rowHeights : current_.columnWidths, key);
        return;
      }
      case Slot::mergedRanges:
        expect('[', [&] { failWrongType(kMergedRangesKey); });
        ranges();
        return;
      default: skipValue(); return;
    }
  });
  if ((seen & allRequired(kDocumentKeys)) != allRequired(kDocumentKeys)) {
    failHere("\"" + std::string(firstMissing(kDocumentKeys, seen)) + "\" is missing");
  }
  finishDocument();
}

void DocumentParser::finishDocument() {
  // Padding makes every row as wide as the widest: the grid it would make is
  // checked before anything is allocated for it.
  size_t widest = 0;
  for (const SpreadsheetFile::Row& row : current_.contents) widest = std::max(widest, row.size());
  const size_t rows = std::max<size_t>(current_.contents.size(), 1);
  if (std::max<size_t>(widest, 1) > DocumentLimits::kMaxCells / rows) failTooManyCells();
  SpreadsheetFileJSON::repair(current_);
  files.push_back(std::move(current_));
  current_ = SpreadsheetFile();
  cells_ = 0;
  rowIndex_.reset();
}

void DocumentParser::stringInto(std::string& out, std::string_view key) {
  expect('"', [&] { failWrongType(key); });
  decodeString(scanString(), out);
}

void DocumentParser::contents() {
  std::vector<SpreadsheetFile::Row>& rows = current_.contents;
  rows.clear();
  cells_ = 0;
  array([&] {
    expect('[', [&] { failHere("a row is not an array"); });
    // Every row holds at least one cell once padded.
    if (rows.size() >= DocumentLimits::kMaxCells) failTooManyCells();
    rowIndex_ = rows.size();
    // Rows are mostly as wide as the one before: room for that many cells at
    // once (never more than were read), so that a row is allocated once.
    const size_t width = rows.empty() ? 0 : rows.back().size();
    rows.emplace_back().reserve(width);
    row(rows.back());
  });
  rowIndex_.reset();
}

void DocumentParser::row(SpreadsheetFile::Row& row) {
  array([&] {
    expect('{', [&] { failHere("a cell is not an object"); });
    if (++cells_ > DocumentLimits::kMaxCells) failTooManyCells();
    cell(row.emplace_back());
  });
}

void DocumentParser::cell(SpreadsheetCellContent& cell) {
  const uint32_t seen = knownObject(kCellKeys, [&](Slot slot) {
    switch (slot) {
      case Slot::text: {
        expect('"', [&] { failWrongType(kTextKey); });
        const StringToken token = scanString();
        if (token.length > DocumentLimits::kMaxTextBytes) {
          failHere("a text is longer than " + std::to_string(DocumentLimits::kMaxTextBytes) + " bytes");
        }
        decodeString(token, cell.text);
        return;
      }
      case Slot::textAlignment: {
        const int c = valueStart();
        if (isContainer(c)) failWrongType(kTextAlignmentKey);
        std::optional<TextAlignment> alignment;
        if (c == '-' || isDigit(static_cast<char>(c))) {
          const Number value = number();
          if (value.isInteger) {
            alignment = textAlignmentFromRawValue(value.integer);
          } else if (value.isFloat && (value.value == 0 || value.value == 1 || value.value == 2)) {
            alignment = textAlignmentFromRawValue(static_cast<int64_t>(value.value));
          }
        } else {
          skipScalar();
        }
        if (!alignment) failHere("\"textAlignment\" is not 0, 1 or 2");
        cell.textAlignment = *alignment;
        return;
      }
      case Slot::textColor:
      case Slot::cellColor: {
        const bool text = slot == Slot::textColor;
        const std::string_view key = text ? kTextColorKey : kCellColorKey;
        expect('{', [&] { failWrongType(key); });
        color(text ? cell.textColor : cell.cellColor, key);
        return;
      }
      case Slot::imagePath: {
        const int c = valueStart();
        if (c == 'n') {
          literal();
          cell.imagePath.reset();
        } else if (c == '"') {
          decodeString(scanString(), cell.imagePath.emplace());
        } else {
          if (!isContainer(c)) skipScalar();
          failWrongType(kImagePathKey);
        }
        return;
      }
      default: skipValue(); return;
    }
  });
  if ((seen & allRequired(kCellKeys)) != allRequired(kCellKeys)) {
    failHere("\"" + std::string(firstMissing(kCellKeys, seen)) + "\" is missing");
  }
}

void DocumentParser::color(ColorRepresentation& color, std::string_view name) {
  // Nearly every cell has black text on white, written exactly so: those two
  // objects are matched whole, and read as the general path below reads them.
  static constexpr std::string_view kBlack = R"({"red":0,"green":0,"blue":0})";
  static constexpr std::string_view kWhite = R"({"red":1,"green":1,"blue":1})";
  static_assert(kBlack.size() == kWhite.size());
  if (static_cast<size_t>(end_ - p_) >= kBlack.size()) {
    if (std::memcmp(p_, kBlack.data(), kBlack.size()) == 0) {
      color = ColorRepresentation::black();
      p_ += kBlack.size();
      return;
    }
    if (std::memcmp(p_, kWhite.data(), kWhite.size()) == 0) {
      color = ColorRepresentation::white();
      p_ += kWhite.size();
      return;
    }
  }
  const uint32_t seen = knownObject(kColorKeys, [&](Slot slot) {
    float* component = nullptr;
    const char* componentKey = nullptr;
    switch (slot) {
      case Slot::red: component = &color.red, componentKey = kRedKey; break;
      case Slot::green: component = &color.green, componentKey = kGreenKey; break;
      case Slot::blue: component = &color.blue, componentKey = kBlueKey; break;
      default: skipValue(); return;
    }
    const int c = valueStart();
    if (isContainer(c)) failHere(std::string(name) + ": " + componentKey + " is not a number");
    *component = floatValue(c, componentKey);
  });
  if ((seen & allRequired(kColorKeys)) != allRequired(kColorKeys)) {
    failHere(std::string(name) + ": \"" + std::string(firstMissing(kColorKeys, seen)) + "\" is missing");
  }
}

void DocumentParser::sizes(std::vector<float>& sizes, const char* name) {
  sizes.clear();
  array([&] {
    const int c = valueStart();
    if (isContainer(c)) failHere(std::string(name) + " is not a number");
    sizes.push_back(floatValue(c, name));
  });
}

void DocumentParser::ranges() {
  current_.mergedRanges.clear();
  array([&] {
    if (isContainer(valueStart())) {
      finishRange(generic(0));
    } else {
      skipScalar();
      finishRange(platform::Object());  // a scalar is no range
    }
  });
}

void DocumentParser::finishRange(const platform::Object& object) {
  std::optional<platform::CellRange> range = platform::CellRange::decode(object);
  if (!range) failHere("a merged range is not a cell range");
  current_.mergedRanges.push_back(*range);
}

platform::Object DocumentParser::generic(size_t depth) {
  // A range's coded form is a few small dictionaries; anything bigger is
  // refused before it is built up in memory.
  size_t members = 0;
  auto count = [&] {
    if (++members > kMaxCodedRangeMembers) fail("a merged range is not a cell range");
  };
  if (*p_ == '[') {
    platform::Array elements;
    array([&] {
      platform::Object value = genericValue(depth);
      count();
      elements.push_back(std::move(value));
    });
    return platform::Object(std::move(elements));
  }
  platform::Dictionary dictionary;
  object([&](std::string_view name) {
    std::string key(name);
    platform::Object value = genericValue(depth);
    count();
    dictionary.insert_or_assign(std::move(key), std::move(value));
  });
  return platform::Object(std::move(dictionary));
}

platform::Object DocumentParser::genericValue(size_t depth) {
  const int c = valueStart();
  if (isContainer(c)) {
    if (depth + 1 > kMaxCodedRangeDepth) fail("a merged range is nested too deeply");
    return generic(depth + 1);
  }
  if (c == '"') {
    std::string text;
    decodeString(scanString(), text);
    return platform::Object(std::move(text));
  }
  if (c == 'n') {
    literal();
    return platform::Object();
  }
  if (c == 't' || c == 'f') return platform::Object(literal() == 't');
  const Number value = number();
  if (value.isInteger) return platform::Object(value.integer);
  return platform::Object(value.value);
}

// Reads `text` into documents; none, with the reason, when it does not hold
// exactly what is expected (one document, or an array of them).
std::optional<std::vector<SpreadsheetFile>> readDocuments(std::string_view text, bool single, std::string* error,
                                                          std::vector<SpreadsheetFileJSON::Span>* spans) {
  try {
    DocumentParser parser(text, single);
    parser.run();
    if (spans) *spans = std::move(parser.spans);
    return std::move(parser.files);
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
  return encodeWith<std::string>(sizeHint(file), [&](auto& writer) { writer.file(file); }, error);
}

std::optional<size_t> SpreadsheetFileJSON::encodedSize(const SpreadsheetFile& file, std::string* error) {
  std::optional<ByteCounter> counted = encodeWith<ByteCounter>(0, [&](auto& writer) { writer.file(file); }, error);
  if (!counted) return std::nullopt;
  return counted->count;
}

std::optional<SpreadsheetFile> SpreadsheetFileJSON::decode(std::string_view json, std::string* error) {
  std::optional<std::vector<SpreadsheetFile>> files = readDocuments(json, true, error, nullptr);
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
                                                                            std::string* error,
                                                                            std::vector<Span>* spans) {
  return readDocuments(json, false, error, spans);
}

}  // namespace tabulo
