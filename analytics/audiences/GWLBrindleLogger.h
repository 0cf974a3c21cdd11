// GWLBrindleLogger — the logger behind the event-editing scripts' logging
// module: it maps a script's log level and the flags of the "log" it called
// to a monitor level and reports the line through the monitor with message
// code 24005, the message and its contexts.
//
//   script level   flags                      monitor level
//   2                                         8 (verbose)
//   3                                         7 (debug)
//   5              silent                     5 (warning, recorded only)
//   5              shown and recorded         4 (warning)
//   5              unmonitored                3 (warning, shown only)
//   6              silent                     2 (error, recorded only)
//   6              shown and recorded         1 (error)
//   6              unmonitored                0 (error, shown only)
//   any other                                 6 (notice)
//
// Holds no state of its own; the monitor does its own queueing, so any
// thread may log.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analytics/audiences/interpreter/GWLPLoggerDelegate.h"

class GWLMonitor;

// The message code of every script log line.
inline constexpr int64_t kGWLScriptLogMessageCode = 24005;

class GWLBrindleLogger : public GWLPLoggerDelegate {
 public:
  // Reports through `monitor`, the library's monitor when null.
  explicit GWLBrindleLogger(std::shared_ptr<GWLMonitor> monitor = nullptr);

  void logWithLevel(int64_t level, const std::string& message, const std::vector<std::string>& context, bool silent,
                    bool monitored) override;

  // The monitor level of a script level logged with these flags.
  static int64_t monitorLevel(int64_t scriptLevel, bool silent, bool monitored);

 private:
  std::shared_ptr<GWLMonitor> monitor_;
};
