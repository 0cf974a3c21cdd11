#include "analytics/foundation/core/GWLASLLogger.h"

#include "platform/core/Log.h"

std::string GWLMessageCodeString(int64_t messageCode) {
  return platform::formatString("I-ACS%06lld", static_cast<long long>(messageCode));
}

void GWLASLLogger::logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                              int64_t logLevel) {
  // The framework function takes the text as it is (it is no format string),
  // so percent signs need no escaping here.
  platform::HVUOSLogBasic(HVULoggerLevelFromLogLevel(logLevel), kGWLLogSubsystem, logTag, logLevel == 7,
                          GWLMessageCodeString(messageCode), message);
}

int GWLASLLogger::HVULoggerLevelFromLogLevel(int64_t logLevel) {
  switch (logLevel) {
    case 0:
    case 1:
    case 2: return 3;
    case 3:
    case 4:
    case 5: return 4;
    case 6: return 5;
    case 7:
    case 8: return 7;
    default: return 4;
  }
}
