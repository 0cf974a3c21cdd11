// GWLNameTables — the library's tables of names: public names it reserves and
// the short internal names it stores them under, the events that may carry
// item arrays, the standard item parameters, the names of the event error
// codes, the event lists that conversion and purchase handling test, and the
// predicates on names.
//
// Every table is built once, on first use, and kept for the process; the
// accessors are safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

using GWLNameMap = std::map<std::string, std::string, std::less<>>;

// The name of the error event.
inline constexpr const char* kGWLErrorEventName = "_err";

// Public user property names to the internal names the library sets itself
// ("user_id" to "_id", ...). A public property of such a name is refused.
const GWLNameMap& GWLPublicToInternalUserPropertyNameMap();
// Public event names the library reserves, to their internal names.
const GWLNameMap& GWLPublicToInternalEventNameMap();
// Reserved public event names the app may still log.
const GWLNameMap& GWLAllowedReservedEventNameMap();
// The reverse of GWLPublicToInternalEventNameMap. "_cmp", which two public
// names share, maps to "ha_campaign".
const GWLNameMap& GWLInternalToPublicEventNameMap();
// Public event parameter names to internal ones ("ha_screen" to "_sn", ...).
const GWLNameMap& GWLPublicToInternalParameterNameMap();
// Names of the event error codes ("_err" values), for log lines; codes 24 to
// 27 have none.
const std::map<int64_t, std::string>& GWLErrorCodeNameMap();

// The ecommerce events, the only events that may carry an array parameter.
bool GWLIsEcommerceEventName(std::string_view name);
// Item parameters the library knows; any other item parameter is custom.
bool GWLIsStandardItemParameterName(std::string_view name);
// Events that count as conversions by default.
bool GWLIsDefaultConversionEventName(std::string_view name);
bool GWLIsPurchaseEventName(std::string_view name);

// A non-empty name whose first character is not "_"; an empty name is
// reported (18003) through the library's monitor.
bool GWLIsPublicName(std::string_view name);
bool GWLIsNotErrorEventName(std::string_view name);
