#include "privacy/blinders/cpp/crypto/ec_point.h"

#include <cstdint>
#include <utility>

#include "absl/strings/str_cat.h"
#include "base/check.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/status_util.h"

namespace blinders {

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
  const size_t length =
      EC_POINT_point2oct(group_, point_.get(), POINT_CONVERSION_COMPRESSED, nullptr, 0, bn_ctx_);
  std::string bytes(length, '\0');
  if (length == 0 || EC_POINT_point2oct(group_, point_.get(), POINT_CONVERSION_COMPRESSED,
                                        reinterpret_cast<uint8_t*>(bytes.data()), length, bn_ctx_) == 0) {
    return InternalError(absl::StrCat("EC_POINT_point2oct failed:", LastCryptoErrorText()));
  }
  return bytes;
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
