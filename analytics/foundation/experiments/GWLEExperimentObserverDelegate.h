// GWLEExperimentObserverDelegate — what a registering component may tell the
// experiments client and hear from it. Every method is optional: a delegate
// answers which of the two notices it takes, and nullopt / null where it has
// no answer of its own.
#pragma once

#include <memory>
#include <optional>

#include "platform/core/Error.h"

namespace platform {
class Queue;
}
class GWLEClient;

class GWLEExperimentObserverDelegate {
 public:
  virtual ~GWLEExperimentObserverDelegate() = default;

  // Whether the delegate takes `clientDidReceiveNewSnapshot`: a client whose
  // delegate does activates new snapshots itself.
  virtual bool implementsClientDidReceiveNewSnapshot() const { return false; }
  // A new snapshot is pending for `client`; runs on `queue()`, else on the main queue.
  virtual void clientDidReceiveNewSnapshot(const std::shared_ptr<GWLEClient>& /*client*/) {}

  // Whether the delegate takes fetch errors.
  virtual bool implementsClientDidReceiveFetchError() const { return false; }
  // (client:didReceiveFetchError:) The service answered an error for `client`; runs on the manager's queue.
  virtual void client(const std::shared_ptr<GWLEClient>& /*client*/, const platform::Error& /*didReceiveFetchError*/) {}

  // Whether experiments should be fetched for `client`; nullopt when the delegate has no opinion.
  [[nodiscard]] virtual std::optional<bool> shouldFetchExperimentsForClient(const std::shared_ptr<GWLEClient>& /*client*/) {
    return std::nullopt;
  }
  // The queue for snapshot notices; null for the main queue.
  virtual std::shared_ptr<platform::Queue> queue() { return nullptr; }
};
