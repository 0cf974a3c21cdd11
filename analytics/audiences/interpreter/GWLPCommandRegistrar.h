// GWLPCommandRegistrar: the process-wide router of statements. Every value
// handed to it costs one instruction; a statement goes to the command
// evaluator registered under its name, or else is a call of the script
// function of that name. Evaluators register when the shared instance is
// made (and, in tests and tools, before any program is read: statements
// resolve their evaluator when they are made); afterwards it is only read.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "analytics/audiences/interpreter/GWLPCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPFunctionEvaluator.h"

class GWLPCommandRegistrar {
 public:
  // Registers the bitwise, comparison, control, logical, loop, math and
  // variable evaluators, in that order.
  GWLPCommandRegistrar();
  static GWLPCommandRegistrar& sharedInstance();

  // Enters `evaluator` under each of its commands; the last one registered
  // for a name wins. The registrar keeps every evaluator it was given.
  void registerEvaluator(std::shared_ptr<GWLPCommandEvaluator> evaluator);
  // The evaluator registered for `command`, or none.
  std::shared_ptr<GWLPCommandEvaluator> evaluatorForCommand(const std::string& command) const;
  // The evaluator that runs statements named `name`: the registered one, or
  // the function evaluator.
  GWLPCommandEvaluator& evaluatorForStatementName(const std::string& name) const;

  GWLPValueRef evaluateStatement(const GWLPValueRef& value, const GWLPScopeRef& scope,
                                 platform::Error* error = nullptr);

 private:
  std::unordered_map<std::string, std::shared_ptr<GWLPCommandEvaluator>> commandEvaluators_;
  std::shared_ptr<GWLPFunctionEvaluator> functionEvaluator_;
  // Statements point at their evaluator: none is ever let go.
  std::vector<std::shared_ptr<GWLPCommandEvaluator>> registered_;
};
