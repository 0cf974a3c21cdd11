// GWLDatabaseRemoteConfigStore — the measurement database as the place where
// the remote configuration keeps its downloaded configuration. It forwards to
// the database's configuration-blob operations and answers 0 for "never
// stored", as the remote configuration expects.
//
// Threads: the worker queue only, like the database it forwards to.
#pragma once

#include <memory>

#include "analytics/foundation/config/GWLRemoteConfigStore.h"
#include "analytics/foundation/storage/GWLDatabase.h"

class GWLDatabaseRemoteConfigStore : public GWLRemoteConfigStore {
 public:
  explicit GWLDatabaseRemoteConfigStore(std::shared_ptr<GWLDatabase> database) : database_(std::move(database)) {}

  [[nodiscard]] bool updateRemoteConfig(const GWLPBMeasurementConfig& config, platform::Error* error = nullptr) override;
  [[nodiscard]] std::shared_ptr<GWLPBMeasurementConfig> queryMeasurementConfig(platform::Error* error = nullptr) override;
  [[nodiscard]] std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error* error = nullptr) override;

 private:
  std::shared_ptr<GWLDatabase> database_;
};
