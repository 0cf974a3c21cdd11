// Error statuses of the blinders crypto code. Each status carries, beside its
// code and message, the source path and line where it was made, as the
// payload under kSourceLocationPayloadUrl ("path:line"); the message itself is
// left exactly as given.
#pragma once

#include <source_location>
#include <string>

#include "absl/status/status.h"
#include "absl/strings/string_view.h"

namespace blinders {

inline constexpr absl::string_view kSourceLocationPayloadUrl = "type.tabulo/blinders.SourceLocation";

absl::Status InvalidArgumentError(absl::string_view message,
                                  std::source_location where = std::source_location::current());
absl::Status InternalError(absl::string_view message, std::source_location where = std::source_location::current());

// The "path:line" recorded in `status`, or empty.
std::string SourceLocationOf(const absl::Status& status);

}  // namespace blinders
