#include "analytics/foundation/core/GWLNumericUtil.h"

#include "platform/crypto/SecureRandom.h"

int64_t GWLNumericUtil::randomInt64() {
  return static_cast<int64_t>(platform::SecureRandom::sharedInstance().nextUInt64());
}
