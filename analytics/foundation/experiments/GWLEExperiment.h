// GWLEExperiment — one experiment of a snapshot: an identifier (0 marks the
// launched experiment, the values that apply to everybody) and its flags by
// name. A value type; copies share the flag messages, which are never changed
// once added.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/wire/GWLPBExperiment.h"
#include "analytics/wire/GWLPBFlag.h"
#include "platform/core/Object.h"

class GWLEExperiment {
 public:
  using Flags = std::vector<std::shared_ptr<const GWLPBFlag>>;

  // An experiment of `experimentID` (an integer number within 32 bits) with
  // copies of `flags`; nullopt, with a report, for a missing or non-numeric
  // ID, missing flags or a missing flag element. Flags without a name have
  // nothing to be kept under and are left out.
  [[nodiscard]] static std::optional<GWLEExperiment> initWithExperimentID(const platform::Object& experimentID,
                                                            const std::optional<Flags>& flags);
  // The ID (0 when absent) and the flags of a wire experiment.
  static GWLEExperiment initWithProtobuf(const GWLPBExperiment& proto);

  // Keeps a copy of `flag` under its name, replacing a flag of that name.
  void addFlag(const std::shared_ptr<const GWLPBFlag>& flag);
  // The flag of that name, or null (an empty name is reported).
  std::shared_ptr<const GWLPBFlag> flagWithName(const std::string& name) const;

  int32_t experimentID() const { return experimentID_; }
  // Every flag, in name order.
  std::vector<std::shared_ptr<const GWLPBFlag>> flags() const;
  // A wire experiment with the ID and every flag.
  std::shared_ptr<GWLPBExperiment> proto() const;

 private:
  explicit GWLEExperiment(int32_t experimentID) : experimentID_(experimentID) {}

  int32_t experimentID_ = 0;
  std::map<std::string, std::shared_ptr<GWLPBFlag>> flagsByName_;
};
