// private_membership::Cipher: the interface of the symmetric ciphers that
// protect the values stored in a private-membership response. The client only
// decrypts; Encrypt is the exact inverse and makes ciphertexts in the layout
// of the concrete class.
//
// Concrete ciphers are made by their static Create from a 32-byte key, are not
// changed afterwards, and make their own BoringSSL context in every call, so
// one object may serve several threads.
#pragma once

#include <string>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"

namespace private_membership {

class Cipher {
 public:
  virtual ~Cipher() = default;

  // The ciphertext of `plaintext` (a null view counts as empty).
  virtual absl::StatusOr<std::string> Encrypt(absl::string_view plaintext) const = 0;

  // The plaintext of `ciphertext`, or a status when it cannot be decrypted.
  virtual absl::StatusOr<std::string> Decrypt(absl::string_view ciphertext) const = 0;
};

}  // namespace private_membership
