#include "privacy/private_membership/common/aes_ctr_256_with_fixed_iv.h"

#include <climits>
#include <cstdint>
#include <utility>

#include <openssl/cipher.h>

#include "privacy/blinders/cpp/crypto/status_util.h"

namespace private_membership {

namespace {

uint8_t* Bytes(std::string& s) { return reinterpret_cast<uint8_t*>(s.data()); }
const uint8_t* Bytes(absl::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

absl::StatusOr<std::unique_ptr<AesCtr256WithFixedIV>> AesCtr256WithFixedIV::Create(absl::string_view key) {
  if (key.size() != kKeySize) return ::blinders::InvalidArgumentError("Key size is invalid.");
  return std::unique_ptr<AesCtr256WithFixedIV>(new AesCtr256WithFixedIV(std::string(key)));
}

absl::StatusOr<std::string> AesCtr256WithFixedIV::Encrypt(absl::string_view plaintext) const {
  bssl::UniquePtr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  if (ctx == nullptr) return ::blinders::InternalError("Could not initialize EVP_CIPHER_CTX.");
  if (EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_ctr(), nullptr, Bytes(key_), Bytes(iv_)) != 1) {
    return ::blinders::InternalError("Could not initialize encryption.");
  }
  // The library counts in int: a larger input cannot be encrypted in one update.
  if (plaintext.size() > static_cast<size_t>(INT_MAX)) return ::blinders::InternalError("Encryption failed.");
  std::string out(plaintext.size(), '\0');
  int written = 0;
  if (EVP_EncryptUpdate(ctx.get(), Bytes(out), &written, Bytes(plaintext), static_cast<int>(plaintext.size())) !=
      1) {
    return ::blinders::InternalError("Encryption failed.");
  }
  if (static_cast<size_t>(written) != plaintext.size()) {
    return ::blinders::InternalError("Ciphertext is incorrect size.");
  }
  return out;
}

absl::StatusOr<std::string> AesCtr256WithFixedIV::Decrypt(absl::string_view ciphertext) const {
  if (ciphertext.data() == nullptr) return ::blinders::InternalError("Invalid null ciphertext.");
  bssl::UniquePtr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  if (ctx == nullptr) return ::blinders::InternalError("Could not initialize EVP_CIPHER_CTX.");
  if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_ctr(), nullptr, Bytes(key_), Bytes(iv_)) != 1) {
    return ::blinders::InternalError("Could not initialize decryption.");
  }
  if (ciphertext.size() > static_cast<size_t>(INT_MAX)) return ::blinders::InternalError("Decryption failed.");
  std::string plaintext(ciphertext.size(), '\0');
  int written = 0;
  if (EVP_DecryptUpdate(ctx.get(), Bytes(plaintext), &written, Bytes(ciphertext),
                        static_cast<int>(ciphertext.size())) != 1) {
    return ::blinders::InternalError("Decryption failed.");
  }
  if (static_cast<size_t>(written) != ciphertext.size()) {
    return ::blinders::InternalError("Plaintext is incorrect size.");
  }
  return plaintext;
}

}  // namespace private_membership
