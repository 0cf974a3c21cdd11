#include "analytics/foundation/experiments/GWLEExperiment.h"

#include <cmath>
#include <limits>

#include "analytics/foundation/experiments/GWLEManager.h"
#include "analytics/foundation/experiments/GWLEMonitor.h"
#include "analytics/wire/NANO.h"

namespace {

constexpr int64_t kNilIDCode = 870000;
constexpr const char* kNilIDMessage = "Cannot create an experiment without ID";
constexpr int64_t kIDNotNumberCode = 870001;
constexpr const char* kIDNotNumberMessage = "Experiment ID must be a number. ID";
constexpr int64_t kInvalidFlagsCode = 870002;
constexpr const char* kInvalidFlagsMessage = "Cannot create an experiment with invalid flags";
constexpr int64_t kNonFlagCode = 870003;
constexpr const char* kNonFlagMessage = "Cannot add non-flag into the experiment. Flag";
constexpr int64_t kEmptyFlagCode = 870004;
constexpr const char* kEmptyFlagMessage = "Cannot add empty flag into an experiment. ID";
constexpr int64_t kFlagWithoutNameCode = 870006;
constexpr const char* kFlagWithoutNameMessage = "Cannot add a flag without name into an experiment. ID";
constexpr int64_t kEmptyFlagNameCode = 870007;
constexpr const char* kEmptyFlagNameMessage = "Cannot retrieve a flag without a flag name";

// The ID as a 32-bit integer: integers and integral doubles within range.
std::optional<int32_t> experimentIDOf(const platform::Object& object) {
  double value = 0;
  if (auto i = object.intValue()) {
    if (*i < std::numeric_limits<int32_t>::min() || *i > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(*i);
  }
  if (auto d = object.doubleValue()) value = *d;
  else return std::nullopt;
  if (!std::isfinite(value) || std::trunc(value) != value || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

std::optional<GWLEExperiment> GWLEExperiment::initWithExperimentID(const platform::Object& experimentID,
                                                                   const std::optional<Flags>& flags) {
  auto monitor = GWLEManager::monitor();
  if (experimentID.isNull()) {
    monitor->logWithLevel(kGWLLevelErrorSilent, kNilIDCode, kNilIDMessage);
    return std::nullopt;
  }
  auto id = experimentIDOf(experimentID);
  if (!id) {
    monitor->logWithLevel(kGWLLevelErrorSilent, kIDNotNumberCode, kIDNotNumberMessage, GWLLogContext(experimentID));
    return std::nullopt;
  }
  if (!flags) {
    monitor->logWithLevel(kGWLLevelErrorSilent, kInvalidFlagsCode, kInvalidFlagsMessage, GWLLogContext());
    return std::nullopt;
  }
  GWLEExperiment experiment(*id);
  for (const auto& flag : *flags) {
    if (!flag) {
      monitor->logWithLevel(kGWLLevelErrorSilent, kNonFlagCode, kNonFlagMessage, GWLLogContext());
      return std::nullopt;
    }
    experiment.addFlag(flag);
  }
  return experiment;
}

GWLEExperiment GWLEExperiment::initWithProtobuf(const GWLPBExperiment& proto) {
  auto& message = const_cast<GWLPBExperiment&>(proto);
  int32_t id = NANOHasField(message, GWLPBExperiment::Field::experiment_id)
                   ? NANOGetInt32(message, GWLPBExperiment::Field::experiment_id)
                   : 0;
  GWLEExperiment experiment(id);
  if (auto flags = NANOGetMessageArray<GWLPBFlag>(message, GWLPBExperiment::Field::flags)) {
    for (const auto& flag : *flags) experiment.addFlag(flag);
  }
  return experiment;
}

void GWLEExperiment::addFlag(const std::shared_ptr<const GWLPBFlag>& flag) {
  if (!flag) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSilent, kEmptyFlagCode, kEmptyFlagMessage,
                                         GWLLogContext(experimentID_));
    return;
  }
  auto* message = const_cast<GWLPBFlag*>(flag.get());
  auto name = NANOHasField(message, GWLPBFlag::Field::name) ? NANOGetString(message, GWLPBFlag::Field::name)
                                                             : std::nullopt;
  if (!name) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSilent, kFlagWithoutNameCode, kFlagWithoutNameMessage,
                                         GWLLogContext(experimentID_));
    return;
  }
  auto copy = GWLPBFlag::initWithMessageInfo(flag->messageInfo());
  if (copy) flagsByName_[*name] = std::move(copy);
}

std::shared_ptr<const GWLPBFlag> GWLEExperiment::flagWithName(const std::string& name) const {
  if (name.empty()) {
    GWLEManager::monitor()->logWithLevel(kGWLLevelErrorSilent, kEmptyFlagNameCode, kEmptyFlagNameMessage);
    return nullptr;
  }
  auto it = flagsByName_.find(name);
  return it == flagsByName_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<const GWLPBFlag>> GWLEExperiment::flags() const {
  std::vector<std::shared_ptr<const GWLPBFlag>> result;
  result.reserve(flagsByName_.size());
  for (const auto& [name, flag] : flagsByName_) result.push_back(flag);
  return result;
}

std::shared_ptr<GWLPBExperiment> GWLEExperiment::proto() const {
  auto message = GWLPBExperiment::initWithMessageInfo();
  NANOSetInt32(message, GWLPBExperiment::Field::experiment_id, experimentID_);
  std::vector<NANOValue> flags;
  flags.reserve(flagsByName_.size());
  for (const auto& [name, flag] : flagsByName_) flags.emplace_back(std::shared_ptr<NANOMessageBase>(std::const_pointer_cast<GWLPBFlag>(flag)));
  NANOSetArray(message, GWLPBExperiment::Field::flags, flags);
  return message;
}
