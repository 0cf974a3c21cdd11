#include "security/util/sha256.h"

#include "base/casts.h"
#include "base/check.h"

namespace security {

SHA256::SHA256() : h_(std::make_unique<SHA256Impl>()) {}

SHA256::~SHA256() = default;

void SHA256::Reset() { h_->Reset(); }

void SHA256::Update(const void* data, int length) { h_->Update(data, length); }

void SHA256::Update(const void* data, size_t length) { h_->Update(data, length); }

const uint8_t* SHA256::RawDigest() { return h_->RawDigest(); }

int SHA256::DigestSize() const { return h_->DigestSize(); }

std::string SHA256::Digest() { return h_->Digest(); }

const int& SHA256::SharedDigestSize() const { return h_->SharedDigestSize(); }

void SHA256::CopyFrom(const MerkleDamgaard& other) {
  const SHA256* source = base::down_cast<const SHA256*>(&other);
  h_->CopyFrom(*source->h_);
}

std::unique_ptr<MerkleDamgaard> SHA256::Clone() const {
  BASE_CHECK(!h_->finalized());
  auto clone = std::make_unique<SHA256>();
  clone->CopyFrom(*this);
  return clone;
}

std::string SHA256::Name() const { return h_->Name(); }

}  // namespace security
