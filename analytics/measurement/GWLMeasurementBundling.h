// Bundling and event sampling of the engine (GWLMeasurement's
// `bundleRawEvents` and `sampleEvents`): their report texts and the plain
// functions they share with the upload step and the tests.
//
// A bundling pass turns the oldest run of raw events that share one stored
// metadata bundle into one upload bundle, inside one database transaction:
//
//   read          the run: consecutive row IDs, one clock hour, at most
//                 `uploadMaxEventsPerBundle` events below
//                 `uploadMaxSizeLimitBytes` (the first always taken)
//   process       blocklists, daily conversion and real-time limits,
//                 purchase parameters
//   sessions      "_s" clears session-scoped audience results and session
//                 counts; "_et" sums go into "_lte" and "_se"
//   consent       an analytics-storage change between bundles snapshots or
//                 restores the event aggregates
//   aggregates    per-name counts, previous timestamps, customer type,
//                 audience event filters
//   sampling      events with a configured rate are thinned out
//   complete      events, campaign, app metadata indexes, "_npa", PSM
//                 stripping, audience results, bundle metadata
//   queue         the bundle goes to the upload queue and the consumed raw
//                 events (and their metadata, once unused) are deleted
//
// A failure rolls the whole pass back. The settings the pass writes outside
// the database (the previous bundle's consent signals, the time of the last
// health sample, the cleared "_npa" refresh flag) take effect only when the
// transaction commits. A raw-event or metadata row whose bytes cannot be
// read is deleted with a "Data loss" report and the pass goes on, so one
// damaged row never holds back what was stored after it; database read and
// write errors still end the pass, to be retried.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "analytics/measurement/GWLAnalytics.h"

class GWLDatabase;
class GWLEvent;
class GWLPBEvent;
class GWLPBUserAttribute;

// ---- bundling reports ----
inline constexpr GWLAnalyticsReport kGWLBundlingNextMetadataFailedReport{
    kGWLLevelErrorSampled, 23095, "Unable to fetch next event metadata. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingFilterRawEventFailedReport{kGWLLevelWarningSampled, 23096,
                                                                           "Failed to filter raw event. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingRawEventExpectedReport{
    kGWLLevelErrorSampled, 23097, "Inconsistent state, raw event is expected. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingMetadataFailedReport{
    kGWLLevelErrorSampled, 23098, "Unable to fetch event metadata. Metadata fingerprint, error"};
inline constexpr GWLAnalyticsReport kGWLBundlingRejectedEventReport{kGWLLevelWarningSampled, 23099,
                                                                    "Rejected event. Event name"};
inline constexpr GWLAnalyticsReport kGWLBundlingRejectedAllReport{kGWLLevelWarningSampled, 23100,
                                                                  "Rejected all events."};
inline constexpr GWLAnalyticsReport kGWLBundlingDailyCountsQueryFailedReport{
    kGWLLevelErrorSampled, 23101, "Failed to query daily event counts. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingTooManyConversionsReport{
    kGWLLevelWarning, 23102, "Too many conversion events. Not logging event as conversion. Name, limit"};
inline constexpr GWLAnalyticsReport kGWLBundlingRealtimeUnderLimitReport{
    kGWLLevelDebug, 23103,
    "Event is under real-time event count daily limit. Marking the event as real-time. Event name, parameters"};
inline constexpr GWLAnalyticsReport kGWLBundlingRealtimeOverLimitReport{
    kGWLLevelWarningSampled, 23104,
    "Number of real-time events is over the real-time event count daily limit. Event is no longer real-time. Event "
    "name, parameters"};
inline constexpr GWLAnalyticsReport kGWLBundlingRealtimeUnlimitedReport{
    kGWLLevelDebug, 23105,
    "Event is not subject to real-time event count daily limit. Marking an event as real-time. Event name, "
    "parameters"};
inline constexpr GWLAnalyticsReport kGWLBundlingDailyCountsUpdateFailedReport{
    kGWLLevelErrorSilent, 23106, "Failed to update daily event counts. Name, error"};
inline constexpr GWLAnalyticsReport kGWLBundlingAggregatesQueryFailedReport{
    kGWLLevelErrorSampled, 23107, "Failed to query event aggregates. Name, error"};
inline constexpr GWLAnalyticsReport kGWLBundlingAggregatesUpdateFailedReport{
    kGWLLevelErrorSampled, 23108, "Failed to update event aggregates. Error"};
// A stored row that cannot be read is given up (deleted) so that the rows after it can be bundled.
inline constexpr GWLAnalyticsReport kGWLBundlingRawEventDataLossReport{
    kGWLLevelErrorSampled, 23109, "Data loss. Unreadable raw event deleted. RowID, error"};
inline constexpr GWLAnalyticsReport kGWLBundlingMetadataDataLossReport{
    kGWLLevelErrorSampled, 23110,
    "Data loss. Unreadable event metadata; its raw events deleted. Metadata fingerprint, last RowID"};
inline constexpr GWLAnalyticsReport kGWLBundlingAppMetadataQueryFailedReport{
    kGWLLevelErrorSampled, 23111, "Unable to fetch app metadata for bundling events. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingAppMetadataUpdateFailedReport{
    kGWLLevelErrorSampled, 23112, "Unable to update the app metadata. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingAudienceResultsFailedReport{
    kGWLLevelErrorSampled, 23113, "Unable to read audience evaluation results"};
inline constexpr GWLAnalyticsReport kGWLBundlingInsertBundleFailedReport{kGWLLevelErrorSampled, 23115,
                                                                         "Unable to insert bundle. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingBundleQueuedReport{
    kGWLLevelDebug, 23116, "Bundle added to the upload queue. BundleID, timestamp (ms)"};
inline constexpr GWLAnalyticsReport kGWLBundlingDeleteRawEventsFailedReport{
    kGWLLevelErrorSampled, 23119, "Unable to delete raw events. RowID, error"};
inline constexpr GWLAnalyticsReport kGWLBundlingRawEventExistenceFailedReport{
    kGWLLevelErrorSampled, 23120, "Unable to query existence of raw event. Metadata, error"};
inline constexpr GWLAnalyticsReport kGWLBundlingDeleteMetadataFailedReport{
    kGWLLevelErrorSampled, 23121, "Unable to delete raw event metadata. Metadata, error"};
inline constexpr GWLAnalyticsReport kGWLBundlingNoEventsAfterSamplingReport{
    kGWLLevelWarningSilent, 23159, "No events left after sampling. Dropping bundle"};
inline constexpr GWLAnalyticsReport kGWLBundlingClearSessionCountsFailedReport{
    kGWLLevelErrorSampled, 23185, "Failed to clear event session counts. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingNegativeEngagementReport{kGWLLevelErrorSilent, 23186,
                                                                         "User engagement time is negative."};
inline constexpr GWLAnalyticsReport kGWLBundlingEngagementQueryFailedReport{
    kGWLLevelErrorSampled, 23187, "Failed to query for user engagement user property. Name, error"};
inline constexpr GWLAnalyticsReport kGWLBundlingDeleteSessionEngagementFailedReport{
    kGWLLevelErrorSampled, 23188, "Unable to delete session engagement property on session start. Error"};
inline constexpr int64_t kGWLBundlingConsentDescriptionCode = 23221;  // kGWLLevelVerbose
inline constexpr GWLAnalyticsReport kGWLBundlingSnapshotFailedReport{kGWLLevelWarningSampled, 23266,
                                                                     "Unable to create table snapshot. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingRestoreFailedReport{kGWLLevelWarningSampled, 23267,
                                                                    "Unable to restore from table snapshot. Error"};
inline constexpr GWLAnalyticsReport kGWLBundlingAllAggregatesFailedReport{
    kGWLLevelErrorSampled, 23274, "Failed to query all event aggregates. Error"};

// ---- sampling reports ----
inline constexpr GWLAnalyticsReport kGWLSamplingAggregatesQueryFailedReport{
    kGWLLevelErrorSampled, 23151, "Unable to query event aggregates to update database. Name, error"};
inline constexpr GWLAnalyticsReport kGWLSamplingAggregatesUpdateFailedReport{
    kGWLLevelErrorSampled, 23152,
    "Failed to update event aggregates after removing removing events due to sampling. Error"};
inline constexpr GWLAnalyticsReport kGWLSamplingRateParamFailedReport{kGWLLevelErrorSilent, 23153,
                                                                      "Failed to create sampling rate parameter"};
inline constexpr GWLAnalyticsReport kGWLSamplingInvalidRateReport{kGWLLevelWarningSilent, 23154,
                                                                  "Invalid sampling rate provided"};
inline constexpr GWLAnalyticsReport kGWLSamplingNamelessEventReport{kGWLLevelErrorSilent, 23155,
                                                                    "Dropping event at sampling. Event has no name"};
inline constexpr GWLAnalyticsReport kGWLSamplingAggregatesCacheFailedReport{
    kGWLLevelErrorSampled, 23157, "Unable to query all event aggregates for cache. error"};
inline constexpr GWLAnalyticsReport kGWLSamplingExemptParamFailedReport{
    kGWLLevelErrorSilent, 23158, "Failed to create exempt from sampling parameter"};

// Parameters sampling adds to a kept event.
inline constexpr const char* kGWLSamplingRateParameter = "_sr";
inline constexpr const char* kGWLExemptFromSamplingParameter = "_efs";

// Deletes the raw events up to `maxRowID` and, once none of `fingerprint`
// remains, its metadata row. False (reported) on any database error.
bool GWLDeleteConsumedRawEvents(GWLDatabase& database, int64_t maxRowID, int64_t fingerprint);
// The user properties without those whose names begin with "_psm".
std::vector<std::shared_ptr<GWLPBUserAttribute>> GWLUserAttributesWithoutPSM(
    std::span<const std::shared_ptr<GWLPBUserAttribute>> attributes);
// Whether any event is marked real-time.
bool GWLContainsRealtimeEvent(std::span<const std::shared_ptr<GWLEvent>> events);
// Appends "_sr" = rate unless the event has a parameter of that name.
void GWLAddSamplingRateParam(GWLPBEvent& event, int32_t rate);
