#include "analytics/audiences/interpreter/GWLPBitwiseCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

// A command over the number values of two operands, read in order.
template <typename Operation>
GWLPCommandHandler binary(Operation operation) {
  return [operation](const GWLPValueList& values, const GWLPScopeRef&, platform::Error* error) -> GWLPValueRef {
    GWLPErrorOut out(error);
    if (!GWLPCheckArgumentCount(values, 2, out)) return GWLPUndefinedValue::sharedInstance();
    double left = values[0]->doubleValueOrError(out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    double right = values[1]->doubleValueOrError(out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    return GWLPNumberValue::make(operation(left, right));
  };
}

// The shift count: the low 5 bits of the unsigned 32-bit conversion.
uint32_t shiftCount(double value) { return GWLPToUint32(value) & 31u; }

}  // namespace

GWLPBitwiseCommandEvaluator::GWLPBitwiseCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"56", "57", "58", "59", "60", "61", "62"}, GWLPArgumentStyle::Values) {
  handlers_["56"] = binary([](double a, double b) { return double(GWLPToInt32(a) & GWLPToInt32(b)); });
  handlers_["59"] = binary([](double a, double b) { return double(GWLPToInt32(a) | GWLPToInt32(b)); });
  handlers_["62"] = binary([](double a, double b) { return double(GWLPToInt32(a) ^ GWLPToInt32(b)); });
  handlers_["57"] = binary([](double a, double b) {
    // Shifting the unsigned pattern keeps the operation defined for every bit.
    return double(static_cast<int32_t>(static_cast<uint32_t>(GWLPToInt32(a)) << shiftCount(b)));
  });
  handlers_["60"] = binary([](double a, double b) { return double(GWLPToInt32(a) >> shiftCount(b)); });
  handlers_["61"] = binary([](double a, double b) { return double(GWLPToUint32(a) >> shiftCount(b)); });
  handlers_["58"] = [](const GWLPValueList& values, const GWLPScopeRef&, platform::Error* error) -> GWLPValueRef {
    GWLPErrorOut out(error);
    if (!GWLPCheckArgumentCount(values, 1, out)) return GWLPUndefinedValue::sharedInstance();
    double value = values[0]->doubleValueOrError(out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    return GWLPNumberValue::make(double(~GWLPToInt32(value)));
  };
}
