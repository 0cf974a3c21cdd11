#include "analytics/audiences/interpreter/GWLPRuntimeEntityConverter.h"

#include <cmath>
#include <limits>
#include <unordered_set>

#include "analytics/audiences/interpreter/GWLPArrayValue.h"
#include "analytics/audiences/interpreter/GWLPBooleanValue.h"
#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPLimits.h"
#include "analytics/audiences/interpreter/GWLPMapValue.h"
#include "analytics/audiences/interpreter/GWLPNullValue.h"
#include "analytics/audiences/interpreter/GWLPNumberValue.h"
#include "analytics/audiences/interpreter/GWLPObjectManager.h"
#include "analytics/audiences/interpreter/GWLPStatementValue.h"
#include "analytics/audiences/interpreter/GWLPStringValue.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

GWLPValueRef undefined() { return GWLPUndefinedValue::sharedInstance(); }

GWLPValueRef convertEntity(const GWLPRuntimeEntity& entity, int depth, platform::Error* error);

GWLPValueRef convertStatement(const GWLPRuntimeEntity& entity, int depth, platform::Error* error) {
  GWLPErrorOut out(error);
  if (!entity.functionName) {
    out.fail(kGWLPErrorStatementWithoutName);
    return undefined();
  }
  if (depth >= kGWLPMaxEntityDepth) {
    out.fail(kGWLPErrorResourceLimit);
    return undefined();
  }
  GWLPValueList arguments;
  arguments.reserve(entity.value.size());
  for (const auto& argument : entity.value) {
    arguments.push_back(convertEntity(argument, depth + 1, out));
    if (out.failed()) return undefined();
  }
  return std::make_shared<GWLPStatementValue>(*entity.functionName, std::move(arguments));
}

GWLPValueRef convertEntity(const GWLPRuntimeEntity& entity, int depth, platform::Error* error) {
  switch (entity.kind) {
    case kGWLPEntityKindString:
      return GWLPRuntimeEntityConverter::stringValueFromRuntimeEntity(entity);
    case kGWLPEntityKindNumber:
      return GWLPRuntimeEntityConverter::numberValueFromRuntimeEntity(entity);
    case kGWLPEntityKindBoolean:
      return GWLPRuntimeEntityConverter::booleanValueFromRuntimeEntity(entity);
    case kGWLPEntityKindStatement:
      return convertStatement(entity, depth, error);
    default:
      platform::setError(error, GWLPRuntimeError(kGWLPErrorUnknownEntityKind));
      return undefined();
  }
}

GWLPValueRef fromObject(const platform::Object& object, const GWLPScopeRef& scope, int depth,
                        platform::Error* error) {
  GWLPErrorOut out(error);
  switch (object.type()) {
    case platform::Object::Type::Null:
      return GWLPNullValue::sharedInstance();
    case platform::Object::Type::Bool:
      return GWLPBooleanValue::booleanValueWithBool(*object.boolValue());
    case platform::Object::Type::Int:
    case platform::Object::Type::Double:
      return GWLPNumberValue::make(*object.numberValue());
    case platform::Object::Type::String:
      return GWLPStringValue::make(*object.stringValue());
    case platform::Object::Type::Dictionary: {
      if (depth >= kGWLPMaxValueDepth) {
        out.fail(kGWLPErrorResourceLimit);
        return undefined();
      }
      auto map = GWLPObjectManager::mapValueWithScope(scope);
      for (const auto& [key, entry] : *object.dictionaryValue()) {
        GWLPValueRef value = fromObject(entry, scope, depth + 1, out);
        if (out.failed()) return undefined();
        map->setValue(std::move(value), key);
      }
      return map;
    }
    case platform::Object::Type::Array: {
      if (depth >= kGWLPMaxValueDepth) {
        out.fail(kGWLPErrorResourceLimit);
        return undefined();
      }
      GWLPValueList elements;
      elements.reserve(object.arrayValue()->size());
      for (const auto& entry : *object.arrayValue()) {
        elements.push_back(fromObject(entry, scope, depth + 1, out));
        if (out.failed()) return undefined();
      }
      auto array = GWLPObjectManager::arrayValueWithArray(std::move(elements), scope, out);
      return array ? GWLPValueRef(array) : undefined();
    }
    default:
      out.fail(kGWLPErrorUnsupportedNativeValue);
      return undefined();
  }
}

// Texts that must keep their characters when handed out: blank text, text
// whose number is not finite, and integers with leading zeros.
bool staysText(const std::string& text, double number) {
  std::string_view trimmed = GWLPTrimWhitespace(text);
  if (trimmed.empty() || !std::isfinite(number)) return true;
  if (!trimmed.empty() && (trimmed[0] == '+' || trimmed[0] == '-')) trimmed.remove_prefix(1);
  if (trimmed.size() < 2 || trimmed[0] != '0') return false;
  for (char c : trimmed) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Whether `text` stays text, told from its first byte alone: a text that
// starts with an ASCII letter reads as no number, or as "Infinity", which
// stays text too, so most words a rule hands over need no parsing.
bool startsWithLetter(const std::string& text) {
  if (text.empty()) return false;
  const char first = text[0];
  return (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z');
}

// The containers on the path being converted, to refuse cycles.
struct NativeState {
  std::unordered_set<const GWLPRuntimeValue*> path;
};

platform::Object toObject(const GWLPRuntimeValue& value, NativeState& state, platform::Error* error);

platform::Dictionary toDictionary(const GWLPMapValue& map, NativeState& state, platform::Error* error) {
  GWLPErrorOut out(error);
  platform::Dictionary dictionary;
  if (state.path.count(&map)) {
    out.fail(kGWLPErrorArgumentType);
    return dictionary;
  }
  if (state.path.size() >= static_cast<size_t>(kGWLPMaxValueDepth)) {
    out.fail(kGWLPErrorResourceLimit);
    return dictionary;
  }
  state.path.insert(&map);
  map.propertyMap().forEach([&](const std::string& name, const GWLPPropertyMap::Entry& entry) {
    if (out.failed()) return;
    platform::Object object = toObject(*entry.value, state, out);
    if (!out.failed() && !object.isNull()) dictionary.emplace(name, std::move(object));
  });
  state.path.erase(&map);
  return dictionary;
}

platform::Object toObject(const GWLPRuntimeValue& value, NativeState& state, platform::Error* error) {
  GWLPErrorOut out(error);
  switch (value.valueKind()) {
    case GWLPValueKind::Null:
      return platform::Object();
    case GWLPValueKind::Undefined:
      return platform::Object(std::string());
    case GWLPValueKind::Map:
      return platform::Object(toDictionary(static_cast<const GWLPMapValue&>(value), state, out));
    case GWLPValueKind::Array: {
      const auto& array = static_cast<const GWLPArrayValue&>(value);
      platform::Array elements;
      if (state.path.count(&array)) {
        out.fail(kGWLPErrorArgumentType);
        return platform::Object(std::move(elements));
      }
      if (state.path.size() >= static_cast<size_t>(kGWLPMaxValueDepth)) {
        out.fail(kGWLPErrorResourceLimit);
        return platform::Object(std::move(elements));
      }
      state.path.insert(&array);
      for (const auto& element : array.allElements()) {
        elements.push_back(toObject(*element, state, out));
        if (out.failed()) break;
      }
      state.path.erase(&array);
      return platform::Object(std::move(elements));
    }
    case GWLPValueKind::String: {
      const std::string& text = static_cast<const GWLPStringValue&>(value).value();
      if (startsWithLetter(text)) return platform::Object(text);
      double number = GWLPStringValue::doubleFromString(text);
      if (std::isnan(number) || staysText(text, number)) return platform::Object(text);
      return platform::Object(number);
    }
    default: {
      double number = value.doubleValueOrError(out);
      if (out.failed()) return platform::Object();
      if (!std::isnan(number)) return platform::Object(number);
      std::string text = value.stringValueOrError(out);
      if (out.failed()) return platform::Object();
      return platform::Object(std::move(text));
    }
  }
}

}  // namespace

GWLPValueRef GWLPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(const GWLPRuntimeEntity& entity,
                                                                       platform::Error* error) {
  return convertEntity(entity, 0, error);
}

GWLPValueRef GWLPRuntimeEntityConverter::stringValueFromRuntimeEntity(const GWLPRuntimeEntity& entity) {
  return GWLPStringValue::make(entity.stringValue.value_or(std::string()));
}

GWLPValueRef GWLPRuntimeEntityConverter::numberValueFromRuntimeEntity(const GWLPRuntimeEntity& entity) {
  return GWLPNumberValue::make(entity.numberValue.value_or(std::numeric_limits<double>::quiet_NaN()));
}

GWLPValueRef GWLPRuntimeEntityConverter::booleanValueFromRuntimeEntity(const GWLPRuntimeEntity& entity) {
  return GWLPBooleanValue::booleanValueWithBool(entity.booleanValue.value_or(false));
}

GWLPValueRef GWLPRuntimeEntityConverter::statementValueFromRuntimeEntity(const GWLPRuntimeEntity& entity,
                                                                         platform::Error* error) {
  return convertStatement(entity, 0, error);
}

GWLPValueRef GWLPRuntimeEntityConverter::runtimeValueFromNSObject(const platform::Object& object,
                                                                  const GWLPScopeRef& scope,
                                                                  platform::Error* error) {
  return fromObject(object, scope, 0, error);
}

platform::Object GWLPRuntimeEntityConverter::objectFromRuntimeValue(const GWLPRuntimeValue& value,
                                                                    platform::Error* error) {
  NativeState state;
  return toObject(value, state, error);
}

platform::Dictionary GWLPRuntimeEntityConverter::dictionaryFromMapValue(const GWLPMapValue& map,
                                                                        platform::Error* error) {
  NativeState state;
  return toDictionary(map, state, error);
}
