#include "platform/core/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace platform {

namespace {
const char* levelWord(LogLevel level) {
  switch (level) {
    case LogLevel::Error: return "ERROR";
    case LogLevel::Warning: return "WARNING";
    case LogLevel::Notice: return "NOTICE";
    case LogLevel::Info: return "INFO";
    case LogLevel::Debug: return "DEBUG";
  }
  return "LOG";
}

struct LogState {
  std::mutex mutex;
  std::shared_ptr<LogSink> sink = std::make_shared<StderrLogSink>();
  std::atomic<int> level{static_cast<int>(LogLevel::Notice)};
};

LogState& state() {
  static LogState* s = new LogState();  // never destroyed: logging may run during exit
  return *s;
}

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

LogLevel clampLevel(int level) {
  if (level < static_cast<int>(LogLevel::Error)) return LogLevel::Error;
  if (level > static_cast<int>(LogLevel::Debug)) return LogLevel::Debug;
  return static_cast<LogLevel>(level);
}
}  // namespace

void StderrLogSink::write(const LogRecord& record) {
  std::string line = record.subsystem;
  if (!record.category.empty()) line += "[" + record.category + "]";
  if (!line.empty()) line += " ";
  line += levelWord(record.level);
  if (!record.code.empty()) line += " " + record.code;
  line += " " + record.message + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  std::fputs(line.c_str(), stderr);
}

void CapturingLogSink::write(const LogRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(record);
}

std::vector<LogRecord> CapturingLogSink::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

std::vector<std::string> CapturingLogSink::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  out.reserve(records_.size());
  for (const auto& r : records_) out.push_back(r.code.empty() ? r.message : r.code + " " + r.message);
  return out;
}

bool CapturingLogSink::contains(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& r : records_) {
    if (r.message.find(text) != std::string::npos) return true;
  }
  return false;
}

void CapturingLogSink::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
}

namespace log {

void setSink(std::shared_ptr<LogSink> sink) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sink = sink ? std::move(sink) : std::make_shared<StderrLogSink>();
}

std::shared_ptr<LogSink> sink() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.sink;
}

void setLevel(LogLevel level) { state().level.store(static_cast<int>(level)); }

LogLevel level() { return static_cast<LogLevel>(state().level.load()); }

bool isLoggable(LogLevel level) { return static_cast<int>(level) <= state().level.load(); }

void write(LogLevel level, const std::string& subsystem, const std::string& category, const std::string& code,
           const std::string& message, bool force) {
  if (!force && !isLoggable(level)) return;
  auto target = sink();
  target->write(LogRecord{level, subsystem, category, code, message});
}

ScopedCapture::ScopedCapture()
    : sink_(std::make_shared<CapturingLogSink>()), previous_(log::sink()), previousLevel_(log::level()) {
  setSink(sink_);
  setLevel(LogLevel::Debug);
}

ScopedCapture::~ScopedCapture() {
  setSink(previous_);
  setLevel(previousLevel_);
}

}  // namespace log

std::string formatString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = vformat(format, args);
  va_end(args);
  return out;
}

void HVUOSLogBasic(int level, const std::string& subsystem, const std::string& category, bool force,
                   const std::string& code, const std::string& message) {
  log::write(clampLevel(level), subsystem, category, code, message, force);
}

#define TABULO_HVU_LOG(LEVEL)                                        \
  do {                                                               \
    if (!force && !log::isLoggable(LEVEL)) return;                   \
    va_list args;                                                    \
    va_start(args, format);                                          \
    std::string message = vformat(format, args);                     \
    va_end(args);                                                    \
    log::write(LEVEL, subsystem, category, code, message, force);    \
  } while (0)

void HVUOSLogInfo(const std::string& subsystem, const std::string& category, bool force, const std::string& code,
                  const char* format, ...) {
  TABULO_HVU_LOG(LogLevel::Info);
}

void HVUOSLogWarning(const std::string& subsystem, const std::string& category, bool force, const std::string& code,
                     const char* format, ...) {
  TABULO_HVU_LOG(LogLevel::Warning);
}

void HVUOSLogError(const std::string& subsystem, const std::string& category, bool force, const std::string& code,
                   const char* format, ...) {
  TABULO_HVU_LOG(LogLevel::Error);
}

#undef TABULO_HVU_LOG

void HVUSetLoggerLevel(int level) { log::setLevel(clampLevel(level)); }

bool HVUIsLoggableLevel(int level) { return log::isLoggable(clampLevel(level)); }

}  // namespace platform
