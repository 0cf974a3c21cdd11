// ODCPrivateSetMembershipGroupClientProtocol — what the measurement engine
// asks of a group-identifier client, and of the class that makes one. (The
// interface keeps the name of the class that implements it, with "Protocol"
// added: in C++ the two cannot share a name.)
//
// The engine finds the class by name in
// GWLClassRegistry<ODCPrivateSetMembershipGroupClientClass>. A group client
// queries the ad service with a hashed e-mail input for the group identifier
// it belongs to, and posts its request itself through the network object the
// engine hands it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/core/Error.h"

namespace platform {
class HVUNetwork;
}

class ODCPrivateSetMembershipGroupClientProtocol {
 public:
  // (group identifier or nullopt, error or nullopt).
  using Completion = std::function<void(std::optional<std::string> value, std::optional<platform::Error> error)>;

  virtual ~ODCPrivateSetMembershipGroupClientProtocol() = default;

  virtual std::vector<uint8_t> hashedInput() const = 0;
  virtual int32_t prefixBitLength() const = 0;
  virtual int64_t inputType() const = 0;
  // Posts the query through `network` and calls `completion` once, on the
  // client's own serial queue: with the parsed value (nullopt for no match)
  // and no error when the service answered 200, 204 or 304, else with no value
  // and an error. Nothing is called when the client is gone before the answer.
  virtual void fetchGroupIDWithNetwork(const std::shared_ptr<platform::HVUNetwork>& network,
                                       Completion completion) = 0;
};

// The group client class as the engine finds it by name.
class ODCPrivateSetMembershipGroupClientClass {
 public:
  virtual ~ODCPrivateSetMembershipGroupClientClass() = default;

  // Whether the class answers initWithHashedInput:inputType:appID:prefixBitLength:.
  virtual bool respondsToInitWithHashedInput() const = 0;
  // A new client, or null when the input is unusable or a request cannot be built.
  virtual std::shared_ptr<ODCPrivateSetMembershipGroupClientProtocol> initWithHashedInput(
      std::span<const uint8_t> hashedInput, int64_t inputType, const std::string& appID,
      int32_t prefixBitLength) const = 0;
};
