#include "base/logging_hooks.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <execinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "absl/base/internal/raw_logging.h"
#include "absl/debugging/symbolize.h"

namespace base {

namespace {

std::mutex settings_mutex;
LoggingSettings* settings = new LoggingSettings();  // lives for the whole process

}  // namespace

void SetLoggingSettings(const LoggingSettings& new_settings) {
  std::lock_guard<std::mutex> lock(settings_mutex);
  *settings = new_settings;
}

LoggingSettings GetLoggingSettings() {
  std::lock_guard<std::mutex> lock(settings_mutex);
  return *settings;
}

namespace logging_internal {

std::string_view Basename(std::string_view path) {
  const size_t sep = path.find_last_of("/\\");
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

bool FilterAndPrefix(absl::LogSeverity severity, const char* file, int line, char** buf, int* buf_size) {
  const LoggingSettings current = GetLoggingSettings();
  const int level = static_cast<int>(severity);
  if (level < current.min_log_level) return false;
  if ((severity == absl::LogSeverity::kInfo || severity == absl::LogSeverity::kWarning) &&
      level < current.stderr_threshold && current.drop_info_and_warning_below_threshold) {
    return false;
  }
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm t;
  localtime_r(&now.tv_sec, &t);
  const std::string_view base = Basename(file != nullptr ? file : "");
  const int written =
      std::snprintf(*buf, static_cast<size_t>(*buf_size), "%c%02d%02d %02d:%02d:%02d.%06ld %ld %.*s:%d] ",
                    absl::LogSeverityName(severity)[0], t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                    static_cast<long>(now.tv_usec), static_cast<long>(syscall(SYS_gettid)),
                    static_cast<int>(base.size()), base.data(), line);
  if (written < 0 || written >= *buf_size) {
    *buf += *buf_size;
    *buf_size = 0;
  } else {
    *buf += written;
    *buf_size -= written;
  }
  return true;
}

void AbortWithStackTrace(const char*, int, const char*, const char*, const char*) {
  const LoggingSettings current = GetLoggingSettings();
  constexpr int kMaxFrames = 64;
  void* frames[kMaxFrames];
  const int wanted = current.max_stacktrace_depth < kMaxFrames ? current.max_stacktrace_depth : kMaxFrames;
  // One frame more than wanted, for this hook's own, which is skipped.
  const int depth = backtrace(frames, wanted > 0 ? wanted + 1 : 1);
  std::fprintf(stderr, "*** Stack trace:\n");
  for (int i = 1; i < depth; ++i) {
    char symbol[512];
    if (current.symbolize_stacktrace) {
      const bool found = absl::Symbolize(frames[i], symbol, sizeof(symbol));
      std::fprintf(stderr, "    @ %p  %s\n", frames[i], found ? symbol : "(unknown)");
    } else {
      std::fprintf(stderr, "    @ %p\n", frames[i]);
    }
  }
  std::fflush(stderr);
  std::abort();
}

void InternalLog(absl::LogSeverity severity, const char* file, int line, const std::string& message) {
  int level = static_cast<int>(severity);
  if (level < static_cast<int>(absl::LogSeverity::kInfo)) level = static_cast<int>(absl::LogSeverity::kInfo);
  if (level > static_cast<int>(absl::LogSeverity::kFatal)) level = static_cast<int>(absl::LogSeverity::kError);
  absl::raw_logging_internal::RawLog(static_cast<absl::LogSeverity>(level), file, line, "%s", message.c_str());
}

void InstallLoggingHooks() {
  static std::once_flag once;
  std::call_once(once, [] {
    absl::raw_logging_internal::RegisterLogFilterAndPrefixHook(&FilterAndPrefix);
    absl::raw_logging_internal::RegisterAbortHook(&AbortWithStackTrace);
    absl::raw_logging_internal::RegisterInternalLogFunction(&InternalLog);
  });
}

}  // namespace logging_internal
}  // namespace base
