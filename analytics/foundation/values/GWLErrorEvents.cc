#include "analytics/foundation/values/GWLErrorEvents.h"

#include <mutex>

#include "analytics/foundation/values/GWLEventParameters.h"
#include "platform/text/Utf8.h"

namespace {

constexpr const char* kErrorEventOrigin = "auto";

struct LoggerState {
  std::mutex mutex;
  GWLInternalEventLogger logger;
};

LoggerState& loggerState() {
  static LoggerState* state = new LoggerState();  // never destroyed: errors may be logged during exit
  return *state;
}

void logErrorEvent(const GWLParameters& parameters) { GWLLogInternalEvent(kErrorEventOrigin, kGWLErrorEventName, parameters); }

}  // namespace

void GWLLogInternalEvent(const std::string& origin, const std::string& name, const GWLParameters& parameters) {
  GWLInternalEventLogger logger;
  {
    std::lock_guard<std::mutex> lock(loggerState().mutex);
    logger = loggerState().logger;
  }
  if (logger) logger(origin, name, parameters);
}

void GWLSetInternalEventLogger(GWLInternalEventLogger logger) {
  std::lock_guard<std::mutex> lock(loggerState().mutex);
  loggerState().logger = std::move(logger);
}

void GWLLogErrorEvent(int64_t code) {
  if (code == 0) return;
  logErrorEvent({{kGWLEventErrorParameter, GWLValue::initWithInt64(code)}});
}

void GWLLogErrorEventWithName(int64_t code, std::string_view name, size_t maxLength,
                              std::optional<std::string_view> value) {
  if (code == 0) return;
  GWLParameters parameters{{kGWLEventErrorParameter, GWLValue::initWithInt64(code)}};
  GWLSetErrorValueParameters(parameters, name, maxLength, std::nullopt);
  if (value) {
    const size_t length = platform::utf8::codePointCount(*value);
    if (length > maxLength || code == kGWLEventErrorInvalidParameterValue ||
        code == kGWLEventErrorUserPropertyValueTooLong) {
      parameters.insert_or_assign(kGWLEventErrorLengthParameter, GWLValue::initWithInt64(static_cast<int64_t>(length)));
    }
  }
  logErrorEvent(parameters);
}
