// blinders::Context: the BoringSSL scratch state shared by big-number and
// digest work, with SHA-2 digests, hashing of bytes to an integer range, and
// random numbers and bytes.
//
// A context and every BigNum, ECGroup and ECPoint made from it are used by one
// thread at a time; separate contexts are independent. Numbers made through a
// context borrow its BN_CTX and must be destroyed before it.
//
// The operations are virtual and call one another through their virtual
// entries (HashToRange calls the Digest* operations, the HashToRange* wrappers
// call HashToRange, RandomInRange and RandomCoprimeBelow call RandomBelow), so
// a subclass that replaces one operation replaces it for those callers too.
//
// Nothing here returns an error: a failed library call or a broken
// precondition is a fatal check.
#pragma once

#include <string>

#include <openssl/base.h>
#include <openssl/bn.h>
#include <openssl/digest.h>

#include "absl/strings/string_view.h"
#include "privacy/blinders/cpp/crypto/big_num.h"

namespace blinders {

// The text of the oldest error BoringSSL queued for the calling thread, which
// is taken off the queue; empty when there is none.
std::string LastCryptoErrorText();

class Context {
 public:
  // The digest HashToRange uses. Any other value behaves as kSha256.
  enum DigestKind : int { kSha256 = 0, kSha384 = 1, kSha512 = 2 };

  Context();
  virtual ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  // SHA-256, SHA-384 and SHA-512 of `bytes` (32, 48 and 64 bytes).
  virtual std::string DigestSha256(absl::string_view bytes);
  virtual std::string DigestSha384(absl::string_view bytes);
  virtual std::string DigestSha512(absl::string_view bytes);

  // HashToRange with kSha256, kSha384 and kSha512.
  virtual BigNum HashToRangeSha256(absl::string_view x, const BigNum& max);
  virtual BigNum HashToRangeSha384(absl::string_view x, const BigNum& max);
  virtual BigNum HashToRangeSha512(absl::string_view x, const BigNum& max);

  // Uniform random number in [0, max); max must be positive.
  virtual BigNum RandomBelow(const BigNum& max);
  // Uniform random number in [start, end); start must be below end.
  virtual BigNum RandomInRange(const BigNum& start, const BigNum& end);
  // `num_bytes` random bytes; num_bytes must not be negative.
  virtual std::string RandomBytes(int num_bytes);
  // Random r in [0, n) with gcd(r, n) at most 1 (n = 1 gives 0).
  virtual BigNum RandomCoprimeBelow(const BigNum& n);

  // Hashes `x` to a number in [0, max). With L the digest's output length in
  // bits and B = bit length of max + L, the digests of the counters
  // 1..ceil(B / L) (minimal big-endian bytes) each followed by x are
  // concatenated, cut to the top B bits, and reduced mod max. The total digest
  // output must stay below 130048 bits.
  virtual BigNum HashToRange(absl::string_view x, const BigNum& max, DigestKind kind);

  BN_CTX* GetBnCtx() { return bn_ctx_.get(); }
  // A BigNum owning `bn`, bound to this context.
  BigNum AdoptBignum(bssl::UniquePtr<BIGNUM> bn);

  // The constants 1, 2 and 3.
  const BigNum& One() const { return one_; }
  const BigNum& Two() const { return two_; }
  const BigNum& Three() const { return three_; }

 private:
  std::string Digest(const EVP_MD* md, absl::string_view bytes);

  // Destroyed in reverse order: the constants first, then the digest context,
  // then the BN_CTX they are bound to.
  bssl::UniquePtr<BN_CTX> bn_ctx_;
  bssl::UniquePtr<EVP_MD_CTX> evp_md_ctx_;
  BigNum one_;
  BigNum two_;
  BigNum three_;
};

}  // namespace blinders
