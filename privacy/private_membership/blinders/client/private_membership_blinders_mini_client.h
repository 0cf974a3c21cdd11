// private_membership::blinders::PrivateMembershipBlindersMiniClient: the client
// side of a blinded private-set-membership query.
//
// The client hides each query id behind a bucket prefix of its salted hash and
// its encryption under a one-time commutative elliptic-curve key that never
// leaves the client. The server multiplies the encrypted ids by its own key
// and returns them with the buckets' encrypted entries; the client removes its
// key layer, finds each id's entries by a salted lookup hash and decrypts their
// values with a key derived from the server-encrypted id.
//
//   auto client = PrivateMembershipBlindersMiniClient::Create({query_id}, parameters);
//   absl::StatusOr<PrivateMembershipBlindersRequest> request = (*client)->CreateRequest(use_case);
//   ... send the request, receive `response` ...
//   absl::StatusOr<std::vector<MembershipResult>> results = (*client)->ProcessResponse(response);
//
// A client is used by one thread at a time. CreateRequest may be called more
// than once: the real records come out the same, new dummies are drawn, and a
// response to any earlier request of the same client can still be processed.
// Only the client that built a request can process the response to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/status/statusor.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/public/ec_commutative_cipher.h"
#include "privacy/private_membership/blinders/shared/records.h"

namespace private_membership::blinders {

class PrivateMembershipBlindersMiniClient {
 public:
  // A client for `query_ids` under `parameters`, with a fresh key on P-256.
  // InvalidArgument, checked in this order:
  //   "hashed_non_sensitive_id_prefix_bit_length must be non-negative."
  //   "Hash Type must be declared." (a hash type other than 1 or 2)
  //   "Max hash prefixes count must be less than or equal to 2^hashed_non_sensitive_id_prefix_bit_length."
  //   "Number of IDs to query must be less than or equal to the max has prefix count."
  //     (a count of 1 or more and more query ids than it)
  static absl::StatusOr<std::unique_ptr<PrivateMembershipBlindersMiniClient>> Create(
      std::vector<QueryId> query_ids, const PrivateMembershipBlindersParameters& parameters);

  PrivateMembershipBlindersMiniClient(const PrivateMembershipBlindersMiniClient&) = delete;
  PrivateMembershipBlindersMiniClient& operator=(const PrivateMembershipBlindersMiniClient&) = delete;
  ~PrivateMembershipBlindersMiniClient() = default;

  // One record per query id, in their order; with a max_hash_prefixes_count of
  // 1 or more, random dummy records until that many distinct bucket ids are
  // covered, and all records sorted by encrypted_id. A prefix bit length above
  // 256 fails with "Truncation bit length out of bounds.".
  absl::StatusOr<PrivateMembershipBlindersRequest> CreateRequest(int32_t use_case);

  // One result per answered real id, in response order; dummies are skipped.
  // The first failure is returned alone, with no partial results:
  //   InvalidArgument "Processed response does not correspond to created request."
  //     for an id no request of this client produced;
  //   InvalidArgument "Encrypted bucket lists are not parallel." for a bucket whose
  //     value list, or non-empty metadata list, differs in length from its id list;
  //   InvalidArgument "Number of bins that is not a power of 2 isn't supported.";
  //   with num_bins 0, a value that does not decrypt (an unsupported scheme
  //     included) gives the decryption's status; with num_bins other than 0 that
  //     entry is passed over;
  //   a doubly encrypted id that is no valid point gives the cipher's status.
  absl::StatusOr<std::vector<MembershipResult>> ProcessResponse(const PrivateMembershipBlindersResponse& response);

 private:
  struct EncryptedIdEntry {
    int32_t query_index = 0;
    bool is_real = false;
  };

  PrivateMembershipBlindersMiniClient(std::vector<QueryId> query_ids,
                                      const PrivateMembershipBlindersParameters& parameters,
                                      std::unique_ptr<::blinders::ECCommutativeCipher> ec_cipher);

  absl::StatusOr<EncryptedRequest> BuildRecord(const QueryId& query_id);
  absl::StatusOr<MembershipResult> SearchBuckets(const std::string& server_encrypted_id,
                                                 const EncryptedResponse& encrypted_response);

  std::vector<QueryId> query_ids_;
  absl::flat_hash_map<std::string, EncryptedIdEntry> encrypted_id_entries_;
  PrivateMembershipBlindersParameters parameters_;
  std::unique_ptr<::blinders::ECCommutativeCipher> ec_cipher_;
  std::unique_ptr<::blinders::Context> context_;
};

}  // namespace private_membership::blinders
