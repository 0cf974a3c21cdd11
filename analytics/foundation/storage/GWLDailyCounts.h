// GWLDailyCounts — the daily counters of the measurement database's
// app_metadata row: the day index they belong to and the counts of
// conversions, all events, public events, error events and realtime
// conversion and DCU events of that day. An increment given another day first
// starts the counters of that day from zero; counters stop at the int32
// maximum.
//
// Threads: a plain row value; the database hands out copies, each holder owns its own.
#pragma once

#include <cstdint>

class GWLDailyCounts {
 public:
  GWLDailyCounts(int32_t day, int32_t conversionsCount, int32_t allEventsCount, int32_t publicEventsCount,
                 int32_t errorEventsCount, int32_t realtimeCount, int32_t dcuRealtimeCount)
      : day_(day), conversionsCount_(conversionsCount), allEventsCount_(allEventsCount),
        publicEventsCount_(publicEventsCount), errorEventsCount_(errorEventsCount), realtimeCount_(realtimeCount),
        dcuRealtimeCount_(dcuRealtimeCount) {}

  void incrementCountsForCurrentDay(int32_t day, bool isPublicEvent, bool isConversion) {
    incrementCountsForCurrentDay(day, isPublicEvent, isConversion, 1);
  }
  // Conversions +1 (not +n), all events +n, public events +n when public.
  void incrementCountsForCurrentDay(int32_t day, bool isPublicEvent, bool isConversion, int32_t effectiveEventCount);
  void incrementErrorEventsCountForCurrentDay(int32_t day);
  void incrementRealtimeCountsForCurrentDay(int32_t day);
  void incrementDCURealtimeCountsForCurrentDay(int32_t day);
  // All events -1, never below 0.
  void decrementAllEventsCount();
  void resetWithNewDay(int32_t day);

  int32_t day() const { return day_; }
  int32_t conversionsCount() const { return conversionsCount_; }
  int32_t allEventsCount() const { return allEventsCount_; }
  int32_t publicEventsCount() const { return publicEventsCount_; }
  int32_t errorEventsCount() const { return errorEventsCount_; }
  int32_t realtimeCount() const { return realtimeCount_; }
  int32_t dcuRealtimeCount() const { return dcuRealtimeCount_; }

 private:
  void moveToDay(int32_t day) {
    if (day != day_) resetWithNewDay(day);
  }
  int32_t day_;
  int32_t conversionsCount_;
  int32_t allEventsCount_;
  int32_t publicEventsCount_;
  int32_t errorEventsCount_;
  int32_t realtimeCount_;
  int32_t dcuRealtimeCount_;
};
