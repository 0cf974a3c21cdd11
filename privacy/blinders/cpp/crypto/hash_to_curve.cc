#include "privacy/blinders/cpp/crypto/hash_to_curve.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include <openssl/bn.h>
#include <openssl/digest.h>
#include <openssl/err.h>
#include <openssl/nid.h>

namespace blinders::hash_to_curve {

namespace {

constexpr absl::string_view kOversizeDstPrefix = "H2C-OVERSIZE-DST-";

std::string DigestOf(const EVP_MD* md, absl::string_view data) {
  uint8_t out[EVP_MAX_MD_SIZE];
  unsigned int out_len = 0;
  if (!EVP_Digest(data.data(), data.size(), out, &out_len, md, nullptr)) return std::string();
  return std::string(reinterpret_cast<const char*>(out), out_len);
}

struct Suite {
  int nid;
  const EVP_MD* md;
  size_t field_element_length;  // L = ceil((ceil(log2(p)) + k) / 8)
  uint64_t z_magnitude;         // Z = -z_magnitude
};

// Field arithmetic mod p on BoringSSL's BIGNUMs, for the simplified SWU map;
// exponentiations go through the prime field's shared Montgomery context.
class Field {
 public:
  Field(const PrimeField& prime, BN_CTX* ctx) : prime_(prime), p_(prime.p()), ctx_(ctx) {}

  bssl::UniquePtr<BIGNUM> New() const { return bssl::UniquePtr<BIGNUM>(BN_new()); }

  const BIGNUM* p() const { return p_; }
  BN_CTX* ctx() const { return ctx_; }
  bool Mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) const { return BN_mod_mul(r, a, b, p_, ctx_); }
  bool Add(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) const { return BN_mod_add(r, a, b, p_, ctx_); }
  bool Inverse(BIGNUM* r, const BIGNUM* a) const { return prime_.Inverse(r, a, ctx_); }
  bool Sqrt(BIGNUM* root, bool* is_square, const BIGNUM* a) const { return prime_.Sqrt(root, is_square, a, ctx_); }
  // r = x^3 + a*x + b.
  bool CurveRightSide(BIGNUM* r, const BIGNUM* x, const BIGNUM* a, const BIGNUM* b) const {
    bssl::UniquePtr<BIGNUM> t = New();
    return t && Mul(t.get(), x, x) && BN_mod_add(t.get(), t.get(), a, p_, ctx_) && Mul(t.get(), t.get(), x) &&
           Add(r, t.get(), b);
  }

 private:
  const PrimeField& prime_;
  const BIGNUM* p_;
  BN_CTX* ctx_;
};

// The simplified SWU map of one field element u to a point (x, y) on
// y^2 = x^3 + a*x + b, for a prime p = 3 mod 4.
bool MapToCurveSimpleSwu(const Field& f, const BIGNUM* a, const BIGNUM* b, const BIGNUM* z, const BIGNUM* u,
                         BIGNUM* x_out, BIGNUM* y_out) {
  const BIGNUM* p = f.p();
  BN_CTX* ctx = f.ctx();
  bssl::UniquePtr<BIGNUM> u2 = f.New(), tv1 = f.New(), t = f.New(), x1 = f.New(), gx1 = f.New();
  bssl::UniquePtr<BIGNUM> x2 = f.New(), gx2 = f.New(), y = f.New();
  if (!u2 || !tv1 || !t || !x1 || !gx1 || !x2 || !gx2 || !y) {
    return false;
  }
  // tv1 = inv0(Z^2 * u^4 + Z * u^2) = inv0(Z*u^2 * (Z*u^2 + 1))
  if (!f.Mul(u2.get(), u, u) || !f.Mul(t.get(), z, u2.get()) || !BN_copy(tv1.get(), t.get()) ||
      !BN_add_word(tv1.get(), 1) || !BN_nnmod(tv1.get(), tv1.get(), p, ctx) || !f.Mul(tv1.get(), tv1.get(), t.get()) ||
      !f.Inverse(tv1.get(), tv1.get())) {
    return false;
  }
  // x1 = (-B / A) * (1 + tv1), or B / (Z * A) when tv1 is 0.
  bssl::UniquePtr<BIGNUM> inv = f.New();
  if (!inv) return false;
  if (BN_is_zero(tv1.get())) {
    if (!f.Mul(inv.get(), z, a) || !f.Inverse(inv.get(), inv.get()) || !f.Mul(x1.get(), b, inv.get())) {
      return false;
    }
  } else {
    if (!f.Inverse(inv.get(), a) || !f.Mul(x1.get(), b, inv.get()) || !BN_mod_sub(x1.get(), p, x1.get(), p, ctx) ||
        !BN_add_word(tv1.get(), 1) || !f.Mul(x1.get(), x1.get(), tv1.get())) {
      return false;
    }
  }
  if (!f.CurveRightSide(gx1.get(), x1.get(), a, b)) return false;
  // x2 = Z * u^2 * x1 (t still holds Z * u^2).
  if (!f.Mul(x2.get(), t.get(), x1.get()) || !f.CurveRightSide(gx2.get(), x2.get(), a, b)) return false;

  // Exactly one of gx1 and gx2 is a square (zero counts as one): the square
  // root of gx1 says which, so Euler's criterion is not computed on its own.
  bool gx1_square = false;
  if (!f.Sqrt(y.get(), &gx1_square, gx1.get())) return false;
  const BIGNUM* x = x1.get();
  if (!gx1_square) {
    bool gx2_square = false;
    if (!f.Sqrt(y.get(), &gx2_square, gx2.get()) || !gx2_square) return false;
    x = x2.get();
  }
  // sgn0 is the parity for these prime fields.
  if (BN_is_odd(u) != BN_is_odd(y.get()) && !BN_is_zero(y.get())) {
    if (!BN_sub(y.get(), p, y.get())) return false;
  }
  return BN_copy(x_out, x) != nullptr && BN_copy(y_out, y.get()) != nullptr;
}

int HashToCurve(const Suite& suite, const EC_GROUP* group, EC_POINT* out, absl::string_view dst,
                absl::string_view msg, const PrimeField* field, BN_CTX* bn_ctx) {
  if (group == nullptr || out == nullptr) {
    OPENSSL_PUT_ERROR(EC, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (EC_GROUP_get_curve_name(group) != suite.nid) {
    OPENSSL_PUT_ERROR(EC, EC_R_GROUP_MISMATCH);
    return 0;
  }
  bssl::UniquePtr<BN_CTX> own_ctx;
  if (bn_ctx == nullptr) {
    own_ctx.reset(BN_CTX_new());
    bn_ctx = own_ctx.get();
  }
  bssl::UniquePtr<BIGNUM> p(BN_new()), a(BN_new()), b(BN_new()), z(BN_new());
  if (!bn_ctx || !p || !a || !b || !z || !EC_GROUP_get_curve_GFp(group, p.get(), a.get(), b.get(), bn_ctx) ||
      !BN_copy(z.get(), p.get()) || !BN_sub_word(z.get(), suite.z_magnitude)) {
    OPENSSL_PUT_ERROR(EC, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  std::unique_ptr<PrimeField> own_field;
  if (field == nullptr) {
    own_field = PrimeField::Create(p.get(), bn_ctx);
    field = own_field.get();
  }
  if (field == nullptr || BN_cmp(field->p(), p.get()) != 0) {
    OPENSSL_PUT_ERROR(EC, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  const size_t len = 2 * suite.field_element_length;
  std::optional<std::string> uniform = ExpandMessageXmd(suite.md, msg, dst, len);
  if (!uniform || uniform->size() != len) {
    OPENSSL_PUT_ERROR(EC, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  Field f(*field, bn_ctx);
  bssl::UniquePtr<EC_POINT> q[2] = {bssl::UniquePtr<EC_POINT>(EC_POINT_new(group)),
                                    bssl::UniquePtr<EC_POINT>(EC_POINT_new(group))};
  for (int i = 0; i < 2; ++i) {
    bssl::UniquePtr<BIGNUM> u(BN_new()), x(BN_new()), y(BN_new());
    const auto* bytes = reinterpret_cast<const uint8_t*>(uniform->data()) + i * suite.field_element_length;
    if (!q[i] || !u || !x || !y || !BN_bin2bn(bytes, suite.field_element_length, u.get()) ||
        !BN_nnmod(u.get(), u.get(), p.get(), bn_ctx) ||
        !MapToCurveSimpleSwu(f, a.get(), b.get(), z.get(), u.get(), x.get(), y.get()) ||
        !EC_POINT_set_affine_coordinates_GFp(group, q[i].get(), x.get(), y.get(), bn_ctx)) {
      OPENSSL_PUT_ERROR(EC, ERR_R_INTERNAL_ERROR);
      return 0;
    }
  }
  // Both curves have cofactor 1, so clearing the cofactor leaves the sum as it is.
  if (!EC_POINT_add(group, out, q[0].get(), q[1].get(), bn_ctx)) return 0;
  return 1;
}

}  // namespace

std::optional<std::string> ExpandMessageXmd(const EVP_MD* md, absl::string_view msg, absl::string_view dst,
                                            size_t len_in_bytes) {
  const size_t b_in_bytes = EVP_MD_size(md);
  const size_t s_in_bytes = EVP_MD_block_size(md);
  const size_t ell = (len_in_bytes + b_in_bytes - 1) / b_in_bytes;
  if (ell > 255 || len_in_bytes > 65535) return std::nullopt;
  std::string dst_prime;
  if (dst.size() > 255) {
    dst_prime = DigestOf(md, std::string(kOversizeDstPrefix).append(dst.data(), dst.size()));
  } else {
    dst_prime.assign(dst.data(), dst.size());
  }
  dst_prime.push_back(static_cast<char>(dst_prime.size()));

  std::string msg_prime(s_in_bytes, '\0');
  msg_prime.append(msg.data(), msg.size());
  msg_prime.push_back(static_cast<char>(len_in_bytes >> 8));
  msg_prime.push_back(static_cast<char>(len_in_bytes & 0xff));
  msg_prime.push_back('\0');
  msg_prime.append(dst_prime);
  const std::string b0 = DigestOf(md, msg_prime);
  if (b0.size() != b_in_bytes) return std::nullopt;

  std::string uniform;
  std::string previous(b_in_bytes, '\0');  // b_0 XOR previous is b_0 for the first block
  for (size_t i = 1; i <= ell; ++i) {
    std::string input(b_in_bytes, '\0');
    for (size_t j = 0; j < b_in_bytes; ++j) input[j] = static_cast<char>(b0[j] ^ previous[j]);
    input.push_back(static_cast<char>(i));
    input.append(dst_prime);
    previous = DigestOf(md, input);
    if (previous.size() != b_in_bytes) return std::nullopt;
    uniform.append(previous);
  }
  uniform.resize(len_in_bytes);
  return uniform;
}

int P256XmdSha256SswuRo(const EC_GROUP* group, EC_POINT* out, absl::string_view dst, absl::string_view msg,
                        const PrimeField* field, BN_CTX* bn_ctx) {
  static const Suite kSuite{NID_X9_62_prime256v1, EVP_sha256(), 48, 10};
  return HashToCurve(kSuite, group, out, dst, msg, field, bn_ctx);
}

int P384XmdSha384SswuRo(const EC_GROUP* group, EC_POINT* out, absl::string_view dst, absl::string_view msg,
                        const PrimeField* field, BN_CTX* bn_ctx) {
  static const Suite kSuite{NID_secp384r1, EVP_sha384(), 72, 12};
  return HashToCurve(kSuite, group, out, dst, msg, field, bn_ctx);
}

}  // namespace blinders::hash_to_curve
