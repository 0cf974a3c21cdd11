#include "analytics/audiences/GWLAudienceFilterEnvironment.h"

#include <vector>

#include "analytics/foundation/GWLMeasurementRegistry.h"
#include "analytics/foundation/GWLMonitor.h"
#include "analytics/foundation/GWLRemoteConfig.h"

GWLAudienceFilterEnvironment GWLAudienceFilterEnvironment::current() {
  GWLAudienceFilterEnvironment environment;
  environment.monitor = GWLMeasurementRegistry::monitor();
  if (auto config = GWLMeasurementRegistry::remoteConfig()) {
    environment.maxFiltersPerAudience = config->maxFiltersPerAudience();
    environment.maxParametersPerFilter = config->maxParametersPerFilter();
  }
  return environment;
}

void GWLAudienceFilterEnvironment::log(const GWLAudienceLogLine& line,
                                       std::initializer_list<GWLLogContext> contexts) const {
  if (!monitor) return;
  monitor->logWithLevel(line.level, line.code, line.message, std::vector<GWLLogContext>(contexts));
}
