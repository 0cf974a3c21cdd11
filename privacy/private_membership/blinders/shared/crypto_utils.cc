#include "privacy/private_membership/blinders/shared/crypto_utils.h"

#include <memory>

#include "absl/strings/str_cat.h"
#include "privacy/blinders/cpp/crypto/status_util.h"
#include "privacy/private_membership/common/crypto_utils.h"

namespace private_membership::blinders {

namespace {

constexpr size_t kSaltSize = 32;
constexpr size_t kValueKeySize = 32;

// Fixed salts that keep the three digests of one id apart.
constexpr char kBucketHashSalt[] =
    "\x3f\x1c\x9a\x7e\x52\xd0\x8b\x46\xe1\xa7\x3c\x59\x0b\x2f\xd8\xe4"
    "\xa6\xc1\x7b\x39\x05\xde\x28\xf4\xc1\xb9\xe0\x7a\x6d\x3f\x52\x81";
constexpr char kLookupHashSalt[] =
    "\x9e\x4b\x27\xd1\xc0\x6a\x83\xf5\xb2\xe9\x1d\x4c\x7a\x03\x58\xe6"
    "\xf3\xd1\xb9\xa2\xc4\xe7\x05\x8b\x1f\x6a\x3d\x9c\x2e\x8b\x47\x05";
constexpr char kValueKeySalt[] =
    "\xc7\x2e\x5a\x19\xf4\xb0\x8d\x63\xa1\xe7\xc2\x95\x4b\x0f\x6d\x38"
    "\xe9\xa5\xc1\xb7\xd3\xf2\xe0\x86\x4a\x9c\x5b\x1e\x7f\x3d\x2a\x06";
static_assert(sizeof(kBucketHashSalt) == kSaltSize + 1 && sizeof(kLookupHashSalt) == kSaltSize + 1 &&
              sizeof(kValueKeySalt) == kSaltSize + 1);

std::string SaltedSha256(const char* salt, absl::string_view bytes, ::blinders::Context* context) {
  return context->DigestSha256(absl::StrCat(absl::string_view(salt, kSaltSize), bytes));
}

}  // namespace

absl::StatusOr<std::string> ComputeBucketHash(int32_t hash_type, absl::string_view bytes,
                                              ::blinders::Context* context) {
  if (hash_type != kSha256 && hash_type != kSha256Alternate) {
    return ::blinders::InvalidArgumentError("Specified an invalid hash type.");
  }
  return SaltedSha256(kBucketHashSalt, bytes, context).substr(0, 32);
}

std::string ComputeLookupHash(absl::string_view bytes, ::blinders::Context* context) {
  return SaltedSha256(kLookupHashSalt, bytes, context);
}

absl::StatusOr<std::string> DeriveValueKey(absl::string_view bytes, ::blinders::Context* context) {
  return ResizeBytes(SaltedSha256(kValueKeySalt, bytes, context), kValueKeySize);
}

absl::StatusOr<std::string> DecryptValue(absl::string_view encrypted_id, absl::string_view ciphertext,
                                         int32_t encryption_scheme, ::blinders::Context* context) {
  absl::StatusOr<std::string> key = DeriveValueKey(encrypted_id, context);
  if (!key.ok()) return key.status();
  return DecryptValueWithKey(*key, ciphertext, encryption_scheme);
}

absl::StatusOr<std::string> DecryptValueWithKey(absl::string_view key, absl::string_view ciphertext,
                                                int32_t encryption_scheme) {
  absl::StatusOr<std::unique_ptr<Cipher>> cipher = CreateCipher(encryption_scheme, key);
  if (!cipher.ok()) return cipher.status();
  absl::StatusOr<std::string> plaintext = (*cipher)->Decrypt(ciphertext);
  if (!plaintext.ok()) return plaintext.status();
  if (encryption_scheme == kAesCtr256NoAuth) return plaintext;
  return DecodeLengthPrefixedBytes(*plaintext);
}

}  // namespace private_membership::blinders
