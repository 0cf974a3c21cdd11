#include "privacy/blinders/cpp/crypto/ec_group.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <openssl/nid.h>

#include "privacy/blinders/cpp/crypto/test_util.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/ec_point.h"
#include "privacy/blinders/cpp/crypto/hash_to_curve.h"
#include "privacy/blinders/cpp/crypto/prime_field.h"
#include "privacy/blinders/cpp/crypto/status_util.h"

namespace blinders {
namespace {

using namespace std::string_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::Bytes;
using testing::FromHex;
using testing::Hex;

#include "privacy/blinders/cpp/crypto/generated_vectors.inc"

constexpr char kP256Prime[] = "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff";
constexpr char kP256Generator[] =
    "036b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296";

// Uncompressed encoding 0x04 || x || y, for comparing with published coordinates.
std::string Uncompressed(const ECGroup& group, const ECPoint& point) {
  bssl::UniquePtr<EC_GROUP> g(EC_GROUP_new_by_curve_name(group.GetCurveId()));
  std::string out(EC_POINT_point2oct(g.get(), point.GetConstPointPtr(), POINT_CONVERSION_UNCOMPRESSED, nullptr,
                                     0, nullptr),
                  '\0');
  EC_POINT_point2oct(g.get(), point.GetConstPointPtr(), POINT_CONVERSION_UNCOMPRESSED,
                     reinterpret_cast<uint8_t*>(out.data()), out.size(), nullptr);
  return Hex(out);
}

class ECGroupTest : public ::testing::Test {
 protected:
  ECGroup P256() { return std::move(ECGroup::Create(NID_X9_62_prime256v1, &ctx_)).value(); }
  Context ctx_;
};

TEST_F(ECGroupTest, P256Parameters) {
  ECGroup group = P256();
  const BigNum& p = group.GetCurveParams().p;
  EXPECT_EQ(p.CompareTo(FromHex(ctx_, kP256Prime)), 0);
  EXPECT_EQ(group.GetCurveParams().a.CompareTo(p.Sub(ctx_.Three())), 0);
  EXPECT_TRUE(group.GetCofactor().IsOne());
  EXPECT_EQ(group.GetEulerExponent().CompareTo(p.Sub(ctx_.One()).RShift(1)), 0);
  EXPECT_EQ(group.GetOrder().CompareTo(
                FromHex(ctx_, "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551")),
            0);
}

TEST_F(ECGroupTest, UnknownCurveIsInvalidArgument) {
  absl::StatusOr<ECGroup> group = ECGroup::Create(0, &ctx_);
  ASSERT_FALSE(group.ok());
  EXPECT_EQ(group.status().code(), absl::StatusCode::kInvalidArgument);
  EXPECT_THAT(std::string(group.status().message()), StartsWith("ECGroup::CreateGroup() - Could not create group. "));
  EXPECT_THAT(SourceLocationOf(group.status()), HasSubstr("ec_group.cc:"));
}

TEST_F(ECGroupTest, DoublingTheGenerator) {
  ECGroup group = P256();
  ECPoint g = group.CreateECPoint(Bytes(kP256Generator)).value();
  ECPoint two_g = g.Mul(ctx_.Two()).value();
  EXPECT_EQ(Uncompressed(group, two_g),
            "04"
            "7cf27b188d034f7e8a52380304b51ac3c08969e277f21b35a60b48fc47669978"
            "07775510db8ed040293d9ac69f7430dbba7dade63ce982299e04b79d227873d1");
  // The generator's order times it is the point at infinity, which has no compressed form.
  absl::StatusOr<std::string> infinity = g.Mul(group.GetOrder()).value().ToBytesCompressed();
  EXPECT_EQ(infinity.status().code(), absl::StatusCode::kInternal);
  EXPECT_THAT(std::string(infinity.status().message()), StartsWith("EC_POINT_point2oct failed:"));
}

TEST_F(ECGroupTest, EncodingRoundTrip) {
  ECGroup group = P256();
  ECPoint point = group.HashToCurveSha256("round trip").value();
  std::string bytes = point.ToBytesCompressed().value();
  ASSERT_EQ(bytes.size(), 33u);
  EXPECT_EQ(group.CreateECPoint(bytes).value().ToBytesCompressed().value(), bytes);
}

TEST_F(ECGroupTest, InvalidEncodings) {
  ECGroup group = P256();
  std::string x_not_on_curve = "\x02"s + std::string(31, '\0') + "\x01";  // x = 1: 1 - 3 + b is no square mod p
  struct Case {
    std::string name;
    std::string bytes;
    std::string message_prefix;
  } cases[] = {
      {"empty", "", "ECGroup::CreateECPoint(string) - Could not decode point.\n"},
      {"bad tag 0x05", "\x05"s + std::string(32, '\x01'), "ECGroup::CreateECPoint(string) - Could not decode point.\n"},
      {"truncated", Bytes(kP256Generator).substr(0, 32), "ECGroup::CreateECPoint(string) - Could not decode point."},
      {"x not on the curve", x_not_on_curve, "ECGroup::CreateECPoint(string) - Could not decode point."},
      {"x beyond p", "\x02"s + std::string(32, '\xff'), "ECGroup::CreateECPoint(string) - Could not decode point."},
      {"infinity", "\x00"s, "ECGroup::CreateECPoint(string) - "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    absl::StatusOr<ECPoint> point = group.CreateECPoint(c.bytes);
    ASSERT_FALSE(point.ok());
    EXPECT_EQ(point.status().code(), absl::StatusCode::kInvalidArgument);
    EXPECT_THAT(std::string(point.status().message()), StartsWith(c.message_prefix));
  }
}

TEST_F(ECGroupTest, PointFromCoordinates) {
  ECGroup group = P256();
  BigNum x = FromHex(ctx_, "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296");
  BigNum y = FromHex(ctx_, "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");
  EXPECT_EQ(Hex(group.CreateECPoint(x, y).value().ToBytesCompressed().value()), kP256Generator);

  // Pairs that are not points give a status; none stops the process.
  const BigNum& p = group.GetCurveParams().p;
  auto copy = [&](const BigNum& n) { return n.Add(BigNum(ctx_.GetBnCtx())); };
  std::vector<std::pair<BigNum, BigNum>> invalid;
  invalid.emplace_back(x.Add(ctx_.One()), copy(y));
  invalid.emplace_back(x.Add(p), copy(y));  // the same point, x out of range
  invalid.emplace_back(copy(x), y.Sub(p));  // the same point, y negative
  invalid.emplace_back(BigNum(ctx_.GetBnCtx()), BigNum(ctx_.GetBnCtx()));
  for (const auto& [bad_x, bad_y] : invalid) {
    absl::StatusOr<ECPoint> point = group.CreateECPoint(bad_x, bad_y);
    ASSERT_FALSE(point.ok());
    EXPECT_EQ(point.status().code(), absl::StatusCode::kInvalidArgument);
    EXPECT_EQ(point.status().message(), "ECGroup::CreateECPoint(x,y) - The point is not valid.");
  }
}

TEST_F(ECGroupTest, CoordinateConstructorStopsOnInvalidPair) {
  ECGroup group = P256();
  bssl::UniquePtr<EC_GROUP> raw(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
  BigNum one(ctx_.GetBnCtx(), uint64_t{1});
  EXPECT_DEATH(ECPoint(raw.get(), ctx_.GetBnCtx(), one, one),
               "Check failed: 1 == EC_POINT_set_affine_coordinates_GFp");
}

TEST_F(ECGroupTest, MapXToCurve) {
  ECGroup group = P256();
  // x = 1: 1 - 3 + b is not a square mod p.
  absl::StatusOr<ECPoint> none = group.MapXToCurve(ctx_.One());
  EXPECT_EQ(none.status().code(), absl::StatusCode::kInternal);
  EXPECT_EQ(none.status().message(), "Could not hash x to the curve.");
  // The generator's x maps to the generator or its negation, with the even root (compressed 0x02).
  BigNum gx = FromHex(ctx_, "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296");
  EXPECT_EQ(Hex(group.MapXToCurve(gx).value().ToBytesCompressed().value()),
            "02" + std::string(kP256Generator).substr(2));
  // x is reduced mod p first.
  EXPECT_EQ(group.MapXToCurve(gx.Add(group.GetCurveParams().p)).value().ToBytesCompressed().value(),
            group.MapXToCurve(gx).value().ToBytesCompressed().value());
}

// BoringSSL's curves: P-224 (p = 1 mod 4), P-256, P-384, P-521.
constexpr int kCurves[] = {NID_secp224r1, NID_X9_62_prime256v1, NID_secp384r1, NID_secp521r1};

// x^3 + a*x + b mod p, by BoringSSL alone.
bssl::UniquePtr<BIGNUM> RightSide(const ECGroup& group, const BIGNUM* x, BN_CTX* ctx) {
  const BIGNUM* p = group.GetCurveParams().p.GetConstBignumPtr();
  bssl::UniquePtr<BIGNUM> s(BN_new()), t(BN_new());
  BN_mod_sqr(t.get(), x, p, ctx);
  BN_mod_mul(s.get(), t.get(), x, p, ctx);
  BN_mod_mul(t.get(), group.GetCurveParams().a.GetConstBignumPtr(), x, p, ctx);
  BN_mod_add(s.get(), s.get(), t.get(), p, ctx);
  BN_mod_add(s.get(), s.get(), group.GetCurveParams().b.GetConstBignumPtr(), p, ctx);
  return s;
}

// Whether s is a non-zero square, by Euler's criterion.
bool IsNonZeroSquare(const ECGroup& group, const BIGNUM* s, BN_CTX* ctx) {
  bssl::UniquePtr<BIGNUM> e(BN_new());
  BN_mod_exp(e.get(), s, group.GetEulerExponent().GetConstBignumPtr(), group.GetCurveParams().p.GetConstBignumPtr(),
             ctx);
  return BN_is_one(e.get());
}

// The candidates cover squares and non-squares on every curve (s = 0 has no x on
// these prime-order curves). The answer must be Euler's criterion's, and the
// point the one with BoringSSL's square root made even.
TEST(MapXToCurveTest, AgreesWithEulersCriterionOnEveryCurve) {
  for (int curve : kCurves) {
    SCOPED_TRACE("curve " + std::to_string(curve));
    Context ctx;
    ECGroup group = std::move(ECGroup::Create(curve, &ctx)).value();
    const BigNum& p = group.GetCurveParams().p;
    bssl::UniquePtr<EC_GROUP> raw(EC_GROUP_new_by_curve_name(curve));
    std::vector<BigNum> candidates;
    for (uint64_t small = 0; small < 24; ++small) candidates.emplace_back(ctx.GetBnCtx(), small);
    for (int i = 0; i < 24; ++i) candidates.push_back(ctx.HashToRangeSha256("x " + std::to_string(i), p));
    candidates.push_back(p.Sub(ctx.One()));
    int mapped = 0;
    for (const BigNum& x : candidates) {
      SCOPED_TRACE(Hex(x));
      bssl::UniquePtr<BIGNUM> s = RightSide(group, x.GetConstBignumPtr(), ctx.GetBnCtx());
      absl::StatusOr<ECPoint> point = group.MapXToCurve(x);
      if (!IsNonZeroSquare(group, s.get(), ctx.GetBnCtx())) {
        EXPECT_EQ(point.status().code(), absl::StatusCode::kInternal);
        EXPECT_EQ(point.status().message(), "Could not hash x to the curve.");
        continue;
      }
      ++mapped;
      ASSERT_TRUE(point.ok()) << point.status();
      bssl::UniquePtr<BIGNUM> y(BN_mod_sqrt(nullptr, s.get(), p.GetConstBignumPtr(), ctx.GetBnCtx()));
      if (BN_is_odd(y.get())) BN_sub(y.get(), p.GetConstBignumPtr(), y.get());
      bssl::UniquePtr<EC_POINT> expected(EC_POINT_new(raw.get()));
      ASSERT_EQ(EC_POINT_set_affine_coordinates_GFp(raw.get(), expected.get(), x.GetConstBignumPtr(), y.get(),
                                                    ctx.GetBnCtx()),
                1);
      EXPECT_EQ(EC_POINT_cmp(raw.get(), expected.get(), point->GetConstPointPtr(), ctx.GetBnCtx()), 0);
    }
    EXPECT_GT(mapped, 8);
    EXPECT_LT(mapped, static_cast<int>(candidates.size()) - 8);
  }
}

// Compressed encodings are decoded with the group's own square root; the point
// must be BoringSSL's, for both parities, and the encoding fills the largest
// field (67 bytes on P-521).
TEST(PointEncodingTest, DecodingAgreesWithBoringSslOnEveryCurve) {
  for (int curve : kCurves) {
    SCOPED_TRACE("curve " + std::to_string(curve));
    Context ctx;
    ECGroup group = std::move(ECGroup::Create(curve, &ctx)).value();
    bssl::UniquePtr<EC_GROUP> raw(EC_GROUP_new_by_curve_name(curve));
    const size_t field_bytes = static_cast<size_t>(BN_num_bytes(group.GetCurveParams().p.GetConstBignumPtr()));
    for (int i = 0; i < 6; ++i) {
      ECPoint point = group.HashToCurveSha256("point " + std::to_string(i)).value().Mul(group.DrawPrivateKey()).value();
      const std::string compressed = point.ToBytesCompressed().value();
      ASSERT_EQ(compressed.size(), 1 + field_bytes);
      std::string flipped = compressed;
      flipped[0] = static_cast<char>(flipped[0] ^ 1);  // the negated point
      for (const std::string& bytes : {compressed, flipped, Bytes(Uncompressed(group, point))}) {
        SCOPED_TRACE(Hex(bytes));
        bssl::UniquePtr<EC_POINT> expected(EC_POINT_new(raw.get()));
        ASSERT_EQ(EC_POINT_oct2point(raw.get(), expected.get(), reinterpret_cast<const uint8_t*>(bytes.data()),
                                     bytes.size(), ctx.GetBnCtx()),
                  1);
        absl::StatusOr<ECPoint> decoded = group.CreateECPoint(bytes);
        ASSERT_TRUE(decoded.ok()) << decoded.status();
        EXPECT_EQ(EC_POINT_cmp(raw.get(), expected.get(), decoded->GetConstPointPtr(), ctx.GetBnCtx()), 0);
      }
    }
    // An x whose right side is no square, and x = p, name no point: BoringSSL's
    // decoder refuses them with its own text after the line feed.
    const BigNum& p = group.GetCurveParams().p;
    BigNum x(ctx.GetBnCtx(), uint64_t{1});
    while (IsNonZeroSquare(group, RightSide(group, x.GetConstBignumPtr(), ctx.GetBnCtx()).get(), ctx.GetBnCtx())) {
      x = x.Add(ctx.One());
    }
    for (const BigNum* bad_x : std::vector<const BigNum*>{&x, &p}) {
      std::string padded = bad_x->ToBytes();
      padded.insert(0, field_bytes - padded.size(), '\0');
      absl::StatusOr<ECPoint> decoded = group.CreateECPoint("\x02" + padded);
      ASSERT_FALSE(decoded.ok());
      EXPECT_EQ(decoded.status().code(), absl::StatusCode::kInvalidArgument);
      const std::string prefix = "ECGroup::CreateECPoint(string) - Could not decode point.\n";
      EXPECT_THAT(std::string(decoded.status().message()), StartsWith(prefix));
      EXPECT_GT(decoded.status().message().size(), prefix.size());
    }
  }
}

TEST(TryAndIncrementTest, MatchesIndependentComputation) {
  for (const TryAndIncrementVector& v : kTryAndIncrementVectors) {
    SCOPED_TRACE("curve " + std::to_string(v.curve_id) + " kind " + std::to_string(v.kind) + " m " + Hex(v.m) +
                 " tries " + std::to_string(v.tries));
    Context ctx;
    ECGroup group = std::move(ECGroup::Create(v.curve_id, &ctx)).value();
    absl::StatusOr<ECPoint> point = v.kind == 0   ? group.HashToCurveSha256(v.m)
                                    : v.kind == 1 ? group.HashToCurveSha384(v.m)
                                                  : group.HashToCurveSha512(v.m);
    ASSERT_TRUE(point.ok()) << point.status();
    ECPoint expected = group.CreateECPoint(FromHex(ctx, v.x_hex), FromHex(ctx, v.y_hex)).value();
    EXPECT_EQ(point->ToBytesCompressed().value(), expected.ToBytesCompressed().value());
    EXPECT_EQ(point->ToBytesCompressed().value()[0], '\x02');
  }
}

// RFC 9380, appendix J.1.1 and J.2.1: the published points of the suites.
TEST(SswuRoTest, PublishedVectors) {
  struct Vector {
    int curve_id;
    std::string dst;
    std::string msg;
    std::string x;
    std::string y;
  };
  const std::string p256_dst = "QUUX-V01-CS02-with-P256_XMD:SHA-256_SSWU_RO_";
  const std::string p384_dst = "QUUX-V01-CS02-with-P384_XMD:SHA-384_SSWU_RO_";
  const Vector vectors[] = {
      {NID_X9_62_prime256v1, p256_dst, "", "2c15230b26dbc6fc9a37051158c95b79656e17a1a920b11394ca91c44247d3e4",
       "8a7a74985cc5c776cdfe4b1f19884970453912e9d31528c060be9ab5c43e8415"},
      {NID_X9_62_prime256v1, p256_dst, "abc", "0bb8b87485551aa43ed54f009230450b492fead5f1cc91658775dac4a3388a0f",
       "5c41b3d0731a27a7b14bc0bf0ccded2d8751f83493404c84a88e71ffd424212e"},
      {NID_X9_62_prime256v1, p256_dst, "abcdef0123456789",
       "65038ac8f2b1def042a5df0b33b1f4eca6bff7cb0f9c6c1526811864e544ed80",
       "cad44d40a656e7aff4002a8de287abc8ae0482b5ae825822bb870d6df9b56ca3"},
      {NID_secp384r1, p384_dst, "",
       "eb9fe1b4f4e14e7140803c1d99d0a93cd823d2b024040f9c067a8eca1f5a2eeac9ad604973527a356f3fa3aeff0e4d83",
       "0c21708cff382b7f4643c07b105c2eaec2cead93a917d825601e63c8f21f6abd9abc22c93c2bed6f235954b25048bb1a"},
      {NID_secp384r1, p384_dst, "abc",
       "e02fc1a5f44a7519419dd314e29863f30df55a514da2d655775a81d413003c4d4e7fd59af0826dfaad4200ac6f60abe1",
       "01f638d04d98677d65bef99aef1a12a70a4cbb9270ec55248c04530d8bc1f8f90f8a6a859a7c1f1ddccedf8f96d675f6"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.dst + " / " + v.msg);
    Context ctx;
    ECGroup group = std::move(ECGroup::Create(v.curve_id, &ctx)).value();
    absl::StatusOr<ECPoint> point = group.HashToCurveSswuRo(v.msg, v.dst);
    ASSERT_TRUE(point.ok()) << point.status();
    EXPECT_EQ(Uncompressed(group, *point), "04" + v.x + v.y);
    // Called without the group's field arithmetic, the hashing makes its own.
    bssl::UniquePtr<EC_GROUP> raw(EC_GROUP_new_by_curve_name(v.curve_id));
    bssl::UniquePtr<EC_POINT> out(EC_POINT_new(raw.get()));
    auto* const hash =
        v.curve_id == NID_secp384r1 ? &hash_to_curve::P384XmdSha384SswuRo : &hash_to_curve::P256XmdSha256SswuRo;
    const int ok = hash(raw.get(), out.get(), v.dst, v.msg, nullptr, nullptr);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(EC_POINT_cmp(raw.get(), out.get(), point->GetConstPointPtr(), nullptr), 0);
  }
}

// RFC 9380, appendix K.1: expand_message_xmd with SHA-256.
TEST(SswuRoTest, ExpandMessageXmdPublishedVectors) {
  const std::string dst = "QUUX-V01-CS02-with-expander-SHA256-128";
  EXPECT_EQ(Hex(*hash_to_curve::ExpandMessageXmd(EVP_sha256(), "", dst, 0x20)),
            "68a985b87eb6b46952128911f2a4412bbc302a9d759667f87f7a21d803f07235");
  EXPECT_EQ(Hex(*hash_to_curve::ExpandMessageXmd(EVP_sha256(), "abc", dst, 0x20)),
            "d8ccab23b5985ccea865c6c97b6e5b8350e794e603b4b97902f53a8a0d605615");
  EXPECT_FALSE(hash_to_curve::ExpandMessageXmd(EVP_sha256(), "", dst, 255 * 32 + 1).has_value());
  EXPECT_EQ(hash_to_curve::ExpandMessageXmd(EVP_sha256(), "", dst, 255 * 32)->size(), 255u * 32);
}

TEST(SswuRoTest, OtherCurvesAreRefused) {
  Context ctx;
  ECGroup p224 = std::move(ECGroup::Create(NID_secp224r1, &ctx)).value();
  absl::StatusOr<ECPoint> point = p224.HashToCurveSswuRo("m", "dst");
  EXPECT_EQ(point.status().code(), absl::StatusCode::kInvalidArgument);
  EXPECT_EQ(point.status().message(), "Curve does not support HashToCurveSswuRo.");
  // Called directly with a group of the other suite, the hashing fails with a queued library error.
  bssl::UniquePtr<EC_GROUP> p384(EC_GROUP_new_by_curve_name(NID_secp384r1));
  bssl::UniquePtr<EC_POINT> out(EC_POINT_new(p384.get()));
  EXPECT_EQ(hash_to_curve::P256XmdSha256SswuRo(p384.get(), out.get(), "dst", "m"), 0);
  EXPECT_FALSE(LastCryptoErrorText().empty());
  // So is field arithmetic for another prime than the curve's.
  bssl::UniquePtr<EC_GROUP> p256(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
  bssl::UniquePtr<EC_POINT> p256_out(EC_POINT_new(p256.get()));
  const ECGroup p384_group = std::move(ECGroup::Create(NID_secp384r1, &ctx)).value();
  std::unique_ptr<PrimeField> p384_field =
      PrimeField::Create(p384_group.GetCurveParams().p.GetConstBignumPtr(), ctx.GetBnCtx());
  EXPECT_EQ(hash_to_curve::P256XmdSha256SswuRo(p256.get(), p256_out.get(), "dst", "m", p384_field.get(),
                                               ctx.GetBnCtx()),
            0);
  EXPECT_FALSE(LastCryptoErrorText().empty());
}

TEST_F(ECGroupTest, DrawPrivateKeyStaysInRange) {
  ECGroup group = P256();
  for (int i = 0; i < 100; ++i) {
    BigNum k = group.DrawPrivateKey();
    EXPECT_FALSE(k.IsZero());
    EXPECT_EQ(k.CompareTo(group.GetOrder()), -1);
  }
}

}  // namespace
}  // namespace blinders
