#include "privacy/blinders/cpp/crypto/p256_field.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/mem.h>

namespace blinders {
namespace {

constexpr int kLimbs = p256::kLimbs;

// A number of up to eight limbs, least significant first.
using Wide = std::vector<uint64_t>;

bssl::UniquePtr<BIGNUM> ToBignum(const uint64_t* limbs, int count) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    for (int j = 0; j < 8; ++j) bytes.push_back(static_cast<uint8_t>(limbs[i] >> (8 * j)));
  }
  return bssl::UniquePtr<BIGNUM>(BN_le2bn(bytes.data(), bytes.size(), nullptr));
}

bssl::UniquePtr<BIGNUM> ToBignum(const Wide& n) { return ToBignum(n.data(), static_cast<int>(n.size())); }

std::string HexOf(const BIGNUM* n) {
  char* text = BN_bn2hex(n);
  std::string hex(text);
  OPENSSL_free(text);
  return hex;
}

std::string HexOf(const Wide& n) { return HexOf(ToBignum(n).get()); }

// `count` limbs of a BIGNUM below 2^(64 count).
Wide Limbs(const BIGNUM* n, int count = kLimbs) {
  std::vector<uint8_t> bytes(static_cast<size_t>(8 * count));
  EXPECT_EQ(BN_bn2le_padded(bytes.data(), bytes.size(), n), 1);
  Wide limbs(static_cast<size_t>(count), 0);
  for (int i = 0; i < count; ++i) {
    for (int j = 7; j >= 0; --j) limbs[i] = (limbs[i] << 8) | bytes[8 * i + j];
  }
  return limbs;
}

class P256FieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(ctx_, nullptr);
    ASSERT_NE(p_, nullptr);
    // kPrime is 2^256 - 2^224 + 2^192 + 2^96 - 1.
    bssl::UniquePtr<BIGNUM> p(BN_new());
    for (int bit : {256, 192, 96}) {
      bssl::UniquePtr<BIGNUM> term(BN_new());
      ASSERT_TRUE(BN_set_bit(term.get(), bit) && BN_add(p.get(), p.get(), term.get()));
    }
    bssl::UniquePtr<BIGNUM> term(BN_new());
    ASSERT_TRUE(BN_set_bit(term.get(), 224) && BN_sub(p.get(), p.get(), term.get()) && BN_sub_word(p.get(), 1));
    ASSERT_EQ(BN_cmp(p.get(), p_.get()), 0) << HexOf(p_.get());
    // R = 2^256 and its inverse mod p.
    ASSERT_TRUE(BN_set_bit(r_.get(), 256) && BN_nnmod(r_.get(), r_.get(), p_.get(), ctx_.get()));
    ASSERT_NE(BN_mod_inverse(r_inverse_.get(), r_.get(), p_.get(), ctx_.get()), nullptr);
  }

  // n * factor mod p by the library.
  Wide Times(const BIGNUM* n, const BIGNUM* factor) {
    bssl::UniquePtr<BIGNUM> r(BN_new());
    EXPECT_EQ(BN_nnmod(r.get(), n, p_.get(), ctx_.get()), 1);
    EXPECT_EQ(BN_mod_mul(r.get(), r.get(), factor, p_.get(), ctx_.get()), 1);
    return Limbs(r.get());
  }
  // n / R mod p: a Montgomery reduction's answer.
  Wide Reference(const BIGNUM* n) { return Times(n, r_inverse_.get()); }

  // A fixed sequence of pseudo-random limbs, the same in every run.
  uint64_t NextRandom() {
    state_ += 0x9e3779b97f4a7c15;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
  }
  Wide Random(int limbs) {
    Wide n;
    for (int i = 0; i < limbs; ++i) n.push_back(NextRandom());
    return n;
  }

  // Four-limb operands: 0, 1, 2, p - 2, p - 1, numbers with a word all ones
  // or all zeros where p has the opposite, powers of two near the top, and
  // random ones. With `unreduced`, also p, p + 1 and 2^256 - 1.
  std::vector<Wide> Operands(bool unreduced) {
    const Wide p(p256::kPrime, p256::kPrime + kLimbs);
    std::vector<Wide> values = {
        {0, 0, 0, 0},
        {1, 0, 0, 0},
        {2, 0, 0, 0},
        {p[0] - 1, p[1], p[2], p[3]},
        {p[0] - 2, p[1], p[2], p[3]},
        {0, 0, 0, uint64_t{1} << 63},                   // 2^255
        {0, 0, 0, 0xffffffff00000000},                  // 2^256 - 2^224
        {0xffffffffffffffff, 0xffffffffffffffff, 0xffffffffffffffff, 0xffffffff00000000},
        {0, 0xffffffff00000000, 0xffffffffffffffff, 0},  // words where p is zero set
        {0xffffffff00000000, 0, 0, 0xffffffff00000000},  // below p's top word, low words clear
    };
    for (int i = 0; i < 24; ++i) {
      Wide r = Random(kLimbs);
      if (r[3] >= p[3]) r[3] = p[3] - 1;
      values.push_back(r);
    }
    if (unreduced) {
      values.push_back(p);
      values.push_back({p[0] + 1, p[1] + 1, p[2], p[3]});  // p + 1 (p[0] + 1 wraps to 0, carried)
      values.push_back({0xffffffffffffffff, 0xffffffffffffffff, 0xffffffffffffffff, 0xffffffffffffffff});
    }
    return values;
  }

  bssl::UniquePtr<BN_CTX> ctx_{BN_CTX_new()};
  bssl::UniquePtr<BIGNUM> p_ = ToBignum(p256::kPrime, kLimbs);
  bssl::UniquePtr<BIGNUM> r_{BN_new()};
  bssl::UniquePtr<BIGNUM> r_inverse_{BN_new()};
  uint64_t state_ = 0;
};

TEST_F(P256FieldTest, ReduceAgreesWithBignumOnEdgeAndRandomInputs) {
  const uint64_t ones = 0xffffffffffffffff;
  const Wide p(p256::kPrime, p256::kPrime + kLimbs);
  std::vector<Wide> inputs = {
      {0, 0, 0, 0, 0, 0, 0, 0},
      {1, 0, 0, 0, 0, 0, 0, 0},
      {p[0] - 1, p[1], p[2], p[3], 0, 0, 0, 0},                            // p - 1
      {p[0], p[1], p[2], p[3], 0, 0, 0, 0},                                // p
      {0, p[1] + 1, p[2], p[3], 0, 0, 0, 0},                               // p + 1
      {ones, ones, ones, ones, 0, 0, 0, 0},                                // 2^256 - 1
      {0, 0, 0, 0, 1, 0, 0, 0},                                            // 2^256
      {1, 0, 0, 0, 1, 0, 0, 0},                                            // 2^256 + 1
      {ones, ones, ones, ones, ones, ones, ones, ones},                     // 2^512 - 1
      {0, 0, 0, 0, 0, 0, 0, uint64_t{1} << 63},                            // 2^511
      {0, 0, 0, 0, ones, ones, ones, ones},                                // the high half all ones
  };
  // Each 32-bit word of the high half alone at its largest, and missing from
  // a number of all ones: the carries of each reduction step at their extremes.
  for (int word = 8; word < 16; ++word) {
    const int limb = word / 2;
    const uint64_t mask = word % 2 == 0 ? 0xffffffff : 0xffffffff00000000;
    Wide alone(8, 0);
    alone[limb] = mask;
    inputs.push_back(alone);
    Wide cleared(8, ones);
    cleared[limb] &= ~mask;
    inputs.push_back(cleared);
  }
  // Multiples of p and their neighbours (answers 0 and +-1/R), among them
  // (p - 1)^2 = (p - 2) p + 1, the largest product of reduced numbers.
  bssl::UniquePtr<BIGNUM> p_minus_2(BN_dup(p_.get()));
  ASSERT_TRUE(BN_sub_word(p_minus_2.get(), 2));
  for (const BIGNUM* k : std::initializer_list<const BIGNUM*>{BN_value_one(), p_minus_2.get(), p_.get()}) {
    for (uint64_t small : {uint64_t{1}, uint64_t{2}, uint64_t{7}}) {
      bssl::UniquePtr<BIGNUM> m(BN_new());
      ASSERT_TRUE(BN_mul(m.get(), p_.get(), k, ctx_.get()));
      ASSERT_TRUE(BN_mul_word(m.get(), small));
      if (BN_num_bits(m.get()) > 512) continue;
      for (int delta : {-1, 0, 1}) {
        bssl::UniquePtr<BIGNUM> n(BN_dup(m.get()));
        ASSERT_TRUE(delta < 0 ? BN_sub_word(n.get(), 1) : BN_add_word(n.get(), static_cast<BN_ULONG>(delta)));
        inputs.push_back(Limbs(n.get(), 8));
      }
    }
  }
  for (int i = 0; i < 500; ++i) inputs.push_back(Random(8));

  for (const Wide& t : inputs) {
    uint64_t r[kLimbs];
    p256::Reduce(r, t.data());
    EXPECT_EQ(Wide(r, r + kLimbs), Reference(ToBignum(t).get())) << HexOf(t);
  }
}

TEST_F(P256FieldTest, ArithmeticAgreesWithBignum) {
  const std::vector<Wide> operands = Operands(/*unreduced=*/true);
  const std::vector<Wide> reduced = Operands(/*unreduced=*/false);
  for (const Wide& a : operands) {
    const bssl::UniquePtr<BIGNUM> a_bn = ToBignum(a);
    SCOPED_TRACE(HexOf(a));
    bssl::UniquePtr<BIGNUM> product(BN_new());
    ASSERT_EQ(BN_mul(product.get(), a_bn.get(), a_bn.get(), ctx_.get()), 1);
    uint64_t r[kLimbs];
    p256::Sqr(r, a.data());
    EXPECT_EQ(Wide(r, r + kLimbs), Reference(product.get()));
    for (const Wide& b : operands) {
      ASSERT_EQ(BN_mul(product.get(), a_bn.get(), ToBignum(b).get(), ctx_.get()), 1);
      p256::Mul(r, a.data(), b.data());
      EXPECT_EQ(Wide(r, r + kLimbs), Reference(product.get())) << "times " << HexOf(b);
    }
    // Into Montgomery form and out of it.
    p256::ToMontgomery(r, a.data());
    EXPECT_EQ(Wide(r, r + kLimbs), Times(a_bn.get(), r_.get()));
    p256::FromMontgomery(r, r);
    EXPECT_EQ(Wide(r, r + kLimbs), Times(a_bn.get(), BN_value_one()));
    p256::FromMontgomery(r, a.data());
    EXPECT_EQ(Wide(r, r + kLimbs), Reference(a_bn.get()));
  }
  // Addition is for reduced operands only.
  for (const Wide& a : reduced) {
    for (const Wide& b : reduced) {
      bssl::UniquePtr<BIGNUM> expected(BN_new());
      ASSERT_EQ(BN_mod_add(expected.get(), ToBignum(a).get(), ToBignum(b).get(), p_.get(), ctx_.get()), 1);
      uint64_t r[kLimbs];
      p256::Add(r, a.data(), b.data());
      EXPECT_EQ(Wide(r, r + kLimbs), Limbs(expected.get())) << HexOf(a) << " plus " << HexOf(b);
    }
  }
}

TEST_F(P256FieldTest, OperandsMayAliasTheResult) {
  const Wide a = Random(kLimbs);
  const Wide b = {5, 0, 0, 0};
  uint64_t expected[kLimbs];
  p256::Mul(expected, a.data(), b.data());
  Wide r = a;
  p256::Mul(r.data(), r.data(), b.data());
  EXPECT_EQ(r, Wide(expected, expected + kLimbs));
  p256::Sqr(expected, a.data());
  r = a;
  p256::Sqr(r.data(), r.data());
  EXPECT_EQ(r, Wide(expected, expected + kLimbs));
  p256::SqrtExponent(expected, a.data());
  r = a;
  p256::SqrtExponent(r.data(), r.data());
  EXPECT_EQ(r, Wide(expected, expected + kLimbs));
}

TEST_F(P256FieldTest, SqrtExponentAgreesWithBignumExponentiation) {
  bssl::UniquePtr<BIGNUM> exponent(BN_dup(p_.get()));
  ASSERT_TRUE(BN_add_word(exponent.get(), 1));
  ASSERT_TRUE(BN_rshift(exponent.get(), exponent.get(), 2));
  int roots = 0;
  for (const Wide& a : Operands(/*unreduced=*/false)) {
    SCOPED_TRACE(HexOf(a));
    bssl::UniquePtr<BIGNUM> expected(BN_new());
    ASSERT_EQ(BN_mod_exp(expected.get(), ToBignum(a).get(), exponent.get(), p_.get(), ctx_.get()), 1);
    uint64_t a_mont[kLimbs];
    p256::ToMontgomery(a_mont, a.data());
    uint64_t r[kLimbs];
    p256::SqrtExponent(r, a_mont);
    uint64_t square[kLimbs];
    p256::Sqr(square, r);
    if (Wide(square, square + kLimbs) == Wide(a_mont, a_mont + kLimbs)) ++roots;
    p256::FromMontgomery(r, r);
    EXPECT_EQ(Wide(r, r + kLimbs), Limbs(expected.get()));
  }
  // Both squares and non-squares were among the operands.
  EXPECT_GT(roots, 3);
  EXPECT_LT(roots, static_cast<int>(Operands(false).size()) - 3);
}

}  // namespace
}  // namespace blinders
