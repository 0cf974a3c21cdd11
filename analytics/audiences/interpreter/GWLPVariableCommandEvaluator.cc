#include "analytics/audiences/interpreter/GWLPVariableCommandEvaluator.h"

#include <map>

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

// The property name of a key: a text key's own text (not copied), else its
// text value in `storage`; none on a conversion failure.
const std::string* propertyName(const GWLPValueRef& key, std::string& storage, GWLPErrorOut& out) {
  if (key->isString()) return &static_cast<const GWLPStringValue&>(*key).value();
  storage = key->stringValueOrError(out);
  return out.failed() ? nullptr : &storage;
}

GWLPValueRef assign(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error) {
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

GWLPValueRef declareVariables(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  for (const auto& value : values) {
    const std::string* name = nameOf(value, out);
    if (!name || !GWLPReserveProperty(scope, name->size(), out)) return undefined();
    scope->addValue(undefined(), *name);
  }
  return undefined();
}

GWLPValueRef declareConstants(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error) {
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

GWLPValueRef getProperty(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 2, out)) return undefined();
  const GWLPValueRef& object = values[0];
  const GWLPValueRef& key = values[1];
  switch (object->valueKind()) {
    case GWLPValueKind::Array:
      return static_cast<const GWLPArrayValue&>(*object).valueForProperty(*key, out);
    case GWLPValueKind::Map:
    case GWLPValueKind::Function: {
      std::string storage;
      const std::string* name = propertyName(key, storage, out);
      if (!name) return undefined();
      return object->isMap() ? static_cast<const GWLPMapValue&>(*object).valueForProperty(*name)
                             : static_cast<const GWLPFunctionValue&>(*object).valueForProperty(*name);
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

GWLPValueRef setProperty(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error) {
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
    std::string storage;
    const std::string* name = propertyName(values[1], storage, out);
    if (!name || !GWLPReserveProperty(scope, name->size(), out)) return undefined();
    if (object->isMap()) {
      static_cast<GWLPMapValue&>(*object).setValue(value, *name);
    } else {
      static_cast<GWLPFunctionValue&>(*object).setValue(value, *name);
    }
  }
  return value;
}

GWLPValueRef createArray(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error) {
  auto array = GWLPObjectManager::arrayValueWithArray(GWLPValueList(values.begin(), values.end()), scope, error);
  return array ? GWLPValueRef(array) : undefined();
}

GWLPValueRef createObject(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error) {
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

GWLPValueRef typeOf(GWLPValueSpan values, const GWLPScopeRef&, platform::Error* error) {
  if (!GWLPCheckArgumentCount(values, 1, error)) return undefined();
  // Texts never change and compare by their text: each answer is made once.
  static const auto* const answers = new std::map<GWLPValueKind, GWLPValueRef>{
      {GWLPValueKind::Boolean, GWLPStringValue::make("boolean")},
      {GWLPValueKind::Function, GWLPStringValue::make("function")},
      {GWLPValueKind::Number, GWLPStringValue::make("number")},
      {GWLPValueKind::String, GWLPStringValue::make("string")},
      {GWLPValueKind::Undefined, GWLPStringValue::make("undefined")},
  };
  static const auto* const object = new GWLPValueRef(GWLPStringValue::make("object"));
  auto it = answers->find(values[0]->valueKind());
  return it == answers->end() ? *object : it->second;
}

GWLPValueRef undefinedLiteral(GWLPValueSpan, const GWLPScopeRef&, platform::Error*) { return undefined(); }

GWLPValueRef nullLiteral(GWLPValueSpan, const GWLPScopeRef&, platform::Error*) {
  return GWLPNullValue::sharedInstance();
}

}  // namespace

GWLPVariableCommandEvaluator::GWLPVariableCommandEvaluator()
    : GWLPHandlerCommandEvaluator(GWLPCommandEvaluatorKind::Variable, GWLPArgumentStyle::Values) {
  setHandler(GWLPCommand::Assign, assign);
  setHandler(GWLPCommand::CreateArray, createArray);
  setHandler(GWLPCommand::CreateObject, createObject);
  setHandler(GWLPCommand::GetVariable, GWLPGetVariable);
  setHandler(GWLPCommand::GetProperty, getProperty);
  setHandler(GWLPCommand::Typeof, typeOf);
  setHandler(GWLPCommand::DeclareVariables, declareVariables);
  setHandler(GWLPCommand::SetProperty, setProperty);
  setHandler(GWLPCommand::UndefinedLiteral, undefinedLiteral);
  setHandler(GWLPCommand::NullLiteral, nullLiteral);
  setHandler(GWLPCommand::DeclareConstants, declareConstants);
}

GWLPValueRef GWLPGetVariable(GWLPValueSpan values, const GWLPScopeRef& scope, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!GWLPCheckArgumentCount(values, 1, out)) return undefined();
  const std::string* name = nameOf(values[0], out);
  return name ? scope->valueForName(*name) : undefined();
}
