#include "analytics/audiences/interpreter/GWLPStringValue.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "analytics/audiences/interpreter/GWLPErrors.h"
#include "analytics/audiences/interpreter/GWLPStringCommandEvaluator.h"
#include "analytics/audiences/interpreter/GWLPUndefinedValue.h"
#include "analytics/audiences/interpreter/GWLPValueOperations.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether `text` is a whole decimal number: optional sign, digits with an
// optional point and fraction (at least one digit), optional exponent.
bool isDecimalNumber(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == text.size();
}

}  // namespace

double GWLPStringValue::doubleFromString(std::string_view text) {
  std::string_view trimmed = GWLPTrimWhitespace(text);
  if (trimmed.empty()) return 0;
  if (trimmed == "NaN") return std::numeric_limits<double>::quiet_NaN();
  if (trimmed == "Infinity") return std::numeric_limits<double>::infinity();
  if (trimmed == "-Infinity") return -std::numeric_limits<double>::infinity();
  if (!isDecimalNumber(trimmed)) return std::numeric_limits<double>::quiet_NaN();
  // strtod in the C locale (point as separator); it saturates to infinity on
  // overflow and goes to zero on underflow.
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  std::string copy(trimmed);
  return strtod_l(copy.c_str(), nullptr, cLocale);
}

std::string GWLPStringValue::stringValueOrError(platform::Error*) const { return value_; }

double GWLPStringValue::doubleValueOrError(platform::Error*) const { return doubleFromString(value_); }

bool GWLPStringValue::booleanValueOrError(platform::Error*) const { return !value_.empty(); }

GWLPValueRef GWLPStringValue::applyWithName(const std::string& name, const GWLPValueList& arguments,
                                            const GWLPScopeRef& scope, platform::Error* error) {
  return GWLPStringCommandEvaluator::sharedInstance().evaluateCommand(name, value_, arguments, scope, error);
}

bool GWLPStringValue::isEqualToRuntimeValue(const GWLPRuntimeValue& other, GWLPEqualityContext&) const {
  if (this == &other) return true;
  return other.valueKind() == GWLPValueKind::String && static_cast<const GWLPStringValue&>(other).value_ == value_;
}
