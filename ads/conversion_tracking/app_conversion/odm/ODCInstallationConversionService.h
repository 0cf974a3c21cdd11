// ODCInstallationConversionService — decides whether a matching run may
// start, runs the task chain (configuration, candidates, validation), keeps
// its answers in the store and hands them to every waiting caller.
//
//   request --completion queued--> run in progress? --yes--> waits for that run
//                                        | no
//                 match already found / no first launch / first launch 7 days old or more
//                                        |--yes--> served at once from the store (no error)
//                                        `--no---> count raised, chain started --ends--> answers kept
//                                                  (success only), expired answers removed, every
//                                                  waiting completion served, run state cleared
//
// A run may start only while the first launch lies less than 604800 s
// (7 days) back and no run has succeeded; a success is recorded once, and its
// answers are served until 7776000 s (90 days) after it, then nothing is.
// Completions are served on the completion queue (the global queue of default
// priority), all of one run in one block: the aggregate ones first, then the
// measurement ones, each in arrival order. A failed run hands its error with
// whatever the store holds; the next request starts a new run (the store's
// run count grows by one for each).
//
// Without a store (its directory could not be made) nothing can be kept and
// no run starts: each request is served with nothing and error 3000.
//
// Threads: every method runs on the serial queue; the chain's answers and
// retries run there too and hold this object weakly. Own it by shared_ptr.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/conversion_tracking/app_conversion/odm/ODCContext.h"
#include "analytics/attribution/ODCConversionServiceProtocol.h"
#include "analytics/foundation/config/GWLServiceHosts.h"
#include "platform/core/Error.h"

class ODCAsyncTask;
class ODCConversionStore;
namespace platform {
class AppEnvironment;
class Clock;
class HVUNetwork;
class Queue;
}  // namespace platform

inline constexpr double kODCFirstLaunchWindowSeconds = 604'800;
inline constexpr double kODCResultLifetimeSeconds = 7'776'000;

inline constexpr int64_t kODCMatchAlreadyFoundCode = 8002;
inline constexpr const char* kODCMatchAlreadyFoundMessage = "Skipping aggregate fetch. Match already found.";
inline constexpr int64_t kODCNoFirstLaunchCode = 8003;
inline constexpr const char* kODCNoFirstLaunchMessage = "Skipping aggregate fetch. No first launch timestamp found.";
inline constexpr int64_t kODCFirstLaunchTooOldCode = 8004;
inline constexpr const char* kODCFirstLaunchTooOldMessage =
    "Skipping aggregate fetch. First launch timestamp is too old.";
inline constexpr int64_t kODCAlreadyStoredCode = 8005;
inline constexpr const char* kODCAlreadyStoredMessage = "Skip persisting PSM values. Already stored.";

class ODCInstallationConversionService : public std::enable_shared_from_this<ODCInstallationConversionService> {
 public:
  using Completion = ODCConversionServiceProtocol::Completion;

  struct Dependencies {
    std::shared_ptr<platform::Queue> serialQueue;           // required
    std::shared_ptr<ODCConversionStore> conversionStore;    // null: no store could be made
    std::shared_ptr<platform::Clock> clock;                 // the system clock when null
    std::shared_ptr<platform::HVUNetwork> network;          // `network()` when null
    std::shared_ptr<platform::Queue> completionQueue;       // the global queue of default priority when null
    GWLServiceEndpoint endpoint = GWLServiceHosts::forProcess().onDeviceMeasurement;
    std::shared_ptr<ODCEnvironmentInfo> environmentInfo;    // ODCEnvironmentInfo::sharedInstance() when null
    std::shared_ptr<platform::AppEnvironment> app;          // the shared app environment when null
  };

  static std::shared_ptr<ODCInstallationConversionService> create(Dependencies dependencies);
  ~ODCInstallationConversionService();

  // A fresh network object for the layer's requests.
  static std::shared_ptr<platform::HVUNetwork> network();

  void fetchAggregateConversionInfoWithCompletion(Completion completion);
  void fetchMeasurementInfoWithCompletion(Completion completion);

  // ---- the steps of a request and a run ----
  void retrievePSMValue();
  bool shouldStartPSMMatching();
  void completePSMMatchingWithError(std::optional<platform::Error> error);
  void updateODM2RetryCount();
  void persistPSMValue();
  void removeExpiredPSMValue();
  void notifyCompletionsWithError(std::optional<platform::Error> error);
  void resetPSMMatchingMembers();

  const std::shared_ptr<ODCContext>& context() const { return context_; }
  bool isMatching() const { return isMatching_; }

 private:
  explicit ODCInstallationConversionService(Dependencies dependencies);
  void fetchWithCompletion(Completion completion, std::vector<Completion>& completions, bool isSourceVEXA);
  double now() const;

  Dependencies dependencies_;
  std::shared_ptr<ODCContext> context_;
  std::shared_ptr<ODCAsyncTask> configFetcher_;
  std::shared_ptr<ODCAsyncTask> candidateFetcher_;
  std::shared_ptr<ODCAsyncTask> matchValidator_;
  std::vector<Completion> aggregateConversionInfoCompletions_;
  std::vector<Completion> measurementInfoCompletions_;
  bool isMatching_ = false;
};
