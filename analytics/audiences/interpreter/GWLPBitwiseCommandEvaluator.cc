#include "analytics/audiences/interpreter/GWLPBitwiseCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

// A command over the number values of two operands, read in order.
template <typename Operation>
GWLPValueRef binary(GWLPValueSpan values, const GWLPScopeRef&, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 2, out)) return GWLPUndefinedValue::sharedInstance();
  double left = values[0]->doubleValueOrError(out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  double right = values[1]->doubleValueOrError(out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  return GWLPNumberValue::make(Operation{}(left, right));
}

// The shift count: the low 5 bits of the unsigned 32-bit conversion.
uint32_t shiftCount(double value) { return GWLPToUint32(value) & 31u; }

struct And {
  double operator()(double a, double b) const { return double(GWLPToInt32(a) & GWLPToInt32(b)); }
};
struct Or {
  double operator()(double a, double b) const { return double(GWLPToInt32(a) | GWLPToInt32(b)); }
};
struct Xor {
  double operator()(double a, double b) const { return double(GWLPToInt32(a) ^ GWLPToInt32(b)); }
};
struct ShiftLeft {
  // Shifting the unsigned pattern keeps the operation defined for every bit.
  double operator()(double a, double b) const {
    return double(static_cast<int32_t>(static_cast<uint32_t>(GWLPToInt32(a)) << shiftCount(b)));
  }
};
struct ShiftRight {
  double operator()(double a, double b) const { return double(GWLPToInt32(a) >> shiftCount(b)); }
};
struct ShiftRightUnsigned {
  double operator()(double a, double b) const { return double(GWLPToUint32(a) >> shiftCount(b)); }
};

GWLPValueRef bitwiseNot(GWLPValueSpan values, const GWLPScopeRef&, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 1, out)) return GWLPUndefinedValue::sharedInstance();
  double value = values[0]->doubleValueOrError(out);
  if (out.failed()) return GWLPUndefinedValue::sharedInstance();
  return GWLPNumberValue::make(double(~GWLPToInt32(value)));
}

}  // namespace

GWLPBitwiseCommandEvaluator::GWLPBitwiseCommandEvaluator()
    : GWLPHandlerCommandEvaluator(GWLPCommandEvaluatorKind::Bitwise, GWLPArgumentStyle::Values) {
  setHandler(GWLPCommand::BitwiseAnd, binary<And>);
  setHandler(GWLPCommand::BitwiseOr, binary<Or>);
  setHandler(GWLPCommand::BitwiseXor, binary<Xor>);
  setHandler(GWLPCommand::ShiftLeft, binary<ShiftLeft>);
  setHandler(GWLPCommand::ShiftRight, binary<ShiftRight>);
  setHandler(GWLPCommand::ShiftRightUnsigned, binary<ShiftRightUnsigned>);
  setHandler(GWLPCommand::BitwiseNot, bitwiseNot);
}
