// GWLPurchaseMeasurement — the purchase hooks the engine calls
// (GWLPurchaseHooks), answered by this layer: lifetime values
// (GWLLifetimeValueRecorder), store transaction fingerprints
// (GWLInAppPurchaseTransactionReporter) and the receipt's original
// application version (GWLIsReceiptAppVersionCurrent).
//
// The composition root installs one through GWLInstalledHook<GWLPurchaseHooks>.
// A recording takes the configuration's number of tracked currencies and the
// engine's clock at the time of the write.
//
// Threads: called on the engine's worker queue.
#pragma once

#include <functional>
#include <memory>

#include "analytics/foundation/config/GWLPurchaseHooks.h"

class GWLMonitor;

class GWLPurchaseMeasurement : public GWLPurchaseHooks {
 public:
  struct Dependencies {
    // The configuration's maxTrackedCurrencies; the engine's configuration when empty.
    std::function<int32_t()> maxTrackedCurrencies;
    // Now, in seconds since 1970; the engine's clock (the system clock without an engine) when empty.
    std::function<double()> now;
    std::shared_ptr<GWLMonitor> monitor;  // the library's monitor when null
  };

  GWLPurchaseMeasurement() : GWLPurchaseMeasurement(Dependencies{}) {}
  explicit GWLPurchaseMeasurement(Dependencies dependencies);

  bool isPurchaseEvent(const GWLEvent& event) override;
  bool recordLifetimeValueToDatabase(GWLDatabase& database, const GWLEvent& event) override;
  std::optional<std::string> transactionFingerprint(const platform::PaymentTransaction& transaction) override;
  bool isVersionSameAsOriginalVersion() override;

 private:
  Dependencies dependencies_;
};
