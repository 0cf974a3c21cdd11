#include "platform/crypto/SecureRandom.h"

#include <openssl/rand.h>

namespace platform {

uint64_t SecureRandom::nextUInt64() {
  uint8_t bytes[8];
  RAND_bytes(bytes, sizeof bytes);  // BoringSSL aborts rather than return weak bytes
  uint64_t value = 0;
  for (uint8_t b : bytes) value = (value << 8) | b;
  return value;
}

void SecureRandom::fill(std::span<uint8_t> out) {
  if (!out.empty()) RAND_bytes(out.data(), out.size());
}

SecureRandom& SecureRandom::sharedInstance() {
  // Never destroyed: queue threads that outlive main() may still draw from it.
  static SecureRandom* instance = new SecureRandom();
  return *instance;
}

}  // namespace platform
