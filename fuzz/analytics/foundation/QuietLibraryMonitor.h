// The library's monitor for fuzz targets: stores nothing and prints nothing;
// other log lines (the wire codec's) are dropped too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLASLLogger.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Clock.h"

namespace fuzz_support {

class SilentLogger : public GWLASLLogger {
 public:
  void logMessage(const std::string&, const std::string&, int64_t, int64_t) override {}
};

class NullLogSink : public platform::LogSink {
 public:
  void write(const platform::LogRecord&) override {}
};

// Installs the quiet monitor as the library's monitor once.
inline void installQuietLibraryMonitor() {
  static const bool installed = [] {
    platform::log::setSink(std::make_shared<NullLogSink>());
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    GWLLibraryMonitor::resetForTesting(
        GWLMonitor::create(6, std::make_shared<SilentLogger>(), kGWLLibraryVersion, dependencies));
    return true;
  }();
  (void)installed;
}

// Lets the monitor finish the reports of one input, so that every input ends
// with the memory it began with (libFuzzer's leak check looks for the difference).
inline void flushQuietLibraryMonitor() { GWLLibraryMonitor::monitor()->flush(); }

// Runs one fuzz input under the quiet monitor and lets its reports finish.
inline int runWithQuietLibraryMonitor(int (*testOneInput)(const uint8_t*, size_t), const uint8_t* data, size_t size) {
  installQuietLibraryMonitor();
  const int result = testOneInput(data, size);
  flushQuietLibraryMonitor();
  return result;
}

// Stops the run on a broken property, so that libFuzzer keeps the input.
inline void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace fuzz_support
