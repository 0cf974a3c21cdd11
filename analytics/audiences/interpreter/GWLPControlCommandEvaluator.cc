#include "analytics/audiences/interpreter/GWLPControlCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
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

const GWLPArrayValue* asArray(const GWLPValueRef& value) {
  return value->isArray() ? static_cast<const GWLPArrayValue*>(value.get()) : nullptr;
}

GWLPValueRef evaluate(const GWLPValueRef& statement, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  return GWLPEvaluator::evaluateStatement(statement, scope, out);
}

GWLPValueRef callMethod(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 3, out)) return undefined();
  GWLPValueList values = GWLPEvaluateArguments(statements, scope, out);
  if (out.failed()) return undefined();
  const GWLPArrayValue* arguments = asArray(values[2]);
  if (!values[1]->isString() || !arguments) {
    out.fail(kGWLPErrorArgumentType);
    return undefined();
  }
  const std::string name = static_cast<const GWLPStringValue&>(*values[1]).value();
  GWLPValueRef receiver = values[0];
  return receiver->applyWithName(name, arguments->allElements(), scope, out);
}

GWLPValueRef block(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  return GWLPEvaluator::executeStatements(statements, scope->createChildScope(), error);
}

GWLPValueRef statementList(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  auto array = GWLPObjectManager::arrayValueWithArray(statements, scope, error);
  return array ? GWLPValueRef(array) : undefined();
}

GWLPValueRef runStatements(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 1, out)) return undefined();
  GWLPValueRef list = evaluate(statements[0], scope, out);
  if (out.failed()) return undefined();
  const GWLPArrayValue* array = asArray(list);
  if (!array) {
    out.fail(kGWLPErrorArgumentType);
    return undefined();
  }
  return GWLPEvaluator::executeStatements(array->allElements(), scope, out);
}

GWLPCommandHandler control(GWLPValueRef (*value)()) {
  return [value](const GWLPValueList& statements, const GWLPScopeRef&, platform::Error* error) -> GWLPValueRef {
    if (!GWLPCheckArgumentCount(statements, 0, error)) return undefined();
    return value();
  };
}

GWLPValueRef returnCommand(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckMaximumArgumentCount(statements, 1, out)) return undefined();
  GWLPValueRef data = statements.empty() ? undefined() : evaluate(statements[0], scope, out);
  return GWLPControlValue::returnValueWithData(out.failed() ? undefined() : data);
}

GWLPValueRef expressionList(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
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
std::shared_ptr<GWLPFunctionValue> makeFunction(const GWLPValueList& statements, const GWLPScopeRef& scope,
                                                GWLPErrorOut& out) {
  if (!GWLPCheckMinimumArgumentCount(statements, 2, out)) return nullptr;
  // The name is the first argument itself, never evaluated.
  std::string name = statements[0]->stringValueOrError(out);
  if (out.failed()) return nullptr;
  GWLPValueRef parameterList = evaluate(statements[1], scope, out);
  if (out.failed()) return nullptr;
  const GWLPArrayValue* parameters = asArray(parameterList);
  if (!parameters) {
    out.fail(kGWLPErrorArgumentType);
    return nullptr;
  }
  std::vector<std::string> names;
  for (const auto& parameter : parameters->allElements()) {
    names.push_back(parameter->stringValueOrError(out));
    if (out.failed()) return nullptr;
  }
  GWLPValueList body(statements.begin() + 2, statements.end());
  return GWLPObjectManager::functionValueWithFunctionName(std::move(name), std::move(names), std::move(body), scope);
}

GWLPValueRef functionExpression(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  auto function = makeFunction(statements, scope, out);
  return function ? GWLPValueRef(function) : undefined();
}

GWLPValueRef functionDeclaration(const GWLPValueList& statements, const GWLPScopeRef& scope,
                                 platform::Error* error) {
  GWLPErrorOut out(error);
  auto function = makeFunction(statements, scope, out);
  if (!function) return undefined();
  scope->setValue(function, function->functionName());
  return function;
}

// A branch of `if`: a statement list runs in the current scope (so control
// values pass through); any other value is the result itself.
GWLPValueRef runBranch(const GWLPValueRef& statement, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  GWLPValueRef value = evaluate(statement, scope, out);
  if (out.failed()) return undefined();
  if (const GWLPArrayValue* list = asArray(value)) return GWLPEvaluator::executeStatements(list->allElements(), scope, out);
  return value;
}

bool conditionOf(const GWLPValueRef& statement, const GWLPScopeRef& scope, GWLPErrorOut& out) {
  GWLPValueRef value = evaluate(statement, scope, out);
  if (out.failed()) return false;
  return value->booleanValueOrError(out);
}

GWLPValueRef ifCommand(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
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

GWLPValueRef conditional(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 3, out)) return undefined();
  bool condition = conditionOf(statements[0], scope, out);
  if (out.failed()) return undefined();
  GWLPValueRef value = evaluate(statements[condition ? 1 : 2], scope, out);
  return out.failed() ? undefined() : value;
}

GWLPValueRef switchCommand(const GWLPValueList& statements, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(statements, 3, out)) return undefined();
  GWLPValueList values = GWLPEvaluateArguments(statements, scope, out);
  if (out.failed()) return undefined();
  const GWLPArrayValue* caseList = asArray(values[1]);
  const GWLPArrayValue* bodyList = asArray(values[2]);
  if (!caseList || !bodyList) {
    out.fail(kGWLPErrorArgumentCount);
    return undefined();
  }
  const GWLPValueRef& discriminant = values[0];
  const GWLPValueList cases = caseList->allElements();
  const GWLPValueList bodies = bodyList->allElements();
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
    : GWLPHandlerCommandEvaluator({"2", "4", "5", "6", "9", "13", "22", "36", "38", "39", "46", "50", "51", "53"},
                                  GWLPArgumentStyle::Statements) {
  handlers_["2"] = callMethod;
  handlers_["4"] = control(&GWLPControlValue::breakValue);
  handlers_["5"] = runStatements;
  handlers_["6"] = control(&GWLPControlValue::continueValue);
  handlers_["9"] = runStatements;
  handlers_["13"] = expressionList;
  handlers_["22"] = ifCommand;
  handlers_["36"] = returnCommand;
  handlers_["38"] = switchCommand;
  handlers_["39"] = conditional;
  handlers_["46"] = statementList;
  handlers_["50"] = functionDeclaration;
  handlers_["51"] = functionExpression;
  handlers_["53"] = block;
}
