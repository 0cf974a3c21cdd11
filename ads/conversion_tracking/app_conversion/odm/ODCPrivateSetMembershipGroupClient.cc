#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipGroupClient.h"

#include <utility>

#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"
#include "platform/net/HVUNetwork.h"

namespace {

bool IsAcceptedStatus(int status) {
  return status == platform::kHVUNetworkHTTPStatusOK || status == platform::kHVUNetworkHTTPStatusCodeNotModified ||
         status == platform::kHVUNetworkHTTPStatusNoContent;
}

platform::Error StatusError(int status) {
  return platform::Error(kODCGroupClientErrorDomain, status,
                         "The group identifier request was answered with HTTP status " + std::to_string(status));
}

}  // namespace

ODCPrivateSetMembershipGroupClient::ODCPrivateSetMembershipGroupClient(
    std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient> blindersClient,
    std::string serializedBlindersRequest, std::vector<uint8_t> hashedInput, std::string appID, int64_t inputType,
    int32_t prefixBitLength, GWLServiceEndpoint host)
    : blindersClient_(std::move(blindersClient)),
      serializedBlindersRequest_(std::move(serializedBlindersRequest)),
      hashedInput_(std::move(hashedInput)),
      appID_(std::move(appID)),
      inputType_(inputType),
      prefixBitLength_(prefixBitLength),
      host_(std::move(host)),
      serialQueue_(platform::SerialQueue::create(kODCGroupClientQueueLabel)) {}

ODCPrivateSetMembershipGroupClient::~ODCPrivateSetMembershipGroupClient() = default;

std::shared_ptr<ODCPrivateSetMembershipGroupClient> ODCPrivateSetMembershipGroupClient::initWithHashedInput(
    std::span<const uint8_t> hashedInput, int64_t inputType, const std::string& appID, int32_t prefixBitLength,
    const GWLServiceEndpoint& host) {
  if (hashedInput.size() < kODCHashedInputLength) return nullptr;
  auto blindersClient = ODCMakeGroupBlindersClient(hashedInput, prefixBitLength);
  if (!blindersClient.ok()) return nullptr;
  std::string serialized = ODCSerializedRequestAsWebsafeBase64(**blindersClient, kODCPSMUseCaseGroupID);
  if (serialized.empty()) return nullptr;
  return std::shared_ptr<ODCPrivateSetMembershipGroupClient>(new ODCPrivateSetMembershipGroupClient(
      std::move(*blindersClient), std::move(serialized), std::vector<uint8_t>(hashedInput.begin(), hashedInput.end()),
      appID, inputType, prefixBitLength, host));
}

std::optional<std::vector<uint8_t>> ODCPrivateSetMembershipGroupClient::payloadWithPSMRequest() const {
  return ODCPSMPayloadWithSerializedRequest(serializedBlindersRequest_);
}

std::optional<std::string> ODCPrivateSetMembershipGroupClient::PSMRequestURLWithRetryCount(int32_t retryCount) const {
  return ODCPSMRequestURL(host_, kODCGroupIDRequestPath,
                          {{"version", kODCGroupIDRequestVersion},
                           {"bundle_id", appID_},
                           {"retry_count", std::to_string(retryCount)}});
}

std::optional<std::string> ODCPrivateSetMembershipGroupClient::parsedPSMValueFromResponse(
    std::span<const uint8_t> data) {
  platform::MutexLock lock(blindersMutex_);
  return ODCParsedPSMValueFromResponse(*blindersClient_, data);
}

void ODCPrivateSetMembershipGroupClient::fetchGroupIDWithNetwork(const std::shared_ptr<platform::HVUNetwork>& network,
                                                                 Completion completion) {
  std::weak_ptr<ODCPrivateSetMembershipGroupClient> weakSelf = weak_from_this();
  auto handler = [weakSelf, completion = std::move(completion)](
                     std::shared_ptr<const platform::HTTPURLResponse> response, std::vector<uint8_t> body,
                     std::optional<platform::Error> error) {
    std::shared_ptr<ODCPrivateSetMembershipGroupClient> self = weakSelf.lock();
    if (!self) return;
    const int status = response ? response->statusCode : 0;
    if (!error && IsAcceptedStatus(status)) {
      std::optional<std::string> value = self->parsedPSMValueFromResponse(body);
      if (completion) completion(std::move(value), std::nullopt);
      return;
    }
    self->retryCount_.fetch_add(1);
    if (completion) completion(std::nullopt, error ? std::move(error) : StatusError(status));
  };
  if (!network) {
    serialQueue_->async([handler = std::move(handler)]() mutable {
      handler(nullptr, {},
              platform::Error(platform::kHVUNetworkErrorDomain, platform::kHVUNetworkErrorInvalidRequest,
                              "no network to fetch the group identifier with"));
    });
    return;
  }
  // An unusable URL is sent as it is: the network answers it with an error.
  const std::string url = PSMRequestURLWithRetryCount(retryCount_.load()).value_or(std::string());
  const std::vector<uint8_t> payload = payloadWithPSMRequest().value_or(std::vector<uint8_t>());
  network->postURL(url, payload, serialQueue_, false, std::move(handler));
}

// The class object forwards to the initialiser with its own host.
std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol> ODCPrivateSetMembershipGroupClient::Class::
    initWithHashedInput(std::span<const uint8_t> hashedInput, int64_t inputType, const std::string& appID,
                        int32_t prefixBitLength) const {
  return ODCPrivateSetMembershipGroupClient::initWithHashedInput(hashedInput, inputType, appID, prefixBitLength,
                                                                 host());
}
