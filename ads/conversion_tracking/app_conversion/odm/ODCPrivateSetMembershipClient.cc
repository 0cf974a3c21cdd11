#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipClient.h"

#include <utility>

#include "absl/strings/escaping.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCPrivateSetMembershipFunctions.h"

namespace {

std::vector<uint8_t> Copy(std::span<const uint8_t> bytes) { return std::vector<uint8_t>(bytes.begin(), bytes.end()); }

int32_t UseCaseForHashedInputType(int64_t inputType) {
  return inputType == kGWLPSMInputTypePhoneNumber || inputType == kGWLPSMInputTypeHashedPhoneNumber
             ? kODCPSMUseCaseHashedPhoneInput
             : kODCPSMUseCaseHashedInput;
}

}  // namespace

ODCPrivateSetMembershipClient::ODCPrivateSetMembershipClient(
    std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient> blindersClient,
    int32_t blindersUseCase, std::vector<uint8_t> hashedInput, std::vector<uint8_t> PSMInput, std::string appID,
    int64_t inputType, int32_t prefixBitLength, GWLServiceEndpoint host)
    : blindersClient_(std::move(blindersClient)),
      blindersUseCase_(blindersUseCase),
      hashedInput_(std::move(hashedInput)),
      PSMInput_(std::move(PSMInput)),
      appID_(std::move(appID)),
      inputType_(inputType),
      prefixBitLength_(prefixBitLength),
      host_(std::move(host)) {}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::make(
    std::vector<uint8_t> hashedInput, std::vector<uint8_t> PSMInput, const std::string& appID, int64_t inputType,
    int32_t prefixBitLength, int32_t useCase, const GWLServiceEndpoint& host) {
  auto blindersClient = ODCMakeBlindersClient(PSMInput, appID, prefixBitLength);
  if (!blindersClient.ok()) return nullptr;
  return std::shared_ptr<ODCPrivateSetMembershipClient>(
      new ODCPrivateSetMembershipClient(std::move(*blindersClient), useCase, std::move(hashedInput),
                                        std::move(PSMInput), appID, inputType, prefixBitLength, host));
}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::makeFromNormalized(
    const std::optional<std::string>& normalized, const std::string& appID, int64_t inputType,
    int32_t prefixBitLength, int32_t useCase, const GWLServiceEndpoint& host) {
  if (!normalized || normalized->empty()) return nullptr;
  return make(ODCSHA256OfString(*normalized), ODCPSMInputFromString(*normalized, appID), appID, inputType,
              prefixBitLength, useCase, host);
}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::makeFromHashed(
    std::span<const uint8_t> hashedInput, const std::string& appID, int64_t inputType, int32_t prefixBitLength,
    int32_t useCase, const GWLServiceEndpoint& host) {
  std::optional<std::vector<uint8_t>> psmInput = ODCPSMInputFromHashedInput(hashedInput, appID);
  if (!psmInput) return nullptr;
  return make(Copy(hashedInput), std::move(*psmInput), appID, inputType, prefixBitLength, useCase, host);
}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::initWithEmailAddress(
    const std::string& emailAddress, const std::string& appID, const GWLServiceEndpoint& host) {
  return initWithEmailAddress(emailAddress, appID, kODCPSMEmailPrefixBitLength, host);
}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::initWithPhoneNumber(
    const std::string& phoneNumber, const std::string& appID, const GWLServiceEndpoint& host) {
  return initWithPhoneNumber(phoneNumber, appID, kODCPSMPhonePrefixBitLength, host);
}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::initWithEmailAddress(
    const std::string& emailAddress, const std::string& appID, int32_t prefixBitLength,
    const GWLServiceEndpoint& host) {
  if (appID.empty()) return nullptr;
  return makeFromNormalized(ODCNormalizeEmailAddress(emailAddress), appID, kGWLPSMInputTypeEmailAddress,
                            prefixBitLength, kODCPSMUseCaseEmail, host);
}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::initWithPhoneNumber(
    const std::string& phoneNumber, const std::string& appID, int32_t prefixBitLength,
    const GWLServiceEndpoint& host) {
  if (appID.empty()) return nullptr;
  return makeFromNormalized(ODCNormalizePhoneNumber(phoneNumber), appID, kGWLPSMInputTypePhoneNumber,
                            prefixBitLength, kODCPSMUseCasePhone, host);
}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::initWithHashedEmailAddress(
    std::span<const uint8_t> hashedEmailAddress, const std::string& appID, int32_t prefixBitLength,
    const GWLServiceEndpoint& host) {
  if (appID.empty()) return nullptr;
  return makeFromHashed(hashedEmailAddress, appID, kGWLPSMInputTypeHashedEmailAddress, prefixBitLength,
                        kODCPSMUseCaseEmail, host);
}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::initWithHashedPhoneNumber(
    std::span<const uint8_t> hashedPhoneNumber, const std::string& appID, int32_t prefixBitLength,
    const GWLServiceEndpoint& host) {
  if (appID.empty()) return nullptr;
  return makeFromHashed(hashedPhoneNumber, appID, kGWLPSMInputTypeHashedPhoneNumber, prefixBitLength,
                        kODCPSMUseCasePhone, host);
}

std::shared_ptr<ODCPrivateSetMembershipClient> ODCPrivateSetMembershipClient::initWithHashedInput(
    std::span<const uint8_t> hashedInput, int64_t inputType, const std::string& appID, int32_t prefixBitLength,
    const GWLServiceEndpoint& host) {
  return makeFromHashed(hashedInput, appID, inputType, prefixBitLength, UseCaseForHashedInputType(inputType), host);
}

std::optional<std::string> ODCPrivateSetMembershipClient::serializedRequestAsWebsafeBase64() {
  if (serializedBlindersRequest_.empty()) {
    serializedBlindersRequest_ = ODCSerializedRequestAsWebsafeBase64(*blindersClient_, blindersUseCase_);
  }
  if (serializedBlindersRequest_.empty()) return std::nullopt;
  return serializedBlindersRequest_;
}

std::optional<std::vector<uint8_t>> ODCPrivateSetMembershipClient::payloadWithPSMRequest() {
  std::optional<std::string> serialized = serializedRequestAsWebsafeBase64();
  if (!serialized) return std::nullopt;
  return ODCPSMPayloadWithSerializedRequest(*serialized);
}

std::optional<std::string> ODCPrivateSetMembershipClient::PSMRequestURLWithRetryCount(int32_t retryCount) const {
  return ODCPSMRequestURL(host_, kODCPSMRequestPath,
                          {{"version", kODCPSMRequestVersion}, {"retry_count", std::to_string(retryCount)}});
}

std::optional<std::string> ODCPrivateSetMembershipClient::parsedPSMValueFromResponse(std::span<const uint8_t> data) {
  return ODCParsedPSMValueFromResponse(*blindersClient_, data);
}

std::optional<std::string> ODCPrivateSetMembershipClient::debugKey() const {
  if (PSMInput_.empty()) return std::nullopt;
  std::string twice(PSMInput_.begin(), PSMInput_.end());
  twice.append(PSMInput_.begin(), PSMInput_.end());
  return absl::WebSafeBase64Escape(twice);
}

// The class object forwards to the initialisers with its own host.

std::shared_ptr<GWLPrivateSetMembershipClient> ODCPrivateSetMembershipClient::Class::initWithEmailAddress(
    const std::string& emailAddress, const std::string& appID) const {
  return ODCPrivateSetMembershipClient::initWithEmailAddress(emailAddress, appID, host());
}

std::shared_ptr<GWLPrivateSetMembershipClient> ODCPrivateSetMembershipClient::Class::initWithPhoneNumber(
    const std::string& phoneNumber, const std::string& appID) const {
  return ODCPrivateSetMembershipClient::initWithPhoneNumber(phoneNumber, appID, host());
}

std::shared_ptr<GWLPrivateSetMembershipClient> ODCPrivateSetMembershipClient::Class::initWithEmailAddress(
    const std::string& emailAddress, const std::string& appID, int32_t prefixBitLength) const {
  return ODCPrivateSetMembershipClient::initWithEmailAddress(emailAddress, appID, prefixBitLength, host());
}

std::shared_ptr<GWLPrivateSetMembershipClient> ODCPrivateSetMembershipClient::Class::initWithPhoneNumber(
    const std::string& phoneNumber, const std::string& appID, int32_t prefixBitLength) const {
  return ODCPrivateSetMembershipClient::initWithPhoneNumber(phoneNumber, appID, prefixBitLength, host());
}

std::shared_ptr<GWLPrivateSetMembershipClient> ODCPrivateSetMembershipClient::Class::initWithHashedEmailAddress(
    std::span<const uint8_t> hashedEmailAddress, const std::string& appID, int32_t prefixBitLength) const {
  return ODCPrivateSetMembershipClient::initWithHashedEmailAddress(hashedEmailAddress, appID, prefixBitLength, host());
}

std::shared_ptr<GWLPrivateSetMembershipClient> ODCPrivateSetMembershipClient::Class::initWithHashedPhoneNumber(
    std::span<const uint8_t> hashedPhoneNumber, const std::string& appID, int32_t prefixBitLength) const {
  return ODCPrivateSetMembershipClient::initWithHashedPhoneNumber(hashedPhoneNumber, appID, prefixBitLength, host());
}

std::shared_ptr<GWLPrivateSetMembershipClient> ODCPrivateSetMembershipClient::Class::initWithHashedInput(
    std::span<const uint8_t> hashedInput, int64_t inputType, const std::string& appID,
    int32_t prefixBitLength) const {
  return ODCPrivateSetMembershipClient::initWithHashedInput(hashedInput, inputType, appID, prefixBitLength, host());
}
