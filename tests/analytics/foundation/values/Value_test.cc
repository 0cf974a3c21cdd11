#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "ValuesTestSupport.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/values/GWLDecimalNumber.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLSequenceTimestampsCache.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/foundation/values/GWLValue.h"
#include "analytics/wire/GWLPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/GWLPBUserAttribute.h"
#include "analytics/wire/NANO.h"

namespace {

using foundation_test::Report;

class ValueTest : public foundation_test::LibraryMonitorTest {};

TEST_F(ValueTest, ValuesFromObjectsKeepTheirKind) {
  struct Row {
    platform::Object object;
    GWLValueType type;
    std::string description;
  };
  const Row rows[] = {
      {platform::Object(true), kGWLValueTypeInt64, "1"},
      {platform::Object(false), kGWLValueTypeInt64, "0"},
      {platform::Object(int64_t{-7}), kGWLValueTypeInt64, "-7"},
      {platform::Object(0.5f), kGWLValueTypeDouble, "0.5"},
      {platform::Object(2.5), kGWLValueTypeDouble, "2.5"},
      {platform::Object("caf\xC3\xA9"), kGWLValueTypeString, "caf\xC3\xA9"},
  };
  for (const Row& row : rows) {
    auto value = GWLValue::valueFromObject(row.object);
    ASSERT_TRUE(value) << row.object.description();
    EXPECT_EQ(value->valueType(), row.type) << row.object.description();
    EXPECT_EQ(value->description(), row.description);
  }
  EXPECT_TRUE(reports().empty());
}

TEST_F(ValueTest, RefusedObjectsAreReported) {
  const platform::Object array(platform::Array{platform::Object(1)});
  EXPECT_FALSE(GWLValue::valueFromObject(platform::Object()));
  EXPECT_FALSE(GWLValue::valueFromObject(array));
  EXPECT_FALSE(GWLValue::valueFromObject(platform::Object("\xFF")));
  EXPECT_FALSE(GWLValue::valueFromObject(platform::Object(platform::Bytes{1, 2})));
  EXPECT_FALSE(GWLValue::initWithString(std::nullopt));
  EXPECT_FALSE(GWLValue::initWithString("a\xC0\xAF"));  // an overlong "/"
  EXPECT_FALSE(GWLValue::initWithArray(std::nullopt));
  auto got = reports();
  ASSERT_EQ(got.size(), 7u);
  EXPECT_EQ(got[0], (Report{0, 35000, "Cannot create Value type with nil value"}));
  for (int i : {1, 2, 3}) EXPECT_EQ(got[i].code, 35001) << got[i];
  EXPECT_EQ(got[4], (Report{0, 35002, "Cannot create String value with nil"}));
  EXPECT_EQ(got[5].code, 35003);
  EXPECT_EQ(got[6], (Report{0, 35004, "Cannot create Array value with nil"}));

  auto wrapped = GWLValue::valueFromObject(array, true);
  ASSERT_TRUE(wrapped && wrapped->isArray());
  EXPECT_EQ(*wrapped->arrayValue(), *array.arrayValue());
}

TEST_F(ValueTest, EqualityNeedsTheSameType) {
  const GWLValue five = GWLValue::initWithInt64(5);
  const GWLValue fiveDouble = GWLValue::initWithDouble(5.0);
  EXPECT_NE(five, fiveDouble);
  EXPECT_EQ(five, GWLValue::initWithInt64(5));
  EXPECT_EQ(five.hash(), GWLValue::initWithInt64(5).hash());
  EXPECT_EQ(*GWLValue::initWithString("5"), *GWLValue::initWithString("5"));
  EXPECT_NE(*GWLValue::initWithString("5"), five);
  // Typed reads of another type answer zero or nothing.
  EXPECT_EQ(fiveDouble.int64Value(), 0);
  EXPECT_EQ(five.doubleValue(), 0);
  EXPECT_EQ(five.stringValue(), nullptr);
  EXPECT_EQ(five.arrayValue(), nullptr);
}

TEST_F(ValueTest, DecimalNumbersAreExact) {
  struct Row {
    const char* text;
    std::optional<std::string> canonical;  // nullopt: refused
    int64_t code = 0;                       // the refusal's report
  };
  const Row rows[] = {
      {"19.999999", "19.999999"},
      {"0.000001", "0.000001"},
      {"1234567.123456", "1234567.123456"},
      {"-.5", "-0.5"},
      {"+.5", "0.5"},
      {".5", "0.5"},
      {"1.50", "1.5"},
      {"007", "7"},
      {"5.", "5"},
      {"1200", "1200"},
      {"-0", "0"},
      {"0.10", "0.1"},
      {"12345678901234567890123456789012345678", "12345678901234567890123456789012345678"},
      {"1e5", std::nullopt, 26001},
      {"", std::nullopt, 26001},
      {".", std::nullopt, 26001},
      {"+", std::nullopt, 26001},
      {" 1", std::nullopt, 26001},
      {"1,5", std::nullopt, 26001},
      {"1.2.3", std::nullopt, 26001},
      {"0x1A", std::nullopt, 26001},
      {"123456789012345678901234567890123456789", std::nullopt, 26003},  // 39 digits
  };
  for (const Row& row : rows) {
    auto number = GWLDecimalNumberFromString(row.text);
    if (row.canonical) {
      ASSERT_TRUE(number) << row.text;
      EXPECT_EQ(number->stringValue(), *row.canonical) << row.text;
      EXPECT_TRUE(lastSampledKey().empty()) << row.text;
    } else {
      EXPECT_FALSE(number) << row.text;
      const std::string expected = row.code == 26001
                                       ? "String value does not represent a numeric value. Value"
                                       : "Unable to create a NSDecimalNumber from string value: loss of precision. Value";
      EXPECT_EQ(lastSampledKey(), "1E_120500:" + expected) << row.text;  // level 2: sampled, never printed
    }
  }
  EXPECT_TRUE(reports().empty());
}

TEST_F(ValueTest, DecimalNumbersCompareWithoutBinaryRounding) {
  auto decimal = [](const char* text) { return *GWLDecimalNumberFromString(text); };
  // 0.1 + 0.2 is not 0.3 in binary floating point; here 0.3 is exactly 0.30.
  EXPECT_EQ(decimal("0.3"), decimal("0.30"));
  EXPECT_LT(decimal("0.299999999999999999999"), decimal("0.3"));
  EXPECT_LT(decimal("-2"), decimal("-1.5"));
  EXPECT_LT(decimal("-0.000001"), decimal("0"));
  EXPECT_GT(decimal("1000"), decimal("999.999999"));
  EXPECT_EQ(decimal("-0"), decimal("0"));
  EXPECT_DOUBLE_EQ(decimal("19.99").doubleValue(), 19.99);
}

TEST_F(ValueTest, DecimalArithmeticIsExact) {
  using Rounding = GWLDecimalNumber::Rounding;
  auto decimal = [](const char* text) { return *GWLDecimalNumberFromString(text); };
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

  // 0.99 x 3 in millionths: the double product is 2.9699999999999998.
  ASSERT_LT(static_cast<int64_t>(0.99 * 3 * 1e6), 2970000) << "the binary result this guards against";
  EXPECT_EQ(decimal("0.99").multipliedBy(3)->int64ValueScaledBy(6, Rounding::kTowardZero), 2970000);

  struct Product {
    const char* number;
    int64_t factor;
    std::optional<std::string> product;  // nullopt: more digits than the type keeps
  };
  const Product products[] = {
      {"0.99", 3, "2.97"},
      {"-1.25", 4, "-5"},
      {"1.25", -4, "-5"},
      {"-1.5", -2, "3"},
      {"7", 0, "0"},
      {"0", kMax, "0"},
      {"1", kMin, "-9223372036854775808"},
      {"0.000001", kMax, "9223372036854.775807"},
      {"12345678901234567890123456789012345678", 1, "12345678901234567890123456789012345678"},
      {"12345678901234567890123456789012345678", 10, "123456789012345678901234567890123456780"},
      {"12345678901234567890123456789012345678", 9, std::nullopt},
  };
  for (const Product& row : products) {
    auto product = decimal(row.number).multipliedBy(row.factor);
    EXPECT_EQ(product ? std::optional(product->stringValue()) : std::nullopt, row.product)
        << row.number << " x " << row.factor;
  }

  struct Scaled {
    const char* number;
    int power;
    std::optional<int64_t> truncated;
    std::optional<int64_t> rounded;
  };
  const Scaled scaled[] = {
      {"9.99", 6, 9990000, 9990000},
      {"0.0000015", 6, 1, 2},
      {"-0.0000015", 6, -1, -2},
      {"0.0000014", 6, 1, 1},
      {"0.4", 0, 0, 0},
      {"-0.5", 0, 0, -1},
      {"0.00000001", 6, 0, 0},
      {"1200", -2, 12, 12},
      {"9223372036854.775807", 6, kMax, kMax},
      {"9223372036854.7758075", 6, kMax, std::nullopt},
      {"9223372036854.775808", 6, std::nullopt, std::nullopt},
      {"-9223372036854.775808", 6, kMin, kMin},
      {"-9223372036854.775809", 6, std::nullopt, std::nullopt},
      {"10000000000000", 6, std::nullopt, std::nullopt},  // 1e19 millionths
  };
  for (const Scaled& row : scaled) {
    EXPECT_EQ(decimal(row.number).int64ValueScaledBy(row.power, Rounding::kTowardZero), row.truncated) << row.number;
    EXPECT_EQ(decimal(row.number).int64ValueScaledBy(row.power, Rounding::kHalfAwayFromZero), row.rounded)
        << row.number;
  }
  EXPECT_EQ(GWLDecimalNumber::fromInt64(kMin).stringValue(), "-9223372036854775808");
  EXPECT_EQ(GWLDecimalNumberToMicros(decimal("-0.9999999")), -999999);
  EXPECT_EQ(GWLDecimalNumberToMicros(decimal("10000000000000")), std::nullopt);
}

TEST_F(ValueTest, UserAttributesAreValidatedAndConvertedToTheWire) {
  auto attribute = GWLUserAttribute::initWithOrigin("app", "favourite", GWLValue::initWithInt64(3), 1.5);
  ASSERT_TRUE(attribute);
  EXPECT_TRUE(attribute->isPublic());
  auto proto = attribute->protoUserAttribute();
  EXPECT_EQ(NANOGetInt64(proto, GWLPBUserAttribute::Field::set_timestamp), 1500);
  EXPECT_EQ(NANOGetString(proto, GWLPBUserAttribute::Field::name), "favourite");
  EXPECT_EQ(NANOGetInt64(proto, GWLPBUserAttribute::Field::int_value), 3);
  EXPECT_FALSE(NANOHasField(proto, GWLPBUserAttribute::Field::string_value));
  EXPECT_FALSE(NANOHasField(proto, GWLPBUserAttribute::Field::double_value));

  auto internal = GWLUserAttribute::initWithOrigin("auto", "_id", *GWLValue::initWithString(std::string(256, 'u')), 2);
  ASSERT_TRUE(internal);
  EXPECT_FALSE(internal->isPublic());
  EXPECT_EQ(NANOGetString(internal->protoUserAttribute(), GWLPBUserAttribute::Field::string_value),
            std::string(256, 'u'));
  auto real = GWLUserAttribute::initWithOrigin("app", "score", GWLValue::initWithDouble(0.25), -1.0009);
  EXPECT_EQ(NANOGetDouble(real->protoUserAttribute(), GWLPBUserAttribute::Field::double_value), 0.25);
  EXPECT_EQ(NANOGetInt64(real->protoUserAttribute(), GWLPBUserAttribute::Field::set_timestamp), -1000);

  EXPECT_FALSE(GWLUserAttribute::initWithOrigin("app", "a-b", GWLValue::initWithInt64(1), 0));
  EXPECT_FALSE(GWLUserAttribute::initWithOrigin("app", "name", *GWLValue::initWithString(""), 0));
  EXPECT_FALSE(GWLUserAttribute::initWithOrigin("app", "name", *GWLValue::initWithString(std::string(37, 'x')), 0));
}

TEST_F(ValueTest, SequenceTimestampsKeepOrderAndWholeSeconds) {
  EXPECT_FALSE(GWLSequenceTimestampsCache::initWithAudienceID(std::nullopt));
  auto cache = GWLSequenceTimestampsCache::initWithAudienceID(4);
  ASSERT_TRUE(cache);
  EXPECT_TRUE(cache->sequenceFilterResultTimestamps().empty());

  cache->addEventFilterTimestamp(1000.2, 7);
  cache->addEventFilterTimestamp(1000.7, 7);  // the same whole second: not added
  EXPECT_EQ(cache->sequenceTimestampsForFilterID(7), (std::vector<double>{1000.2}));
  EXPECT_TRUE(lastSampledKey().empty());
  cache->addEventFilterTimestamp(999, 7);  // earlier: reported and kept
  EXPECT_EQ(lastSampledKey(), "1W_120500:Adding a sequence timestamp less than the last added timestamp");
  EXPECT_EQ(cache->sequenceTimestampsForFilterID(7), (std::vector<double>{1000.2, 999}));

  cache->setUserPropertyTimestamp(50, 2);
  cache->setUserPropertyTimestamp(40, 2);
  EXPECT_EQ(lastSampledKey(), "1W_120500:Setting a sequence timestamp less than the last set timestamp");
  EXPECT_EQ(cache->sequenceTimestampsForFilterID(2), (std::vector<double>{40}));
  cache->addEventFilterTimestamp(1, std::nullopt);
  EXPECT_FALSE(cache->sequenceTimestampsForFilterID(std::nullopt));
  EXPECT_FALSE(cache->sequenceTimestampsForFilterID(99));

  auto results = cache->sequenceFilterResultTimestamps();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(NANOGetInt32(results[0], GWLPBSequenceFilterResultTimestamp::Field::filter_id), 2);
  EXPECT_EQ(NANOGetInt32(results[1], GWLPBSequenceFilterResultTimestamp::Field::filter_id), 7);
  auto sorted = NANOGetArray(results[1], GWLPBSequenceFilterResultTimestamp::Field::eval_timestamps);
  ASSERT_TRUE(sorted);
  EXPECT_EQ(*sorted, (std::vector<NANOValue>{int64_t{999}, int64_t{1000}}));
  EXPECT_TRUE(reports().empty());
}

}  // namespace

namespace {

TEST(Milliseconds, TruncatedButExactForTimesMadeFromMilliseconds) {
  EXPECT_EQ(GWLMillisecondsFromSeconds(1.5), 1500);
  EXPECT_EQ(GWLMillisecondsFromSeconds(1.5009), 1500);
  EXPECT_EQ(GWLMillisecondsFromSeconds(-1.0009), -1000);
  // 1001 ms is 1.001 s, which multiplied back is 1000.9999999999999: truncation alone gives 1000.
  for (int64_t milliseconds : {int64_t{1001}, int64_t{68719475711}, int64_t{1733836800123}, int64_t{-1001}}) {
    EXPECT_EQ(GWLMillisecondsFromSeconds(static_cast<double>(milliseconds) / 1000), milliseconds) << milliseconds;
  }
  EXPECT_EQ(GWLMillisecondsFromSeconds(1e300), INT64_MAX);
  EXPECT_EQ(GWLMillisecondsFromSeconds(-1e300), INT64_MIN);
  EXPECT_EQ(GWLMillisecondsFromSeconds(std::nan("")), 0);
}

}  // namespace
