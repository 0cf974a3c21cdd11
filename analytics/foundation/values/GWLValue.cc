#include "analytics/foundation/values/GWLValue.h"

#include <charconv>
#include <functional>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/text/Utf8.h"

namespace {

constexpr int64_t kNilValueCode = 35000;
constexpr const char* kNilValueMessage = "Cannot create Value type with nil value";
constexpr int64_t kUnsupportedValueCode = 35001;
constexpr const char* kUnsupportedValueMessage =
    "Cannot create Value type with unsupported value. The Value has to be NSNumber, NSString or NSArray (if "
    "supported). Value";
constexpr int64_t kNilStringCode = 35002;
constexpr const char* kNilStringMessage = "Cannot create String value with nil";
constexpr int64_t kNonStringCode = 35003;
constexpr const char* kNonStringMessage = "Cannot create String value with non-string value. Value";
constexpr int64_t kNilArrayCode = 35004;
constexpr const char* kNilArrayMessage = "Cannot create Array value with nil";

std::string describeDouble(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::optional<GWLValue> GWLValue::valueFromObject(const platform::Object& object, bool allowArray) {
  auto monitor = GWLLibraryMonitor::monitor();
  switch (object.type()) {
    case platform::Object::Type::Null:
      monitor->logWithLevel(kGWLLevelError, kNilValueCode, kNilValueMessage);
      return std::nullopt;
    case platform::Object::Type::Bool:
      return initWithInt64(*object.boolValue() ? 1 : 0);
    case platform::Object::Type::Int:
      return initWithInt64(*object.intValue());
    case platform::Object::Type::Double:
      return initWithDouble(*object.doubleValue());
    case platform::Object::Type::String:
      if (platform::utf8::isValid(*object.stringValue())) return GWLValue(*object.stringValue());
      break;
    case platform::Object::Type::Array:
      if (allowArray) return GWLValue(std::make_shared<const platform::Array>(*object.arrayValue()));
      break;
    default:
      break;
  }
  monitor->logWithLevel(kGWLLevelError, kUnsupportedValueCode, kUnsupportedValueMessage,
                        GWLLogContext(platform::utf8::replacingInvalid(object.description())));
  return std::nullopt;
}

GWLValue GWLValue::initWithDouble(double value) { return GWLValue(value); }

GWLValue GWLValue::initWithInt64(int64_t value) { return GWLValue(value); }

std::optional<GWLValue> GWLValue::initWithString(std::optional<std::string_view> value) {
  if (!value) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelError, kNilStringCode, kNilStringMessage);
    return std::nullopt;
  }
  if (!platform::utf8::isValid(*value)) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelError, kNonStringCode, kNonStringMessage,
                                               GWLLogContext(platform::utf8::replacingInvalid(*value)));
    return std::nullopt;
  }
  return GWLValue(std::string(*value));
}

std::optional<GWLValue> GWLValue::initWithArray(std::optional<platform::Array> value) {
  if (!value) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelError, kNilArrayCode, kNilArrayMessage);
    return std::nullopt;
  }
  return GWLValue(std::make_shared<const platform::Array>(std::move(*value)));
}

double GWLValue::doubleValue() const {
  const double* value = std::get_if<double>(&value_);
  return value ? *value : 0;
}

int64_t GWLValue::int64Value() const {
  const int64_t* value = std::get_if<int64_t>(&value_);
  return value ? *value : 0;
}

const platform::Array* GWLValue::arrayValue() const {
  const auto* value = std::get_if<std::shared_ptr<const platform::Array>>(&value_);
  return value ? value->get() : nullptr;
}

platform::Object GWLValue::objectValue() const {
  switch (valueType()) {
    case kGWLValueTypeDouble:
      return platform::Object(doubleValue());
    case kGWLValueTypeInt64:
      return platform::Object(int64Value());
    case kGWLValueTypeString:
      return platform::Object(*stringValue());
    case kGWLValueTypeArray:
      return platform::Object(*arrayValue());
  }
  return platform::Object();
}

std::string GWLValue::description() const {
  switch (valueType()) {
    case kGWLValueTypeDouble:
      return describeDouble(doubleValue());
    case kGWLValueTypeInt64:
      return std::to_string(int64Value());
    case kGWLValueTypeString:
      return *stringValue();
    case kGWLValueTypeArray:
      return platform::Object(*arrayValue()).description();
  }
  return std::string();
}

size_t GWLValue::hash() const {
  size_t contentHash = 0;
  switch (valueType()) {
    case kGWLValueTypeDouble:
      contentHash = std::hash<double>()(doubleValue());
      break;
    case kGWLValueTypeInt64:
      contentHash = std::hash<int64_t>()(int64Value());
      break;
    case kGWLValueTypeString:
      contentHash = std::hash<std::string>()(*stringValue());
      break;
    case kGWLValueTypeArray:
      contentHash = arrayValue()->size();
      break;
  }
  return static_cast<size_t>(valueType()) * 31 ^ contentHash;
}

bool operator==(const GWLValue& a, const GWLValue& b) {
  if (a.valueType() != b.valueType()) return false;
  if (a.isArray()) return *a.arrayValue() == *b.arrayValue();
  return a.value_ == b.value_;
}

GWLRawParameters GWLRawParametersFromDictionary(const platform::Dictionary& dictionary) {
  GWLRawParameters parameters;
  for (const auto& [name, object] : dictionary) parameters.emplace(name, object);
  return parameters;
}

GWLRawParameters GWLRawParametersFromParameters(const GWLParameters& parameters) {
  GWLRawParameters raw;
  for (const auto& [name, value] : parameters) raw.emplace(name, value);
  return raw;
}

platform::Dictionary GWLDictionaryFromParameters(const GWLParameters& parameters) {
  platform::Dictionary dictionary;
  for (const auto& [name, value] : parameters) dictionary.emplace(name, value.objectValue());
  return dictionary;
}
