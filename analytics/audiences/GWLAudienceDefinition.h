// The check of one downloaded audience definition (GWLPBAudience) before it is
// stored: well formed, and within the configuration's limits.
#pragma once

#include <cstdint>
#include <memory>
#include <set>

#include "analytics/audiences/GWLAudienceFilterEnvironment.h"
#include "platform/core/Error.h"

class GWLPBAudience;

// Whether `audience` may be stored beside the audiences of the same
// configuration already accepted (`acceptedAudienceIDs`; the caller adds the
// ID of an accepted definition). The first failure ends the check with an
// error of the library's domain: code 9 for the audience itself, 10 for an
// event filter, 11 for a property filter, and the texts below, in the order
// they are checked.
//
//   audience   "Missing audience ID", "Audience ID is negative", "Duplicate audience ID",
//              "Audience missing filters arrays", "Audience filter count out of range"
//              (event and property filters together, from 1 to maxFiltersPerAudience)
//   each event filter, in order
//              "Event filter missing event name", "Missing event filter ID",
//              "Event filter ID is out of range" (negative, or maxFiltersPerAudience and above),
//              "Duplicate event filter ID", "Event filter has float event count filter",
//              "Event filter has invalid event count filter",
//              "Event filter parameters filters count out of range" (above maxParametersPerFilter),
//              then per parameter condition "Event filter missing parameter name",
//              "Event filter must have exactly one of number or string filter",
//              "Event filter has invalid number filter", "Event filter has invalid string filter"
//   each property filter, in order
//              "Property filter missing property name", "Missing property filter ID",
//              "Property filter ID is out of range", "Duplicate property filter ID" (event and
//              property filters share one set of IDs), "Property filter has no filter",
//              "Property filter must have exactly one of number or string filter",
//              "Property filter has invalid number filter", "Property filter has invalid string filter"
//
// The checks of number and string conditions log their own lines.
[[nodiscard]] bool GWLAudienceValidateDefinition(const std::shared_ptr<GWLPBAudience>& audience,
                                                 const std::set<int32_t>& acceptedAudienceIDs,
                                                 const GWLAudienceFilterEnvironment& environment,
                                                 platform::Error* error = nullptr);
// With the library's monitor and the limits of the configuration in force.
[[nodiscard]] bool GWLAudienceValidateDefinition(const std::shared_ptr<GWLPBAudience>& audience,
                                                 const std::set<int32_t>& acceptedAudienceIDs,
                                                 platform::Error* error = nullptr);
