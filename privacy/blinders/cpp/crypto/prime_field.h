// blinders::PrimeField: exponentiation, inversion and square roots modulo a
// fixed odd prime p, on BoringSSL's BIGNUMs.
//
// The Montgomery context for p and the exponents the operations need are made
// once, when the field is made, and reused by every call: an exponentiation
// through BN_mod_exp builds a fresh Montgomery context each time, which costs
// a large share of one exponentiation when the modulus never changes (the
// hashing to the curve reduces modulo the curve's field prime on every try).
//
// The square root for p = 3 mod 4, a chain of some 260 multiplications, runs
// on fixed-size machine words in Montgomery form instead, as the BIGNUM calls
// cost more in their bookkeeping than in the arithmetic at these sizes; on
// P-256's prime it runs on a reduction made for that prime (p256_field.h) and
// a fixed chain of squarings for its exponent.
//
// Operands must already be reduced: 0 <= a < p. A field is immutable once
// made; the BN_CTX passed to each call is the caller's scratch space, so one
// field may serve several contexts as long as each call is on one thread.
// Operations return false only when a library call fails (out of memory).
//
// Not constant-time: the Legendre symbol's running time depends on its
// operand, as the number of tries of try-and-increment hashing depends on the
// message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <openssl/base.h>
#include <openssl/bn.h>

namespace blinders {

// A non-negative number in 64-bit limbs, least significant first; `size`
// counts the limbs up to the highest non-zero one (0 for zero). Nine limbs
// hold the largest field prime BoringSSL offers (P-521).
struct LimbNumber {
  static constexpr int kMaxLimbs = 9;
  uint64_t limb[kMaxLimbs];
  int size;
};

class PrimeField {
 public:
  // The field of `p`, which must be an odd prime above 3. Nothing when p is
  // even or too small, or when a library call fails.
  static std::unique_ptr<PrimeField> Create(const BIGNUM* p, BN_CTX* ctx);

  PrimeField(const PrimeField&) = delete;
  PrimeField& operator=(const PrimeField&) = delete;
  ~PrimeField() = default;

  const BIGNUM* p() const { return p_.get(); }

  // r = a^e mod p. `r` may be `a`.
  bool Exp(BIGNUM* r, const BIGNUM* a, const BIGNUM* e, BN_CTX* ctx) const;

  // r = a^-1 mod p, and 0 for a = 0 (inv0 of RFC 9380). `r` may be `a`.
  bool Inverse(BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) const;

  // How likely the operand of Sqrt is to be a square.
  enum class Operand {
    kAny,             // about half of all values are: test first (hashing to the curve)
    kExpectedSquare,  // a square unless the input was malformed (decoding a point)
  };

  // Sets `*is_square` to whether a is a square mod p (zero is: its root is
  // zero) and, when it is, `root` to a square root of a. Which of the two
  // roots is unspecified; for p = 3 mod 4 it is a^((p+1)/4). The answer is the
  // one Euler's criterion gives, found without its exponentiation: for kAny the
  // Legendre symbol (binary Jacobi algorithm, a fraction of the cost) turns
  // non-squares away before any root is computed; for p = 3 mod 4 the root is
  // squared and compared with a, so kExpectedSquare skips the symbol.
  // `root` may not be `a`.
  bool Sqrt(BIGNUM* root, bool* is_square, const BIGNUM* a, BN_CTX* ctx, Operand operand = Operand::kAny) const;

  // Makes the field's own arithmetic answer CurveRoot for the curve
  // y^2 = x^3 + a*x + b. Called once, before the field is shared. False only
  // when a library call fails.
  [[nodiscard]] bool SetCurve(const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx);

  enum class CurveAnswer {
    kRoot,       // `y` is set
    kZero,       // x^3 + a*x + b = 0 mod p
    kNotSquare,  // x^3 + a*x + b is not a square mod p
  };
  // The root y of x^3 + a*x + b mod p with the parity asked for, computed on
  // machine words from x alone: the right side, its Legendre symbol (kAny),
  // its root s^((p+1)/4) checked by squaring, and p - root for the other
  // parity. Nothing when this field cannot answer (p = 1 mod 4, no SetCurve,
  // x outside [0, p), or a failed library call): the caller then computes it
  // with BIGNUMs, which gives the same answer.
  std::optional<CurveAnswer> CurveRoot(BIGNUM* y, const BIGNUM* x, bool odd, Operand operand) const;

 private:
  PrimeField() = default;

  bssl::UniquePtr<BIGNUM> p_;
  bssl::UniquePtr<BN_MONT_CTX> mont_;
  bssl::UniquePtr<BIGNUM> p_minus_2_;        // the inverse's exponent
  bssl::UniquePtr<BIGNUM> sqrt_exponent_;    // (p + 1) / 4; only when p = 3 mod 4
  LimbNumber p_limbs_;                       // p in machine words, for the Legendre symbol
  // The square root's exponentiation in machine words (only when p = 3 mod 4):
  // (p + 1) / 4 and its bit length, and the Montgomery constants for
  // R = 2^(64 * limbs of p).
  LimbNumber sqrt_exponent_limbs_{};
  int sqrt_exponent_bits_ = 0;
  uint64_t p_prime_ = 0;                     // -p^-1 mod 2^64
  LimbNumber montgomery_one_{};              // R mod p
  LimbNumber montgomery_r_squared_{};        // R^2 mod p
  bool p256_ = false;                        // p is P-256's prime: p256_field.h does the roots
  // The curve of CurveRoot, a and b in Montgomery form.
  bool has_curve_ = false;
  LimbNumber curve_a_{};
  LimbNumber curve_b_{};
};

}  // namespace blinders
