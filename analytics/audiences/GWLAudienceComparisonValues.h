// GWLAudienceComparisonValues — the exact decimal comparison values of one
// number condition, parsed for one evaluation and dropped after it.
//
// Comparison types 1 to 3 read `comparisonValue`; type 4 reads
// `minComparisonValue` and `maxComparisonValue`, stored only when both parse.
// A value that is missing or does not parse leaves the object not valid,
// after a line of the filters' log table (8000 to 8005).
#pragma once

#include <memory>
#include <optional>

#include "analytics/audiences/GWLAudienceFilterEnvironment.h"
#include "analytics/foundation/values/GWLDecimalNumber.h"

class GWLPBNumberFilter;

class GWLAudienceComparisonValues {
 public:
  // Parses the texts of `filter` that its comparison type uses.
  static GWLAudienceComparisonValues fromNumberFilter(const std::shared_ptr<GWLPBNumberFilter>& filter,
                                                      const GWLAudienceFilterEnvironment& environment);

  const std::optional<GWLDecimalNumber>& comparisonValue() const { return comparisonValue_; }
  const std::optional<GWLDecimalNumber>& maxComparisonValue() const { return maxComparisonValue_; }
  const std::optional<GWLDecimalNumber>& minComparisonValue() const { return minComparisonValue_; }
  bool isValid() const { return valid_; }

 private:
  GWLAudienceComparisonValues() = default;

  std::optional<GWLDecimalNumber> comparisonValue_;
  std::optional<GWLDecimalNumber> maxComparisonValue_;
  std::optional<GWLDecimalNumber> minComparisonValue_;
  bool valid_ = true;
};
