#include "platform/storage/PropertyListBinaryReader.h"
#include "platform/storage/PropertyListBinaryWriter.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "platform/TestSupport.h"
#include "platform/SameObject.h"
#include "platform/storage/FileBuffer.h"

namespace platform {
namespace {

using testing::sameObject;

// Random values of every kind, with the ones that trip conversions up: the
// edges of each integer size, reals that are and are not floats, NaN, dates
// around 2001 and at the 32-bit edges, text in one, two, three and four
// UTF-8 bytes, repeated scalars (which writers store once and reference).
class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  Object value(int depth) {
    switch (pick(depth > 3 ? 7 : 9)) {
      case 0: return Object(pick(2) == 0);
      case 1: return Object(integer());
      case 2: return Object(real());
      case 3: return Object(text());
      case 4: return Object(data());
      case 5: return Object(Date{date()});
      case 6: return Object(repeated());
      case 7: {
        Array array;
        for (size_t n = pick(6); n > 0; --n) array.push_back(value(depth + 1));
        return Object(std::move(array));
      }
      default: {
        Dictionary dictionary;
        for (size_t n = pick(6); n > 0; --n) dictionary.insert_or_assign(text(), value(depth + 1));
        return Object(std::move(dictionary));
      }
    }
  }

 private:
  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }

  int64_t integer() {
    static constexpr int64_t kEdges[] = {0,          1,           255,        256,        65535,      65536,
                                         0xFFFFFFFF, 0x100000000, INT64_MAX,  INT64_MIN,  -1,         -256};
    if (pick(2) == 0) return kEdges[pick(std::size(kEdges))];
    return static_cast<int64_t>(random_()) >> pick(64);
  }

  double real() {
    switch (pick(5)) {
      case 0: return static_cast<float>(std::uniform_real_distribution<double>(-1e6, 1e6)(random_));
      case 1: return std::uniform_real_distribution<double>(-1e300, 1e300)(random_);
      case 2: return std::bit_cast<double>(random_());
      case 3: return std::nan("");
      default: return pick(2) ? -0.0 : 1e-45;
    }
  }

  double date() {
    constexpr double k2001 = 978307200.0;
    switch (pick(4)) {
      case 0: return k2001 + std::uniform_real_distribution<double>(-2, 2)(random_);
      case 1: return k2001 + std::uniform_real_distribution<double>(-2.1e9, 2.1e9)(random_);
      case 2: return k2001 + std::round(std::uniform_real_distribution<double>(-1e9, 1e9)(random_)) + 0.25;
      default: return k2001 + (pick(2) ? 2147483647.5 : -2147483648.0);
    }
  }

  std::string text() {
    static const std::string kPieces[] = {"a", "Z", "é", "☃", "\U0001F600", " ", "key", "\x7F", "ü"};
    std::string out;
    for (size_t n = pick(12); n > 0; --n) out += kPieces[pick(std::size(kPieces))];
    return out;
  }

  Bytes data() {
    Bytes out(pick(40));
    for (uint8_t& byte : out) byte = static_cast<uint8_t>(random_());
    return out;
  }

  Object repeated() {
    static const Object kRepeated[] = {Object("same"), Object(int64_t{7}), Object(2.5), Object(true),
                                       Object(Date{978307200.5}), Object(Bytes{1, 2})};
    return kRepeated[pick(std::size(kRepeated))];
  }

  std::mt19937_64 random_;
};

TEST(PropertyListBinaryReader, ReadsWhatLibplistWritesAsLibplistReadsIt) {
  Generator generator(20240611);
  for (int round = 0; round < 400; ++round) {
    Dictionary root;
    for (int k = 0; k < 6; ++k) root.insert_or_assign("k" + std::to_string(k), generator.value(0));
    auto bytes = PropertyList::serializeWithLibplistForTesting(Object(root), PropertyListFormat::Binary);
    ASSERT_TRUE(bytes);
    PropertyListBinaryReader::Reading ours = PropertyListBinaryReader::read(*bytes);
    Error error;
    auto theirs = PropertyList::parseWithLibplistForTesting(*bytes, &error);
    ASSERT_TRUE(theirs) << error.toString();
    ASSERT_TRUE(ours.object) << "round " << round << (ours.declined ? " declined" : " refused");
    EXPECT_TRUE(sameObject(*ours.object, *theirs)) << ours.object->description() << "\n" << theirs->description();
  }
}

TEST(PropertyListBinaryWriter, WritesTheBytesLibplistWrites) {
  Generator generator(7);
  for (int round = 0; round < 400; ++round) {
    Object object = generator.value(0);
    Dictionary root;
    for (int k = 0; k < 5; ++k) {
      root.insert_or_assign(k % 2 ? "k" + std::to_string(k) : "é" + std::to_string(k), generator.value(1));
    }
    SharedDictionary shared;
    for (const auto& [key, value] : root) shared.emplace(key, std::make_shared<const Object>(value));
    const auto expected = PropertyList::serializeWithLibplistForTesting(Object(root), PropertyListFormat::Binary);
    ASSERT_TRUE(expected);
    EXPECT_EQ(PropertyListBinaryWriter::write(shared).bytes(), *expected) << "round " << round;
    EXPECT_EQ(PropertyListBinaryWriter::write(Object(root)).bytes(), *expected) << "round " << round;
    EXPECT_EQ(PropertyListBinaryWriter::write(object).bytes(),
              PropertyList::serializeWithLibplistForTesting(object, PropertyListFormat::Binary))
        << object.description();
  }
}

TEST(PropertyListBinaryWriter, WidthsGrowWithTheListAndLargeDataIsBorrowed) {
  const size_t large = PropertyListBinaryWriter::kBorrowedMinimum;
  const Object cases[] = {
      // Offsets one byte wide up to a table at 255, two from 256.
      Array{Bytes(230, 1), int64_t{7}}, Array{Bytes(231, 1), int64_t{7}}, Array{Bytes(65520, 1), int64_t{7}},
      // Counts written after the marker from 15 on; references two bytes wide from 256 objects.
      Array(14, Object("x")), Array(15, Object(int64_t{300})),
      Array(300, Object(Dictionary{})),
      // References three bytes wide past 65,535 objects (containers are never shared).
      Array(70000, Object(Array{})),
      // A key and a string value of the same text.
      Dictionary{{"same", Object("same")}, {"other", Array{Object("same"), Object("other")}}},
      Dictionary{{"big", Bytes(large, 2)}, {"bigger", Bytes(large + 1, 3)}, {"small", Bytes(large - 1, 4)}},
  };
  for (const Object& object : cases) {
    const PropertyListBinaryWriter::Output output = PropertyListBinaryWriter::write(object);
    EXPECT_EQ(output.bytes(), PropertyList::serializeWithLibplistForTesting(object, PropertyListFormat::Binary))
        << object.description();
    size_t total = 0;
    std::vector<const uint8_t*> borrowed;
    for (std::span<const uint8_t> piece : output.pieces()) {
      total += piece.size();
      borrowed.push_back(piece.data());
    }
    EXPECT_EQ(total, output.size());
    if (const Dictionary* values = object.dictionaryValue()) {
      for (const auto& [key, value] : *values) {
        const Bytes* data = value.bytesValue();
        if (!data) continue;
        const bool isBorrowed = std::find(borrowed.begin(), borrowed.end(), data->data()) != borrowed.end();
        EXPECT_EQ(isBorrowed, data->size() >= large) << key;
      }
    }
  }
}

// A binary list by hand: objects in order (object 0 the top), one-byte offsets
// and references unless the table needs more.
Bytes binaryList(const std::vector<Bytes>& objects, size_t refSize = 1) {
  Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<uint64_t> offsets;
  for (const Bytes& object : objects) {
    offsets.push_back(out.size());
    out.insert(out.end(), object.begin(), object.end());
  }
  const uint64_t table = out.size();
  const size_t offsetSize = table < 256 ? 1 : table < 65536 ? 2 : 4;
  for (uint64_t offset : offsets) {
    for (size_t i = offsetSize; i-- > 0;) out.push_back(static_cast<uint8_t>(offset >> (8 * i)));
  }
  Bytes trailer(32, 0);
  trailer[6] = static_cast<uint8_t>(offsetSize);
  trailer[7] = static_cast<uint8_t>(refSize);
  for (int i = 0; i < 8; ++i) {
    trailer[8 + i] = static_cast<uint8_t>(objects.size() >> (8 * (7 - i)));
    trailer[24 + i] = static_cast<uint8_t>(table >> (8 * (7 - i)));
  }
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

Bytes ref(uint64_t index, size_t size) {
  Bytes out;
  for (size_t i = size; i-- > 0;) out.push_back(static_cast<uint8_t>(index >> (8 * i)));
  return out;
}

TEST(PropertyListBinaryReader, ListsLaidOutUnlikeAWriterReadAsLibplistReadsThem) {
  const struct {
    const char* name;
    Bytes list;
    bool declined;  // left to libplist
  } cases[] = {
      {"a shared string and a shared array are copied",
       binaryList({{0xA3, 1, 1, 2}, {0x53, 'a', 'b', 'c'}, {0xA1, 3}, {0x09}}), false},
      {"a key written twice keeps its last value", binaryList({{0xD2, 1, 1, 2, 3}, {0x51, 'k'}, {0x10, 1}, {0x10, 2}}),
       false},
      {"counts written long", binaryList({{0x5F, 0x11, 0x00, 0x02, 'h', 'i'}}), false},
      {"gap before the offset table",
       [] {
         Bytes list = binaryList({{0xA1, 1}, {0x09}});
         list.insert(list.begin() + 11, 0x77);
         list[list.size() - 1] += 1;
         return list;
       }(),
       false},
      {"a lone surrogate", binaryList({{0x61, 0xD8, 0x00}}), true},
      {"an empty UTF-16 string", binaryList({{0xA1, 1}, {0x60}}), true},
      {"an empty UTF-16 key", binaryList({{0xD1, 1, 2}, {0x60}, {0x10, 1}}), true},
      {"bytes beyond ASCII in an ASCII string", binaryList({{0x53, 'a', 0xC3, 0xA9}}), true},
      {"a set", binaryList({{0xC1, 1}, {0x09}}), true},
      {"a UID", binaryList({{0xA1, 1}, {0x80, 5}}), true},
      {"a 16-byte integer", binaryList({{0xA1, 1}, {0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2}}), true},
      {"a date beyond 32 bits", binaryList({{0x33, 0x42, 0x02, 0xA0, 0x5F, 0x20, 0x00, 0x00, 0x00}}), true},
      {"a cycle", binaryList({{0xA1, 0}}), true},
      {"a reference out of range", binaryList({{0xA1, 7}}), true},
      {"a null", binaryList({{0xA1, 1}, {0x00}}), true},
  };
  for (const auto& c : cases) {
    PropertyListBinaryReader::Reading ours = PropertyListBinaryReader::read(c.list);
    EXPECT_EQ(ours.declined, c.declined) << c.name;
    Error theirsError, parsedError;
    auto theirs = PropertyList::parseWithLibplistForTesting(c.list, &theirsError);
    auto parsed = PropertyList::parse(c.list, &parsedError);
    ASSERT_EQ(parsed.has_value(), theirs.has_value()) << c.name;
    if (theirs) {
      EXPECT_TRUE(sameObject(*parsed, *theirs)) << c.name << ": " << parsed->description();
      if (ours.object) {
        EXPECT_TRUE(sameObject(*ours.object, *theirs)) << c.name;
      }
    } else {
      EXPECT_EQ(parsedError.code, theirsError.code) << c.name;
    }
  }
}

// A list of one 64-bit date whose seconds since 2001 are `since2001`.
Bytes dateList(double since2001) {
  const auto bits = std::bit_cast<uint64_t>(since2001);
  Bytes date = {0x33};
  for (int i = 7; i >= 0; --i) date.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  return binaryList({date});
}

// Dates beyond the 32-bit seconds libplist hands out (or not numbers) read as
// a date that writes back and reads again as itself: a stored value read from
// a file never keeps the next write of that file from landing.
TEST(PropertyListBinaryReader, ADateBeyondTheLibrarysRangeReadsAsOneThatWritesBack) {
  for (double since2001 : {-5.4861217798043545e+303, 1e300, -3e9, 5e9, -2147483648.5,
                           std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()}) {
    Error error;
    auto read = PropertyList::parse(dateList(since2001), &error);
    ASSERT_TRUE(read && read->dateValue()) << since2001 << ": " << error.toString();
    auto written = PropertyList::serialize(*read, PropertyListFormat::Binary, &error);
    ASSERT_TRUE(written) << since2001 << " read as " << read->description() << ": " << error.toString();
    auto again = PropertyList::parse(*written);
    ASSERT_TRUE(again && again->dateValue()) << since2001;
    EXPECT_EQ(again->dateValue()->secondsSince1970, read->dateValue()->secondsSince1970) << since2001;
  }
}

// Arrays nested `depth` deep around `true`, with four-byte offsets and references.
Bytes nested(size_t depth, size_t width) {
  std::vector<Bytes> objects;
  for (size_t i = 0; i < depth; ++i) {
    Bytes array = {static_cast<uint8_t>(0xA0 | width)};
    for (size_t k = 0; k < width; ++k) {
      Bytes r = ref(i + 1, 4);
      array.insert(array.end(), r.begin(), r.end());
    }
    objects.push_back(array);
  }
  objects.push_back({0x09});
  return binaryList(objects, 4);
}

TEST(PropertyListBinaryReader, RefusesListsThatNestTooDeepOrExpandTooFar) {
  // Within the depth, as libplist and the conversion read it.
  auto ok = PropertyList::parse(nested(PropertyList::kMaximumDepth, 1));
  EXPECT_TRUE(ok);
  // Deeper: libplist's own recursion would overflow the stack long before
  // 100,000 levels; two references per level would take 2^40 copies.
  const struct {
    Bytes list;
    const char* name;
  } refused[] = {
      {nested(PropertyList::kMaximumDepth + 1, 1), "one level too deep"},
      {nested(100000, 1), "100,000 levels"},
      {nested(40, 2), "40 levels of two references"},
  };
  for (const auto& c : refused) {
    Error error;
    EXPECT_FALSE(PropertyList::parse(c.list, &error)) << c.name;
    EXPECT_EQ(error.domain, kPropertyListErrorDomain) << c.name;
    EXPECT_EQ(error.code, PropertyList::kTooLarge) << c.name;
  }
}

// A suite with a data value large enough to be read in place, other values
// around it, and `extra` appended to the dictionary.
Object suiteWithLargeData(size_t size, Dictionary extra = {}) {
  Bytes large(size);
  for (size_t i = 0; i < size; ++i) large[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
  Dictionary suite{{"Persisted_Files", Object(std::move(large))}, {"count", int64_t{3}}, {"name", "é"}};
  for (auto& [key, value] : extra) suite.insert_or_assign(key, value);
  return Object(std::move(suite));
}

TEST(PropertyListBinaryReader, ReadsALargeFilesDataInPlaceAsTheWholeFileReads) {
  testing::ScratchDirectory dir;
  const size_t large = PropertyListBinaryReader::kInPlaceMinimum + 123;
  const Object cases[] = {
      suiteWithLargeData(large),
      suiteWithLargeData(large, {{"A_first", Bytes(500, 1)}, {"zz_last", Array{1, "x"}}}),
      // The same bytes twice: the writer stores them twice or once, read either way.
      suiteWithLargeData(large, {{"Persisted_Files.copy", *suiteWithLargeData(large).find("Persisted_Files")}}),
      // Two large values: the larger one in place, the other copied.
      suiteWithLargeData(large, {{"second", Bytes(large / 2 + PropertyListBinaryReader::kInPlaceMinimum, 9)}}),
  };
  for (const Object& object : cases) {
    const std::string path = dir / "suite.plist";
    ASSERT_TRUE(PropertyList::writeFile(path, object));
    Error error;
    auto file = RegularFileReader::open(path, PropertyList::kMaximumSize, &error);
    ASSERT_TRUE(file) << error.toString();
    PropertyListBinaryReader::Reading inPlace = PropertyListBinaryReader::readFile(*file);
    ASSERT_TRUE(inPlace.object) << (inPlace.declined ? "declined" : inPlace.error.toString());
    EXPECT_TRUE(sameObject(*inPlace.object, object));
    auto read = PropertyList::readFile(path, &error);
    ASSERT_TRUE(read) << error.toString();
    EXPECT_TRUE(sameObject(*read, object));
  }
  // A small file, or one that ends early, is left to the whole read.
  ASSERT_TRUE(PropertyList::writeFile(dir / "small.plist", Dictionary{{"a", 1}}));
  EXPECT_TRUE(PropertyListBinaryReader::readFile(*RegularFileReader::open(dir / "small.plist", 1 << 20)).declined);
  const std::string path = dir / "cut.plist";
  ASSERT_TRUE(PropertyList::writeFile(path, suiteWithLargeData(large)));
  std::string bytes = testing::readFile(path);
  testing::writeFile(path, bytes.substr(0, bytes.size() - 40));
  Error error;
  EXPECT_FALSE(PropertyList::readFile(path, &error));
  EXPECT_EQ(error.code, PropertyList::kUnreadable);
}

TEST(PropertyListBinaryWriter, WritesASuiteFileWithLargeDataThatLibplistReadsBack) {
  testing::ScratchDirectory dir;
  const Object suite = suiteWithLargeData(3 * PropertyListBinaryWriter::kBorrowedMinimum + 5,
                                          {{"second", Bytes(PropertyListBinaryWriter::kBorrowedMinimum, 9)},
                                           {"small", Bytes(10, 1)}});
  SharedDictionary shared;
  for (const auto& [key, value] : *suite.dictionaryValue()) shared.emplace(key, std::make_shared<const Object>(value));
  const std::string path = dir / "suite.plist";
  ASSERT_TRUE(PropertyList::writeFile(path, shared, PropertyListFormat::Binary, 0600));
  const std::string written = testing::readFile(path);
  const Bytes bytes(written.begin(), written.end());
  EXPECT_EQ(bytes, PropertyList::serializeWithLibplistForTesting(suite, PropertyListFormat::Binary));
  Error error;
  auto read = PropertyList::parseWithLibplistForTesting(bytes, &error);
  ASSERT_TRUE(read) << error.toString();
  EXPECT_TRUE(sameObject(*read, suite));
}

}  // namespace
}  // namespace platform
