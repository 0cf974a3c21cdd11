// Hashing to the curves P-256 and P-384 by the random-oracle suites
// P256_XMD:SHA-256_SSWU_RO_ and P384_XMD:SHA-384_SSWU_RO_ of RFC 9380
// (expand_message_xmd, hash_to_field with two elements, the simplified SWU
// map, point addition; both curves have cofactor 1).
//
// Written on BoringSSL's big numbers and points because the BoringSSL this
// project builds against does not export its own hash-to-curve functions.
// The arithmetic is not constant-time: the time taken depends on the message.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include <openssl/base.h>
#include <openssl/ec.h>

#include "absl/strings/string_view.h"
#include "privacy/blinders/cpp/crypto/prime_field.h"

namespace blinders::hash_to_curve {

// expand_message_xmd with the digest `md` (SHA-256 or SHA-384): `len_in_bytes`
// uniform bytes from `msg` under the domain-separation tag `dst`. A tag longer
// than 255 bytes is first reduced to H("H2C-OVERSIZE-DST-" || dst). Nothing
// when len_in_bytes needs more than 255 digest blocks or exceeds 65535.
std::optional<std::string> ExpandMessageXmd(const EVP_MD* md, absl::string_view msg, absl::string_view dst,
                                            size_t len_in_bytes);

// Sets `out` to the hash of `msg` with tag `dst` on `group`, which must be
// P-256 (NID_X9_62_prime256v1), respectively P-384 (NID_secp384r1). Returns 1
// on success; otherwise 0, with an error queued on BoringSSL's error queue.
// A caller that hashes often passes the group's field (`field`, whose prime
// must be the curve's) and its scratch `bn_ctx`; without them each call makes
// its own.
int P256XmdSha256SswuRo(const EC_GROUP* group, EC_POINT* out, absl::string_view dst, absl::string_view msg,
                        const PrimeField* field = nullptr, BN_CTX* bn_ctx = nullptr);
int P384XmdSha384SswuRo(const EC_GROUP* group, EC_POINT* out, absl::string_view dst, absl::string_view msg,
                        const PrimeField* field = nullptr, BN_CTX* bn_ctx = nullptr);

}  // namespace blinders::hash_to_curve
