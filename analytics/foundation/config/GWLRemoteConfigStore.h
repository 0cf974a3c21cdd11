// GWLRemoteConfigStore — where the remote configuration keeps the downloaded
// measurement configuration between launches: the configuration blob of the
// measurement database. The database implements it; tests use a double.
//
// Threads: called on the remote configuration's thread, the worker queue once
// the engine runs (where the measurement database lives).
#pragma once

#include <memory>
#include <optional>

#include "platform/core/Error.h"

class GWLPBMeasurementConfig;

class GWLRemoteConfigStore {
 public:
  virtual ~GWLRemoteConfigStore() = default;
  // Stores the configuration's encoding with the current time; false with an
  // error when the encoding is empty, the app identifier is missing or the
  // store fails (the stored configuration then stays as it was).
  [[nodiscard]] virtual bool updateRemoteConfig(const GWLPBMeasurementConfig& config, platform::Error* error = nullptr) = 0;
  // The stored configuration; null without an error when none is stored,
  // null with an error when it cannot be read or decoded.
  [[nodiscard]] virtual std::shared_ptr<GWLPBMeasurementConfig> queryMeasurementConfig(platform::Error* error = nullptr) = 0;
  // Seconds since 1970 at which the configuration was stored; nullopt with
  // an error when the query fails, 0 when nothing was stored.
  [[nodiscard]] virtual std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error* error = nullptr) = 0;
};
