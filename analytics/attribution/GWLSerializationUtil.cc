#include "analytics/attribution/GWLSerializationUtil.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

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
#include "privacy/blinders/cpp/crypto/status_util.h"

namespace {

using namespace private_membership::blinders;

// Byte objects of the runtime and byte strings of the records.
NANOData DataFromString(const std::string& bytes) { return NANOData(bytes.begin(), bytes.end()); }
std::string StringFromData(const std::optional<NANOData>& data) {
  return data ? std::string(data->begin(), data->end()) : std::string();
}

void SetInt32IfNonZero(NANOMessageRef message, int32_t index, int32_t value) {
  if (value != 0) NANOSetInt32(message, index, value);
}
void SetInt64IfNonZero(NANOMessageRef message, int32_t index, int64_t value) {
  if (value != 0) NANOSetInt64(message, index, value);
}
void SetBytesIfNonEmpty(NANOMessageRef message, int32_t index, const std::string& value) {
  if (value.empty()) return;
  const NANOData data = DataFromString(value);
  NANOSetBytes(message, index, std::span<const uint8_t>(data));
}
void SetArrayIfNonEmpty(NANOMessageRef message, int32_t index, const std::vector<NANOValue>& values) {
  if (!values.empty()) NANOSetArray(message, index, values);
}

std::vector<std::string> StringsFromArray(const std::optional<std::vector<NANOValue>>& values) {
  std::vector<std::string> strings;
  if (!values) return strings;
  strings.reserve(values->size());
  for (const NANOValue& value : *values) {
    if (const auto* data = std::get_if<NANOData>(&value)) strings.emplace_back(data->begin(), data->end());
  }
  return strings;
}

void ConvertBucket(const std::shared_ptr<PSMEncryptedBucket>& message, EncryptedBucket& bucket) {
  using Field = PSMEncryptedBucket::Field;
  bucket.encrypted_id = StringsFromArray(NANOGetArray(message, Field::encrypted_id));
  bucket.encrypted_value = StringsFromArray(NANOGetArray(message, Field::encrypted_value));
  auto items = NANOGetMessageArray<PSMPrivateMembershipBlindersIdValuePairMetadata>(message, Field::metadata);
  if (!items) return;
  for (const auto& item : *items) {
    using MetadataField = PSMPrivateMembershipBlindersIdValuePairMetadata::Field;
    PrivateMembershipBlindersIdValuePairMetadata metadata;
    metadata.primary_bytes = StringFromData(NANOGetBytes(item, MetadataField::metadata_bytes));
    metadata.secondary_bytes = StringFromData(NANOGetBytes(item, MetadataField::optional_metadata_bytes));
    bucket.metadata.push_back(std::move(metadata));
  }
}

EncryptedResponse ConvertResponsePart(const std::shared_ptr<PSMEncryptedResponse>& message) {
  using Field = PSMEncryptedResponse::Field;
  EncryptedResponse part;
  if (auto ids = NANOGetMessageArray<PSMDoublyEncryptedId>(message, Field::doubly_encrypted_id)) {
    for (const auto& id : *ids) {
      using IdField = PSMDoublyEncryptedId::Field;
      part.doubly_encrypted_id.push_back({StringFromData(NANOGetBytes(id, IdField::queried_encrypted_id)),
                                          StringFromData(NANOGetBytes(id, IdField::reencrypted_id))});
    }
  }
  if (auto bucket = NANOGetMessage<PSMEncryptedBucket>(message, Field::bucket)) {
    ConvertBucket(bucket, part.encrypted_bucket);
  }
  if (auto binned = NANOGetMessage<PSMEncryptedBucket>(message, Field::binned_bucket)) {
    ConvertBucket(binned, part.binned_encrypted_bucket);
  }
  if (auto metadata = NANOGetMessage<PSMEncryptedResponseMetadata>(message, Field::response_metadata)) {
    using MetadataField = PSMEncryptedResponseMetadata::Field;
    part.response_metadata.num_bins = NANOGetInt32(metadata, MetadataField::bin_count);
    part.response_metadata.encryption_scheme = NANOGetInt32(metadata, MetadataField::value_encryption_scheme);
  }
  return part;
}

}  // namespace

std::string SerializeBlindersRequest(const PrivateMembershipBlindersRequest& request) {
  using Field = PSMPrivateMembershipBlindersRequest::Field;
  auto message = PSMPrivateMembershipBlindersRequest::initWithMessageInfo();
  auto parameters = PSMPrivateMembershipBlindersParameters::initWithMessageInfo();
  if (!message || !parameters) return {};
  SetInt32IfNonZero(message, Field::use_case, request.use_case);
  SetInt64IfNonZero(message, Field::request_int64, request.extra_number);

  using ParametersField = PSMPrivateMembershipBlindersParameters::Field;
  SetInt32IfNonZero(parameters, ParametersField::hashed_non_sensitive_id_prefix_bit_length,
                    request.parameters.hashed_non_sensitive_id_prefix_bit_length);
  SetInt32IfNonZero(parameters, ParametersField::hash_type, request.parameters.hash_type);
  NANOSetMessage(message, Field::parameters, parameters);

  std::vector<NANOValue> records;
  records.reserve(request.encrypted_request.size());
  for (const EncryptedRequest& record : request.encrypted_request) {
    using RecordField = PSMEncryptedRequest::Field;
    auto item = PSMEncryptedRequest::initWithMessageInfo();
    if (!item) return {};
    SetBytesIfNonEmpty(item, RecordField::query_tag, record.query_tag);
    SetBytesIfNonEmpty(item, RecordField::hashed_bucket_id, record.hashed_bucket_id);
    SetBytesIfNonEmpty(item, RecordField::queried_encrypted_id, record.encrypted_id);
    records.emplace_back(std::shared_ptr<NANOMessageBase>(std::move(item)));
  }
  SetArrayIfNonEmpty(message, Field::encrypted_request, records);

  std::optional<std::vector<uint8_t>> encoded = message->protoBuffer();
  return encoded ? std::string(encoded->begin(), encoded->end()) : std::string();
}

absl::StatusOr<PrivateMembershipBlindersResponse> DeserializeBlindersResponse(const uint8_t* bytes, size_t length) {
  const NANOData copy(bytes, bytes + (bytes ? length : 0));
  auto message = PSMPrivateMembershipBlindersResponse::initWithBuffer(std::span<const uint8_t>(copy));
  if (!message) return blinders::InvalidArgumentError(kGWLDeserializePSMResponseFailedMessage);

  PrivateMembershipBlindersResponse response;
  auto parts =
      NANOGetMessageArray<PSMEncryptedResponse>(message, PSMPrivateMembershipBlindersResponse::Field::encrypted_response);
  if (!parts) return response;
  response.encrypted_response.reserve(parts->size());
  for (const auto& part : *parts) response.encrypted_response.push_back(ConvertResponsePart(part));
  return response;
}
