// private_membership::AesCtr256WithFixedIV: AES-256 in counter mode with an
// all-zero IV. The ciphertext is the counter-mode output alone, as long as the
// plaintext, and the same plaintext always gives the same ciphertext under one
// key; each key must therefore protect one value only. No authentication.
#pragma once

#include <memory>
#include <string>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"
#include "privacy/private_membership/common/cipher.h"

namespace private_membership {

class AesCtr256WithFixedIV : public Cipher {
 public:
  static constexpr size_t kKeySize = 32;
  static constexpr size_t kIvSize = 16;

  // A key of any other length than 32 bytes: InvalidArgument "Key size is invalid.".
  static absl::StatusOr<std::unique_ptr<AesCtr256WithFixedIV>> Create(absl::string_view key);

  absl::StatusOr<std::string> Encrypt(absl::string_view plaintext) const override;
  // Any length, including 0; a null view: Internal "Invalid null ciphertext.".
  absl::StatusOr<std::string> Decrypt(absl::string_view ciphertext) const override;

 private:
  explicit AesCtr256WithFixedIV(std::string key) : key_(std::move(key)), iv_(kIvSize, '\0') {}

  const std::string key_;
  const std::string iv_;
};

}  // namespace private_membership
