// platform::HTTPURLResponse — the status line and header fields of one HTTP
// answer, as HVUNetwork hands them to a completion.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct HTTPURLResponse {
  std::string url;
  int statusCode = 0;
  std::string reasonPhrase;
  // Header fields in the order received; names as sent.
  std::vector<std::pair<std::string, std::string>> headerFields;

  // The value of the first field named `name` (compared without case), or nullopt.
  [[nodiscard]] std::optional<std::string> valueForHTTPHeaderField(const std::string& name) const;
};

}  // namespace platform
