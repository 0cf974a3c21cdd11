// The script array: holes, named properties, "length", its 21 methods, and
// the bounds that keep huge or cyclic arrays from exhausting the process.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "InterpreterTestSupport.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPControlValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

using namespace interpreter_test;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const GWLPValueRef kHole = GWLPArrayValue::emptyValue();

class GWLPArrayValueTest : public ::testing::Test {
 protected:
  std::shared_ptr<GWLPArrayValue> array(GWLPValueList values) {
    return GWLPObjectManager::arrayValueWithArray(std::move(values), scope_);
  }
  // Calls `method` and describes the result, or "error N".
  std::string call(const GWLPValueRef& receiver, const std::string& method, GWLPValueList arguments = {}) {
    platform::Error error;
    GWLPValueRef result = receiver->applyWithName(method, arguments, scope_, &error);
    if (GWLPFailed(error)) return "error " + std::to_string(error.code);
    return Describe(result);
  }
  std::shared_ptr<GWLPFunctionValue> fn(NativeBody body) { return MakeFunction(std::move(body), "cb"); }

  GWLPRuntime runtime_;
  GWLPScopeRef scope_ = runtime_.getRunScope();
};

TEST_F(GWLPArrayValueTest, IndexKeysAndNamedProperties) {
  auto a = array({});
  platform::Error error;
  ASSERT_TRUE(a->setValue(Str("v"), *Num(5), &error));
  EXPECT_EQ(Describe(a), "[<hole>, <hole>, <hole>, <hole>, <hole>, \"v\"]");
  EXPECT_EQ(Describe(a->valueForProperty(*Str("length"))), "6");
  EXPECT_EQ(Describe(a), "[<hole>, <hole>, <hole>, <hole>, <hole>, \"v\"]");
  EXPECT_EQ(a->stringValueOrError(), ",,,,,v");
  GWLPValueList names = a->allPropertyNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(Describe(names[0]), "\"5\"");

  auto b = array({Num(10), Num(11)});
  for (const GWLPValueRef& key : {Num(1), Str("1"), Str("01"), Str("1.0"), Str(" 1 ")}) {
    EXPECT_EQ(Describe(b->valueForProperty(*key)), "11") << Describe(key);
  }
  // Not indexes: named properties.
  for (const GWLPValueRef& key : {Num(-1), Num(1.5), Str("x"), Bool(true), Num(4294967295.0), Num(1e21)}) {
    ASSERT_TRUE(b->setValue(Str("named"), *key, &error));
    EXPECT_EQ(b->count(), 2u) << Describe(key);
    EXPECT_EQ(Describe(b->valueForProperty(*key)), "\"named\"") << Describe(key);
    EXPECT_TRUE(b->hasProperty(*key)) << Describe(key);
  }
  EXPECT_FALSE(b->hasProperty(*Num(2)));
  EXPECT_TRUE(b->valueForProperty(*Num(7))->isUndefined());
  b->removeValueForProperty(*Num(0));
  EXPECT_FALSE(b->hasProperty(*Num(0)));
  EXPECT_TRUE(b->valueForProperty(*Num(0))->isUndefined());
  EXPECT_EQ(b->count(), 2u);
  EXPECT_FALSE(GWLPFailed(error));
}

TEST_F(GWLPArrayValueTest, SettingLength) {
  struct Case {
    GWLPValueRef length;
    std::string result;  // "error N" or the array
  } cases[] = {
      {Num(2), "[1, 2]"},
      {Num(6), "[1, 2, 3, 4, <hole>, <hole>]"},
      {Str("3"), "[1, 2, 3]"},
      {Num(-1), "error 11"},
      {Num(1.5), "error 11"},
      {Str("x"), "error 11"},
      {Num(4294967295.0), "error 11"},
      {Num(static_cast<double>(kGWLPMaxArraySlots) + 1), "error 19"},
  };
  for (const auto& c : cases) {
    auto a = array({Num(1), Num(2), Num(3), Num(4)});
    platform::Error error;
    a->setValue(c.length, *Str("length"), &error);
    std::string result = GWLPFailed(error) ? "error " + std::to_string(error.code) : Describe(a);
    EXPECT_EQ(result, c.result) << Describe(c.length);
    if (GWLPFailed(error)) {
      EXPECT_EQ(a->count(), 4u);
    }
  }
}

TEST_F(GWLPArrayValueTest, HugeIndexesAndBudgetsFailCleanly) {
  auto a = array({});
  platform::Error error;
  EXPECT_FALSE(a->setValue(Num(1), *Num(2147483648.0), &error));
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorResourceLimit));
  EXPECT_EQ(a->count(), 0u);
  // 2^32 - 1 and above name properties and cost no slots.
  error = {};
  EXPECT_TRUE(a->setValue(Num(1), *Num(4294967295.0), &error));
  EXPECT_EQ(a->count(), 0u);

  // Doubling an array through concat ends at the slot cap, not in exhaustion.
  auto grown = array({Num(1)});
  std::string result;
  for (int i = 0; i < 40 && result.rfind("error", 0) != 0; ++i) {
    platform::Error e;
    GWLPValueRef next = grown->applyWithName("concat", {grown}, scope_, &e);
    if (GWLPFailed(e)) {
      result = "error " + std::to_string(e.code);
    } else {
      grown = std::static_pointer_cast<GWLPArrayValue>(next);
    }
  }
  EXPECT_EQ(result, "error 19");
  EXPECT_LE(grown->count(), kGWLPMaxArraySlots);

  // Many arrays below the cap together exhaust the run's heap budget.
  runtime_.resetInstructionCount();
  auto big = array({});
  ASSERT_TRUE(big->setLength(kGWLPMaxArraySlots / 2));
  std::string budget;
  for (int i = 0; i < 100 && budget.empty(); ++i) {
    platform::Error e;
    big->applyWithName("slice", {}, scope_, &e);
    if (GWLPFailed(e)) budget = "error " + std::to_string(e.code);
  }
  EXPECT_EQ(budget, "error 19");
  runtime_.resetInstructionCount();
  EXPECT_EQ(call(big, "slice", {Num(0), Num(2)}), "[<hole>, <hole>]");
}

TEST_F(GWLPArrayValueTest, NativeWorkIsBoundedPerRun) {
  runtime_.resetInstructionCount();
  GWLPValueList numbers;
  for (int i = 0; i < 1000; ++i) numbers.push_back(Num(i));
  GWLPValueList values;
  for (size_t i = 0; i < kGWLPMaxArraySlots; ++i) values.push_back(numbers[i % 1000]);
  auto big = array(std::move(values));
  // Sorting the largest array by text costs more than a run may spend.
  EXPECT_EQ(call(big, "sort"), "error 19");
  EXPECT_EQ(Describe(big->valueForProperty(*Num(1))), "1");

  // Searches add up within one run, and the next run starts afresh.
  runtime_.resetInstructionCount();
  std::string result;
  for (int i = 0; i < 100 && result.rfind("error", 0) != 0; ++i) result = call(big, "indexOf", {Str("none")});
  EXPECT_EQ(result, "error 19");
  runtime_.resetInstructionCount();
  EXPECT_EQ(call(big, "indexOf", {Num(999)}), "999");
}

TEST_F(GWLPArrayValueTest, Join) {
  auto a = array({Num(1), Null(), Undef(), kHole, Str("x")});
  struct Case {
    GWLPValueList arguments;
    std::string result;
  } cases[] = {
      {{}, "\"1,,,,x\""},
      {{Undef()}, "\"1x\""},
      {{Null()}, "\"1x\""},
      {{Str(" - ")}, "\"1 -  -  -  - x\""},
      {{Num(0)}, "\"10000x\""},
      {{Str(","), Str(",")}, "error 9"},
      {{Stmt("test.break")}, "error 5"},
  };
  RegisterTestCommands();
  for (const auto& c : cases) EXPECT_EQ(call(a, "join", c.arguments), c.result);
  EXPECT_EQ(call(array({}), "join"), "\"\"");
  EXPECT_EQ(call(a, "toString"), "\"1,,,,x\"");

  // A cyclic array joins itself once; nested arrays join with commas.
  auto cyclic = array({Num(1)});
  cyclic->appendElements({cyclic, array({Num(2), Num(3)})});
  EXPECT_EQ(call(cyclic, "join", {Str(";")}), "\"1;;2,3\"");
  EXPECT_TRUE(std::isnan(cyclic->doubleValueOrError()));
  EXPECT_EQ(array({Num(7)})->doubleValueOrError(), 7);
  EXPECT_EQ(array({})->doubleValueOrError(), 0);
}

TEST_F(GWLPArrayValueTest, IndexOfAndLastIndexOf) {
  auto a = array({Num(1), Str("1"), Undef(), kHole, Num(1), Num(kNaN)});
  struct Case {
    const char* method;
    GWLPValueList arguments;
    std::string result;
  } cases[] = {
      {"indexOf", {Num(1)}, "0"},
      {"indexOf", {Num(1), Num(1)}, "4"},
      {"indexOf", {Num(1), Num(10)}, "-1"},
      {"indexOf", {Num(1), Num(-1)}, "-1"},
      {"indexOf", {Num(1), Num(-2)}, "4"},
      {"indexOf", {Num(1), Num(-100)}, "0"},
      {"indexOf", {Num(kNaN)}, "-1"},
      {"indexOf", {Undef()}, "2"},
      {"indexOf", {}, "2"},
      {"indexOf", {Str("1")}, "1"},
      {"indexOf", {Num(1), Num(1), Num(1)}, "error 9"},
      {"lastIndexOf", {Num(1)}, "4"},
      {"lastIndexOf", {Num(1), Num(kNaN)}, "4"},
      {"lastIndexOf", {Num(1), Num(3)}, "0"},
      {"lastIndexOf", {Num(1), Num(-3)}, "0"},
      {"lastIndexOf", {Num(1), Num(-7)}, "-1"},
      {"lastIndexOf", {Num(1), Num(100)}, "4"},
      {"lastIndexOf", {Undef()}, "2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(call(a, c.method, c.arguments), c.result) << c.method << " " << c.arguments.size();
  }
  EXPECT_EQ(call(array({}), "lastIndexOf", {Num(1)}), "-1");
}

TEST_F(GWLPArrayValueTest, SliceAndSplice) {
  auto abc = [&] { return array({Str("a"), Str("b"), kHole, Str("d")}); };
  struct Case {
    const char* method;
    GWLPValueList arguments;
    std::string result;
    std::string after;  // the receiver afterwards
  } cases[] = {
      {"slice", {}, "[\"a\", \"b\", <hole>, \"d\"]", ""},
      {"slice", {Num(-2)}, "[<hole>, \"d\"]", ""},
      {"slice", {Num(1), Undef()}, "[]", ""},
      {"slice", {Num(3), Num(1)}, "[]", ""},
      {"slice", {Num(1), Num(-1)}, "[\"b\", <hole>]", ""},
      {"slice", {Num(-std::numeric_limits<double>::infinity())}, "[\"a\", \"b\", <hole>, \"d\"]", ""},
      {"splice", {}, "[]", "[\"a\", \"b\", <hole>, \"d\"]"},
      {"splice", {Num(-1)}, "[\"d\"]", "[\"a\", \"b\", <hole>]"},
      {"splice", {Num(1), Num(2)}, "[\"b\", <hole>]", "[\"a\", \"d\"]"},
      {"splice", {Num(10), Num(1), Str("x")}, "[]", "[\"a\", \"b\", <hole>, \"d\", \"x\"]"},
      {"splice", {Num(1), Num(-5)}, "[]", "[\"a\", \"b\", <hole>, \"d\"]"},
      {"splice", {Num(1), Num(1), Str("x"), Str("y")}, "[\"b\"]", "[\"a\", \"x\", \"y\", <hole>, \"d\"]"},
  };
  for (const auto& c : cases) {
    auto a = abc();
    EXPECT_EQ(call(a, c.method, c.arguments), c.result) << c.method << " " << c.arguments.size();
    if (!c.after.empty()) {
      EXPECT_EQ(Describe(a), c.after) << c.method << " " << c.arguments.size();
    }
  }
}

TEST_F(GWLPArrayValueTest, SortOrders) {
  auto a = array({Num(10), Undef(), Num(9), kHole, Num(1), Str("b")});
  EXPECT_EQ(call(a, "sort"), "[1, 10, 9, \"b\", undefined, <hole>]");

  auto numeric = fn([](const GWLPValueList& v, platform::Error*) {
    return Num(v[0]->doubleValueOrError() - v[1]->doubleValueOrError());
  });
  auto b = array({Num(10), Num(9), kHole, Undef(), Num(-1), Num(9)});
  EXPECT_EQ(call(b, "sort", {numeric}), "[-1, 9, 9, 10, undefined, <hole>]");

  auto zero = fn([](const GWLPValueList&, platform::Error*) { return Num(0); });
  EXPECT_EQ(call(array({Num(3), Num(1), Num(2)}), "sort", {zero}), "[3, 1, 2]");

  EXPECT_EQ(call(array({Num(1)}), "sort", {Num(5)}), "[1]");
  EXPECT_EQ(call(array({Num(2), Num(1)}), "sort", {Num(5)}), "error 10");
  EXPECT_EQ(call(array({Num(2), Num(1)}), "sort", {zero, zero}), "error 9");

  auto failing = fn([](const GWLPValueList&, platform::Error* error) {
    platform::setError(error, GWLPRuntimeError(kGWLPErrorArgumentType));
    return Undef();
  });
  EXPECT_EQ(call(array({Num(2), Num(1)}), "sort", {failing}), "error 10");
}

TEST_F(GWLPArrayValueTest, SortSurvivesInconsistentAndMutatingComparators) {
  std::shared_ptr<GWLPArrayValue> a = array({});
  for (int i = 0; i < 200; ++i) a->appendElements({Num(i % 17)});
  int calls = 0;
  // Random answers, and the array shrinks and grows while it is sorted.
  auto chaotic = fn([&](const GWLPValueList&, platform::Error*) {
    ++calls;
    if (calls % 7 == 0) a->setLength(3);
    if (calls % 11 == 0) a->appendElements({Str("late")});
    return Num((calls * 7919) % 3 - 1.0);
  });
  platform::Error error;
  a->applyWithName("sort", {chaotic}, scope_, &error);
  EXPECT_FALSE(GWLPFailed(error));
  EXPECT_GE(a->count(), 200u);
  EXPECT_GT(calls, 0);
}

TEST_F(GWLPArrayValueTest, CallbackWalks) {
  auto a = array({Num(1), kHole, Num(3)});
  auto isOdd = fn([](const GWLPValueList& v, platform::Error*) {
    return Bool(std::fmod(v[0]->doubleValueOrError(), 2) != 0);
  });
  auto isTwo = fn([](const GWLPValueList& v, platform::Error*) { return Bool(v[0]->doubleValueOrError() == 2); });
  auto twice = fn([](const GWLPValueList& v, platform::Error*) { return Num(v[0]->doubleValueOrError() * 2); });
  auto indexOfElement = fn([](const GWLPValueList& v, platform::Error*) { return v[1]; });
  struct Case {
    GWLPValueRef receiver;
    const char* method;
    GWLPValueList arguments;
    std::string result;
  } cases[] = {
      {a, "every", {isOdd}, "true"},
      {a, "some", {isTwo}, "false"},
      {a, "filter", {isOdd}, "[1, 3]"},
      {a, "map", {twice}, "[2, <hole>, 6]"},
      {array({Num(1), kHole}), "map", {twice}, "[2]"},
      {a, "map", {indexOfElement}, "[0, <hole>, 2]"},
      {a, "forEach", {isOdd}, "undefined"},
      {array({}), "every", {isTwo}, "true"},
      {array({}), "some", {isTwo}, "false"},
      {a, "forEach", {isOdd, isOdd}, "error 9"},
      {a, "filter", {Num(1)}, "error 10"},
      {a, "map", {}, "error 9"},
  };
  for (const auto& c : cases) EXPECT_EQ(call(c.receiver, c.method, c.arguments), c.result) << c.method;

  // A callback that empties the array ends the walk; "every" stops at false.
  int visits = 0;
  auto b = array({Num(1), Num(2), Num(3)});
  auto shrink = fn([&](const GWLPValueList&, platform::Error*) {
    ++visits;
    b->setLength(0);
    return Bool(true);
  });
  EXPECT_EQ(call(b, "forEach", {shrink}), "undefined");
  EXPECT_EQ(visits, 1);
  visits = 0;
  auto falseOnSecond = fn([&](const GWLPValueList&, platform::Error*) { return Bool(++visits < 2); });
  EXPECT_EQ(call(array({Num(1), Num(2), Num(3)}), "every", {falseOnSecond}), "false");
  EXPECT_EQ(visits, 2);
}

TEST_F(GWLPArrayValueTest, Folds) {
  auto subtract = fn([](const GWLPValueList& v, platform::Error*) {
    return Num(v[0]->doubleValueOrError() - v[1]->doubleValueOrError());
  });
  int calls = 0;
  auto counting = fn([&](const GWLPValueList& v, platform::Error*) {
    ++calls;
    return v[0];
  });
  struct Case {
    GWLPValueRef receiver;
    const char* method;
    GWLPValueList arguments;
    std::string result;
  } cases[] = {
      {array({Num(1), Num(2), Num(3)}), "reduceRight", {subtract}, "0"},  // (3 - 2) - 1
      {array({Num(1), Num(2), Num(3)}), "reduce", {subtract}, "-4"},
      {array({Num(1), kHole, Num(3)}), "reduce", {subtract, Num(10)}, "6"},
      {array({kHole, kHole}), "reduce", {subtract}, "error 8"},
      {array({}), "reduce", {subtract}, "error 8"},
      {array({}), "reduce", {counting, Str("init")}, "\"init\""},
      {array({Num(1)}), "reduce", {Num(1)}, "error 10"},
      {array({Num(1)}), "reduce", {subtract, GWLPControlValue::breakValue()}, "error 10"},
      {array({Num(1)}), "reduceRight", {}, "error 9"},
  };
  for (const auto& c : cases) EXPECT_EQ(call(c.receiver, c.method, c.arguments), c.result) << c.method;
  EXPECT_EQ(calls, 0);
}

TEST_F(GWLPArrayValueTest, EndsAndOrder) {
  auto a = array({kHole, Num(2), kHole});
  EXPECT_EQ(call(a, "pop"), "undefined");
  EXPECT_EQ(Describe(a), "[<hole>, 2]");
  EXPECT_EQ(call(a, "shift"), "undefined");
  EXPECT_EQ(call(a, "push"), "1");
  EXPECT_EQ(call(a, "push", {Num(3), Num(4)}), "3");
  EXPECT_EQ(call(a, "unshift", {Num(0), Num(1)}), "5");
  EXPECT_EQ(call(a, "reverse"), "[4, 3, 2, 1, 0]");
  EXPECT_EQ(call(a, "pop", {Num(1)}), "error 9");
  EXPECT_EQ(call(array({}), "pop"), "undefined");
  EXPECT_EQ(call(array({}), "shift"), "undefined");
  EXPECT_EQ(call(a, "concat", {Num(9), array({kHole, Num(8)})}), "[4, 3, 2, 1, 0, 9, <hole>, 8]");
  EXPECT_EQ(call(a, "concat", {GWLPControlValue::breakValue()}), "error 10");
  EXPECT_EQ(Describe(a), "[4, 3, 2, 1, 0]");
  EXPECT_EQ(call(a, "hasOwnProperty", {Str("length")}), "true");
  EXPECT_EQ(call(a, "hasOwnProperty", {Num(4)}), "true");
  EXPECT_EQ(call(a, "hasOwnProperty", {Num(5)}), "false");
  EXPECT_EQ(call(a, "flat"), "error 17");
}

TEST_F(GWLPArrayValueTest, NamedPropertiesShadowMethods) {
  auto a = array({Num(1)});
  a->setValue(fn([](const GWLPValueList&, platform::Error*) { return Str("mine"); }), *Str("push"));
  a->setValue(Num(3), *Str("pop"));
  EXPECT_EQ(call(a, "push", {Num(2)}), "\"mine\"");
  EXPECT_EQ(call(a, "pop"), "error 17");
  EXPECT_EQ(a->count(), 1u);
}

TEST_F(GWLPArrayValueTest, EqualityIsStructuralOnlyUnderIsEqual) {
  auto x = array({Num(1), kHole});
  auto y = array({Num(1), kHole});
  EXPECT_TRUE(x->isEqualToRuntimeValue(*y));
  EXPECT_FALSE(GWLPStrictEquals(*x, *y));
  EXPECT_FALSE(x->isEqualToRuntimeValue(*array({Num(1), Undef()})));
  EXPECT_FALSE(x->isEqualToRuntimeValue(*array({Num(1)})));
}

TEST_F(GWLPArrayValueTest, SweptArraysAreEmpty) {
  auto a = array({Num(1)});
  a->setValue(Num(2), *Str("name"));
  runtime_.collectGarbage();  // held only here, not by any scope
  EXPECT_EQ(a->count(), 0u);
  EXPECT_FALSE(a->hasProperty(*Str("name")));
}

}  // namespace
