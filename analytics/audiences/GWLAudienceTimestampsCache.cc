#include "analytics/audiences/GWLAudienceTimestampsCache.h"

#include <utility>

#include "analytics/audiences/GWLAudienceEvaluation.h"
#include "analytics/audiences/GWLAudienceLog.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/storage/GWLEventFilter.h"
#include "analytics/foundation/storage/GWLFilterResult.h"
#include "analytics/foundation/storage/GWLPropertyFilter.h"
#include "analytics/foundation/values/GWLSequenceTimestampsCache.h"
#include "analytics/wire/GWLPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/GWLPBResultData.h"
#include "analytics/wire/GWLPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/NANO.h"

GWLAudienceTimestampsCache::GWLAudienceTimestampsCache(std::shared_ptr<GWLMonitor> monitor) {
  environment_.monitor = std::move(monitor);
}

void GWLAudienceTimestampsCache::populateCachedTimestamps(const std::shared_ptr<GWLFilterResult>& row,
                                                          int32_t audienceID) {
  const bool needsDynamic = !cachedDynamicFilterEvaluationTimestamps_.count(audienceID);
  const bool needsSequence = !cachedSequenceEvaluationTimestamps_.count(audienceID);
  if (!needsDynamic && !needsSequence) return;

  std::shared_ptr<GWLPBResultData> stored;
  if (row && row->currentResults() && !row->currentResults()->empty()) {
    stored = GWLPBResultData::initWithBuffer(*row->currentResults());
  }
  if (needsDynamic) {
    auto& times = cachedDynamicFilterEvaluationTimestamps_[audienceID];
    if (stored) {
      using Field = GWLPBDynamicFilterResultTimestamp::Field;
      for (const auto& record : NANOGetMessageArray<GWLPBDynamicFilterResultTimestamp>(
                                    stored, GWLPBResultData::Field::dynamic_filter_timestamps)
                                    .value_or(std::vector<std::shared_ptr<GWLPBDynamicFilterResultTimestamp>>{})) {
        const int64_t whole = NANOGetInt64(record, Field::timestamp);
        times[NANOGetInt32(record, Field::filter_id)] = {static_cast<double>(whole), whole};
      }
    }
  }
  if (needsSequence) {
    GWLSequenceTimestampsCache& sequence = sequenceCache(audienceID);
    if (stored) {
      using Field = GWLPBSequenceFilterResultTimestamp::Field;
      for (const auto& record : NANOGetMessageArray<GWLPBSequenceFilterResultTimestamp>(
                                    stored, GWLPBResultData::Field::sequence_filter_timestamps)
                                    .value_or(std::vector<std::shared_ptr<GWLPBSequenceFilterResultTimestamp>>{})) {
        auto times = NANOGetArray(record, Field::eval_timestamps);
        if (!times || times->empty()) continue;
        const int64_t* last = std::get_if<int64_t>(&times->back());
        if (!last) continue;
        sequence.addEventFilterTimestamp(static_cast<double>(*last), NANOGetInt32(record, Field::filter_id));
      }
    }
  }
}

void GWLAudienceTimestampsCache::addEvaluationTimestamp(double timestamp, const GWLEventFilter& filter) {
  if (filter.isSequence()) {
    sequenceCache(filter.audienceID()).addEventFilterTimestamp(timestamp, filter.filterID());
  } else if (filter.isDynamic() || filter.isSessionScoped()) {
    addDynamicTimestamp(timestamp, filter.audienceID(), filter.filterID());
  }
}

void GWLAudienceTimestampsCache::addEvaluationTimestamp(double timestamp, const GWLPropertyFilter& filter) {
  if (filter.isSequence()) {
    sequenceCache(filter.audienceID()).setUserPropertyTimestamp(timestamp, filter.filterID());
  } else if (filter.isDynamic() || filter.isSessionScoped()) {
    addDynamicTimestamp(timestamp, filter.audienceID(), filter.filterID());
  }
}

void GWLAudienceTimestampsCache::addDynamicTimestamp(double timestamp, int32_t audienceID, int32_t filterID) {
  auto& times = cachedDynamicFilterEvaluationTimestamps_[audienceID];
  auto found = times.find(filterID);
  const double cached = found == times.end() ? 0 : found->second.seconds;
  if (timestamp > cached) {
    times[filterID] = {timestamp, GWLInt64FromDouble(timestamp)};
  } else {
    environment_.log(kGWLAudienceLogEarlierEvaluationTimestamp);
  }
}

GWLSequenceTimestampsCache& GWLAudienceTimestampsCache::sequenceCache(int32_t audienceID) {
  auto& cache = cachedSequenceEvaluationTimestamps_[audienceID];
  if (!cache) cache = GWLSequenceTimestampsCache::initWithAudienceID(audienceID);
  return *cache;
}

std::vector<std::shared_ptr<GWLPBDynamicFilterResultTimestamp>>
GWLAudienceTimestampsCache::dynamicTimestampsForAudienceID(int32_t audienceID) const {
  std::vector<std::shared_ptr<GWLPBDynamicFilterResultTimestamp>> records;
  auto found = cachedDynamicFilterEvaluationTimestamps_.find(audienceID);
  if (found == cachedDynamicFilterEvaluationTimestamps_.end()) return records;
  using Field = GWLPBDynamicFilterResultTimestamp::Field;
  for (const auto& [filterID, time] : found->second) {
    auto record = GWLPBDynamicFilterResultTimestamp::initWithMessageInfo();
    NANOSetInt32(record, Field::filter_id, filterID);
    NANOSetInt64(record, Field::timestamp, time.wholeSeconds);
    records.push_back(std::move(record));
  }
  return records;
}

std::optional<std::vector<std::shared_ptr<GWLPBSequenceFilterResultTimestamp>>>
GWLAudienceTimestampsCache::sequenceTimestampsForAudienceID(int32_t audienceID) const {
  auto found = cachedSequenceEvaluationTimestamps_.find(audienceID);
  if (found == cachedSequenceEvaluationTimestamps_.end() || !found->second) return std::nullopt;
  return found->second->sequenceFilterResultTimestamps();
}
