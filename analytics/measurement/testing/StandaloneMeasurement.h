// makeStandaloneMeasurement — a started engine for fuzz targets and
// benchmarks: its database, settings and identity live in a data directory
// of its own (which becomes the process's current one), on a manual clock,
// with no entry class, network, experiments or notifications of the process.
// The caller runs work on the engine's worker queue and drops the engine
// before the directory goes.
#pragma once

#include <memory>
#include <string>

class GWLMeasurement;
class GWLMonitor;
namespace platform {
class ManualClock;
}

namespace measurement_testing {

struct StandaloneMeasurement {
  std::shared_ptr<GWLMeasurement> engine;
  std::shared_ptr<platform::ManualClock> clock;
};

// The engine for app ID "1:123:ios:abc" over `dataDirectory`, started (its
// database open); a null engine when the start failed.
StandaloneMeasurement makeStandaloneMeasurement(const std::string& dataDirectory, double now,
                                                std::shared_ptr<GWLMonitor> monitor);

// The same over a new data directory "<name>.<pid>" in the system's temporary
// directory (one per process, so parallel runs do not share a database),
// removed when the program ends.
StandaloneMeasurement makeStandaloneMeasurementInTemporaryDirectory(const std::string& name, double now,
                                                                    std::shared_ptr<GWLMonitor> monitor);

// For benchmarks: a monitor that stores nothing, on a manual clock, made the
// library's and the registry's monitor, with the process's log lines dropped.
std::shared_ptr<GWLMonitor> installQuietBenchmarkMonitor();

}  // namespace measurement_testing
