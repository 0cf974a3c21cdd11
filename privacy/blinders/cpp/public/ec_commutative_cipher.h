// blinders::ECCommutativeCipher: the blinding primitive of private-set
// membership.
//
// With H a hashing of bytes to the curve and k a secret scalar drawn when the
// cipher is made, Encrypt(m) is the compressed encoding of k * H(m) and
// Decrypt(C) the compressed encoding of k^-1 * C. Scalar multiplication
// commutes, so after a server has multiplied a client's ciphertext by its own
// scalar s, the client's Decrypt of s * k * H(m) leaves s * H(m): the client's
// layer is removed and the server's remains.
//
// The key is made inside the cipher and never leaves it. A cipher owns its own
// Context and is used by one thread at a time. Usage:
//
//   absl::StatusOr<std::unique_ptr<ECCommutativeCipher>> cipher =
//       ECCommutativeCipher::CreateWithNewKey(NID_X9_62_prime256v1, ECCommutativeCipher::HASH_SHA256);
//   absl::StatusOr<std::string> ciphertext = (*cipher)->Encrypt(id);        // 33 bytes on P-256
//   absl::StatusOr<std::string> server_only = (*cipher)->Decrypt(reencrypted);
#pragma once

#include <memory>
#include <string>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"
#include "privacy/blinders/cpp/crypto/big_num.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/ec_group.h"
#include "privacy/blinders/cpp/crypto/ec_point.h"

namespace blinders {

class ECCommutativeCipher {
 public:
  // How plaintexts are hashed to the curve.
  enum HashType {
    HASH_SHA256 = 0,    // ECGroup::HashToCurveSha256 (try-and-increment)
    HASH_SHA384 = 1,    // ECGroup::HashToCurveSha384
    HASH_SHA512 = 2,    // ECGroup::HashToCurveSha512
    HASH_SSWU_RO = 3,   // ECGroup::HashToCurveSswuRo with the tag "ECCommutativeCipher"
  };

  // A cipher on the curve with BoringSSL NID `curve_id` and a fresh random key
  // in [1, order). An unsupported curve gives the status of ECGroup::Create;
  // a hash type outside 0..3 gives InvalidArgument "Invalid hash type.".
  static absl::StatusOr<std::unique_ptr<ECCommutativeCipher>> CreateWithNewKey(int curve_id, int hash_type);

  ECCommutativeCipher(const ECCommutativeCipher&) = delete;
  ECCommutativeCipher& operator=(const ECCommutativeCipher&) = delete;
  ECCommutativeCipher(ECCommutativeCipher&&) = delete;
  ECCommutativeCipher& operator=(ECCommutativeCipher&&) = delete;
  ~ECCommutativeCipher() = default;

  // The compressed encoding of k * H(plaintext). Deterministic for one cipher.
  absl::StatusOr<std::string> Encrypt(absl::string_view plaintext);

  // The compressed encoding of k^-1 * C, where C is the point `ciphertext`
  // encodes (compressed or uncompressed SEC 1). An encoding that is not a
  // valid point gives the InvalidArgument status of ECGroup::CreateECPoint.
  absl::StatusOr<std::string> Decrypt(absl::string_view ciphertext);

  // H(m), the hashing the cipher's hash type selects.
  absl::StatusOr<ECPoint> HashToTheCurve(absl::string_view m);

 private:
  ECCommutativeCipher(std::unique_ptr<Context> context, ECGroup group, BigNum private_key, int hash_type);

  // The context is declared first so that it is destroyed last, after the
  // group and the keys that borrow its BN_CTX.
  std::unique_ptr<Context> context_;
  ECGroup group_;
  BigNum private_key_;
  BigNum private_key_inverse_;
  int hash_type_;
};

}  // namespace blinders
