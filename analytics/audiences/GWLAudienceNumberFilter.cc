#include "analytics/audiences/GWLAudienceNumberFilter.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>

#include "analytics/audiences/GWLAudienceComparisonValues.h"
#include "analytics/audiences/GWLAudienceMessageDescription.h"
#include "analytics/wire/GWLPBNumberFilter.h"
#include "analytics/wire/NANO.h"

namespace {

using Field = GWLPBNumberFilter::Field;

// A present text that is a plain decimal.
bool hasDecimalText(const std::shared_ptr<GWLPBNumberFilter>& filter, int32_t index) {
  if (!NANOHasField(filter, index)) return false;
  auto text = NANOGetString(filter, index);
  return text && GWLIsDecimalString(*text);
}

std::optional<double> doubleOf(const std::shared_ptr<GWLPBNumberFilter>& filter, int32_t index) {
  if (!NANOHasField(filter, index)) return std::nullopt;
  auto text = NANOGetString(filter, index);
  if (!text) return std::nullopt;
  return GWLAudienceDoubleFromDecimalString(*text);
}

}  // namespace

std::optional<double> GWLAudienceDoubleFromDecimalString(std::string_view text) {
  if (!GWLIsDecimalString(text)) return std::nullopt;
  // strtod in the C locale reads a sign, a leading or a trailing point, and
  // answers the nearest double; beyond the range of doubles it answers an
  // infinity, and below it a denormal or zero.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  if (!cLocale) return std::nullopt;
  const std::string copy(text);
  const double value = strtod_l(copy.c_str(), nullptr, cLocale);
  if (std::isinf(value)) return std::nullopt;
  return value;
}

bool GWLAudienceIsValidNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                    const GWLAudienceFilterEnvironment& environment) {
  auto log = [&](const GWLAudienceLogLine& line) {
    environment.log(line, {GWLAudienceMessageDescription(filter.get())});
  };
  if (!filter || !NANOHasField(filter, Field::comparison_type)) {
    log(kGWLAudienceLogNoComparisonType);
    return false;
  }
  switch (NANOGetInt32(filter, Field::comparison_type)) {
    case kGWLAudienceComparisonLessThan:
    case kGWLAudienceComparisonGreaterThan:
    case kGWLAudienceComparisonEqual:
      if (hasDecimalText(filter, Field::comparison_value)) return true;
      log(kGWLAudienceLogInvalidComparisonValue);
      return false;
    case kGWLAudienceComparisonBetween: {
      const bool minimumValid = hasDecimalText(filter, Field::min_comparison_value);
      if (!minimumValid) log(kGWLAudienceLogInvalidMinComparisonValue);
      const bool maximumValid = hasDecimalText(filter, Field::max_comparison_value);
      if (!maximumValid) log(kGWLAudienceLogInvalidMaxComparisonValue);
      return minimumValid && maximumValid;
    }
    case kGWLAudienceComparisonUnknown:
      log(kGWLAudienceLogUnknownComparisonType);
      return false;
    default:
      log(kGWLAudienceLogRealUnknownComparisonType);
      return false;
  }
}

bool GWLAudienceIsValidNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter) {
  return GWLAudienceIsValidNumberFilter(filter, GWLAudienceFilterEnvironment::current());
}

std::optional<bool> GWLAudienceEvaluateDecimalNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                           const GWLDecimalNumber& value,
                                                           const GWLAudienceFilterEnvironment& environment) {
  if (!GWLAudienceIsValidNumberFilter(filter, environment)) return std::nullopt;
  const auto values = GWLAudienceComparisonValues::fromNumberFilter(filter, environment);
  if (!values.isValid()) {
    environment.log(kGWLAudienceLogComparisonValuesNotValid, {GWLAudienceMessageDescription(filter.get())});
    return std::nullopt;
  }
  switch (NANOGetInt32(filter, Field::comparison_type)) {
    case kGWLAudienceComparisonLessThan: return value < *values.comparisonValue();
    case kGWLAudienceComparisonGreaterThan: return value > *values.comparisonValue();
    case kGWLAudienceComparisonEqual: return value == *values.comparisonValue();
    case kGWLAudienceComparisonBetween:
      return *values.minComparisonValue() <= value && value <= *values.maxComparisonValue();
    case kGWLAudienceComparisonUnknown:
      environment.log(kGWLAudienceLogDecimalUnknownComparisonType, {GWLAudienceMessageDescription(filter.get())});
      return std::nullopt;
    default:
      return false;
  }
}

std::optional<bool> GWLAudienceEvaluateDecimalNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                           const GWLDecimalNumber& value) {
  return GWLAudienceEvaluateDecimalNumberFilter(filter, value, GWLAudienceFilterEnvironment::current());
}

std::optional<bool> GWLAudienceEvaluateIntegerNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                           int64_t value,
                                                           const GWLAudienceFilterEnvironment& environment) {
  // Nineteen digits at most: every int64 is exact as a decimal number.
  const auto decimal = GWLDecimalNumber::parse(std::to_string(value));
  if (!decimal) return std::nullopt;
  return GWLAudienceEvaluateDecimalNumberFilter(filter, *decimal, environment);
}

std::optional<bool> GWLAudienceEvaluateIntegerNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                           int64_t value) {
  return GWLAudienceEvaluateIntegerNumberFilter(filter, value, GWLAudienceFilterEnvironment::current());
}

std::optional<bool> GWLAudienceEvaluateDoubleNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                          double value,
                                                          const GWLAudienceFilterEnvironment& environment) {
  if (!GWLAudienceIsValidNumberFilter(filter, environment)) return std::nullopt;
  const int32_t type = NANOGetInt32(filter, Field::comparison_type);
  std::optional<double> comparison, minimum, maximum;
  bool parsed;
  if (type == kGWLAudienceComparisonBetween) {
    minimum = doubleOf(filter, Field::min_comparison_value);
    maximum = doubleOf(filter, Field::max_comparison_value);
    parsed = minimum && maximum;
  } else {
    comparison = doubleOf(filter, Field::comparison_value);
    parsed = comparison.has_value();
  }
  if (!parsed) {
    environment.log(kGWLAudienceLogDoubleComparisonNotValid, {GWLAudienceMessageDescription(filter.get())});
    return std::nullopt;
  }
  constexpr double kDown = -std::numeric_limits<double>::infinity();
  constexpr double kUp = std::numeric_limits<double>::infinity();
  switch (type) {
    case kGWLAudienceComparisonLessThan: return value < *comparison;
    case kGWLAudienceComparisonGreaterThan: return value > *comparison;
    case kGWLAudienceComparisonEqual: {
      const double lower = std::nextafter(std::nextafter(*comparison, kDown), kDown);
      const double upper = std::nextafter(std::nextafter(*comparison, kUp), kUp);
      return lower < value && value < upper;
    }
    case kGWLAudienceComparisonBetween: return *minimum <= value && value <= *maximum;
    case kGWLAudienceComparisonUnknown:
      environment.log(kGWLAudienceLogDoubleUnknownComparisonType, {GWLAudienceMessageDescription(filter.get())});
      return std::nullopt;
    default:
      return false;
  }
}

std::optional<bool> GWLAudienceEvaluateDoubleNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                          double value) {
  return GWLAudienceEvaluateDoubleNumberFilter(filter, value, GWLAudienceFilterEnvironment::current());
}
