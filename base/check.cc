#include "base/check.h"

#include <cstdio>
#include <cstdlib>

namespace base {

void CheckFailed(const char* file, int line, const char* condition, const std::string& message) {
  std::fprintf(stderr, "F %s:%d] Check failed: %s%s%s\n", file, line, condition, message.empty() ? "" : " ",
               message.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace base
