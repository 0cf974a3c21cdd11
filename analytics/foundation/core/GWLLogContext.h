// GWLLogContext — one context value of a monitor report.
//
// A report may carry context values beside its message: nothing (a missing
// value), a string, a number, a library error, an exception, or any other
// value. The console shows their descriptions (or their encoded forms); the
// health sample only ever keeps the encoded form, which never holds user data:
// a string encodes as "-", a number as its order of magnitude, an error as its
// domain, an exception as the last library function on its stack.
//
// Threads: a plain value; each holder owns its copy.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

#include "analytics/foundation/core/GWLException.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

class GWLLogContext {
 public:
  enum class Kind { Null, String, Integer, Double, Error, Exception, Other };

  GWLLogContext() = default;
  GWLLogContext(std::nullptr_t) {}
  GWLLogContext(const char* value);
  GWLLogContext(std::string value) : value_(std::move(value)) {}
  GWLLogContext(bool value) : value_(static_cast<int64_t>(value ? 1 : 0)) {}
  template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  GWLLogContext(T value) : value_(static_cast<int64_t>(value)) {}
  GWLLogContext(double value) : value_(value) {}
  GWLLogContext(platform::Error value) : value_(std::move(value)) {}
  GWLLogContext(GWLException value) : value_(std::move(value)) {}
  // A string, number or null object becomes that kind; anything else stays an object.
  GWLLogContext(const platform::Object& value);

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool isNull() const { return kind() == Kind::Null; }
  [[nodiscard]] const platform::Error* error() const { return std::get_if<platform::Error>(&value_); }
  const GWLException* exception() const { return std::get_if<GWLException>(&value_); }

  bool isNumber() const { return kind() == Kind::Integer || kind() == Kind::Double; }
  // The number's signed 64-bit value (doubles truncate toward zero and
  // saturate; NaN gives 0); 0 for anything else.
  int64_t int64Value() const;
  // The value's description: "(nil)" for nothing, the string itself, the
  // number in decimal, the error as "domain code: description", the
  // exception's reason, or the object's description.
  std::string description() const;

 private:
  std::variant<std::monostate, std::string, int64_t, double, platform::Error, GWLException, platform::Object> value_;
};
