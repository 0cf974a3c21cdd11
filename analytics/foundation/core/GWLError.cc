#include "analytics/foundation/core/GWLError.h"

platform::Error gwl_errorWithCode(int64_t code, const std::string& description) {
  return gwl_errorWithCode(code, description, std::string());
}

platform::Error gwl_errorWithCode(int64_t code, const std::string& description, const std::string& monitorContext) {
  platform::Error error(kGWLErrorDomain, code, description);
  if (!monitorContext.empty()) error.context = platform::Dictionary{{kGWLMonitorContextKey, monitorContext}};
  return error;
}

std::string gwl_monitorContext(const platform::Error& error) {
  if (error.domain != kGWLErrorDomain || !error.context) return {};
  auto it = error.context->find(kGWLMonitorContextKey);
  if (it == error.context->end() || !it->second.stringValue()) return {};
  return *it->second.stringValue();
}

platform::Error GWLSetError(platform::Error* error, int64_t code, const std::string& description) {
  platform::Error made = gwl_errorWithCode(code, description);
  platform::setError(error, made);
  return made;
}

platform::Error GWLSetErrorWithMonitorContext(platform::Error* error, int64_t code, const std::string& description,
                                              const std::string& monitorContext) {
  platform::Error made = gwl_errorWithCode(code, description, monitorContext);
  platform::setError(error, made);
  return made;
}

bool GWLSetErrorUnlessSuccess(bool success, platform::Error* error, int64_t code, const std::string& description) {
  if (!success) GWLSetError(error, code, description);
  return success;
}

bool GWLSetErrorIfNilStore(const void* handle, platform::Error* error, int64_t code, const std::string& description) {
  return GWLSetErrorIfNil(handle, error, code, description);
}

bool GWLSetErrorIfNilObject(uint64_t value, platform::Error* error, int64_t code, const std::string& description) {
  if (value == 0) GWLSetError(error, code, description);
  return value != 0;
}
