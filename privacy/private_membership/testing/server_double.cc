#include "privacy/private_membership/testing/server_double.h"

#include <map>
#include <memory>
#include <utility>

#include <openssl/nid.h>

#include "privacy/private_membership/blinders/shared/crypto_utils.h"
#include "privacy/private_membership/blinders/shared/hashed_bucket_id.h"
#include "privacy/private_membership/common/crypto_utils.h"

namespace private_membership::blinders::testing {

namespace {

::blinders::ECGroup P256(::blinders::Context* context) {
  return std::move(::blinders::ECGroup::Create(NID_X9_62_prime256v1, context)).value();
}

void AddEntry(EncryptedBucket& bucket, std::string key, std::string value,
              const std::optional<PrivateMembershipBlindersIdValuePairMetadata>& metadata, bool with_metadata) {
  bucket.encrypted_id.push_back(std::move(key));
  bucket.encrypted_value.push_back(std::move(value));
  if (with_metadata) bucket.metadata.push_back(metadata.value_or(PrivateMembershipBlindersIdValuePairMetadata{}));
}

void ApplyFaults(const ServerFaults& faults, EncryptedBucket& bucket) {
  if (faults.short_value_list && !bucket.encrypted_value.empty()) bucket.encrypted_value.pop_back();
  if (faults.long_metadata_list) bucket.metadata.emplace_back();
  for (std::string& value : bucket.encrypted_value) {
    if (faults.corrupt_values && !value.empty()) value.back() = static_cast<char>(value.back() ^ 1);
  }
  for (std::string& key : bucket.encrypted_id) {
    if (faults.oversized_entry_ids) key.push_back('\x5a');
  }
}

}  // namespace

std::string EncodeLengthPrefixed(absl::string_view value) {
  std::string out(4, '\0');
  const auto n = static_cast<uint32_t>(value.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((n >> (8 * i)) & 0xff);
  out.append(value.data(), value.size());
  return out;
}

ServerDouble::ServerDouble(std::vector<ServerEntry> entries, ServerOptions options)
    : entries_(std::move(entries)),
      options_(std::move(options)),
      context_(std::make_unique<::blinders::Context>()),
      group_(P256(context_.get())),
      key_(group_.DrawPrivateKey()) {}

absl::StatusOr<std::string> ServerDouble::ServerEncrypt(absl::string_view id) {
  absl::StatusOr<::blinders::ECPoint> point = group_.HashToCurveSha256(id);
  if (!point.ok()) return point.status();
  absl::StatusOr<::blinders::ECPoint> encrypted = point->Mul(key_);
  if (!encrypted.ok()) return encrypted.status();
  return encrypted->ToBytesCompressed();
}

absl::StatusOr<std::string> ServerDouble::Reencrypt(absl::string_view encoded) {
  absl::StatusOr<::blinders::ECPoint> point = group_.CreateECPoint(encoded);
  if (!point.ok()) return point.status();
  absl::StatusOr<::blinders::ECPoint> encrypted = point->Mul(key_);
  if (!encrypted.ok()) return encrypted.status();
  return encrypted->ToBytesCompressed();
}

absl::StatusOr<std::string> ServerDouble::EncryptValue(absl::string_view server_encrypted_id,
                                                       absl::string_view value, int32_t encryption_scheme) {
  absl::StatusOr<std::string> key = DeriveValueKey(server_encrypted_id, context_.get());
  if (!key.ok()) return key.status();
  absl::StatusOr<std::unique_ptr<Cipher>> cipher = CreateCipher(encryption_scheme, *key);
  if (!cipher.ok()) return cipher.status();
  if (encryption_scheme == kAesCtr256NoAuth) return (*cipher)->Encrypt(value);
  return (*cipher)->Encrypt(EncodeLengthPrefixed(value));
}

absl::StatusOr<std::string> ServerDouble::EntryKey(absl::string_view server_encrypted_id) {
  const std::string lookup_hash = ComputeLookupHash(server_encrypted_id, context_.get());
  if (options_.num_bins >= 1) return ComputeBinnedHash(lookup_hash, options_.num_bins);
  return lookup_hash.substr(0, options_.lookup_prefix_bytes);
}

absl::StatusOr<PrivateMembershipBlindersResponse> ServerDouble::Answer(
    const PrivateMembershipBlindersRequest& request) {
  const ServerFaults& faults = options_.faults;
  // One part per distinct bucket id, in the order the request first names it.
  std::vector<std::string> bucket_ids;
  std::map<std::string, size_t> part_of_bucket;
  std::vector<EncryptedResponse> parts;
  for (const EncryptedRequest& record : request.encrypted_request) {
    const auto [it, added] = part_of_bucket.try_emplace(record.hashed_bucket_id, parts.size());
    const size_t index = it->second;
    if (added) {
      bucket_ids.push_back(record.hashed_bucket_id);
      parts.emplace_back();
    }
    std::string doubly_encrypted = "\x04not a point";
    if (!faults.invalid_doubly_encrypted_id) {
      absl::StatusOr<std::string> reencrypted = Reencrypt(record.encrypted_id);
      if (!reencrypted.ok()) return reencrypted.status();
      doubly_encrypted = std::move(*reencrypted);
    }
    parts[index].doubly_encrypted_id.push_back({record.encrypted_id, std::move(doubly_encrypted)});
  }
  // The bucket of every held identifier, computed once per answer.
  std::vector<std::string> entry_buckets;
  for (const ServerEntry& entry : entries_) {
    absl::StatusOr<HashedBucketId> bucket_id = HashedBucketId::Create(
        entry.non_sensitive_id, request.parameters.hashed_non_sensitive_id_prefix_bit_length,
        request.parameters.hash_type, context_.get());
    if (!bucket_id.ok()) return bucket_id.status();
    entry_buckets.push_back(std::move(bucket_id->bytes));
  }
  for (size_t p = 0; p < parts.size(); ++p) {
    EncryptedResponse& part = parts[p];
    EncryptedBucket& bucket = options_.num_bins >= 1 ? part.binned_encrypted_bucket : part.encrypted_bucket;
    for (size_t e = 0; e < entries_.size(); ++e) {
      if (entry_buckets[e] != bucket_ids[p]) continue;
      const ServerEntry& entry = entries_[e];
      absl::StatusOr<std::string> server_encrypted_id = ServerEncrypt(entry.non_sensitive_id + entry.sensitive_id);
      if (!server_encrypted_id.ok()) return server_encrypted_id.status();
      absl::StatusOr<std::string> key = EntryKey(*server_encrypted_id);
      if (!key.ok()) return key.status();
      std::string encrypted_value;
      if (!entry.value.empty()) {
        absl::StatusOr<std::string> encrypted =
            EncryptValue(*server_encrypted_id, entry.value, options_.encryption_scheme);
        if (!encrypted.ok()) return encrypted.status();
        encrypted_value = std::move(*encrypted);
      }
      AddEntry(bucket, std::move(*key), std::move(encrypted_value), entry.metadata, options_.with_metadata);
    }
    ApplyFaults(faults, bucket);
    part.response_metadata.num_bins = faults.announced_num_bins.value_or(options_.num_bins);
    part.response_metadata.encryption_scheme = faults.announced_scheme.value_or(options_.encryption_scheme);
  }
  if (faults.unknown_encrypted_id && !parts.empty()) {
    absl::StatusOr<std::string> stranger = ServerEncrypt("an id nobody asked for");
    if (!stranger.ok()) return stranger.status();
    absl::StatusOr<std::string> doubly = Reencrypt(*stranger);
    if (!doubly.ok()) return doubly.status();
    parts.back().doubly_encrypted_id.push_back({*stranger, *doubly});
  }
  PrivateMembershipBlindersResponse response;
  response.encrypted_response = std::move(parts);
  return response;
}

}  // namespace private_membership::blinders::testing
