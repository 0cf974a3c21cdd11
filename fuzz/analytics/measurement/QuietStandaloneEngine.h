// One engine per fuzz process: a standalone engine in a temporary directory
// (removed at exit), logging to the quiet library monitor, with this app's ID
// from the configuration service; made on first use and kept until the
// process ends.
#pragma once

#include <memory>
#include <string>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/measurement/GWLIdentity.h"
#include "analytics/measurement/GWLMeasurement.h"
#include "analytics/measurement/testing/StandaloneMeasurement.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"

namespace fuzz_support {

inline std::shared_ptr<GWLMeasurement> makeQuietStandaloneEngine(const std::string& name, double now,
                                                                  const std::string& appID) {
  installQuietLibraryMonitor();
  auto engine =
      measurement_testing::makeStandaloneMeasurementInTemporaryDirectory(name, now, GWLLibraryMonitor::monitor()).engine;
  check(engine != nullptr);
  engine->identity()->setAppIDFromQRX(appID);
  return engine;
}

}  // namespace fuzz_support
