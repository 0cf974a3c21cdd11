#include "analytics/foundation/storage/GWLDailyCounts.h"

#include <limits>

// A counter that reached the int32 maximum stays there: a wrapped count would
// read as a day far below its limits.
namespace {
int32_t add(int32_t count, int32_t amount) {
  const int64_t sum = int64_t{count} + int64_t{amount};
  if (sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (sum < 0) return 0;
  return static_cast<int32_t>(sum);
}
}  // namespace

void GWLDailyCounts::incrementCountsForCurrentDay(int32_t day, bool isPublicEvent, bool isConversion,
                                                  int32_t effectiveEventCount) {
  moveToDay(day);
  if (isConversion) conversionsCount_ = add(conversionsCount_, 1);
  allEventsCount_ = add(allEventsCount_, effectiveEventCount);
  if (isPublicEvent) publicEventsCount_ = add(publicEventsCount_, effectiveEventCount);
}

void GWLDailyCounts::incrementErrorEventsCountForCurrentDay(int32_t day) {
  moveToDay(day);
  allEventsCount_ = add(allEventsCount_, 1);
  errorEventsCount_ = add(errorEventsCount_, 1);
}

void GWLDailyCounts::incrementRealtimeCountsForCurrentDay(int32_t day) {
  moveToDay(day);
  realtimeCount_ = add(realtimeCount_, 1);
}

void GWLDailyCounts::incrementDCURealtimeCountsForCurrentDay(int32_t day) {
  moveToDay(day);
  dcuRealtimeCount_ = add(dcuRealtimeCount_, 1);
}

void GWLDailyCounts::decrementAllEventsCount() { allEventsCount_ = allEventsCount_ <= 1 ? 0 : allEventsCount_ - 1; }

void GWLDailyCounts::resetWithNewDay(int32_t day) {
  day_ = day;
  conversionsCount_ = allEventsCount_ = publicEventsCount_ = errorEventsCount_ = realtimeCount_ = dcuRealtimeCount_ = 0;
}
