// GWLAppMetadata — the bundle-index record of the measurement database's one
// app_metadata row: the index and delivery index of the last bundle and the
// times (seconds since 1970) of its first and last event.
//
// Threads: a plain row value; the database hands out copies, each holder owns its own.
#pragma once

#include <cstdint>
#include <memory>

class GWLAppMetadata {
 public:
  // Null (report 4000) for a negative last bundle index.
  static std::shared_ptr<GWLAppMetadata> initWithLastBundleIndex(int32_t lastBundleIndex, int32_t lastDeliveryIndex,
                                                                 double lastBundleStartTimestamp,
                                                                 double lastBundleEndTimestamp);
  static std::shared_ptr<GWLAppMetadata> initWithLastBundleIndex(int32_t lastBundleIndex,
                                                                 double lastBundleStartTimestamp,
                                                                 double lastBundleEndTimestamp);

  // Adds `count`; a sum of 2^31 or more wraps to count - 1 (report 4001).
  void increaseLastBundleIndex(int32_t count);
  // Adds 1; at the int32 maximum the index becomes 0 (report 4002).
  void incrementLastDeliveryIndex();

  int32_t lastBundleIndex() const { return lastBundleIndex_; }
  int32_t lastDeliveryIndex() const { return lastDeliveryIndex_; }
  double lastBundleStartTimestamp() const { return lastBundleStartTimestamp_; }
  void setLastBundleStartTimestamp(double value) { lastBundleStartTimestamp_ = value; }
  double lastBundleEndTimestamp() const { return lastBundleEndTimestamp_; }
  void setLastBundleEndTimestamp(double value) { lastBundleEndTimestamp_ = value; }

 private:
  GWLAppMetadata() = default;
  int32_t lastBundleIndex_ = 0;
  int32_t lastDeliveryIndex_ = 0;
  double lastBundleStartTimestamp_ = 0;
  double lastBundleEndTimestamp_ = 0;
};
