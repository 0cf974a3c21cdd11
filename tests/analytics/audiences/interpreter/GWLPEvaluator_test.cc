// Program conversion, command routing, statement execution and the limits
// that keep a run from hanging or overflowing the stack.
#include "analytics/audiences/interpreter/GWLPEvaluator.h"

#include <gtest/gtest.h>

#include <cmath>

#include "InterpreterTestSupport.h"
#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPBitwiseCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPCommandRegistrar.h"
#include "analytics/audiences/interpreter/GWLPComparisonCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPControlCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPControlValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPLogicalCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPLoopCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPMathCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPVariableCommandEvaluator.h"

using namespace interpreter_test;

namespace {

TEST(GWLPRuntimeEntityConverterTest, EntityKinds) {
  GWLPRuntimeEntity kindless;
  GWLPRuntimeEntity kindFive;
  kindFive.kind = 5;
  GWLPRuntimeEntity nameless;
  nameless.kind = kGWLPEntityKindStatement;
  nameless.value.push_back(NumEntity(1));
  GWLPRuntimeEntity emptyString, emptyNumber, emptyBoolean;
  emptyString.kind = kGWLPEntityKindString;
  emptyNumber.kind = kGWLPEntityKindNumber;
  emptyBoolean.kind = kGWLPEntityKindBoolean;
  GWLPRuntimeEntity stringWithNumber = StrEntity("s");
  stringWithNumber.numberValue = 3;
  GWLPRuntimeEntity badSecondArgument = StmtEntity("0", {NumEntity(1), NumEntity(2)});
  badSecondArgument.value[1].kind = 7;

  struct Case {
    const char* name;
    GWLPRuntimeEntity entity;
    std::string value;  // empty when an error is expected
    int64_t code;
  } cases[] = {
      {"kind absent", kindless, "", kGWLPErrorUnknownEntityKind},
      {"kind 5", kindFive, "", kGWLPErrorUnknownEntityKind},
      {"statement without a name", nameless, "", kGWLPErrorStatementWithoutName},
      {"second argument of kind 7", badSecondArgument, "", kGWLPErrorUnknownEntityKind},
      {"string without its text", emptyString, "\"\"", 0},
      {"number without its double", emptyNumber, "NaN", 0},
      {"boolean without its bool", emptyBoolean, "false", 0},
      {"string that also carries a number", stringWithNumber, "\"s\"", 0},
  };
  for (const auto& c : cases) {
    platform::Error error;
    GWLPValueRef value = GWLPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(c.entity, &error);
    if (c.code) {
      EXPECT_EQ(error, GWLPRuntimeError(c.code)) << c.name;
      EXPECT_TRUE(value->isUndefined()) << c.name;
    } else {
      EXPECT_FALSE(GWLPFailed(error)) << c.name;
      EXPECT_EQ(Describe(value), c.value) << c.name;
    }
  }
}

TEST(GWLPRuntimeEntityConverterTest, StatementsKeepNameAndArgumentsUnevaluated) {
  platform::Error error;
  GWLPValueRef value = GWLPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(
      StmtEntity("add", {StrEntity("a"), StmtEntity("inner", {BoolEntity(true)})}), &error);
  ASSERT_TRUE(value->isStatement());
  EXPECT_TRUE(value->isEqualToRuntimeValue(*Stmt("add", {Str("a"), Stmt("inner", {Bool(true)})})));
  EXPECT_FALSE(GWLPFailed(error));
}

TEST(GWLPRuntimeEntityConverterTest, NestingBeyondTheBoundFailsCleanly) {
  GWLPRuntimeEntity entity = NumEntity(1);
  for (int i = 0; i < kGWLPMaxEntityDepth + 5; ++i) {
    GWLPRuntimeEntity outer = StmtEntity("0");
    outer.value.push_back(std::move(entity));
    entity = std::move(outer);
  }
  platform::Error error;
  EXPECT_TRUE(GWLPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(entity, &error)->isUndefined());
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorResourceLimit));
}

TEST(GWLPCommandRegistrarTest, RoutesEveryCommandNumberToItsEvaluator) {
  auto& registrar = GWLPCommandRegistrar::sharedInstance();
  auto evaluatorOf = [&](int number) { return registrar.evaluatorForCommand(std::to_string(number)).get(); };
  struct Route {
    std::vector<int> numbers;
    bool (*is)(GWLPCommandEvaluator*);
  } routes[] = {
      {{56, 57, 58, 59, 60, 61, 62},
       [](GWLPCommandEvaluator* e) { return !!dynamic_cast<GWLPBitwiseCommandEvaluator*>(e); }},
      {{12, 18, 19, 20, 21, 23, 24, 29},
       [](GWLPCommandEvaluator* e) { return !!dynamic_cast<GWLPComparisonCommandEvaluator*>(e); }},
      {{2, 4, 5, 6, 9, 13, 22, 36, 38, 39, 46, 50, 51, 53},
       [](GWLPCommandEvaluator* e) { return !!dynamic_cast<GWLPControlCommandEvaluator*>(e); }},
      {{1, 28, 30}, [](GWLPCommandEvaluator* e) { return !!dynamic_cast<GWLPLogicalCommandEvaluator*>(e); }},
      {{42, 47, 54, 55, 63, 64, 65, 66},
       [](GWLPCommandEvaluator* e) { return !!dynamic_cast<GWLPLoopCommandEvaluator*>(e); }},
      {{0, 10, 25, 26, 27, 32, 33, 34, 35, 37},
       [](GWLPCommandEvaluator* e) { return !!dynamic_cast<GWLPMathCommandEvaluator*>(e); }},
      {{3, 7, 8, 15, 16, 17, 40, 41, 43, 44, 45, 52},
       [](GWLPCommandEvaluator* e) { return !!dynamic_cast<GWLPVariableCommandEvaluator*>(e); }},
  };
  int routed = 0;
  for (const auto& route : routes) {
    for (int number : route.numbers) {
      EXPECT_TRUE(route.is(evaluatorOf(number))) << number;
      ++routed;
    }
  }
  EXPECT_EQ(routed, 62);
  for (int number : {11, 14, 31, 48, 49, 67}) EXPECT_EQ(evaluatorOf(number), nullptr) << number;
}

TEST(GWLPCommandRegistrarTest, UnroutedNamesCallTheScriptFunctionOfThatName) {
  RegisterTestCommands();
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  platform::Error error;
  // Unbound names, "31" and the empty name answer undefined without an error.
  for (const char* name : {"31", "", "missing"}) {
    EXPECT_TRUE(GWLPEvaluator::evaluateStatement(Stmt(name), scope, &error)->isUndefined()) << name;
  }
  scope->addValue(MakeFunction([](const GWLPValueList& v, platform::Error*) { return v.at(0); }), "31");
  scope->addValue(MakeFunction([](const GWLPValueList&, platform::Error*) { return Str("empty"); }), "");
  scope->addValue(Num(5), "notAFunction");
  EXPECT_EQ(Describe(GWLPEvaluator::evaluateStatement(Stmt("31", {Num(8)}), scope, &error)), "8");
  EXPECT_EQ(Describe(GWLPEvaluator::evaluateStatement(Stmt(""), scope, &error)), "\"empty\"");
  EXPECT_TRUE(GWLPEvaluator::evaluateStatement(Stmt("notAFunction"), scope, &error)->isUndefined());
  EXPECT_FALSE(GWLPFailed(error));
}

TEST(GWLPCommandRegistrarTest, ComparisonCommandsNeedExactlyTwoArguments) {
  GWLPRuntime runtime;
  platform::Error error;
  GWLPEvaluator::evaluateStatement(Stmt("20", {Num(1)}), runtime.getRunScope(), &error);
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorArgumentCount));
}

TEST(GWLPEvaluatorTest, ExecuteStatementsStopsAtControlValuesAndErrors) {
  RegisterTestCommands();
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  platform::Error error;
  EXPECT_TRUE(GWLPEvaluator::executeStatements({}, scope, &error)->isUndefined());

  GWLPValueRef result = GWLPEvaluator::executeStatements(
      {Stmt("test.break"), Stmt("test.declare", {Str("ran"), Bool(true)})}, scope, &error);
  EXPECT_EQ(result, GWLPControlValue::breakValue());
  EXPECT_FALSE(scope->hasName("ran"));

  EXPECT_EQ(Describe(GWLPEvaluator::executeStatements({Num(1), Str("last")}, scope, &error)), "\"last\"");
  EXPECT_FALSE(GWLPFailed(error));

  result = GWLPEvaluator::executeStatements(
      {Stmt("test.call", {Null(), Str("toString")}), Stmt("test.declare", {Str("ran"), Bool(true)})}, scope, &error);
  EXPECT_TRUE(result->isUndefined());
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorMethodOfNullOrUndefined));
  EXPECT_FALSE(scope->hasName("ran"));
}

TEST(GWLPArgumentsTest, CountChecksAndEvaluationStopAtTheFirstFailure) {
  GWLPValueList two = {Num(1), Num(2)};
  struct Case {
    bool (*check)(const GWLPValueList&, size_t, platform::Error*);
    size_t n;
    bool ok;
  } cases[] = {
      {GWLPCheckArgumentCount, 2, true},        {GWLPCheckArgumentCount, 1, false},
      {GWLPCheckMinimumArgumentCount, 2, true}, {GWLPCheckMinimumArgumentCount, 3, false},
      {GWLPCheckMaximumArgumentCount, 2, true}, {GWLPCheckMaximumArgumentCount, 1, false},
  };
  for (const auto& c : cases) {
    platform::Error error;
    EXPECT_EQ(c.check(two, c.n, &error), c.ok);
    EXPECT_EQ(GWLPFailed(error), !c.ok);
    if (!c.ok) {
      EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorArgumentCount));
    }
  }

  GWLPRuntime runtime;
  platform::Error error;
  GWLPValueList values =
      GWLPEvaluateArguments({Num(1), Stmt("test.call", {Undef(), Str("x")}), Num(3)}, runtime.getRunScope(), &error);
  EXPECT_EQ(values.size(), 2u);
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorMethodOfNullOrUndefined));
}

TEST(GWLPRuntimeTest, InstructionCounting) {
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  runtime.resetInstructionCount();
  EXPECT_EQ(runtime.getInstructionCount(), 0);
  GWLPEvaluator::evaluateStatement(Num(1), scope);
  EXPECT_EQ(runtime.getInstructionCount(), 1);
  // Arguments that are already values still cost one evaluation each.
  GWLPEvaluateArguments({Num(1), Num(2)}, scope);
  EXPECT_EQ(runtime.getInstructionCount(), 3);
  // The counter is no script variable: declaring the old name changes nothing.
  runtime.initialScope()->addValue(Num(0), "runtime.counter");
  GWLPEvaluator::evaluateStatement(Num(1), scope);
  EXPECT_EQ(runtime.getInstructionCount(), 4);
}

TEST(GWLPRuntimeTest, VariableReadCostsItsStatementAndItsName) {
  // The same whether the name is a literal text or computed ("x" + "": the
  // sum and its two texts).
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  runtime.initialScope()->addValue(Num(7), "x");
  runtime.resetInstructionCount();
  EXPECT_EQ(Describe(GWLPEvaluator::evaluateStatement(Stmt("15", {Str("x")}), scope)), "7");
  EXPECT_EQ(runtime.getInstructionCount(), 2);
  EXPECT_EQ(Describe(GWLPEvaluator::evaluateStatement(Stmt("15", {Stmt("0", {Str("x"), Str("")})}), scope)), "7");
  EXPECT_EQ(runtime.getInstructionCount(), 6);
  EXPECT_EQ(Describe(GWLPEvaluator::evaluateStatement(Stmt("15", {Str("missing")}), scope)), "undefined");
  EXPECT_EQ(runtime.getInstructionCount(), 8);
}

TEST(GWLPRuntimeTest, ForeverLoopStopsAfterExactlyOneMillionEvaluationsAndTheNextRunWorks) {
  RegisterTestCommands();
  GWLPRuntime runtime;
  runtime.resetInstructionCount();
  platform::Error error;
  GWLPValueRef result = GWLPEvaluator::evaluateStatement(Stmt("test.loop", {Num(1)}), runtime.getRunScope(), &error);
  EXPECT_TRUE(result->isUndefined());
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorInstructionLimit));
  EXPECT_EQ(runtime.getInstructionCount(), 1000000);
  // Every further evaluation of that run fails at once.
  platform::Error again;
  GWLPEvaluator::evaluateStatement(Num(1), runtime.getRunScope(), &again);
  EXPECT_EQ(again, GWLPRuntimeError(kGWLPErrorInstructionLimit));

  runtime.resetInstructionCount();
  platform::Error next;
  EXPECT_EQ(Describe(GWLPEvaluator::evaluateStatement(Str("fine"), runtime.getRunScope(), &next)), "\"fine\"");
  EXPECT_FALSE(GWLPFailed(next));
  EXPECT_EQ(runtime.getInstructionCount(), 1);
}

TEST(GWLPRuntimeTest, DeepRecursionFailsCleanlyAndTheRuntimeStaysUsable) {
  RegisterTestCommands();
  GWLPRuntime runtime;
  platform::Error error;
  // function f() { f(); } f();
  runtime.executeStatements(
      {StmtEntity("test.function", {StrEntity("f"), StrEntity(""), StmtEntity("f")}), StmtEntity("f")}, &error);
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorResourceLimit));

  // Deeply nested statements built in memory hit the evaluation bound too.
  GWLPValueRef nested = Num(1);
  for (int i = 0; i < kGWLPMaxEvaluationDepth + 10; ++i) nested = Stmt("test.block", {nested});
  platform::Error deep;
  GWLPEvaluator::evaluateStatement(nested, runtime.getRunScope(), &deep);
  EXPECT_EQ(deep, GWLPRuntimeError(kGWLPErrorResourceLimit));

  runtime.resetInstructionCount();
  platform::Error next;
  // function g(n) { return n; } g(3);
  GWLPValueRef result = runtime.executeStatements(
      {StmtEntity("test.function", {StrEntity("g"), StrEntity("n"),
                                    StmtEntity("test.return", {StmtEntity("test.get", {StrEntity("n")})})}),
       StmtEntity("g", {NumEntity(3)})},
      &next);
  EXPECT_FALSE(GWLPFailed(next)) << next.toString();
  EXPECT_EQ(Describe(result), "3");
}

TEST(GWLPRuntimeTest, TopLevelStatementsRunInTheGlobalScopeAndStopAtTheFirstFailure) {
  RegisterTestCommands();
  GWLPRuntime runtime;
  platform::Error error;
  GWLPValueRef result =
      runtime.executeStatements({StmtEntity("test.declare", {StrEntity("a"), NumEntity(1)}), StmtEntity("test.break"),
                                 StmtEntity("test.declare", {StrEntity("b"), NumEntity(2)})},
                                &error);
  // A control value does not stop the top-level list.
  EXPECT_TRUE(runtime.globalScope()->hasName("b"));
  EXPECT_EQ(Describe(result), "2");

  GWLPRuntimeEntity bad;
  bad.kind = 9;
  result = runtime.executeStatements({StmtEntity("test.declare", {StrEntity("c"), NumEntity(1)}), bad,
                                      StmtEntity("test.declare", {StrEntity("d"), NumEntity(2)})},
                                     &error);
  EXPECT_TRUE(result->isUndefined());
  EXPECT_EQ(error, GWLPRuntimeError(kGWLPErrorUnknownEntityKind));
  EXPECT_TRUE(runtime.globalScope()->hasName("c"));
  EXPECT_FALSE(runtime.globalScope()->hasName("d"));
}

}  // namespace
