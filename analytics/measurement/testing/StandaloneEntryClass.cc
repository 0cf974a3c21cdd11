#include "analytics/measurement/testing/StandaloneEntryClass.h"

#include "analytics/foundation/core/GWLUserDefaults.h"
#include "analytics/measurement/GWLIdentifiers.h"
#include "platform/appdelegate/HVUAppDelegateSwizzler.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PreferencesStore.h"

namespace measurement_testing {

std::shared_ptr<GWLAnalytics> makeStandaloneEntryClass(std::shared_ptr<platform::Clock> clock,
                                                       std::shared_ptr<platform::MainQueue> mainQueue,
                                                       std::shared_ptr<platform::Queue> globalQueue,
                                                       std::shared_ptr<GWLAnalyticsEngine> engine) {
  GWLAnalytics::Dependencies dependencies;
  dependencies.clock = std::move(clock);
  dependencies.defaults = std::make_shared<GWLUserDefaults>(
      platform::PreferencesStore::create(kGWLAnalyticsSuiteName, std::string(), nullptr, nullptr),
      kGWLAnalyticsSuiteName);
  dependencies.persistedConfig = [] { return nullptr; };
  dependencies.identity = [] { return nullptr; };
  GWLIdentifiers::Dependencies identifiers;
  identifiers.engineIdentity = [] { return nullptr; };
  identifiers.sharedIdentity = [] { return nullptr; };
  identifiers.adEventIDStart = 1;
  dependencies.identifiers = std::make_shared<GWLIdentifiers>(identifiers);
  dependencies.environment = platform::AppEnvironment::create({});
  dependencies.notificationCenter = platform::NotificationCenter::create();
  dependencies.mainQueue = mainQueue;
  dependencies.globalQueue = std::move(globalQueue);
  dependencies.paymentQueue = platform::PaymentQueue::create(mainQueue);
  dependencies.appDelegateSwizzler = platform::HVUAppDelegateSwizzler::create({dependencies.environment, mainQueue});
  dependencies.engineFactory = [engine = std::move(engine)](const GWLAnalyticsEngineConfiguration&) { return engine; };
  return GWLAnalytics::create(dependencies);
}

}  // namespace measurement_testing
