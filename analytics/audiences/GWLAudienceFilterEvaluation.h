// Audience filters against what the app logged: a value against one
// condition (GWLPBFilter), an event against an event filter and a user
// property against a property filter.
//
// Answers: YES, NO, or nullopt for no result: the filter could not be
// evaluated for this input (a missing parameter, a value of the wrong kind, a
// broken filter), which the caller keeps apart from NO. A line of the
// filters' log table says why.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "analytics/audiences/GWLAudienceFilterEnvironment.h"
#include "analytics/foundation/values/GWLValue.h"

class GWLEventAggregates;
class GWLPBEventFilter;
class GWLPBFilter;
class GWLPBPropertyFilter;
class GWLUserAttribute;

// A number condition, when present, decides whatever the string condition
// holds: integers and decimal texts compare exactly, finite doubles as
// doubles; a text that is not a plain decimal (7001), a NaN or infinite
// double (7002) and an array give no result. Otherwise the string condition
// tests a string value (another kind: 7003). Without either condition: 7000.
// The complement flag inverts YES and NO; no result stays no result.
std::optional<bool> GWLAudienceEvaluateParameterValue(const std::shared_ptr<GWLPBFilter>& filter,
                                                      const GWLValue& value,
                                                      const GWLAudienceFilterEnvironment& environment);
std::optional<bool> GWLAudienceEvaluateParameterValue(const std::shared_ptr<GWLPBFilter>& filter,
                                                      const GWLValue& value);

// The filter must name this event (7004 to 7006). Without a count condition
// and parameter conditions every event of the name is YES. A count condition
// reads the session count of a session-scoped filter, else the lifetime count,
// from aggregates of this event (7007); then every parameter condition must
// hold, in order: a condition without a parameter name (7008), a parameter
// the event lacks (7009) and a string parameter under a condition without a
// string condition (7010) give no result. The first answer other than YES is
// the filter's.
std::optional<bool> GWLAudienceEvaluateEventFilter(const std::shared_ptr<GWLPBEventFilter>& filter,
                                                   const std::string& eventName, const GWLParameters& parameters,
                                                   const std::shared_ptr<GWLEventAggregates>& aggregates,
                                                   const GWLAudienceFilterEnvironment& environment);
std::optional<bool> GWLAudienceEvaluateEventFilter(const std::shared_ptr<GWLPBEventFilter>& filter,
                                                   const std::string& eventName, const GWLParameters& parameters,
                                                   const std::shared_ptr<GWLEventAggregates>& aggregates);

// The filter must name this user property (7011 to 7013) and hold a
// condition (7014); the property's string, integer or double value (another
// kind: 7015) is tested as a value above, so a string property under a number
// condition compares as a decimal when its text is one.
std::optional<bool> GWLAudienceEvaluatePropertyFilter(const std::shared_ptr<GWLPBPropertyFilter>& filter,
                                                      const std::shared_ptr<GWLUserAttribute>& attribute,
                                                      const GWLAudienceFilterEnvironment& environment);
std::optional<bool> GWLAudienceEvaluatePropertyFilter(const std::shared_ptr<GWLPBPropertyFilter>& filter,
                                                      const std::shared_ptr<GWLUserAttribute>& attribute);
