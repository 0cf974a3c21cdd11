#include "analytics/attribution/testing/PSMWireTestCodecs.h"

#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "absl/status/status.h"
#include "analytics/wire/NANO.h"
#include "analytics/wire/PSMDoublyEncryptedId.h"
#include "analytics/wire/PSMEncryptedBucket.h"
#include "analytics/wire/PSMEncryptedRequest.h"
#include "analytics/wire/PSMEncryptedResponse.h"
#include "analytics/wire/PSMEncryptedResponseMetadata.h"
#include "analytics/wire/PSMPrivateMembershipBlindersIdValuePairMetadata.h"
#include "analytics/wire/PSMPrivateMembershipBlindersParameters.h"
#include "analytics/wire/PSMPrivateMembershipBlindersRequest.h"
#include "analytics/wire/PSMPrivateMembershipBlindersResponse.h"

namespace tabulo::psm_double {

namespace {

using namespace private_membership::blinders;

std::string Text(const std::optional<NANOData>& data) {
  return data ? std::string(data->begin(), data->end()) : std::string();
}

void PutBytes(NANOMessageRef message, int32_t index, const std::string& value) {
  if (value.empty()) return;
  const NANOData data(value.begin(), value.end());
  NANOSetBytes(message, index, std::span<const uint8_t>(data));
}

void PutBytesList(NANOMessageRef message, int32_t index, const std::vector<std::string>& values) {
  if (values.empty()) return;
  std::vector<NANOValue> items;
  for (const std::string& value : values) items.emplace_back(NANOData(value.begin(), value.end()));
  NANOSetArray(message, index, items);
}

std::shared_ptr<PSMEncryptedBucket> BucketMessage(const EncryptedBucket& bucket) {
  using Field = PSMEncryptedBucket::Field;
  auto message = PSMEncryptedBucket::initWithMessageInfo();
  PutBytesList(message, Field::encrypted_id, bucket.encrypted_id);
  PutBytesList(message, Field::encrypted_value, bucket.encrypted_value);
  std::vector<NANOValue> metadata;
  for (const auto& item : bucket.metadata) {
    using MetadataField = PSMPrivateMembershipBlindersIdValuePairMetadata::Field;
    auto entry = PSMPrivateMembershipBlindersIdValuePairMetadata::initWithMessageInfo();
    PutBytes(entry, MetadataField::metadata_bytes, item.primary_bytes);
    PutBytes(entry, MetadataField::optional_metadata_bytes, item.secondary_bytes.value_or(""));
    metadata.emplace_back(std::shared_ptr<NANOMessageBase>(std::move(entry)));
  }
  if (!metadata.empty()) NANOSetArray(message, Field::metadata, metadata);
  return message;
}

void PutVarintField(std::string& out, uint8_t tag, uint64_t value) {
  if (value == 0) return;
  out.push_back(static_cast<char>(tag << 3));  // wire type 0
  do {
    uint8_t byte = value & 0x7f;
    value >>= 7;
    if (value) byte |= 0x80;
    out.push_back(static_cast<char>(byte));
  } while (value);
}

bool IsEmpty(const EncryptedBucket& bucket) {
  return bucket.encrypted_id.empty() && bucket.encrypted_value.empty() && bucket.metadata.empty();
}

}  // namespace

std::string SerializeOdmUnencryptedMetadata(int64_t orderKey, int32_t kind, int32_t preferred) {
  std::string out;
  PutVarintField(out, 1, static_cast<uint64_t>(orderKey));
  PutVarintField(out, 2, static_cast<uint64_t>(static_cast<int64_t>(kind)));
  PutVarintField(out, 3, static_cast<uint64_t>(static_cast<int64_t>(preferred)));
  return out;
}

absl::StatusOr<PrivateMembershipBlindersRequest> DeserializeBlindersRequest(std::string_view bytes) {
  const NANOData copy(bytes.begin(), bytes.end());
  auto message = PSMPrivateMembershipBlindersRequest::initWithBuffer(std::span<const uint8_t>(copy));
  if (!message) return absl::InvalidArgumentError("request does not decode");
  using Field = PSMPrivateMembershipBlindersRequest::Field;
  PrivateMembershipBlindersRequest request;
  request.use_case = NANOGetInt32(message, Field::use_case);
  request.extra_number = static_cast<int32_t>(NANOGetInt64(message, Field::request_int64));
  if (auto parameters = NANOGetMessage<PSMPrivateMembershipBlindersParameters>(message, Field::parameters)) {
    using ParametersField = PSMPrivateMembershipBlindersParameters::Field;
    request.parameters.hash_type = NANOGetInt32(parameters, ParametersField::hash_type);
    request.parameters.hashed_non_sensitive_id_prefix_bit_length =
        NANOGetInt32(parameters, ParametersField::hashed_non_sensitive_id_prefix_bit_length);
    request.parameters.max_hash_prefixes_count = NANOGetInt32(parameters, ParametersField::max_hash_prefixes_count);
  }
  if (auto records = NANOGetMessageArray<PSMEncryptedRequest>(message, Field::encrypted_request)) {
    for (const auto& record : *records) {
      using RecordField = PSMEncryptedRequest::Field;
      request.encrypted_request.push_back({Text(NANOGetBytes(record, RecordField::query_tag)),
                                           Text(NANOGetBytes(record, RecordField::hashed_bucket_id)),
                                           Text(NANOGetBytes(record, RecordField::queried_encrypted_id))});
    }
  }
  return request;
}

std::string SerializeBlindersResponse(const PrivateMembershipBlindersResponse& response) {
  auto message = PSMPrivateMembershipBlindersResponse::initWithMessageInfo();
  std::vector<NANOValue> parts;
  for (const EncryptedResponse& part : response.encrypted_response) {
    using Field = PSMEncryptedResponse::Field;
    auto item = PSMEncryptedResponse::initWithMessageInfo();
    std::vector<NANOValue> ids;
    for (const DoublyEncryptedId& id : part.doubly_encrypted_id) {
      auto entry = PSMDoublyEncryptedId::initWithMessageInfo();
      PutBytes(entry, PSMDoublyEncryptedId::Field::queried_encrypted_id, id.encrypted_id);
      PutBytes(entry, PSMDoublyEncryptedId::Field::reencrypted_id, id.doubly_encrypted_id);
      ids.emplace_back(std::shared_ptr<NANOMessageBase>(std::move(entry)));
    }
    if (!ids.empty()) NANOSetArray(item, Field::doubly_encrypted_id, ids);
    if (!IsEmpty(part.encrypted_bucket)) NANOSetMessage(item, Field::bucket, BucketMessage(part.encrypted_bucket));
    if (!IsEmpty(part.binned_encrypted_bucket)) {
      NANOSetMessage(item, Field::binned_bucket, BucketMessage(part.binned_encrypted_bucket));
    }
    if (part.extra_number != 0) NANOSetInt32(item, Field::response_int32, part.extra_number);
    auto metadata = PSMEncryptedResponseMetadata::initWithMessageInfo();
    if (part.response_metadata.num_bins != 0) {
      NANOSetInt32(metadata, PSMEncryptedResponseMetadata::Field::bin_count, part.response_metadata.num_bins);
    }
    if (part.response_metadata.encryption_scheme != 0) {
      NANOSetInt32(metadata, PSMEncryptedResponseMetadata::Field::value_encryption_scheme,
                   part.response_metadata.encryption_scheme);
    }
    NANOSetMessage(item, Field::response_metadata, metadata);
    parts.emplace_back(std::shared_ptr<NANOMessageBase>(std::move(item)));
  }
  if (!parts.empty()) NANOSetArray(message, PSMPrivateMembershipBlindersResponse::Field::encrypted_response, parts);
  auto encoded = message->protoBuffer();
  return encoded ? std::string(encoded->begin(), encoded->end()) : std::string();
}

}  // namespace tabulo::psm_double
