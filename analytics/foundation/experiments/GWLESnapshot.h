// GWLESnapshot — the experiments of one SDK as the service assigned them at
// one time: the SDK name, its experiments by ID, a timestamp (seconds since
// 1970: the creation time of a fetched snapshot, the activation time of an
// activated one) and whether the SDK's client activates it itself.
//
// A value type. Copying keeps the timestamp and the activation flag, so a
// snapshot read back from storage stays as old as it is; `copyWithTimestamp`
// makes the copy that is new as of a given time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/foundation/experiments/GWLEExperiment.h"
#include "analytics/wire/GWLPBSnapshot.h"

class GWLESnapshot {
 public:
  // A snapshot of `SDKName` with copies of `experiments` (a later experiment
  // replaces an earlier one of the same ID), created at `timestamp`, not
  // activated by its client. nullopt, with a report, for an empty name or no
  // experiment list; an empty list is allowed.
  [[nodiscard]] static std::optional<GWLESnapshot> initWithSDKName(const std::string& SDKName,
                                                     const std::optional<std::vector<GWLEExperiment>>& experiments,
                                                     double timestamp);
  // The name and experiments of a wire snapshot, created at `timestamp`.
  [[nodiscard]] static std::optional<GWLESnapshot> initWithProtobuf(const GWLPBSnapshot& proto, double timestamp);

  // Same name and experiments, created at `timestamp`, not activated by its client.
  GWLESnapshot copyWithTimestamp(double timestamp) const;

  // The first flag of that name, looking through the experiments in ID order.
  std::shared_ptr<const GWLPBFlag> flagByName(const std::string& name) const;
  // Adds `flag` to the experiment `experimentID`, made when missing.
  void addFlag(const std::shared_ptr<const GWLPBFlag>& flag, const std::optional<int32_t>& experimentID);
  void addFlags(const GWLEExperiment::Flags& flags, const std::optional<int32_t>& experimentID);

  const std::string& SDKName() const { return SDKName_; }
  // The experiments in ID order.
  std::vector<GWLEExperiment> experiments() const;
  const std::map<int32_t, GWLEExperiment>& experimentsByExperimentID() const { return experimentsByExperimentID_; }
  double timestamp() const { return timestamp_; }
  void setTimestamp(double timestamp) { timestamp_ = timestamp; }
  bool manuallyActivated() const { return manuallyActivated_; }
  void setManuallyActivated(bool manuallyActivated) { manuallyActivated_ = manuallyActivated; }
  // A wire snapshot with the name and every experiment.
  std::shared_ptr<GWLPBSnapshot> proto() const;

 private:
  GWLESnapshot(std::string SDKName, double timestamp) : SDKName_(std::move(SDKName)), timestamp_(timestamp) {}

  std::string SDKName_;
  std::map<int32_t, GWLEExperiment> experimentsByExperimentID_;
  double timestamp_ = 0;
  bool manuallyActivated_ = false;
};
