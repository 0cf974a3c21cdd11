#include "analytics/audiences/interpreter/GWLPMapValue.h"

#include <cmath>

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"

GWLPValueRef GWLPApplyPropertyMethod(GWLPRuntimeValue& receiver, const GWLPPropertyMap& properties,
                                     const std::string& name, const GWLPValueList& arguments,
                                     const GWLPScopeRef& scope, platform::Error* error) {
  if (const GWLPValueRef* found = properties.find(name)) {
    GWLPValueRef property = *found;
    if (property->isFunction()) {
      // Keep the function alive while it runs, whatever the call does to the receiver.
      auto function = std::static_pointer_cast<GWLPFunctionValue>(property);
      return function->invokeWithArguments(arguments, scope, error);
    }
    platform::setError(error, GWLPRuntimeError(kGWLPErrorNoSuchMethod));
    return GWLPUndefinedValue::sharedInstance();
  }
  if (name == "hasOwnProperty") {
    GWLPErrorOut out(error);
    GWLPValueList values = GWLPEvaluateArguments(arguments, scope, out);
    if (out.failed() || !GWLPCheckArgumentCount(values, 1, out)) return GWLPUndefinedValue::sharedInstance();
    std::string key = values[0]->stringValueOrError(out);
    if (out.failed()) return GWLPUndefinedValue::sharedInstance();
    return GWLPBooleanValue::booleanValueWithBool(properties.hasName(key));
  }
  return receiver.GWLPRuntimeValue::applyWithName(name, arguments, scope, error);
}

std::string GWLPMapValue::stringValueOrError(platform::Error*) const { return "[object Object]"; }

double GWLPMapValue::doubleValueOrError(platform::Error*) const { return std::nan(""); }

bool GWLPMapValue::booleanValueOrError(platform::Error*) const { return true; }

GWLPValueRef GWLPMapValue::applyWithName(const std::string& name, const GWLPValueList& arguments,
                                         const GWLPScopeRef& scope, platform::Error* error) {
  return GWLPApplyPropertyMethod(*this, propertyMap_, name, arguments, scope, error);
}

bool GWLPMapValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const {
  if (this == &other) return true;
  if (other.valueKind() != GWLPValueKind::Map) return false;
  const auto& map = static_cast<const GWLPMapValue&>(other);
  if (map.propertyMap_.count() != propertyMap_.count()) return false;
  return context.compareNested(this, &other, [&] {
    bool equal = true;
    propertyMap_.forEach([&](const std::string& name, const GWLPPropertyMap::Entry& entry) {
      if (!equal) return;
      const GWLPValueRef* value = map.propertyMap_.find(name);
      equal = value && entry.value->isEqualToRuntimeValue(**value, context);
    });
    return equal;
  });
}

void GWLPMapValue::markInto(GWLPMarkStack& stack) {
  if (mark_) return;
  mark_ = true;
  propertyMap_.markValuesInto(stack);
}

void GWLPMapValue::sweep() {
  if (mark_) {
    mark_ = false;
  } else {
    releaseContents();
  }
}
