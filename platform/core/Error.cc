#include "platform/core/Error.h"

#include <cstring>

namespace platform {

std::string Error::toString() const {
  std::string out = domain + " " + std::to_string(code);
  if (!description.empty()) out += ": " + description;
  return out;
}

Error posixError(int errnum, const std::string& what) {
  char buf[256];
  // GNU strerror_r returns the message pointer, which may not be buf.
  const char* msg = strerror_r(errnum, buf, sizeof buf);
  return Error(kPOSIXErrorDomain, errnum, what + ": " + msg);
}

}  // namespace platform
