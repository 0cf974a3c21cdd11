// GWLPCommandEvaluator: the base of the evaluators that the command registrar
// routes statements to by command name. The base answers undefined and
// supports no command.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPCommandTable.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"

class GWLPStatementValue;

// How a statement of a table command runs when its evaluator serves it
// through a plain handler: the handler and whether it takes the values of
// its arguments (of exactly two statements, for `twoValues`) or the
// statements themselves.
struct GWLPCommandRoute {
  GWLPValueRef (*handler)(std::span<const GWLPValueRef> arguments, const GWLPScopeRef& scope,
                          platform::Error* error) = nullptr;
  bool takesValues = false;
  bool twoValues = false;
};

class GWLPCommandEvaluator {
 public:
  virtual ~GWLPCommandEvaluator() = default;
  // Runs `command` with the statement's argument statements in `scope`.
  virtual GWLPValueRef evaluateCommand(const std::string& command, const GWLPValueList& arguments,
                                       const GWLPScopeRef& scope, platform::Error* error = nullptr);
  // Runs `statement`, whose name was resolved to this evaluator when the
  // statement was made; by default through evaluateCommand with its name.
  virtual GWLPValueRef evaluateStatement(const GWLPStatementValue& statement, const GWLPScopeRef& scope,
                                         platform::Error* error);
  virtual std::vector<std::string> allSupportedCommands() const { return {}; }
  // Whether running `command` here does nothing but gather its argument
  // statements into a new statement list (GWLPStatementList then reads them
  // without building the list).
  virtual bool buildsStatementList(GWLPCommand) const { return false; }
  // The plain handler that runs `command` here, if any: a statement of it
  // then runs without going through evaluateStatement.
  virtual GWLPCommandRoute routeFor(GWLPCommand) const { return {}; }
};
