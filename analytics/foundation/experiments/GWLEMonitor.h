// GWLEMonitor — the experiments client's logger.
//
// Every class of the experiments client reports through the one process-wide
// GWLEMonitor (GWLEManager::monitor()), which forwards each report unchanged
// to the library's monitor. It is also the wire layer's flag log sink, so the
// flag functions report through it once the experiments client exists.
//
// Threads: any thread; it keeps nothing but the monitor it forwards to.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "analytics/foundation/core/GWLLogContext.h"
#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "analytics/wire/GWLPBFlagLogSink.h"

class GWLMonitor;

class GWLEMonitor final : public GWLPBFlagLogSink {
 public:
  // Forwards to `monitor`; a null monitor means the library's monitor at the
  // time of each report (GWLLibraryMonitor::monitor()).
  explicit GWLEMonitor(std::shared_ptr<GWLMonitor> monitor = nullptr);

  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message) override;
  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                    const std::optional<std::string>& context) override;
  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const GWLLogContext& context);
  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const GWLLogContext& context1,
                    const GWLLogContext& context2);
  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const GWLLogContext& context1,
                    const GWLLogContext& context2, const GWLLogContext& context3);
  void clearMonitoringData();

 private:
  std::shared_ptr<GWLMonitor> monitor() const;
  const std::shared_ptr<GWLMonitor> monitor_;
};
