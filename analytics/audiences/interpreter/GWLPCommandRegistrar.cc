#include "analytics/audiences/interpreter/GWLPCommandRegistrar.h"

#include "analytics/audiences/interpreter/GWLPBitwiseCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPComparisonCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPControlCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPLogicalCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPLoopCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPMathCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPVariableCommandEvaluator.h"

GWLPCommandRegistrar::GWLPCommandRegistrar() : functionEvaluator_(std::make_shared<GWLPFunctionEvaluator>()) {
  registerEvaluator(std::make_shared<GWLPBitwiseCommandEvaluator>());
  registerEvaluator(std::make_shared<GWLPComparisonCommandEvaluator>());
  registerEvaluator(std::make_shared<GWLPControlCommandEvaluator>());
  registerEvaluator(std::make_shared<GWLPLogicalCommandEvaluator>());
  registerEvaluator(std::make_shared<GWLPLoopCommandEvaluator>());
  registerEvaluator(std::make_shared<GWLPMathCommandEvaluator>());
  registerEvaluator(std::make_shared<GWLPVariableCommandEvaluator>());
}

GWLPCommandRegistrar& GWLPCommandRegistrar::sharedInstance() {
  static GWLPCommandRegistrar* instance = new GWLPCommandRegistrar();
  return *instance;
}

void GWLPCommandRegistrar::registerEvaluator(std::shared_ptr<GWLPCommandEvaluator> evaluator) {
  if (!evaluator) return;
  registered_.push_back(evaluator);
  for (const auto& command : evaluator->allSupportedCommands()) commandEvaluators_[command] = evaluator;
}

std::shared_ptr<GWLPCommandEvaluator> GWLPCommandRegistrar::evaluatorForCommand(const std::string& command) const {
  auto it = commandEvaluators_.find(command);
  return it == commandEvaluators_.end() ? nullptr : it->second;
}

GWLPCommandEvaluator& GWLPCommandRegistrar::evaluatorForStatementName(const std::string& name) const {
  auto it = commandEvaluators_.find(name);
  return it == commandEvaluators_.end() ? *functionEvaluator_ : *it->second;
}

GWLPValueRef GWLPCommandRegistrar::evaluateStatement(const GWLPValueRef& value, const GWLPScopeRef& scope,
                                                     platform::Error* error) {
  return GWLPEvaluator::evaluateStatement(value, scope, error);
}
