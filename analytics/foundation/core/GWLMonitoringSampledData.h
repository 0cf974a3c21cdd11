// GWLMonitoringSampledData — the monitor's health sample: a one-entry
// reservoir sample of the error- and warning-class reports since the last
// dispatch.
//
// The entry is a four-element array, which is also its stored form:
// [encoded context (string), population (integer), sample key (string),
// creation time (date)]. Each sampled report raises the population n by one
// and replaces key and context with probability 1/n, so every report since the
// entry was created had the same chance to be the one kept. Once the entry is
// older than the sample period it is handed out for upload and dropped.
//
// Threads: a plain value; the monitor keeps its one sample on its serial queue.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/core/Object.h"

class GWLMonitoringSampledData {
 public:
  // Uniform random integer in [0, bound), bound >= 1.
  using RandomBelow = std::function<uint64_t(uint64_t)>;

  // Takes a stored array; anything but a valid entry gives an empty sample.
  explicit GWLMonitoringSampledData(const std::optional<platform::Object>& array = std::nullopt);

  void insertOrUpdateSampledDataWithKey(const std::string& key, const std::string& encodedContext, double now,
                                        const RandomBelow& randomBelow);
  // "population:key:context" (or "population:key" for an empty context) once
  // the entry is older than `samplePeriod` seconds, dropping it; "0:" without
  // an entry when the last dispatch lies more than a period away from now;
  // otherwise nullopt.
  [[nodiscard]] std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                       double lastSampledTimestamp, double now);
  // A copy of the entry, or nullopt.
  [[nodiscard]] std::optional<platform::Array> sampledData() const { return sampledData_; }

  static bool isValidUserDefaultsArrayEntry(const platform::Object& entry);
  static std::string monitoringURLParamWithKey(const std::string& key, int64_t population, const std::string& context);
  static platform::Array sampledDataEntryWithKey(const std::string& key, double timestamp, const std::string& context,
                                                 int64_t population);

 private:
  std::optional<platform::Array> sampledData_;
};
