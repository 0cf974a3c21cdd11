#include "ads/conversion_tracking/app_conversion/odm/on_device_measurement_v2_client.h"

#include <map>
#include <optional>
#include <utility>

#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"
#include "privacy/blinders/cpp/crypto/status_util.h"

namespace ads::conversion_tracking::app_conversion::odm {

namespace {

using private_membership::blinders::MatchedValue;
using private_membership::blinders::MembershipResult;
using private_membership::blinders::PrivateMembershipBlindersMiniClient;
using private_membership::blinders::PrivateMembershipBlindersParameters;
using private_membership::blinders::PrivateMembershipBlindersRequest;
using private_membership::blinders::PrivateMembershipBlindersResponse;
using private_membership::blinders::QueryId;

struct Candidate {
  std::string value;
  OdmUnencryptedMetadata metadata;
};

// Whether `candidate` takes the place of `stored` in their group.
bool Replaces(const OdmUnencryptedMetadata& candidate, const OdmUnencryptedMetadata& stored) {
  return (candidate.preferred == 1 && stored.preferred != 1) || candidate.order_key > stored.order_key ||
         (candidate.order_key == stored.order_key && candidate.kind == 1 && stored.kind == 2);
}

}  // namespace

OnDeviceMeasurementV2Client::OnDeviceMeasurementV2Client(
    std::unique_ptr<PrivateMembershipBlindersMiniClient> mini_client,
    UnencryptedMetadataDeserializer unencrypted_metadata_deserializer)
    : mini_client_(std::move(mini_client)), unencrypted_metadata_deserializer_(unencrypted_metadata_deserializer) {}

OnDeviceMeasurementV2Client::~OnDeviceMeasurementV2Client() = default;

absl::StatusOr<std::unique_ptr<OnDeviceMeasurementV2Client>> OnDeviceMeasurementV2Client::Create(
    std::string_view matching_id, std::string_view bucketed_date, std::string_view bundle_id, int32_t prefix_length,
    UnencryptedMetadataDeserializer unencrypted_metadata_deserializer) {
  std::string decoded_matching_id;
  if (!absl::WebSafeBase64Unescape(absl::string_view(matching_id.data(), matching_id.size()),
                                   &decoded_matching_id)) {
    return ::blinders::InternalError(kMatchingIdUnescapeErrorMessage);
  }
  std::string sensitive_id = ODCHashJoinedStrings(decoded_matching_id, bucketed_date, bundle_id);
  QueryId query_id{std::string(), std::move(decoded_matching_id), std::move(sensitive_id)};
  PrivateMembershipBlindersParameters parameters;
  parameters.hashed_non_sensitive_id_prefix_bit_length = prefix_length;
  parameters.hash_type = kOdmHashType;
  parameters.max_hash_prefixes_count = kOdmMaxHashPrefixesCount;
  auto mini_client = PrivateMembershipBlindersMiniClient::Create({std::move(query_id)}, parameters);
  if (!mini_client.ok()) return mini_client.status();
  return std::unique_ptr<OnDeviceMeasurementV2Client>(
      new OnDeviceMeasurementV2Client(std::move(*mini_client), unencrypted_metadata_deserializer));
}

absl::StatusOr<PrivateMembershipBlindersRequest> OnDeviceMeasurementV2Client::CreateRequest(int32_t use_case) {
  return mini_client_->CreateRequest(use_case);
}

absl::StatusOr<std::vector<std::string>> OnDeviceMeasurementV2Client::ProcessResponse(
    const PrivateMembershipBlindersResponse& response) {
  auto results = mini_client_->ProcessResponse(response);
  if (!results.ok()) return results.status();
  std::vector<std::string> matched;
  for (const MembershipResult& result : *results) {
    if (!result.is_member || result.metadata.empty() || !unencrypted_metadata_deserializer_) continue;
    // Each value is judged by the metadata of the entry it was decrypted
    // from, so a member without a value earlier in the bucket cannot lend its
    // metadata to a later value.
    std::map<std::string, Candidate> groups;
    for (const MatchedValue& value : result.matched_values) {
      if (!value.metadata || !value.metadata->secondary_bytes) break;
      absl::StatusOr<OdmUnencryptedMetadata> metadata =
          unencrypted_metadata_deserializer_(value.metadata->primary_bytes);
      if (!metadata.ok()) continue;
      const std::string& group_key = *value.metadata->secondary_bytes;
      auto stored = groups.find(group_key);
      if (stored == groups.end()) {
        groups.emplace(group_key, Candidate{value.value, *metadata});
      } else if (Replaces(*metadata, stored->second.metadata)) {
        stored->second = Candidate{value.value, *metadata};
      }
    }
    for (auto& [group_key, candidate] : groups) matched.push_back(std::move(candidate.value));
  }
  return matched;
}

}  // namespace ads::conversion_tracking::app_conversion::odm
