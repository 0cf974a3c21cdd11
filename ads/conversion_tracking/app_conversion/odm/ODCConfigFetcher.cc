#include "ads/conversion_tracking/app_conversion/odm/ODCConfigFetcher.h"

#include <cmath>
#include <limits>
#include <utility>

#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCLog.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"
#include "analytics/attribution/GWLSerializationUtil.h"
#include "platform/text/PercentEncoding.h"

namespace {

using ads::conversion_tracking::app_conversion::odm::OnDeviceMeasurementV2Client;

// A JSON number as an int32, truncated toward zero; nullopt for anything else
// and for a number outside the int32 range.
std::optional<int32_t> Int32FromNumber(const ODCJSONDictionary& value) {
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  if (value.is_number_unsigned()) {
    const uint64_t number = value.get<uint64_t>();
    return number <= static_cast<uint64_t>(kMax) ? std::optional<int32_t>(static_cast<int32_t>(number)) : std::nullopt;
  }
  if (value.is_number_integer()) {
    const int64_t number = value.get<int64_t>();
    return number >= kMin && number <= kMax ? std::optional<int32_t>(static_cast<int32_t>(number)) : std::nullopt;
  }
  if (value.is_number_float()) {
    const double number = std::trunc(value.get<double>());
    if (!(number >= static_cast<double>(kMin) && number <= static_cast<double>(kMax))) return std::nullopt;
    return static_cast<int32_t>(number);
  }
  return std::nullopt;
}

}  // namespace

ODCConfigFetcher::ODCConfigFetcher(std::shared_ptr<ODCContext> context) : ODCAsyncTask(std::move(context)) {}

std::string ODCConfigFetcher::configRequestURL() const {
  const ODCEnvironmentInfo& environment = context()->environmentInfo();
  const auto& queryValue = platform::percent::AllowedSet::queryValue();
  static const platform::percent::AllowedSet deviceModelAllowed = queryValue.removing(",");
  const std::string query =
      commonQueryParameters() + "&device_model=" + platform::percent::encode(environment.deviceModel(), deviceModelAllowed) +
      "&os_version=" + platform::percent::encode(environment.deviceOSVersion(), queryValue) +
      "&user_default_language=" + platform::percent::encode(environment.userDefaultLanguage().value_or(""), queryValue) +
      "&time_zone_offset_minutes=" + std::to_string(environment.timeZoneOffsetMinutes());
  return requestURL(kODCConfigPath, query);
}

void ODCConfigFetcher::executeTask() {
  ODCLogDebug(ODCErrorCodeFetchingConfig, "%s", kODCMessageFetchingConfig);
  get<ODCConfigFetcher>(configRequestURL(), &ODCConfigFetcher::handlePSMConfigResponse);
}

void ODCConfigFetcher::handlePSMConfigResponse(const platform::HTTPURLResponse* response,
                                               std::span<const uint8_t> data, std::optional<platform::Error> error) {
  error = errorOfAnswer(response, std::move(error));
  if (!error && data.empty()) {
    ODCLogDebug(ODCErrorCodeEmptyConfig, "%s", kODCMessageEmptyConfig);
    finishWithoutConversionInfoAndMeasurementInfo();
    return;
  }
  platform::Error failure;
  if (!error && !createPSMRequestWithData(data, &failure)) error = failure;
  finishTaskWithError(std::move(error));
}

void ODCConfigFetcher::finishWithoutConversionInfoAndMeasurementInfo() {
  context()->setAggregateConversionInfo(std::nullopt);
  context()->setMeasurementInfo(std::nullopt);
  finishTaskChainWithError(std::nullopt);
}

bool ODCConfigFetcher::createPSMRequestWithData(std::span<const uint8_t> data, platform::Error* error) {
  if (!parsePSMConfigData(data, error)) return false;
  ODCContext& context = *this->context();
  auto client = OnDeviceMeasurementV2Client::Create(matchingID_, bucketizedDate_, context.bundleID(), prefixLength_,
                                                    &ODCDeserializeUnencryptedMetadata);
  if (!client.ok()) {
    platform::setError(error, ODCMakeError(ODCErrorCodeCreatePSMClientFailed, kODCMessageCreatePSMClientFailed));
    return false;
  }
  auto request = (*client)->CreateRequest(kODCPSMUseCaseOnDeviceMeasurement);
  if (!request.ok()) {
    platform::setError(error, ODCMakeError(ODCErrorCodeCreatePSMRequestFailed, kODCMessageCreatePSMRequestFailed));
    return false;
  }
  // The encoding is empty when the request cannot be encoded; base64 of it
  // too, which the emptiness check below reports.
  context.setPSMRequest(absl::WebSafeBase64Escape(SerializeBlindersRequest(*request)));
  context.setPSMClient(std::move(*client));
  context.setExtensionData(extensionData_);
  if (context.PSMRequest()->empty()) {
    platform::setError(error, ODCMakeError(ODCErrorCodeEmptyPSMRequest, kODCMessageEmptyPSMRequest));
    return false;
  }
  std::optional<std::vector<uint8_t>> payload = bodyWithExtensionData(kODCPSMRequestKey, *context.PSMRequest());
  if (!payload) {
    platform::setError(error, ODCMakeError(ODCErrorCodeCandidatePayloadFailed, kODCMessageCandidatePayloadFailed));
    return false;
  }
  context.setCandidateRequestPayload(std::move(payload));
  return true;
}

bool ODCConfigFetcher::parsePSMConfigData(std::span<const uint8_t> data, platform::Error* error) {
  platform::Error failure;
  std::optional<ODCJSONDictionary> config = ODCJSONDictionaryFromData(data, &failure);
  if (!config) {
    platform::setError(error, std::move(failure));
    return false;
  }
  const std::string* matchingID = ODCJSONStringMember(*config, kODCConfigMatchingIDKey);
  if (!matchingID) {
    platform::setError(error, ODCMakeError(ODCErrorCodeMatchingIDNotString, kODCMessageMatchingIDNotString));
    return false;
  }
  const std::string* bucketedDate = ODCJSONStringMember(*config, kODCConfigBucketedDateKey);
  if (!bucketedDate) {
    platform::setError(error, ODCMakeError(ODCErrorCodeBucketedDateNotString, kODCMessageBucketedDateNotString));
    return false;
  }
  const auto prefixMember = config->find(kODCConfigPrefixLengthKey);
  const std::optional<int32_t> prefixLength =
      prefixMember != config->end() ? Int32FromNumber(*prefixMember) : std::nullopt;
  if (!prefixLength) {
    platform::setError(error, ODCMakeError(ODCErrorCodePrefixLengthNotNumber, kODCMessagePrefixLengthNotNumber));
    return false;
  }
  matchingID_ = *matchingID;
  bucketizedDate_ = *bucketedDate;
  prefixLength_ = *prefixLength;
  if (const std::string* extensionData = ODCJSONStringMember(*config, kODCConfigExtensionDataKey)) {
    extensionData_ = *extensionData;
  } else {
    ODCLogWarning(ODCErrorCodeExtensionDataNotString, "%s", kODCMessageExtensionDataNotString);
    extensionData_.reset();
  }
  return true;
}
