// GWLASLLogger — the monitor's console sink.
//
// Hands one monitor report to the utilities framework's system-log function:
// the monitor level mapped to the framework's level, the library's subsystem,
// the monitor's tag as category, the message code as "I-ACS%06ld" and the text.
// Debug reports (level 7) are forced. The framework's logger level decides
// what reaches the console.
//
// Threads: any thread; it keeps no state.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kGWLLogSubsystem = "com.halcyra.corvane.analytics";
inline constexpr const char* kGWLDefaultLogTag = "<Gaugewell>";

// "I-ACS" and the code as six zero-padded digits.
std::string GWLMessageCodeString(int64_t messageCode);

class GWLASLLogger {
 public:
  virtual ~GWLASLLogger() = default;
  virtual void logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                          int64_t logLevel);

  // Monitor level to framework level: 0-2 error (3), 3-5 warning (4),
  // 6 notice (5), 7-8 debug (7), anything else warning (4).
  static int HVULoggerLevelFromLogLevel(int64_t logLevel);
};
