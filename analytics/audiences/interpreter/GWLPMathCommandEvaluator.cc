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
template <double (*Operation)(double, double)>
GWLPValueRef arithmetic(GWLPValueSpan values, const GWLPScopeRef&, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 2, out)) return undefined();
  double left = values[0]->doubleValueOrError(out);
  if (out.failed()) return undefined();
  double right = values[1]->doubleValueOrError(out);
  if (out.failed()) return undefined();
  return GWLPNumberValue::make(Operation(left, right));
}

double subtract(double a, double b) { return a - b; }
double multiply(double a, double b) { return a * b; }
double divide(double a, double b) { return a / b; }
// fmod is the remainder of the truncated quotient: the dividend's sign, NaN
// for a zero divisor or an infinite dividend, the dividend itself for an
// infinite divisor.
double modulo(double a, double b) { return std::fmod(a, b); }

GWLPValueRef negate(GWLPValueSpan values, const GWLPScopeRef&, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 1, out)) return undefined();
  double value = values[0]->doubleValueOrError(out);
  if (out.failed()) return undefined();
  return GWLPNumberValue::make(-value);
}

GWLPValueRef firstOfTwo(GWLPValueSpan values, const GWLPScopeRef&, platform::Error* error) {
  if (!GWLPCheckArgumentCount(values, 2, error)) return undefined();
  return values[0];
}

GWLPValueRef identity(GWLPValueSpan values, const GWLPScopeRef&, platform::Error* error) {
  if (!GWLPCheckArgumentCount(values, 1, error)) return undefined();
  return values[0];
}

// Texts when either operand is string-like, else the IEEE sum.
GWLPValueRef add(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error) {
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
    : GWLPHandlerCommandEvaluator(GWLPCommandEvaluatorKind::Math, GWLPArgumentStyle::Values) {
  setHandler(GWLPCommand::Add, add);
  setHandler(GWLPCommand::Subtract, arithmetic<subtract>);
  setHandler(GWLPCommand::Multiply, arithmetic<multiply>);
  setHandler(GWLPCommand::Divide, arithmetic<divide>);
  setHandler(GWLPCommand::Modulo, arithmetic<modulo>);
  setHandler(GWLPCommand::Negate, negate);
  setHandler(GWLPCommand::FirstOfTwo, firstOfTwo);
  setHandler(GWLPCommand::Identity, identity);
}
