// Fatal checks of the base runtime and of the code built on it.
//
// A failed check writes "Check failed: " followed by the condition's text and
// the message to standard error and aborts the process. The message arguments
// are only evaluated when the check fails; they are concatenated with
// absl::StrCat, so strings and numbers mix freely:
//
//   BASE_CHECK(n >= 0, "n must be nonnegative, provided value was ", n, ".");
//   BASE_CHECK_GE(num_bytes, 0, "num_bytes must be nonnegative");  // shows both operands
#pragma once

#include <string>

#include "absl/strings/str_cat.h"

namespace base {

// Reports a failed check and stops the process. `condition` is the source
// text of the checked expression.
[[noreturn]] void CheckFailed(const char* file, int line, const char* condition, const std::string& message);

}  // namespace base

#define BASE_CHECK(condition, ...)                                                        \
  do {                                                                                    \
    if (!(condition)) [[unlikely]] {                                                      \
      ::base::CheckFailed(__FILE__, __LINE__, #condition, ::absl::StrCat(__VA_ARGS__));   \
    }                                                                                     \
  } while (false)

// A comparison check that shows both operands: "Check failed: a >= b (-1 vs. 0) message".
#define BASE_CHECK_OP_(op, a, b, ...)                                                            \
  do {                                                                                           \
    const auto& base_check_a_ = (a);                                                             \
    const auto& base_check_b_ = (b);                                                             \
    if (!(base_check_a_ op base_check_b_)) [[unlikely]] {                                        \
      ::base::CheckFailed(__FILE__, __LINE__,                                                    \
                          ::absl::StrCat(#a " " #op " " #b " (", base_check_a_, " vs. ",         \
                                         base_check_b_, ")").c_str(),                            \
                          ::absl::StrCat(__VA_ARGS__));                                          \
    }                                                                                            \
  } while (false)

#define BASE_CHECK_GE(a, b, ...) BASE_CHECK_OP_(>=, a, b, __VA_ARGS__)
#define BASE_CHECK_LT(a, b, ...) BASE_CHECK_OP_(<, a, b, __VA_ARGS__)
#define BASE_CHECK_EQ(a, b, ...) BASE_CHECK_OP_(==, a, b, __VA_ARGS__)
