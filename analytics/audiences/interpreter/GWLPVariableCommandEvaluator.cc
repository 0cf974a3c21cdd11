#include "analytics/audiences/interpreter/GWLPVariableCommandEvaluator.h"

#include "analytics/audiences/interpreter/GWLPArguments.h"
#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPFunctionValue.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPNullValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPScope.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"
#include "platform/text/Utf8.h"

namespace {

GWLPValueRef undefined() { return GWLPUndefinedValue::sharedInstance(); }

// The text of a name value, which must be a text value (error 10).
const std::string* nameOf(const GWLPValueRef& value, GWLPErrorOut& out) {
  if (!value->isString()) {
    out.fail(kGWLPErrorArgumentType);
    return nullptr;
  }
  return &static_cast<const GWLPStringValue&>(*value).value();
}

GWLPValueRef assign(const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 2, out)) return undefined();
  const std::string* name = nameOf(values[0], out);
  if (!name) return undefined();
  if (!scope->hasName(*name)) {
    out.fail(kGWLPErrorUndeclaredAssignment);
    return undefined();
  }
  scope->setValue(values[1], *name);
  return values[1];
}

GWLPValueRef declareVariables(const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  for (const auto& value : values) {
    const std::string* name = nameOf(value, out);
    if (!name || !GWLPReserveProperty(scope, name->size(), out)) return undefined();
    scope->addValue(undefined(), *name);
  }
  return undefined();
}

GWLPValueRef declareConstants(const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (values.size() % 2 != 0) {
    out.fail(kGWLPErrorArgumentCount);
    return undefined();
  }
  for (size_t i = 0; i < values.size(); i += 2) {
    const std::string* name = nameOf(values[i], out);
    if (!name || !GWLPReserveProperty(scope, name->size(), out)) return undefined();
    scope->addImmutableValue(values[i + 1], *name);
  }
  return undefined();
}

GWLPValueRef getVariable(const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 1, out)) return undefined();
  const std::string* name = nameOf(values[0], out);
  return name ? scope->valueForName(*name) : undefined();
}

// A text's "length" in UTF-16 units, or the one unit at an index below it.
GWLPValueRef stringProperty(const std::string& text, const GWLPValueRef& key, GWLPErrorOut& out) {
  std::string name = key->stringValueOrError(out);
  if (out.failed()) return undefined();
  if (name == "length") return GWLPNumberValue::make(double(platform::utf8::utf16Length(text)));
  auto index = GWLPArrayIndexFromValue(*key);
  if (!index) return undefined();
  std::u16string units = platform::utf8::toUtf16(text);
  if (*index >= units.size()) return undefined();
  return GWLPStringValue::make(platform::utf8::fromUtf16(std::u16string_view(units).substr(*index, 1)));
}

GWLPValueRef getProperty(const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 2, out)) return undefined();
  const GWLPValueRef& object = values[0];
  const GWLPValueRef& key = values[1];
  switch (object->valueKind()) {
    case GWLPValueKind::Array:
      return static_cast<const GWLPArrayValue&>(*object).valueForProperty(*key, out);
    case GWLPValueKind::Map:
    case GWLPValueKind::Function: {
      std::string name = key->stringValueOrError(out);
      if (out.failed()) return undefined();
      return object->isMap() ? static_cast<const GWLPMapValue&>(*object).valueForProperty(name)
                             : static_cast<const GWLPFunctionValue&>(*object).valueForProperty(name);
    }
    case GWLPValueKind::String: {
      // Counting units reads the whole text: charged to the run's work budget.
      const std::string& text = static_cast<const GWLPStringValue&>(*object).value();
      if (!GWLPChargeWork(scope, text.size() + 1, out)) return undefined();
      return stringProperty(text, key, out);
    }
    default:
      return undefined();
  }
}

GWLPValueRef setProperty(const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 3, out)) return undefined();
  const GWLPValueRef& object = values[0];
  const GWLPValueRef& value = values[2];
  if (object->isNull() || object->isUndefined()) {
    out.fail(kGWLPErrorPropertyOfNullOrUndefined);
    return undefined();
  }
  if (object->isArray()) {
    // The value is the result even when the store fails (the error says why).
    static_cast<GWLPArrayValue&>(*object).setValue(value, *values[1], out);
    return value;
  }
  if (object->isMap() || object->isFunction()) {
    std::string name = values[1]->stringValueOrError(out);
    if (out.failed() || !GWLPReserveProperty(scope, name.size(), out)) return undefined();
    if (object->isMap()) {
      static_cast<GWLPMapValue&>(*object).setValue(value, name);
    } else {
      static_cast<GWLPFunctionValue&>(*object).setValue(value, name);
    }
  }
  return value;
}

GWLPValueRef createArray(const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
  auto array = GWLPObjectManager::arrayValueWithArray(values, scope, error);
  return array ? GWLPValueRef(array) : undefined();
}

GWLPValueRef createObject(const GWLPValueList& values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (values.size() % 2 != 0) {
    out.fail(kGWLPErrorArgumentCount);
    return undefined();
  }
  auto map = GWLPObjectManager::mapValueWithScope(scope);
  for (size_t i = 0; i < values.size(); i += 2) {
    std::string name = values[i]->stringValueOrError(out);
    if (out.failed() || !GWLPReserveProperty(scope, name.size(), out)) return undefined();
    map->setValue(values[i + 1], name);
  }
  return map;
}

GWLPValueRef typeOf(const GWLPValueList& values, const GWLPScopeRef&, platform::Error* error) {
  if (!GWLPCheckArgumentCount(values, 1, error)) return undefined();
  const char* type = "object";
  switch (values[0]->valueKind()) {
    case GWLPValueKind::Boolean:
      type = "boolean";
      break;
    case GWLPValueKind::Function:
      type = "function";
      break;
    case GWLPValueKind::Number:
      type = "number";
      break;
    case GWLPValueKind::String:
      type = "string";
      break;
    case GWLPValueKind::Undefined:
      type = "undefined";
      break;
    default:
      break;
  }
  return GWLPStringValue::make(type);
}

}  // namespace

GWLPVariableCommandEvaluator::GWLPVariableCommandEvaluator()
    : GWLPHandlerCommandEvaluator({"3", "7", "8", "15", "16", "17", "40", "41", "43", "44", "45", "52"},
                                  GWLPArgumentStyle::Values) {
  handlers_["3"] = assign;
  handlers_["7"] = createArray;
  handlers_["8"] = createObject;
  handlers_["15"] = getVariable;
  handlers_["16"] = getProperty;
  handlers_["17"] = getProperty;
  handlers_["40"] = typeOf;
  handlers_["41"] = declareVariables;
  handlers_["43"] = setProperty;
  handlers_["44"] = [](const GWLPValueList&, const GWLPScopeRef&, platform::Error*) { return undefined(); };
  handlers_["45"] = [](const GWLPValueList&, const GWLPScopeRef&, platform::Error*) {
    return GWLPNullValue::sharedInstance();
  };
  handlers_["52"] = declareConstants;
}
