#include "analytics/foundation/core/GWLASLLogger.h"

#include "analytics/foundation/core/GWLMonitorLevels.h"
#include "platform/core/Log.h"

std::string GWLMessageCodeString(int64_t messageCode) {
  return platform::formatString("I-ACS%06lld", static_cast<long long>(messageCode));
}

void GWLASLLogger::logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                              int64_t logLevel) {
  // The framework function takes the text as it is (it is no format string),
  // so percent signs need no escaping here.
  platform::HVUOSLogBasic(HVULoggerLevelFromLogLevel(logLevel), kGWLLogSubsystem, logTag, logLevel == kGWLLevelDebug,
                          GWLMessageCodeString(messageCode), message);
}

int GWLASLLogger::HVULoggerLevelFromLogLevel(int64_t logLevel) {
  switch (logLevel) {
    case kGWLLevelError:
    case kGWLLevelErrorSampled:
    case kGWLLevelErrorSilent: return 3;
    case kGWLLevelWarning:
    case kGWLLevelWarningSampled:
    case kGWLLevelWarningSilent: return 4;
    case kGWLLevelNotice: return 5;
    case kGWLLevelDebug:
    case kGWLLevelVerbose: return 7;
    default: return 4;
  }
}
