#include "analytics/foundation/storage/GWLDatabaseRemoteConfigStore.h"

bool GWLDatabaseRemoteConfigStore::updateRemoteConfig(const GWLPBMeasurementConfig& config, platform::Error* error) {
  return database_->updateRemoteConfig(config, error);
}

std::shared_ptr<GWLPBMeasurementConfig> GWLDatabaseRemoteConfigStore::queryMeasurementConfig(platform::Error* error) {
  return database_->queryMeasurementConfigWithError(error);
}

std::optional<double> GWLDatabaseRemoteConfigStore::lastRemoteConfigUpdateTimestamp(platform::Error* error) {
  platform::Error local;
  std::optional<double> timestamp = database_->lastRemoteConfigUpdateTimestamp(&local);
  if (timestamp) return timestamp;
  if (!local.domain.empty()) {
    platform::setError(error, local);
    return std::nullopt;
  }
  return 0.0;  // nothing stored yet
}
