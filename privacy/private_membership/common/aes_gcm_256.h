// private_membership::AesGcm256: AES-256-GCM through BoringSSL's AEAD
// interface, with a fresh random 12-byte nonce per encryption, a 16-byte tag
// and no associated data. A ciphertext is nonce, encrypted bytes and tag:
// 12 + n + 16 bytes for n bytes of plaintext.
//
// The object holds its AEAD context from Create until it is destroyed and only
// reads it afterwards. Error texts of failed library calls come from the
// calling thread's BoringSSL error queue.
#pragma once

#include <memory>
#include <string>

#include <openssl/aead.h>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"
#include "privacy/private_membership/common/cipher.h"

namespace private_membership {

class AesGcm256 : public Cipher {
 public:
  static constexpr size_t kKeySize = 32;
  static constexpr size_t kNonceSize = 12;

  // A key of any other length than 32 bytes: InvalidArgument
  // "AesGcm256::Create : Key size must be 32 bytes.".
  static absl::StatusOr<std::unique_ptr<AesGcm256>> Create(absl::string_view key);

  absl::StatusOr<std::string> Encrypt(absl::string_view plaintext) const override;
  // Fewer than 12 bytes: InvalidArgument "Ciphertext is too short."; a wrong
  // tag, key or length: Internal "EVP_AEAD_CTX_open failed:" and the library's text.
  absl::StatusOr<std::string> Decrypt(absl::string_view ciphertext) const override;

 private:
  explicit AesGcm256(bssl::UniquePtr<EVP_AEAD_CTX> context) : context_(std::move(context)) {}

  const bssl::UniquePtr<EVP_AEAD_CTX> context_;
};

}  // namespace private_membership
