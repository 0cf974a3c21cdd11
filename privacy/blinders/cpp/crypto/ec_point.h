// blinders::ECPoint: one point of a blinders::ECGroup, with its compressed
// SEC 1 encoding and scalar multiplication.
//
// A point borrows the group's EC_GROUP and the context's BN_CTX: the ECGroup
// (and so the Context) must outlive it. Points are made by the ECGroup
// (CreateECPoint, GetPointAtInfinity, the HashToCurve* operations) and by Mul.
#pragma once

#include <string>

#include <openssl/base.h>
#include <openssl/ec.h>

#include "absl/status/statusor.h"
#include "privacy/blinders/cpp/crypto/big_num.h"

namespace blinders {

class ECPoint {
 public:
  // The point with affine coordinates (x, y). Coordinates BoringSSL refuses
  // (not on the curve, out of range) are a fatal check: use
  // ECGroup::CreateECPoint(x, y) for coordinates that may be invalid.
  ECPoint(const EC_GROUP* group, BN_CTX* bn_ctx, const BigNum& x, const BigNum& y);
  // Takes ownership of `point`, a point of `group`.
  ECPoint(const EC_GROUP* group, BN_CTX* bn_ctx, bssl::UniquePtr<EC_POINT> point);

  ECPoint(ECPoint&& other) noexcept = default;
  ECPoint& operator=(ECPoint&& other) noexcept = default;
  ECPoint(const ECPoint&) = delete;
  ECPoint& operator=(const ECPoint&) = delete;
  ~ECPoint() = default;

  // The compressed SEC 1 encoding: 0x02 (even y) or 0x03 (odd y), then x
  // big-endian padded to the field size (33 bytes on P-256, 49 on P-384).
  // The point at infinity has none: Internal "EC_POINT_point2oct failed:...".
  absl::StatusOr<std::string> ToBytesCompressed() const;

  // scalar * this, as a new point; this point is unchanged.
  // Internal "EC_POINT_mul failed:..." when BoringSSL refuses.
  absl::StatusOr<ECPoint> Mul(const BigNum& scalar) const;

  const EC_POINT* GetConstPointPtr() const { return point_.get(); }

 private:
  friend class ECGroup;
  EC_POINT* GetMutablePointPtr() { return point_.get(); }

  BN_CTX* bn_ctx_;          // borrowed from the context
  const EC_GROUP* group_;   // borrowed from the ECGroup
  bssl::UniquePtr<EC_POINT> point_;
};

}  // namespace blinders
