#include "analytics/attribution/GWLPurchaseMeasurement.h"

#include "analytics/attribution/GWLInAppPurchaseTransactionReporter.h"
#include "analytics/attribution/GWLLifetimeValueRecorder.h"
#include "analytics/attribution/GWLReceipt.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "platform/dispatch/Clock.h"

GWLPurchaseMeasurement::GWLPurchaseMeasurement(Dependencies dependencies) : dependencies_(std::move(dependencies)) {
  if (!dependencies_.maxTrackedCurrencies) {
    dependencies_.maxTrackedCurrencies = [] { return GWLMeasurementRegistry::remoteConfig()->maxTrackedCurrencies(); };
  }
  if (!dependencies_.now) {
    dependencies_.now = [] {
      auto engine = GWLMeasurementRegistry::hasSharedInstance() ? GWLMeasurementRegistry::sharedInstance() : nullptr;
      return engine ? engine->now() : platform::Clock::system()->now();
    };
  }
}

bool GWLPurchaseMeasurement::isPurchaseEvent(const GWLEvent& event) {
  return GWLLifetimeValueRecorder::isPurchaseEvent(event);
}

bool GWLPurchaseMeasurement::recordLifetimeValueToDatabase(GWLDatabase& database, const GWLEvent& event) {
  GWLLifetimeValueRecorder::Context context;
  context.maxTrackedCurrencies = dependencies_.maxTrackedCurrencies();
  context.now = dependencies_.now();
  context.monitor = dependencies_.monitor;
  return GWLLifetimeValueRecorder::recordLifetimeValueToDatabase(database, event, context);
}

std::optional<std::string> GWLPurchaseMeasurement::transactionFingerprint(
    const platform::PaymentTransaction& transaction) {
  return GWLInAppPurchaseTransactionReporter::transactionFingerprint(&transaction);
}

bool GWLPurchaseMeasurement::isVersionSameAsOriginalVersion() { return GWLIsReceiptAppVersionCurrent(); }
