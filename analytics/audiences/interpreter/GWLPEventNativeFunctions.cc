#include "analytics/audiences/interpreter/GWLPEventNativeFunctions.h"

#include <string_view>

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPEventContext.h"
#include "analytics/audiences/interpreter/GWLPNullValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

using Handler = GWLPEventNativeFunctions::Handler;

GWLPValueRef undefined() { return GWLPUndefinedValue::sharedInstance(); }

GWLPValueRef getEventName(GWLPEventContext& context, GWLPValueSpan, const GWLPScopeRef&, platform::Error*) {
  return context.outputEventNameValue();
}

GWLPValueRef getParamValue(GWLPEventContext& context, GWLPValueSpan values, const GWLPScopeRef& scope,
                           platform::Error* error) {
  GWLPErrorOut out(error);
  std::string storage;
  const std::string* name = GWLPTextOf(*values[0], storage, out);
  if (!name) return undefined();
  const platform::Object* value = context.outputEvent().parameterForName(*name);
  if (!value) return GWLPNullValue::sharedInstance();
  return context.parameterValue(*name, *value, scope, out);
}

GWLPValueRef getParams(GWLPEventContext& context, GWLPValueSpan, const GWLPScopeRef& scope,
                       platform::Error* error) {
  GWLPErrorOut out(error);
  auto map = GWLPObjectManager::mapValueWithScope(scope);
  for (const auto& [name, value] : context.outputEvent().parameters()) {
    GWLPValueRef converted = context.parameterValue(name, value, scope, out);
    if (out.failed()) return undefined();
    map->setValue(std::move(converted), name);
  }
  return map;
}

GWLPValueRef getTimestamp(GWLPEventContext& context, GWLPValueSpan, const GWLPScopeRef&, platform::Error*) {
  return GWLPNumberValue::make(context.outputEvent().timestamp());
}

GWLPValueRef setEventName(GWLPEventContext& context, GWLPValueSpan values, const GWLPScopeRef&,
                          platform::Error* error) {
  GWLPErrorOut out(error);
  if (values[0]->isUndefined() || values[0]->isNull()) {
    out.fail(kGWLPErrorArgumentType);
    return undefined();
  }
  std::string name = values[0]->stringValueOrError(out);
  if (out.failed()) return undefined();
  context.outputEvent().setName(name);
  return GWLPStringValue::make(std::move(name));
}

GWLPValueRef setParamValue(GWLPEventContext& context, GWLPValueSpan values, const GWLPScopeRef& scope,
                           platform::Error* error) {
  GWLPErrorOut out(error);
  std::string storage;
  const std::string* name = GWLPTextOf(*values[0], storage, out);
  if (!name) return undefined();
  platform::Object value = GWLPRuntimeEntityConverter::objectFromRuntimeValue(*values[1], out);
  if (out.failed()) return undefined();
  if (!value.isNull() && (!GWLPReserveHeap(scope, name->size(), out) || !GWLPReserveNativeValue(scope, value, out))) {
    return undefined();
  }
  context.outputEvent().setParameter(std::move(value), *name);
  return values[1];
}

struct Method {
  std::string_view name;
  size_t argumentCount;
  Handler handler;
};

constexpr Method kMethods[] = {
    {"getEventName", 0, getEventName}, {"getParamValue", 1, getParamValue}, {"getParams", 0, getParams},
    {"getTimestamp", 0, getTimestamp}, {"setEventName", 1, setEventName},   {"setParamValue", 2, setParamValue},
};

const Method* methodNamed(const std::string& name) {
  for (const Method& method : kMethods) {
    if (GWLPSameName(method.name, name)) return &method;
  }
  return nullptr;
}

}  // namespace

GWLPValueRef GWLPEventNativeFunctions::applyWithName(const std::string& name, const GWLPValueList& arguments,
                                                     const GWLPScopeRef& scope, platform::Error* error) {
  const Method* method = methodNamed(name);
  if (!method) return GWLPMapValue::applyWithName(name, arguments, scope, error);
  // Evaluating the arguments may drop the last other reference to this
  // object; the method needs only the context, so that is what is held.
  const std::shared_ptr<GWLPEventContext> context = eventContext_;
  GWLPErrorOut out(error);
  GWLPValueBuffer values;
  if (!GWLPEvaluateArgumentsInto(arguments, scope, values, out) ||
      !GWLPCheckArgumentCount(values.span(), method->argumentCount, out)) {
    return undefined();
  }
  return method->handler(*context, values.span(), scope, out);
}
