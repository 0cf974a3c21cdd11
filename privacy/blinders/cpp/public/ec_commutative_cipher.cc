#include "privacy/blinders/cpp/public/ec_commutative_cipher.h"

#include <utility>

#include "privacy/blinders/cpp/crypto/status_util.h"

namespace blinders {

namespace {

constexpr absl::string_view kSswuRoDomainSeparationTag = "ECCommutativeCipher";
constexpr unsigned kHashTypeCount = 4;

}  // namespace

ECCommutativeCipher::ECCommutativeCipher(std::unique_ptr<Context> context, ECGroup group, BigNum private_key,
                                         int hash_type)
    : context_(std::move(context)),
      group_(std::move(group)),
      private_key_(std::move(private_key)),
      // k^(order - 2) mod order: the inverse of k, since the group order is prime.
      private_key_inverse_(private_key_.ModExp(group_.GetOrder().Sub(context_->Two()), group_.GetOrder())),
      hash_type_(hash_type) {}

absl::StatusOr<std::unique_ptr<ECCommutativeCipher>> ECCommutativeCipher::CreateWithNewKey(int curve_id,
                                                                                           int hash_type) {
  auto context = std::make_unique<Context>();
  absl::StatusOr<ECGroup> group = ECGroup::Create(curve_id, context.get());
  if (!group.ok()) return group.status();
  if (static_cast<unsigned>(hash_type) >= kHashTypeCount) {
    return InvalidArgumentError("Invalid hash type.");
  }
  BigNum private_key = group->DrawPrivateKey();
  return std::unique_ptr<ECCommutativeCipher>(
      new ECCommutativeCipher(std::move(context), std::move(*group), std::move(private_key), hash_type));
}

absl::StatusOr<ECPoint> ECCommutativeCipher::HashToTheCurve(absl::string_view m) {
  switch (hash_type_) {
    case HASH_SHA256:
      return group_.HashToCurveSha256(m);
    case HASH_SHA384:
      return group_.HashToCurveSha384(m);
    case HASH_SHA512:
      return group_.HashToCurveSha512(m);
    case HASH_SSWU_RO:
      return group_.HashToCurveSswuRo(m, kSswuRoDomainSeparationTag);
    default:
      return InvalidArgumentError("Invalid hash type.");
  }
}

absl::StatusOr<std::string> ECCommutativeCipher::Encrypt(absl::string_view plaintext) {
  absl::StatusOr<ECPoint> point = HashToTheCurve(plaintext);
  if (!point.ok()) return point.status();
  absl::StatusOr<ECPoint> encrypted = point->Mul(private_key_);
  if (!encrypted.ok()) return encrypted.status();
  return encrypted->ToBytesCompressed();
}

absl::StatusOr<std::string> ECCommutativeCipher::Decrypt(absl::string_view ciphertext) {
  absl::StatusOr<ECPoint> point = group_.CreateECPoint(ciphertext);
  if (!point.ok()) return point.status();
  absl::StatusOr<ECPoint> decrypted = point->Mul(private_key_inverse_);
  if (!decrypted.ok()) return decrypted.status();
  return decrypted->ToBytesCompressed();
}

}  // namespace blinders
