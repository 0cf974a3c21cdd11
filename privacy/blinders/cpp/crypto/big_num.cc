#include "privacy/blinders/cpp/crypto/big_num.h"

#include <cmath>
#include <utility>

#include "base/check.h"
#include "privacy/blinders/cpp/crypto/context.h"

namespace blinders {

namespace {

bssl::UniquePtr<BIGNUM> NewBignum() {
  BIGNUM* temp = BN_new();
  BASE_CHECK(temp != nullptr, LastCryptoErrorText());
  return bssl::UniquePtr<BIGNUM>(temp);
}

}  // namespace

BigNum::BigNum(BN_CTX* bn_ctx) : bn_(NewBignum()), bn_ctx_(bn_ctx) {}

BigNum::BigNum(BN_CTX* bn_ctx, uint64_t number) : BigNum(bn_ctx) {
  BASE_CHECK(BN_set_u64(bn_.get(), number), LastCryptoErrorText());
}

BigNum::BigNum(BN_CTX* bn_ctx, absl::string_view bytes) : BigNum(bn_ctx) {
  BASE_CHECK(nullptr != BN_bin2bn(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), bn_.get()),
             LastCryptoErrorText());
}

BigNum::BigNum(BN_CTX* bn_ctx, bssl::UniquePtr<BIGNUM> bn) : bn_(std::move(bn)), bn_ctx_(bn_ctx) {}

std::string BigNum::ToBytes() const {
  BASE_CHECK(IsNonNegative(), "Cannot serialize a negative BigNum.");
  std::string bytes(BN_num_bytes(bn_.get()), '\0');
  BN_bn2bin(bn_.get(), reinterpret_cast<uint8_t*>(bytes.data()));
  return bytes;
}

int BigNum::BitLength() const { return static_cast<int>(BN_num_bits(bn_.get())); }

bool BigNum::IsPrime(double prime_error_probability) const {
  // Each Miller-Rabin round lets a composite through with probability at most 1/4.
  const int rounds = static_cast<int>(std::ceil(std::log(prime_error_probability) / -1.3862943611198906));
  return BN_is_prime_ex(bn_.get(), rounds, bn_ctx_, nullptr) == 1;
}

bool BigNum::IsZero() const { return BN_is_zero(bn_.get()); }

bool BigNum::IsOne() const { return BN_is_one(bn_.get()); }

bool BigNum::IsNonNegative() const { return !BN_is_negative(bn_.get()); }

bool BigNum::IsBitSet(int n) const { return n >= 0 && BN_is_bit_set(bn_.get(), n); }

int BigNum::CompareTo(const BigNum& val) const {
  const int c = BN_cmp(bn_.get(), val.bn_.get());
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

BigNum BigNum::Add(const BigNum& val) const {
  BigNum r(bn_ctx_);
  BASE_CHECK(1 == BN_add(r.bn_.get(), bn_.get(), val.bn_.get()), LastCryptoErrorText());
  return r;
}

BigNum BigNum::Sub(const BigNum& val) const {
  BigNum r(bn_ctx_);
  BASE_CHECK(1 == BN_sub(r.bn_.get(), bn_.get(), val.bn_.get()), LastCryptoErrorText());
  return r;
}

BigNum BigNum::Mul(const BigNum& val) const {
  BigNum r(bn_ctx_);
  BASE_CHECK(1 == BN_mul(r.bn_.get(), bn_.get(), val.bn_.get(), bn_ctx_), LastCryptoErrorText());
  return r;
}

BigNum BigNum::Div(const BigNum& val) const {
  BigNum r(bn_ctx_);
  bssl::UniquePtr<BIGNUM> rem = NewBignum();
  BASE_CHECK(1 == BN_div(r.bn_.get(), rem.get(), bn_.get(), val.bn_.get(), bn_ctx_), LastCryptoErrorText());
  BASE_CHECK(BN_is_zero(rem.get()), "Use DivAndTruncate() instead of Div() if you want truncated division.");
  return r;
}

BigNum BigNum::Exp(const BigNum& exponent) const {
  BigNum r(bn_ctx_);
  BASE_CHECK(1 == BN_exp(r.bn_.get(), bn_.get(), exponent.bn_.get(), bn_ctx_), LastCryptoErrorText());
  return r;
}

BigNum BigNum::Mod(const BigNum& m) const {
  BigNum r(bn_ctx_);
  BASE_CHECK(1 == BN_nnmod(r.bn_.get(), bn_.get(), m.bn_.get(), bn_ctx_), LastCryptoErrorText());
  return r;
}

BigNum BigNum::ModExp(const BigNum& exponent, const BigNum& m) const {
  BASE_CHECK(exponent.IsNonNegative(), "Cannot use a negative exponent in BigNum ModExp.");
  BigNum r(bn_ctx_);
  BASE_CHECK(1 == BN_mod_exp(r.bn_.get(), bn_.get(), exponent.bn_.get(), m.bn_.get(), bn_ctx_),
             LastCryptoErrorText());
  return r;
}

BigNum BigNum::ModSqrt(const BigNum& m) const {
  BIGNUM* root = BN_mod_sqrt(nullptr, bn_.get(), m.bn_.get(), bn_ctx_);
  BASE_CHECK(nullptr != root, LastCryptoErrorText());
  return BigNum(bn_ctx_, bssl::UniquePtr<BIGNUM>(root));
}

BigNum BigNum::ModNegate(const BigNum& m) const {
  if (IsZero()) {
    BIGNUM* copy = BN_dup(bn_.get());
    BASE_CHECK(copy != nullptr, LastCryptoErrorText());
    return BigNum(bn_ctx_, bssl::UniquePtr<BIGNUM>(copy));
  }
  return m.Sub(Mod(m));
}

BigNum BigNum::LShift(int n) const {
  BigNum r(bn_ctx_);
  BASE_CHECK(1 == BN_lshift(r.bn_.get(), bn_.get(), n), LastCryptoErrorText());
  return r;
}

BigNum BigNum::RShift(int n) const {
  BigNum r(bn_ctx_);
  BASE_CHECK(1 == BN_rshift(r.bn_.get(), bn_.get(), n), LastCryptoErrorText());
  return r;
}

BigNum BigNum::Gcd(const BigNum& val) const {
  BigNum r(bn_ctx_);
  BASE_CHECK(1 == BN_gcd(r.bn_.get(), bn_.get(), val.bn_.get(), bn_ctx_), LastCryptoErrorText());
  return r;
}

}  // namespace blinders
