// platform::Object — the one mixed value of the codebase.
//
// Dictionaries and arrays that arrive from callers, property lists, start
// options and JSON use this type. Its kinds are null, bool, 64-bit integer,
// double, UTF-8 string, bytes, date, array and dictionary; bool, integer and
// double stay distinct (true is not 1, 1 is not 1.0). Dictionaries are sorted
// by key (std::map), so "the dictionary's order" is ascending key order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace platform {

using Bytes = std::vector<uint8_t>;

// A point in time, in seconds since 1970-01-01 00:00:00 UTC.
struct Date {
  double secondsSince1970 = 0;
  friend bool operator==(const Date&, const Date&) = default;
};

class Object;
using Array = std::vector<Object>;
using Dictionary = std::map<std::string, Object>;

class Object {
 public:
  enum class Type { Null, Bool, Int, Double, String, Bytes, Date, Array, Dictionary };

  Object() = default;
  Object(std::nullptr_t) {}
  Object(bool value) : value_(value) {}
  template <typename T,
            std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>,
                             int> = 0>
  Object(T value) : value_(static_cast<int64_t>(value)) {}
  Object(double value) : value_(value) {}
  Object(float value) : value_(static_cast<double>(value)) {}
  Object(std::string value) : value_(std::move(value)) {}
  Object(const char* value) : value_(std::string(value)) {}
  Object(Bytes value) : value_(std::move(value)) {}
  Object(Date value) : value_(value) {}
  Object(Array value) : value_(std::move(value)) {}
  Object(Dictionary value) : value_(std::move(value)) {}

  Type type() const { return static_cast<Type>(value_.index()); }
  bool isNull() const { return type() == Type::Null; }
  bool isBool() const { return type() == Type::Bool; }
  bool isInt() const { return type() == Type::Int; }
  bool isDouble() const { return type() == Type::Double; }
  // Integer or double (not bool).
  bool isNumber() const { return isInt() || isDouble(); }
  // A bool, integer or double: what the platform's number objects hold.
  bool isNumberOrBool() const { return isNumber() || isBool(); }
  bool isString() const { return type() == Type::String; }
  bool isBytes() const { return type() == Type::Bytes; }
  bool isDate() const { return type() == Type::Date; }
  bool isArray() const { return type() == Type::Array; }
  bool isDictionary() const { return type() == Type::Dictionary; }

  // Typed reads: empty or null when the object is of another kind.
  [[nodiscard]] std::optional<bool> boolValue() const;
  [[nodiscard]] std::optional<int64_t> intValue() const;
  [[nodiscard]] std::optional<double> doubleValue() const;
  // An integer or a double as a double.
  [[nodiscard]] std::optional<double> numberValue() const;
  // Typed reads as preference stores answer them: a number's value (a bool as
  // 1 or 0; a double truncated toward zero and saturated, NaN as 0), and 0,
  // 0.0 or false for anything that is no number.
  int64_t integerValueOrZero() const;
  double doubleValueOrZero() const;
  bool boolValueOrFalse() const;
  const std::string* stringValue() const { return std::get_if<std::string>(&value_); }
  const Bytes* bytesValue() const { return std::get_if<Bytes>(&value_); }
  [[nodiscard]] std::optional<Date> dateValue() const;
  const Array* arrayValue() const { return std::get_if<Array>(&value_); }
  const Dictionary* dictionaryValue() const { return std::get_if<Dictionary>(&value_); }
  Array* mutableArray() { return std::get_if<Array>(&value_); }
  Dictionary* mutableDictionary() { return std::get_if<Dictionary>(&value_); }

  // Dictionary lookup; null when this is no dictionary or has no such key.
  const Object* find(const std::string& key) const;

  // A short human-readable form for logs and test failures.
  std::string description() const;

  friend bool operator==(const Object& a, const Object& b) { return a.value_ == b.value_; }

 private:
  std::variant<std::monostate, bool, int64_t, double, std::string, Bytes, Date, Array, Dictionary> value_;
};

const char* typeName(Object::Type type);

}  // namespace platform
