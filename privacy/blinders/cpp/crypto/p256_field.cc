#include "privacy/blinders/cpp/crypto/p256_field.h"

#include <cstdint>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

// Forced inlining keeps each chain of squarings in registers: as calls, the
// limbs go through memory between every step.
#define TABULO_INLINE inline __attribute__((always_inline))

namespace blinders::p256 {

namespace {

__extension__ typedef unsigned __int128 Uint128;

// Add and subtract with carry: the processor's own instructions on x86-64,
// the same arithmetic through 128-bit sums elsewhere.
TABULO_INLINE unsigned char AddCarry(unsigned char carry, unsigned long long a, unsigned long long b,
                                     unsigned long long* out) {
#if defined(__x86_64__)
  return _addcarry_u64(carry, a, b, out);
#else
  const Uint128 sum = static_cast<Uint128>(a) + b + carry;
  *out = static_cast<unsigned long long>(sum);
  return static_cast<unsigned char>(sum >> 64);
#endif
}

TABULO_INLINE unsigned char SubBorrow(unsigned char borrow, unsigned long long a, unsigned long long b,
                                      unsigned long long* out) {
#if defined(__x86_64__)
  return _subborrow_u64(borrow, a, b, out);
#else
  const Uint128 difference = static_cast<Uint128>(a) - b - borrow;
  *out = static_cast<unsigned long long>(difference);
  return static_cast<unsigned char>((difference >> 64) != 0);
#endif
}

// R^2 mod p, with R = 2^256: multiplying by it in Montgomery form brings a
// number into that form.
constexpr uint64_t kRSquared[kLimbs] = {0x0000000000000003, 0xfffffffbffffffff, 0xfffffffffffffffe,
                                        0x00000004fffffffd};

TABULO_INLINE void Redc(uint64_t r[kLimbs], const uint64_t t[2 * kLimbs]) {
  // Montgomery reduction, one limb at a time: q = the lowest limb, and q * p
  // added clears it, as p = -1 mod 2^64. The prime's shape makes q * p cheap:
  // its two low limbs are 2^96 - 1, so q * (2^96 - 1) adds q << 96 and takes
  // q, which cancels the limb; only q times the top limb 2^64 - 2^32 + 1 is
  // a multiplication. The carry chains are spelled out with the processor's
  // add-with-carry, which the compiler keeps in registers.
  unsigned long long w0 = t[0], w1 = t[1], w2 = t[2], w3 = t[3], w4 = t[4], w5 = t[5], w6 = t[6], w7 = t[7];
  unsigned long long high = 0;  // what carries out of the top limb
  unsigned char c;
  Uint128 top;
  // Step i adds q << 96 at limb i and q * p[3] at limb i + 3.
#define TABULO_REDC_STEP(q, l1, l2, l3, l4, rest)                             \
  top = static_cast<Uint128>(q) * kPrime[3];                                  \
  c = AddCarry(0, l1, (q) << 32, &l1);                                   \
  c = AddCarry(c, l2, (q) >> 32, &l2);                                   \
  c = AddCarry(c, l3, static_cast<uint64_t>(top), &l3);                  \
  c = AddCarry(c, l4, static_cast<uint64_t>(top >> 64), &l4);            \
  rest
  TABULO_REDC_STEP(w0, w1, w2, w3, w4, c = AddCarry(c, w5, 0, &w5); c = AddCarry(c, w6, 0, &w6);
                   c = AddCarry(c, w7, 0, &w7); high += c;)
  TABULO_REDC_STEP(w1, w2, w3, w4, w5, c = AddCarry(c, w6, 0, &w6); c = AddCarry(c, w7, 0, &w7);
                   high += c;)
  TABULO_REDC_STEP(w2, w3, w4, w5, w6, c = AddCarry(c, w7, 0, &w7); high += c;)
  TABULO_REDC_STEP(w3, w4, w5, w6, w7, high += c;)
#undef TABULO_REDC_STEP
  // (t + Q p) / 2^256 = (w7..w4) + high * 2^256, below 2^256 + p: at most
  // two subtractions of p (one for any t below p * 2^256, such as a product
  // of reduced numbers).
  while (true) {
    unsigned long long d0, d1, d2, d3, rest;
    c = SubBorrow(0, w4, kPrime[0], &d0);
    c = SubBorrow(c, w5, kPrime[1], &d1);
    c = SubBorrow(c, w6, kPrime[2], &d2);
    c = SubBorrow(c, w7, kPrime[3], &d3);
    c = SubBorrow(c, high, 0, &rest);
    if (c != 0) break;  // below p
    w4 = d0, w5 = d1, w6 = d2, w7 = d3, high = rest;
  }
  r[0] = w4, r[1] = w5, r[2] = w6, r[3] = w7;
}

TABULO_INLINE void MontMul(uint64_t r[kLimbs], const uint64_t a[kLimbs], const uint64_t b[kLimbs]) {
  uint64_t t[2 * kLimbs] = {};
#pragma GCC unroll 4
  for (int i = 0; i < kLimbs; ++i) {
    uint64_t carry = 0;
#pragma GCC unroll 4
    for (int j = 0; j < kLimbs; ++j) {
      const Uint128 v = static_cast<Uint128>(a[j]) * b[i] + t[i + j] + carry;
      t[i + j] = static_cast<uint64_t>(v);
      carry = static_cast<uint64_t>(v >> 64);
    }
    t[i + kLimbs] = carry;
  }
  Redc(r, t);
}

TABULO_INLINE void MontSqr(uint64_t r[kLimbs], const uint64_t a[kLimbs]) {
  uint64_t t[2 * kLimbs] = {};
  // The products a[i] * a[j] with i < j, once each...
#pragma GCC unroll 4
  for (int i = 0; i < kLimbs; ++i) {
    uint64_t carry = 0;
#pragma GCC unroll 4
    for (int j = i + 1; j < kLimbs; ++j) {
      const Uint128 v = static_cast<Uint128>(a[i]) * a[j] + t[i + j] + carry;
      t[i + j] = static_cast<uint64_t>(v);
      carry = static_cast<uint64_t>(v >> 64);
    }
    t[i + kLimbs] = carry;
  }
  // ...doubled (their sum is below 2^511)...
#pragma GCC unroll 8
  for (int i = 2 * kLimbs - 1; i > 0; --i) t[i] = (t[i] << 1) | (t[i - 1] >> 63);
  t[0] <<= 1;
  // ...plus the squares a[i]^2 on the diagonal.
  uint64_t carry = 0;
#pragma GCC unroll 4
  for (int i = 0; i < kLimbs; ++i) {
    Uint128 v = static_cast<Uint128>(a[i]) * a[i] + t[2 * i] + carry;
    t[2 * i] = static_cast<uint64_t>(v);
    v = static_cast<Uint128>(t[2 * i + 1]) + static_cast<uint64_t>(v >> 64);
    t[2 * i + 1] = static_cast<uint64_t>(v);
    carry = static_cast<uint64_t>(v >> 64);
  }
  Redc(r, t);
}

TABULO_INLINE void MontSqrTimes(uint64_t r[kLimbs], int times) {
  for (int i = 0; i < times; ++i) MontSqr(r, r);
}

}  // namespace

void Reduce(uint64_t r[kLimbs], const uint64_t t[2 * kLimbs]) { Redc(r, t); }

void Mul(uint64_t r[kLimbs], const uint64_t a[kLimbs], const uint64_t b[kLimbs]) { MontMul(r, a, b); }

void Sqr(uint64_t r[kLimbs], const uint64_t a[kLimbs]) { MontSqr(r, a); }

void ToMontgomery(uint64_t r[kLimbs], const uint64_t a[kLimbs]) { MontMul(r, a, kRSquared); }

void FromMontgomery(uint64_t r[kLimbs], const uint64_t a[kLimbs]) {
  const uint64_t t[2 * kLimbs] = {a[0], a[1], a[2], a[3], 0, 0, 0, 0};
  Redc(r, t);
}

void Add(uint64_t r[kLimbs], const uint64_t a[kLimbs], const uint64_t b[kLimbs]) {
  uint64_t sum[kLimbs];
  uint64_t carry = 0;
  for (int j = 0; j < kLimbs; ++j) {
    const Uint128 v = static_cast<Uint128>(a[j]) + b[j] + carry;
    sum[j] = static_cast<uint64_t>(v);
    carry = static_cast<uint64_t>(v >> 64);
  }
  // Below 2p: p once at most.
  uint64_t d[kLimbs];
  uint64_t borrow = 0;
  for (int j = 0; j < kLimbs; ++j) {
    const Uint128 v = static_cast<Uint128>(sum[j]) - kPrime[j] - borrow;
    d[j] = static_cast<uint64_t>(v);
    borrow = static_cast<uint64_t>(v >> 64) & 1;
  }
  const bool below_p = carry < borrow;
  for (int j = 0; j < kLimbs; ++j) r[j] = below_p ? sum[j] : d[j];
}

void SqrtExponent(uint64_t r[kLimbs], const uint64_t a[kLimbs]) {
  // x_k = a^(2^k - 1), doubling k up to 32.
  uint64_t x[kLimbs];
  uint64_t t[kLimbs];
  MontSqr(x, a);
  MontMul(x, x, a);  // x_2
  for (int k = 2; k <= 16; k *= 2) {
    for (int j = 0; j < kLimbs; ++j) t[j] = x[j];
    MontSqrTimes(t, k);
    MontMul(x, t, x);  // x_2k = x_k^(2^k) * x_k
  }
  // x_32^(2^32) * a = a^(2^64 - 2^32 + 1); then * 2^96, + 1; then * 2^94.
  uint64_t a_copy[kLimbs];
  for (int j = 0; j < kLimbs; ++j) a_copy[j] = a[j];
  MontSqrTimes(x, 32);
  MontMul(x, x, a_copy);
  MontSqrTimes(x, 96);
  MontMul(x, x, a_copy);
  MontSqrTimes(x, 94);
  for (int j = 0; j < kLimbs; ++j) r[j] = x[j];
}

}  // namespace blinders::p256
