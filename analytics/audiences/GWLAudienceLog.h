// The monitor lines of the audience evaluator (GWLAudience and its cache):
// level, code and message of each. Contexts are given where the line is
// logged.
#pragma once

#include "analytics/audiences/GWLAudienceFilterLog.h"

// Evaluating events and user properties.
inline constexpr GWLAudienceLogLine kGWLAudienceLogQueryEventFilters{
    1, 6000, "Unable to query event filters for event. Event will not be evaluated. Event name, error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogQueryEventFilterResult{
    1, 6001, "Unable to query filter result for audience. Event will not be evaluated. Event name, error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogSaveEventFilterResults{
    1, 6003, "Unable to save updated Audience filter results. Event will not be evaluated. Event name, error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogQueryPropertyFilters{
    1, 6004, "Unable to query property filters for property. Property will not be evaluated. Property name, error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogQueryPropertyFilterResult{
    1, 6005, "Unable to query filter result for audience. Property will not be evaluated. Property name, error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogSavePropertyFilterResults{
    1, 6007,
    "Unable to save updated Audience filter results. User property will not be evaluated. User property name, error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogResultMissingWords{
    2, 6023,
    "Audience filter result is non-nil and is missing status or results array. Audience result will not be "
    "bundled. Audience ID, result data"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogCorruptEventFilter{
    1, 6035,
    "Event filter contains no data or corrupt data. Event will not be evaluated. Event name, filter ID, audience ID, "
    "dynamic"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogCorruptPropertyFilter{
    1, 6036,
    "User property filter contains no data or corrupt data. User property will not be evaluated. User property name, "
    "filter ID, audience ID, dynamic"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogEarlierEvaluationTimestamp{
    5, 6037, "Candidate evaluation timestamp is earlier than cached evaluation timestamp"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogNanoUserPropertyUnreadable{
    2, 6039, "Could not convert user property from nano format."};

// Replacing the definitions.
inline constexpr GWLAudienceLogLine kGWLAudienceLogTooManyAudiences{
    2, 6008, "Configuration contains too many audiences. Audiences will not be saved. Audience count"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogInvalidDefinition{
    2, 6009, "Audience definition is invalid. Audience will not be saved. Audience, error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogDeleteEventFilters{
    1, 6010, "Unable to delete existing Audience event filters. Audiences will not be saved. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogDeletePropertyFilters{
    1, 6011, "Unable to delete existing Audience user property filters. Audiences will not be saved. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogSaveEventFilters{
    1, 6012, "Unable to save Audience event filters. Audiences will not be saved. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogSavePropertyFilters{
    1, 6013, "Unable to save Audience user property filters. Audiences will not be saved. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogQueryResultsForUpdate{
    1, 6015, "Unable to query Audience filter results. Audiences will not be saved. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogTooManyResults{
    3, 6016,
    "Too many Audience filter results. Deleting filter results for deleted Audiences. Filter result count, max "
    "filter result count"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogQueryAudienceIDs{
    1, 6017, "Unable to query current Audience IDs. Audiences will not be saved. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogDeleteStaleResults{
    1, 6018, "Unable to delete stale Audience filter results. Audiences will not be saved. Error"};

// Results for a bundle.
inline constexpr GWLAudienceLogLine kGWLAudienceLogQueryResultsForBundling{
    1, 6019, "Unable to query Audience filter results. Audience results will not be bundled. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogCurrentResultsNil{
    2, 6020, "Current result data is nil. Audience result will not be bundled. Audience ID"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogCurrentStatusZero{
    2, 6021, "Current result status is 0. Audience result will not be bundled. Audience ID"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogSaveBundledResults{
    1, 6022, "Unable to save updated Audience filter results. Audience results will not be bundled. Error"};

// Session-scoped reset.
inline constexpr GWLAudienceLogLine kGWLAudienceLogQuerySessionScopedFilters{
    1, 6040, "Unable to query all session scoped filters. Session scoped results will not be cleared. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogQueryResultsForReset{
    1, 6041, "Unable to query all filter results. Session scoped results will not be cleared. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogDeleteResetResults{
    1, 6042, "Unable to delete filter results. Session scoped results will not be cleared. Error"};
inline constexpr GWLAudienceLogLine kGWLAudienceLogUpdateResetResults{
    2, 6043, "Unable to update filter results. Session scoped results will not be cleared. Error"};
