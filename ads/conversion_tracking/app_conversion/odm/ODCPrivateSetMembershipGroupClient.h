// ODCPrivateSetMembershipGroupClient — asks the ad service for the group
// identifier that a hashed e-mail input belongs to.
//
// The input is queried as it is (no salting with the app ID), with an empty
// query tag and use case 46. The request is built once, when the client is
// made; `fetchGroupIDWithNetwork` posts it to
// https://<group host>/muf/psm/groupids?version=1.0&bundle_id=<app ID>&retry_count=N
// and reads the answer on the client's serial queue "ODCGroupClient".
//
// A fetch succeeds when the service answers 200, 204 or 304 without a network
// error; the completion then gets the parsed value (nullopt for no match).
// Any other answer counts as a failed fetch: the retry count grows by one and
// the completion gets no value and the network error, or, when the transfer
// itself went well, an error in kODCGroupClientErrorDomain whose code is the
// HTTP status, so that a server failure is never taken for "no match". The
// client makes no retries itself.
//
// Threads: the initialiser and the getters on any thread; completions, the
// answer's parsing and the retry count's changes on the serial queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "absl/base/thread_annotations.h"
#include "analytics/attribution/ODCPrivateSetMembershipGroupClientProtocol.h"
#include "analytics/foundation/config/GWLServiceHosts.h"
#include "platform/dispatch/Queue.h"
#include "platform/util/Mutex.h"
#include "privacy/private_membership/blinders/client/private_membership_blinders_mini_client.h"

inline constexpr const char* kODCPrivateSetMembershipGroupClientClassName = "ODCPrivateSetMembershipGroupClient";
inline constexpr const char* kODCGroupClientQueueLabel = "ODCGroupClient";
inline constexpr const char* kODCGroupClientErrorDomain = "com.halcyra.appads.ODCGroupClient";

inline constexpr int32_t kODCPSMUseCaseGroupID = 46;
inline constexpr const char* kODCGroupIDRequestPath = "/muf/psm/groupids";
inline constexpr const char* kODCGroupIDRequestVersion = "1.0";

class ODCPrivateSetMembershipGroupClient final
    : public ODCPrivateSetMembershipGroupClientProtocol,
      public std::enable_shared_from_this<ODCPrivateSetMembershipGroupClient> {
 public:
  // The class object the engine finds under kODCPrivateSetMembershipGroupClientClassName.
  class Class final : public ODCPrivateSetMembershipGroupClientClass {
   public:
    // Without a host of its own, each client goes to the process's host at
    // the time it is made.
    explicit Class(std::optional<GWLServiceEndpoint> host = std::nullopt) : host_(std::move(host)) {}
    bool respondsToInitWithHashedInput() const override { return true; }
    std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol> initWithHashedInput(
        std::span<const uint8_t> hashedInput, int64_t inputType, const std::string& appID,
        int32_t prefixBitLength) const override;

   private:
    GWLServiceEndpoint host() const { return host_ ? *host_ : defaultHost(); }
    std::optional<GWLServiceEndpoint> host_;
  };

  static GWLServiceEndpoint defaultHost() { return GWLServiceHosts::forProcess().groupIdentifier; }

  // Null for a hash shorter than 32 bytes and when the request cannot be
  // built (a prefix bit length the blinders client refuses). The app ID is the
  // bundle ID of the request URL; an empty one is sent empty.
  static std::shared_ptr<ODCPrivateSetMembershipGroupClient> initWithHashedInput(
      std::span<const uint8_t> hashedInput, int64_t inputType, const std::string& appID, int32_t prefixBitLength,
      const GWLServiceEndpoint& host = defaultHost());
  ~ODCPrivateSetMembershipGroupClient() override;

  std::vector<uint8_t> hashedInput() const override { return hashedInput_; }
  int32_t prefixBitLength() const override { return prefixBitLength_; }
  int64_t inputType() const override { return inputType_; }
  void fetchGroupIDWithNetwork(const std::shared_ptr<platform::HVUNetwork>& network, Completion completion) override;

  // As in ODCPrivateSetMembershipClient; the request is the one built at creation.
  std::optional<std::vector<uint8_t>> payloadWithPSMRequest() const;
  std::optional<std::string> PSMRequestURLWithRetryCount(int32_t retryCount) const;
  std::optional<std::string> parsedPSMValueFromResponse(std::span<const uint8_t> data);

  // Failed fetches so far.
  int32_t retryCount() const { return retryCount_.load(); }
  // The queue completions run on.
  const std::shared_ptr<platform::SerialQueue>& serialQueue() const { return serialQueue_; }

 private:
  ODCPrivateSetMembershipGroupClient(
      std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient> blindersClient,
      std::string serializedBlindersRequest, std::vector<uint8_t> hashedInput, std::string appID, int64_t inputType,
      int32_t prefixBitLength, GWLServiceEndpoint host);

  mutable platform::Mutex blindersMutex_;
  std::unique_ptr<private_membership::blinders::PrivateMembershipBlindersMiniClient> blindersClient_
      ABSL_GUARDED_BY(blindersMutex_);
  const std::string serializedBlindersRequest_;
  // The PSM input is the hashed input itself.
  const std::vector<uint8_t> hashedInput_;
  const std::string appID_;
  const int64_t inputType_;
  const int32_t prefixBitLength_;
  const GWLServiceEndpoint host_;
  const std::shared_ptr<platform::SerialQueue> serialQueue_;
  std::atomic<int32_t> retryCount_{0};  // written on serialQueue_ only
};
