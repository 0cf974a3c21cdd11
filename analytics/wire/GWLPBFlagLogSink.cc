#include "analytics/wire/GWLPBFlagLogSink.h"

#include <mutex>

#include "platform/core/Log.h"

namespace {

std::mutex sinkMutex;

std::shared_ptr<GWLPBFlagLogSink>& installedSink() {
  static std::shared_ptr<GWLPBFlagLogSink> sink = std::make_shared<GWLPBFlagSystemLogSink>();
  return sink;
}

platform::LogLevel systemLevel(int64_t level) {
  if (level >= 0 && level <= 2) return platform::LogLevel::Error;
  if (level == 6) return platform::LogLevel::Notice;
  if (level == 7 || level == 8) return platform::LogLevel::Debug;
  return platform::LogLevel::Warning;
}

}  // namespace

std::shared_ptr<GWLPBFlagLogSink> GWLPBFlagLogSink::current() {
  std::lock_guard<std::mutex> lock(sinkMutex);
  return installedSink();
}

void GWLPBFlagLogSink::install(std::shared_ptr<GWLPBFlagLogSink> sink) {
  if (!sink) sink = std::make_shared<GWLPBFlagSystemLogSink>();
  std::lock_guard<std::mutex> lock(sinkMutex);
  installedSink() = std::move(sink);
}

void GWLPBFlagSystemLogSink::logWithLevel(int64_t level, int64_t messageCode, const std::string& message) {
  platform::log::write(systemLevel(level), "GWLPBFlag", "flags",
                       platform::formatString("I-ACS%06lld", static_cast<long long>(messageCode)), message);
}

void GWLPBFlagSystemLogSink::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                                          const std::optional<std::string>& context) {
  logWithLevel(level, messageCode, message + ": " + context.value_or("(nil)"));
}
