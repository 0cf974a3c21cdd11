#include "platform/storage/PropertyListBinaryWriter.h"

#include <bit>
#include <cmath>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "platform/text/Utf8.h"

namespace platform {
namespace {

constexpr uint8_t kHeader[] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
constexpr size_t kTrailerUnused = 6;

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr double kSecondsFrom1970To2001 = 978307200.0;

// The date as libplist keeps it once it has been handed whole seconds and
// microseconds (as PropertyList splits a date for it).
double storedDate(const Date& date) {
  const double since2001 = date.secondsSince1970 - kSecondsFrom1970To2001;
  const double whole = std::trunc(since2001);
  auto microseconds = static_cast<int32_t>(std::lround((since2001 - whole) * 1e6));
  auto seconds = static_cast<int32_t>(whole);
  if (microseconds >= 1000000 || microseconds <= -1000000) {
    seconds += microseconds > 0 ? 1 : -1;
    microseconds = 0;
  }
  return seconds + microseconds / 1000000.0;
}

bool isASCII(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The fewest of 1, 2, 4 or 8 bytes that hold `value`.
size_t integerSize(uint64_t value) {
  if (value <= 0xFF) return 1;
  if (value <= 0xFFFF) return 2;
  if (value <= 0xFFFFFFFF) return 4;
  return 8;
}

// The fewest bytes (1 to 8) that hold `value`.
size_t byteWidth(uint64_t value) {
  size_t width = 1;
  while (width < 8 && (value >> (8 * width)) != 0) ++width;
  return width;
}

bool isFloat(double value) {
  if (std::isnan(value)) return false;
  if (std::isinf(value)) return true;
  if (std::fabs(value) > std::numeric_limits<float>::max()) return false;
  return static_cast<double>(static_cast<float>(value)) == value;
}

// One object of the list: a value, a dictionary key, or the root of a shared
// dictionary; containers list their references in `refs_` from `firstRef`.
struct Entry {
  enum class Kind { value, key, sharedRoot };
  Kind kind;
  const Object* object = nullptr;
  const std::string* key = nullptr;
  size_t firstRef = 0;
};

class Writer {
 public:
  PropertyListBinaryWriter::Output finish() {
    Bytes own(std::begin(kHeader), std::end(kHeader));
    std::vector<PropertyListBinaryWriter::Output::Piece> pieces;
    refSize_ = byteWidth(entries_.size());
    std::vector<uint64_t> offsets;
    offsets.reserve(entries_.size());
    size_t written = own.size();  // bytes of the file so far, borrowed ones included
    size_t pieceBegin = 0;
    for (const Entry& entry : entries_) {
      offsets.push_back(written);
      const size_t before = own.size();
      std::span<const uint8_t> borrowed = emit(entry, own);
      written += own.size() - before;
      if (!borrowed.empty()) {
        pieces.push_back({pieceBegin, own.size(), borrowed});
        pieceBegin = own.size();
        written += borrowed.size();
      }
    }
    const uint64_t tableOffset = written;
    const size_t tableStart = own.size();
    const size_t offsetSize = byteWidth(tableOffset);
    for (uint64_t offset : offsets) appendBigEndian(own, offset, offsetSize);
    own.insert(own.end(), kTrailerUnused, 0);
    own.push_back(static_cast<uint8_t>(offsetSize));
    own.push_back(static_cast<uint8_t>(refSize_));
    appendBigEndian(own, entries_.size(), 8);
    appendBigEndian(own, 0, 8);  // the top object
    appendBigEndian(own, tableOffset, 8);
    pieces.push_back({pieceBegin, own.size(), {}});
    const size_t size = written + (own.size() - tableStart);
    return PropertyListBinaryWriter::Output(std::move(own), std::move(pieces), size);
  }

  // Numbers `object` and what it holds, depth first; answers its index.
  uint64_t add(const Object& object) {
    switch (object.type()) {
      case Object::Type::Bool:
        return once(bools_, *object.boolValue(), object);
      case Object::Type::Int:
        return once(integers_, *object.intValue(), object);
      case Object::Type::Double:
        return once(reals_, std::bit_cast<uint64_t>(*object.doubleValue()), object);
      case Object::Type::Date:
        return once(dates_, std::bit_cast<uint64_t>(storedDate(*object.dateValue())), object);
      case Object::Type::String:
        return once(strings_, std::string_view(*object.stringValue()), object);
      case Object::Type::Array: {
        const uint64_t index = push({Entry::Kind::value, &object});
        const Array& items = *object.arrayValue();
        const size_t first = reserveRefs(items.size());
        entries_[index].firstRef = first;
        for (size_t i = 0; i < items.size(); ++i) refs_[first + i] = add(items[i]);
        return index;
      }
      case Object::Type::Dictionary: {
        const uint64_t index = push({Entry::Kind::value, &object});
        const Dictionary& members = *object.dictionaryValue();
        const size_t first = reserveRefs(2 * members.size());
        entries_[index].firstRef = first;
        size_t i = 0;
        for (const auto& [key, value] : members) {
          refs_[first + i] = addKey(key);
          refs_[first + members.size() + i] = add(value);
          ++i;
        }
        return index;
      }
      default:  // data (never shared), and null, which a valid object does not hold
        return push({Entry::Kind::value, &object});
    }
  }

  uint64_t addShared(const SharedDictionary& root) {
    const uint64_t index = push({Entry::Kind::sharedRoot});
    sharedRoot_ = &root;
    const size_t first = reserveRefs(2 * root.size());
    entries_[index].firstRef = first;
    size_t i = 0;
    for (const auto& [key, value] : root) {
      refs_[first + i] = addKey(key);
      refs_[first + root.size() + i] = add(*value);
      ++i;
    }
    return index;
  }

 private:
  template <typename Map, typename Key>
  uint64_t once(Map& seen, const Key& key, const Object& object) {
    auto [it, inserted] = seen.try_emplace(key, entries_.size());
    if (inserted) push({Entry::Kind::value, &object});
    return it->second;
  }

  uint64_t addKey(const std::string& key) {
    auto [it, inserted] = keys_.try_emplace(std::string_view(key), entries_.size());
    if (inserted) push({Entry::Kind::key, nullptr, &key});
    return it->second;
  }

  uint64_t push(Entry entry) {
    entries_.push_back(entry);
    return entries_.size() - 1;
  }

  size_t reserveRefs(size_t count) {
    const size_t first = refs_.size();
    refs_.resize(first + count);
    return first;
  }

  static void appendBigEndian(Bytes& out, uint64_t value, size_t size) {
    for (size_t i = size; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }

  static void marker(Bytes& out, uint8_t kind, uint64_t count) {
    if (count < 0x0F) {
      out.push_back(static_cast<uint8_t>(kind << 4 | count));
      return;
    }
    out.push_back(static_cast<uint8_t>(kind << 4 | 0x0F));
    integer(out, count);
  }

  static void integer(Bytes& out, uint64_t value) {
    const size_t size = integerSize(value);
    out.push_back(static_cast<uint8_t>(0x10 | std::countr_zero(size)));
    appendBigEndian(out, value, size);
  }

  static void text(Bytes& out, std::string_view value) {
    if (isASCII(value)) {
      marker(out, 0x5, value.size());
      out.insert(out.end(), value.begin(), value.end());
      return;
    }
    const std::u16string units = utf8::toUtf16(value);
    marker(out, 0x6, units.size());
    for (char16_t unit : units) appendBigEndian(out, unit, 2);
  }

  void references(Bytes& out, size_t first, size_t count) const {
    for (size_t i = 0; i < count; ++i) appendBigEndian(out, refs_[first + i], refSize_);
  }

  // Writes one object; answers the bytes of a large data value that follow it, borrowed.
  std::span<const uint8_t> emit(const Entry& entry, Bytes& out) const {
    if (entry.kind == Entry::Kind::key) {
      text(out, *entry.key);
      return {};
    }
    if (entry.kind == Entry::Kind::sharedRoot) {
      marker(out, 0xD, sharedRoot_->size());
      references(out, entry.firstRef, 2 * sharedRoot_->size());
      return {};
    }
    const Object& object = *entry.object;
    switch (object.type()) {
      case Object::Type::Bool:
        out.push_back(*object.boolValue() ? 0x09 : 0x08);
        return {};
      case Object::Type::Int:
        integer(out, static_cast<uint64_t>(*object.intValue()));
        return {};
      case Object::Type::Double: {
        const double value = *object.doubleValue();
        if (isFloat(value)) {
          out.push_back(0x22);
          appendBigEndian(out, std::bit_cast<uint32_t>(static_cast<float>(value)), 4);
        } else {
          out.push_back(0x23);
          appendBigEndian(out, std::bit_cast<uint64_t>(value), 8);
        }
        return {};
      }
      case Object::Type::Date:
        out.push_back(0x33);
        appendBigEndian(out, std::bit_cast<uint64_t>(storedDate(*object.dateValue())), 8);
        return {};
      case Object::Type::String:
        text(out, *object.stringValue());
        return {};
      case Object::Type::Bytes: {
        const Bytes& data = *object.bytesValue();
        marker(out, 0x4, data.size());
        if (data.size() >= PropertyListBinaryWriter::kBorrowedMinimum) return data;
        out.insert(out.end(), data.begin(), data.end());
        return {};
      }
      case Object::Type::Array:
        marker(out, 0xA, object.arrayValue()->size());
        references(out, entry.firstRef, object.arrayValue()->size());
        return {};
      case Object::Type::Dictionary:
        marker(out, 0xD, object.dictionaryValue()->size());
        references(out, entry.firstRef, 2 * object.dictionaryValue()->size());
        return {};
      case Object::Type::Null:
        return {};
    }
    return {};
  }

  std::vector<Entry> entries_;
  std::vector<uint64_t> refs_;
  std::unordered_map<bool, uint64_t> bools_;
  std::unordered_map<int64_t, uint64_t> integers_;
  std::unordered_map<uint64_t, uint64_t> reals_;
  std::unordered_map<uint64_t, uint64_t> dates_;
  std::unordered_map<std::string_view, uint64_t> strings_;
  std::unordered_map<std::string_view, uint64_t> keys_;
  const SharedDictionary* sharedRoot_ = nullptr;
  size_t refSize_ = 1;
};

}  // namespace

std::vector<std::span<const uint8_t>> PropertyListBinaryWriter::Output::pieces() const {
  std::vector<std::span<const uint8_t>> out;
  for (const Piece& piece : pieces_) {
    if (piece.end > piece.begin) out.emplace_back(own_.data() + piece.begin, piece.end - piece.begin);
    if (!piece.borrowed.empty()) out.push_back(piece.borrowed);
  }
  return out;
}

Bytes PropertyListBinaryWriter::Output::bytes() const {
  Bytes joined;
  joined.reserve(size_);
  for (std::span<const uint8_t> piece : pieces()) joined.insert(joined.end(), piece.begin(), piece.end());
  return joined;
}

PropertyListBinaryWriter::Output PropertyListBinaryWriter::write(const Object& root) {
  Writer writer;
  writer.add(root);
  return writer.finish();
}

PropertyListBinaryWriter::Output PropertyListBinaryWriter::write(const SharedDictionary& root) {
  Writer writer;
  writer.addShared(root);
  return writer.finish();
}

}  // namespace platform
