#include "analytics/audiences/GWLAudienceFilterEnvironment.h"

#include <utility>
#include <vector>

#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"

GWLAudienceFilterEnvironment GWLAudienceFilterEnvironment::withRemoteConfig(const GWLRemoteConfig& config,
                                                                           std::shared_ptr<GWLMonitor> monitor) {
  GWLAudienceFilterEnvironment environment;
  environment.monitor = std::move(monitor);
  environment.maxFiltersPerAudience = config.maxFiltersPerAudience();
  environment.maxParametersPerFilter = config.maxParametersPerFilter();
  return environment;
}

GWLAudienceFilterEnvironment GWLAudienceFilterEnvironment::current() {
  if (auto config = GWLMeasurementRegistry::remoteConfig()) {
    return withRemoteConfig(*config, GWLLibraryMonitor::monitor());
  }
  GWLAudienceFilterEnvironment environment;
  environment.monitor = GWLLibraryMonitor::monitor();
  return environment;
}

void GWLAudienceFilterEnvironment::log(const GWLAudienceLogLine& line,
                                       std::initializer_list<GWLLogContext> contexts) const {
  if (!monitor) return;
  monitor->logWithLevel(line.level, line.code, line.message, std::vector<GWLLogContext>(contexts));
}

GWLAudienceRegexCache::Entry& GWLAudienceRegexCache::compiled(std::string_view pattern, bool caseInsensitive,
                                                             const platform::RegexLimits& limits) {
  Key key{std::string(pattern), caseInsensitive, limits.maxPatternLength, limits.timeLimit, limits.stackLimitBytes};
  auto found = entries_.find(key);
  if (found != entries_.end()) return found->second;
  Entry entry;
  entry.regex = platform::BoundedRegex::compile(pattern, {caseInsensitive}, limits, &entry.error);
  return entries_.emplace(std::move(key), std::move(entry)).first->second;
}
