#include "platform/net/HTTPURLResponse.h"

#include <strings.h>

namespace platform {

std::optional<std::string> HTTPURLResponse::valueForHTTPHeaderField(const std::string& name) const {
  for (const auto& [field, value] : headerFields) {
    if (field.size() == name.size() && strncasecmp(field.c_str(), name.c_str(), name.size()) == 0) return value;
  }
  return std::nullopt;
}

}  // namespace platform
