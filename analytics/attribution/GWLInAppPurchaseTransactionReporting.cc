#include "analytics/attribution/GWLInAppPurchaseTransactionReporting.h"

#include "analytics/attribution/GWLInAppPurchaseTransactionReporter.h"

std::shared_ptr<GWLInAppPurchaseTransactionReporting> GWLInAppPurchaseTransactionReporting::sharedInstance() {
  return GWLInAppPurchaseTransactionReporter::sharedInstance();
}
