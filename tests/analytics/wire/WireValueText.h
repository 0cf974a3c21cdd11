// A decoded event parameter or user property as a short text, for tests that
// compare what went on the wire: "int 5", "double 1.5" (to the last digit that
// tells doubles apart), "text x", an array value as
// "items [{name: value, ...}...]"; "none" for no field, "no value" for a
// field that holds none.
#pragma once

#include <memory>
#include <sstream>
#include <string>

namespace wire_test {

template <typename Field>
std::string describeWireValue(const std::shared_ptr<Field>& field) {
  if (!field) return "none";
  if (field->hasStringValue()) return "text " + field->stringValue().value_or("");
  if (field->hasIntValue()) return "int " + std::to_string(field->intValue());
  if (field->hasDoubleValue()) {
    std::ostringstream out;
    out.precision(17);
    out << "double " << field->doubleValue();
    return out.str();
  }
  if constexpr (requires { field->paramValue(); }) {
    if (field->paramValueCount() > 0) {
      std::string text = "items [";
      for (const auto& item : field->paramValue()) {
        text += "{";
        for (const auto& entry : item->paramValue()) {
          text += entry->name().value_or("") + ": " + describeWireValue(entry) + ", ";
        }
        text += "}";
      }
      return text + "]";
    }
  }
  return "no value";
}

}  // namespace wire_test
