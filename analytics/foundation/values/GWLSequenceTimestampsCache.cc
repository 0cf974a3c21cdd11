#include "analytics/foundation/values/GWLSequenceTimestampsCache.h"

#include <algorithm>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/wire/GWLPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/NANO.h"

namespace {

constexpr int64_t kEventTimestampOutOfOrderCode = 42000;
constexpr const char* kEventTimestampOutOfOrderMessage =
    "Adding a sequence timestamp less than the last added timestamp";
constexpr int64_t kPropertyTimestampOutOfOrderCode = 42001;
constexpr const char* kPropertyTimestampOutOfOrderMessage =
    "Setting a sequence timestamp less than the last set timestamp";

}  // namespace

std::shared_ptr<GWLSequenceTimestampsCache> GWLSequenceTimestampsCache::initWithAudienceID(
    std::optional<int32_t> audienceID) {
  if (!audienceID) return nullptr;
  return std::shared_ptr<GWLSequenceTimestampsCache>(new GWLSequenceTimestampsCache(*audienceID));
}

std::optional<std::vector<double>> GWLSequenceTimestampsCache::sequenceTimestampsForFilterID(
    std::optional<int32_t> filterID) const {
  if (!filterID) return std::nullopt;
  auto found = allSequenceTimestampsByFilterID_.find(*filterID);
  if (found == allSequenceTimestampsByFilterID_.end()) return std::nullopt;
  return found->second;
}

void GWLSequenceTimestampsCache::addEventFilterTimestamp(double timestamp, std::optional<int32_t> filterID) {
  if (!filterID) return;
  std::vector<double>& timestamps = allSequenceTimestampsByFilterID_[*filterID];
  if (!timestamps.empty() && timestamp < timestamps.back()) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelWarningSilent, kEventTimestampOutOfOrderCode,
                                               kEventTimestampOutOfOrderMessage);
  }
  if (!timestamps.empty() && GWLInt64FromDouble(timestamps.back()) == GWLInt64FromDouble(timestamp)) return;
  timestamps.push_back(timestamp);
}

void GWLSequenceTimestampsCache::setUserPropertyTimestamp(double timestamp, std::optional<int32_t> filterID) {
  if (!filterID) return;
  std::vector<double>& timestamps = allSequenceTimestampsByFilterID_[*filterID];
  if (!timestamps.empty() && timestamp < timestamps.back()) {
    GWLLibraryMonitor::monitor()->logWithLevel(kGWLLevelWarningSilent, kPropertyTimestampOutOfOrderCode,
                                               kPropertyTimestampOutOfOrderMessage);
  }
  timestamps.assign(1, timestamp);
}

std::vector<std::shared_ptr<GWLPBSequenceFilterResultTimestamp>>
GWLSequenceTimestampsCache::sequenceFilterResultTimestamps() const {
  std::vector<std::shared_ptr<GWLPBSequenceFilterResultTimestamp>> results;
  for (const auto& [filterID, timestamps] : allSequenceTimestampsByFilterID_) {
    auto result = GWLPBSequenceFilterResultTimestamp::initWithMessageInfo();
    NANOSetInt32(result, GWLPBSequenceFilterResultTimestamp::Field::filter_id, filterID);
    if (!timestamps.empty()) {
      std::vector<double> sorted = timestamps;
      std::sort(sorted.begin(), sorted.end());
      std::vector<NANOValue> values;
      values.reserve(sorted.size());
      for (double timestamp : sorted) values.emplace_back(GWLInt64FromDouble(timestamp));
      NANOSetArray(result, GWLPBSequenceFilterResultTimestamp::Field::eval_timestamps, values);
    }
    results.push_back(std::move(result));
  }
  return results;
}
