// security::OpenSSLHash: the MerkleDamgaard implementation over one of
// BoringSSL's low-level hash functions (state type, Init, Update, Final, block
// and digest size, and a type naming it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <openssl/mem.h>

#include "absl/base/internal/raw_logging.h"
#include "absl/base/log_severity.h"
#include "base/casts.h"
#include "base/check.h"
#include "security/util/merkledamgaard.h"

namespace security {

template <typename State, int (*InitFn)(State*), int (*UpdateFn)(State*, const void*, size_t),
          int (*FinalFn)(uint8_t*, State*), int kBlockSize, int kDigestSize, typename NameType>
class OpenSSLHash : public MerkleDamgaard {
 public:
  OpenSSLHash() { Reset(); }
  ~OpenSSLHash() override {
    // The running state and the digest may reveal what was hashed.
    OPENSSL_cleanse(&state_, sizeof(state_));
    OPENSSL_cleanse(digest_, sizeof(digest_));
  }
  OpenSSLHash(const OpenSSLHash&) = delete;
  OpenSSLHash& operator=(const OpenSSLHash&) = delete;

  void Reset() override {
    InitFn(&state_);
    std::memset(digest_, 0, sizeof(digest_));
    finalized_ = false;
  }

  void Update(const void* data, int length) override {
    if (finalized_) {
      absl::raw_logging_internal::RawLog(
          static_cast<absl::LogSeverity>(UpdateAfterDigestLogSeverity()), __FILE__, __LINE__, "%s",
          "Calling Update on a MerkleDamgaard hash function after finalization (a call to Digest) is undefined. "
          "Reset the object before hashing again.");
    }
    BASE_CHECK(!finalized_, "This behavior is unsupported except for potential legacy implementations.");
    BASE_CHECK(length >= 0, "Update needs a length that is not negative.");
    UpdateFn(&state_, data, static_cast<size_t>(length));
  }

  void Update(const void* data, size_t length) override {
    constexpr size_t kPiece = size_t{1} << 30;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > kPiece) {
      Update(bytes, static_cast<int>(kPiece));
      bytes += kPiece;
      length -= kPiece;
    }
    Update(bytes, static_cast<int>(length));
  }

  const uint8_t* RawDigest() override {
    if (!finalized_) {
      FinalFn(digest_, &state_);
      finalized_ = true;
    }
    return digest_;
  }

  int DigestSize() const override { return kDigestSize; }

  std::string Digest() override { return std::string(reinterpret_cast<const char*>(RawDigest()), kDigestSize); }

  const int& SharedDigestSize() const override {
    static const int* const shared = new int(kDigestSize);
    return *shared;
  }

  void CopyFrom(const MerkleDamgaard& other) override {
    const OpenSSLHash* source = base::down_cast<const OpenSSLHash*>(&other);
    std::memcpy(&state_, &source->state_, sizeof(state_));
    std::memcpy(digest_, source->digest_, sizeof(digest_));
    finalized_ = source->finalized_;
  }

  std::unique_ptr<MerkleDamgaard> Clone() const override {
    auto clone = std::make_unique<OpenSSLHash>();
    std::memcpy(&clone->state_, &state_, sizeof(state_));
    return clone;
  }

  std::string Name() const override { return NameType::kName; }

  bool finalized() const { return finalized_; }

  static constexpr int kBlockBytes = kBlockSize;

 private:
  State state_;
  uint8_t digest_[kDigestSize];
  bool finalized_ = false;
};

}  // namespace security
