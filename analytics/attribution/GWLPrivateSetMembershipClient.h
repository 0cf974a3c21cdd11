// GWLPrivateSetMembershipClient — what the measurement engine asks of a
// private-set-membership client, and of the class that makes one.
//
// The engine never names a client class in code: it finds a class by name in
// GWLClassRegistry<GWLPrivateSetMembershipClientClass> (an unregistered name
// is a class the app does not link) and talks to the client only through this
// interface, so that the conversion layer can be left out of an app.
//
// A client is made for one query: it holds the hashed input and a one-time key
// inside its blinders client, so only the client that built a request can read
// the answer to it. The engine uses each client from its worker queue only;
// a client has no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The kinds of input a client queries with (persisted by the engine).
inline constexpr int64_t kGWLPSMInputTypeEmailAddress = 1;
inline constexpr int64_t kGWLPSMInputTypePhoneNumber = 2;
inline constexpr int64_t kGWLPSMInputTypeHashedEmailAddress = 3;
inline constexpr int64_t kGWLPSMInputTypeHashedPhoneNumber = 4;

class GWLPrivateSetMembershipClient {
 public:
  virtual ~GWLPrivateSetMembershipClient() = default;

  // A copy of the 32-byte hash of the normalised input (or of the hash given).
  virtual std::vector<uint8_t> hashedInput() const = 0;
  // The JSON body {"psm_request": <web-safe base64 request>} as UTF-8; built
  // on the first call and the same bytes on every later one; nullopt when no
  // request can be built.
  virtual std::optional<std::vector<uint8_t>> payloadWithPSMRequest() = 0;
  virtual int32_t prefixBitLength() const = 0;
  virtual int64_t inputType() const = 0;
  // The absolute request URL with this retry count; the engine appends its own
  // query parameters. Nullopt when no valid URL can be formed.
  virtual std::optional<std::string> PSMRequestURLWithRetryCount(int32_t retryCount) const = 0;
  // The value the service answered for this client's input, in web-safe base64
  // without padding; nullopt for no match and for any unusable answer.
  virtual std::optional<std::string> parsedPSMValueFromResponse(std::span<const uint8_t> data) = 0;
  // Optional in the interface: a key that lets the service's debug tools find
  // this query. A class that does not offer it answers nullopt.
  virtual std::optional<std::string> debugKey() const { return std::nullopt; }
};

// The initialisers of the interface. A class may answer only some of them;
// the engine asks `respondsToInitializer` before each call.
enum class GWLPrivateSetMembershipClientInitializer {
  kEmailAddress,                 // initWithEmailAddress:appID:
  kPhoneNumber,                  // initWithPhoneNumber:appID:
  kEmailAddressPrefixBitLength,  // initWithEmailAddress:appID:prefixBitLength:
  kPhoneNumberPrefixBitLength,   // initWithPhoneNumber:appID:prefixBitLength:
  kHashedEmailAddress,           // initWithHashedEmailAddress:appID:prefixBitLength:
  kHashedPhoneNumber,            // initWithHashedPhoneNumber:appID:prefixBitLength:
  kHashedInput,                  // initWithHashedInput:inputType:appID:prefixBitLength:
};

// A client class as the engine finds it by name. Each initialiser answers a
// new client, or null when its input or app ID is unusable (and always null
// when the class does not respond to it).
class GWLPrivateSetMembershipClientClass {
 public:
  virtual ~GWLPrivateSetMembershipClientClass() = default;

  virtual bool respondsToInitializer(GWLPrivateSetMembershipClientInitializer initializer) const = 0;

  virtual std::shared_ptr<GWLPrivateSetMembershipClient> initWithEmailAddress(const std::string& emailAddress,
                                                                              const std::string& appID) const = 0;
  virtual std::shared_ptr<GWLPrivateSetMembershipClient> initWithPhoneNumber(const std::string& phoneNumber,
                                                                             const std::string& appID) const = 0;
  virtual std::shared_ptr<GWLPrivateSetMembershipClient> initWithEmailAddress(const std::string& emailAddress,
                                                                              const std::string& appID,
                                                                              int32_t prefixBitLength) const = 0;
  virtual std::shared_ptr<GWLPrivateSetMembershipClient> initWithPhoneNumber(const std::string& phoneNumber,
                                                                             const std::string& appID,
                                                                             int32_t prefixBitLength) const = 0;
  virtual std::shared_ptr<GWLPrivateSetMembershipClient> initWithHashedEmailAddress(
      std::span<const uint8_t> hashedEmailAddress, const std::string& appID, int32_t prefixBitLength) const = 0;
  virtual std::shared_ptr<GWLPrivateSetMembershipClient> initWithHashedPhoneNumber(
      std::span<const uint8_t> hashedPhoneNumber, const std::string& appID, int32_t prefixBitLength) const = 0;
  virtual std::shared_ptr<GWLPrivateSetMembershipClient> initWithHashedInput(std::span<const uint8_t> hashedInput,
                                                                             int64_t inputType,
                                                                             const std::string& appID,
                                                                             int32_t prefixBitLength) const = 0;
};
