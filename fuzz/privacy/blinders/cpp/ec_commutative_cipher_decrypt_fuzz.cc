// Ciphertexts come back from the server: decrypting any bytes gives either a
// compressed point or an InvalidArgument status, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include <openssl/nid.h>

#include "privacy/blinders/cpp/public/ec_commutative_cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static blinders::ECCommutativeCipher* const cipher =
      std::move(blinders::ECCommutativeCipher::CreateWithNewKey(NID_X9_62_prime256v1, 0)).value().release();
  const std::string input(reinterpret_cast<const char*>(data), size);
  absl::StatusOr<std::string> plaintext = cipher->Decrypt(input);
  if (plaintext.ok()) {
    if (plaintext->size() != 33) std::abort();
  } else if (plaintext.status().code() != absl::StatusCode::kInvalidArgument) {
    std::abort();
  }
  return 0;
}
