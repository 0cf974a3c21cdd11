// blinders::p256: arithmetic modulo P-256's field prime
// p = 2^256 - 2^224 + 2^192 + 2^96 - 1 on four 64-bit limbs, least
// significant first, for the square roots of hashing to the curve and of
// decoding compressed points.
//
// Products are in Montgomery form (R = 2^256) and reduced by the prime's own
// shape: p = -1 mod 2^64 and its two low limbs are 2^96 - 1, so each of the
// four reduction steps costs one multiplication (by the top limb) and shifts,
// where a general modulus needs five. This measured clearly faster on 64-bit
// words than the word-wise fast reduction of the prime's 32-bit form, whose
// nine signed terms keep too many partial sums alive at once.
//
// Every answer is fully reduced, in [0, p). Not constant-time: the final
// correction branches on the value. Carry chains use the processor's
// add-with-carry on x86-64 and 128-bit sums elsewhere.
#pragma once

#include <cstdint>

namespace blinders::p256 {

inline constexpr int kLimbs = 4;

// p, least significant limb first.
inline constexpr uint64_t kPrime[kLimbs] = {0xffffffffffffffff, 0x00000000ffffffff, 0, 0xffffffff00000001};

// r = t / 2^256 mod p for any eight-limb t (any number below 2^512).
void Reduce(uint64_t r[kLimbs], const uint64_t t[2 * kLimbs]);

// r = a * b / 2^256 mod p and r = a^2 / 2^256 mod p, for a and b below 2^256
// (reduced or not): the product of two numbers in Montgomery form, in that
// form. r may alias a or b.
void Mul(uint64_t r[kLimbs], const uint64_t a[kLimbs], const uint64_t b[kLimbs]);
void Sqr(uint64_t r[kLimbs], const uint64_t a[kLimbs]);

// r = a * 2^256 mod p (into Montgomery form) and r = a / 2^256 mod p (out of
// it), for a below 2^256. r may alias a.
void ToMontgomery(uint64_t r[kLimbs], const uint64_t a[kLimbs]);
void FromMontgomery(uint64_t r[kLimbs], const uint64_t a[kLimbs]);

// r = a + b mod p, for a and b below p (either form). r may alias a or b.
void Add(uint64_t r[kLimbs], const uint64_t a[kLimbs], const uint64_t b[kLimbs]);

// r = a^((p + 1) / 4) mod p, in Montgomery form in and out, for a below p: a
// square root of a when a has one (p = 3 mod 4). A fixed chain of 253
// squarings and 7 multiplications that follows the exponent's bits
// (2^254 - 2^222 + 2^190 + 2^94). r may alias a.
void SqrtExponent(uint64_t r[kLimbs], const uint64_t a[kLimbs]);

}  // namespace blinders::p256
