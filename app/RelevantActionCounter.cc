#include "app/RelevantActionCounter.h"

#include <cstdint>
#include <limits>

namespace tabulo {

bool RelevantActionCounter::reached(UserDefaults& userDefaults, const std::string& key) {
  if (answered_) return false;
  if (!counted_) {
    int64_t count = userDefaults.integerForKey(key);
    if (count < std::numeric_limits<int64_t>::max()) ++count;
    userDefaults.setInteger(count, key);
    counted_ = true;
  }
  if (userDefaults.integerForKey(key) == 2) {
    answered_ = true;
    return true;
  }
  return false;
}

bool relevantActionCountReached(UserDefaults& userDefaults, const std::string& key) {
  static RelevantActionCounter counter;
  return counter.reached(userDefaults, key);
}

}  // namespace tabulo
