#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ValuesTestSupport.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/values/GWLDataTypeValidator.h"

namespace {

using foundation_test::kDefaultLimits;
using foundation_test::Report;
using V = GWLDataTypeValidator;

class DataTypeValidatorTest : public foundation_test::LibraryMonitorTest {};

GWLValue text(const std::string& value) { return *GWLValue::initWithString(value); }

std::string repeat(const std::string& unit, size_t count) {
  std::string result;
  for (size_t i = 0; i < count; ++i) result += unit;
  return result;
}

TEST_F(DataTypeValidatorTest, EveryFailureCodeWithItsReport) {
  struct Row {
    const char* what;
    std::function<bool(GWLValidatorFailureCode*)> check;
    GWLValidatorFailureCode failure;
    std::vector<Report> reports;
  };
  const GWLValue usd1 = text("US1");
  const GWLValue word = text("five");
  const Row rows[] = {
      {"nil event name", [](auto* f) { return V::isValidPublicEventName(std::nullopt, f); },
       kGWLValidatorFailureMissing, {{0, 13001, "Event name is required and can't be nil"}}},
      {"empty origin", [](auto* f) { return V::isValidInternalEventOrigin("", f); }, kGWLValidatorFailureMissing,
       {{0, 13001, "Event origin is required and can't be empty"}}},
      {"empty user property value (not logged)",
       [](auto* f) {
         GWLValue empty = text("");
         return V::isValidPublicUserAttributeValue(&empty, f);
       },
       kGWLValidatorFailureMissing, {}},
      {"nil parameter value", [](auto* f) { return V::isValidPublicEventParameterValue(nullptr, kDefaultLimits, f); },
       kGWLValidatorFailureMissing, {{3, 13004, "Event parameter value cannot be nil"}}},
      {"41-letter event name", [](auto* f) { return V::isValidPublicEventName(repeat("a", 41), f); },
       kGWLValidatorFailureTooLong, {{0, 13000, "Event name is too long. The maximum supported length is 40: " +
                                                    repeat("a", 41)}}},
      {"37-character user property value",
       [](auto* f) {
         GWLValue value = text(repeat("v", 37));
         return V::isValidPublicUserAttributeValue(&value, f);
       },
       kGWLValidatorFailureTooLong,
       {{3, 13000, "User property value is too long. The maximum supported length is 36: " + repeat("v", 37)}}},
      {"hyphen in a name", [](auto* f) { return V::isValidInternalEventName("a-b", f); },
       kGWLValidatorFailureInvalidCharacter,
       {{0, 13002, "Event name must contain only letters, numbers, or underscores: a-b"}}},
      {"public name starting with a digit", [](auto* f) { return V::isValidPublicEventParameterName("1st", f); },
       kGWLValidatorFailureInvalidCharacter, {{0, 13003, "Event parameter name must start with a letter: 1st"}}},
      {"reserved event name", [](auto* f) { return V::isValidPublicEventName("first_open", f); },
       kGWLValidatorFailureReserved, {{0, 13006, "Event name is reserved. Ignoring event: first_open"}}},
      {"reserved event prefix", [](auto* f) { return V::isValidPublicEventName("ha_click", f); },
       kGWLValidatorFailureReserved, {{0, 13007, "Event name uses reserved prefix. Ignoring event: ha_click"}}},
      {"reserved parameter prefix", [](auto* f) { return V::isValidPublicEventParameterName("corvane_x", f); },
       kGWLValidatorFailureReserved,
       {{0, 13008, "Parameter name uses reserved prefix. Ignoring parameter: corvane_x"}}},
      {"reserved user property", [](auto* f) { return V::isValidPublicUserAttributeName("user_id", f); },
       kGWLValidatorFailureReserved,
       {{0, 13009, "User property name is reserved. Ignoring user property: user_id"}}},
      {"reserved user property prefix", [](auto* f) { return V::isValidPublicUserAttributeName("halcyra_x", f); },
       kGWLValidatorFailureReserved,
       {{0, 13010, "User property name uses reserved prefix. Ignoring user property: halcyra_x"}}},
      {"name that is not valid UTF-8", [](auto* f) { return V::isValidInternalEventName("ab\xC3", f); },
       kGWLValidatorFailureWrongType, {{0, 13000, "Event name must be of type NSString: ab\xEF\xBF\xBD"}}},
      {"origin without the forwarding suffix", [](auto* f) { return V::isValidForwardedEventOrigin("app", f); },
       kGWLValidatorFailureMissingForwardedSuffix, {}},
      {"too short", [](auto* f) { return V::isValidString("ab", 3, 10, kGWLValidationSubjectEventOrigin, f); },
       kGWLValidatorFailureTooShort, {{0, 13000, "Event origin is too short. The minimum supported length is 3: ab"}}},
      {"string where a number is needed", [&](auto* f) { return V::isValidNumericValue(&word, f); },
       kGWLValidatorFailureNotNumeric,
       {{3, 13011, "Event parameter value must be specified with a numeric type. value: five"}}},
      {"digit in a currency code", [&](auto* f) { return V::isValidCurrencyCode(&usd1, f); },
       kGWLValidatorFailureNotCurrencyCode,
       {{3, 13012, "Event parameter value must contain a 3-letter ISO_4217 currency code. value: US1"}}},
      {"array on a custom event", [](auto* f) { return V::isValidArrayParamForEvent("tap", "items", 1, false, f); },
       kGWLValidatorFailureArrayOnNonEcommerceEvent,
       {{0, 13013, "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name: tap"}}},
      {"array not named items",
       [](auto* f) { return V::isValidArrayParamForEvent("purchase", "goods", 1, false, f); },
       kGWLValidatorFailureArrayNameNotItems,
       {{0, 13013,
         "Event parameter name is an invalid ecommerce items. The name of array parameters for ecommerce should be "
         "\"items\". Invalid parameter name: goods"}}},
      {"201 items", [](auto* f) { return V::isValidArrayParamForEvent("purchase", "items", 201, false, f); },
       kGWLValidatorFailureTooManyArrayItems,
       {{0, 13013,
         "Array parameter has too many items. The maximum number of supported items is 200. Invalid array size: "
         "201"}}},
      {"nested array", [](auto* f) { return V::isValidArrayParamForEvent("purchase", "items", 1, true, f); },
       kGWLValidatorFailureNestedArray, {{0, 13013, "Nested array parameters are not allowed. Name: items"}}},
      {"array element that is no dictionary",
       [](auto* f) { return V::isValidArrayParamItem(platform::Object("x"), f); },
       kGWLValidatorFailureArrayItemNotDictionary, {{0, 13014, "Array param must be a dictionary. Parameters: \"x\""}}},
  };
  for (const Row& row : rows) {
    GWLValidatorFailureCode failure = kGWLValidatorFailureNone;
    EXPECT_FALSE(row.check(&failure)) << row.what;
    EXPECT_EQ(failure, row.failure) << row.what;
    EXPECT_EQ(reports(), row.reports) << row.what;
    // The report does not depend on whether a failure code is asked for.
    EXPECT_FALSE(row.check(nullptr)) << row.what;
    EXPECT_EQ(reports(), row.reports) << row.what;
  }
}

TEST_F(DataTypeValidatorTest, ValidInputWritesZeroAndLogsNothing) {
  const GWLValue empty = text("");
  const GWLValue dollars = text("usd");
  const GWLValue accented = text("\xC3\x80\xC3\x89\xC3\x8E");  // ÀÉÎ
  const GWLValue real = GWLValue::initWithDouble(2.5);
  const std::function<bool(GWLValidatorFailureCode*)> checks[] = {
      [](auto* f) { return V::isValidPublicEventName(repeat("a", 40), f); },
      // 40 letters outside the Basic Multilingual Plane: 80 UTF-16 units, 40 code points.
      [](auto* f) { return V::isValidPublicEventName(repeat("\xF0\x90\x90\x80", 40), f); },
      [](auto* f) { return V::isValidPublicEventName("screen_view", f); },
      [](auto* f) { return V::isValidPublicEventName("in_app_purchase", f); },
      [](auto* f) { return V::isValidPublicEventName("\xC3\xA9t\xC3\xA9", f); },       // été
      [](auto* f) { return V::isValidPublicEventName("\xE4\xBA\x8B\xE4\xBB\xB6", f); },  // 事件
      [](auto* f) { return V::isValidInternalEventName("_x\xD9\xA3", f); },
      [](auto* f) { return V::isValidInternalEventName("1st", f); },
      [](auto* f) { return V::isValidForwardedEventOrigin("app+kxw", f); },
      [&](auto* f) { return V::isValidPublicEventParameterValue(&empty, kDefaultLimits, f); },
      [&](auto* f) { return V::isValidCurrencyCode(&dollars, f); },
      [&](auto* f) { return V::isValidCurrencyCode(&accented, f); },
      [&](auto* f) { return V::isValidNumericValue(&real, f); },
      [](auto* f) { return V::isValidArrayParamForEvent("purchase", "items", 200, false, f); },
  };
  int index = 0;
  for (const auto& check : checks) {
    GWLValidatorFailureCode failure = kGWLValidatorFailureTooLong;
    bool valid = check(&failure);
    EXPECT_TRUE(valid) << "check " << index;
    EXPECT_EQ(failure, kGWLValidatorFailureNone) << "check " << index;
    EXPECT_TRUE(reports().empty()) << "check " << index;
    ++index;
  }
}

TEST_F(DataTypeValidatorTest, CombiningMarksAndSymbolsAreNotNameCharacters) {
  EXPECT_FALSE(V::isValidInternalEventName("e\xCC\x81"));        // e + combining acute accent
  EXPECT_FALSE(V::isValidInternalEventName("a\xE2\x82\xAC"));    // euro sign
  EXPECT_FALSE(V::isValidInternalEventName("\xE2\x85\xA0"));     // Roman numeral one (Nl, not Nd)
  EXPECT_FALSE(V::isValidPublicEventParameterName("\xD9\xA3x"));  // a decimal digit (Arabic-Indic three) first
  EXPECT_FALSE(V::isValidPublicEventName("_tap"));
  EXPECT_TRUE(V::isValidInternalEventName("_tap"));
}

TEST_F(DataTypeValidatorTest, InternalUserPropertyValueLimitsDependOnTheName) {
  struct Row {
    const char* name;
    size_t accepted;
  };
  const Row rows[] = {{"_id", 256}, {"_hbraid", 256}, {"_psmvalue", 512}, {"_psmvalue_vrts", 512}, {"_fot", 36}};
  for (const Row& row : rows) {
    GWLValue fits = text(repeat("x", row.accepted));
    GWLValue over = text(repeat("x", row.accepted + 1));
    EXPECT_TRUE(V::isValidInternalUserAttributeValue(&fits, row.name)) << row.name;
    GWLValidatorFailureCode failure = kGWLValidatorFailureNone;
    EXPECT_FALSE(V::isValidInternalUserAttributeValue(&over, row.name, &failure)) << row.name;
    EXPECT_EQ(failure, kGWLValidatorFailureTooLong) << row.name;
  }
}

TEST_F(DataTypeValidatorTest, CurrencyCodesAreThreeLettersOfAnyScript) {
  for (const char* code : {"USD", "usd", "\xC3\x80\xC3\x89\xC3\x8E"}) {
    GWLValue value = text(code);
    EXPECT_TRUE(V::isValidCurrencyCode(&value)) << code;
  }
  const GWLValue refused[] = {text("US1"), text("USDX"), text("US"), GWLValue::initWithInt64(840)};
  for (const GWLValue& value : refused) {
    GWLValidatorFailureCode failure = kGWLValidatorFailureNone;
    EXPECT_FALSE(V::isValidCurrencyCode(&value, &failure)) << value.description();
    EXPECT_EQ(failure, kGWLValidatorFailureNotCurrencyCode) << value.description();
  }
}

TEST_F(DataTypeValidatorTest, ParameterValueLimitFollowsTheSettingsInForce) {
  const GWLValue long100 = text(repeat("x", 101));
  EXPECT_TRUE(V::isValidPublicEventParameterValue(&long100, kDefaultLimits));
  const GWLValueLimits limits = useSettings({{kGWLSettingMaxPublicEventParameterValueLength, "100"}});
  EXPECT_FALSE(V::isValidPublicEventParameterValue(&long100, limits));
  EXPECT_FALSE(V::isValidScreenParameterValue(*long100.stringValue(), limits));
  // The internal limit never drops below 256.
  EXPECT_TRUE(V::isValidInternalEventParameterValue(&long100, limits));
}

}  // namespace
