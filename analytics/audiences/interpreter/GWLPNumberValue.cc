#include "analytics/audiences/interpreter/GWLPNumberValue.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

const std::shared_ptr<GWLPNumberValue>& GWLPNumberValue::shared(int value) {
  // Made once, under the guard of the local static, and kept until exit.
  static const auto* numbers = [] {
    auto* made = new std::vector<std::shared_ptr<GWLPNumberValue>>();
    for (int i = -1; i <= kLargestShared; ++i) made->push_back(std::make_shared<GWLPNumberValue>(i));
    return made;
  }();
  return (*numbers)[static_cast<size_t>(value + 1)];
}

std::string GWLPNumberValue::stringFromDouble(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  if (value == 0) return "0";

  // The shortest scientific form that reads back as the same double, such as
  // "-1.2345e+25" or "1e-07": split it into its digits and exponent.
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  bool negative = text.front() == '-';
  if (negative) text.remove_prefix(1);
  size_t e = text.find('e');
  std::string digits;
  for (char c : text.substr(0, e)) {
    if (c != '.') digits.push_back(c);
  }
  int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  const int count = static_cast<int>(digits.size());

  std::string out = negative ? "-" : "";
  double magnitude = std::fabs(value);
  if (magnitude >= 1e-6 && magnitude < 1e21) {
    int integerDigits = exponent + 1;
    if (integerDigits <= 0) {
      out += "0.";
      out.append(static_cast<size_t>(-integerDigits), '0');
      out += digits;
    } else if (integerDigits >= count) {
      out += digits;
      out.append(static_cast<size_t>(integerDigits - count), '0');
    } else {
      out += digits.substr(0, static_cast<size_t>(integerDigits));
      out += '.';
      out += digits.substr(static_cast<size_t>(integerDigits));
    }
  } else {
    out += digits[0];
    if (count > 1) {
      out += '.';
      out += digits.substr(1);
    }
    out += exponent < 0 ? "e-" : "e+";
    out += std::to_string(exponent < 0 ? -exponent : exponent);
  }
  return out;
}

std::string GWLPNumberValue::stringValueOrError(platform::Error*) const { return stringFromDouble(value_); }

double GWLPNumberValue::doubleValueOrError(platform::Error*) const { return value_; }

bool GWLPNumberValue::booleanValueOrError(platform::Error*) const { return !(value_ == 0 || std::isnan(value_)); }

bool GWLPNumberValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext&) const {
  if (this == &other) return true;
  if (other.valueKind() != GWLPValueKind::Number) return false;
  double o = static_cast<const GWLPNumberValue&>(other).value_;
  return o == value_ || (std::isnan(o) && std::isnan(value_));
}
