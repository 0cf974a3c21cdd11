#include "privacy/blinders/cpp/crypto/ec_group.h"

#include <cstdint>
#include <optional>
#include <utility>

#include <openssl/nid.h>

#include "absl/strings/str_cat.h"
#include "base/check.h"
#include "privacy/blinders/cpp/crypto/hash_to_curve.h"
#include "privacy/blinders/cpp/crypto/status_util.h"

namespace blinders {

namespace {

// Error probability accepted when checking that the field prime is prime.
constexpr double kPrimeErrorProbability = 1e-40;

// The first byte of a compressed SEC 1 encoding: the parity of y.
constexpr char kCompressedEvenY = 0x02;
constexpr char kCompressedOddY = 0x03;

}  // namespace

ECGroup::ECGroup(Context* context, bssl::UniquePtr<EC_GROUP> group, BigNum order, BigNum cofactor,
                 CurveParams curve_params, BigNum euler_exponent, std::unique_ptr<PrimeField> field)
    : context_(context),
      group_(std::move(group)),
      order_(std::move(order)),
      cofactor_(std::move(cofactor)),
      curve_params_(std::move(curve_params)),
      euler_exponent_(std::move(euler_exponent)),
      field_(std::move(field)) {}

absl::StatusOr<ECGroup> ECGroup::Create(int curve_id, Context* context) {
  bssl::UniquePtr<EC_GROUP> group(EC_GROUP_new_by_curve_name(curve_id));
  if (group == nullptr) {
    return InvalidArgumentError(
        absl::StrCat("ECGroup::CreateGroup() - Could not create group. ", LastCryptoErrorText()));
  }
  BN_CTX* bn_ctx = context->GetBnCtx();

  bssl::UniquePtr<BIGNUM> order(BN_new());
  if (order == nullptr) {
    return InternalError(absl::StrCat("ECGroup::CreateOrder - Could not create BIGNUM. ", LastCryptoErrorText()));
  }
  if (1 != EC_GROUP_get_order(group.get(), order.get(), bn_ctx)) {
    return InternalError(absl::StrCat("ECGroup::CreateOrder - Could not get order. ", LastCryptoErrorText()));
  }

  bssl::UniquePtr<BIGNUM> cofactor(BN_new());
  if (cofactor == nullptr) {
    return InternalError(
        absl::StrCat("ECGroup::CreateCofactor - Could not create BIGNUM. ", LastCryptoErrorText()));
  }
  if (1 != EC_GROUP_get_cofactor(group.get(), cofactor.get(), bn_ctx)) {
    return InternalError(
        absl::StrCat("ECGroup::CreateCofactor - Could not get cofactor. ", LastCryptoErrorText()));
  }

  bssl::UniquePtr<BIGNUM> p(BN_new()), a(BN_new()), b(BN_new());
  if (p == nullptr || a == nullptr || b == nullptr) {
    return InternalError(
        absl::StrCat("ECGroup::CreateCurveParams - Could not create BIGNUM. ", LastCryptoErrorText()));
  }
  if (1 != EC_GROUP_get_curve_GFp(group.get(), p.get(), a.get(), b.get(), bn_ctx)) {
    return InternalError(
        absl::StrCat("ECGroup::CreateCurveParams - Could not get params. ", LastCryptoErrorText()));
  }
  CurveParams params{context->AdoptBignum(std::move(p)), context->AdoptBignum(std::move(a)),
                     context->AdoptBignum(std::move(b))};
  if (!params.p.IsPrime(kPrimeErrorProbability)) {
    return InternalError(
        absl::StrCat("ECGroup::CreateCurveParams - p is not prime. ", LastCryptoErrorText()));
  }
  BigNum euler_exponent = params.p.Sub(context->One()).Div(context->Two());
  std::unique_ptr<PrimeField> field = PrimeField::Create(params.p.GetConstBignumPtr(), bn_ctx);
  if (field == nullptr || !field->SetCurve(params.a.GetConstBignumPtr(), params.b.GetConstBignumPtr(), bn_ctx)) {
    return InternalError(
        absl::StrCat("ECGroup::CreateCurveParams - Could not set up arithmetic mod p. ", LastCryptoErrorText()));
  }
  return ECGroup(context, std::move(group), context->AdoptBignum(std::move(order)),
                 context->AdoptBignum(std::move(cofactor)), std::move(params), std::move(euler_exponent),
                 std::move(field));
}

BigNum ECGroup::DrawPrivateKey() const { return context_->RandomInRange(context_->One(), order_); }

bool ECGroup::IsValid(const EC_POINT* point) const {
  return EC_POINT_is_on_curve(group_.get(), point, context_->GetBnCtx()) == 1 &&
         EC_POINT_is_at_infinity(group_.get(), point) != 1;
}

absl::StatusOr<ECPoint> ECGroup::CreateECPoint(const BigNum& x, const BigNum& y) const {
  // Coordinates are checked before the point is built, so that a pair that is
  // not on the curve is reported rather than stopping the process in the
  // coordinate constructor.
  const BigNum& p = curve_params_.p;
  const bool in_range = x.IsNonNegative() && y.IsNonNegative() && x.CompareTo(p) < 0 && y.CompareTo(p) < 0;
  if (!in_range || y.Mul(y).Mod(p).CompareTo(CurveRightSide(x)) != 0) {
    return InvalidArgumentError("ECGroup::CreateECPoint(x,y) - The point is not valid.");
  }
  ECPoint point(group_.get(), context_->GetBnCtx(), x, y);
  if (!IsValid(point.GetConstPointPtr())) {
    return InvalidArgumentError("ECGroup::CreateECPoint(x,y) - The point is not valid.");
  }
  return point;
}

std::optional<ECPoint> ECGroup::DecodeCompressed(absl::string_view bytes) const {
  const BigNum& p = curve_params_.p;
  const size_t field_length = static_cast<size_t>(BN_num_bytes(p.GetConstBignumPtr()));
  if (bytes.size() != 1 + field_length || (bytes[0] != kCompressedEvenY && bytes[0] != kCompressedOddY)) {
    return std::nullopt;
  }
  BigNum x(context_->GetBnCtx(), bytes.substr(1));
  if (x.CompareTo(p) >= 0) return std::nullopt;
  const bool odd = bytes[0] == kCompressedOddY;
  bool handled = false;
  std::optional<ECPoint> point = PointFromFieldRoot(x, odd, PrimeField::Operand::kExpectedSquare, &handled);
  if (handled) return point;
  BigNum s = CurveRightSide(x);
  if (s.IsZero()) return std::nullopt;
  bssl::UniquePtr<BIGNUM> root(BN_new());
  BASE_CHECK(root != nullptr, LastCryptoErrorText());
  bool is_square = false;
  BASE_CHECK(field_->Sqrt(root.get(), &is_square, s.GetConstBignumPtr(), context_->GetBnCtx(),
                          PrimeField::Operand::kExpectedSquare),
             LastCryptoErrorText());
  if (!is_square) return std::nullopt;
  BigNum y = context_->AdoptBignum(std::move(root));
  if (y.IsBitSet(0) != odd) {
    y = y.ModNegate(p);
  }
  // On the curve (y^2 = s) and not the point at infinity, so already valid.
  return ECPoint(group_.get(), context_->GetBnCtx(), x, y);
}

absl::StatusOr<ECPoint> ECGroup::CreateECPoint(absl::string_view bytes) const {
  // Ciphertexts come compressed; their square root is taken with the group's
  // own field arithmetic. Anything else, and every encoding that does not name
  // a point, goes through BoringSSL's decoder, which also gives the error text.
  std::optional<ECPoint> compressed = DecodeCompressed(bytes);
  if (compressed.has_value()) return std::move(*compressed);
  bssl::UniquePtr<EC_POINT> point(EC_POINT_new(group_.get()));
  if (point == nullptr) {
    return InternalError("ECGroup::CreateECPoint: Failed to create point.");
  }
  if (1 != EC_POINT_oct2point(group_.get(), point.get(), reinterpret_cast<const uint8_t*>(bytes.data()),
                              bytes.size(), context_->GetBnCtx())) {
    return InvalidArgumentError(
        absl::StrCat("ECGroup::CreateECPoint(string) - Could not decode point.\n", LastCryptoErrorText()));
  }
  ECPoint ec_point(group_.get(), context_->GetBnCtx(), std::move(point));
  if (!IsValid(ec_point.GetConstPointPtr())) {
    return InvalidArgumentError("ECGroup::CreateECPoint(string) - Decoded point is not valid.");
  }
  return ec_point;
}

absl::StatusOr<ECPoint> ECGroup::GetPointAtInfinity() const {
  bssl::UniquePtr<EC_POINT> point(EC_POINT_new(group_.get()));
  if (point == nullptr) {
    return InternalError("ECGroup::GetPointAtInfinity() - Could not create new point.");
  }
  if (1 != EC_POINT_set_to_infinity(group_.get(), point.get())) {
    return InternalError("ECGroup::GetPointAtInfinity() - Could not get point at infinity.");
  }
  return ECPoint(group_.get(), context_->GetBnCtx(), std::move(point));
}

BigNum ECGroup::CurveRightSide(const BigNum& x) const {
  const BigNum& p = curve_params_.p;
  return x.Exp(context_->Three()).Add(curve_params_.a.Mul(x)).Add(curve_params_.b).Mod(p);
}

absl::StatusOr<ECPoint> ECGroup::MapXToCurve(const BigNum& x) const {
  std::optional<ECPoint> point = PointWithX(x);
  if (!point.has_value()) {
    return InternalError("Could not hash x to the curve.");
  }
  return std::move(*point);
}

std::optional<ECPoint> ECGroup::PointWithX(const BigNum& x) const {
  const BigNum& p = curve_params_.p;
  BigNum x_mod = x.Mod(p);
  bool handled = false;
  std::optional<ECPoint> point = PointFromFieldRoot(x_mod, /*odd=*/false, PrimeField::Operand::kAny, &handled);
  if (handled) return point;
  BigNum s = CurveRightSide(x_mod);
  // s must be a non-zero square (Euler's criterion s^((p-1)/2) = 1). The square
  // root tells squares from non-squares itself, so no exponentiation is spent on
  // the criterion; zero, which has a root, is refused first.
  if (s.IsZero()) return std::nullopt;
  bssl::UniquePtr<BIGNUM> root(BN_new());
  BASE_CHECK(root != nullptr, LastCryptoErrorText());
  bool is_square = false;
  BASE_CHECK(field_->Sqrt(root.get(), &is_square, s.GetConstBignumPtr(), context_->GetBnCtx()),
             LastCryptoErrorText());
  if (!is_square) return std::nullopt;
  BigNum y = context_->AdoptBignum(std::move(root));
  if (y.IsBitSet(0)) {
    y = y.ModNegate(p);
  }
  // y^2 = s has just been checked and both coordinates are below p, so the pair
  // is a point of the curve other than infinity: the tests of CreateECPoint
  // would only repeat that work.
  return ECPoint(group_.get(), context_->GetBnCtx(), x_mod, y);
}

std::optional<ECPoint> ECGroup::PointFromFieldRoot(const BigNum& x, bool odd, PrimeField::Operand operand,
                                                   bool* handled) const {
  bssl::UniquePtr<BIGNUM> root(BN_new());
  BASE_CHECK(root != nullptr, LastCryptoErrorText());
  std::optional<PrimeField::CurveAnswer> answer = field_->CurveRoot(root.get(), x.GetConstBignumPtr(), odd, operand);
  *handled = answer.has_value();
  if (answer != PrimeField::CurveAnswer::kRoot) return std::nullopt;
  // y^2 = x^3 + a*x + b has been checked and both coordinates are below p, so
  // the pair is a point of the curve other than infinity.
  return ECPoint(group_.get(), context_->GetBnCtx(), x, context_->AdoptBignum(std::move(root)));
}

absl::StatusOr<ECPoint> ECGroup::HashToCurve(absl::string_view m, TryAndIncrementDigest digest) const {
  const BigNum& p = curve_params_.p;
  auto hash = [&](absl::string_view bytes) {
    switch (digest) {
      case TryAndIncrementDigest::kSha384:
        return context_->HashToRangeSha384(bytes, p);
      case TryAndIncrementDigest::kSha512:
        return context_->HashToRangeSha512(bytes, p);
      case TryAndIncrementDigest::kSha256:
        break;
    }
    return context_->HashToRangeSha256(bytes, p);
  };
  BigNum x = hash(m);
  while (true) {
    // The candidates that miss the curve are common (about half), so the loop
    // asks without building the error status MapXToCurve reports.
    std::optional<ECPoint> point = PointWithX(x);
    if (point.has_value()) return std::move(*point);
    x = hash(x.ToBytes());
  }
}

absl::StatusOr<ECPoint> ECGroup::HashToCurveSha256(absl::string_view m) const {
  return HashToCurve(m, TryAndIncrementDigest::kSha256);
}

absl::StatusOr<ECPoint> ECGroup::HashToCurveSha384(absl::string_view m) const {
  return HashToCurve(m, TryAndIncrementDigest::kSha384);
}

absl::StatusOr<ECPoint> ECGroup::HashToCurveSha512(absl::string_view m) const {
  return HashToCurve(m, TryAndIncrementDigest::kSha512);
}

absl::StatusOr<ECPoint> ECGroup::HashToCurveSswuRo(absl::string_view m, absl::string_view dst) const {
  absl::StatusOr<ECPoint> point = GetPointAtInfinity();
  if (!point.ok()) return point.status();
  EC_POINT* out = point->GetMutablePointPtr();
  int result;
  switch (GetCurveId()) {
    case NID_X9_62_prime256v1:
      result = hash_to_curve::P256XmdSha256SswuRo(group_.get(), out, dst, m, field_.get(), context_->GetBnCtx());
      break;
    case NID_secp384r1:
      result = hash_to_curve::P384XmdSha384SswuRo(group_.get(), out, dst, m, field_.get(), context_->GetBnCtx());
      break;
    default:
      return InvalidArgumentError("Curve does not support HashToCurveSswuRo.");
  }
  if (result != 1) {
    return InternalError(LastCryptoErrorText());
  }
  return point;
}

}  // namespace blinders
