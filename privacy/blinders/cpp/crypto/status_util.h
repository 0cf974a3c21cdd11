// Error statuses of the blinders crypto code. Each status carries, beside its
// code and message, the source path and line where it was made, as the
// payload under kSourceLocationPayloadUrl ("path:line"); the message itself is
// left exactly as given.
#pragma once

#include <string>

#include "absl/status/status.h"
#include "absl/strings/string_view.h"

namespace blinders {

inline constexpr absl::string_view kSourceLocationPayloadUrl = "type.tabulo/blinders.SourceLocation";

// `file` and `line` default to the caller's position.
absl::Status InvalidArgumentError(absl::string_view message, const char* file = __builtin_FILE(),
                                  int line = __builtin_LINE());
absl::Status InternalError(absl::string_view message, const char* file = __builtin_FILE(),
                           int line = __builtin_LINE());

// The "path:line" recorded in `status`, or empty.
std::string SourceLocationOf(const absl::Status& status);

}  // namespace blinders
