#include "privacy/blinders/cpp/crypto/ec_point.h"

#include <cstdint>
#include <utility>

#include "absl/strings/str_cat.h"
#include "base/check.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/status_util.h"

namespace blinders {

namespace {

// The tag byte and x on the largest field BoringSSL offers (P-521, 66 bytes).
constexpr size_t kMaxCompressedPointLength = 1 + 66;

}  // namespace

ECPoint::ECPoint(const EC_GROUP* group, BN_CTX* bn_ctx, const BigNum& x, const BigNum& y)
    : bn_ctx_(bn_ctx), group_(group), point_(EC_POINT_new(group)) {
  BASE_CHECK(point_ != nullptr, LastCryptoErrorText());
  BASE_CHECK(1 == EC_POINT_set_affine_coordinates_GFp(group_, point_.get(), x.GetConstBignumPtr(),
                                                      y.GetConstBignumPtr(), bn_ctx_),
             LastCryptoErrorText());
}

ECPoint::ECPoint(const EC_GROUP* group, BN_CTX* bn_ctx, bssl::UniquePtr<EC_POINT> point)
    : bn_ctx_(bn_ctx), group_(group), point_(std::move(point)) {}

absl::StatusOr<std::string> ECPoint::ToBytesCompressed() const {
  // One call, into a buffer large enough for every curve: asking for the
  // length first would convert the point to affine coordinates twice.
  uint8_t buffer[kMaxCompressedPointLength];
  const size_t length =
      EC_POINT_point2oct(group_, point_.get(), POINT_CONVERSION_COMPRESSED, buffer, sizeof(buffer), bn_ctx_);
  if (length == 0) {
    return InternalError(absl::StrCat("EC_POINT_point2oct failed:", LastCryptoErrorText()));
  }
  return std::string(reinterpret_cast<const char*>(buffer), length);
}

absl::StatusOr<ECPoint> ECPoint::Mul(const BigNum& scalar) const {
  bssl::UniquePtr<EC_POINT> result(EC_POINT_new(group_));
  if (result == nullptr ||
      1 != EC_POINT_mul(group_, result.get(), nullptr, point_.get(), scalar.GetConstBignumPtr(), bn_ctx_)) {
    return InternalError(absl::StrCat("EC_POINT_mul failed:", LastCryptoErrorText()));
  }
  return ECPoint(group_, bn_ctx_, std::move(result));
}

}  // namespace blinders
