// Number conditions of audience filters (GWLPBNumberFilter): whether a
// condition is well formed, and whether a number meets it.
//
// Comparison types: 1 less than, 2 greater than, 3 equal to the comparison
// value; 4 between the minimum and the maximum, both included. 0 and every
// other value are invalid. The texts are plain decimals (GWLIsDecimalString).
//
// Integers and decimal texts compare exactly, as decimal numbers. Doubles
// compare as doubles; for equality a double counts as equal when it lies
// strictly within two representable steps of the comparison value on either
// side (one step is equal, two are not).
//
// Answers: YES, NO, or nullopt for no result (a line of the filters' log
// table says why).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "analytics/audiences/GWLAudienceFilterEnvironment.h"
#include "analytics/foundation/values/GWLDecimalNumber.h"

class GWLPBNumberFilter;

// Comparison types (GWLPBNumberFilter comparison_type).
enum GWLAudienceComparisonType : int32_t {
  kGWLAudienceComparisonUnknown = 0,
  kGWLAudienceComparisonLessThan = 1,
  kGWLAudienceComparisonGreaterThan = 2,
  kGWLAudienceComparisonEqual = 3,
  kGWLAudienceComparisonBetween = 4,
};

// Whether the condition is well formed: a comparison type (8006) from 1 to 4
// (8007 for 0, 8011 for others); for types 1 to 3 a decimal comparison value
// (8008); for type 4 a decimal minimum (8009) and maximum (8010), both checked.
bool GWLAudienceIsValidNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                    const GWLAudienceFilterEnvironment& environment);
bool GWLAudienceIsValidNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter);

std::optional<bool> GWLAudienceEvaluateDecimalNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                           const GWLDecimalNumber& value,
                                                           const GWLAudienceFilterEnvironment& environment);
std::optional<bool> GWLAudienceEvaluateDecimalNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                           const GWLDecimalNumber& value);

// As the decimal form, with the integer converted exactly.
std::optional<bool> GWLAudienceEvaluateIntegerNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                           int64_t value,
                                                           const GWLAudienceFilterEnvironment& environment);
std::optional<bool> GWLAudienceEvaluateIntegerNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                           int64_t value);

// The comparison texts are read as doubles (the nearest double, whatever the
// process's locale); a text beyond the range of doubles gives no result (8012).
std::optional<bool> GWLAudienceEvaluateDoubleNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                          double value,
                                                          const GWLAudienceFilterEnvironment& environment);
std::optional<bool> GWLAudienceEvaluateDoubleNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                          double value);

// The nearest double to a plain decimal text, read the same in every locale;
// a sign, a leading or a trailing point are all accepted. nullopt for text
// that is not a plain decimal or lies beyond the range of doubles.
std::optional<double> GWLAudienceDoubleFromDecimalString(std::string_view text);
