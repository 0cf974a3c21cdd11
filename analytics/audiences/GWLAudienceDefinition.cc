#include "analytics/audiences/GWLAudienceDefinition.h"

#include <string>
#include <vector>

#include "analytics/audiences/GWLAudienceNumberFilter.h"
#include "analytics/audiences/GWLAudienceStringFilter.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/wire/GWLPBAudience.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBFilter.h"
#include "analytics/wire/GWLPBNumberFilter.h"
#include "analytics/wire/GWLPBPropertyFilter.h"
#include "analytics/wire/GWLPBStringFilter.h"
#include "analytics/wire/NANO.h"

namespace {

constexpr const char* kMissingAudienceID = "Missing audience ID";
constexpr const char* kNegativeAudienceID = "Audience ID is negative";
constexpr const char* kDuplicateAudienceID = "Duplicate audience ID";
constexpr const char* kMissingFiltersArrays = "Audience missing filters arrays";
constexpr const char* kFilterCountOutOfRange = "Audience filter count out of range";

constexpr const char* kEventFilterMissingEventName = "Event filter missing event name";
constexpr const char* kMissingEventFilterID = "Missing event filter ID";
constexpr const char* kEventFilterIDOutOfRange = "Event filter ID is out of range";
constexpr const char* kDuplicateEventFilterID = "Duplicate event filter ID";
constexpr const char* kFloatEventCountFilter = "Event filter has float event count filter";
constexpr const char* kInvalidEventCountFilter = "Event filter has invalid event count filter";
constexpr const char* kParameterFilterCountOutOfRange = "Event filter parameters filters count out of range";
constexpr const char* kEventFilterMissingParameterName = "Event filter missing parameter name";
constexpr const char* kEventFilterNotExactlyOneFilter = "Event filter must have exactly one of number or string filter";
constexpr const char* kEventFilterInvalidNumberFilter = "Event filter has invalid number filter";
constexpr const char* kEventFilterInvalidStringFilter = "Event filter has invalid string filter";

constexpr const char* kPropertyFilterMissingPropertyName = "Property filter missing property name";
constexpr const char* kMissingPropertyFilterID = "Missing property filter ID";
constexpr const char* kPropertyFilterIDOutOfRange = "Property filter ID is out of range";
constexpr const char* kDuplicatePropertyFilterID = "Duplicate property filter ID";
constexpr const char* kPropertyFilterHasNoFilter = "Property filter has no filter";
constexpr const char* kPropertyFilterNotExactlyOneFilter =
    "Property filter must have exactly one of number or string filter";
constexpr const char* kPropertyFilterInvalidNumberFilter = "Property filter has invalid number filter";
constexpr const char* kPropertyFilterInvalidStringFilter = "Property filter has invalid string filter";

// The texts of one kind of filter: event filters report with code 10,
// property filters with 11.
struct FilterTexts {
  int64_t code;
  const char* missingID;
  const char* idOutOfRange;
  const char* duplicateID;
  const char* notExactlyOneFilter;
  const char* invalidNumberFilter;
  const char* invalidStringFilter;
};

constexpr FilterTexts kEventFilterTexts{kGWLErrorCodeInvalidEventFilter,  kMissingEventFilterID,
                                        kEventFilterIDOutOfRange,         kDuplicateEventFilterID,
                                        kEventFilterNotExactlyOneFilter,  kEventFilterInvalidNumberFilter,
                                        kEventFilterInvalidStringFilter};
constexpr FilterTexts kPropertyFilterTexts{kGWLErrorCodeInvalidPropertyFilter, kMissingPropertyFilterID,
                                           kPropertyFilterIDOutOfRange,        kDuplicatePropertyFilterID,
                                           kPropertyFilterNotExactlyOneFilter, kPropertyFilterInvalidNumberFilter,
                                           kPropertyFilterInvalidStringFilter};

class DefinitionCheck {
 public:
  DefinitionCheck(const GWLAudienceFilterEnvironment& environment, platform::Error* error)
      : environment_(environment), error_(error) {}

  bool run(const std::shared_ptr<GWLPBAudience>& audience, const std::set<int32_t>& acceptedAudienceIDs) {
    using Field = GWLPBAudience::Field;
    if (!audience || !NANOHasField(audience, Field::audience_id)) return fail(kGWLErrorCodeInvalidAudience, kMissingAudienceID);
    const int32_t audienceID = NANOGetInt32(audience, Field::audience_id);
    if (audienceID < 0) return fail(kGWLErrorCodeInvalidAudience, kNegativeAudienceID);
    if (acceptedAudienceIDs.count(audienceID)) return fail(kGWLErrorCodeInvalidAudience, kDuplicateAudienceID);

    // The wire layer reports a repeated field present whether it has items
    // or not; a list that cannot be read counts as missing.
    std::optional<std::vector<std::shared_ptr<GWLPBPropertyFilter>>> propertyFilters;
    std::optional<std::vector<std::shared_ptr<GWLPBEventFilter>>> eventFilters;
    if (NANOHasField(audience, Field::property_filters)) {
      propertyFilters = NANOGetMessageArray<GWLPBPropertyFilter>(audience, Field::property_filters);
    }
    if (NANOHasField(audience, Field::event_filters)) {
      eventFilters = NANOGetMessageArray<GWLPBEventFilter>(audience, Field::event_filters);
    }
    if (!propertyFilters && !eventFilters) return fail(kGWLErrorCodeInvalidAudience, kMissingFiltersArrays);
    const size_t total = (propertyFilters ? propertyFilters->size() : 0) + (eventFilters ? eventFilters->size() : 0);
    if (total < 1 || total > static_cast<size_t>(std::max(environment_.maxFiltersPerAudience, 0))) {
      return fail(kGWLErrorCodeInvalidAudience, kFilterCountOutOfRange);
    }

    if (eventFilters) {
      for (const auto& filter : *eventFilters) {
        if (!checkEventFilter(filter)) return false;
      }
    }
    if (propertyFilters) {
      for (const auto& filter : *propertyFilters) {
        if (!checkPropertyFilter(filter)) return false;
      }
    }
    return true;
  }

 private:
  bool fail(int64_t code, const char* description) {
    GWLSetError(error_, code, description);
    return false;
  }

  static bool hasText(NANOMessageRef message, int32_t index) {
    if (!NANOHasField(message, index)) return false;
    auto text = NANOGetString(message, index);
    return text && !text->empty();
  }

  // A filter ID that is present, in range and not yet taken; records it.
  bool takeFilterID(NANOMessageRef filter, int32_t index, const FilterTexts& texts) {
    if (!NANOHasField(filter, index)) return fail(texts.code, texts.missingID);
    const int32_t filterID = NANOGetInt32(filter, index);
    if (filterID < 0 || filterID >= environment_.maxFiltersPerAudience) return fail(texts.code, texts.idOutOfRange);
    if (!filterIDs_.insert(filterID).second) return fail(texts.code, texts.duplicateID);
    return true;
  }

  // Exactly one of a valid number or string condition.
  bool checkCondition(const std::shared_ptr<GWLPBFilter>& condition, const FilterTexts& texts) {
    using Field = GWLPBFilter::Field;
    auto numberFilter = NANOGetMessage<GWLPBNumberFilter>(condition, Field::number_filter);
    auto stringFilter = NANOGetMessage<GWLPBStringFilter>(condition, Field::string_filter);
    if (static_cast<bool>(numberFilter) == static_cast<bool>(stringFilter)) {
      return fail(texts.code, texts.notExactlyOneFilter);
    }
    if (numberFilter && !GWLAudienceIsValidNumberFilter(numberFilter, environment_)) {
      return fail(texts.code, texts.invalidNumberFilter);
    }
    if (stringFilter && !GWLAudienceIsValidStringFilter(stringFilter, environment_)) {
      return fail(texts.code, texts.invalidStringFilter);
    }
    return true;
  }

  bool checkEventFilter(const std::shared_ptr<GWLPBEventFilter>& filter) {
    using Field = GWLPBEventFilter::Field;
    const int64_t code = kGWLErrorCodeInvalidEventFilter;
    if (!hasText(filter, Field::event_name)) return fail(code, kEventFilterMissingEventName);
    if (!takeFilterID(filter, Field::filter_id, kEventFilterTexts)) return false;
    if (auto countFilter = NANOGetMessage<GWLPBNumberFilter>(filter, Field::event_count_filter)) {
      if (NANOGetBool(countFilter, GWLPBNumberFilter::Field::is_float)) return fail(code, kFloatEventCountFilter);
      if (!GWLAudienceIsValidNumberFilter(countFilter, environment_)) return fail(code, kInvalidEventCountFilter);
    }
    auto conditions = NANOGetMessageArray<GWLPBFilter>(filter, Field::filters);
    if (!conditions) conditions.emplace();
    if (conditions->size() > static_cast<size_t>(std::max(environment_.maxParametersPerFilter, 0))) {
      return fail(code, kParameterFilterCountOutOfRange);
    }
    for (const auto& condition : *conditions) {
      if (!hasText(condition, GWLPBFilter::Field::parameter_name)) {
        return fail(code, kEventFilterMissingParameterName);
      }
      if (!checkCondition(condition, kEventFilterTexts)) return false;
    }
    return true;
  }

  bool checkPropertyFilter(const std::shared_ptr<GWLPBPropertyFilter>& filter) {
    using Field = GWLPBPropertyFilter::Field;
    const int64_t code = kGWLErrorCodeInvalidPropertyFilter;
    if (!hasText(filter, Field::property_name)) return fail(code, kPropertyFilterMissingPropertyName);
    if (!takeFilterID(filter, Field::filter_id, kPropertyFilterTexts)) return false;
    auto condition = NANOGetMessage<GWLPBFilter>(filter, Field::value_filter);
    if (!condition) return fail(code, kPropertyFilterHasNoFilter);
    return checkCondition(condition, kPropertyFilterTexts);
  }

  const GWLAudienceFilterEnvironment& environment_;
  platform::Error* error_;
  // Filter IDs of the audience so far, event and property filters together.
  std::set<int32_t> filterIDs_;
};

}  // namespace

bool GWLAudienceValidateDefinition(const std::shared_ptr<GWLPBAudience>& audience,
                                   const std::set<int32_t>& acceptedAudienceIDs,
                                   const GWLAudienceFilterEnvironment& environment, platform::Error* error) {
  platform::Error failure;
  const bool valid = DefinitionCheck(environment, &failure).run(audience, acceptedAudienceIDs);
  if (!valid) platform::setError(error, failure);
  return valid;
}

bool GWLAudienceValidateDefinition(const std::shared_ptr<GWLPBAudience>& audience,
                                   const std::set<int32_t>& acceptedAudienceIDs, platform::Error* error) {
  return GWLAudienceValidateDefinition(audience, acceptedAudienceIDs, GWLAudienceFilterEnvironment::current(), error);
}
