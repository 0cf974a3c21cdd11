#include "privacy/blinders/cpp/crypto/prime_field.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <openssl/bn.h>

#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/test_util.h"

namespace blinders {
namespace {

using testing::FromHex;

struct Prime {
  std::string name;
  std::string hex;
};

// Test listings show the prime's name, not the struct's bytes (which hold
// pointers and change from run to run).
void PrintTo(const Prime& prime, std::ostream* out) { *out << prime.name; }

// Primes of one to nine limbs, both = 1 and = 3 mod 4; four-limb primes = 3
// mod 4 with and without P-256's own arithmetic.
const Prime kPrimes[] = {
    {"13", "d"},
    {"1009", "3f1"},
    {"1019", "3fb"},
    {"2^61-1", "1fffffffffffffff"},
    {"2^89-1", "1ffffffffffffffffffffff"},
    {"2^127-1", "7fffffffffffffffffffffffffffffff"},
    {"2^130-5", "3fffffffffffffffffffffffffffffffb"},
    {"P-224", "ffffffffffffffffffffffffffffffff000000000000000000000001"},
    {"2^255-19", "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed"},
    {"2^256-2^32-977", "fffffffffffffffffffffffffffffffffffffffffffffffffffffffefffffc2f"},
    {"P-256", "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff"},
    {"P-384",
     "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffeffffffff0000000000000000ffffffff"},
    {"P-521", "1" + std::string(130, 'f')},
};

class PrimeFieldTest : public ::testing::Test {
 protected:
  // 0, 1, 2, 3, p - 2, p - 1, hashed values and their squares; every value below p when p is small.
  std::vector<BigNum> Operands(const BigNum& p) {
    std::vector<BigNum> values;
    if (p.BitLength() <= 10) {
      for (BigNum v(ctx_.GetBnCtx()); v.CompareTo(p) < 0; v = v.Add(ctx_.One())) values.push_back(v.Add(Zero()));
      return values;
    }
    for (uint64_t small : {0, 1, 2, 3}) values.emplace_back(ctx_.GetBnCtx(), small);
    values.push_back(p.Sub(ctx_.Two()));
    values.push_back(p.Sub(ctx_.One()));
    for (int i = 0; i < 40; ++i) {
      BigNum v = ctx_.HashToRangeSha256("value " + std::to_string(i), p);
      values.push_back(v.Mul(v).Mod(p));
      values.push_back(std::move(v));
    }
    return values;
  }
  BigNum Zero() { return BigNum(ctx_.GetBnCtx()); }
  std::unique_ptr<PrimeField> FieldOf(const BigNum& p) {
    return PrimeField::Create(p.GetConstBignumPtr(), ctx_.GetBnCtx());
  }

  Context ctx_;
};

// The answer of Euler's criterion, computed by BoringSSL alone: a is a square
// when it is 0 or a^((p-1)/2) = 1.
bool EulerSaysSquare(const BigNum& a, const BigNum& p, BN_CTX* ctx) {
  if (a.IsZero()) return true;
  bssl::UniquePtr<BIGNUM> exponent(BN_dup(p.GetConstBignumPtr()));
  BN_sub_word(exponent.get(), 1);
  BN_rshift1(exponent.get(), exponent.get());
  bssl::UniquePtr<BIGNUM> r(BN_new());
  EXPECT_EQ(BN_mod_exp(r.get(), a.GetConstBignumPtr(), exponent.get(), p.GetConstBignumPtr(), ctx), 1);
  return BN_is_one(r.get());
}

// Each operation on each field of the table.
class PrimeFieldOperationTest : public PrimeFieldTest, public ::testing::WithParamInterface<Prime> {
 protected:
  void SetUp() override {
    field_ = FieldOf(p_);
    ASSERT_NE(field_, nullptr);
  }
  const BigNum p_ = FromHex(ctx_, GetParam().hex);
  std::unique_ptr<PrimeField> field_;
};

TEST_P(PrimeFieldOperationTest, SquareRootAnswersEulersCriterion) {
  int squares = 0;
  int non_squares = 0;
  for (const BigNum& a : Operands(p_)) {
    const bool expected = EulerSaysSquare(a, p_, ctx_.GetBnCtx());
    (expected ? squares : non_squares)++;
    for (PrimeField::Operand operand : {PrimeField::Operand::kAny, PrimeField::Operand::kExpectedSquare}) {
      bssl::UniquePtr<BIGNUM> root(BN_new());
      bool is_square = !expected;
      ASSERT_TRUE(field_->Sqrt(root.get(), &is_square, a.GetConstBignumPtr(), ctx_.GetBnCtx(), operand));
      ASSERT_EQ(is_square, expected) << testing::Hex(a);
      if (!is_square) continue;
      BigNum y = ctx_.AdoptBignum(std::move(root));
      EXPECT_TRUE(y.IsNonNegative() && y.CompareTo(p_) < 0);
      EXPECT_EQ(y.Mul(y).Mod(p_).CompareTo(a), 0) << testing::Hex(a);
      // For p = 3 mod 4 the root is a^((p+1)/4), whichever way it is computed:
      // callers pick the even root from it, and ciphertexts depend on that.
      if (p_.IsBitSet(1)) {
        const BigNum exponent = p_.Add(ctx_.One()).RShift(2);
        EXPECT_EQ(y.CompareTo(a.ModExp(exponent, p_)), 0) << testing::Hex(a);
      }
    }
  }
  // The table holds both kinds on every field.
  EXPECT_GT(squares, 2);
  EXPECT_GT(non_squares, 2);
}

// Operands outside [0, p) break the contract; they are refused as before
// (the library's exponentiation fails on them), never given a root computed
// from unreduced limbs.
TEST_P(PrimeFieldOperationTest, UnreducedOperandIsNotTakenForASquare) {
  if (!p_.IsBitSet(1)) GTEST_SKIP() << "p = 1 mod 4";
  for (const BigNum& a : {p_.Add(Zero()), p_.Add(ctx_.One()), p_.Add(ctx_.Three())}) {
    bssl::UniquePtr<BIGNUM> root(BN_new());
    bool is_square = true;
    const bool done = field_->Sqrt(root.get(), &is_square, a.GetConstBignumPtr(), ctx_.GetBnCtx(),
                                   PrimeField::Operand::kExpectedSquare);
    EXPECT_FALSE(done && is_square) << testing::Hex(a);
  }
}

TEST_P(PrimeFieldOperationTest, ExponentiationAndInverse) {
  const BigNum exponent(ctx_.GetBnCtx(), uint64_t{65537});
  for (const BigNum& a : Operands(p_)) {
    bssl::UniquePtr<BIGNUM> r(BN_new());
    ASSERT_TRUE(field_->Exp(r.get(), a.GetConstBignumPtr(), exponent.GetConstBignumPtr(), ctx_.GetBnCtx()));
    EXPECT_EQ(BN_cmp(r.get(), a.ModExp(exponent, p_).GetConstBignumPtr()), 0);
    ASSERT_TRUE(field_->Inverse(r.get(), a.GetConstBignumPtr(), ctx_.GetBnCtx()));
    BigNum inverse = ctx_.AdoptBignum(std::move(r));
    // inv0: zero has the inverse zero.
    EXPECT_TRUE(a.IsZero() ? inverse.IsZero() : inverse.Mul(a).Mod(p_).IsOne());
  }
}

// The y of x on y^2 = x^3 + a*x + b, against the same chain in BIGNUMs: b = 0
// puts x = 0 on the curve with a zero right side, a = p - 3 is the curves' own.
TEST_P(PrimeFieldOperationTest, CurveRootAgreesWithBignumArithmetic) {
  const BigNum* no_x = &p_;  // x = p is not reduced: the field does not answer
  for (const BigNum& a : {BigNum(ctx_.GetBnCtx(), uint64_t{5}), p_.Sub(ctx_.Three())}) {
    for (const BigNum& b : {Zero(), ctx_.HashToRangeSha256("b", p_)}) {
      std::unique_ptr<PrimeField> field = FieldOf(p_);
      bssl::UniquePtr<BIGNUM> y(BN_new());
      // Without SetCurve the field has no curve to answer for.
      EXPECT_FALSE(field->CurveRoot(y.get(), ctx_.One().GetConstBignumPtr(), false, PrimeField::Operand::kAny));
      ASSERT_TRUE(field->SetCurve(a.GetConstBignumPtr(), b.GetConstBignumPtr(), ctx_.GetBnCtx()));
      EXPECT_FALSE(field->CurveRoot(y.get(), no_x->GetConstBignumPtr(), false, PrimeField::Operand::kAny));
      int kinds[3] = {0, 0, 0};
      for (const BigNum& x : Operands(p_)) {
        const BigNum s = x.Mul(x).Mul(x).Add(a.Mul(x)).Add(b).Mod(p_);
        for (PrimeField::Operand operand : {PrimeField::Operand::kAny, PrimeField::Operand::kExpectedSquare}) {
          for (bool odd : {false, true}) {
            SCOPED_TRACE(testing::Hex(x) + (odd ? " odd" : " even"));
            std::optional<PrimeField::CurveAnswer> answer =
                field->CurveRoot(y.get(), x.GetConstBignumPtr(), odd, operand);
            if (!p_.IsBitSet(1)) {
              EXPECT_FALSE(answer.has_value());  // p = 1 mod 4 stays with the BIGNUM path
              continue;
            }
            ASSERT_TRUE(answer.has_value());
            if (s.IsZero()) {
              EXPECT_EQ(*answer, PrimeField::CurveAnswer::kZero);
              ++kinds[0];
            } else if (!EulerSaysSquare(s, p_, ctx_.GetBnCtx())) {
              EXPECT_EQ(*answer, PrimeField::CurveAnswer::kNotSquare);
              ++kinds[1];
            } else {
              ASSERT_EQ(*answer, PrimeField::CurveAnswer::kRoot);
              ++kinds[2];
              BigNum root = s.ModExp(p_.Add(ctx_.One()).RShift(2), p_);
              if (root.IsBitSet(0) != odd) root = root.ModNegate(p_);
              EXPECT_EQ(BN_cmp(y.get(), root.GetConstBignumPtr()), 0);
            }
          }
        }
      }
      if (p_.IsBitSet(1)) {
        EXPECT_GT(kinds[1], 0);
        EXPECT_GT(kinds[2], 0);
        if (b.IsZero()) {
          EXPECT_GT(kinds[0], 0);
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Primes, PrimeFieldOperationTest, ::testing::ValuesIn(kPrimes),
                         [](const ::testing::TestParamInfo<Prime>& info) {
                           std::string name;
                           for (char ch : info.param.name) {
                             name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           }
                           return name;
                         });

TEST_F(PrimeFieldTest, RefusesModuliItCannotServe) {
  const struct {
    std::string name;
    std::string hex;
  } cases[] = {
      {"even", "10"},
      {"three", "3"},
      {"one", "1"},
      {"negative", "-d"},
      {"ten limbs (2^607-1)", "7f" + std::string(150, 'f')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FieldOf(FromHex(ctx_, c.hex)), nullptr);
  }
  EXPECT_EQ(PrimeField::Create(nullptr, ctx_.GetBnCtx()), nullptr);
}

}  // namespace
}  // namespace blinders
