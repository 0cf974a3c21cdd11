// GWLEIdentity — what the experiments client asks of the engine's identity:
// the installation's diversion key, used for SDKs that bring none of their
// own. The engine installs its identity with
// GWLEExperimentRequestBuilder::setIdentity; tests install a double.
//
// Threads: the request builder asks it on the experiments worker queue; an
// implementation answers on that thread without waiting for another.
#pragma once

#include <optional>
#include <string>

class GWLEIdentity {
 public:
  virtual ~GWLEIdentity() = default;
  // The diversion key, or nullopt when there is none yet.
  [[nodiscard]] virtual std::optional<std::string> diversionKey() const = 0;
};
