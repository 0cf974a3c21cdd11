// The hooks the logging layer (abseil's raw logging) calls: the filter and
// prefix hook of every raw log line, the abort hook of FATAL lines (stack
// trace, then abort), and the internal log function of abseil's own messages.
// They are installed once at start; their settings are process-wide.
#pragma once

#include <string>
#include <string_view>

#include "absl/base/log_severity.h"

namespace base {

struct LoggingSettings {
  int min_log_level = 0;                       // lines below this severity are dropped
  int stderr_threshold = 2;                    // INFO/WARNING below it are dropped when the switch is set
  bool drop_info_and_warning_below_threshold = false;
  bool symbolize_stacktrace = true;            // name the frames of the abort hook's stack trace
  int max_stacktrace_depth = 30;               // frames the abort hook writes
};

// Replaces the settings the hooks read.
void SetLoggingSettings(const LoggingSettings& settings);
LoggingSettings GetLoggingSettings();

namespace logging_internal {

// The part of `path` after its last "/" or "\".
std::string_view Basename(std::string_view path);

// The raw-log filter and prefix hook: false drops the line; otherwise writes
// "<severity letter><MMDD HH:MM:SS.micros> <thread id> <base name>:<line>] "
// into the buffer and advances it.
bool FilterAndPrefix(absl::LogSeverity severity, const char* file, int line, char** buf, int* buf_size);

// The abort hook: writes the current stack trace to stderr, then aborts.
[[noreturn]] void AbortWithStackTrace(const char* file, int line, const char* buf_start, const char* prefix_end,
                                      const char* buf_end);

// The internal log function: "file:line message" through the raw logger, with
// severities below INFO taken as INFO and above FATAL as ERROR.
void InternalLog(absl::LogSeverity severity, const char* file, int line, const std::string& message);

// Installs the three hooks (once; later calls do nothing).
void InstallLoggingHooks();

}  // namespace logging_internal
}  // namespace base
