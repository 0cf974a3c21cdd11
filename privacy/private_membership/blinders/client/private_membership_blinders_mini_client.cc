#include "privacy/private_membership/blinders/client/private_membership_blinders_mini_client.h"

#include <algorithm>
#include <utility>

#include <openssl/nid.h>
#include <openssl/rand.h>

#include "absl/container/flat_hash_set.h"
#include "base/check.h"
#include "privacy/blinders/cpp/crypto/status_util.h"
#include "privacy/private_membership/blinders/shared/crypto_utils.h"
#include "privacy/private_membership/blinders/shared/hashed_bucket_id.h"
#include "privacy/private_membership/common/crypto_utils.h"

namespace private_membership::blinders {

namespace {

constexpr int kDummyIdSize = 32;

bool IsParallel(const EncryptedBucket& bucket) {
  return bucket.encrypted_value.size() == bucket.encrypted_id.size() &&
         (bucket.metadata.empty() || bucket.metadata.size() == bucket.encrypted_id.size());
}

// An entry matches when it is a prefix of the lookup hash; an entry longer than
// the hash matches nothing.
bool Matches(const std::string& entry, const std::string& lookup_hash) {
  return entry.size() <= lookup_hash.size() && lookup_hash.compare(0, entry.size(), entry) == 0;
}

std::string RandomBytes(int size) {
  std::string bytes(static_cast<size_t>(size), '\0');
  BASE_CHECK(RAND_bytes(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()) == 1,
             ::blinders::LastCryptoErrorText());
  return bytes;
}

}  // namespace

PrivateMembershipBlindersMiniClient::PrivateMembershipBlindersMiniClient(
    std::vector<QueryId> query_ids, const PrivateMembershipBlindersParameters& parameters,
    std::unique_ptr<::blinders::ECCommutativeCipher> ec_cipher)
    : query_ids_(std::move(query_ids)),
      parameters_(parameters),
      ec_cipher_(std::move(ec_cipher)),
      context_(std::make_unique<::blinders::Context>()) {}

absl::StatusOr<std::unique_ptr<PrivateMembershipBlindersMiniClient>> PrivateMembershipBlindersMiniClient::Create(
    std::vector<QueryId> query_ids, const PrivateMembershipBlindersParameters& parameters) {
  const int32_t bits = parameters.hashed_non_sensitive_id_prefix_bit_length;
  const int32_t count = parameters.max_hash_prefixes_count;
  if (bits < 0) {
    return ::blinders::InvalidArgumentError("hashed_non_sensitive_id_prefix_bit_length must be non-negative.");
  }
  if (parameters.hash_type != kSha256 && parameters.hash_type != kSha256Alternate) {
    return ::blinders::InvalidArgumentError("Hash Type must be declared.");
  }
  // 2^31 and more exceed every int32 count.
  if (bits < 31 && int64_t{count} > (int64_t{1} << bits)) {
    return ::blinders::InvalidArgumentError(
        "Max hash prefixes count must be less than or equal to 2^hashed_non_sensitive_id_prefix_bit_length.");
  }
  if (count >= 1 && query_ids.size() > static_cast<size_t>(count)) {
    return ::blinders::InvalidArgumentError(
        "Number of IDs to query must be less than or equal to the max has prefix count.");
  }
  absl::StatusOr<std::unique_ptr<::blinders::ECCommutativeCipher>> cipher =
      ::blinders::ECCommutativeCipher::CreateWithNewKey(NID_X9_62_prime256v1,
                                                        ::blinders::ECCommutativeCipher::HASH_SHA256);
  if (!cipher.ok()) return cipher.status();
  return std::unique_ptr<PrivateMembershipBlindersMiniClient>(
      new PrivateMembershipBlindersMiniClient(std::move(query_ids), parameters, std::move(*cipher)));
}

absl::StatusOr<EncryptedRequest> PrivateMembershipBlindersMiniClient::BuildRecord(const QueryId& query_id) {
  absl::StatusOr<HashedBucketId> bucket_id = HashedBucketId::Create(query_id, parameters_, context_.get());
  if (!bucket_id.ok()) return bucket_id.status();
  absl::StatusOr<std::string> encrypted_id =
      ec_cipher_->Encrypt(query_id.non_sensitive_id + query_id.sensitive_id);
  if (!encrypted_id.ok()) return encrypted_id.status();
  return EncryptedRequest{query_id.query_tag, std::move(bucket_id->bytes), std::move(*encrypted_id)};
}

absl::StatusOr<PrivateMembershipBlindersRequest> PrivateMembershipBlindersMiniClient::CreateRequest(
    int32_t use_case) {
  std::vector<EncryptedRequest> records;
  absl::flat_hash_set<std::string> bucket_ids;
  for (size_t i = 0; i < query_ids_.size(); ++i) {
    absl::StatusOr<EncryptedRequest> record = BuildRecord(query_ids_[i]);
    if (!record.ok()) return record.status();
    encrypted_id_entries_.try_emplace(record->encrypted_id, EncryptedIdEntry{static_cast<int32_t>(i), true});
    bucket_ids.insert(record->hashed_bucket_id);
    records.push_back(std::move(*record));
  }
  const int32_t count = parameters_.max_hash_prefixes_count;
  if (count >= 1) {
    while (bucket_ids.size() < static_cast<size_t>(count)) {
      const QueryId dummy{std::string(), RandomBytes(kDummyIdSize), RandomBytes(kDummyIdSize)};
      absl::StatusOr<EncryptedRequest> record = BuildRecord(dummy);
      if (!record.ok()) return record.status();
      encrypted_id_entries_.try_emplace(record->encrypted_id, EncryptedIdEntry{0, false});
      bucket_ids.insert(record->hashed_bucket_id);
      records.push_back(std::move(*record));
    }
    // std::string compares bytes as unsigned char, a proper prefix first.
    std::sort(records.begin(), records.end(),
              [](const EncryptedRequest& a, const EncryptedRequest& b) { return a.encrypted_id < b.encrypted_id; });
  }
  PrivateMembershipBlindersRequest request;
  request.use_case = use_case;
  request.parameters = parameters_;
  request.encrypted_request = std::move(records);
  return request;
}

absl::StatusOr<std::vector<MembershipResult>> PrivateMembershipBlindersMiniClient::ProcessResponse(
    const PrivateMembershipBlindersResponse& response) {
  // Entries are addressed by position across the three lists of a bucket, so a
  // response whose lists disagree in length is refused as a whole.
  for (const EncryptedResponse& part : response.encrypted_response) {
    if (!IsParallel(part.encrypted_bucket) || !IsParallel(part.binned_encrypted_bucket)) {
      return ::blinders::InvalidArgumentError("Encrypted bucket lists are not parallel.");
    }
  }
  std::vector<MembershipResult> results;
  for (const EncryptedResponse& part : response.encrypted_response) {
    for (const DoublyEncryptedId& id : part.doubly_encrypted_id) {
      absl::StatusOr<std::string> server_encrypted_id = ec_cipher_->Decrypt(id.doubly_encrypted_id);
      if (!server_encrypted_id.ok()) return server_encrypted_id.status();
      auto entry = encrypted_id_entries_.find(id.encrypted_id);
      if (entry == encrypted_id_entries_.end()) {
        return ::blinders::InvalidArgumentError("Processed response does not correspond to created request.");
      }
      if (!entry->second.is_real) continue;
      absl::StatusOr<MembershipResult> result = SearchBuckets(*server_encrypted_id, part);
      if (!result.ok()) return result.status();
      result->query_id = query_ids_[static_cast<size_t>(entry->second.query_index)];
      results.push_back(std::move(*result));
    }
  }
  return results;
}

absl::StatusOr<MembershipResult> PrivateMembershipBlindersMiniClient::SearchBuckets(
    const std::string& server_encrypted_id, const EncryptedResponse& encrypted_response) {
  const int32_t num_bins = encrypted_response.response_metadata.num_bins;
  const int32_t scheme = encrypted_response.response_metadata.encryption_scheme;
  std::string lookup_hash = ComputeLookupHash(server_encrypted_id, context_.get());
  const EncryptedBucket* bucket = &encrypted_response.encrypted_bucket;
  if (num_bins >= 1) {
    absl::StatusOr<std::string> binned = ComputeBinnedHash(lookup_hash, num_bins);
    if (!binned.ok()) return binned.status();
    lookup_hash = std::move(*binned);
    bucket = &encrypted_response.binned_encrypted_bucket;
  }
  MembershipResult result;
  std::string value_key;  // derived at the first value to decrypt
  for (size_t i = 0; i < bucket->encrypted_id.size(); ++i) {
    if (!Matches(bucket->encrypted_id[i], lookup_hash)) continue;
    const std::string& encrypted_value = bucket->encrypted_value[i];
    if (!encrypted_value.empty()) {
      if (value_key.empty()) {
        absl::StatusOr<std::string> key = DeriveValueKey(server_encrypted_id, context_.get());
        if (!key.ok()) return key.status();
        value_key = std::move(*key);
      }
      absl::StatusOr<std::string> value = DecryptValueWithKey(value_key, encrypted_value, scheme);
      if (!value.ok()) {
        if (num_bins != 0) continue;
        return value.status();
      }
      if (result.values.empty()) result.value = *value;
      MatchedValue matched{*value, std::nullopt};
      if (!bucket->metadata.empty()) matched.metadata = bucket->metadata[i];
      result.matched_values.push_back(std::move(matched));
      result.values.push_back(std::move(*value));
    }
    result.is_member = true;
    if (!bucket->metadata.empty()) result.metadata.push_back(bucket->metadata[i]);
  }
  return result;
}

}  // namespace private_membership::blinders
