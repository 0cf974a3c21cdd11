// security::SHA256: an incremental SHA-256 hash object behind the
// MerkleDamgaard interface, over BoringSSL's SHA-256.
//
//   security::SHA256 hash;
//   hash.Update(bytes.data(), bytes.size());
//   std::string digest = hash.Digest();  // 32 bytes
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <openssl/sha.h>

#include "security/util/merkledamgaard-inl.h"
#include "security/util/merkledamgaard.h"

namespace security {

struct SHA256Name {
  static constexpr const char* kName = "SHA256";
};

using SHA256Impl = OpenSSLHash<sha256_state_st, &SHA256_Init, &SHA256_Update, &SHA256_Final, 64, 32, SHA256Name>;

class SHA256 : public MerkleDamgaard {
 public:
  SHA256();
  ~SHA256() override;
  SHA256(const SHA256&) = delete;
  SHA256& operator=(const SHA256&) = delete;

  void Reset() override;
  void Update(const void* data, int length) override;
  void Update(const void* data, size_t length) override;
  const uint8_t* RawDigest() override;
  int DigestSize() const override;
  std::string Digest() override;
  const int& SharedDigestSize() const override;
  // `other` must be a SHA256.
  void CopyFrom(const MerkleDamgaard& other) override;
  // A fatal check when this object is already finalised.
  std::unique_ptr<MerkleDamgaard> Clone() const override;
  std::string Name() const override;

 private:
  std::unique_ptr<SHA256Impl> h_;
};

}  // namespace security
