#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"

#include "ads/conversion_tracking/app_conversion/odm/ODCLog.h"

platform::Error ODCMakeError(int64_t code, const std::string& message) {
  ODCLogError(code, "%s", message.c_str());
  return platform::Error(kODCErrorDomain, code, message);
}
