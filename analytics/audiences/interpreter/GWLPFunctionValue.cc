#include "analytics/audiences/interpreter/GWLPFunctionValue.h"

#include <cmath>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPControlValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPFunctionValue::GWLPFunctionValue(std::string functionName, std::vector<std::string> parameterNames,
                                     GWLPValueList statements, GWLPScopeRef definingScope)
    : GWLPRuntimeValue(GWLPValueKind::Function),
      functionName_(std::move(functionName)),
      parameterNames_(std::move(parameterNames)),
      statements_(statements.empty() ? nullptr : std::make_shared<const GWLPValueList>(std::move(statements))),
      definingScope_(definingScope ? std::move(definingScope) : std::make_shared<GWLPScope>()) {}

GWLPFunctionValue::GWLPFunctionValue(std::string functionName)
    : GWLPFunctionValue(std::move(functionName), {}, {}, std::make_shared<GWLPScope>()) {}

GWLPFunctionValue::~GWLPFunctionValue() { releaseContents(); }

const GWLPValueList& GWLPFunctionValue::statements() const {
  static const GWLPValueList kNone;
  return statements_ ? *statements_ : kNone;
}

GWLPValueRef GWLPFunctionValue::invokeWithArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope,
                                                    platform::Error* error) {
  GWLPErrorOut out(error);
  GWLPValueBuffer values;
  if (!GWLPEvaluateArgumentsInto(arguments, scope, values, out)) return GWLPUndefinedValue::sharedInstance();
  return invokeWithEvaluatedArguments(values.span(), out);
}

GWLPValueRef GWLPFunctionValue::invokeWithEvaluatedArguments(GWLPValueSpan arguments,
                                                             platform::Error* error) {
  GWLPErrorOut out(error);
  // A swept function has lost its defining scope: it runs as an empty body.
  if (!definingScope_) return GWLPUndefinedValue::sharedInstance();
  auto self = shared_from_this();
  GWLPScopeRef definingScope = definingScope_;
  std::shared_ptr<const GWLPValueList> statements = statements_;
  GWLPObjectManager::CallGuard guard(definingScope->objectManager(), out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();

  // A nested or recursive invocation finds no spare and makes its own scope.
  GWLPScopeRef invocationScope = spareScope_ ? std::move(spareScope_) : definingScope->createChildScope();
  spareScope_.reset();
  for (size_t i = 0; i < parameterNames_.size(); ++i) {
    invocationScope->addValue(i < arguments.size() ? arguments[i] : GWLPUndefinedValue::sharedInstance(),
                              parameterNames_[i]);
  }
  if (!statements) return GWLPUndefinedValue::sharedInstance();
  GWLPValueRef result = GWLPEvaluator::executeStatements(*statements, invocationScope, out);
  keepSpareScope(std::move(invocationScope), definingScope);
  if (out.failed()) return result;
  if (result->isControl() && static_cast<const GWLPControlValue&>(*result).type() == kGWLPControlTypeReturn) {
    return GWLPControlValue::takeReturnData(std::move(result));
  }
  return result;
}

void GWLPFunctionValue::keepSpareScope(GWLPScopeRef scope, const GWLPScopeRef& definingScope) {
  // Only a scope that no closure or inner scope holds, of a function that
  // still has the same defining scope; its names go now, as they would with
  // the scope itself.
  if (spareScope_ || scope.use_count() != 1 || definingScope_ != definingScope ||
      scope->contents().isImmutable()) {
    return;
  }
  scope->clearContents();
  // Clearing may have released the last holder of this function's contents.
  if (definingScope_ == definingScope && !spareScope_) spareScope_ = std::move(scope);
}

std::string GWLPFunctionValue::stringValueOrError(platform::Error*) const { return functionName_; }

double GWLPFunctionValue::doubleValueOrError(platform::Error*) const { return std::nan(""); }

bool GWLPFunctionValue::booleanValueOrError(platform::Error*) const { return true; }

GWLPValueRef GWLPFunctionValue::applyWithName(const std::string& name, const GWLPValueList& arguments,
                                              const GWLPScopeRef& scope, platform::Error* error) {
  return GWLPApplyPropertyMethod(*this, propertyMap_, name, arguments, scope, error);
}

bool GWLPFunctionValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext&) const {
  if (this == &other) return true;
  if (other.valueKind() != GWLPValueKind::Function) return false;
  return !functionName_.empty() && static_cast<const GWLPFunctionValue&>(other).functionName_ == functionName_;
}

void GWLPFunctionValue::markInto(GWLPMarkStack& stack) {
  if (mark_) return;
  mark_ = true;
  propertyMap_.markValuesInto(stack);
  // Body statements hold only literals and statements: nothing to mark.
  stack.push(definingScope_.get());
}

void GWLPFunctionValue::sweep() {
  if (mark_) {
    mark_ = false;
  } else {
    releaseContents();
  }
}

void GWLPFunctionValue::releaseContents() {
  GWLPDeferRelease(std::const_pointer_cast<GWLPValueList>(std::move(statements_)));
  statements_.reset();
  GWLPDeferRelease(std::move(definingScope_));
  definingScope_.reset();
  GWLPDeferRelease(std::move(spareScope_));
  spareScope_.reset();
  propertyMap_.clear();
}
