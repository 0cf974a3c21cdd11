// GWLPNumberValue: an IEEE double, with the script's number-to-text rule.
#pragma once

#include <cmath>
#include <memory>
#include <string>

#include "analytics/audiences/interpreter/GWLPRuntimeValue.h"
#include "analytics/audiences/interpreter/GWLPValueAllocation.h"

class GWLPNumberValue final : public GWLPRuntimeValue {
 public:
  explicit GWLPNumberValue(double value) : GWLPRuntimeValue(GWLPValueKind::Number), value_(value) {}
  // Small whole numbers (-1 to 255, not -0) come from one shared set, as
  // numbers are never changed and compare by their value, not their identity.
  static std::shared_ptr<GWLPNumberValue> make(double value) {
    const bool small = value >= -1 && value <= kLargestShared && value == static_cast<int>(value);
    if (small && !(value == 0 && std::signbit(value))) return shared(static_cast<int>(value));
    return GWLPMakeShared<GWLPNumberValue>(value);
  }

  double value() const { return value_; }

  // "NaN", "Infinity", "-Infinity", "0" for both zeros; plain decimals for
  // 1e-6 <= |x| < 1e21, else scientific ("1e+21", "1.5e-7"); the shortest
  // digits that read back as the same double (at most 17).
  static std::string stringFromDouble(double value);

  std::string stringValueOrError(platform::Error* error = nullptr) const override;
  double doubleValueOrError(platform::Error* error = nullptr) const override;
  bool booleanValueOrError(platform::Error* error = nullptr) const override;
  using GWLPRuntimeValue::isEqualToRuntimeValue;
  bool isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext& context) const override;

 private:
  static constexpr int kLargestShared = 255;
  static const std::shared_ptr<GWLPNumberValue>& shared(int value);

  double value_;
};
