#include "analytics/foundation/experiments/GWLESnapshot.h"

#include "analytics/foundation/experiments/GWLEManager.h"
#include "analytics/foundation/experiments/GWLEMonitor.h"
#include "analytics/wire/GWLPBExperiment.h"
#include "analytics/wire/NANO.h"

namespace {

constexpr int64_t kInvalidSDKNameCode = 840000;
constexpr const char* kInvalidSDKNameMessage = "Cannot create snapshot with an invalid SDK name";
constexpr int64_t kNilExperimentsCode = 840001;
constexpr const char* kNilExperimentsMessage = "Cannot create snapshot with an experiment list of nil";
constexpr int64_t kNilExperimentIDCode = 840003;
constexpr const char* kNilExperimentIDMessage = "Cannot add flag into empty experiment ID";
constexpr int64_t kInvalidFlagCode = 840004;
constexpr const char* kInvalidFlagMessage = "Cannot add an invalid flag into a snapshot";

}  // namespace

std::optional<GWLESnapshot> GWLESnapshot::initWithSDKName(
    const std::string& SDKName, const std::optional<std::vector<GWLEExperiment>>& experiments, double timestamp) {
  if (SDKName.empty()) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSilent, kInvalidSDKNameCode, kInvalidSDKNameMessage,
                                         GWLLogContext(SDKName));
    return std::nullopt;
  }
  if (!experiments) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSilent, kNilExperimentsCode, kNilExperimentsMessage);
    return std::nullopt;
  }
  GWLESnapshot snapshot(SDKName, timestamp);
  for (const auto& experiment : *experiments) {
    snapshot.experimentsByExperimentID_.insert_or_assign(experiment.experimentID(), experiment);
  }
  return snapshot;
}

std::optional<GWLESnapshot> GWLESnapshot::initWithProtobuf(const GWLPBSnapshot& proto, double timestamp) {
  auto& message = const_cast<GWLPBSnapshot&>(proto);
  auto name = NANOGetString(message, GWLPBSnapshot::Field::sdk_name);
  std::vector<GWLEExperiment> experiments;
  if (auto protos = NANOGetMessageArray<GWLPBExperiment>(message, GWLPBSnapshot::Field::experiments)) {
    for (const auto& experiment : *protos) experiments.push_back(GWLEExperiment::initWithProtobuf(*experiment));
  }
  return initWithSDKName(name.value_or(""), experiments, timestamp);
}

GWLESnapshot GWLESnapshot::copyWithTimestamp(double timestamp) const {
  GWLESnapshot copy(SDKName_, timestamp);
  copy.experimentsByExperimentID_ = experimentsByExperimentID_;
  return copy;
}

std::shared_ptr<const GWLPBFlag> GWLESnapshot::flagByName(const std::string& name) const {
  for (const auto& [id, experiment] : experimentsByExperimentID_) {
    if (auto flag = experiment.flagWithName(name)) return flag;
  }
  return nullptr;
}

void GWLESnapshot::addFlag(const std::shared_ptr<const GWLPBFlag>& flag, const std::optional<int32_t>& experimentID) {
  if (!experimentID) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSilent, kNilExperimentIDCode, kNilExperimentIDMessage);
    return;
  }
  if (!flag) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSilent, kInvalidFlagCode, kInvalidFlagMessage,
                                         GWLLogContext(*experimentID));
    return;
  }
  auto it = experimentsByExperimentID_.find(*experimentID);
  if (it == experimentsByExperimentID_.end()) {
    auto made = GWLEExperiment::initWithExperimentID(platform::Object(*experimentID), GWLEExperiment::Flags{});
    if (!made) return;
    it = experimentsByExperimentID_.emplace(*experimentID, std::move(*made)).first;
  }
  it->second.addFlag(flag);
}

void GWLESnapshot::addFlags(const GWLEExperiment::Flags& flags,
                            const std::optional<int32_t>& experimentID) {
  for (const auto& flag : flags) addFlag(flag, experimentID);
}

std::vector<GWLEExperiment> GWLESnapshot::experiments() const {
  std::vector<GWLEExperiment> result;
  result.reserve(experimentsByExperimentID_.size());
  for (const auto& [id, experiment] : experimentsByExperimentID_) result.push_back(experiment);
  return result;
}

std::shared_ptr<GWLPBSnapshot> GWLESnapshot::proto() const {
  auto message = GWLPBSnapshot::initWithMessageInfo();
  NANOSetString(message, GWLPBSnapshot::Field::sdk_name, SDKName_);
  std::vector<NANOValue> experiments;
  experiments.reserve(experimentsByExperimentID_.size());
  for (const auto& [id, experiment] : experimentsByExperimentID_) {
    experiments.emplace_back(std::shared_ptr<NANOMessageBase>(experiment.proto()));
  }
  NANOSetArray(message, GWLPBSnapshot::Field::experiments, experiments);
  return message;
}
