// ODCConversionService — the process-wide on-device conversion service: the
// entry points of the conversion layer, posted to its serial queue
// "ODCConversionService", where the installation service and the store do
// the work.
//
// Creation makes the queue and the store (a store that cannot be made is
// logged and left out) and, when the store has no first launch yet, stores the
// process load date recorded when the layer was registered. Every entry point
// returns at once. A fetch for an interaction other than the installation (0)
// is logged (8000 or 8001) and its completion is called once, on the
// completion queue, with nothing and that error; the caller never waits for
// an answer that cannot come.
//
// `sharedInstance` is made on first use, once, on whichever thread asks
// first. Tests make their own with `create`.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCInstallationConversionService.h"
#include "analytics/attribution/ODCConversionServiceProtocol.h"

class ODCConversionStore;

inline constexpr const char* kODCConversionServiceQueueLabel = "ODCConversionService";
inline constexpr const char* kODCVersionString = "3.2.0";
inline constexpr int64_t kODCVersionNumber = 30200;

inline constexpr int64_t kODCUnknownAggregateInteractionCode = 8000;
inline constexpr const char* kODCUnknownAggregateInteractionFormat =
    "Skipping aggregate fetch. Unknown ODCInteractionType value %ld.";
inline constexpr int64_t kODCUnknownMeasurementInteractionCode = 8001;
inline constexpr const char* kODCUnknownMeasurementInteractionFormat =
    "Skipping measurement fetch. Unknown ODCInteractionType value %ld.";

class ODCConversionService : public ODCConversionServiceProtocol,
                             public std::enable_shared_from_this<ODCConversionService> {
 public:
  struct Dependencies {
    // The layer's serial queue; a new one labelled "ODCConversionService" when null.
    std::shared_ptr<platform::Queue> serialQueue;
    // Where the store lives; the current data directory's Application Support when empty.
    std::function<std::optional<std::string>()> applicationSupportDirectory;
    // The first launch stored when the store has none; the process load date when unset.
    std::optional<double> loadDate;
    // The installation service's collaborators; its queue and store are set here.
    ODCInstallationConversionService::Dependencies installation;
  };

  static std::shared_ptr<ODCConversionService> create(Dependencies dependencies = {});
  static std::shared_ptr<ODCConversionService> sharedInstance();

  // Records now (on `clock`, the system clock when null) as the process load
  // date; only the first call counts.
  static void load(const std::shared_ptr<platform::Clock>& clock = nullptr);
  static std::optional<double> processLoadDate();

  // ---- ODCConversionServiceProtocol ----
  void setFirstLaunchTime(std::optional<double> date) override;
  void fetchAggregateConversionInfoForInteraction(ODCInteractionType interaction, Completion completion) override;
  void fetchMeasurementInfoForInteraction(ODCInteractionType interaction, Completion completion) override;
  std::string versionString() const override { return kODCVersionString; }
  int64_t versionNumber() const override { return kODCVersionNumber; }

  // ---- on the serial queue ----
  void setFirstLaunchTimeOnWorkerQueue(std::optional<double> date);
  void fetchAggregateConversionInfoOnWorkerQueueWithCompletion(Completion completion);
  void fetchMeasurementInfoOnWorkerQueueWithCompletion(Completion completion);

  const std::shared_ptr<platform::Queue>& serialQueue() const { return serialQueue_; }
  // Null when the store could not be made.
  const std::shared_ptr<ODCConversionStore>& conversionStore() const { return conversionStore_; }
  const std::shared_ptr<ODCInstallationConversionService>& installationConversionService() const {
    return installationConversionService_;
  }

  // Tests: the next `sharedInstance` makes a new one; forgets the load date.
  static void resetSharedInstanceForTesting();

 private:
  explicit ODCConversionService(Dependencies dependencies);
  void rejectInteraction(int64_t code, const char* format, ODCInteractionType interaction, Completion completion);

  std::shared_ptr<platform::Queue> serialQueue_;
  std::shared_ptr<ODCConversionStore> conversionStore_;
  std::shared_ptr<ODCInstallationConversionService> installationConversionService_;
  std::shared_ptr<platform::Queue> completionQueue_;
};

// Registers the service's class under "ODCConversionService" (whose shared
// instance is `ODCConversionService::sharedInstance()`) and records the
// process load date on `clock`.
void ODCRegisterConversionService(const std::shared_ptr<platform::Clock>& clock = nullptr);
