#include "privacy/private_membership/common/aes_gcm_256.h"

#include <cstdint>
#include <utility>

#include <openssl/rand.h>

#include "absl/strings/str_cat.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/status_util.h"

namespace private_membership {

namespace {

uint8_t* Bytes(std::string& s) { return reinterpret_cast<uint8_t*>(s.data()); }
const uint8_t* Bytes(absl::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

absl::StatusOr<std::unique_ptr<AesGcm256>> AesGcm256::Create(absl::string_view key) {
  if (key.size() != kKeySize) {
    return ::blinders::InvalidArgumentError(absl::StrCat("AesGcm256::Create : Key size must be ", kKeySize, " bytes."));
  }
  bssl::UniquePtr<EVP_AEAD_CTX> context(
      EVP_AEAD_CTX_new(EVP_aead_aes_256_gcm(), Bytes(key), key.size(), EVP_AEAD_DEFAULT_TAG_LENGTH));
  if (context == nullptr) {
    return ::blinders::InternalError(absl::StrCat("EVP_AEAD_CTX_new failed:", ::blinders::LastCryptoErrorText()));
  }
  return std::unique_ptr<AesGcm256>(new AesGcm256(std::move(context)));
}

absl::StatusOr<std::string> AesGcm256::Encrypt(absl::string_view plaintext) const {
  const size_t overhead = EVP_AEAD_max_overhead(EVP_AEAD_CTX_aead(context_.get()));
  std::string out(kNonceSize + plaintext.size() + overhead, '\0');
  if (RAND_bytes(Bytes(out), kNonceSize) != 1) {
    return ::blinders::InternalError(absl::StrCat("RAND_bytes failed:", ::blinders::LastCryptoErrorText()));
  }
  size_t written = 0;
  if (EVP_AEAD_CTX_seal(context_.get(), Bytes(out) + kNonceSize, &written, out.size() - kNonceSize, Bytes(out),
                        kNonceSize, Bytes(plaintext), plaintext.size(), nullptr, 0) != 1) {
    return ::blinders::InternalError(absl::StrCat("EVP_AEAD_CTX_seal failed:", ::blinders::LastCryptoErrorText()));
  }
  out.resize(kNonceSize + written);
  return out;
}

absl::StatusOr<std::string> AesGcm256::Decrypt(absl::string_view ciphertext) const {
  if (ciphertext.size() < kNonceSize) return ::blinders::InvalidArgumentError("Ciphertext is too short.");
  const absl::string_view sealed = ciphertext.substr(kNonceSize);
  std::string plaintext(sealed.size(), '\0');
  size_t written = 0;
  if (EVP_AEAD_CTX_open(context_.get(), Bytes(plaintext), &written, plaintext.size(), Bytes(ciphertext), kNonceSize,
                        Bytes(sealed), sealed.size(), nullptr, 0) != 1) {
    return ::blinders::InternalError(absl::StrCat("EVP_AEAD_CTX_open failed:", ::blinders::LastCryptoErrorText()));
  }
  plaintext.resize(written);
  return plaintext;
}

}  // namespace private_membership
