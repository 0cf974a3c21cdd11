// The library's error objects and the out-parameter helpers that store them.
//
// Every failure the library reports through an error out-parameter is a
// platform::Error in the domain kGWLErrorDomain with one of the codes below, a
// description and, for database failures, a monitor context: a short text the
// monitor adds to the health sample so that a failing statement can be told
// apart without logging user data. Empty texts are left out, so an error made
// with an empty description has neither description nor context.
//
// Callers guard their arguments with a chain of the GWLSetErrorIf... helpers
// joined by `&&`, so that the first failing guard names the error.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/Error.h"

inline constexpr const char* kGWLErrorDomain = "com.halcyra.qrx.measurement.ErrorDomain";
// Key of the monitor context in an error's context dictionary.
inline constexpr const char* kGWLMonitorContextKey = "GWLMonitorContext";

// Codes of the library's error domain.
enum GWLErrorCode : int64_t {
  kGWLErrorCodeInvalidArgument = 1,
  kGWLErrorCodeOperationFailed = 2,
  kGWLErrorCodeStoredData = 3,
  kGWLErrorCodeInvalidAudience = 9,
  kGWLErrorCodeInvalidEventFilter = 10,
  kGWLErrorCodeInvalidPropertyFilter = 11,
  kGWLErrorCodeUninitialized = 13,
};

platform::Error gwl_errorWithCode(int64_t code, const std::string& description);
platform::Error gwl_errorWithCode(int64_t code, const std::string& description, const std::string& monitorContext);

// The monitor context of a library error, or the empty string.
std::string gwl_monitorContext(const platform::Error& error);

// Stores a library error into `error` (when given) and answers it.
platform::Error GWLSetError(platform::Error* error, int64_t code, const std::string& description);
platform::Error GWLSetErrorWithMonitorContext(platform::Error* error, int64_t code, const std::string& description,
                                              const std::string& monitorContext);
// Answers `success`; stores the error when it is false.
[[nodiscard]] bool GWLSetErrorUnlessSuccess(bool success, platform::Error* error, int64_t code, const std::string& description);

// Answers whether `object` is present (a non-null pointer, a non-empty
// optional or smart pointer); stores the error when it is not.
template <typename T>
[[nodiscard]] bool GWLSetErrorIfNil(const T& object, platform::Error* error, int64_t code, const std::string& description) {
  const bool present = static_cast<bool>(object);
  if (!present) GWLSetError(error, code, description);
  return present;
}

// As GWLSetErrorIfNil, for a database handle.
[[nodiscard]] bool GWLSetErrorIfNilStore(const void* handle, platform::Error* error, int64_t code, const std::string& description);

// As GWLSetErrorIfNil, for a count or length: answers whether it is not zero.
[[nodiscard]] bool GWLSetErrorIfNilObject(uint64_t value, platform::Error* error, int64_t code, const std::string& description);
