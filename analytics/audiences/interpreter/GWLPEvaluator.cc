#include "analytics/audiences/interpreter/GWLPEvaluator.h"

#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPHandlerCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPValueRef GWLPEvaluator::evaluateStatement(const GWLPValueRef& value, const GWLPScopeRef& scope,
                                              platform::Error* error) {
  if (!GWLPIsCleanError(error)) {
    GWLPErrorOut local(error);
    return evaluateStatement(value, scope, local.get());
  }
  // From here on failures go straight into the caller's clean error.
  platform::Error* out = error;
  GWLPObjectManager* manager = scope ? scope->objectManager() : nullptr;
  if (manager) manager->countInstruction(out);
  if (GWLPFailed(*out) || !value) return GWLPUndefinedValue::sharedInstance();
  if (!value->isStatement()) return value;

  GWLPObjectManager::EvaluationGuard guard(manager, out);
  if (GWLPFailed(*out)) return GWLPUndefinedValue::sharedInstance();

  // Whoever handed the statement in holds it while it runs. The statement
  // found its evaluator (through the shared registrar) when it was made.
  const auto& statement = static_cast<const GWLPStatementValue&>(*value);
  if (const std::string* name = statement.variableName(); name && scope) {
    // The handler's path without the handler: its literal argument's
    // instruction, then the read.
    if (manager) manager->countInstruction(out);
    if (GWLPFailed(*out)) return GWLPUndefinedValue::sharedInstance();
    return scope->valueForName(*name);
  }
  const GWLPCommandRoute& route = statement.route();
  GWLPValueRef result = route.handler ? GWLPHandlerCommandEvaluator::run(route, statement.arguments(), scope, out)
                                      : statement.evaluator().evaluateStatement(statement, scope, out);
  if (GWLPFailed(*out) || !result) return GWLPUndefinedValue::sharedInstance();
  return result;
}

GWLPValueRef GWLPEvaluator::executeStatements(const GWLPValueList& statements, const GWLPScopeRef& scope,
                                              platform::Error* error) {
  return GWLPExecuteStatements(statements, scope, error);
}

GWLPValueRef GWLPExecuteStatements(GWLPValueSpan statements, const GWLPScopeRef& scope, platform::Error* error) {
  if (!GWLPIsCleanError(error)) {
    GWLPErrorOut local(error);
    return GWLPExecuteStatements(statements, scope, local.get());
  }
  GWLPValueRef result = GWLPUndefinedValue::sharedInstance();
  for (const auto& statement : statements) {
    result = GWLPEvaluator::evaluateStatement(statement, scope, error);
    if (GWLPFailed(*error)) return GWLPUndefinedValue::sharedInstance();
    if (result->isControl()) return result;
  }
  return result;
}

bool GWLPStatementList::evaluateList(const GWLPValueRef& statement, const GWLPScopeRef& scope,
                                     platform::Error* error) {
  GWLPErrorOut out(error);
  if (!evaluate(statement, scope, out)) return false;
  if (isList()) return true;
  out.fail(kGWLPErrorArgumentType);
  return false;
}

bool GWLPStatementList::evaluate(const GWLPValueRef& statement, const GWLPScopeRef& scope, platform::Error* error) {
  value_.reset();
  copy_.clear();
  statements_ = nullptr;
  if (statement && statement->isStatement() && GWLPIsCleanError(error)) {
    const auto& list = static_cast<const GWLPStatementValue&>(*statement);
    if (list.buildsStatementList()) {
      GWLPObjectManager* manager = scope ? scope->objectManager() : nullptr;
      if (manager ? !manager->admitStatementList(list.arguments().size(), error)
                  : !GWLPObjectManager::reserveArray(list.arguments().size(), manager, error)) {
        return false;
      }
      statements_ = &list.arguments();
      return true;
    }
  }
  GWLPErrorOut out(error);
  value_ = GWLPEvaluator::evaluateStatement(statement, scope, out);
  if (out.failed()) return false;
  if (value_->isArray()) {
    copy_ = static_cast<const GWLPArrayValue&>(*value_).allElements();
    statements_ = &copy_;
  }
  return true;
}
