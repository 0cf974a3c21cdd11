#include "ads/conversion_tracking/app_conversion/odm/ODCCandidateFetcher.h"

#include <limits>
#include <utility>

#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCError.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCLog.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCSerializationUtil.h"
#include "analytics/attribution/GWLSerializationUtil.h"
#include "analytics/foundation/core/GWLMilliseconds.h"

namespace {

constexpr int64_t kSecondsPerMinute = 60;

// Whole seconds, cut to the minute, plus a minute; saturating.
int64_t TimeOfFirstOpen(double firstLaunch) {
  const int64_t seconds = GWLInt64FromDouble(firstLaunch);
  const int64_t minute = seconds / kSecondsPerMinute * kSecondsPerMinute;
  if (minute > std::numeric_limits<int64_t>::max() - kSecondsPerMinute) return std::numeric_limits<int64_t>::max();
  return minute + kSecondsPerMinute;
}

}  // namespace

ODCCandidateFetcher::ODCCandidateFetcher(std::shared_ptr<ODCContext> context) : ODCAsyncTask(std::move(context)) {}

std::string ODCCandidateFetcher::PSMRequestURL() const {
  ODCConversionStoreReader* store = context()->conversionStore();
  const double firstLaunch = store ? store->firstLaunchTimestamp().value_or(0) : 0;
  return requestURL(kODCCandidatesPath,
                    commonQueryParameters() + "&tfo=" + std::to_string(TimeOfFirstOpen(firstLaunch)));
}

void ODCCandidateFetcher::executeTask() {
  ODCLogDebug(ODCErrorCodeFetchingCandidates, "%s", kODCMessageFetchingCandidates);
  post<ODCCandidateFetcher>(PSMRequestURL(), context()->candidateRequestPayload(),
                            &ODCCandidateFetcher::handlePSMResponse);
}

void ODCCandidateFetcher::handlePSMResponse(const platform::HTTPURLResponse* response, std::span<const uint8_t> data,
                                            std::optional<platform::Error> error) {
  error = errorOfAnswer(response, std::move(error));
  platform::Error failure;
  if (!error && !findPSMMatchesWithData(data, &failure)) error = failure;
  finishTaskWithError(std::move(error));
}

bool ODCCandidateFetcher::findPSMMatchesWithData(std::span<const uint8_t> data, platform::Error* error) {
  std::optional<std::string> bytes = PSMResponseFromData(data, error);
  if (!bytes) return false;
  auto response = DeserializeBlindersResponse(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
  if (!response.ok()) {
    platform::setError(error, ODCMakeError(ODCErrorCodeDeserializePSMResponseFailed,
                                           kODCMessageDeserializePSMResponseFailed));
    return false;
  }
  ODCContext& context = *this->context();
  std::optional<std::vector<std::string>> values;
  if (ODCContext::V2Client* client = context.PSMClient()) {
    auto processed = client->ProcessResponse(*response);
    if (processed.ok()) values = std::move(*processed);
  }
  if (!values) {
    platform::setError(error, ODCMakeError(ODCErrorCodeProcessPSMResponseFailed, kODCMessageProcessPSMResponseFailed));
    return false;
  }
  const std::string mvs = absl::WebSafeBase64Escape(ODCMVsFromProcessedResponse(*values));
  if (mvs.empty()) {
    platform::setError(error, ODCMakeError(ODCErrorCodeEmptyMVs, kODCMessageEmptyMVs));
    return false;
  }
  std::optional<std::vector<uint8_t>> payload = bodyWithExtensionData(kODCMVsBodyKey, mvs);
  if (!payload) {
    platform::setError(error, ODCMakeError(ODCErrorCodeValidationPayloadFailed, kODCMessageValidationPayloadFailed));
    return false;
  }
  context.setMatchRequestPayload(std::move(payload));
  return true;
}

std::optional<std::string> ODCCandidateFetcher::PSMResponseFromData(std::span<const uint8_t> data,
                                                                    platform::Error* error) {
  platform::Error failure;
  std::optional<ODCJSONDictionary> answer = ODCJSONDictionaryFromData(data, &failure);
  if (!answer) {
    platform::setError(error, std::move(failure));
    return std::nullopt;
  }
  const std::string* text = ODCJSONStringMember(*answer, kODCPSMResponseKey);
  if (!text) {
    platform::setError(error, ODCMakeError(ODCErrorCodePSMResponseNotString, kODCMessagePSMResponseNotString));
    return std::nullopt;
  }
  std::string bytes;
  if (!absl::WebSafeBase64Unescape(*text, &bytes)) {
    platform::setError(error,
                       ODCMakeError(ODCErrorCodeUnescapePSMResponseFailed, kODCMessageUnescapePSMResponseFailed));
    return std::nullopt;
  }
  return bytes;
}
