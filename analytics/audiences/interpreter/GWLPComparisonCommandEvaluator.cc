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
template <typename Test>
GWLPCommandHandler comparison(Test test) {
  return [test](const GWLPValueList& values, const GWLPScopeRef&, platform::Error* error) -> GWLPValueRef {
    GWLPErrorOut out(error);
    bool result = test(*values[0], *values[1], out.get());
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    return GWLPBooleanValue::booleanValueWithBool(result);
  };
}

}  // namespace

GWLPComparisonCommandEvaluator::GWLPComparisonCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"12", "18", "19", "20", "21", "23", "24", "29"}, GWLPArgumentStyle::TwoValues) {
  using Value = const GWLPRuntimeValue&;
  handlers_["12"] = comparison([](Value a, Value b, platform::Error* e) { return looseEquals(a, b, e); });
  handlers_["29"] = comparison([](Value a, Value b, platform::Error* e) { return !looseEquals(a, b, e); });
  handlers_["20"] = comparison([](Value a, Value b, platform::Error* e) { return GWLPStrictEquals(a, b, e); });
  handlers_["21"] = comparison([](Value a, Value b, platform::Error* e) { return !GWLPStrictEquals(a, b, e); });
  handlers_["23"] = comparison([](Value a, Value b, platform::Error* e) { return GWLPCompareValues(a, b, e) == -1; });
  handlers_["24"] = comparison([](Value a, Value b, platform::Error* e) { return GWLPCompareValues(a, b, e) <= 0; });
  handlers_["18"] = comparison([](Value a, Value b, platform::Error* e) { return GWLPCompareValues(b, a, e) == -1; });
  handlers_["19"] = comparison([](Value a, Value b, platform::Error* e) { return GWLPCompareValues(b, a, e) <= 0; });
}
