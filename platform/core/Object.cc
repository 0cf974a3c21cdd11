#include "platform/core/Object.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace platform {

std::optional<bool> Object::boolValue() const {
  if (auto v = std::get_if<bool>(&value_)) return *v;
  return std::nullopt;
}

std::optional<int64_t> Object::intValue() const {
  if (auto v = std::get_if<int64_t>(&value_)) return *v;
  return std::nullopt;
}

std::optional<double> Object::doubleValue() const {
  if (auto v = std::get_if<double>(&value_)) return *v;
  return std::nullopt;
}

std::optional<double> Object::numberValue() const {
  if (auto v = std::get_if<int64_t>(&value_)) return static_cast<double>(*v);
  if (auto v = std::get_if<double>(&value_)) return *v;
  return std::nullopt;
}

double Object::doubleValueOrZero() const {
  if (auto b = boolValue()) return *b ? 1.0 : 0.0;
  return numberValue().value_or(0.0);
}

int64_t Object::integerValueOrZero() const {
  if (auto i = intValue()) return *i;
  const double d = doubleValueOrZero();
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (d < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(d);
}

bool Object::boolValueOrFalse() const { return isNumberOrBool() && doubleValueOrZero() != 0; }

std::optional<Date> Object::dateValue() const {
  if (auto v = std::get_if<Date>(&value_)) return *v;
  return std::nullopt;
}

const Object* Object::find(const std::string& key) const {
  const Dictionary* dict = dictionaryValue();
  if (!dict) return nullptr;
  auto it = dict->find(key);
  return it == dict->end() ? nullptr : &it->second;
}

namespace {
void appendQuoted(std::string& out, const std::string& s) {
  out += '"';
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
}
}  // namespace

std::string Object::description() const {
  std::string out;
  switch (type()) {
    case Type::Null:
      return "null";
    case Type::Bool:
      return *boolValue() ? "true" : "false";
    case Type::Int:
      return std::to_string(*intValue());
    case Type::Double: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", *doubleValue());
      return buf;
    }
    case Type::String:
      appendQuoted(out, *stringValue());
      return out;
    case Type::Bytes:
      return "<" + std::to_string(bytesValue()->size()) + " bytes>";
    case Type::Date: {
      char buf[48];
      std::snprintf(buf, sizeof buf, "date(%.3f)", dateValue()->secondsSince1970);
      return buf;
    }
    case Type::Array: {
      out = "[";
      bool first = true;
      for (const auto& item : *arrayValue()) {
        if (!first) out += ", ";
        first = false;
        out += item.description();
      }
      return out + "]";
    }
    case Type::Dictionary: {
      out = "{";
      bool first = true;
      for (const auto& [key, item] : *dictionaryValue()) {
        if (!first) out += ", ";
        first = false;
        appendQuoted(out, key);
        out += ": ";
        out += item.description();
      }
      return out + "}";
    }
  }
  return out;
}

const char* typeName(Object::Type type) {
  switch (type) {
    case Object::Type::Null: return "null";
    case Object::Type::Bool: return "bool";
    case Object::Type::Int: return "int";
    case Object::Type::Double: return "double";
    case Object::Type::String: return "string";
    case Object::Type::Bytes: return "bytes";
    case Object::Type::Date: return "date";
    case Object::Type::Array: return "array";
    case Object::Type::Dictionary: return "dictionary";
  }
  return "?";
}

}  // namespace platform
