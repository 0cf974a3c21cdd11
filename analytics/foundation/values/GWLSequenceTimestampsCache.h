// GWLSequenceTimestampsCache — the evaluation timestamps of the sequence
// filters of one audience, filled during one audience evaluation on the worker
// queue (not thread-safe).
//
// Event filters collect timestamps (seconds since 1970, in insertion order;
// one equal to the last when both are truncated to whole seconds is not added
// again); a property filter keeps only its latest timestamp. A timestamp
// before the last one is reported (42000, 42001, level 5) and kept.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class GWLPBSequenceFilterResultTimestamp;

class GWLSequenceTimestampsCache {
 public:
  // Null without an audience.
  static std::shared_ptr<GWLSequenceTimestampsCache> initWithAudienceID(std::optional<int32_t> audienceID);

  int32_t audienceID() const { return audienceID_; }
  // A copy of the filter's timestamps; nullopt for no filter or an unknown one.
  [[nodiscard]] std::optional<std::vector<double>> sequenceTimestampsForFilterID(std::optional<int32_t> filterID) const;
  void addEventFilterTimestamp(double timestamp, std::optional<int32_t> filterID);
  void setUserPropertyTimestamp(double timestamp, std::optional<int32_t> filterID);
  // One wire message per filter, in ascending filter order, with the filter's
  // timestamps sorted and truncated to whole seconds.
  std::vector<std::shared_ptr<GWLPBSequenceFilterResultTimestamp>> sequenceFilterResultTimestamps() const;

 private:
  explicit GWLSequenceTimestampsCache(int32_t audienceID) : audienceID_(audienceID) {}
  std::map<int32_t, std::vector<double>> allSequenceTimestampsByFilterID_;
  int32_t audienceID_;
};
