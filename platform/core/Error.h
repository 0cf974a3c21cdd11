// platform::Error — a failure with a domain, a numeric code, a description and
// an optional context dictionary.
//
// The analytics library reports failures through a last parameter
// `platform::Error* error = nullptr` and answers false, an empty optional or a
// null pointer. Behaviour never depends on whether the caller passed `error`:
// fill a local Error and hand it out with `setError`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace platform {

struct Error {
  std::string domain;
  int64_t code = 0;
  std::string description;
  std::optional<Dictionary> context;

  Error() = default;
  Error(std::string domain, int64_t code, std::string description = {},
        std::optional<Dictionary> context = std::nullopt)
      : domain(std::move(domain)), code(code), description(std::move(description)), context(std::move(context)) {}

  // "domain code: description", for logs and test failures.
  std::string toString() const;

  friend bool operator==(const Error&, const Error&) = default;
};

// Stores `error` into `out` when the caller asked for it.
inline void setError(Error* out, Error error) {
  if (out) *out = std::move(error);
}

// Error domains of the platform stand-ins.
inline constexpr const char* kPOSIXErrorDomain = "POSIX";
inline constexpr const char* kPlatformErrorDomain = "platform";

// An Error in the POSIX domain for `errnum`, described by strerror and `what`.
Error posixError(int errnum, const std::string& what);

}  // namespace platform
