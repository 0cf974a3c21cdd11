#include "app/UserDefaults.h"

#include <cmath>
#include <limits>

namespace tabulo {

std::shared_ptr<const platform::Object> UserDefaults::sharedObjectForKey(const std::string& key) const {
  std::optional<platform::Object> value = objectForKey(key);
  if (!value) return nullptr;
  return std::make_shared<const platform::Object>(std::move(*value));
}

std::optional<platform::Bytes> UserDefaults::dataForKey(const std::string& key) const {
  std::optional<platform::Object> value = objectForKey(key);
  if (!value || !value->isBytes()) return std::nullopt;
  return *value->bytesValue();
}

bool UserDefaults::boolForKey(const std::string& key) const {
  std::optional<platform::Object> value = objectForKey(key);
  if (!value) return false;
  if (auto flag = value->boolValue()) return *flag;
  if (auto number = value->numberValue()) return *number != 0;
  return false;
}

int64_t UserDefaults::integerForKey(const std::string& key) const {
  std::optional<platform::Object> value = objectForKey(key);
  if (!value) return 0;
  if (auto integer = value->intValue()) return *integer;
  if (auto flag = value->boolValue()) return *flag ? 1 : 0;
  if (auto number = value->doubleValue()) {
    if (std::isnan(*number)) return 0;
    if (*number >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (*number <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(*number);
  }
  return 0;
}

}  // namespace tabulo
