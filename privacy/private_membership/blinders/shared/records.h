// The plain records of a blinded private-set-membership exchange: the query
// parameters and ids a caller hands to the mini client, the request it builds,
// the server's response, and the per-id result of processing that response.
// All byte strings may hold any bytes, zero bytes included. The wire layer
// converts requests and responses to and from their messages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace private_membership::blinders {

// The query parameters.
struct PrivateMembershipBlindersParameters {
  // Leading bits of the salted hash of a non-sensitive id that form its bucket
  // id; 0 gives an empty bucket id.
  int32_t hashed_non_sensitive_id_prefix_bit_length = 0;
  // The bucket-hash type (HashType): 1 and 2 are accepted and hash alike.
  int32_t hash_type = 0;
  // Distinct bucket ids a request must cover: 1 or more adds dummy records up
  // to that count and sorts the records; 0 or less adds none.
  int32_t max_hash_prefixes_count = 0;

  bool operator==(const PrivateMembershipBlindersParameters&) const = default;
};

// One identifier to look up.
struct QueryId {
  std::string query_tag;         // sent in the clear with the id's record
  std::string non_sensitive_id;  // selects the bucket
  std::string sensitive_id;      // appended to non_sensitive_id before encryption

  bool operator==(const QueryId&) const = default;
};

// One record of a request.
struct EncryptedRequest {
  std::string query_tag;         // empty for a dummy
  std::string hashed_bucket_id;  // the id's bucket
  std::string encrypted_id;      // the id under the client's key: a compressed P-256 point

  bool operator==(const EncryptedRequest&) const = default;
};

struct PrivateMembershipBlindersRequest {
  int32_t use_case = 0;
  std::string extra_bytes;   // left empty by the client
  int32_t extra_number = 0;  // left 0 by the client
  PrivateMembershipBlindersParameters parameters;
  std::vector<EncryptedRequest> encrypted_request;  // real and dummy records

  bool operator==(const PrivateMembershipBlindersRequest&) const = default;
};

// One identifier as the server answers it.
struct DoublyEncryptedId {
  std::string encrypted_id;         // the request record's encrypted_id as received
  std::string doubly_encrypted_id;  // that point under the server's key as well

  bool operator==(const DoublyEncryptedId&) const = default;
};

// Metadata of one bucket entry; the client copies it whole and never reads it.
struct PrivateMembershipBlindersIdValuePairMetadata {
  std::string primary_bytes;
  std::optional<std::string> secondary_bytes;
  std::optional<std::string> tertiary_bytes;

  bool operator==(const PrivateMembershipBlindersIdValuePairMetadata&) const = default;
};

// The server's entries: three parallel lists, entry i being item i of each.
struct EncryptedBucket {
  std::vector<std::string> encrypted_id;     // lookup-hash prefixes
  std::vector<std::string> encrypted_value;  // empty: a member without a value
  std::vector<PrivateMembershipBlindersIdValuePairMetadata> metadata;  // empty, or one per entry

  bool operator==(const EncryptedBucket&) const = default;
};

struct EncryptedResponseMetadata {
  int32_t num_bins = 0;           // 1 or more: search the binned bucket by the binned lookup hash
  int32_t encryption_scheme = 1;  // private_membership::EncryptionScheme of the values

  bool operator==(const EncryptedResponseMetadata&) const = default;
};

// One part of a response: identifiers and the entries they are looked up in.
struct EncryptedResponse {
  std::vector<DoublyEncryptedId> doubly_encrypted_id;
  EncryptedBucket encrypted_bucket;         // searched when num_bins is below 1
  EncryptedBucket binned_encrypted_bucket;  // searched when num_bins is 1 or more
  int32_t extra_number = 0;                 // carried, never read by the client
  EncryptedResponseMetadata response_metadata;

  bool operator==(const EncryptedResponse&) const = default;
};

struct PrivateMembershipBlindersResponse {
  std::vector<EncryptedResponse> encrypted_response;

  bool operator==(const PrivateMembershipBlindersResponse&) const = default;
};

// One decrypted value together with the metadata of the bucket entry it came
// from (absent when the bucket carries no metadata).
struct MatchedValue {
  std::string value;
  std::optional<PrivateMembershipBlindersIdValuePairMetadata> metadata;

  bool operator==(const MatchedValue&) const = default;
};

// The answer for one real query id.
struct MembershipResult {
  QueryId query_id;
  // At least one entry matched and its value was empty or decrypted.
  bool is_member = false;
  // The first decrypted value; empty when none.
  std::string value;
  // Every decrypted value, in bucket order.
  std::vector<std::string> values;
  // The metadata of every entry counted for membership (members without a
  // value included), in bucket order, when the bucket carries metadata. It is
  // not parallel to `values`: use `matched_values` to pair them.
  std::vector<PrivateMembershipBlindersIdValuePairMetadata> metadata;
  // Every decrypted value with the metadata of its own entry, in bucket order;
  // parallel to `values`.
  std::vector<MatchedValue> matched_values;

  bool operator==(const MembershipResult&) const = default;
};

}  // namespace private_membership::blinders
