#include "ads/conversion_tracking/app_conversion/odm/ODCLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/core/Log.h"

namespace {

std::string MessageCode(int64_t code) {
  char text[32];
  std::snprintf(text, sizeof text, kODCLogMessageCodeFormat, static_cast<long>(code));
  return text;
}

std::string FormatArguments(const char* format, va_list arguments) {
  char* text = nullptr;
  if (vasprintf(&text, format, arguments) < 0) return {};
  std::string message(text);
  std::free(text);
  return message;
}

void Log(int level, int64_t code, const char* format, va_list arguments) {
  platform::HVUOSLogBasic(level, kODCLogSubsystem, kODCLogCategory, /*force=*/false, MessageCode(code),
                          FormatArguments(format, arguments));
}

}  // namespace

void ODCLogError(int64_t code, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Log(kODCLogLevelError, code, format, arguments);
  va_end(arguments);
}

void ODCLogWarning(int64_t code, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Log(kODCLogLevelWarning, code, format, arguments);
  va_end(arguments);
}

void ODCLogDebug(int64_t code, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Log(kODCLogLevelDebug, code, format, arguments);
  va_end(arguments);
}
