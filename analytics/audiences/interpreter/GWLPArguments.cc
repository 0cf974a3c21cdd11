#include "analytics/audiences/interpreter/GWLPArguments.h"

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEvaluator.h"

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
  GWLPErrorOut out(error);
  values.reserve(arguments.size());
  for (const auto& argument : arguments) {
    values.push_back(GWLPEvaluator::evaluateStatement(argument, scope, out));
    if (out.failed()) return false;
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
