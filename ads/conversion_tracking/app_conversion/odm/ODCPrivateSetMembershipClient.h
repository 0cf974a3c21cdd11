// ODCPrivateSetMembershipClient — a private-set-membership query with an
// e-mail address or a phone number, in clear or already hashed.
//
// The initialiser normalises and hashes the input and makes a blinders client
// for one id: the PSM input, SHA-256 of the 32-byte hash followed by the app
// ID, queried under the app ID as its tag. The client does no networking: the
// engine posts `payloadWithPSMRequest` to `PSMRequestURLWithRetryCount` and
// hands the answer to `parsedPSMValueFromResponse`. The request is built on
// the first payload call and kept, so every later call sends the same bytes
// and the one-time key that reads the answer stays the same.
//
// Use cases sent with the request: 3 for e-mail initialisers (clear and
// hashed), 7 for phone ones, and for the generic hashed-input initialiser 48
// with input type 2 or 4, 47 with any other.
//
// Not thread-safe: the engine uses a client from its worker queue only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analytics/attribution/GWLPrivateSetMembershipClient.h"
#include "analytics/foundation/config/GWLServiceHosts.h"
#include "privacy/private_membership/blinders/client/private_membership_blinders_mini_client.h"

inline constexpr const char* kODCPrivateSetMembershipClientClassName = "ODCPrivateSetMembershipClient";

inline constexpr int32_t kODCPSMEmailPrefixBitLength = 14;
inline constexpr int32_t kODCPSMPhonePrefixBitLength = 11;

inline constexpr int32_t kODCPSMUseCaseEmail = 3;
inline constexpr int32_t kODCPSMUseCasePhone = 7;
inline constexpr int32_t kODCPSMUseCaseHashedInput = 47;
inline constexpr int32_t kODCPSMUseCaseHashedPhoneInput = 48;

inline constexpr const char* kODCPSMRequestPath = "/adconv/app/psm";
inline constexpr const char* kODCPSMRequestVersion = "1.1";

class ODCPrivateSetMembershipClient final : public GWLPrivateSetMembershipClient {
 public:
  // The class object the engine finds under kODCPrivateSetMembershipClientClassName:
  // it answers every initialiser and makes clients that query `host`.
  class Class final : public GWLPrivateSetMembershipClientClass {
   public:
    // Without a host of its own, each client goes to the process's host at
    // the time it is made.
    explicit Class(std::optional<GWLServiceEndpoint> host = std::nullopt) : host_(std::move(host)) {}
    bool respondsToInitializer(GWLPrivateSetMembershipClientInitializer) const override { return true; }
    std::shared_ptr<GWLPrivateSetMembershipClient> initWithEmailAddress(const std::string& emailAddress,
                                                                        const std::string& appID) const override;
    std::shared_ptr<GWLPrivateSetMembershipClient> initWithPhoneNumber(const std::string& phoneNumber,
                                                                       const std::string& appID) const override;
    std::shared_ptr<GWLPrivateSetMembershipClient> initWithEmailAddress(const std::string& emailAddress,
                                                                        const std::string& appID,
                                                                        int32_t prefixBitLength) const override;
    std::shared_ptr<GWLPrivateSetMembershipClient> initWithPhoneNumber(const std::string& phoneNumber,
                                                                       const std::string& appID,
                                                                       int32_t prefixBitLength) const override;
    std::shared_ptr<GWLPrivateSetMembershipClient> initWithHashedEmailAddress(
        std::span<const uint8_t> hashedEmailAddress, const std::string& appID,
        int32_t prefixBitLength) const override;
    std::shared_ptr<GWLPrivateSetMembershipClient> initWithHashedPhoneNumber(
        std::span<const uint8_t> hashedPhoneNumber, const std::string& appID, int32_t prefixBitLength) const override;
    std::shared_ptr<GWLPrivateSetMembershipClient> initWithHashedInput(std::span<const uint8_t> hashedInput,
                                                                       int64_t inputType, const std::string& appID,
                                                                       int32_t prefixBitLength) const override;

   private:
    GWLServiceEndpoint host() const { return host_ ? *host_ : defaultHost(); }
    std::optional<GWLServiceEndpoint> host_;
  };

  static GWLServiceEndpoint defaultHost() { return GWLServiceHosts::forProcess().adConversion; }

  // Prefix bit length 14 (e-mail) or 11 (phone).
  static std::shared_ptr<ODCPrivateSetMembershipClient> initWithEmailAddress(
      const std::string& emailAddress, const std::string& appID, const GWLServiceEndpoint& host = defaultHost());
  static std::shared_ptr<ODCPrivateSetMembershipClient> initWithPhoneNumber(
      const std::string& phoneNumber, const std::string& appID, const GWLServiceEndpoint& host = defaultHost());
  // Null for an empty app ID, an input that does not normalise, or a prefix
  // bit length the blinders client refuses.
  static std::shared_ptr<ODCPrivateSetMembershipClient> initWithEmailAddress(
      const std::string& emailAddress, const std::string& appID, int32_t prefixBitLength,
      const GWLServiceEndpoint& host = defaultHost());
  static std::shared_ptr<ODCPrivateSetMembershipClient> initWithPhoneNumber(
      const std::string& phoneNumber, const std::string& appID, int32_t prefixBitLength,
      const GWLServiceEndpoint& host = defaultHost());
  // Null for an empty app ID or a hash shorter than 32 bytes.
  static std::shared_ptr<ODCPrivateSetMembershipClient> initWithHashedEmailAddress(
      std::span<const uint8_t> hashedEmailAddress, const std::string& appID, int32_t prefixBitLength,
      const GWLServiceEndpoint& host = defaultHost());
  static std::shared_ptr<ODCPrivateSetMembershipClient> initWithHashedPhoneNumber(
      std::span<const uint8_t> hashedPhoneNumber, const std::string& appID, int32_t prefixBitLength,
      const GWLServiceEndpoint& host = defaultHost());
  // Any input type; an empty app ID is hashed as no bytes and queried with an
  // empty tag. Null for a hash shorter than 32 bytes.
  static std::shared_ptr<ODCPrivateSetMembershipClient> initWithHashedInput(
      std::span<const uint8_t> hashedInput, int64_t inputType, const std::string& appID, int32_t prefixBitLength,
      const GWLServiceEndpoint& host = defaultHost());

  std::vector<uint8_t> hashedInput() const override { return hashedInput_; }
  std::optional<std::vector<uint8_t>> payloadWithPSMRequest() override;
  int32_t prefixBitLength() const override { return prefixBitLength_; }
  int64_t inputType() const override { return inputType_; }
  // https://<ad conversion host>/adconv/app/psm?version=1.1&retry_count=N
  std::optional<std::string> PSMRequestURLWithRetryCount(int32_t retryCount) const override;
  std::optional<std::string> parsedPSMValueFromResponse(std::span<const uint8_t> data) override;
  // Web-safe base64 of the PSM input twice (the 64 bytes the blinders client
  // encrypts for this query).
  std::optional<std::string> debugKey() const override;

  // The request in web-safe base64 without padding, built once and cached;
  // nullopt when it cannot be built (nothing is cached then).
  std::optional<std::string> serializedRequestAsWebsafeBase64();

  int32_t blindersUseCase() const { return blindersUseCase_; }
  const std::vector<uint8_t>& PSMInput() const { return PSMInput_; }

 private:
  ODCPrivateSetMembershipClient(std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient>
                                    blindersClient,
                                int32_t blindersUseCase, std::vector<uint8_t> hashedInput,
                                std::vector<uint8_t> PSMInput, std::string appID, int64_t inputType,
                                int32_t prefixBitLength, GWLServiceEndpoint host);

  // The client for `hashedInput` and its PSM input; null when the blinders client cannot be made.
  static std::shared_ptr<ODCPrivateSetMembershipClient> make(std::vector<uint8_t> hashedInput,
                                                             std::vector<uint8_t> PSMInput, const std::string& appID,
                                                             int64_t inputType, int32_t prefixBitLength,
                                                             int32_t useCase, const GWLServiceEndpoint& host);
  // The client of a normalised input; null when normalisation failed.
  static std::shared_ptr<ODCPrivateSetMembershipClient> makeFromNormalized(
      const std::optional<std::string>& normalized, const std::string& appID, int64_t inputType,
      int32_t prefixBitLength, int32_t useCase, const GWLServiceEndpoint& host);
  // The client of a hashed input; null for one shorter than 32 bytes.
  static std::shared_ptr<ODCPrivateSetMembershipClient> makeFromHashed(std::span<const uint8_t> hashedInput,
                                                                       const std::string& appID, int64_t inputType,
                                                                       int32_t prefixBitLength, int32_t useCase,
                                                                       const GWLServiceEndpoint& host);

  std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient> blindersClient_;
  int32_t blindersUseCase_;
  std::string serializedBlindersRequest_;
  std::vector<uint8_t> hashedInput_;
  std::vector<uint8_t> PSMInput_;
  std::string appID_;
  int64_t inputType_;
  int32_t prefixBitLength_;
  GWLServiceEndpoint host_;
};
