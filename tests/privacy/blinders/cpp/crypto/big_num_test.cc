#include "privacy/blinders/cpp/crypto/big_num.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "privacy/blinders/cpp/crypto/test_util.h"
#include "privacy/blinders/cpp/crypto/context.h"

namespace blinders {
namespace {

using namespace std::string_literals;
using testing::FromHex;
using testing::Hex;

#include "privacy/blinders/cpp/crypto/generated_vectors.inc"

class BigNumTest : public ::testing::Test {
 protected:
  BigNum N(uint64_t v) { return BigNum(ctx_.GetBnCtx(), v); }
  Context ctx_;
};

TEST_F(BigNumTest, BytesAreMinimalBigEndian) {
  EXPECT_EQ(N(0).ToBytes(), "");
  EXPECT_EQ(N(255).ToBytes(), "\xff");
  EXPECT_EQ(N(256).ToBytes(), "\x01\x00"s);
  BigNum one(ctx_.GetBnCtx(), absl::string_view("\x00\x01", 2));
  EXPECT_TRUE(one.IsOne());
  EXPECT_EQ(one.ToBytes(), "\x01");
  EXPECT_TRUE(BigNum(ctx_.GetBnCtx(), absl::string_view()).IsZero());
}

TEST_F(BigNumTest, Arithmetic) {
  EXPECT_EQ(N(7).Add(N(5)).CompareTo(N(12)), 0);
  BigNum minus_one = N(2).Sub(N(3));
  EXPECT_FALSE(minus_one.IsNonNegative());
  EXPECT_FALSE(minus_one.IsOne());
  EXPECT_EQ(minus_one.CompareTo(N(0)), -1);
  EXPECT_EQ(minus_one.Mod(N(7)).CompareTo(N(6)), 0);  // never negative
  EXPECT_EQ(N(6).Mul(N(7)).CompareTo(N(42)), 0);
  EXPECT_EQ(N(8).Div(N(2)).CompareTo(N(4)), 0);
  EXPECT_EQ(N(3).Exp(N(4)).CompareTo(N(81)), 0);
  EXPECT_EQ(N(3).ModExp(N(4), N(7)).CompareTo(N(4)), 0);
  EXPECT_EQ(N(0).ModNegate(N(7)).CompareTo(N(0)), 0);
  EXPECT_EQ(N(3).ModNegate(N(7)).CompareTo(N(4)), 0);
  EXPECT_EQ(N(5).LShift(3).CompareTo(N(40)), 0);
  EXPECT_EQ(N(47).RShift(3).CompareTo(N(5)), 0);
  EXPECT_EQ(N(12).Gcd(N(18)).CompareTo(N(6)), 0);
  BigNum root = N(2).ModSqrt(N(7));  // 3^2 = 4^2 = 2 mod 7
  EXPECT_TRUE(root.CompareTo(N(3)) == 0 || root.CompareTo(N(4)) == 0);
  EXPECT_EQ(N(5).CompareTo(N(3)), 1);
}

TEST_F(BigNumTest, BitQueries) {
  EXPECT_EQ(N(0).BitLength(), 0);
  EXPECT_EQ(N(256).BitLength(), 9);
  EXPECT_TRUE(N(5).IsBitSet(0));
  EXPECT_FALSE(N(5).IsBitSet(1));
  EXPECT_TRUE(N(5).IsBitSet(2));
  EXPECT_FALSE(N(5).IsBitSet(-1));
  EXPECT_FALSE(N(5).IsBitSet(64));
}

TEST_F(BigNumTest, Primality) {
  EXPECT_TRUE(N(2305843009213693951).IsPrime(1e-40));  // 2^61 - 1
  EXPECT_FALSE(N(2305843009213693953).IsPrime(1e-40));
  EXPECT_FALSE(N(561).IsPrime(1e-40));  // a Carmichael number
}

TEST_F(BigNumTest, FatalChecks) {
  EXPECT_DEATH(N(2).Sub(N(3)).ToBytes(), "Check failed: IsNonNegative\\(\\) Cannot serialize a negative BigNum\\.");
  EXPECT_DEATH(N(7).Div(N(2)),
               "Use DivAndTruncate\\(\\) instead of Div\\(\\) if you want truncated division\\.");
  EXPECT_DEATH(N(7).Div(N(0)), "Check failed: 1 == BN_div");
  EXPECT_DEATH(N(2).ModExp(N(2).Sub(N(3)), N(7)), "Cannot use a negative exponent in BigNum ModExp\\.");
  EXPECT_DEATH(N(3).ModSqrt(N(7)), "Check failed: nullptr != root");  // 3 is no square mod 7
}

TEST(ContextTest, DigestsMatchFips180Vectors) {
  Context ctx;
  EXPECT_EQ(Hex(ctx.DigestSha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(ctx.DigestSha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex(ctx.DigestSha384("abc")),
            "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed"
            "8086072ba1e7cc2358baeca134c825a7");
  EXPECT_EQ(Hex(ctx.DigestSha512("abc")),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
}

TEST(ContextTest, HashToRangeMatchesIndependentComputation) {
  Context ctx;
  for (const HashToRangeVector& v : kHashToRangeVectors) {
    SCOPED_TRACE(v.max_hex + " kind " + std::to_string(v.kind) + " x " + Hex(v.x));
    BigNum max = FromHex(ctx, v.max_hex);
    BigNum expected = FromHex(ctx, v.expected_hex);
    EXPECT_EQ(ctx.HashToRange(v.x, max, static_cast<Context::DigestKind>(v.kind)).CompareTo(expected), 0);
  }
  // The named wrappers select the digest.
  BigNum p256 = FromHex(ctx, "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff");
  EXPECT_EQ(ctx.HashToRangeSha256("abc", p256).CompareTo(ctx.HashToRange("abc", p256, Context::kSha256)), 0);
  EXPECT_EQ(ctx.HashToRangeSha384("abc", p256).CompareTo(ctx.HashToRange("abc", p256, Context::kSha384)), 0);
  EXPECT_EQ(ctx.HashToRangeSha512("abc", p256).CompareTo(ctx.HashToRange("abc", p256, Context::kSha512)), 0);
  // More than 255 digests: the counter takes two bytes.
  for (const LongHashToRangeVector& v : kLongHashToRangeVectors) {
    SCOPED_TRACE("2^" + std::to_string(v.max_bit) + " + 1, kind " + std::to_string(v.kind));
    BigNum max = ctx.One().LShift(v.max_bit).Add(ctx.One());
    BigNum result = ctx.HashToRange(v.x, max, static_cast<Context::DigestKind>(v.kind));
    EXPECT_EQ(Hex(ctx.DigestSha256(result.ToBytes())), v.result_sha256_hex);
  }
}

// A replaced digest may answer other lengths than the digest it replaces; each
// answer is still shifted in by the digest's width L and added.
class OddDigestContext : public Context {
 public:
  explicit OddDigestContext(std::string digest) : digest_(std::move(digest)) {}
  std::string DigestSha256(absl::string_view) override { return digest_; }

 private:
  std::string digest_;
};

TEST(ContextTest, HashToRangeAddsReplacedDigestsOfAnyLength) {
  Context ctx;
  // A 300-bit max wants 556 bits: three digests, shifted right by 768 - 556 = 212 bits.
  const BigNum max = ctx.One().LShift(299).Add(ctx.Three());
  for (const std::string& digest : {"\x07"s, std::string(31, '\x5a'), std::string(33, '\xc3'), ""s}) {
    SCOPED_TRACE(Hex(digest));
    OddDigestContext odd(digest);
    const BigNum d(ctx.GetBnCtx(), absl::string_view(digest));
    const BigNum expected = d.LShift(512).Add(d.LShift(256)).Add(d).RShift(212).Mod(max);
    EXPECT_EQ(odd.HashToRange("m", max, Context::kSha256).CompareTo(expected), 0);
  }
}

TEST(ContextTest, HashToRangeBitBound) {
  Context ctx;
  BigNum largest = ctx.One().LShift(129535);  // 129536 bits
  EXPECT_TRUE(ctx.HashToRange("x", largest, Context::kSha256).IsNonNegative());
  BigNum too_large = ctx.One().LShift(129536);  // 129537 bits
  EXPECT_DEATH(ctx.HashToRange("x", too_large, Context::kSha256),
               "The domain bit length must not be greater than 130048\\. Desired bit length: 129793");
}

// Replacing one virtual operation replaces it for the operations built on it.
class FixedRandomContext : public Context {
 public:
  BigNum RandomBelow(const BigNum&) override { return BigNum(GetBnCtx(), uint64_t{5}); }
  std::string DigestSha256(absl::string_view) override { return std::string(32, '\0'); }
};

TEST(ContextTest, OperationsCallThroughVirtualEntries) {
  FixedRandomContext ctx;
  BigNum start(ctx.GetBnCtx(), uint64_t{10});
  BigNum end(ctx.GetBnCtx(), uint64_t{100});
  EXPECT_EQ(ctx.RandomInRange(start, end).CompareTo(BigNum(ctx.GetBnCtx(), uint64_t{15})), 0);
  EXPECT_TRUE(ctx.HashToRangeSha256("anything", end).IsZero());
}

TEST(ContextTest, RandomNumbers) {
  Context ctx;
  BigNum one(ctx.GetBnCtx(), uint64_t{1});
  BigNum two(ctx.GetBnCtx(), uint64_t{2});
  BigNum hundred(ctx.GetBnCtx(), uint64_t{100});
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(ctx.RandomBelow(one).IsZero());
    EXPECT_TRUE(ctx.RandomInRange(one, two).IsOne());
    EXPECT_TRUE(ctx.RandomCoprimeBelow(one).IsZero());
    EXPECT_TRUE(ctx.RandomCoprimeBelow(two).IsOne());
    BigNum r = ctx.RandomCoprimeBelow(hundred);
    EXPECT_TRUE(r.Gcd(hundred).IsOne());
    BigNum s = ctx.RandomInRange(two, hundred);
    EXPECT_GE(s.CompareTo(two), 0);
    EXPECT_EQ(s.CompareTo(hundred), -1);
  }
  EXPECT_EQ(ctx.RandomBytes(0), "");
  EXPECT_EQ(ctx.RandomBytes(17).size(), 17u);
  EXPECT_NE(ctx.RandomBytes(16), ctx.RandomBytes(16));
}

TEST(ContextTest, RandomFatalChecks) {
  Context ctx;
  BigNum zero(ctx.GetBnCtx());
  BigNum two(ctx.GetBnCtx(), uint64_t{2});
  EXPECT_DEATH(ctx.RandomBelow(zero), "Check failed: 1 == BN_rand_range");
  EXPECT_DEATH(ctx.RandomInRange(two, two), "Check failed: start.CompareTo\\(end\\) == -1");
  EXPECT_DEATH(ctx.RandomBytes(-1),
               "Check failed: num_bytes >= 0 \\(-1 vs\\. 0\\) num_bytes must be nonnegative, provided value was -1\\.");
}

}  // namespace
}  // namespace blinders
