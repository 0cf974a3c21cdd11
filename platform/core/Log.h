// The system-log stand-in.
//
// Every log line of the project goes through one process-wide sink: by default
// a sink that writes to stderr; tests install a CapturingLogSink and assert on
// the records. Levels follow the system log's numbers: 3 error, 4 warning,
// 5 notice, 6 info, 7 debug; a lower number is more severe. A record is
// written when its level is at most the logger level (default: notice) or when
// it is forced.
//
// The utilities framework's logging functions (HVUOSLogBasic and friends,
// HVUSetLoggerLevel, HVUIsLoggableLevel) are thin forms of the same calls.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

enum class LogLevel : int { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

struct LogRecord {
  LogLevel level = LogLevel::Notice;
  std::string subsystem;
  std::string category;
  std::string code;  // a message code such as "I-ACS000001"; may be empty
  std::string message;
};

class LogSink {
 public:
  virtual ~LogSink() = default;
  // Called on any thread; implementations are thread-safe.
  virtual void write(const LogRecord& record) = 0;
};

// Writes "subsystem[category] LEVEL code message" lines to stderr.
class StderrLogSink : public LogSink {
 public:
  void write(const LogRecord& record) override;

 private:
  std::mutex mutex_;
};

// Keeps every record, for tests.
class CapturingLogSink : public LogSink {
 public:
  void write(const LogRecord& record) override;
  std::vector<LogRecord> records() const;
  // Messages (or "code message" where a code is set), in order.
  std::vector<std::string> lines() const;
  // Whether any record's message contains `text`.
  bool contains(const std::string& text) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<LogRecord> records_;
};

namespace log {
// Installs `sink` for the whole process; null restores the stderr sink.
void setSink(std::shared_ptr<LogSink> sink);
std::shared_ptr<LogSink> sink();
void setLevel(LogLevel level);
LogLevel level();
bool isLoggable(LogLevel level);
// Writes the record when `level` is loggable or `force` is set.
void write(LogLevel level, const std::string& subsystem, const std::string& category, const std::string& code,
           const std::string& message, bool force = false);

// Installs a capturing sink for the lifetime of the object (tests).
class ScopedCapture {
 public:
  ScopedCapture();
  ~ScopedCapture();
  ScopedCapture(const ScopedCapture&) = delete;
  ScopedCapture& operator=(const ScopedCapture&) = delete;
  CapturingLogSink& sink() { return *sink_; }

 private:
  std::shared_ptr<CapturingLogSink> sink_;
  std::shared_ptr<LogSink> previous_;
  LogLevel previousLevel_;
};
}  // namespace log

// The printf-style formatting used by the HVU functions below.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Utilities framework logging functions. `level` uses the numbers above.
void HVUOSLogBasic(int level, const std::string& subsystem, const std::string& category, bool force,
                   const std::string& code, const std::string& message);
void HVUOSLogInfo(const std::string& subsystem, const std::string& category, bool force, const std::string& code,
                  const char* format, ...) __attribute__((format(printf, 5, 6)));
void HVUOSLogWarning(const std::string& subsystem, const std::string& category, bool force, const std::string& code,
                     const char* format, ...) __attribute__((format(printf, 5, 6)));
void HVUOSLogError(const std::string& subsystem, const std::string& category, bool force, const std::string& code,
                   const char* format, ...) __attribute__((format(printf, 5, 6)));
void HVUSetLoggerLevel(int level);
bool HVUIsLoggableLevel(int level);

}  // namespace platform
