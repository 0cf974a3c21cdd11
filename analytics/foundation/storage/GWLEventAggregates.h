// GWLEventAggregates — the measurement database's aggregates of one event
// name (a row of `events`): lifetime, bundle and session counts, the times of
// the last occurrence and the last bundling, and the sampling state.
//
// Threads: a plain row value; the database hands out copies, each holder owns its own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class GWLEventAggregates {
 public:
  // Null for a name that is not a valid internal event name, or (report
  // 17000) for a negative count.
  static std::shared_ptr<GWLEventAggregates> initWithName(const std::string& name, int32_t lifetimeCount,
                                                          int32_t currentBundleCount, int32_t currentSessionCount,
                                                          double lastFireTimestamp);

  // +1; at the int32 maximum the count starts again at 0 (reports 17001 to 17003).
  void incrementLifetimeCount();
  void incrementCurrentBundleCount();
  void incrementCurrentSessionCount();

  const std::string& name() const { return name_; }
  int32_t lifetimeCount() const { return lifetimeCount_; }
  int32_t currentBundleCount() const { return currentBundleCount_; }
  int32_t currentSessionCount() const { return currentSessionCount_; }
  double lastFireTimestamp() const { return lastFireTimestamp_; }
  void setLastFireTimestamp(double value) { lastFireTimestamp_ = value; }
  double lastBundledTimestamp() const { return lastBundledTimestamp_; }
  void setLastBundledTimestamp(double value) { lastBundledTimestamp_ = value; }
  const std::optional<int64_t>& lastSampledComplexEventID() const { return lastSampledComplexEventID_; }
  void setLastSampledComplexEventID(std::optional<int64_t> value) { lastSampledComplexEventID_ = value; }
  int32_t lastSamplingRate() const { return lastSamplingRate_; }
  void setLastSamplingRate(int32_t value) { lastSamplingRate_ = value; }
  bool lastExemptFromSampling() const { return lastExemptFromSampling_; }
  void setLastExemptFromSampling(bool value) { lastExemptFromSampling_ = value; }
  int32_t lastBundledDay() const { return lastBundledDay_; }
  void setLastBundledDay(int32_t value) { lastBundledDay_ = value; }

 private:
  GWLEventAggregates() = default;
  std::string name_;
  int32_t lifetimeCount_ = 0;
  int32_t currentBundleCount_ = 0;
  int32_t currentSessionCount_ = 0;
  double lastFireTimestamp_ = 0;
  double lastBundledTimestamp_ = 0;
  std::optional<int64_t> lastSampledComplexEventID_;
  int32_t lastSamplingRate_ = 1;
  bool lastExemptFromSampling_ = false;
  int32_t lastBundledDay_ = 0;
};
