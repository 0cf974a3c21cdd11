#include "privacy/blinders/cpp/crypto/p256_field.h"

#include <cstdint>

namespace blinders::p256 {

namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr int kWords = 2 * kLimbs;  // 32-bit words of a reduced number

// Signed column sums of 32-bit words, carried: `word` gets the eight low
// words, the answer is what carries out of the top (negative when the sum is).
// Every column is far below 2^62 in magnitude, so nothing overflows.
int64_t Carry(const int64_t column[kWords], uint32_t word[kWords]) {
  int64_t carry = 0;
  for (int j = 0; j < kWords; ++j) {
    const int64_t v = column[j] + carry;
    word[j] = static_cast<uint32_t>(v);
    carry = v >> 32;  // arithmetic: floor division by 2^32
  }
  return carry;
}

// r = sum + carry * 2^256, a number below 2p, reduced below p.
void SubtractPrimeIfAbove(uint64_t r[kLimbs], const uint64_t sum[kLimbs], uint64_t carry) {
  uint64_t d[kLimbs];
  uint64_t borrow = 0;
  for (int j = 0; j < kLimbs; ++j) {
    const Uint128 v = static_cast<Uint128>(sum[j]) - kPrime[j] - borrow;
    d[j] = static_cast<uint64_t>(v);
    borrow = static_cast<uint64_t>(v >> 64) & 1;
  }
  // sum + carry * 2^256 < p exactly when the subtraction borrowed past the carry.
  const bool below_p = carry < borrow;
  for (int j = 0; j < kLimbs; ++j) r[j] = below_p ? sum[j] : d[j];
}

void SqrTimes(uint64_t r[kLimbs], int times) {
  for (int i = 0; i < times; ++i) Sqr(r, r);
}

}  // namespace

void Reduce(uint64_t r[kLimbs], const uint64_t t[2 * kLimbs]) {
  int64_t c[16];
  for (int k = 0; k < 2 * kLimbs; ++k) {
    c[2 * k] = static_cast<int64_t>(t[k] & 0xffffffff);
    c[2 * k + 1] = static_cast<int64_t>(t[k] >> 32);
  }
  // With c15..c0 the 32-bit words of t, t = A + 2B + 2C + D + E - F - G - H - I
  // mod p, where (most significant word first)
  //   A = (c7,  c6,  c5,  c4,  c3,  c2,  c1,  c0)
  //   B = (c15, c14, c13, c12, c11, 0,   0,   0)
  //   C = (0,   c15, c14, c13, c12, 0,   0,   0)
  //   D = (c15, c14, 0,   0,   0,   c10, c9,  c8)
  //   E = (c8,  c13, c15, c14, c13, c11, c10, c9)
  //   F = (c10, c8,  0,   0,   0,   c13, c12, c11)
  //   G = (c11, c9,  0,   0,   c15, c14, c13, c12)
  //   H = (c12, 0,   c10, c9,  c8,  c15, c14, c13)
  //   I = (c13, 0,   c11, c10, c9,  0,   c15, c14)
  // (each term is a product c_i * 2^(32i) rewritten with 2^256 = 2^224 -
  // 2^192 - 2^96 + 1 mod p). Summed by columns:
  int64_t column[kWords] = {
      c[0] + c[8] + c[9] - c[11] - c[12] - c[13] - c[14],
      c[1] + c[9] + c[10] - c[12] - c[13] - c[14] - c[15],
      c[2] + c[10] + c[11] - c[13] - c[14] - c[15],
      c[3] + 2 * c[11] + 2 * c[12] + c[13] - c[15] - c[8] - c[9],
      c[4] + 2 * c[12] + 2 * c[13] + c[14] - c[9] - c[10],
      c[5] + 2 * c[13] + 2 * c[14] + c[15] - c[10] - c[11],
      c[6] + 3 * c[14] + 2 * c[15] + c[13] - c[8] - c[9],
      c[7] + 3 * c[15] + c[8] - c[10] - c[11] - c[12] - c[13],
  };
  uint32_t word[kWords];
  int64_t carry = Carry(column, word);
  // The sum is word + carry * 2^256 with a small carry (-4 to 7); each fold
  // adds carry * (2^224 - 2^192 - 2^96 + 1) in its place. A first fold leaves
  // a carry of at most one either way, which a second fold absorbs.
  while (carry != 0) {
    for (int j = 0; j < kWords; ++j) column[j] = word[j];
    column[0] += carry;
    column[3] -= carry;
    column[6] -= carry;
    column[7] += carry;
    carry = Carry(column, word);
  }
  // Below 2^256, so below 2p.
  uint64_t low[kLimbs];
  for (int k = 0; k < kLimbs; ++k) low[k] = (static_cast<uint64_t>(word[2 * k + 1]) << 32) | word[2 * k];
  SubtractPrimeIfAbove(r, low, 0);
}

void Add(uint64_t r[kLimbs], const uint64_t a[kLimbs], const uint64_t b[kLimbs]) {
  uint64_t sum[kLimbs];
  uint64_t carry = 0;
  for (int j = 0; j < kLimbs; ++j) {
    const Uint128 v = static_cast<Uint128>(a[j]) + b[j] + carry;
    sum[j] = static_cast<uint64_t>(v);
    carry = static_cast<uint64_t>(v >> 64);
  }
  SubtractPrimeIfAbove(r, sum, carry);
}

void Mul(uint64_t r[kLimbs], const uint64_t a[kLimbs], const uint64_t b[kLimbs]) {
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
  Reduce(r, t);
}

void Sqr(uint64_t r[kLimbs], const uint64_t a[kLimbs]) {
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
  Reduce(r, t);
}

void SqrtExponent(uint64_t r[kLimbs], const uint64_t a[kLimbs]) {
  // x_k = a^(2^k - 1), doubling k up to 32.
  uint64_t x[kLimbs];
  uint64_t t[kLimbs];
  Sqr(x, a);
  Mul(x, x, a);  // x2
  for (int k = 2; k <= 16; k *= 2) {
    for (int j = 0; j < kLimbs; ++j) t[j] = x[j];
    SqrTimes(t, k);
    Mul(x, t, x);  // x_2k = x_k^(2^k) * x_k
  }
  // x32^(2^32) * a = a^(2^64 - 2^32 + 1); then * 2^96, + 1; then * 2^94.
  uint64_t a_copy[kLimbs];
  for (int j = 0; j < kLimbs; ++j) a_copy[j] = a[j];
  SqrTimes(x, 32);
  Mul(x, x, a_copy);
  SqrTimes(x, 96);
  Mul(x, x, a_copy);
  SqrTimes(x, 94);
  for (int j = 0; j < kLimbs; ++j) r[j] = x[j];
}

}  // namespace blinders::p256
