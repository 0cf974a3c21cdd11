#include "analytics/foundation/storage/GWLDatabase.h"

#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/storage/GWLDatabaseInternal.h"
#include "analytics/foundation/values/GWLEvent.h"

using namespace gwl_database;

// ============================================================================
// Complex events
// ============================================================================

std::optional<std::pair<std::shared_ptr<GWLEvent>, int64_t>> GWLDatabase::mainEventAndChildCountPairWithEventID(
    int64_t eventID, platform::Error* error) {
  auto found = rows("SELECT * FROM main_event_params WHERE event_id=? LIMIT 1", {eventID}, error);
  if (!found || found->empty()) return std::nullopt;
  const platform::Dictionary& row = found->front();
  const platform::Object* blob = field(row, "main_event");
  std::shared_ptr<GWLEvent> event = blob ? eventFromBlob(*blob, remoteConfig()->valueLimits(), error) : nullptr;
  if (!event) {
    if (!blob) GWLSetError(error, kData, "Main event blob is nil in database");
    return std::nullopt;
  }
  const platform::Object* children = field(row, "children_to_process");
  if (!children || !children->intValue()) {
    GWLSetError(error, kData, "Complex event does not have children count in database");
    return std::nullopt;
  }
  return std::make_pair(event, *children->intValue());
}

bool GWLDatabase::updateComplexEventForAudienceEvaluationWithEventID(int64_t eventID, int64_t childEventCount,
                                                                     const std::shared_ptr<GWLEvent>& mainEvent,
                                                                     platform::Error* error) {
  if (!mainEvent) return fail(error, kArg, "Received nil main event");
  auto blob = eventBlob(*mainEvent, false);
  if (!blob || blob->empty()) return fail(error, kArg, "Cannot create the main event blob");
  return insertDataType(
      {{"main_event", std::move(*blob)}, {"event_id", eventID}, {"children_to_process", childEventCount}},
      kMainEventParams, error);
}

bool GWLDatabase::deleteComplexEventForAudienceEvaluationWithEventID(int64_t eventID, platform::Error* error) {
  return deleteWhere(kMainEventParams, "event_id=?", {eventID}, error);
}
