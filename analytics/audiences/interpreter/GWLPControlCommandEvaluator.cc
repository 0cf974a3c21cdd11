#include "analytics/audiences/interpreter/GWLPControlCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPControlValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

GWLPValueRef undefined() { return GWLPUndefinedValue::sharedInstance(); }

GWLPValueRef evaluate(const GWLPValueRef& statement, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  return GWLPEvaluate(statement, scope, out);
}

GWLPValueRef callMethod(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 3, out)) return undefined();
  GWLPValueRef receiver = evaluate(statements[0], scope, out);
  if (out.failed()) return undefined();
  GWLPValueRef method = evaluate(statements[1], scope, out);
  if (out.failed()) return undefined();
  GWLPStatementList arguments;
  if (!arguments.evaluate(statements[2], scope, out)) return undefined();
  if (!method->isString() || !arguments.isList()) {
    out.fail(kGWLPErrorArgumentType);
    return undefined();
  }
  const std::string& name = static_cast<const GWLPStringValue&>(*method).value();
  // `receiver` and `method` stay held here while the method runs.
  return receiver->applyWithName(name, arguments.statements(), scope, out);
}

GWLPValueRef block(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  return GWLPExecuteStatements(statements, scope->createChildScope(), error);
}

GWLPValueRef statementList(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  auto array = GWLPObjectManager::arrayValueWithArray(GWLPValueList(statements.begin(), statements.end()), scope,
                                                      error);
  return array ? GWLPValueRef(array) : undefined();
}

GWLPValueRef runStatements(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 1, out)) return undefined();
  GWLPStatementList list;
  if (!list.evaluateList(statements[0], scope, out)) return undefined();
  return GWLPEvaluator::executeStatements(list.statements(), scope, out);
}

template <const GWLPValueRef& (*Value)()>
GWLPValueRef control(GWLPValueSpan statements, const GWLPScopeRef&, platform::Error* error) {
  if (!GWLPCheckArgumentCount(statements, 0, error)) return undefined();
  return Value();
}

GWLPValueRef returnCommand(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(statements, 1, out)) return undefined();
  GWLPValueRef data = statements.empty() ? undefined() : evaluate(statements[0], scope, out);
  return GWLPControlValue::returnValueWithData(out.failed() ? undefined() : data);
}

GWLPValueRef expressionList(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMinimumArgumentCount(statements, 1, out)) return undefined();
  GWLPValueRef result;
  for (const auto& statement : statements) {
    result = evaluate(statement, scope, out);
    if (out.failed()) return undefined();
    if (result->isControl()) {
      out.fail(kGWLPErrorArgumentType);
      return undefined();
    }
  }
  return result;
}

// The function of a declaration or expression: (name statement, parameter
// list, body statements...), closing over `scope`.
std::shared_ptr<GWLPFunctionValue> makeFunction(GWLPValueSpan statements, const GWLPScopeRef& scope,
                                                GWLPErrorOut& out) {
  if (!GWLPCheckMinimumArgumentCount(statements, 2, out)) return nullptr;
  // The name is the first argument itself, never evaluated.
  std::string name = statements[0]->stringValueOrError(out);
  if (out.failed()) return nullptr;
  GWLPStatementList parameters;
  if (!parameters.evaluateList(statements[1], scope, out)) return nullptr;
  std::vector<std::string> names;
  for (const auto& parameter : parameters.statements()) {
    names.push_back(parameter->stringValueOrError(out));
    if (out.failed()) return nullptr;
  }
  GWLPValueList body(statements.begin() + 2, statements.end());
  return GWLPObjectManager::functionValueWithFunctionName(std::move(name), std::move(names), std::move(body), scope);
}

GWLPValueRef functionExpression(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  auto function = makeFunction(statements, scope, out);
  return function ? GWLPValueRef(function) : undefined();
}

GWLPValueRef functionDeclaration(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  auto function = makeFunction(statements, scope, out);
  if (!function) return undefined();
  scope->setValue(function, function->functionName());
  return function;
}

// A branch of `if`: a statement list runs in the current scope (so control
// values pass through); any other value is the result itself.
GWLPValueRef runBranch(const GWLPValueRef& statement, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  GWLPStatementList list;
  if (!list.evaluate(statement, scope, out)) return undefined();
  if (list.isList()) return GWLPEvaluator::executeStatements(list.statements(), scope, out);
  return list.value();
}

bool conditionOf(const GWLPValueRef& statement, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  GWLPValueRef value = evaluate(statement, scope, out);
  if (out.failed()) return false;
  // Most conditions are comparisons, whose booleans are read in place.
  if (value->isBoolean()) return static_cast<const GWLPBooleanValue&>(*value).value();
  return value->booleanValueOrError(out);
}

GWLPValueRef ifCommand(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMinimumArgumentCount(statements, 1, out) || !GWLPCheckMaximumArgumentCount(statements, 3, out)) {
    return undefined();
  }
  bool condition = conditionOf(statements[0], scope, out);
  if (out.failed()) return undefined();
  size_t branch = condition ? 1 : 2;
  if (branch >= statements.size()) return undefined();
  return runBranch(statements[branch], scope, out);
}

GWLPValueRef conditional(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 3, out)) return undefined();
  bool condition = conditionOf(statements[0], scope, out);
  if (out.failed()) return undefined();
  GWLPValueRef value = evaluate(statements[condition ? 1 : 2], scope, out);
  return out.failed() ? undefined() : value;
}

GWLPValueRef switchCommand(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 3, out)) return undefined();
  GWLPValueRef discriminant = evaluate(statements[0], scope, out);
  if (out.failed()) return undefined();
  GWLPStatementList caseList, bodyList;
  if (!caseList.evaluate(statements[1], scope, out) || !bodyList.evaluate(statements[2], scope, out)) {
    return undefined();
  }
  if (!caseList.isList() || !bodyList.isList()) {
    out.fail(kGWLPErrorArgumentCount);
    return undefined();
  }
  const GWLPValueList& cases = caseList.statements();
  const GWLPValueList& bodies = bodyList.statements();
  const bool hasDefault = bodies.size() == cases.size() + 1;

  // Runs one body: answers whether the switch goes on, leaving its result in
  // `result`. A case without a body is a malformed program: error 9.
  GWLPValueRef result = undefined();
  auto runBody = [&](size_t i) {
    if (i >= bodies.size()) {
      out.fail(kGWLPErrorArgumentCount);
      return false;
    }
    GWLPValueRef value = evaluate(bodies[i], scope, out);
    if (out.failed()) return false;
    if (value->isControl()) {
      if (value != GWLPControlValue::breakValue()) result = value;
      return false;
    }
    return true;
  };

  bool matched = false;
  for (size_t i = 0; i < cases.size(); ++i) {
    if (!matched) {
      GWLPValueRef test = evaluate(cases[i], scope, out);
      if (out.failed()) return undefined();
      matched = GWLPStrictEquals(*test, *discriminant, out);
      if (out.failed()) return undefined();
      if (!matched) continue;
    }
    if (!runBody(i)) return out.failed() ? undefined() : result;
  }
  if (hasDefault && !runBody(cases.size())) return out.failed() ? undefined() : result;
  return undefined();
}

}  // namespace

GWLPControlCommandEvaluator::GWLPControlCommandEvaluator()
    : GWLPHandlerCommandEvaluator(GWLPCommandEvaluatorKind::Control, GWLPArgumentStyle::Statements) {
  setHandler(GWLPCommand::CallMethod, callMethod);
  setHandler(GWLPCommand::Break, control<GWLPControlValue::breakValue>);
  setHandler(GWLPCommand::RunStatements, runStatements);
  setHandler(GWLPCommand::Continue, control<GWLPControlValue::continueValue>);
  setHandler(GWLPCommand::ExpressionList, expressionList);
  setHandler(GWLPCommand::If, ifCommand);
  setHandler(GWLPCommand::Return, returnCommand);
  setHandler(GWLPCommand::Switch, switchCommand);
  setHandler(GWLPCommand::Conditional, conditional);
  setHandler(GWLPCommand::StatementList, statementList);
  setHandler(GWLPCommand::FunctionDeclaration, functionDeclaration);
  setHandler(GWLPCommand::FunctionExpression, functionExpression);
  setHandler(GWLPCommand::Block, block);
}

bool GWLPControlCommandEvaluator::buildsStatementList(GWLPCommand command) const {
  return command == GWLPCommand::StatementList && hasHandler(GWLPCommand::StatementList);
}
