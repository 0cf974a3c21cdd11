#include "analytics/audiences/interpreter/GWLPComparisonCommandEvaluator.h"

#include <utility>

#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

// Loose equality: the value of the lower equality kind decides how the two
// compare (as texts, as numbers, by identity, or both undefined or null).
bool looseEquals(const GWLPRuntimeValue& x, const GWLPRuntimeValue& y, platform::Error* error) {
  const GWLPRuntimeValue* first = &x;
  const GWLPRuntimeValue* second = &y;
  if (GWLPEqualityKind(*second) < GWLPEqualityKind(*first)) std::swap(first, second);
  switch (GWLPEqualityKind(*first)) {
    case 0:
      return GWLPEqualityKind(*second) == 0;
    case 1:
      return GWLPNumberValuesEqual(*first, *second, error);
    case 2:
      return GWLPStringValuesEqual(*first, *second, error);
    default:
      return first == second;
  }
}

// A command that answers a boolean computed from the two values.
template <bool (*Test)(const GWLPRuntimeValue&, const GWLPRuntimeValue&, platform::Error*)>
GWLPValueRef comparison(GWLPValueSpan values, const GWLPScopeRef&, platform::Error* error) {
  GWLPErrorOut out(error);
  bool result = Test(*values[0], *values[1], out.get());
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  return GWLPBooleanValue::booleanValueWithBool(result);
}

using Value = const GWLPRuntimeValue&;
bool looseNotEquals(Value a, Value b, platform::Error* e) { return !looseEquals(a, b, e); }
bool strictEquals(Value a, Value b, platform::Error* e) { return GWLPStrictEquals(a, b, e); }
bool strictNotEquals(Value a, Value b, platform::Error* e) { return !GWLPStrictEquals(a, b, e); }
bool lessThan(Value a, Value b, platform::Error* e) { return GWLPCompareValues(a, b, e) == -1; }
bool lessOrEqual(Value a, Value b, platform::Error* e) { return GWLPCompareValues(a, b, e) <= 0; }
bool greaterThan(Value a, Value b, platform::Error* e) { return GWLPCompareValues(b, a, e) == -1; }
bool greaterOrEqual(Value a, Value b, platform::Error* e) { return GWLPCompareValues(b, a, e) <= 0; }

}  // namespace

GWLPComparisonCommandEvaluator::GWLPComparisonCommandEvaluator()
    : GWLPHandlerCommandEvaluator(GWLPCommandEvaluatorKind::Comparison, GWLPArgumentStyle::TwoValues) {
  setHandler(GWLPCommand::LooseEquals, comparison<looseEquals>);
  setHandler(GWLPCommand::LooseNotEquals, comparison<looseNotEquals>);
  setHandler(GWLPCommand::StrictEquals, comparison<strictEquals>);
  setHandler(GWLPCommand::StrictNotEquals, comparison<strictNotEquals>);
  setHandler(GWLPCommand::LessThan, comparison<lessThan>);
  setHandler(GWLPCommand::LessOrEqual, comparison<lessOrEqual>);
  setHandler(GWLPCommand::GreaterThan, comparison<greaterThan>);
  setHandler(GWLPCommand::GreaterOrEqual, comparison<greaterOrEqual>);
}
