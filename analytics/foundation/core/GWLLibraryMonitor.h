// GWLLibraryMonitor — the library's one monitor, for code that has no monitor
// of its own to report through.
//
// The monitor is made on first use with the real surroundings
// (GWLMonitor::create). This header reaches nothing above the core: values,
// validation and storage report through it without seeing the configuration
// or the engine. The engine's class accessor `GWLMeasurement::monitor` answers
// the same monitor (GWLMeasurementRegistry forwards here).
//
// While this file is linked in, the path functions (GWLPaths.h) report
// through the library's monitor.
//
// Thread-safe: any thread may ask for the monitor.
#pragma once

#include <cstdint>
#include <memory>

class GWLMonitor;

// The library's version number, part of every health-sample key.
inline constexpr int64_t kGWLLibraryVersion = 120500;

class GWLLibraryMonitor {
 public:
  // The library's monitor, made on first use.
  static std::shared_ptr<GWLMonitor> monitor();
  // Tests: installs `monitor` as the library's monitor; null makes the next
  // use create a fresh one.
  static void resetForTesting(std::shared_ptr<GWLMonitor> monitor = nullptr);
};
