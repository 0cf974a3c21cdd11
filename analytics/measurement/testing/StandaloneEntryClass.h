// makeStandaloneEntryClass — an entry class for fuzz targets and benchmarks
// that needs neither a data directory nor the process's shared services: its
// suite lives in memory, it has no persisted settings and no identity, and it
// has a notification center, a payment queue and an app-delegate swizzler of
// its own on the given main queue. Its start makes `engine`.
#pragma once

#include <memory>

#include "analytics/measurement/GWLAnalytics.h"

namespace platform {
class Clock;
class MainQueue;
class Queue;
}  // namespace platform

namespace measurement_testing {

std::shared_ptr<GWLAnalytics> makeStandaloneEntryClass(std::shared_ptr<platform::Clock> clock,
                                                       std::shared_ptr<platform::MainQueue> mainQueue,
                                                       std::shared_ptr<platform::Queue> globalQueue,
                                                       std::shared_ptr<GWLAnalyticsEngine> engine);

}  // namespace measurement_testing
