#include "privacy/blinders/cpp/crypto/status_util.h"

#include "absl/strings/cord.h"
#include "absl/strings/str_cat.h"

namespace blinders {

namespace {

absl::Status WithLocation(absl::StatusCode code, absl::string_view message, const char* file, int line) {
  absl::Status status(code, message);
  status.SetPayload(kSourceLocationPayloadUrl, absl::Cord(absl::StrCat(file, ":", line)));
  return status;
}

}  // namespace

absl::Status InvalidArgumentError(absl::string_view message, const char* file, int line) {
  return WithLocation(absl::StatusCode::kInvalidArgument, message, file, line);
}

absl::Status InternalError(absl::string_view message, const char* file, int line) {
  return WithLocation(absl::StatusCode::kInternal, message, file, line);
}

std::string SourceLocationOf(const absl::Status& status) {
  auto payload = status.GetPayload(kSourceLocationPayloadUrl);
  return payload ? std::string(*payload) : std::string();
}

}  // namespace blinders
