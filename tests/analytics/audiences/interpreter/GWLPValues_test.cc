// Script values: conversions, equality, comparison, property maps, method
// lookup and function invocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "InterpreterTestSupport.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPControlValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

using namespace interpreter_test;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(GWLPNumberValueTest, NumberToText) {
  struct Case {
    double number;
    const char* text;
  } cases[] = {
      {0.1 + 0.2, "0.30000000000000004"},
      {100, "100"},
      {1e20, "100000000000000000000"},
      {1.5e20, "150000000000000000000"},
      {1e21, "1e+21"},
      {1.2345e25, "1.2345e+25"},
      {1e-7, "1e-7"},
      {-1e-7, "-1e-7"},
      {1.5e-7, "1.5e-7"},
      {0.000001, "0.000001"},
      {2.5, "2.5"},
      {-3, "-3"},
      {0.0, "0"},
      {-0.0, "0"},
      {kNaN, "NaN"},
      {kInf, "Infinity"},
      {-kInf, "-Infinity"},
      {123456789012345680000.0, "123456789012345680000"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GWLPNumberValue::stringFromDouble(c.number), c.text) << c.text;
  }
}

TEST(GWLPStringValueTest, TextToNumber) {
  struct Case {
    const char* text;
    double number;  // NaN where NaN is expected
  } cases[] = {
      {"", 0},           {"   ", 0},       {"\n", 0},         {"\xC2\xA0 12 \xE3\x80\x80", 12},
      {" 12 ", 12},      {"1e3", 1000},    {"+5", 5},         {"-2.5", -2.5},
      {".5", 0.5},       {"5.", 5},        {"NaN", kNaN},     {"Infinity", kInf},
      {"-Infinity", -kInf}, {"infinity", kNaN}, {"+Infinity", kNaN}, {"5 5", kNaN},
      {"12px", kNaN},    {"0x10", kNaN},   {"1e", kNaN},      {".", kNaN},
      {"1e400", kInf},   {"-1e400", -kInf}, {"1e-400", 0},
  };
  for (const auto& c : cases) {
    double number = GWLPStringValue::doubleFromString(c.text);
    if (std::isnan(c.number)) {
      EXPECT_TRUE(std::isnan(number)) << "'" << c.text << "'";
    } else {
      EXPECT_EQ(number, c.number) << "'" << c.text << "'";
    }
  }
}

TEST(GWLPRuntimeValueTest, ConversionsOfEachClass) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  auto map = GWLPObjectManager::mapValueWithScope(scope);
  auto function = GWLPObjectManager::functionValueWithFunctionName("f", {}, {}, scope);
  struct Case {
    GWLPValueRef value;
    const char* text;
    double number;
    bool truth;
  } cases[] = {
      {Undef(), "undefined", kNaN, false},
      {Null(), "null", 0, false},
      {Bool(true), "true", 1, true},
      {Bool(false), "false", 0, false},
      {Num(0), "0", 0, false},
      {Num(kNaN), "NaN", kNaN, false},
      {Num(-2), "-2", -2, true},
      {Str(""), "", 0, false},
      {Str("false"), "false", kNaN, true},
      {map, "[object Object]", kNaN, true},
      {function, "f", kNaN, true},
  };
  for (const auto& c : cases) {
    platform::Error error;
    EXPECT_EQ(c.value->stringValueOrError(&error), c.text);
    double number = c.value->doubleValueOrError(&error);
    EXPECT_TRUE(std::isnan(c.number) ? std::isnan(number) : number == c.number) << c.text;
    EXPECT_EQ(c.value->booleanValueOrError(&error), c.truth) << c.text;
    EXPECT_FALSE(GWLPFailed(error)) << c.text;
  }
}

TEST(GWLPRuntimeValueTest, StatementsControlValuesAndHolesHaveNoPrimitiveValue) {
  for (const GWLPValueRef& value : {Stmt("0"), GWLPControlValue::breakValue(), GWLPArrayValue::emptyValue()}) {
    platform::Error error;
    EXPECT_EQ(value->stringValueOrError(&error), "");
    EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorNoStringValue));
    EXPECT_TRUE(std::isnan(value->doubleValueOrError(&error)));
    EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorNoNumberValue));
    EXPECT_FALSE(value->booleanValueOrError(&error));
    EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorNoBooleanValue));
  }
}

TEST(GWLPValueOperationsTest, IntegerConversions) {
  struct Case {
    double value;
    int32_t int32;
    uint32_t uint32;
    double integer;
    int64_t int64;
  } cases[] = {
      {4294967296.0 + 5, 5, 5, 4294967301.0, 4294967301},
      {-1, -1, 4294967295u, -1, -1},
      {3000000000.0, static_cast<int32_t>(3000000000LL - 4294967296LL), 3000000000u, 3000000000.0, 3000000000},
      {2147483648.0, std::numeric_limits<int32_t>::min(), 2147483648u, 2147483648.0, 2147483648},
      {2.9, 2, 2, 2, 2},
      {-2.9, -2, 4294967294u, -2, -2},
      {kNaN, 0, 0, 0, 0},
      {kInf, 0, 0, kInf, std::numeric_limits<int64_t>::max()},
      {-kInf, 0, 0, -kInf, std::numeric_limits<int64_t>::min()},
      {1e300, 0, 0, 1e300, std::numeric_limits<int64_t>::max()},
      {-18446744073709551616.0, 0, 0, -18446744073709551616.0, std::numeric_limits<int64_t>::min()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GWLPToInt32(c.value), c.int32) << c.value;
    EXPECT_EQ(GWLPToUint32(c.value), c.uint32) << c.value;
    EXPECT_EQ(GWLPToInteger(c.value), c.integer) << c.value;
    EXPECT_EQ(GWLPToInt64(c.value), c.int64) << c.value;
  }
  EXPECT_EQ(GWLPToInt32(1e300), 0);  // huge multiples of 2^32 wrap to 0
}

TEST(GWLPValueOperationsTest, StructuralAndStrictEquality) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  auto map = [&](GWLPValueRef a) {
    auto m = GWLPObjectManager::mapValueWithScope(scope);
    m->setValue(a, "a");
    return m;
  };
  auto f1 = GWLPObjectManager::functionValueWithFunctionName("f", {}, {}, scope);
  auto f2 = GWLPObjectManager::functionValueWithFunctionName("f", {"x"}, {}, scope);
  auto anonymous1 = GWLPObjectManager::functionValueWithFunctionName("", {}, {}, scope);
  auto anonymous2 = GWLPObjectManager::functionValueWithFunctionName("", {}, {}, scope);
  struct Case {
    const char* name;
    GWLPValueRef x, y;
    bool structural, strict;
  } cases[] = {
      {"NaN and NaN", Num(kNaN), Num(kNaN), true, false},
      {"1 and 1", Num(1), Num(1), true, true},
      {"1 and true", Num(1), Bool(true), false, false},
      {"new true and shared true", std::make_shared<GWLPBooleanValue>(true), Bool(true), true, true},
      {"texts", Str("a"), Str("a"), true, true},
      {"undefined and null", Undef(), Null(), false, false},
      {"equal maps", map(Num(1)), map(Num(1)), true, false},
      {"different maps", map(Num(1)), map(Num(2)), false, false},
      {"named functions", f1, f2, true, false},
      {"anonymous functions", anonymous1, anonymous2, false, false},
      {"statements", Stmt("0", {Num(1)}), Stmt("0", {Num(1)}), true, false},
      {"control values", GWLPControlValue::returnValueWithData(Num(1)),
       GWLPControlValue::returnValueWithData(Num(1)), true, false},
      {"hole and undefined", GWLPArrayValue::emptyValue(), Undef(), false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.x->isEqualToRuntimeValue(*c.y), c.structural) << c.name;
    EXPECT_EQ(GWLPStrictEquals(*c.x, *c.y), c.strict) << c.name;
  }
  EXPECT_TRUE(anonymous1->isEqualToRuntimeValue(*anonymous1));
}

class EventLikeMap : public GWLPMapValue {};

TEST(GWLPValueOperationsTest, StrictEqualsTellsSubclassesApart) {
  auto plain = std::make_shared<GWLPMapValue>();
  auto sub = std::make_shared<EventLikeMap>();
  EXPECT_FALSE(GWLPStrictEquals(*plain, *sub));
  EXPECT_TRUE(plain->isEqualToRuntimeValue(*sub));
}

TEST(GWLPValueOperationsTest, CyclicValuesCompareWithoutEnd) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  auto a = GWLPObjectManager::mapValueWithScope(scope);
  auto b = GWLPObjectManager::mapValueWithScope(scope);
  a->setValue(a, "self");
  b->setValue(b, "self");
  EXPECT_TRUE(a->isEqualToRuntimeValue(*b));
  b->setValue(Num(1), "other");
  EXPECT_FALSE(a->isEqualToRuntimeValue(*b));

  auto x = GWLPObjectManager::arrayValueWithScope(scope);
  auto y = GWLPObjectManager::arrayValueWithScope(scope);
  x->appendElements({x, Num(1)});
  y->appendElements({y, Num(1)});
  EXPECT_TRUE(x->isEqualToRuntimeValue(*y));
}

TEST(GWLPValueOperationsTest, CompareValues) {
  struct Case {
    const char* name;
    GWLPValueRef x, y;
    int expected;
  } cases[] = {
      {"texts 10 and 9", Str("10"), Str("9"), -1},
      {"numbers 10 and 9", Num(10), Num(9), 1},
      {"number and NaN", Num(1), Num(kNaN), 1},
      {"NaN and number", Num(kNaN), Num(1), 1},
      {"equal numbers", Num(2), Num(2), 0},
      {"text and number", Str("3"), Num(10), -1},
      {"canonically equivalent", Str("\xC3\xA9"), Str("e\xCC\x81"), 0},
      {"by code unit", Str("Z"), Str("a"), -1},
      {"supplementary after BMP private use", Str("\xF0\x9F\x98\x80"), Str("\xEE\x80\x80"), -1},
  };
  for (const auto& c : cases) EXPECT_EQ(GWLPCompareValues(*c.x, *c.y), c.expected) << c.name;

  platform::Error error;
  EXPECT_EQ(GWLPCompareValues(*Stmt("0"), *Num(1), &error), 1);
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorNoNumberValue));
}

TEST(GWLPPropertyMapTest, ImmutableNamesAndFrozenMapsIgnoreWrites) {
  GWLPPropertyMap map;
  map.setImmutableValue(Num(1), "c");
  map.setValue(Num(2), "c");
  map.removeValueForName("c");
  EXPECT_EQ(Describe(map.valueForName("c")), "1");
  map.setValue(Num(3), "v");
  map.makeImmutable();
  map.setValue(Num(4), "v");
  map.setValue(Num(5), "w");
  EXPECT_EQ(Describe(map.valueForName("v")), "3");
  EXPECT_FALSE(map.hasName("w"));
  EXPECT_TRUE(map.valueForName("missing")->isUndefined());
}

// Maps keep few names differently from many: at every size the names stay
// in order, each finds its own value, constants hold and removal works.
TEST(GWLPPropertyMapTest, EverySizeKeepsOrderValuesAndConstants) {
  const std::vector<std::string> all = {"m", "b", "y", "", "a", "zz", "k", "c", "x", "d", "q", "e", "Z", "\xc3\xa9"};
  for (size_t size : {1, 2, 3, 5, 8, 9, 14}) {
    SCOPED_TRACE("size " + std::to_string(size));
    const std::vector<std::string> inserted(all.begin(), all.begin() + static_cast<ptrdiff_t>(size));
    GWLPPropertyMap map;
    std::vector<std::string> names;
    for (size_t i = 0; i < inserted.size(); ++i) {
      // Every third name is a constant.
      if (i % 3 == 0) {
        map.setImmutableValue(Num(static_cast<double>(i)), inserted[i]);
      } else {
        map.setValue(Num(static_cast<double>(i)), inserted[i]);
      }
      names.push_back(inserted[i]);
      std::sort(names.begin(), names.end());
      ASSERT_EQ(map.allNames(), names);
      for (size_t j = 0; j <= i; ++j) {
        map.setValue(Num(100), inserted[j]);
        EXPECT_EQ(Describe(map.valueForName(inserted[j])), j % 3 == 0 ? std::to_string(j) : "100") << inserted[j];
        map.setValue(Num(static_cast<double>(j)), inserted[j]);
      }
      EXPECT_FALSE(map.hasName("absent"));
    }
    for (size_t i = inserted.size(); i-- > 0;) {
      map.removeValueForName(inserted[i]);
      EXPECT_EQ(map.hasName(inserted[i]), i % 3 == 0) << inserted[i];
      if (i % 3 != 0) names.erase(std::find(names.begin(), names.end(), inserted[i]));
      ASSERT_EQ(map.allNames(), names);
      ASSERT_EQ(map.count(), names.size());
    }
    map.clear();
    EXPECT_EQ(map.count(), 0u);
    map.setValue(Num(7), "again");
    EXPECT_EQ(map.allNames(), std::vector<std::string>{"again"});
  }
}

// Names are compared a word at a time: a name that differs from another of
// the same length in any one byte, at every length up to and past the word
// sizes, is a different name.
TEST(GWLPPropertyMapTest, NamesDifferingInAnyByteAreDifferent) {
  for (size_t length = 1; length <= 20; ++length) {
    std::string name;
    for (size_t i = 0; i < length; ++i) name += static_cast<char>('a' + i);
    GWLPPropertyMap map;
    map.setValue(Num(1), name);
    EXPECT_TRUE(GWLPSameName(name, std::string(name)));
    for (size_t i = 0; i < length; ++i) {
      std::string other = name;
      other[i] = 'Z';
      EXPECT_FALSE(GWLPSameName(name, other)) << other;
      EXPECT_FALSE(map.hasName(other)) << other;
    }
    EXPECT_FALSE(GWLPSameName(name, name + "a"));
    EXPECT_TRUE(map.hasName(name));
  }
}

TEST(GWLPRuntimeValueTest, MethodLookupByReceiver) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  auto map = GWLPObjectManager::mapValueWithScope(scope);
  map->setValue(Num(7), "n");
  map->setValue(MakeFunction([](const GWLPValueList& values, platform::Error*) { return values.at(0); }), "echo");
  struct Case {
    const char* name;
    GWLPValueRef receiver;
    std::string method;
    GWLPValueList arguments;
    std::string result;  // empty when an error is expected
    int64_t code;
  } cases[] = {
      {"toString of 5", Num(5), "toString", {}, "\"5\"", 0},
      {"toString of true", Bool(true), "toString", {}, "\"true\"", 0},
      {"toString of null", Null(), "toString", {}, "", kGWLPErrorMethodOfNullOrUndefined},
      {"anything on undefined", Undef(), "x", {}, "", kGWLPErrorMethodOfNullOrUndefined},
      {"unknown on a number", Num(5), "toFixed", {}, "", kGWLPErrorNoSuchMethod},
      {"toString of a statement", Stmt("x"), "toString", {}, "", kGWLPErrorNoStringValue},
      {"map toString", map, "toString", {}, "\"[object Object]\"", 0},
      {"map own function", map, "echo", {Num(3)}, "3", 0},
      {"map own non-function", map, "n", {}, "", kGWLPErrorNoSuchMethod},
      {"hasOwnProperty yes", map, "hasOwnProperty", {Str("n")}, "true", 0},
      {"hasOwnProperty no", map, "hasOwnProperty", {Str("m")}, "false", 0},
      {"hasOwnProperty without argument", map, "hasOwnProperty", {}, "", kGWLPErrorArgumentCount},
      {"unknown on a map", map, "keys", {}, "", kGWLPErrorNoSuchMethod},
  };
  for (const auto& c : cases) {
    platform::Error error;
    GWLPValueRef result = c.receiver->applyWithName(c.method, c.arguments, scope, &error);
    if (c.code) {
      EXPECT_EQ(error, GWLPRuntimeError(c.code)) << c.name;
      EXPECT_TRUE(result->isUndefined()) << c.name;
    } else {
      EXPECT_FALSE(GWLPFailed(error)) << c.name << ": " << error.toString();
      EXPECT_EQ(Describe(result), c.result) << c.name;
    }
  }
}

TEST(GWLPFunctionValueTest, InvocationBindsParametersAndAnswersTheLastValueOrReturn) {
  RegisterTestCommands();
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  // function (a, b) { b; } called with one argument sees b undefined.
  auto lastIsB = GWLPObjectManager::functionValueWithFunctionName("f", {"a", "b"}, {Stmt("test.get", {Str("b")})},
                                                                  scope);
  platform::Error error;
  EXPECT_TRUE(lastIsB->invokeWithArguments({Num(1)}, scope, &error)->isUndefined());
  // A body ending in a number literal answers it; a return answers its data
  // and skips the rest; an empty body answers undefined.
  auto literal = GWLPObjectManager::functionValueWithFunctionName("g", {}, {Num(4)}, scope);
  EXPECT_EQ(Describe(literal->invokeWithArguments({}, scope, &error)), "4");
  auto returns = GWLPObjectManager::functionValueWithFunctionName(
      "h", {"a"}, {Stmt("test.return", {Stmt("test.get", {Str("a")})}), Num(9)}, scope);
  EXPECT_EQ(Describe(returns->invokeWithArguments({Str("x"), Num(2)}, scope, &error)), "\"x\"");
  auto empty = GWLPObjectManager::functionValueWithFunctionName("e", {}, {}, scope);
  EXPECT_TRUE(empty->invokeWithArguments({}, scope, &error)->isUndefined());
  // A break that reaches the end of the body is the result.
  auto breaks = GWLPObjectManager::functionValueWithFunctionName("b", {}, {Stmt("test.break")}, scope);
  EXPECT_TRUE(breaks->invokeWithArguments({}, scope, &error)->isControl());
  EXPECT_FALSE(GWLPFailed(error));
}

}  // namespace
