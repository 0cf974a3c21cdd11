#include "analytics/foundation/core/GWLLogContext.h"

#include <charconv>
#include <cmath>
#include <limits>

GWLLogContext::GWLLogContext(const char* value) {
  if (value) value_ = std::string(value);
}

GWLLogContext::GWLLogContext(const platform::Object& value) {
  using Type = platform::Object::Type;
  switch (value.type()) {
    case Type::Null: break;
    case Type::String: value_ = *value.stringValue(); break;
    case Type::Bool: value_ = static_cast<int64_t>(*value.boolValue() ? 1 : 0); break;
    case Type::Int: value_ = *value.intValue(); break;
    case Type::Double: value_ = *value.doubleValue(); break;
    default: value_ = value; break;
  }
}

int64_t GWLLogContext::int64Value() const {
  if (const auto* i = std::get_if<int64_t>(&value_)) return *i;
  if (const auto* d = std::get_if<double>(&value_)) {
    if (std::isnan(*d)) return 0;
    if (*d >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (*d < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(*d);
  }
  return 0;
}

std::string GWLLogContext::description() const {
  switch (kind()) {
    case Kind::Null: return "(nil)";
    case Kind::String: return std::get<std::string>(value_);
    case Kind::Integer: return std::to_string(std::get<int64_t>(value_));
    case Kind::Double: {
      char buffer[64];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, std::get<double>(value_));
      return std::string(buffer, result.ptr);
    }
    case Kind::Error: return std::get<platform::Error>(value_).toString();
    case Kind::Exception: return std::get<GWLException>(value_).description();
    case Kind::Other: return std::get<platform::Object>(value_).description();
  }
  return {};
}
