// The command table against the registrar and its evaluators: every command
// has exactly one handler, in the evaluator its rows name, and statements
// resolve their command once, when they are made.
#include "analytics/audiences/interpreter/GWLPCommandTable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "InterpreterTestSupport.h"
#include "analytics/audiences/interpreter/GWLPCommandRegistrar.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPFunctionEvaluator.h"
#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPRuntime.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"

using namespace interpreter_test;

namespace {

const GWLPHandlerCommandEvaluator* evaluatorOf(int number) {
  auto evaluator = GWLPCommandRegistrar::sharedInstance().evaluatorForCommand(std::to_string(number));
  return dynamic_cast<const GWLPHandlerCommandEvaluator*>(evaluator.get());
}

TEST(GWLPCommandTableTest, EveryCommandHasExactlyOneHandlerInTheEvaluatorItsRowsName) {
  std::map<const GWLPHandlerCommandEvaluator*, std::set<GWLPCommand>> commandsOf;
  std::set<GWLPCommand> commands;
  std::set<int> numbers;
  for (const auto& entry : kGWLPCommandTable) {
    SCOPED_TRACE(entry.number);
    EXPECT_TRUE(numbers.insert(entry.number).second) << "number listed twice";
    const GWLPHandlerCommandEvaluator* evaluator = evaluatorOf(entry.number);
    ASSERT_NE(evaluator, nullptr);
    EXPECT_EQ(evaluator->kind(), entry.evaluator);
    EXPECT_TRUE(evaluator->hasHandler(entry.command)) << entry.name;
    EXPECT_EQ(GWLPCommandEntryFor(entry.command).command, entry.command);
    // Rows that share a command share its name: one handler serves both.
    EXPECT_STREQ(GWLPCommandEntryFor(entry.command).name, entry.name);
    commandsOf[evaluator].insert(entry.command);
    commands.insert(entry.command);
  }
  EXPECT_EQ(commands.size(), kGWLPCommandCount) << "a command that no row names";
  EXPECT_EQ(commandsOf.size(), 7u);
  for (const auto& [evaluator, served] : commandsOf) {
    // Installed once per command: no second handler, none for another
    // evaluator's command.
    EXPECT_EQ(evaluator->handlerInstallations(), served.size());
    for (size_t i = 0; i < kGWLPCommandCount; ++i) {
      auto command = static_cast<GWLPCommand>(i);
      EXPECT_EQ(evaluator->hasHandler(command), served.count(command) == 1) << GWLPCommandEntryFor(command).name;
    }
  }
}

TEST(GWLPCommandTableTest, OnlyTheTableSpellingOfANumberNamesACommand) {
  struct Case {
    const char* name;
    int number;  // -1: no command
  } cases[] = {
      {"0", 0}, {"7", 7}, {"66", 66}, {"11", -1}, {"31", -1}, {"67", -1}, {"07", -1},
      {"+7", -1}, {"7 ", -1}, {"", -1}, {"-0", -1}, {"100", -1}, {"add", -1},
  };
  for (const auto& c : cases) {
    const GWLPCommandEntry* entry = GWLPCommandEntryForName(c.name);
    if (c.number < 0) {
      EXPECT_EQ(entry, nullptr) << '"' << c.name << '"';
    } else {
      ASSERT_NE(entry, nullptr) << c.name;
      EXPECT_EQ(entry->number, c.number);
    }
  }
}

TEST(GWLPCommandTableTest, StatementsResolveTheirCommandWhenMade) {
  auto add = std::static_pointer_cast<GWLPStatementValue>(Stmt("0", {Num(1), Num(2)}));
  EXPECT_EQ(add->command(), GWLPCommand::Add);
  EXPECT_EQ(&add->evaluator(), GWLPCommandRegistrar::sharedInstance().evaluatorForCommand("0").get());

  // A name of no command is a call of the script function of that name.
  for (const char* name : {"31", "07", "missing"}) {
    auto call = std::static_pointer_cast<GWLPStatementValue>(Stmt(name));
    EXPECT_FALSE(call->command().has_value()) << name;
    EXPECT_NE(dynamic_cast<GWLPFunctionEvaluator*>(&call->evaluator()), nullptr) << name;
  }

  // The second number of a shared command behaves as the first.
  GWLPRuntime runtime;
  auto scope = runtime.getRunScope();
  platform::Error error;
  EXPECT_EQ(Describe(GWLPEvaluator::evaluateStatement(Stmt("32", {Str("a"), Str("b")}), scope, &error)), "\"a\"");
  EXPECT_EQ(Describe(GWLPEvaluator::evaluateStatement(Stmt("33", {Str("a"), Str("b")}), scope, &error)), "\"a\"");
  EXPECT_FALSE(GWLPFailed(error));
}

}  // namespace
