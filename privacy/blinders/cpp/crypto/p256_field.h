// blinders::p256: arithmetic modulo P-256's field prime
// p = 2^256 - 2^224 + 2^192 + 2^96 - 1 on four 64-bit limbs, least
// significant first.
//
// Products are reduced by the prime's own shape rather than by Montgomery
// reduction: a 512-bit number is split into sixteen 32-bit words, and as
// 2^256 = 2^224 - 2^192 - 2^96 + 1 mod p, its high half folds into the low
// half as a handful of word additions and subtractions, with no
// multiplications and no conversion into and out of Montgomery form.
//
// Numbers stay in their ordinary form; every answer is fully reduced, in
// [0, p). Not constant-time: the final corrections branch on the value.
#pragma once

#include <cstdint>

namespace blinders::p256 {

inline constexpr int kLimbs = 4;

// p, least significant limb first.
inline constexpr uint64_t kPrime[kLimbs] = {0xffffffffffffffff, 0x00000000ffffffff, 0, 0xffffffff00000001};

// r = t mod p for any eight-limb t (any number below 2^512).
void Reduce(uint64_t r[kLimbs], const uint64_t t[2 * kLimbs]);

// r = a + b mod p, for a and b below p. r may alias a or b.
void Add(uint64_t r[kLimbs], const uint64_t a[kLimbs], const uint64_t b[kLimbs]);

// r = a * b mod p and r = a^2 mod p, for a and b below 2^256 (reduced or not).
// r may alias a or b.
void Mul(uint64_t r[kLimbs], const uint64_t a[kLimbs], const uint64_t b[kLimbs]);
void Sqr(uint64_t r[kLimbs], const uint64_t a[kLimbs]);

// r = a^((p + 1) / 4) mod p, for a below p: a square root of a when a has one
// (p = 3 mod 4). A fixed chain of 253 squarings and 7 multiplications that
// follows the exponent's bits (2^254 - 2^222 + 2^190 + 2^94). r may alias a.
void SqrtExponent(uint64_t r[kLimbs], const uint64_t a[kLimbs]);

}  // namespace blinders::p256
