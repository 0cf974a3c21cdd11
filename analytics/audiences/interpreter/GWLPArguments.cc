#include "analytics/audiences/interpreter/GWLPArguments.h"

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

void GWLPValueBuffer::spill(size_t count) {
  if (spilled_) return heap_.reserve(count);
  heap_.reserve(count);
  for (size_t i = 0; i < size_; ++i) {
    heap_.push_back(std::move(inline_[i]));
    inline_[i].~GWLPValueRef();
  }
  size_ = 0;
  spilled_ = true;
}

void GWLPValueBuffer::pushBeyondInline(GWLPValueRef value) {
  if (!spilled_) spill(size_ + 1);
  heap_.push_back(std::move(value));
}

GWLPValueList GWLPEvaluateArguments(const GWLPValueList& arguments, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  GWLPValueList values;
  values.reserve(arguments.size());
  for (const auto& argument : arguments) {
    values.push_back(GWLPEvaluator::evaluateStatement(argument, scope, out));
    if (out.failed()) break;
  }
  return values;
}

bool GWLPEvaluateArgumentsInto(GWLPValueSpan arguments, const GWLPScopeRef& scope, GWLPValueBuffer& values,
                               platform::Error* error) {
  if (!GWLPIsCleanError(error)) {
    GWLPErrorOut local(error);
    return GWLPEvaluateArgumentsInto(arguments, scope, values, local.get());
  }
  platform::Error* out = error;
  values.reserve(arguments.size());
  GWLPObjectManager* manager = scope ? scope->objectManager() : nullptr;
  for (const auto& argument : arguments) {
    if (argument && !argument->isStatement()) {
      // A literal evaluates to itself: only its instruction is counted.
      if (manager) manager->countInstruction(out);
      if (GWLPFailed(*out)) {
        values.push_back(GWLPUndefinedValue::sharedInstance());
        return false;
      }
      values.push_back(argument);
      continue;
    }
    values.push_back(GWLPEvaluator::evaluateStatement(argument, scope, out));
    if (GWLPFailed(*out)) return false;
  }
  return true;
}

bool GWLPCheckArgumentCount(GWLPValueSpan arguments, size_t count, platform::Error* error) {
  if (arguments.size() == count) return true;
  platform::setError(error, GWLPRuntimeError(kGWLPErrorArgumentCount));
  return false;
}

bool GWLPCheckMinimumArgumentCount(GWLPValueSpan arguments, size_t count, platform::Error* error) {
  if (arguments.size() >= count) return true;
  platform::setError(error, GWLPRuntimeError(kGWLPErrorArgumentCount));
  return false;
}

bool GWLPCheckMaximumArgumentCount(GWLPValueSpan arguments, size_t count, platform::Error* error) {
  if (arguments.size() <= count) return true;
  platform::setError(error, GWLPRuntimeError(kGWLPErrorArgumentCount));
  return false;
}

bool GWLPCheckArgumentCount(const GWLPValueList& arguments, size_t count, platform::Error* error) {
  return GWLPCheckArgumentCount(GWLPValueSpan(arguments), count, error);
}

bool GWLPCheckMinimumArgumentCount(const GWLPValueList& arguments, size_t count, platform::Error* error) {
  return GWLPCheckMinimumArgumentCount(GWLPValueSpan(arguments), count, error);
}

bool GWLPCheckMaximumArgumentCount(const GWLPValueList& arguments, size_t count, platform::Error* error) {
  return GWLPCheckMaximumArgumentCount(GWLPValueSpan(arguments), count, error);
}
