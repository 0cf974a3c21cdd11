#include "privacy/blinders/cpp/crypto/prime_field.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "privacy/blinders/cpp/crypto/p256_field.h"

namespace blinders {

namespace {

constexpr int kMaxLimbs = LimbNumber::kMaxLimbs;

// `bn` as a LimbNumber; false when it is negative or needs more than kMaxLimbs limbs.
bool ToLimbNumber(const BIGNUM* bn, LimbNumber* out) {
  uint8_t bytes[8 * kMaxLimbs];
  if (BN_is_negative(bn) || !BN_bn2le_padded(bytes, sizeof(bytes), bn)) return false;
  out->size = 0;
  for (int i = 0; i < kMaxLimbs; ++i) {
    uint64_t limb = 0;
    for (int j = 7; j >= 0; --j) limb = (limb << 8) | bytes[8 * i + j];
    out->limb[i] = limb;
    if (limb != 0) out->size = i + 1;
  }
  return true;
}

// Numbers of up to two limbs are finished in machine arithmetic.
__extension__ typedef unsigned __int128 Uint128;

uint64_t Low64(uint64_t x) { return x; }
uint64_t Low64(Uint128 x) { return static_cast<uint64_t>(x); }

int TrailingZeros(uint64_t x) { return __builtin_ctzll(x); }
int TrailingZeros(Uint128 x) {
  const uint64_t low = static_cast<uint64_t>(x);
  return low != 0 ? __builtin_ctzll(low) : 64 + __builtin_ctzll(static_cast<uint64_t>(x >> 64));
}

// Trailing zero bits of the `count` limbs at `x`, which are not all zero.
int TrailingZeros(const uint64_t* x) {
  int i = 0;
  while (x[i] == 0) ++i;
  return 64 * i + __builtin_ctzll(x[i]);
}

// out = in >> k over `count` limbs, zeros shifted in at the top; out may be in.
void ShiftRight(uint64_t* out, const uint64_t* in, int count, int k) {
  const int words = k / 64;
  const int bits = k % 64;
  for (int i = 0; i < count; ++i) {
    const uint64_t low = i + words < count ? in[i + words] : 0;
    const uint64_t high = i + words + 1 < count ? in[i + words + 1] : 0;
    out[i] = bits == 0 ? low : (low >> bits) | (high << (64 - bits));
  }
}

// (2 | n) is -1 exactly when n = 3 or 5 mod 8.
bool TwoIsNonResidue(uint64_t n_low) { return (n_low & 7) == 3 || (n_low & 7) == 5; }

// Quadratic reciprocity for odd x and n: (x | n) = -(n | x) exactly when both are 3 mod 4.
bool ReciprocityFlips(uint64_t x_low, uint64_t n_low) { return (x_low & 3) == 3 && (n_low & 3) == 3; }

// `sign` times the Jacobi symbol (x | n), for odd x and n.
template <typename Word>
int JacobiOfOddWords(Word x, Word n, int sign) {
  while (x != n) {
    if (x < n) {
      std::swap(x, n);
      if (ReciprocityFlips(Low64(x), Low64(n))) sign = -sign;
    }
    x -= n;
    const int k = TrailingZeros(x);
    x >>= k;
    if ((k & 1) != 0 && TwoIsNonResidue(Low64(n))) sign = -sign;
  }
  return n == 1 ? sign : 0;
}

// `sign` times the Jacobi symbol (x | n), for odd x and n of N limbs each,
// by the binary algorithm: (x | n) = (x - n | n) when x > n; when x < n,
// reciprocity turns it into (n - x | x); the even difference is then halved
// down to odd by the second supplement. The pair shrinks until it is equal, at
// its common divisor. Both arrays are overwritten.
template <int N>
int JacobiOfOddLimbs(uint64_t* x, uint64_t* n, int sign) {
  static_assert(N >= 3);
  while (true) {
    if (x[N - 1] == 0 && n[N - 1] == 0) {
      if constexpr (N == 3) {
        return JacobiOfOddWords((static_cast<Uint128>(x[1]) << 64) | x[0], (static_cast<Uint128>(n[1]) << 64) | n[0],
                                sign);
      } else {
        return JacobiOfOddLimbs<N - 1>(x, n, sign);
      }
    }
    uint64_t d[N];
    uint64_t borrow = 0;
    uint64_t any = 0;
    for (int i = 0; i < N; ++i) {
      const uint64_t diff = x[i] - n[i];
      const uint64_t next_borrow = static_cast<uint64_t>(x[i] < n[i]) | static_cast<uint64_t>(diff < borrow);
      d[i] = diff - borrow;
      borrow = next_borrow;
      any |= d[i];
    }
    // Equal, and of more than two limbs: a common divisor above 1.
    if (any == 0) return 0;
    if (borrow != 0) {
      if (ReciprocityFlips(x[0], n[0])) sign = -sign;
      // d = n - x, the two's complement of x - n; x becomes the new modulus.
      uint64_t carry = 1;
      for (int i = 0; i < N; ++i) {
        const uint64_t v = ~d[i] + carry;
        carry = static_cast<uint64_t>(v < carry);
        d[i] = v;
      }
      std::swap(x, n);
    }
    int k;
    if (d[0] != 0) {
      // The common case: fewer than 64 zero bits, a shift within the limbs.
      k = __builtin_ctzll(d[0]);
      for (int i = 0; i + 1 < N; ++i) x[i] = (d[i] >> k) | (k == 0 ? 0 : d[i + 1] << (64 - k));
      x[N - 1] = d[N - 1] >> k;
    } else {
      k = TrailingZeros(d);
      ShiftRight(x, d, N, k);
    }
    if ((k & 1) != 0 && TwoIsNonResidue(n[0])) sign = -sign;
  }
}

// The Jacobi symbol (a | m) for an odd m. For a prime m it is the Legendre
// symbol: 1 for a square, -1 for a non-square, 0 for a multiple of m.
int JacobiSymbol(const LimbNumber& a, const LimbNumber& m) {
  if (a.size == 0) return m.size == 1 && m.limb[0] == 1 ? 1 : 0;
  uint64_t x[kMaxLimbs];
  uint64_t n[kMaxLimbs];
  std::copy(m.limb, m.limb + kMaxLimbs, n);
  int sign = 1;
  const int k = TrailingZeros(a.limb);
  ShiftRight(x, a.limb, kMaxLimbs, k);
  if ((k & 1) != 0 && TwoIsNonResidue(n[0])) sign = -sign;
  switch (std::max(a.size, m.size)) {
    case 1:
      return JacobiOfOddWords(x[0], n[0], sign);
    case 2:
      return JacobiOfOddWords((static_cast<Uint128>(x[1]) << 64) | x[0], (static_cast<Uint128>(n[1]) << 64) | n[0],
                              sign);
    case 3:
      return JacobiOfOddLimbs<3>(x, n, sign);
    case 4:
      return JacobiOfOddLimbs<4>(x, n, sign);
    case 5:
      return JacobiOfOddLimbs<5>(x, n, sign);
    case 6:
      return JacobiOfOddLimbs<6>(x, n, sign);
    case 7:
      return JacobiOfOddLimbs<7>(x, n, sign);
    case 8:
      return JacobiOfOddLimbs<8>(x, n, sign);
    default:
      return JacobiOfOddLimbs<kMaxLimbs>(x, n, sign);
  }
}

// A modulus read at run time: its limbs and -m^-1 mod 2^64.
struct LimbModulus {
  const uint64_t* limb;
  uint64_t p_prime;
  uint64_t operator[](int j) const { return limb[j]; }
  uint64_t prime() const { return p_prime; }
};

// Montgomery arithmetic on N-limb numbers below an odd modulus m of N limbs,
// with R = 2^(64N). The library's Montgomery multiplication works on BIGNUMs
// and pays for their bookkeeping on every call; a square root is a chain of
// some 260 multiplications of fixed-size numbers, done here on plain arrays.
// (P-256, the protocol's curve, has its own arithmetic: p256_field.h.)
//
// `m` gives the limbs m[j] and m.prime() = -m^-1 mod 2^64.
template <int N>
struct Montgomery {
  LimbModulus m;

  // r = a * b / R mod m, for a, b < m; the result is below m. r may alias a or b.
  void Mul(uint64_t* r, const uint64_t* a, const uint64_t* b) const {
    // Coarsely integrated operand scanning: one row of a * b[i] added, then
    // one multiple of m that clears the lowest limb, then a shift by a limb.
    uint64_t t[N + 2] = {};
#pragma GCC unroll 9
    for (int i = 0; i < N; ++i) {
      uint64_t carry = 0;
#pragma GCC unroll 9
      for (int j = 0; j < N; ++j) {
        const Uint128 v = static_cast<Uint128>(a[j]) * b[i] + t[j] + carry;
        t[j] = static_cast<uint64_t>(v);
        carry = static_cast<uint64_t>(v >> 64);
      }
      Uint128 v = static_cast<Uint128>(t[N]) + carry;
      t[N] = static_cast<uint64_t>(v);
      t[N + 1] = static_cast<uint64_t>(v >> 64);

      const uint64_t q = t[0] * m.prime();
      v = static_cast<Uint128>(q) * m[0] + t[0];
      carry = static_cast<uint64_t>(v >> 64);
#pragma GCC unroll 9
      for (int j = 1; j < N; ++j) {
        v = static_cast<Uint128>(q) * m[j] + t[j] + carry;
        t[j - 1] = static_cast<uint64_t>(v);
        carry = static_cast<uint64_t>(v >> 64);
      }
      v = static_cast<Uint128>(t[N]) + carry;
      t[N - 1] = static_cast<uint64_t>(v);
      t[N] = t[N + 1] + static_cast<uint64_t>(v >> 64);
    }
    Finish(r, t, t[N]);
  }

  // r = a * a / R mod m, for a < m. A square needs little more than half the
  // limb products of a multiplication, and the exponentiation is almost all
  // squarings. r may alias a.
  void Sqr(uint64_t* r, const uint64_t* a) const {
    uint64_t t[2 * N] = {};
    // The products a[i] * a[j] with i < j, once each...
#pragma GCC unroll 9
    for (int i = 0; i < N; ++i) {
      uint64_t carry = 0;
#pragma GCC unroll 9
      for (int j = i + 1; j < N; ++j) {
        const Uint128 v = static_cast<Uint128>(a[i]) * a[j] + t[i + j] + carry;
        t[i + j] = static_cast<uint64_t>(v);
        carry = static_cast<uint64_t>(v >> 64);
      }
      t[i + N] = carry;
    }
    // ...doubled (their sum is below 2^(128N - 1))...
#pragma GCC unroll 18
    for (int i = 2 * N - 1; i > 0; --i) t[i] = (t[i] << 1) | (t[i - 1] >> 63);
    t[0] <<= 1;
    // ...plus the squares a[i]^2 on the diagonal.
    uint64_t carry = 0;
#pragma GCC unroll 9
    for (int i = 0; i < N; ++i) {
      Uint128 v = static_cast<Uint128>(a[i]) * a[i] + t[2 * i] + carry;
      t[2 * i] = static_cast<uint64_t>(v);
      v = static_cast<Uint128>(t[2 * i + 1]) + static_cast<uint64_t>(v >> 64);
      t[2 * i + 1] = static_cast<uint64_t>(v);
      carry = static_cast<uint64_t>(v >> 64);
    }
    // Montgomery reduction: each step adds the multiple of m that clears limb
    // i; `top` carries what overflows limb i + N into the next step's limb.
    uint64_t top = 0;
#pragma GCC unroll 9
    for (int i = 0; i < N; ++i) {
      const uint64_t q = t[i] * m.prime();
      carry = 0;
#pragma GCC unroll 9
      for (int j = 0; j < N; ++j) {
        const Uint128 v = static_cast<Uint128>(q) * m[j] + t[i + j] + carry;
        t[i + j] = static_cast<uint64_t>(v);
        carry = static_cast<uint64_t>(v >> 64);
      }
      const Uint128 v = static_cast<Uint128>(t[i + N]) + carry + top;
      t[i + N] = static_cast<uint64_t>(v);
      top = static_cast<uint64_t>(v >> 64);
    }
    Finish(r, t + N, top);
  }

  // r = the N limbs of t plus `high` * R, which is below 2m, reduced below m.
  void Finish(uint64_t* r, const uint64_t* t, uint64_t high) const {
    uint64_t d[N];
    uint64_t borrow = 0;
#pragma GCC unroll 9
    for (int j = 0; j < N; ++j) {
      const Uint128 v = static_cast<Uint128>(t[j]) - m[j] - borrow;
      d[j] = static_cast<uint64_t>(v);
      borrow = static_cast<uint64_t>(v >> 64) & 1;
    }
    const bool below_m = high < borrow;
#pragma GCC unroll 9
    for (int j = 0; j < N; ++j) r[j] = below_m ? t[j] : d[j];
  }

  // r = base^e (Montgomery forms in and out) by fixed windows of four bits,
  // most significant first; `one` is R mod m, `e` has `e_bits` bits.
  void Exp(uint64_t* r, const uint64_t* base, const uint64_t* e, int e_bits, const uint64_t* one) const {
    uint64_t table[16][N];
    std::copy(one, one + N, table[0]);
    std::copy(base, base + N, table[1]);
    for (int k = 2; k < 16; ++k) Mul(table[k], table[k - 1], base);
    uint64_t acc[N];
    std::copy(one, one + N, acc);
    for (int top = ((e_bits + 3) / 4) * 4 - 4; top >= 0; top -= 4) {
      for (int s = 0; s < 4; ++s) Sqr(acc, acc);
      const int window = static_cast<int>((e[top / 64] >> (top % 64)) & 15);
      if (window != 0) Mul(acc, acc, table[window]);
    }
    std::copy(acc, acc + N, r);
  }
};

bool IsP256(const LimbNumber& p) {
  return p.size == p256::kLimbs && std::equal(p.limb, p.limb + p256::kLimbs, p256::kPrime);
}

// Newton's iteration for m0^-1 mod 2^64 (m0 odd), each step doubling the
// correct low bits from the three of m0 * m0 = 1 mod 8.
uint64_t NegatedInverseMod2To64(uint64_t m0) {
  uint64_t inverse = m0;
  for (int i = 0; i < 5; ++i) inverse *= 2 - m0 * inverse;
  return 0 - inverse;
}

// The Montgomery constants of an N-limb field for SquareRootByExp.
struct MontgomeryConstants {
  const LimbNumber* p;
  uint64_t p_prime;
  const LimbNumber* r_squared;  // R^2 mod p
  const LimbNumber* one;        // R mod p
};

// Sets `root` to a^e mod p and answers whether its square is a, for a < p.
template <int N>
bool SquareRootByExp(const MontgomeryConstants& c, const uint64_t* e, int e_bits, const uint64_t* a,
                     uint64_t* root) {
  const Montgomery<N> mont{LimbModulus{c.p->limb, c.p_prime}};
  uint64_t a_mont[N];
  mont.Mul(a_mont, a, c.r_squared->limb);
  uint64_t root_mont[N];
  mont.Exp(root_mont, a_mont, e, e_bits, c.one->limb);
  uint64_t square[N];
  mont.Sqr(square, root_mont);
  // Montgomery forms below p are unique, so they compare as the values do.
  const bool is_square = std::equal(square, square + N, a_mont);
  uint64_t unit[N] = {1};
  mont.Mul(root, root_mont, unit);
  return is_square;
}

// r = a + b mod m, for a, b < m.
template <int N>
void AddMod(const LimbModulus& m, uint64_t* r, const uint64_t* a, const uint64_t* b) {
  uint64_t sum[N];
  uint64_t carry = 0;
  for (int j = 0; j < N; ++j) {
    const Uint128 v = static_cast<Uint128>(a[j]) + b[j] + carry;
    sum[j] = static_cast<uint64_t>(v);
    carry = static_cast<uint64_t>(v >> 64);
  }
  Montgomery<N>{m}.Finish(r, sum, carry);
}

// False when the N limbs of s (below p) are not a square mod p, by their
// Legendre symbol.
template <int N>
bool MayBeSquare(const uint64_t* s, const LimbNumber& p) {
  LimbNumber s_limbs{};
  std::copy(s, s + N, s_limbs.limb);
  s_limbs.size = N;
  while (s_limbs.size > 0 && s_limbs.limb[s_limbs.size - 1] == 0) --s_limbs.size;
  return JacobiSymbol(s_limbs, p) >= 0;
}

// y = p - y when y's parity is not the one asked for; y is not zero.
template <int N>
void NegateForParity(uint64_t* y, const uint64_t* p, bool odd) {
  if (((y[0] & 1) != 0) == odd) return;
  uint64_t borrow = 0;
  for (int j = 0; j < N; ++j) {
    const Uint128 v = static_cast<Uint128>(p[j]) - y[j] - borrow;
    y[j] = static_cast<uint64_t>(v);
    borrow = static_cast<uint64_t>(v >> 64) & 1;
  }
}

// The root of x^3 + a*x + b with the parity asked for, for x < p, as
// PrimeField::CurveRoot describes; a and b are in Montgomery form.
template <int N>
PrimeField::CurveAnswer CurveRootByExp(const MontgomeryConstants& c, const uint64_t* a_mont, const uint64_t* b_mont,
                                       const uint64_t* e, int e_bits, const uint64_t* x, bool odd, bool test_first,
                                       uint64_t* y) {
  const Montgomery<N> mont{LimbModulus{c.p->limb, c.p_prime}};
  uint64_t x_mont[N];
  mont.Mul(x_mont, x, c.r_squared->limb);
  uint64_t s[N];
  mont.Sqr(s, x_mont);
  AddMod<N>(mont.m, s, s, a_mont);
  mont.Mul(s, s, x_mont);
  AddMod<N>(mont.m, s, s, b_mont);
  // s = (x^3 + a*x + b) R. Zero only when the right side is; a non-zero R
  // is a square (an even power of two), so s has the right side's symbol.
  if (std::all_of(s, s + N, [](uint64_t limb) { return limb == 0; })) return PrimeField::CurveAnswer::kZero;
  if (test_first && !MayBeSquare<N>(s, *c.p)) return PrimeField::CurveAnswer::kNotSquare;
  // s is the Montgomery form of the right side, so the exponentiation and the
  // check of its square run on it directly.
  const uint64_t* s_mont = s;
  uint64_t unit[N] = {1};
  uint64_t root_mont[N];
  mont.Exp(root_mont, s_mont, e, e_bits, c.one->limb);
  uint64_t square[N];
  mont.Sqr(square, root_mont);
  if (!std::equal(square, square + N, s_mont)) return PrimeField::CurveAnswer::kNotSquare;
  mont.Mul(y, root_mont, unit);
  NegateForParity<N>(y, c.p->limb, odd);
  return PrimeField::CurveAnswer::kRoot;
}

// Sets `root` to the Montgomery form of a^((p+1)/4) mod p and answers whether
// its square is a, for a < p in Montgomery form, on P-256's own arithmetic.
bool SquareRootP256(const uint64_t* a_mont, uint64_t* root_mont) {
  p256::SqrtExponent(root_mont, a_mont);
  uint64_t square[p256::kLimbs];
  p256::Sqr(square, root_mont);
  // Montgomery forms below p are unique, so they compare as the values do.
  return std::equal(square, square + p256::kLimbs, a_mont);
}

// CurveRootByExp on P-256's own arithmetic.
PrimeField::CurveAnswer CurveRootP256(const LimbNumber& p, const uint64_t* a_mont, const uint64_t* b_mont,
                                      const uint64_t* x, bool odd, bool test_first, uint64_t* y) {
  constexpr int N = p256::kLimbs;
  uint64_t x_mont[N];
  p256::ToMontgomery(x_mont, x);
  uint64_t s[N];
  p256::Sqr(s, x_mont);
  p256::Add(s, s, a_mont);
  p256::Mul(s, s, x_mont);
  p256::Add(s, s, b_mont);
  // s = (x^3 + a*x + b) R, with the right side's symbol (see CurveRootByExp).
  if (std::all_of(s, s + N, [](uint64_t limb) { return limb == 0; })) return PrimeField::CurveAnswer::kZero;
  if (test_first && !MayBeSquare<N>(s, p)) return PrimeField::CurveAnswer::kNotSquare;
  uint64_t root_mont[N];
  if (!SquareRootP256(s, root_mont)) return PrimeField::CurveAnswer::kNotSquare;
  p256::FromMontgomery(y, root_mont);
  NegateForParity<N>(y, p256::kPrime, odd);
  return PrimeField::CurveAnswer::kRoot;
}

// Runs `f.template operator()<N>()` with N the limb count the run-time `limbs`
// names (kMaxLimbs beyond 8): one instantiation per size, chosen once.
template <class F>
decltype(auto) WithLimbCount(int limbs, F&& f) {
  switch (limbs) {
    case 1:
      return f.template operator()<1>();
    case 2:
      return f.template operator()<2>();
    case 3:
      return f.template operator()<3>();
    case 4:
      return f.template operator()<4>();
    case 5:
      return f.template operator()<5>();
    case 6:
      return f.template operator()<6>();
    case 7:
      return f.template operator()<7>();
    case 8:
      return f.template operator()<8>();
    default:
      return f.template operator()<kMaxLimbs>();
  }
}

bool SquareRootByExp(int limbs, const MontgomeryConstants& c, const LimbNumber& e, int e_bits, const LimbNumber& a,
                     LimbNumber* root) {
  return WithLimbCount(limbs, [&]<int N>() { return SquareRootByExp<N>(c, e.limb, e_bits, a.limb, root->limb); });
}

PrimeField::CurveAnswer CurveRootByExp(int limbs, const MontgomeryConstants& c, const LimbNumber& a_mont,
                                       const LimbNumber& b_mont, const LimbNumber& e, int e_bits, const LimbNumber& x,
                                       bool odd, bool test_first, LimbNumber* y) {
  return WithLimbCount(limbs, [&]<int N>() {
    return CurveRootByExp<N>(c, a_mont.limb, b_mont.limb, e.limb, e_bits, x.limb, odd, test_first, y->limb);
  });
}

// `limbs` limbs of `n` as a BIGNUM in `out`.
bool FromLimbs(BIGNUM* out, const uint64_t* n, int limbs) {
  uint8_t bytes[8 * kMaxLimbs];
  for (int i = 0; i < limbs; ++i) {
    for (int j = 0; j < 8; ++j) bytes[8 * i + j] = static_cast<uint8_t>(n[i] >> (8 * j));
  }
  return BN_le2bn(bytes, static_cast<size_t>(8 * limbs), out) != nullptr;
}

// Temporaries drawn from a BN_CTX frame, released when the scope ends.
class ScratchFrame {
 public:
  explicit ScratchFrame(BN_CTX* ctx) : ctx_(ctx) { BN_CTX_start(ctx_); }
  ~ScratchFrame() { BN_CTX_end(ctx_); }
  ScratchFrame(const ScratchFrame&) = delete;
  ScratchFrame& operator=(const ScratchFrame&) = delete;
  BIGNUM* Get() { return BN_CTX_get(ctx_); }

 private:
  BN_CTX* ctx_;
};

}  // namespace

std::unique_ptr<PrimeField> PrimeField::Create(const BIGNUM* p, BN_CTX* ctx) {
  if (p == nullptr || BN_is_negative(p) || !BN_is_odd(p) || BN_num_bits(p) < 3) return nullptr;
  std::unique_ptr<PrimeField> field(new PrimeField());
  field->p_.reset(BN_dup(p));
  field->p_minus_2_.reset(BN_dup(p));
  if (!field->p_ || !field->p_minus_2_ || !BN_sub_word(field->p_minus_2_.get(), 2)) {
    return nullptr;
  }
  field->mont_.reset(BN_MONT_CTX_new_for_modulus(p, ctx));
  if (!field->mont_ || !ToLimbNumber(p, &field->p_limbs_)) return nullptr;
  // p = 3 mod 4: bit 1 is set as well as bit 0.
  if (BN_is_bit_set(p, 1)) {
    field->sqrt_exponent_.reset(BN_dup(p));
    if (!field->sqrt_exponent_ || !BN_add_word(field->sqrt_exponent_.get(), 1) ||
        !BN_rshift(field->sqrt_exponent_.get(), field->sqrt_exponent_.get(), 2) ||
        !ToLimbNumber(field->sqrt_exponent_.get(), &field->sqrt_exponent_limbs_)) {
      return nullptr;
    }
    field->sqrt_exponent_bits_ = BN_num_bits(field->sqrt_exponent_.get());
    // R = 2^(64 * limbs of p); R mod p and R^2 mod p move numbers into
    // Montgomery form and give its one.
    bssl::UniquePtr<BIGNUM> power(BN_new());
    if (!power || !BN_set_bit(power.get(), 64 * field->p_limbs_.size) ||
        !BN_nnmod(power.get(), power.get(), p, ctx) || !ToLimbNumber(power.get(), &field->montgomery_one_) ||
        !BN_mod_sqr(power.get(), power.get(), p, ctx) || !ToLimbNumber(power.get(), &field->montgomery_r_squared_)) {
      return nullptr;
    }
    field->p_prime_ = NegatedInverseMod2To64(field->p_limbs_.limb[0]);
    field->p256_ = IsP256(field->p_limbs_);
  }
  return field;
}

bool PrimeField::Exp(BIGNUM* r, const BIGNUM* a, const BIGNUM* e, BN_CTX* ctx) const {
  return BN_mod_exp_mont(r, a, e, p_.get(), ctx, mont_.get()) == 1;
}

bool PrimeField::Inverse(BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) const {
  // Fermat: a^(p-2) is a^-1 for a non-zero a, and 0 for a = 0.
  return Exp(r, a, p_minus_2_.get(), ctx);
}

bool PrimeField::Sqrt(BIGNUM* root, bool* is_square, const BIGNUM* a, BN_CTX* ctx, Operand operand) const {
  LimbNumber a_limbs;
  // Reduced operands (the contract) take the limb arithmetic; anything else
  // keeps the library's answer.
  const bool reduced = !BN_is_negative(a) && BN_ucmp(a, p_.get()) < 0 && ToLimbNumber(a, &a_limbs);
  if (operand == Operand::kAny || !sqrt_exponent_) {
    if (!reduced && !ToLimbNumber(a, &a_limbs)) return false;
    const int legendre = JacobiSymbol(a_limbs, p_limbs_);
    if (legendre == 0) {
      BN_zero(root);
      *is_square = true;
      return true;
    }
    if (legendre < 0) {
      *is_square = false;
      return true;
    }
  }
  if (!sqrt_exponent_) {
    // p = 1 mod 4: BoringSSL's general (Tonelli-Shanks) square root.
    *is_square = true;
    return BN_mod_sqrt(root, a, p_.get(), ctx) != nullptr;
  }
  // p = 3 mod 4: a^((p+1)/4). Its square is compared with a, so that the root
  // itself, not only the symbol, decides.
  if (reduced) {
    LimbNumber root_limbs;
    if (p256_) {
      uint64_t a_mont[p256::kLimbs];
      p256::ToMontgomery(a_mont, a_limbs.limb);
      *is_square = SquareRootP256(a_mont, root_limbs.limb);
      p256::FromMontgomery(root_limbs.limb, root_limbs.limb);
      return FromLimbs(root, root_limbs.limb, p256::kLimbs);
    }
    const MontgomeryConstants constants{&p_limbs_, p_prime_, &montgomery_r_squared_, &montgomery_one_};
    *is_square = SquareRootByExp(p_limbs_.size, constants, sqrt_exponent_limbs_, sqrt_exponent_bits_, a_limbs,
                                 &root_limbs);
    return FromLimbs(root, root_limbs.limb, p_limbs_.size);
  }
  ScratchFrame frame(ctx);
  BIGNUM* square = frame.Get();
  if (square == nullptr || !Exp(root, a, sqrt_exponent_.get(), ctx) || !BN_mod_sqr(square, root, p_.get(), ctx)) {
    return false;
  }
  *is_square = BN_cmp(square, a) == 0;
  return true;
}

bool PrimeField::SetCurve(const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  if (!sqrt_exponent_) return true;  // the roots stay with the library's arithmetic
  // a R mod p and b R mod p: the coefficients reduced, shifted by 64 bits a
  // limb at a time and reduced again.
  bssl::UniquePtr<BIGNUM> value(BN_new());
  const BIGNUM* coefficients[2] = {a, b};
  LimbNumber* out[2] = {&curve_a_, &curve_b_};
  for (int i = 0; i < 2; ++i) {
    if (!value || !BN_nnmod(value.get(), coefficients[i], p_.get(), ctx) ||
        !BN_lshift(value.get(), value.get(), 64 * p_limbs_.size) || !BN_nnmod(value.get(), value.get(), p_.get(), ctx) ||
        !ToLimbNumber(value.get(), out[i])) {
      return false;
    }
  }
  has_curve_ = true;
  return true;
}

std::optional<PrimeField::CurveAnswer> PrimeField::CurveRoot(BIGNUM* y, const BIGNUM* x, bool odd, Operand operand) const {
  LimbNumber x_limbs;
  if (!has_curve_ || BN_is_negative(x) || BN_ucmp(x, p_.get()) >= 0 || !ToLimbNumber(x, &x_limbs)) {
    return std::nullopt;
  }
  LimbNumber y_limbs;
  CurveAnswer answer;
  if (p256_) {
    answer = CurveRootP256(p_limbs_, curve_a_.limb, curve_b_.limb, x_limbs.limb, odd, operand == Operand::kAny,
                           y_limbs.limb);
  } else {
    const MontgomeryConstants constants{&p_limbs_, p_prime_, &montgomery_r_squared_, &montgomery_one_};
    answer = CurveRootByExp(p_limbs_.size, constants, curve_a_, curve_b_, sqrt_exponent_limbs_, sqrt_exponent_bits_,
                            x_limbs, odd, operand == Operand::kAny, &y_limbs);
  }
  if (answer == CurveAnswer::kRoot && !FromLimbs(y, y_limbs.limb, p_limbs_.size)) return std::nullopt;
  return answer;
}

}  // namespace blinders
