// The secure store's file decoder over arbitrary bytes: refuses cleanly, and
// what it accepts encodes back to the very same file.
#include <cstdlib>

#include "platform/crypto/Digest.h"
#include "platform/crypto/SecureStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  for (bool seal : {false, true}) {
    // Sealed with a fresh checksum, the structure checks get exercised too.
    std::vector<uint8_t> file(input.begin(), input.end());
    if (seal) {
      const auto sum = platform::Digest::sha256(input);
      file.insert(file.end(), sum.begin(), sum.end());
    }
    platform::Error error;
    auto items = platform::SecureStore::decode(file, &error);
    if (!items) {
      if (error.code != platform::kSecureStoreErrorCorrupt) std::abort();
      continue;
    }
    if (platform::SecureStore::encode(*items) != file) std::abort();
  }
  return 0;
}
