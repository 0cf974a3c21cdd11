// private_membership::AesCtr256NoAuth: AES-256 in counter mode with a fresh
// random 16-byte IV per encryption and no authentication. A ciphertext is the
// IV followed by the counter-mode output, 16 + n bytes for n bytes of
// plaintext. A wrong key or altered bytes cannot be detected: decryption then
// gives wrong bytes of the right length.
#pragma once

#include <memory>
#include <string>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"
#include "privacy/private_membership/common/cipher.h"

namespace private_membership {

class AesCtr256NoAuth : public Cipher {
 public:
  static constexpr size_t kKeySize = 32;
  static constexpr size_t kIvSize = 16;

  // A key of any other length than 32 bytes: InvalidArgument "Key size is invalid.".
  static absl::StatusOr<std::unique_ptr<AesCtr256NoAuth>> Create(absl::string_view key);

  absl::StatusOr<std::string> Encrypt(absl::string_view plaintext) const override;
  // Fewer than 16 bytes: Internal "Ciphertext is too short.".
  absl::StatusOr<std::string> Decrypt(absl::string_view ciphertext) const override;

 private:
  explicit AesCtr256NoAuth(std::string key) : key_(std::move(key)) {}

  const std::string key_;
};

}  // namespace private_membership
