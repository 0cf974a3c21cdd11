#include "analytics/attribution/GWLInAppPurchaseTransactionReporting.h"

namespace {

// Reports nothing: the purchase reporter is not part of the library yet.
class NoPurchaseReporter : public GWLInAppPurchaseTransactionReporting {
 public:
  void reportTransactionWithProductID(const GWLStoreTransactionValues&) override {}
  void paymentQueue(const std::shared_ptr<platform::PaymentQueue>&,
                    const std::vector<platform::PaymentTransaction>&) override {}
};

}  // namespace

std::shared_ptr<GWLInAppPurchaseTransactionReporting> GWLInAppPurchaseTransactionReporting::sharedInstance() {
  // Never destroyed: purchases may still arrive while the process exits.
  static const auto* reporter = new std::shared_ptr<GWLInAppPurchaseTransactionReporting>(
      std::make_shared<NoPurchaseReporter>());
  return *reporter;
}
