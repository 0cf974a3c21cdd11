// blinders::ECGroup: a named prime-field curve of BoringSSL (short Weierstrass
// form y^2 = x^3 + a*x + b mod p) with the numbers derived from it, and the
// maker of its points: from coordinates, from an encoding, the point at
// infinity, and by hashing bytes to the curve.
//
// The group borrows its blinders::Context, which must outlive the group and
// every point made from it; the group must outlive its points. Failures are
// statuses (InvalidArgument for bad input, Internal for library failures);
// the fatal checks are those of BigNum and of the ECPoint coordinate
// constructor.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <openssl/base.h>
#include <openssl/ec.h>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"
#include "privacy/blinders/cpp/crypto/big_num.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/ec_point.h"
#include "privacy/blinders/cpp/crypto/prime_field.h"

namespace blinders {

class ECGroup {
 public:
  struct CurveParams {
    BigNum p;  // the field prime
    BigNum a;
    BigNum b;
  };

  // The group of the curve with BoringSSL NID `curve_id` (415 is P-256, 715
  // P-384). An id BoringSSL does not offer gives InvalidArgument
  // "ECGroup::CreateGroup() - Could not create group. " plus the library text.
  static absl::StatusOr<ECGroup> Create(int curve_id, Context* context);

  ECGroup(ECGroup&& other) noexcept = default;
  ECGroup& operator=(ECGroup&& other) noexcept = default;
  ECGroup(const ECGroup&) = delete;
  ECGroup& operator=(const ECGroup&) = delete;
  ~ECGroup() = default;

  // A uniform random scalar in [1, order).
  BigNum DrawPrivateKey() const;

  // The point (x, y). Coordinates that are out of range, not on the curve, or
  // that name the point at infinity give InvalidArgument
  // "ECGroup::CreateECPoint(x,y) - The point is not valid.".
  absl::StatusOr<ECPoint> CreateECPoint(const BigNum& x, const BigNum& y) const;
  // The point a SEC 1 encoding (compressed or uncompressed) stands for.
  // InvalidArgument "ECGroup::CreateECPoint(string) - Could not decode point.\n"
  // plus the library text when it does not decode, and "ECGroup::CreateECPoint
  // (string) - Decoded point is not valid." for the point at infinity.
  absl::StatusOr<ECPoint> CreateECPoint(absl::string_view bytes) const;
  absl::StatusOr<ECPoint> GetPointAtInfinity() const;

  // Try-and-increment hashing to the curve: x = HashToRange(m, p) with the
  // digest named, re-hashed from its own minimal bytes until x^3 + a*x + b is
  // a non-zero square mod p; the point is (x, the even square root).
  absl::StatusOr<ECPoint> HashToCurveSha256(absl::string_view m) const;
  absl::StatusOr<ECPoint> HashToCurveSha384(absl::string_view m) const;
  absl::StatusOr<ECPoint> HashToCurveSha512(absl::string_view m) const;

  // RFC 9380 random-oracle hashing with tag `dst`: P256_XMD:SHA-256_SSWU_RO_
  // on P-256, P384_XMD:SHA-384_SSWU_RO_ on P-384; other curves give
  // InvalidArgument "Curve does not support HashToCurveSswuRo.".
  absl::StatusOr<ECPoint> HashToCurveSswuRo(absl::string_view m, absl::string_view dst) const;

  // The point (x mod p, even root) when x^3 + a*x + b is a non-zero square mod
  // p; otherwise Internal "Could not hash x to the curve.".
  absl::StatusOr<ECPoint> MapXToCurve(const BigNum& x) const;
  // x^3 + a*x + b mod p.
  BigNum CurveRightSide(const BigNum& x) const;

  const BigNum& GetOrder() const { return order_; }
  const BigNum& GetCofactor() const { return cofactor_; }
  const CurveParams& GetCurveParams() const { return curve_params_; }
  // (p - 1) / 2.
  const BigNum& GetEulerExponent() const { return euler_exponent_; }
  int GetCurveId() const { return EC_GROUP_get_curve_name(group_.get()); }

 private:
  enum class TryAndIncrementDigest { kSha256, kSha384, kSha512 };

  ECGroup(Context* context, bssl::UniquePtr<EC_GROUP> group, BigNum order, BigNum cofactor,
          CurveParams curve_params, BigNum euler_exponent, std::unique_ptr<PrimeField> field);

  absl::StatusOr<ECPoint> HashToCurve(absl::string_view m, TryAndIncrementDigest digest) const;
  // MapXToCurve without its error status: nothing when x misses the curve.
  std::optional<ECPoint> PointWithX(const BigNum& x) const;
  // The point a well-formed compressed encoding names; nothing for any other
  // bytes (which CreateECPoint hands to BoringSSL's decoder).
  std::optional<ECPoint> DecodeCompressed(absl::string_view bytes) const;
  // The point (x, y) with y of the parity asked for, from the field's own
  // arithmetic on machine words; `*handled` is false when the field cannot
  // answer for this curve or x, and the caller computes it with BIGNUMs.
  std::optional<ECPoint> PointFromFieldRoot(const BigNum& x, bool odd, PrimeField::Operand operand,
                                            bool* handled) const;
  bool IsValid(const EC_POINT* point) const;

  Context* context_;  // borrowed
  bssl::UniquePtr<EC_GROUP> group_;
  BigNum order_;
  BigNum cofactor_;
  CurveParams curve_params_;
  BigNum euler_exponent_;
  // Arithmetic mod p with its Montgomery context, made once for the hashing to
  // the curve and the decoding of compressed points.
  std::unique_ptr<PrimeField> field_;
};

}  // namespace blinders
