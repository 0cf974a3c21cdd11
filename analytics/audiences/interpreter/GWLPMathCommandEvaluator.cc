#include "analytics/audiences/interpreter/GWLPMathCommandEvaluator.h"

#include <cmath>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

GWLPValueRef undefined() { return GWLPUndefinedValue::sharedInstance(); }

// A command over the number values of two operands, read in order.
template <typename Operation>
GWLPCommandHandler arithmetic(Operation operation) {
  return [operation](const GWLPValueList& values, const GWLPScopeRef&, platform::Error* error) -> GWLPValueRef {
    GWLPErrorOut out(error);
    if (!GWLPCheckArgumentCount(values, 2, out)) return undefined();
    double left = values[0]->doubleValueOrError(out);
    if (out.failed()) return undefined();
    double right = values[1]->doubleValueOrError(out);
    if (out.failed()) return undefined();
    return GWLPNumberValue::make(operation(left, right));
  };
}

// Texts when either operand is string-like, else the IEEE sum.
GWLPValueRef add(const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 2, out)) return undefined();
  if (GWLPIsStringLike(*values[0]) || GWLPIsStringLike(*values[1])) {
    std::string text = values[0]->stringValueOrError(out);
    if (out.failed()) return undefined();
    std::string second = values[1]->stringValueOrError(out);
    if (out.failed()) return undefined();
    if (!GWLPReserveText(scope, text.size() + second.size(), out)) return undefined();
    text += second;
    return GWLPStringValue::make(std::move(text));
  }
  double left = values[0]->doubleValueOrError(out);
  if (out.failed()) return undefined();
  double right = values[1]->doubleValueOrError(out);
  if (out.failed()) return undefined();
  return GWLPNumberValue::make(left + right);
}

}  // namespace

GWLPMathCommandEvaluator::GWLPMathCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"0", "10", "25", "26", "27", "32", "33", "34", "35", "37"},
                                  GWLPArgumentStyle::Values) {
  handlers_["0"] = add;
  handlers_["37"] = arithmetic([](double a, double b) { return a - b; });
  handlers_["26"] = arithmetic([](double a, double b) { return a * b; });
  handlers_["10"] = arithmetic([](double a, double b) { return a / b; });
  // fmod is the remainder of the truncated quotient: the dividend's sign, NaN
  // for a zero divisor or an infinite dividend, the dividend itself for an
  // infinite divisor.
  handlers_["25"] = arithmetic([](double a, double b) { return std::fmod(a, b); });
  handlers_["27"] = [](const GWLPValueList& values, const GWLPScopeRef&, platform::Error* error) -> GWLPValueRef {
    GWLPErrorOut out(error);
    if (!GWLPCheckArgumentCount(values, 1, out)) return undefined();
    double value = values[0]->doubleValueOrError(out);
    if (out.failed()) return undefined();
    return GWLPNumberValue::make(-value);
  };
  auto firstOfTwo = [](const GWLPValueList& values, const GWLPScopeRef&, platform::Error* error) -> GWLPValueRef {
    if (!GWLPCheckArgumentCount(values, 2, error)) return undefined();
    return values[0];
  };
  handlers_["32"] = firstOfTwo;
  handlers_["33"] = firstOfTwo;
  auto identity = [](const GWLPValueList& values, const GWLPScopeRef&, platform::Error* error) -> GWLPValueRef {
    if (!GWLPCheckArgumentCount(values, 1, error)) return undefined();
    return values[0];
  };
  handlers_["34"] = identity;
  handlers_["35"] = identity;
}
