#include "platform/storage/PropertyList.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/TestSupport.h"

namespace platform {
namespace {

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Every kind, with the values that trip conversions up.
Object everyKind() {
  return Dictionary{
      {"bool", true},
      {"false", false},
      {"int", int64_t{42}},
      {"negative", int64_t{-5}},
      {"min", std::numeric_limits<int64_t>::min()},
      {"max", std::numeric_limits<int64_t>::max()},
      {"one", 1.0},
      {"double", 0.1},
      {"string", "héllo ☃ \U0001F600"},
      {"empty", ""},
      {"data", Bytes{0, 1, 2, 255}},
      {"noData", Bytes{}},
      {"array", Array{1, "two", 3.5, Array{}, Dictionary{}}},
      {"dict", Dictionary{{"nested", Dictionary{{"deeper", false}}}}},
      {"date", Date{1'700'000'000.0}},
  };
}

TEST(PropertyList, EveryKindRoundTripsInBothFormats) {
  for (auto format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
    Error error;
    auto bytes = PropertyList::serialize(everyKind(), format, &error);
    ASSERT_TRUE(bytes) << error.toString();
    auto back = PropertyList::parse(*bytes, &error);
    ASSERT_TRUE(back) << error.toString();
    EXPECT_EQ(*back, everyKind()) << back->description();
    // Kinds stay apart: 1.0 is no integer and true is no 1.
    EXPECT_TRUE(back->find("one")->isDouble());
    EXPECT_TRUE(back->find("bool")->isBool());
  }
}

TEST(PropertyList, BinaryKeepsFractionsOfDatesAndTopLevelScalars) {
  for (double seconds : {1'700'000'000.25, 978'307'200.0 - 999.876544, 0.5, 978'307'200.0 + 1e-6}) {
    auto bytes = PropertyList::serialize(Date{seconds}, PropertyListFormat::Binary);
    ASSERT_TRUE(bytes);
    auto back = PropertyList::parse(*bytes);
    ASSERT_TRUE(back && back->dateValue());
    EXPECT_NEAR(back->dateValue()->secondsSince1970, seconds, 1e-6) << seconds;
  }
  for (const Object& scalar : {Object("text"), Object(int64_t{7}), Object(2.5), Object(false)}) {
    auto back = PropertyList::parse(*PropertyList::serialize(scalar, PropertyListFormat::Binary));
    EXPECT_EQ(back, scalar);
  }
}

TEST(PropertyList, RefusesWhatAPropertyListCannotHold) {
  const Object refused[] = {
      Object(nullptr),
      Array{1, nullptr},
      Dictionary{{"k", Dictionary{{"n", nullptr}}}},
      std::string("a\0b", 3),
      Dictionary{{std::string("bad\xff"), 1}},
      "\xc3(",
      Date{-3e9},  // before 1933
      Date{5e9},   // after 2069
  };
  for (const auto& object : refused) {
    Error error;
    EXPECT_FALSE(PropertyList::serialize(object, PropertyListFormat::Binary, &error)) << object.description();
    EXPECT_EQ(error.domain, kPropertyListErrorDomain);
    EXPECT_EQ(error.code, PropertyList::kUnsupportedValue);
  }
}

// A binary property list whose key or string holds a NUL character.
Bytes withNul(const std::string& text) {
  auto bytes = *PropertyList::serialize(Dictionary{{"key", "value"}}, PropertyListFormat::Binary);
  auto at = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
  at[1] = 0;
  return bytes;
}

TEST(PropertyList, UnreadableInputGivesAnErrorNotACrash) {
  auto good = *PropertyList::serialize(everyKind(), PropertyListFormat::Binary);
  const Bytes inputs[] = {
      {},
      bytesOf("hello"),
      bytesOf("bplist00"),
      Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)),  // truncated
      bytesOf("<?xml version=\"1.0\"?><plist><dict><key>a</key>"),            // unterminated
      withNul("key"),
      withNul("value"),
  };
  for (const auto& input : inputs) {
    Error error;
    EXPECT_FALSE(PropertyList::parse(input, &error)) << input.size();
    EXPECT_EQ(error.domain, kPropertyListErrorDomain);
  }
}

TEST(PropertyList, InvalidUTF8FromOutsideIsReplaced) {
  auto parsed = PropertyList::parse(bytesOf(
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k\xff</key><string>a\xc3(b</string></dict></plist>"));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, Object(Dictionary{{"k\uFFFD", "a\uFFFD(b"}}));
}

TEST(PropertyList, FilesAreReplacedWhole) {
  testing::ScratchDirectory dir;
  const std::string path = dir / "settings.plist";
  ASSERT_TRUE(PropertyList::writeFile(path, Dictionary{{"v", 1}}));
  ASSERT_TRUE(PropertyList::writeFile(path, Dictionary{{"v", 2}}, PropertyListFormat::XML));
  EXPECT_EQ(PropertyList::readFile(path), Object(Dictionary{{"v", 2}}));
  EXPECT_NE(testing::readFile(path).find("<integer>2</integer>"), std::string::npos);
  // Nothing is left next to it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  Error error;
  EXPECT_FALSE(PropertyList::readFile(dir / "missing.plist", &error));
  EXPECT_EQ(error.domain, kPOSIXErrorDomain);
  EXPECT_EQ(error.code, ENOENT);
  EXPECT_FALSE(PropertyList::writeFile(dir / "no/such/dir.plist", Dictionary{}, PropertyListFormat::Binary, &error));
  EXPECT_EQ(error.code, ENOENT);
}

}  // namespace
}  // namespace platform
