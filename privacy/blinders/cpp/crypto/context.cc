#include "privacy/blinders/cpp/crypto/context.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <openssl/err.h>
#include <openssl/rand.h>

#include "base/check.h"

namespace blinders {

namespace {

BN_CTX* NewBnCtx() {
  BN_CTX* ctx = BN_CTX_new();
  BASE_CHECK(ctx != nullptr, LastCryptoErrorText());
  return ctx;
}

EVP_MD_CTX* NewMdCtx() {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  BASE_CHECK(ctx != nullptr, LastCryptoErrorText());
  return ctx;
}

}  // namespace

std::string LastCryptoErrorText() {
  char buf[256];
  ERR_error_string_n(ERR_get_error(), buf, sizeof(buf));
  return std::string(buf);
}

Context::Context()
    : bn_ctx_(NewBnCtx()),
      evp_md_ctx_(NewMdCtx()),
      one_(bn_ctx_.get(), uint64_t{1}),
      two_(bn_ctx_.get(), uint64_t{2}),
      three_(bn_ctx_.get(), uint64_t{3}) {
  BASE_CHECK(RAND_status(), "OpenSSL PRNG is not properly seeded.");
}

Context::~Context() = default;

BigNum Context::AdoptBignum(bssl::UniquePtr<BIGNUM> bn) { return BigNum(bn_ctx_.get(), std::move(bn)); }

std::string Context::Digest(const EVP_MD* md, absl::string_view bytes) {
  uint8_t hash[EVP_MAX_MD_SIZE];
  unsigned int md_len = 0;
  BASE_CHECK(1 == EVP_DigestInit_ex(evp_md_ctx_.get(), md, nullptr), LastCryptoErrorText());
  BASE_CHECK(1 == EVP_DigestUpdate(evp_md_ctx_.get(), bytes.data(), bytes.length()), LastCryptoErrorText());
  BASE_CHECK(1 == EVP_DigestFinal_ex(evp_md_ctx_.get(), hash, &md_len), LastCryptoErrorText());
  return std::string(reinterpret_cast<const char*>(hash), md_len);
}

std::string Context::DigestSha256(absl::string_view bytes) { return Digest(EVP_sha256(), bytes); }

std::string Context::DigestSha384(absl::string_view bytes) { return Digest(EVP_sha384(), bytes); }

std::string Context::DigestSha512(absl::string_view bytes) { return Digest(EVP_sha512(), bytes); }

BigNum Context::HashToRangeSha256(absl::string_view x, const BigNum& max) { return HashToRange(x, max, kSha256); }

BigNum Context::HashToRangeSha384(absl::string_view x, const BigNum& max) { return HashToRange(x, max, kSha384); }

BigNum Context::HashToRangeSha512(absl::string_view x, const BigNum& max) { return HashToRange(x, max, kSha512); }

BigNum Context::HashToRange(absl::string_view x, const BigNum& max, DigestKind kind) {
  const int hash_output_length = kind == kSha512 ? 512 : (kind == kSha384 ? 384 : 256);
  const int desired_bit_length = max.BitLength() + hash_output_length;
  const int32_t iter_count = static_cast<int32_t>(
      std::ceil(static_cast<float>(desired_bit_length) / static_cast<float>(hash_output_length)));
  // At most 507 SHA-256 digests per call.
  BASE_CHECK(iter_count * hash_output_length < 130048,
             "The domain bit length must not be greater than 130048. Desired bit length: ", desired_bit_length);
  // A digest of L bits at most, shifted left by L before the next is added, is
  // the same as writing the digests one after the other, each padded to L/8
  // bytes: they are concatenated and read as one number in a single step. Only
  // a replaced digest operation could answer more bytes; then the digests are
  // shifted and added one by one.
  const size_t digest_bytes = static_cast<size_t>(hash_output_length / 8);
  std::string concatenated;
  concatenated.reserve(static_cast<size_t>(iter_count) * digest_bytes);
  std::vector<std::string> oversized;
  std::string input;
  for (int32_t i = 1; i <= iter_count; ++i) {
    // The counter's minimal big-endian bytes (there are at most 507 counters).
    input.clear();
    if (i > 0xff) input.push_back(static_cast<char>(i >> 8));
    input.push_back(static_cast<char>(i & 0xff));
    input.append(x.data(), x.size());
    std::string digest;
    if (kind == kSha512) {
      digest = DigestSha512(input);
    } else if (kind == kSha384) {
      digest = DigestSha384(input);
    } else {
      digest = DigestSha256(input);
    }
    if (digest.size() <= digest_bytes && oversized.empty()) {
      concatenated.append(digest_bytes - digest.size(), '\0');
      concatenated += digest;
    } else {
      oversized.push_back(std::move(digest));
    }
  }
  BigNum acc(bn_ctx_.get(), absl::string_view(concatenated));
  for (const std::string& digest : oversized) {
    acc = acc.LShift(hash_output_length).Add(BigNum(bn_ctx_.get(), absl::string_view(digest)));
  }
  return acc.RShift(iter_count * hash_output_length - desired_bit_length).Mod(max);
}

BigNum Context::RandomBelow(const BigNum& max_value) {
  BigNum r(bn_ctx_.get());
  BASE_CHECK(1 == BN_rand_range(r.bn_.get(), max_value.bn_.get()), LastCryptoErrorText());
  return r;
}

BigNum Context::RandomInRange(const BigNum& start, const BigNum& end) {
  BASE_CHECK(start.CompareTo(end) == -1);
  BigNum r = RandomBelow(end.Sub(start));
  return r.Add(start);
}

std::string Context::RandomBytes(int num_bytes) {
  BASE_CHECK_GE(num_bytes, 0, "num_bytes must be nonnegative, provided value was ", num_bytes, ".");
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[num_bytes]);
  BASE_CHECK(1 == RAND_bytes(bytes.get(), num_bytes), LastCryptoErrorText());
  return std::string(reinterpret_cast<const char*>(bytes.get()), num_bytes);
}

BigNum Context::RandomCoprimeBelow(const BigNum& n) {
  BigNum r = RandomBelow(n);
  while (r.Gcd(n).CompareTo(one_) > 0) {
    r = RandomBelow(n);
  }
  return r;
}

}  // namespace blinders
