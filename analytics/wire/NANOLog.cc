#include "analytics/wire/NANOLog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/core/Log.h"

namespace nano_log {
namespace {
void emit(const char* category, const char* format, va_list args) {
  if (!platform::log::isLoggable(platform::LogLevel::Error)) return;
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  std::string text;
  if (length < 0) {
    text = format;
  } else if (static_cast<size_t>(length) < sizeof small) {
    text.assign(small, static_cast<size_t>(length));
  } else {
    text.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
  }
  platform::log::write(platform::LogLevel::Error, "NANO", category, "", text);
}
}  // namespace

void systemLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit("runtime", format, args);
  va_end(args);
}

void print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit("codec", format, args);
  va_end(args);
}
}  // namespace nano_log
