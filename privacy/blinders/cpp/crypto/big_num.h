// blinders::BigNum: an arbitrary-precision signed integer over BoringSSL's BIGNUM.
//
// Every number is bound to the BN_CTX of the blinders::Context that made it and
// uses it as scratch space; the context must outlive the number. Operations
// leave their operands unchanged and return a new number bound to the
// receiver's BN_CTX. A failed library call or a broken precondition (a negative
// number to ToBytes, an inexact Div, a non-residue to ModSqrt, ...) is a fatal
// check: these are programming errors, never input errors.
//
// Byte strings are std::string holding raw bytes, big-endian.
#pragma once

#include <cstdint>
#include <string>

#include <openssl/base.h>
#include <openssl/bn.h>

#include "absl/strings/string_view.h"

namespace blinders {

class BigNum {
 public:
  // Zero, in a fresh BIGNUM.
  explicit BigNum(BN_CTX* bn_ctx);
  // The given unsigned number.
  BigNum(BN_CTX* bn_ctx, uint64_t number);
  // `bytes` read as an unsigned big-endian integer; empty bytes give 0.
  BigNum(BN_CTX* bn_ctx, absl::string_view bytes);
  // Takes ownership of `bn`.
  BigNum(BN_CTX* bn_ctx, bssl::UniquePtr<BIGNUM> bn);

  BigNum(BigNum&& other) noexcept = default;
  BigNum& operator=(BigNum&& other) noexcept = default;
  BigNum(const BigNum&) = delete;
  BigNum& operator=(const BigNum&) = delete;
  ~BigNum() = default;

  // The BIGNUM itself, for library calls.
  const BIGNUM* GetConstBignumPtr() const { return bn_.get(); }

  // The magnitude as minimal big-endian bytes: no leading zero byte, and 0 is
  // the empty string. A negative number is a fatal check.
  std::string ToBytes() const;
  // Number of significant bits; 0 for zero.
  int BitLength() const;
  // Miller-Rabin primality with at most `prime_error_probability` of calling a
  // composite prime (1e-40 runs 67 rounds).
  bool IsPrime(double prime_error_probability) const;
  bool IsZero() const;
  bool IsOne() const;
  bool IsNonNegative() const;
  // Bit `n` of the magnitude, bit 0 the least significant; false for a
  // negative n or one beyond the number's width.
  bool IsBitSet(int n) const;
  // -1, 0 or 1 as this is below, equal to or above `val` (signed).
  int CompareTo(const BigNum& val) const;

  BigNum Add(const BigNum& val) const;
  BigNum Sub(const BigNum& val) const;
  BigNum Mul(const BigNum& val) const;
  // Exact division; a remainder other than zero is a fatal check.
  BigNum Div(const BigNum& val) const;
  BigNum Exp(const BigNum& exponent) const;
  // this mod m, never negative.
  BigNum Mod(const BigNum& m) const;
  // this^exponent mod m; a negative exponent is a fatal check.
  BigNum ModExp(const BigNum& exponent, const BigNum& m) const;
  // A square root of this modulo the prime m; a non-residue is a fatal check.
  BigNum ModSqrt(const BigNum& m) const;
  // 0 for zero, else m - (this mod m).
  BigNum ModNegate(const BigNum& m) const;
  BigNum LShift(int n) const;
  BigNum RShift(int n) const;
  BigNum Gcd(const BigNum& val) const;

 private:
  friend class Context;

  bssl::UniquePtr<BIGNUM> bn_;
  BN_CTX* bn_ctx_;  // borrowed from the context
};

}  // namespace blinders
