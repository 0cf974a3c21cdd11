// platform::SecureRandom — unpredictable random values from BoringSSL's
// generator (RAND_bytes), behind the injectable Random interface.
//
// Use it for identifiers, keys, nonces and anything an outsider must not be
// able to guess; tests inject a SeededRandom instead. It holds no state, so one
// instance may be shared by any number of threads.
#pragma once

#include "platform/util/Random.h"

namespace platform {

class SecureRandom final : public Random {
 public:
  uint64_t nextUInt64() override;
  void fill(std::span<uint8_t> out) override;

  // A process-wide instance, for owners that have no Random given to them.
  static SecureRandom& sharedInstance();
};

}  // namespace platform
