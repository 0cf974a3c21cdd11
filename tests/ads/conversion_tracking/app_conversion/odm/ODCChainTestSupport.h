// Helpers of the conversion task chain tests: a context with test
// collaborators (a store with fixed answers, fixed device facts, a manual
// clock) and the app environment it takes its bundle ID and version from.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ads/conversion_tracking/app_conversion/odm/ODCContext.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCConversionStoreReader.h"
#include "ads/conversion_tracking/app_conversion/odm/ODCEnvironmentInfo.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/net/HVUNetwork.h"
#include "platform/storage/PropertyList.h"
#include "tests/platform/TestSupport.h"

namespace tabulo::test {

inline constexpr const char* kChainBundleID = "com.halcyra.tabulo";
inline constexpr const char* kChainAppVersion = "1.0 beta&x=1";

class FixedConversionStore : public ODCConversionStoreReader {
 public:
  std::optional<double> firstLaunchTimestamp() override { return firstLaunch; }
  std::optional<int64_t> odm2RetryCount() override { return runs; }

  std::optional<double> firstLaunch = 119.5;
  std::optional<int64_t> runs = 0;
};

// Everything a context is made of, kept for the test to look at.
struct ChainFixture {
  explicit ChainFixture(const GWLServiceEndpoint& endpoint = GWLServiceEndpoint{"https", "odm.example", std::nullopt},
                        ODCEnvironmentInfo::Values device = {"Model14,5", "17.2 beta", "en-us", -300}) {
    const std::string info = scratch / "Info.plist";
    (void)platform::PropertyList::writeFile(
        info, platform::Dictionary{{"CFBundleIdentifier", kChainBundleID}, {"CFBundleShortVersionString", kChainAppVersion}},
        platform::PropertyListFormat::XML);
    platform::AppEnvironment::Configuration configuration;
    configuration.infoDictionaryPath = info;
    app = platform::AppEnvironment::create(configuration);
    ODCContext::Collaborators collaborators;
    collaborators.network = network;
    collaborators.serialQueue = queue;
    collaborators.clock = clock;
    collaborators.conversionStore = store;
    collaborators.endpoint = endpoint;
    collaborators.environmentInfo = std::make_shared<ODCEnvironmentInfo>(std::move(device));
    context = std::make_shared<ODCContext>(std::move(collaborators), *app);
  }

  platform::testing::ScratchDirectory scratch;
  std::shared_ptr<platform::AppEnvironment> app;
  std::shared_ptr<platform::HVUNetwork> network = std::make_shared<platform::HVUNetwork>();
  std::shared_ptr<platform::SerialQueue> queue = platform::SerialQueue::create("ODCConversionService");
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
  std::shared_ptr<FixedConversionStore> store = std::make_shared<FixedConversionStore>();
  std::shared_ptr<ODCContext> context;
};

}  // namespace tabulo::test
