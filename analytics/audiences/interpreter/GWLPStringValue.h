// GWLPStringValue: a text (held as UTF-8), with the script's text-to-number
// rule. Its methods are those of the shared string method table.
#pragma once

#include <string>
#include <string_view>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"
#include "analytics/audiences/interpreter/GWLPValueAllocation.h"

class GWLPStringValue final : public GWLPRuntimeValue {
 public:
  explicit GWLPStringValue(std::string value)
      : GWLPRuntimeValue(GWLPValueKind::String), value_(std::move(value)) {}
  static std::shared_ptr<GWLPStringValue> make(std::string value) {
    return GWLPMakeShared<GWLPStringValue>(std::move(value));
  }

  const std::string& value() const { return value_; }

  // Trims white space and line breaks; empty text gives 0; "NaN", "Infinity"
  // and "-Infinity" as written; else a decimal number (optional sign, digits
  // with an optional point and fraction, optional exponent) covering the
  // whole text, or NaN.
  static double doubleFromString(std::string_view text);

  std::string stringValueOrError(platform::Error* error = nullptr) const override;
  double doubleValueOrError(platform::Error* error = nullptr) const override;
  bool booleanValueOrError(platform::Error* error = nullptr) const override;
  GWLPValueRef applyWithName(const std::string& name, const GWLPValueList& arguments, const GWLPScopeRef& scope,
                             platform::Error* error = nullptr) override;
  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;

 private:
  std::string value_;
};
