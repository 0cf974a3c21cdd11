// A private-set-membership server played in process, built from the same
// primitives as the client, for tests, fuzzing and benchmarks.
//
// The server holds a set of identifiers (non-sensitive and sensitive id) with
// a value and metadata each, and its own scalar s on P-256. For a request it
// answers, per distinct bucket id of the request's records, one
// EncryptedResponse: the records' encrypted ids multiplied by s, and one bucket
// entry per held identifier of that bucket, keyed by the lookup hash of its
// server-encrypted id E = s * H(id) (or its bin), with the value encrypted
// under the value key of E. Switches in `faults` make it answer wrongly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "absl/status/statusor.h"
#include "absl/strings/string_view.h"
#include "privacy/blinders/cpp/crypto/big_num.h"
#include "privacy/blinders/cpp/crypto/context.h"
#include "privacy/blinders/cpp/crypto/ec_group.h"
#include "privacy/private_membership/blinders/shared/records.h"

namespace private_membership::blinders::testing {

struct ServerEntry {
  std::string non_sensitive_id;
  std::string sensitive_id;
  std::string value;  // empty: a member without a value
  std::optional<PrivateMembershipBlindersIdValuePairMetadata> metadata;
};

// Ways the server can answer wrongly; all off by default.
struct ServerFaults {
  bool unknown_encrypted_id = false;         // adds an answer for an id no request named
  bool invalid_doubly_encrypted_id = false;  // answers bytes that are no point
  bool short_value_list = false;             // drops the last value of every non-empty bucket
  bool long_metadata_list = false;           // adds a metadata record with no entry to every bucket
  bool corrupt_values = false;               // flips the low bit of the last byte of every value
  bool oversized_entry_ids = false;          // appends a byte to every entry key
  std::optional<int32_t> announced_scheme;   // announced instead of the scheme used
  std::optional<int32_t> announced_num_bins;  // announced instead of the bins used
};

struct ServerOptions {
  int32_t encryption_scheme = 3;     // private_membership::EncryptionScheme
  int32_t num_bins = 0;              // 1 or more: entries go to the binned bucket, keyed by bin
  size_t lookup_prefix_bytes = 32;   // entry key length when not binned
  bool with_metadata = true;         // false: buckets carry no metadata list
  ServerFaults faults;
};

class ServerDouble {
 public:
  ServerDouble(std::vector<ServerEntry> entries, ServerOptions options);

  absl::StatusOr<PrivateMembershipBlindersResponse> Answer(const PrivateMembershipBlindersRequest& request);

  // s * H(non_sensitive_id + sensitive_id), compressed.
  absl::StatusOr<std::string> ServerEncrypt(absl::string_view id);
  // s * P for the encoded point P, compressed.
  absl::StatusOr<std::string> Reencrypt(absl::string_view point);
  // `value` as stored for the server-encrypted id `server_encrypted_id`.
  absl::StatusOr<std::string> EncryptValue(absl::string_view server_encrypted_id, absl::string_view value,
                                           int32_t encryption_scheme);
  // The key an entry of `server_encrypted_id` is stored under with these options.
  absl::StatusOr<std::string> EntryKey(absl::string_view server_encrypted_id);

  ServerOptions& options() { return options_; }

 private:
  std::vector<ServerEntry> entries_;
  ServerOptions options_;
  // Declared first, destroyed last: the group and key borrow its BN_CTX.
  std::unique_ptr<::blinders::Context> context_;
  ::blinders::ECGroup group_;
  ::blinders::BigNum key_;
};

// A 4-byte little-endian length followed by `value`.
std::string EncodeLengthPrefixed(absl::string_view value);

}  // namespace private_membership::blinders::testing
