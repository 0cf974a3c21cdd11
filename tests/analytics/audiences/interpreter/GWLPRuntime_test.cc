// Scopes, the collector, require and the platform module, native value
// conversions.
#include "analytics/audiences/interpreter/GWLPRuntime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "InterpreterTestSupport.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"

using namespace interpreter_test;

namespace {

TEST(GWLPScopeTest, AssignmentFindsTheDeclaringScope) {
  RegisterTestCommands();
  GWLPRuntime runtime;
  platform::Error error;
  runtime.globalScope()->addValue(Num(1), "g");
  // function set() { g = 2; } set();
  runtime.executeStatements({StmtEntity("test.function", {StrEntity("set"), StrEntity(""),
                                                          StmtEntity("test.assign", {StrEntity("g"), NumEntity(2)})}),
                             StmtEntity("set")},
                            &error);
  EXPECT_EQ(Describe(runtime.globalScope()->valueForName("g")), "2");

  // Assigning an undeclared name inside a block declares it in the block only.
  auto run = runtime.getRunScope();
  GWLPEvaluator::evaluateStatement(
      Stmt("test.block", {Stmt("test.assign", {Str("fresh"), Num(3)}),
                          Stmt("test.declare", {Str("seen"), Stmt("test.get", {Str("fresh")})})}),
      run, &error);
  EXPECT_FALSE(run->hasName("fresh"));
  EXPECT_FALSE(runtime.globalScope()->hasName("fresh"));
  EXPECT_FALSE(GWLPFailed(error));
}

TEST(GWLPScopeTest, ConstantsAndFrozenScopesIgnoreWrites) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  scope->addImmutableValue(Num(1), "k");
  scope->setValue(Num(2), "k");
  scope->addValue(Num(3), "k");
  EXPECT_EQ(Describe(scope->valueForName("k")), "1");

  auto child = scope->createChildScope();
  scope->addValue(Num(1), "v");
  scope->makeImmutable();
  child->setValue(Num(5), "v");  // the declaring scope is frozen
  EXPECT_EQ(Describe(scope->valueForName("v")), "1");
  child->addValue(Num(6), "own");
  EXPECT_EQ(Describe(child->valueForName("own")), "6");
  EXPECT_TRUE(child->valueForName("nowhere")->isUndefined());
}

TEST(GWLPObjectManagerTest, CollectionFreesWhatNoRootReachesAndKeepsTheRest) {
  GWLPRuntime runtime;
  std::weak_ptr<GWLPMapValue> dropped;
  std::weak_ptr<GWLPArrayValue> cycle;
  std::shared_ptr<GWLPMapValue> kept;
  {
    auto run = runtime.getRunScope();
    auto temporary = GWLPObjectManager::mapValueWithScope(run);
    temporary->setValue(temporary, "self");  // a cycle: only the collector frees it
    run->addValue(temporary, "temporary");
    dropped = temporary;

    auto a = GWLPObjectManager::arrayValueWithScope(run);
    auto b = GWLPObjectManager::arrayValueWithScope(run);
    a->appendElements({b});
    b->appendElements({a});
    cycle = a;

    kept = GWLPObjectManager::mapValueWithScope(run);
    kept->setValue(Str("v"), "p");
    runtime.globalScope()->addValue(kept, "kept");
  }
  ASSERT_FALSE(dropped.expired());
  ASSERT_FALSE(cycle.expired());
  runtime.collectGarbage();
  EXPECT_TRUE(dropped.expired());
  EXPECT_TRUE(cycle.expired());
  EXPECT_EQ(Describe(kept->valueForProperty("p")), "\"v\"");
  // Marks are cleared: a second collection keeps the same values.
  runtime.collectGarbage();
  EXPECT_EQ(Describe(kept->valueForProperty("p")), "\"v\"");
  EXPECT_EQ(runtime.objectManager()->trackedObjects().size(), 2u);  // "require" and kept
}

TEST(GWLPObjectManagerTest, ClosuresTwoLevelsDeepKeepWhatTheyReach) {
  RegisterTestCommands();
  GWLPRuntime runtime;
  platform::Error error;
  // function outer() { var o = {}; function middle() { function inner() { return o; } return inner; }
  //                    return middle(); }
  // var keep = outer();
  runtime.executeStatements(
      {StmtEntity(
           "test.function",
           {StrEntity("outer"), StrEntity(""), StmtEntity("test.declare", {StrEntity("o"), StmtEntity("test.object")}),
            StmtEntity(
                "test.function",
                {StrEntity("middle"), StrEntity(""),
                 StmtEntity("test.function", {StrEntity("inner"), StrEntity(""),
                                              StmtEntity("test.return", {StmtEntity("test.get", {StrEntity("o")})})}),
                 StmtEntity("test.return", {StmtEntity("test.get", {StrEntity("inner")})})}),
            StmtEntity("test.return", {StmtEntity("middle")})}),
       StmtEntity("test.declare", {StrEntity("keep"), StmtEntity("outer")})},
      &error);
  ASSERT_FALSE(GWLPFailed(error)) << error.toString();
  auto inner = std::dynamic_pointer_cast<GWLPFunctionValue>(runtime.globalScope()->valueForName("keep"));
  ASSERT_TRUE(inner);
  auto object = std::dynamic_pointer_cast<GWLPMapValue>(inner->invokeWithArguments({}, runtime.getRunScope()));
  ASSERT_TRUE(object);
  object->setValue(Num(1), "mark");
  object.reset();

  runtime.collectGarbage();
  auto again = std::dynamic_pointer_cast<GWLPMapValue>(inner->invokeWithArguments({}, runtime.getRunScope()));
  ASSERT_TRUE(again);
  EXPECT_EQ(Describe(again->valueForProperty("mark")), "1");
}

TEST(GWLPObjectManagerTest, RootsAddedByTheOwnerKeepTheirValues) {
  struct Registry : GWLPMarkable {
    GWLPValueRef held;
    void markInto(GWLPMarkStack& stack) override { stack.push(held.get()); }
  };
  GWLPRuntime runtime;
  auto registry = std::make_shared<Registry>();
  runtime.addGarbageCollectionRoot(registry);
  auto map = GWLPObjectManager::mapValueWithScope(runtime.getRunScope());
  map->setValue(Num(1), "x");
  registry->held = map;
  runtime.collectGarbage();
  EXPECT_TRUE(map->hasProperty("x"));

  registry.reset();  // a root that is gone marks nothing
  runtime.collectGarbage();
  EXPECT_FALSE(map->hasProperty("x"));
}

TEST(GWLPObjectManagerTest, DeeplyNestedValuesMarkAndReleaseWithoutRecursion) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  std::weak_ptr<GWLPArrayValue> outermost;
  {
    GWLPValueRef nested = Num(0);
    for (int i = 0; i < 200000; ++i) {
      auto array = GWLPObjectManager::arrayValueWithScope(scope);
      array->appendElements({nested});
      nested = array;
    }
    runtime.globalScope()->addValue(nested, "deep");
    outermost = std::static_pointer_cast<GWLPArrayValue>(nested);
  }
  runtime.collectGarbage();
  ASSERT_FALSE(outermost.expired());
  // Walks that recurse stop at the value-depth bound instead.
  auto deep = outermost.lock();
  platform::Error joinError;
  EXPECT_EQ(deep->stringValueOrError(&joinError), "");
  EXPECT_EQ(joinError, GWLPRuntimeError(kGWLPErrorResourceLimit));
  platform::Error nativeError;
  GWLPRuntimeEntityConverter::objectFromRuntimeValue(*deep, &nativeError);
  EXPECT_EQ(nativeError, GWLPRuntimeError(kGWLPErrorResourceLimit));
  EXPECT_FALSE(deep->isEqualToRuntimeValue(*static_cast<GWLPArrayValue&>(*deep).elements()[0]));
  deep.reset();
  runtime.globalScope()->addValue(Undef(), "deep");
  EXPECT_TRUE(outermost.expired());
}

TEST(GWLPRuntimeTest, TeardownFreesCyclesAmongLiveValues) {
  RegisterTestCommands();
  std::weak_ptr<GWLPRuntimeValue> function;
  {
    GWLPRuntime runtime;
    platform::Error error;
    // A global function refers to the global scope, which refers to it.
    runtime.executeStatements({StmtEntity("test.function", {StrEntity("f"), StrEntity("")})}, &error);
    function = runtime.globalScope()->valueForName("f");
    ASSERT_FALSE(function.expired());
  }
  EXPECT_TRUE(function.expired());
}

TEST(GWLPRequireTest, ModulesAreCreatedOncePerRuntime) {
  RegisterTestCommands();
  GWLPRuntime runtime;
  int made = 0;
  runtime.setModuleCreator(
      [&made]() -> GWLPValueRef {
        ++made;
        return std::make_shared<GWLPFunctionValue>("counter");
      },
      "test.counter");
  runtime.setModuleCreator([]() -> GWLPValueRef { return nullptr; }, "test.none");
  auto scope = runtime.getRunScope();
  auto require = std::static_pointer_cast<GWLPFunctionValue>(runtime.globalScope()->valueForName("require"));

  platform::Error error;
  GWLPValueRef first = require->invokeWithArguments({Str("test.counter")}, scope, &error);
  GWLPValueRef second = require->invokeWithArguments({Str("test.counter")}, scope, &error);
  EXPECT_EQ(first, second);
  EXPECT_EQ(made, 1);
  EXPECT_TRUE(require->invokeWithArguments({Str("unknown")}, scope, &error)->isUndefined());
  EXPECT_TRUE(require->invokeWithArguments({Str("unknown")}, scope, &error)->isUndefined());
  EXPECT_FALSE(GWLPFailed(error));

  struct Case {
    GWLPValueList arguments;
    int64_t code;
  } failures[] = {
      {{}, kGWLPErrorArgumentCount},
      {{Str("a"), Str("b")}, kGWLPErrorArgumentCount},
      {{Str("test.none")}, kGWLPErrorModuleNotCreated},
      {{Stmt("test.break")}, kGWLPErrorNoStringValue},
  };
  for (const auto& c : failures) {
    platform::Error failure;
    EXPECT_TRUE(require->invokeWithArguments(c.arguments, scope, &failure)->isUndefined());
    EXPECT_EQ(failure, GWLPRuntimeError(c.code));
  }
}

TEST(GWLPRequireTest, PlatformModuleAnswersItsVersionAndSurvivesCollection) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  platform::Error error;
  GWLPValueRef module = GWLPEvaluator::evaluateStatement(Stmt("require", {Str("internal.platform")}), scope, &error);
  ASSERT_TRUE(module->isFunction());
  module->applyWithName("anything", {}, scope, &error);
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorNoSuchMethod));
  error = {};
  EXPECT_EQ(Describe(module->applyWithName("getVersion", {}, scope, &error)), "0");
  EXPECT_TRUE(std::static_pointer_cast<GWLPFunctionValue>(module)->invokeWithArguments({Num(1)}, scope)->isUndefined());

  // The module lives only in require's cache; collection must not empty it.
  std::static_pointer_cast<GWLPFunctionValue>(module)->setValue(Str("kept"), "note");
  module.reset();
  runtime.collectGarbage();
  GWLPValueRef cached = GWLPEvaluator::evaluateStatement(Stmt("require", {Str("internal.platform")}), scope, &error);
  EXPECT_EQ(Describe(cached->applyWithName("getVersion", {}, scope, &error)), "0");
  EXPECT_EQ(Describe(std::static_pointer_cast<GWLPFunctionValue>(cached)->valueForProperty("note")), "\"kept\"");
  EXPECT_FALSE(GWLPFailed(error));
}

TEST(GWLPRuntimeEntityConverterTest, NativeToScriptValues) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  platform::Error error;
  platform::Dictionary input{{"a", 1}, {"b", true}, {"c", platform::Array{1, "x"}}, {"d", nullptr}, {"e", 2.5}};
  GWLPValueRef value = GWLPRuntimeEntityConverter::runtimeValueFromNSObject(input, scope, &error);
  ASSERT_TRUE(value->isMap());
  auto& map = static_cast<GWLPMapValue&>(*value);
  EXPECT_EQ(Describe(map.valueForProperty("a")), "1");
  EXPECT_EQ(map.valueForProperty("b"), Bool(true));
  EXPECT_EQ(Describe(map.valueForProperty("c")), "[1, \"x\"]");
  EXPECT_TRUE(map.valueForProperty("d")->isNull());
  EXPECT_EQ(Describe(map.valueForProperty("e")), "2.5");
  EXPECT_FALSE(GWLPFailed(error));
  // Both are tracked by the run's collector.
  EXPECT_EQ(runtime.objectManager()->trackedObjects().size(), 3u);  // require, map, array

  for (const platform::Object& unsupported :
       {platform::Object(platform::Date{1}), platform::Object(platform::Bytes{1, 2}),
        platform::Object(platform::Dictionary{{"deep", platform::Array{platform::Bytes{}}}})}) {
    platform::Error failure;
    EXPECT_TRUE(GWLPRuntimeEntityConverter::runtimeValueFromNSObject(unsupported, scope, &failure)->isUndefined());
    EXPECT_EQ(failure, GWLPRuntimeError(kGWLPErrorUnsupportedNativeValue));
  }
}

TEST(GWLPRuntimeEntityConverterTest, ScriptToNativeValues) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  auto map = GWLPObjectManager::mapValueWithScope(scope);
  map->setValue(Undef(), "a");
  map->setValue(Null(), "b");
  map->setValue(Str("12"), "c");
  auto array =
      GWLPObjectManager::arrayValueWithArray({Num(1), GWLPArrayValue::emptyValue(), Null(), Bool(true)}, scope);
  map->setValue(array, "d");
  platform::Error error;
  platform::Dictionary dictionary = GWLPRuntimeEntityConverter::dictionaryFromMapValue(*map, &error);
  EXPECT_EQ(dictionary, (platform::Dictionary{{"a", ""}, {"c", 12.0}, {"d", platform::Array{1.0, "", nullptr, 1.0}}}));
  EXPECT_FALSE(GWLPFailed(error));

  struct Case {
    GWLPValueRef value;
    platform::Object expected;
  } cases[] = {
      {Str("12"), 12.0},       {Str(" 1e3 "), 1000.0},
      {Str("-4.5"), -4.5},     {Str("0"), 0.0},
      {Str("0.5"), 0.5},       {Str("007"), "007"},
      {Str("-01"), "-01"},     {Str(""), ""},
      {Str("   "), "   "},     {Str("Infinity"), "Infinity"},
      {Str("1e400"), "1e400"}, {Str("NaN"), "NaN"},
      {Str("abc"), "abc"},     {Num(3), 3.0},
      {Bool(false), 0.0},      {Undef(), ""},
      {Null(), nullptr},       {GWLPObjectManager::functionValueWithFunctionName("f", {}, {}, scope), "f"},
  };
  for (const auto& c : cases) {
    platform::Error e;
    EXPECT_EQ(GWLPRuntimeEntityConverter::objectFromRuntimeValue(*c.value, &e), c.expected) << Describe(c.value);
    EXPECT_FALSE(GWLPFailed(e));
  }

  platform::Error statementError;
  GWLPRuntimeEntityConverter::objectFromRuntimeValue(*Stmt("x"), &statementError);
  EXPECT_EQ(statementError, GWLPRuntimeError(kGWLPErrorNoNumberValue));
}

TEST(GWLPRuntimeEntityConverterTest, CyclicValuesFailTheirNativeConversion) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  auto map = GWLPObjectManager::mapValueWithScope(scope);
  auto array = GWLPObjectManager::arrayValueWithScope(scope);
  map->setValue(array, "list");
  array->appendElements({Num(1), map});
  platform::Error error;
  GWLPRuntimeEntityConverter::objectFromRuntimeValue(*map, &error);
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorArgumentType));

  // The same map twice, side by side, is no cycle.
  auto shared = GWLPObjectManager::mapValueWithScope(scope);
  auto pair = GWLPObjectManager::arrayValueWithArray({shared, shared}, scope);
  platform::Error none;
  EXPECT_EQ(GWLPRuntimeEntityConverter::objectFromRuntimeValue(*pair, &none),
            platform::Object(platform::Array{platform::Dictionary{}, platform::Dictionary{}}));
  EXPECT_FALSE(GWLPFailed(none));
}

TEST(GWLPRuntimeTest, RuntimesOnSeparateThreadsShareOnlyTheReadOnlyTables) {
  RegisterTestCommands();
  auto work = [] {
    for (int round = 0; round < 20; ++round) {
      GWLPRuntime runtime;
      auto scope = runtime.getRunScope();
      auto array = GWLPObjectManager::arrayValueWithArray({Num(3), Str("b"), Undef(), Bool(true)}, scope);
      array->appendElements({array});
      platform::Error error;
      array->applyWithName("sort", {}, scope, &error);
      array->applyWithName("join", {Str("-")}, scope, &error);
      GWLPEvaluator::evaluateStatement(Stmt("require", {Str("internal.platform")}), scope, &error);
      runtime.collectGarbage();
      EXPECT_FALSE(GWLPFailed(error));
    }
  };
  std::thread first(work);
  std::thread second(work);
  first.join();
  second.join();
}

}  // namespace
