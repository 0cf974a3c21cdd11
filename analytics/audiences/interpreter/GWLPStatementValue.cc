#include "analytics/audiences/interpreter/GWLPStatementValue.h"

#include "analytics/audiences/interpreter/GWLPCommandRegistrar.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPVariableCommandEvaluator.h"

GWLPStatementValue::GWLPStatementValue(std::string functionName, GWLPValueList arguments)
    : GWLPRuntimeValue(GWLPValueKind::Statement),
      functionName_(std::move(functionName)),
      arguments_(std::move(arguments)),
      evaluator_(&GWLPCommandRegistrar::sharedInstance().evaluatorForStatementName(functionName_)) {
  if (const GWLPCommandEntry* entry = GWLPCommandEntryForName(functionName_)) {
    command_ = entry->command;
    hasCommand_ = true;
    route_ = evaluator_->routeFor(command_);
    buildsStatementList_ =
        command_ == GWLPCommand::StatementList && evaluator_->buildsStatementList(GWLPCommand::StatementList);
    if (route_.handler == GWLPGetVariable && route_.takesValues && !route_.twoValues && arguments_.size() == 1 &&
        arguments_[0] && arguments_[0]->isString()) {
      variableName_ = &static_cast<const GWLPStringValue&>(*arguments_[0]).value();
    }
  }
}

GWLPStatementValue::~GWLPStatementValue() {
  for (auto& argument : arguments_) GWLPDeferRelease(std::move(argument));
}

bool GWLPStatementValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const {
  if (this == &other) return true;
  if (other.valueKind() != GWLPValueKind::Statement) return false;
  const auto& statement = static_cast<const GWLPStatementValue&>(other);
  if (statement.functionName_ != functionName_ || statement.arguments_.size() != arguments_.size()) return false;
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (!arguments_[i]->isEqualToRuntimeValue(*statement.arguments_[i], context)) return false;
  }
  return true;
}
