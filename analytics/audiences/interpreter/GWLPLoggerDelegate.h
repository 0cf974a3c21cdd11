// GWLPLoggerDelegate: where the logging module's "log" functions send a
// script's log line: the script's level, its message, up to three context
// texts, and the flags of the "log" that was called ("silent": recorded
// only; "unmonitored": shown only). The host maps them to its own logger.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class GWLPLoggerDelegate {
 public:
  virtual ~GWLPLoggerDelegate() = default;
  virtual void logWithLevel(int64_t level, const std::string& message, const std::vector<std::string>& context,
                            bool silent, bool monitored) = 0;
};
