#include "base/casts.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

#include "absl/base/internal/raw_logging.h"

namespace base {

void BadDownCastCrash(const char* message, const char* actual_type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(actual_type, nullptr, nullptr, &status), &std::free);
  ABSL_RAW_LOG(FATAL, "%s: down_cast failed (actual type = %s)", message,
               status == 0 && demangled ? demangled.get() : actual_type);
  std::abort();  // not reached: a FATAL raw log aborts
}

}  // namespace base
