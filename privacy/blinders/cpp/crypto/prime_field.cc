#include "privacy/blinders/cpp/crypto/prime_field.h"

#include <algorithm>
#include <cstdint>
#include <utility>

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
        !BN_rshift(field->sqrt_exponent_.get(), field->sqrt_exponent_.get(), 2)) {
      return nullptr;
    }
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
  if (operand == Operand::kAny || !sqrt_exponent_) {
    LimbNumber a_limbs;
    if (!ToLimbNumber(a, &a_limbs)) return false;
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
  ScratchFrame frame(ctx);
  BIGNUM* square = frame.Get();
  if (square == nullptr || !Exp(root, a, sqrt_exponent_.get(), ctx) || !BN_mod_sqr(square, root, p_.get(), ctx)) {
    return false;
  }
  *is_square = BN_cmp(square, a) == 0;
  return true;
}

}  // namespace blinders
