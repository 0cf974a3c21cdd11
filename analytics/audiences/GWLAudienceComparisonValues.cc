#include "analytics/audiences/GWLAudienceComparisonValues.h"

#include <string>

#include "analytics/audiences/GWLAudienceMessageDescription.h"
#include "analytics/audiences/GWLAudienceNumberFilter.h"
#include "analytics/wire/GWLPBNumberFilter.h"
#include "analytics/wire/NANO.h"

namespace {

using Field = GWLPBNumberFilter::Field;

std::optional<std::string> textOf(const std::shared_ptr<GWLPBNumberFilter>& filter, int32_t index) {
  if (!filter || !NANOHasField(filter, index)) return std::nullopt;
  return NANOGetString(filter, index);
}

}  // namespace

GWLAudienceComparisonValues GWLAudienceComparisonValues::fromNumberFilter(
    const std::shared_ptr<GWLPBNumberFilter>& filter, const GWLAudienceFilterEnvironment& environment) {
  GWLAudienceComparisonValues values;
  auto fail = [&](const GWLAudienceLogLine& line) {
    environment.log(line, {GWLAudienceMessageDescription(filter.get())});
    values.valid_ = false;
  };
  const int32_t type = filter ? NANOGetInt32(filter, Field::comparison_type) : kGWLAudienceComparisonUnknown;
  switch (type) {
    case kGWLAudienceComparisonLessThan:
    case kGWLAudienceComparisonGreaterThan:
    case kGWLAudienceComparisonEqual: {
      auto text = textOf(filter, Field::comparison_value);
      if (!text) {
        fail(kGWLAudienceLogNoComparisonValue);
        break;
      }
      values.comparisonValue_ = GWLDecimalNumberFromString(*text);
      if (!values.comparisonValue_) fail(kGWLAudienceLogComparisonValueNotNumber);
      break;
    }
    case kGWLAudienceComparisonBetween: {
      auto minText = textOf(filter, Field::min_comparison_value);
      auto maxText = textOf(filter, Field::max_comparison_value);
      if (!minText || !maxText) {
        fail(kGWLAudienceLogNoMinAndMax);
        break;
      }
      auto minimum = GWLDecimalNumberFromString(*minText);
      if (!minimum) {
        fail(kGWLAudienceLogMinNotNumber);
        break;
      }
      auto maximum = GWLDecimalNumberFromString(*maxText);
      if (!maximum) {
        fail(kGWLAudienceLogMaxNotNumber);
        break;
      }
      values.minComparisonValue_ = minimum;
      values.maxComparisonValue_ = maximum;
      break;
    }
    case kGWLAudienceComparisonUnknown:
      fail(kGWLAudienceLogParsedUnknownComparisonType);
      break;
    default:
      break;  // validation refuses other types before parsing
  }
  return values;
}
