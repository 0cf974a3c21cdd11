// Helpers shared by the blinders tests.
#pragma once

#include <string>

#include <openssl/bn.h>
#include <openssl/mem.h>

#include "absl/strings/escaping.h"
#include "privacy/blinders/cpp/crypto/big_num.h"
#include "privacy/blinders/cpp/crypto/context.h"

namespace blinders::testing {

// The number written in hexadecimal.
inline BigNum FromHex(Context& context, const std::string& hex) {
  BIGNUM* bn = nullptr;
  BN_hex2bn(&bn, hex.c_str());
  return context.AdoptBignum(bssl::UniquePtr<BIGNUM>(bn));
}

inline std::string Hex(const std::string& bytes) { return absl::BytesToHexString(bytes); }
// The number in hexadecimal (upper case), for messages.
inline std::string Hex(const BigNum& n) {
  char* text = BN_bn2hex(n.GetConstBignumPtr());
  std::string hex(text);
  OPENSSL_free(text);
  return hex;
}
inline std::string Bytes(const std::string& hex) { return absl::HexStringToBytes(hex); }

}  // namespace blinders::testing
