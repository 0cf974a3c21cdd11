// GWLPEvaluator: evaluates one statement, or executes a statement list that
// ends early at the first failure or control value.
#pragma once

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

class GWLPEvaluator {
 public:
  // The statement's result, or the value itself when it is no statement.
  static GWLPValueRef evaluateStatement(const GWLPValueRef& value, const GWLPScopeRef& scope,
                                        platform::Error* error = nullptr);
  // Runs the values in order in `scope` (never a new scope): the value of the
  // last one, the first control value met, or undefined on error.
  static GWLPValueRef executeStatements(const GWLPValueList& statements, const GWLPScopeRef& scope,
                                        platform::Error* error = nullptr);
};

// GWLPEvaluator::evaluateStatement, with a literal (a value that is no
// statement) evaluated in place: its one instruction, then the value itself.
inline GWLPValueRef GWLPEvaluate(const GWLPValueRef& value, const GWLPScopeRef& scope, platform::Error* error) {
  if (!value || value->isStatement() || !GWLPIsCleanError(error)) {
    return GWLPEvaluator::evaluateStatement(value, scope, error);
  }
  if (GWLPObjectManager* manager = scope ? scope->objectManager() : nullptr) manager->countInstruction(error);
  return GWLPFailed(*error) ? GWLPUndefinedValue::sharedInstance() : value;
}

// executeStatements over any run of statements.
GWLPValueRef GWLPExecuteStatements(GWLPValueSpan statements, const GWLPScopeRef& scope,
                                   platform::Error* error = nullptr);

// The statements of a statement list that a command evaluates from one of its
// argument statements (a body, a branch, the arguments of a method call):
// the elements of the array value it gives, holes read as undefined.
//
// Most such arguments are statementList commands, whose array would only be
// read and dropped: those are charged exactly as evaluating them charges (one
// instruction, one nesting level, the array's slots against the heap budget),
// and their own argument statements are used without building the array.
class GWLPStatementList {
 public:
  // Evaluates `statement` in `scope`; false (with the error) on failure.
  bool evaluate(const GWLPValueRef& statement, const GWLPScopeRef& scope, platform::Error* error);
  // The same, failing with error 10 when the value is no statement list.
  bool evaluateList(const GWLPValueRef& statement, const GWLPScopeRef& scope, platform::Error* error);
  // Whether the value was an array value (else statements() is empty).
  bool isList() const { return statements_ != nullptr; }
  const GWLPValueList& statements() const { return statements_ ? *statements_ : copy_; }
  // The evaluated value (none when the array was not built).
  const GWLPValueRef& value() const { return value_; }

 private:
  GWLPValueRef value_;
  GWLPValueList copy_;
  const GWLPValueList* statements_ = nullptr;
};
