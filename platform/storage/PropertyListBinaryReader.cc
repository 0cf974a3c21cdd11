#include "platform/storage/PropertyListBinaryReader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/storage/FileBuffer.h"
#include "platform/text/Utf8.h"

namespace platform {
namespace {

// The layout: an 8-byte header, the objects, the offset table (one offset per
// object, `offsetSize` bytes each) and a 32-byte trailer. An object opens with
// a marker byte whose high nibble is its kind; the low nibble is a size or a
// count, 0xF meaning that an integer object with the count follows. Containers
// hold references (`refSize`-byte object indexes): an array its elements, a
// dictionary its keys and then its values.
constexpr uint64_t kHeaderSize = 8;
constexpr uint64_t kTrailerSize = 32;
constexpr uint8_t kMagic[kHeaderSize] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};

enum Kind : uint8_t {
  kSimple = 0x0,  // 0x08 false, 0x09 true (null and fill are not read here)
  kInteger = 0x1,
  kReal = 0x2,
  kDate = 0x3,
  kData = 0x4,
  kASCIIString = 0x5,
  kUTF16String = 0x6,
  kUID = 0x8,
  kArray = 0xA,
  kOrderedSet = 0xB,
  kSet = 0xC,
  kDictionary = 0xD,
};
constexpr uint8_t kFalse = 0x08;
constexpr uint8_t kTrue = 0x09;
constexpr uint8_t kFloat32 = 0x22;
constexpr uint8_t kFloat64 = 0x23;
constexpr uint8_t kDate64 = 0x33;
constexpr uint8_t kCountFollows = 0x0F;

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr double kSecondsFrom1970To2001 = 978307200.0;

constexpr uint64_t kObjectWeight = sizeof(Object);

Error plistError(int64_t code, std::string description) {
  return Error(kPropertyListErrorDomain, code, std::move(description));
}

uint64_t bigEndian(const uint8_t* p, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value = (value << 8) | p[i];
  return value;
}

bool hasCount(uint8_t kind) {
  return kind == kData || kind == kASCIIString || kind == kUTF16String || kind == kArray || kind == kOrderedSet ||
         kind == kSet || kind == kDictionary;
}

bool isContainer(uint8_t kind) {
  return kind == kArray || kind == kOrderedSet || kind == kSet || kind == kDictionary;
}

// The file's bytes: all of them, or all but one data value's contents (the
// hole), which were read into `payload`.
struct Source {
  std::span<const uint8_t> head;  // bytes [0, holeBegin)
  std::span<const uint8_t> tail;  // bytes [holeEnd, size)
  uint64_t holeBegin = 0;
  uint64_t holeEnd = 0;
  uint64_t size = 0;
  Bytes* payload = nullptr;

  static Source whole(std::span<const uint8_t> bytes) {
    return Source{bytes, {}, bytes.size(), bytes.size(), bytes.size(), nullptr};
  }

  // The `length` bytes at `offset`; null when they are not all in the file or
  // any of them lies in the hole.
  const uint8_t* at(uint64_t offset, uint64_t length) const {
    if (offset > size || length > size - offset) return nullptr;
    if (offset + length <= holeBegin) return head.data() + offset;
    if (offset >= holeEnd) return tail.data() + (offset - holeEnd);
    return nullptr;
  }
  bool isHole(uint64_t offset, uint64_t length) const {
    return payload && holeEnd > holeBegin && offset == holeBegin && length == holeEnd - holeBegin;
  }
};

struct Trailer {
  size_t offsetSize = 0;
  size_t refSize = 0;
  uint64_t count = 0;
  uint64_t top = 0;
  uint64_t tableOffset = 0;
};

// The trailer of a list whose offset table lies whole between the header and
// the trailer; none otherwise (libplist refuses those).
std::optional<Trailer> readTrailer(const Source& source) {
  if (source.size < kHeaderSize + kTrailerSize) return std::nullopt;
  const uint8_t* header = source.at(0, kHeaderSize);
  const uint8_t* raw = source.at(source.size - kTrailerSize, kTrailerSize);
  if (!header || !raw || std::memcmp(header, kMagic, kHeaderSize) != 0) return std::nullopt;
  Trailer trailer{raw[6], raw[7], bigEndian(raw + 8, 8), bigEndian(raw + 16, 8), bigEndian(raw + 24, 8)};
  const uint64_t end = source.size - kTrailerSize;
  if (trailer.offsetSize < 1 || trailer.offsetSize > 8 || trailer.refSize < 1 || trailer.refSize > 8 ||
      trailer.count == 0 || trailer.top >= trailer.count || trailer.tableOffset < kHeaderSize ||
      trailer.tableOffset > end || trailer.count > (end - trailer.tableOffset) / trailer.offsetSize) {
    return std::nullopt;
  }
  return trailer;
}

bool stringsAreSafe(const Source& source) {
  if (source.size < kHeaderSize + kTrailerSize) return false;
  const uint8_t* trailer = source.at(source.size - kTrailerSize, kTrailerSize);
  if (!trailer) return false;
  const size_t offsetSize = trailer[6];
  const uint64_t count = bigEndian(trailer + 8, 8);
  const uint64_t tableOffset = bigEndian(trailer + 24, 8);
  const uint64_t end = source.size - kTrailerSize;
  if (offsetSize < 1 || offsetSize > 8 || tableOffset > end || count > (end - tableOffset) / offsetSize) return false;
  const uint8_t* table = source.at(tableOffset, count * offsetSize);
  if (!table) return false;
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t offset = bigEndian(table + i * offsetSize, offsetSize);
    if (offset >= end) return false;
    const uint8_t* marker = source.at(offset, 1);
    if (!marker) return false;
    const uint8_t kind = *marker >> 4;
    if (kind != kASCIIString && kind != kUTF16String) continue;
    uint64_t length = *marker & 0x0F;
    uint64_t position = offset + 1;
    if (length == kCountFollows) {
      const uint8_t* intMarker = position < end ? source.at(position, 1) : nullptr;
      if (!intMarker || (*intMarker >> 4) != kInteger) return false;
      const size_t intSize = size_t{1} << (*intMarker & 0x0F);
      if (intSize > 8 || position + 1 + intSize > end) return false;
      const uint8_t* lengthBytes = source.at(position + 1, intSize);
      if (!lengthBytes) return false;
      length = bigEndian(lengthBytes, intSize);
      position += 1 + intSize;
    }
    const uint64_t unit = kind == kUTF16String ? 2 : 1;
    if (length > (end - position) / unit) return false;
    const uint8_t* text = source.at(position, length * unit);
    if (!text) return false;
    for (uint64_t k = 0; k < length; ++k) {
      const uint8_t* c = text + k * unit;
      if (c[0] == 0 && (unit == 1 || c[1] == 0)) return false;
    }
  }
  return true;
}

// An object's marker, its count (for the kinds that have one) and where its
// contents start.
struct Header {
  uint8_t marker = 0;
  uint8_t kind = 0;
  uint64_t count = 0;
  uint64_t contents = 0;
};

class Reader {
 public:
  explicit Reader(const Source& source) : source_(source) {}

  PropertyListBinaryReader::Reading run() {
    PropertyListBinaryReader::Reading reading;
    std::optional<Trailer> trailer = readTrailer(source_);
    if (!trailer || !stringsAreSafe(source_)) {
      reading.declined = true;
      return reading;
    }
    trailer_ = *trailer;
    scan(trailer_.top, 0, false);
    if (tooDeep_) {
      reading.error = plistError(PropertyList::kTooLarge, "property list nests too deep");
      return reading;
    }
    if (tooLarge_) {
      reading.error = plistError(PropertyList::kTooLarge,
                                 "property list would take more than " +
                                     std::to_string(PropertyListBinaryReader::kMaximumExpansion) +
                                     " bytes once its shared values are copied");
      return reading;
    }
    if (!readable_) {
      reading.declined = true;
      return reading;
    }
    reading.object = build(trailer_.top);
    if (!reading.object) reading.declined = true;  // not expected after the scan
    return reading;
  }

 private:
  // Where object `index` starts; none when the index or its table entry is out of range.
  std::optional<uint64_t> offsetOf(uint64_t index) const {
    if (index >= trailer_.count) return std::nullopt;
    const uint8_t* entry = source_.at(trailer_.tableOffset + index * trailer_.offsetSize, trailer_.offsetSize);
    if (!entry) return std::nullopt;
    return bigEndian(entry, trailer_.offsetSize);
  }

  // `length` bytes of an object at `position`: only between the header and the offset table.
  const uint8_t* objectBytes(uint64_t position, uint64_t length) const {
    if (position < kHeaderSize || position > trailer_.tableOffset || length > trailer_.tableOffset - position) {
      return nullptr;
    }
    return source_.at(position, length);
  }

  std::optional<Header> header(uint64_t index) const {
    std::optional<uint64_t> offset = offsetOf(index);
    if (!offset) return std::nullopt;
    const uint8_t* marker = objectBytes(*offset, 1);
    if (!marker) return std::nullopt;
    Header header{*marker, static_cast<uint8_t>(*marker >> 4), static_cast<uint64_t>(*marker & 0x0F), *offset + 1};
    if (hasCount(header.kind) && header.count == kCountFollows) {
      const uint8_t* intMarker = objectBytes(header.contents, 1);
      if (!intMarker || (*intMarker >> 4) != kInteger || (*intMarker & 0x0F) > 3) return std::nullopt;
      const size_t size = size_t{1} << (*intMarker & 0x0F);
      const uint8_t* count = objectBytes(header.contents + 1, size);
      if (!count) return std::nullopt;
      header.count = bigEndian(count, size);
      header.contents += 1 + size;
    }
    return header;
  }

  // The bytes a counted object's contents take (none when they would overflow).
  static std::optional<uint64_t> contentsLength(const Header& header, size_t refSize) {
    uint64_t unit = 1;
    if (header.kind == kUTF16String) unit = 2;
    if (isContainer(header.kind)) unit = header.kind == kDictionary ? 2 * refSize : refSize;
    if (header.count > UINT64_MAX / unit) return std::nullopt;
    return header.count * unit;
  }

  uint64_t ref(const uint8_t* refs, uint64_t i) const {
    return bigEndian(refs + i * trailer_.refSize, trailer_.refSize);
  }

  // Walks what object `index` reaches as libplist would, weighing what the
  // objects built from it would take, and notes whether this reader reads it.
  void scan(uint64_t index, int depth, bool isKey) {
    if (tooDeep_ || tooLarge_) return;
    if (depth > PropertyList::kMaximumDepth) {
      tooDeep_ = true;
      return;
    }
    std::optional<Header> h = header(index);
    if (!h) {
      readable_ = false;
      return;
    }
    weight_ += kObjectWeight;
    if (isKey && h->kind != kASCIIString && h->kind != kUTF16String) readable_ = false;
    std::optional<uint64_t> length = hasCount(h->kind) ? contentsLength(*h, trailer_.refSize) : 0;
    const uint8_t* contents = length ? objectBytes(h->contents, *length) : nullptr;
    switch (h->kind) {
      case kSimple:
        if (h->marker != kFalse && h->marker != kTrue) readable_ = false;
        break;
      case kInteger:
        if (h->count > 3 || !objectBytes(h->contents, uint64_t{1} << h->count)) readable_ = false;
        break;
      case kReal:
        if ((h->marker != kFloat32 || !objectBytes(h->contents, 4)) &&
            (h->marker != kFloat64 || !objectBytes(h->contents, 8))) {
          readable_ = false;
        }
        break;
      case kDate: {
        const uint8_t* bits = h->marker == kDate64 ? objectBytes(h->contents, 8) : nullptr;
        // libplist hands the seconds out as a 32-bit integer: only dates it converts exactly are read here.
        const double seconds = bits ? std::bit_cast<double>(bigEndian(bits, 8)) : 0;
        if (!bits || !(seconds > -2147483649.0 && seconds < 2147483648.0)) readable_ = false;
        break;
      }
      case kData:
        if (!length) {
          readable_ = false;
          break;
        }
        weight_ += *length;
        if (source_.isHole(h->contents, *length)) {
          if (++holeUses_ > 1) readable_ = false;  // the payload can be handed over once
        } else if (!contents) {
          readable_ = false;
        }
        break;
      case kASCIIString:
        if (!contents) {
          readable_ = false;
          break;
        }
        weight_ += *length;
        if (!std::all_of(contents, contents + *length, [](uint8_t c) { return c < 0x80; })) readable_ = false;
        break;
      case kUTF16String:
        // libplist refuses an empty UTF-16 string (a writer writes "" as ASCII): left to it.
        if (!contents || h->count == 0) {
          readable_ = false;
          break;
        }
        weight_ += 3 * h->count;
        if (!isWellFormedUTF16(contents, h->count)) readable_ = false;
        break;
      case kArray:
      case kOrderedSet:
      case kSet:
      case kDictionary: {
        // libplist reads sets as arrays; they are left to it, but walked all the same.
        if (h->kind == kOrderedSet || h->kind == kSet) readable_ = false;
        // References are followed wherever they lie in the file, as libplist would.
        const uint8_t* refs = length ? source_.at(h->contents, *length) : nullptr;
        if (!refs || !contents) readable_ = false;
        if (!refs) break;
        if (std::find(path_.begin(), path_.end(), index) != path_.end()) {
          readable_ = false;  // a cycle, which libplist refuses
          break;
        }
        path_.push_back(index);
        const uint64_t refCount = h->kind == kDictionary ? 2 * h->count : h->count;
        for (uint64_t i = 0; i < refCount && !tooDeep_ && !tooLarge_; ++i) {
          scan(ref(refs, i), depth + 1, h->kind == kDictionary && i < h->count);
        }
        path_.pop_back();
        break;
      }
      default:
        readable_ = false;
        break;
    }
    if (weight_ > PropertyListBinaryReader::kMaximumExpansion) tooLarge_ = true;
  }

  static bool isWellFormedUTF16(const uint8_t* units, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
      const uint32_t unit = bigEndian(units + 2 * i, 2);
      if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i + 1 == count) return false;
        const uint32_t low = bigEndian(units + 2 * (i + 1), 2);
        if (low < 0xDC00 || low > 0xDFFF) return false;
        ++i;
      }
    }
    return true;
  }

  // The text of a string object (ASCII, or UTF-16 without unpaired surrogates, as the scan found).
  std::optional<std::string> text(const Header& h, uint64_t length) const {
    const uint8_t* bytes = objectBytes(h.contents, length);
    if (!bytes || (h.kind != kASCIIString && h.kind != kUTF16String)) return std::nullopt;
    if (h.kind == kASCIIString) return std::string(reinterpret_cast<const char*>(bytes), length);
    std::string text;
    text.reserve(h.count);
    for (uint64_t i = 0; i < h.count; ++i) {
      auto codePoint = static_cast<char32_t>(bigEndian(bytes + 2 * i, 2));
      if (codePoint >= 0xD800 && codePoint <= 0xDBFF && i + 1 < h.count) {
        const auto low = static_cast<char32_t>(bigEndian(bytes + 2 * ++i, 2));
        codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
      }
      utf8::append(text, codePoint);
    }
    return text;
  }

  // Builds object `index`, which the scan found readable.
  std::optional<Object> build(uint64_t index) {
    std::optional<Header> h = header(index);
    if (!h) return std::nullopt;
    std::optional<uint64_t> length = hasCount(h->kind) ? contentsLength(*h, trailer_.refSize) : 0;
    if (!length) return std::nullopt;
    switch (h->kind) {
      case kSimple:
        return Object(h->marker == kTrue);
      case kInteger: {
        const size_t size = size_t{1} << h->count;
        const uint8_t* bytes = objectBytes(h->contents, size);
        if (!bytes) return std::nullopt;
        return Object(static_cast<int64_t>(bigEndian(bytes, size)));
      }
      case kReal: {
        const bool single = h->marker == kFloat32;
        const uint8_t* bytes = objectBytes(h->contents, single ? 4 : 8);
        if (!bytes) return std::nullopt;
        if (single) return Object(static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(bigEndian(bytes, 4)))));
        return Object(std::bit_cast<double>(bigEndian(bytes, 8)));
      }
      case kDate: {
        const uint8_t* bytes = objectBytes(h->contents, 8);
        if (!bytes) return std::nullopt;
        const double since2001 = std::bit_cast<double>(bigEndian(bytes, 8));
        // Split as libplist splits it: whole seconds toward zero, and the
        // fraction's microseconds without their sign.
        const auto seconds = static_cast<int32_t>(since2001);
        const auto microseconds =
            static_cast<int32_t>(std::fabs((since2001 - static_cast<double>(static_cast<int64_t>(since2001))) * 1e6));
        return Object(Date{PropertyListBinaryReader::dateFromLibraryParts(seconds, microseconds)});
      }
      case kData: {
        if (source_.isHole(h->contents, *length)) return Object(std::move(*source_.payload));
        const uint8_t* bytes = objectBytes(h->contents, *length);
        if (!bytes) return std::nullopt;
        return Object(Bytes(bytes, bytes + *length));
      }
      case kASCIIString:
      case kUTF16String: {
        std::optional<std::string> string = text(*h, *length);
        if (!string) return std::nullopt;
        return Object(std::move(*string));
      }
      case kArray: {
        const uint8_t* refs = objectBytes(h->contents, *length);
        if (!refs) return std::nullopt;
        Array array;
        array.reserve(h->count);
        for (uint64_t i = 0; i < h->count; ++i) {
          std::optional<Object> item = build(ref(refs, i));
          if (!item) return std::nullopt;
          array.push_back(std::move(*item));
        }
        return Object(std::move(array));
      }
      case kDictionary: {
        const uint8_t* refs = objectBytes(h->contents, *length);
        if (!refs) return std::nullopt;
        Dictionary dictionary;
        for (uint64_t i = 0; i < h->count; ++i) {
          std::optional<Header> keyHeader = header(ref(refs, i));
          std::optional<uint64_t> keyLength = keyHeader ? contentsLength(*keyHeader, trailer_.refSize) : std::nullopt;
          std::optional<std::string> key = keyLength ? text(*keyHeader, *keyLength) : std::nullopt;
          if (!key) return std::nullopt;
          std::optional<Object> value = build(ref(refs, h->count + i));
          if (!value) return std::nullopt;
          // A key written twice keeps its last value.
          dictionary.insert_or_assign(std::move(*key), std::move(*value));
        }
        return Object(std::move(dictionary));
      }
      default:
        return std::nullopt;
    }
  }

  const Source& source_;
  Trailer trailer_;
  bool readable_ = true;
  bool tooDeep_ = false;
  bool tooLarge_ = false;
  uint64_t weight_ = 0;
  int holeUses_ = 0;
  std::vector<uint64_t> path_;  // the containers being walked, outermost first
};

}  // namespace

PropertyListBinaryReader::Reading PropertyListBinaryReader::read(std::span<const uint8_t> bytes) {
  const Source source = Source::whole(bytes);
  return Reader(source).run();
}

PropertyListBinaryReader::Reading PropertyListBinaryReader::readFile(const RegularFileReader& file, uint64_t inPlaceMinimum) {
  Reading declined;
  declined.declined = true;
  const uint64_t size = file.size();
  if (size < std::max(inPlaceMinimum, kHeaderSize + kTrailerSize)) return declined;

  // The trailer and the offset table, to find the largest stretch between
  // two objects' offsets: where a large data value lies.
  uint8_t raw[kTrailerSize];
  if (!file.readAt(size - kTrailerSize, raw)) return declined;
  const size_t offsetSize = raw[6];
  const uint64_t count = bigEndian(raw + 8, 8);
  const uint64_t tableOffset = bigEndian(raw + 24, 8);
  const uint64_t end = size - kTrailerSize;
  // A suite holds a few hundred objects; a table much larger is read whole.
  constexpr uint64_t kMaximumObjects = 1u << 16;
  if (offsetSize < 1 || offsetSize > 8 || count == 0 || count > kMaximumObjects || tableOffset < kHeaderSize ||
      tableOffset > end || count > (end - tableOffset) / offsetSize) {
    return declined;
  }
  std::vector<uint8_t> table(count * offsetSize);
  if (!file.readAt(tableOffset, table)) return declined;
  std::vector<uint64_t> offsets(count);
  for (uint64_t i = 0; i < count; ++i) offsets[i] = bigEndian(table.data() + i * offsetSize, offsetSize);
  std::sort(offsets.begin(), offsets.end());
  offsets.push_back(tableOffset);
  uint64_t start = 0, gap = 0;
  for (size_t i = 0; i + 1 < offsets.size(); ++i) {
    if (offsets[i] >= kHeaderSize && offsets[i + 1] > offsets[i] && offsets[i + 1] - offsets[i] > gap) {
      start = offsets[i];
      gap = offsets[i + 1] - offsets[i];
    }
  }
  if (gap < inPlaceMinimum) return declined;

  // A data object with a separate count: marker, integer marker, up to 8 bytes.
  uint8_t head[10];
  if (!file.readAt(start, head)) return declined;
  if (head[0] != ((kData << 4) | kCountFollows) || (head[1] >> 4) != kInteger || (head[1] & 0x0F) > 3) {
    return declined;
  }
  const size_t intSize = size_t{1} << (head[1] & 0x0F);
  const uint64_t holeBegin = start + 2 + intSize;
  const uint64_t length = bigEndian(head + 2, intSize);
  if (holeBegin > start + gap || length < inPlaceMinimum || length > start + gap - holeBegin) return declined;
  const uint64_t holeEnd = holeBegin + length;

  Bytes payload(length);
  std::vector<uint8_t> rest(size - length);
  if (!file.readAt(0, std::span(rest).first(holeBegin)) ||
      !file.readAt(holeEnd, std::span(rest).subspan(holeBegin)) || !file.readAt(holeBegin, payload) ||
      !file.endsAtSize()) {
    return declined;
  }
  const Source source{std::span(rest).first(holeBegin), std::span(rest).subspan(holeBegin), holeBegin, holeEnd, size,
                      &payload};
  return Reader(source).run();
}

bool PropertyListBinaryReader::hasOnlySafeStrings(std::span<const uint8_t> bytes) {
  return stringsAreSafe(Source::whole(bytes));
}

double PropertyListBinaryReader::dateFromLibraryParts(int32_t seconds, int32_t microseconds) {
  // libplist hands out the fraction of a date before 2001 as a positive
  // count of microseconds further into the past. For a stored date beyond
  // its 32-bit seconds (or not a number) both parts come out of overflowed
  // conversions, the count then a whole second or more: that is no
  // fraction, and the date is its whole seconds, which writes back as it
  // reads. (Taken as a fraction it could move the date up to 36 minutes
  // beyond what a property list holds, and a store that read it could
  // write nothing afterwards.)
  const int64_t magnitude = std::abs(static_cast<int64_t>(microseconds));
  const double fraction = magnitude < 1'000'000 ? static_cast<double>(magnitude) / 1e6 : 0.0;
  const double since2001 = seconds < 0 ? seconds - fraction : seconds + (microseconds < 0 ? -fraction : fraction);
  return since2001 + kSecondsFrom1970To2001;
}

}  // namespace platform
