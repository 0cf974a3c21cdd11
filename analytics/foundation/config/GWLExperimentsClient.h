// GWLExperimentsClient — the experiments manager as the configuration sees it.
//
// The experiments client lives in the experiments folder, which builds on the
// storage layer above this one; the configuration registers with it through
// these three small interfaces, which GWLEManager implements. The
// configuration is the observer: it hears of new snapshots and fetch errors
// and answers whether experiments should be fetched at all.
//
// Threads: `clientDidReceiveNewSnapshot` arrives on the main queue,
// `client(..., didReceiveFetchError)` on the experiments manager's queue and
// `shouldFetchExperimentsForClient` on the experiments task manager's queue.
// The client's and the manager's calls are made from any thread but the
// experiments manager's queue (they wait for it).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"

// The experiments client as the settings see it: the current value of a flag.
class GWLExperimentFlagSource {
 public:
  virtual ~GWLExperimentFlagSource() = default;
  [[nodiscard]] virtual std::optional<platform::Object> experimentFlag(const std::string& name) const = 0;
};

// One registration with the experiments manager.
class GWLExperimentsClient : public GWLExperimentFlagSource {
 public:
  // Activates the registration's pending snapshot; false without an error when there is none.
  [[nodiscard]] virtual bool activateLatestSnapshot(platform::Error* error = nullptr) = 0;
};

// What a registered component hears from the experiments client.
class GWLExperimentsObserver {
 public:
  virtual ~GWLExperimentsObserver() = default;
  // A new snapshot is pending for `client`.
  virtual void clientDidReceiveNewSnapshot(GWLExperimentsClient& client) = 0;
  // (client:didReceiveFetchError:) The experiments service answered an error for `client`.
  virtual void client(GWLExperimentsClient& client, const platform::Error& didReceiveFetchError) = 0;
  // Whether experiments should be fetched for `client` now.
  virtual bool shouldFetchExperimentsForClient(GWLExperimentsClient& client) = 0;
};

// The experiments manager: registration, the experiment IDs for upload
// bundles, and the reset of everything it fetched and activated.
class GWLExperimentsManaging {
 public:
  virtual ~GWLExperimentsManaging() = default;
  // Registers the SDK `SDKName` at `version` with no default flags, offering no
  // dynamic custom properties; `observer` hears its notices for as long as it
  // lives. Null when the manager refuses the registration.
  virtual std::shared_ptr<GWLExperimentsClient> registerSDKProperty(const std::string& SDKName, int64_t version,
                                                                    std::weak_ptr<GWLExperimentsObserver> observer) = 0;
  // The IDs of the activated experiments, ascending.
  virtual std::vector<int32_t> experimentIDs() = 0;
  // Forgets every fetched and activated snapshot; registrations stay.
  virtual void reset() = 0;
};
