#include "privacy/private_membership/common/aes_ctr_256_no_auth.h"

#include <climits>
#include <cstdint>
#include <utility>

#include <openssl/cipher.h>
#include <openssl/rand.h>

#include "privacy/blinders/cpp/crypto/status_util.h"

namespace private_membership {

namespace {

uint8_t* Bytes(std::string& s) { return reinterpret_cast<uint8_t*>(s.data()); }
const uint8_t* Bytes(absl::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

absl::StatusOr<std::unique_ptr<AesCtr256NoAuth>> AesCtr256NoAuth::Create(absl::string_view key) {
  if (key.size() != kKeySize) return ::blinders::InvalidArgumentError("Key size is invalid.");
  return std::unique_ptr<AesCtr256NoAuth>(new AesCtr256NoAuth(std::string(key)));
}

absl::StatusOr<std::string> AesCtr256NoAuth::Encrypt(absl::string_view plaintext) const {
  bssl::UniquePtr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  if (ctx == nullptr) return ::blinders::InternalError("Could not initialize EVP_CIPHER_CTX.");
  std::string out(kIvSize + plaintext.size(), '\0');
  if (RAND_bytes(Bytes(out), kIvSize) != 1) return ::blinders::InternalError("Could not generate an IV.");
  if (EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_ctr(), nullptr, Bytes(key_), Bytes(out)) != 1) {
    return ::blinders::InternalError("Could not initialize encryption.");
  }
  // The library counts in int: a larger input cannot be encrypted in one update.
  if (plaintext.size() > static_cast<size_t>(INT_MAX)) return ::blinders::InternalError("Encryption failed.");
  int written = 0;
  if (EVP_EncryptUpdate(ctx.get(), Bytes(out) + kIvSize, &written, Bytes(plaintext),
                        static_cast<int>(plaintext.size())) != 1) {
    return ::blinders::InternalError("Encryption failed.");
  }
  out.resize(kIvSize + static_cast<size_t>(written));
  if (static_cast<size_t>(written) != plaintext.size()) {
    return ::blinders::InternalError("Ciphertext is incorrect size.");
  }
  return out;
}

absl::StatusOr<std::string> AesCtr256NoAuth::Decrypt(absl::string_view ciphertext) const {
  if (ciphertext.data() == nullptr) return ::blinders::InternalError("Invalid null ciphertext.");
  if (ciphertext.size() < kIvSize) return ::blinders::InternalError("Ciphertext is too short.");
  bssl::UniquePtr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  if (ctx == nullptr) return ::blinders::InternalError("Could not initialize EVP_CIPHER_CTX.");
  if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_ctr(), nullptr, Bytes(key_), Bytes(ciphertext)) != 1) {
    return ::blinders::InternalError("Could not initialize decryption.");
  }
  const absl::string_view body = ciphertext.substr(kIvSize);
  if (body.size() > static_cast<size_t>(INT_MAX)) return ::blinders::InternalError("Decryption failed.");
  std::string plaintext(body.size(), '\0');
  int written = 0;
  if (EVP_DecryptUpdate(ctx.get(), Bytes(plaintext), &written, Bytes(body), static_cast<int>(body.size())) != 1) {
    return ::blinders::InternalError("Decryption failed.");
  }
  if (static_cast<size_t>(written) != body.size()) return ::blinders::InternalError("Plaintext is incorrect size.");
  return plaintext;
}

}  // namespace private_membership
