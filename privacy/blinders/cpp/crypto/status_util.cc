#include "privacy/blinders/cpp/crypto/status_util.h"

#include "absl/strings/cord.h"
#include "absl/strings/str_cat.h"

namespace blinders {

namespace {

absl::Status WithLocation(absl::StatusCode code, absl::string_view message, const std::source_location& where) {
  absl::Status status(code, message);
  status.SetPayload(kSourceLocationPayloadUrl, absl::Cord(absl::StrCat(where.file_name(), ":", where.line())));
  return status;
}

}  // namespace

absl::Status InvalidArgumentError(absl::string_view message, std::source_location where) {
  return WithLocation(absl::StatusCode::kInvalidArgument, message, where);
}

absl::Status InternalError(absl::string_view message, std::source_location where) {
  return WithLocation(absl::StatusCode::kInternal, message, where);
}

std::string SourceLocationOf(const absl::Status& status) {
  auto payload = status.GetPayload(kSourceLocationPayloadUrl);
  return payload ? std::string(*payload) : std::string();
}

}  // namespace blinders
