// GWLValue — the typed value of an event parameter or a user property.
//
// A value is a double (type 0), a signed 64-bit integer (type 1), a UTF-8
// string (type 2) or an array (type 3). An array keeps its elements as the
// caller gave them; on events they are the item dictionaries of an ecommerce
// event, which the event's sanitiser checks. Values are immutable and cheap to
// copy (an array's elements are shared between copies).
//
// The initialisers that can fail answer nullopt and log why:
//   35000 "Cannot create Value type with nil value"
//   35001 "Cannot create Value type with unsupported value. ..." (also text that is not valid UTF-8)
//   35002/35003 strings, 35004 arrays.
// Two values are equal only when their types are equal and their contents are
// equal: int64 5 and double 5.0 differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/core/Object.h"

enum GWLValueType : int64_t {
  kGWLValueTypeDouble = 0,
  kGWLValueTypeInt64 = 1,
  kGWLValueTypeString = 2,
  kGWLValueTypeArray = 3,
};

class GWLValue {
 public:
  // The object as a value: a string (valid UTF-8), an integer or a boolean
  // (int64 0 or 1), a double, or (when `allowArray`) an array. A null object
  // logs 35000; any other object logs 35001.
  [[nodiscard]] static std::optional<GWLValue> valueFromObject(const platform::Object& object, bool allowArray = false);

  static GWLValue initWithDouble(double value);
  static GWLValue initWithInt64(int64_t value);
  // nullopt logs 35002; text that is not valid UTF-8 logs 35003.
  [[nodiscard]] static std::optional<GWLValue> initWithString(std::optional<std::string_view> value);
  // nullopt logs 35004; the elements are copied.
  [[nodiscard]] static std::optional<GWLValue> initWithArray(std::optional<platform::Array> value);

  GWLValueType valueType() const { return static_cast<GWLValueType>(value_.index()); }
  bool isDouble() const { return valueType() == kGWLValueTypeDouble; }
  bool isInt64() const { return valueType() == kGWLValueTypeInt64; }
  bool isString() const { return valueType() == kGWLValueTypeString; }
  bool isArray() const { return valueType() == kGWLValueTypeArray; }

  // The number, or 0 when the type differs.
  double doubleValue() const;
  int64_t int64Value() const;
  // The string or the elements, or null when the type differs.
  const std::string* stringValue() const { return std::get_if<std::string>(&value_); }
  const platform::Array* arrayValue() const;

  // The value as a plain object (number, string or array).
  platform::Object objectValue() const;
  // The wrapped object's description.
  std::string description() const;
  // valueType × 31, XOR the wrapped object's hash.
  size_t hash() const;

  friend bool operator==(const GWLValue& a, const GWLValue& b);

 private:
  using Storage = std::variant<double, int64_t, std::string, std::shared_ptr<const platform::Array>>;
  explicit GWLValue(Storage value) : value_(std::move(value)) {}
  Storage value_;
};

// Parameters of an event, by name (ascending name order).
using GWLParameters = std::map<std::string, GWLValue>;

// A parameter as callers hand it in: a plain object or an already typed value.
using GWLRawParameter = std::variant<platform::Object, GWLValue>;
using GWLRawParameters = std::map<std::string, GWLRawParameter>;

GWLRawParameters GWLRawParametersFromDictionary(const platform::Dictionary& dictionary);
GWLRawParameters GWLRawParametersFromParameters(const GWLParameters& parameters);
// The parameters as plain objects (the form items take inside an array value).
platform::Dictionary GWLDictionaryFromParameters(const GWLParameters& parameters);

template <>
struct std::hash<GWLValue> {
  size_t operator()(const GWLValue& value) const { return value.hash(); }
};
