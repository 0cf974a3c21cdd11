// The fixture of the deep link tests: the library's monitor recording what it
// prints (lines of the silent levels 2 and 5 are seen through the health
// sample), a data directory with the app's shared preferences in it, real
// persisted settings, the test engine (DeepLinkTestEngine.h), a main queue of
// the test's own, an app environment with the deferred deep link switch in its
// Info dictionary, and an app delegate that records what it is handed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "../foundation/values/ValuesTestSupport.h"
#include "DeepLinkTestEngine.h"
#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/attribution/GWLSVTPPreviewHeaders.h"
#include "analytics/foundation/config/GWLInstalledHook.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/wire/GWLPBAdCampaignInfo.h"
#include "platform/dispatch/Queue.h"
#include "platform/env/AppEnvironment.h"
#include "platform/storage/PropertyList.h"

namespace deeplink_test {

constexpr double kNow = 1'700'000'000.0;

// What the app delegate was handed, and on which thread.
struct DelegateCall {
  std::string url;
  platform::Dictionary options;
  bool onMainThread = false;
};

// Members are public: table-driven tests arrange them from lambdas.
class DeepLinksTest : public foundation_test::LibraryMonitorTest {
 public:
  void SetUp() override {
    LibraryMonitorTest::SetUp();
    setup_.clock->setNow(kNow);
    monitor_->setDebugModeEnabled(true);  // levels 7 and 8 print
    monitor_->setVerboseLoggingEnabled(true);
    GWLMeasurementRegistry::resetForTesting(monitor_);
    GWLSVTPPreviewHeaders::replace(nullptr);
    defaults_ = foundation_test::suiteIn(setup_.tmp.path(), "app-domain");
    GWLPersistedConfig::Dependencies persistedDependencies;
    persistedDependencies.clock = setup_.clock;
    persistedDependencies.sharedUserDefaults = defaults_;
    persistedDependencies.monitor = monitor_;
    persistedConfig_ = GWLPersistedConfig::create("com.halcyra.qrx.measurement.test", persistedDependencies);
    ASSERT_TRUE(persistedConfig_);
    engine_ = std::make_shared<DeepLinkTestEngine>(persistedConfig_, monitor_, setup_.clock);
    ASSERT_TRUE(engine_->remoteConfig());
    setInfo(platform::Dictionary{{kGWLDeferredDeepLinkEnabledInfoKey, true}});
    deepLinks_ = makeDeepLinks();
    reports();  // what setting up printed
  }

  void TearDown() override {
    engine_->flush();
    mainQueue_->drain();
    GWLInstalledHook<GWLDeepLinkHooks>::resetForTesting();
    deepLinks_.reset();
    engine_.reset();
    GWLSVTPPreviewHeaders::replace(nullptr);
    GWLMeasurementRegistry::resetForTesting(monitor_);
    LibraryMonitorTest::TearDown();
  }

  // The deep links over the fixture's collaborators; `delegateHandles` says
  // whether the app delegate handles the URLs it is handed. With
  // `platformAppDelegate` the links go to the app's own delegate (set on the
  // shared HVUAppDelegateSwizzler) instead of the recorder.
  std::shared_ptr<GWLMeasurementDeepLinks> makeDeepLinks(std::optional<GWLServiceHosts> hosts = std::nullopt,
                                                         bool platformAppDelegate = false) {
    GWLMeasurementDeepLinks::Dependencies dependencies;
    dependencies.engine = [engine = engine_] { return engine; };
    dependencies.monitor = monitor_;
    dependencies.userDefaults = defaults_;
    dependencies.clock = setup_.clock;
    dependencies.mainQueue = mainQueue_;
    dependencies.environment = environment_;
    dependencies.isAppStoreInstallation = [this] { return appStoreInstallation_; };
    dependencies.hosts = hosts ? hosts : hosts_;
    dependencies.openURLInAppDelegate = [this](const std::string& url, const platform::Dictionary& options) {
      std::lock_guard<std::mutex> lock(delegateMutex_);
      delegateCalls_.push_back({url, options, platform::MainQueue::isMainThread()});
      return delegateHandles_;
    };
    if (platformAppDelegate) dependencies.openURLInAppDelegate = nullptr;
    return GWLMeasurementDeepLinks::create(std::move(dependencies));
  }

  // The engine's way in: the deep links installed as its hooks, as the
  // composition root installs them.
  std::shared_ptr<GWLDeepLinkHooks> hooks() {
    GWLInstalledHook<GWLDeepLinkHooks>::install(deepLinks_);
    return GWLInstalledHook<GWLDeepLinkHooks>::get();
  }

  // Replaces the app environment (the Info dictionary and launch arguments).
  void setInfo(const platform::Dictionary& info, std::vector<std::string> arguments = {"tabulo"}) {
    const std::string path = (setup_.tmp.path() / "Info.plist").string();
    ASSERT_TRUE(platform::PropertyList::writeFile(path, platform::Object(info), platform::PropertyListFormat::XML));
    platform::AppEnvironment::Configuration configuration;
    configuration.infoDictionaryPath = path;
    configuration.arguments = std::move(arguments);
    environment_ = platform::AppEnvironment::create(configuration);
    ASSERT_TRUE(environment_);
    if (deepLinks_) deepLinks_ = makeDeepLinks();
  }

  // Runs the campaign step on the worker queue; answers the events it logged.
  std::vector<std::shared_ptr<GWLEvent>> campaign(const std::optional<std::string>& url,
                                                  const platform::Dictionary& extras = {},
                                                  std::optional<int64_t> clickMs = std::nullopt,
                                                  double eventTime = kNow) {
    engine_->onWorkerQueue([&] { deepLinks_->handleOpenURLOnWorkerQueue(url, clickMs, eventTime, extras); });
    return engine_->takeEvents();
  }

  // The stored ad campaign info, decoded; null when none is stored.
  std::shared_ptr<GWLPBAdCampaignInfo> storedCampaignInfo() {
    auto buffer = persistedConfig_->adCampaignInfoBuffer();
    if (!buffer || !buffer->bytesValue()) return nullptr;
    return GWLPBAdCampaignInfo::initWithBuffer(*buffer->bytesValue());
  }

  std::vector<DelegateCall> delegateCalls() {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    return delegateCalls_;
  }

  void setDelegateHandles(bool handles) {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    delegateHandles_ = handles;
  }

  // An event's parameter as a plain object (null when absent).
  static platform::Object parameter(const GWLEvent& event, const std::string& name) {
    auto found = event.parameters().find(name);
    return found == event.parameters().end() ? platform::Object() : found->second.objectValue();
  }

  // The codes of the reports printed since the last call.
  std::vector<int64_t> codes() {
    std::vector<int64_t> result;
    for (const auto& report : reports()) result.push_back(report.code);
    return result;
  }

  foundation_test::DataDirectory data_;  // the persisted settings' file lies here
  std::shared_ptr<GWLUserDefaults> defaults_;
  std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  std::shared_ptr<DeepLinkTestEngine> engine_;
  std::shared_ptr<platform::MainQueue> mainQueue_ = platform::MainQueue::create();
  std::shared_ptr<platform::AppEnvironment> environment_;
  std::shared_ptr<GWLMeasurementDeepLinks> deepLinks_;
  std::optional<GWLServiceHosts> hosts_;
  bool appStoreInstallation_ = false;
  std::mutex delegateMutex_;
  std::vector<DelegateCall> delegateCalls_;
  bool delegateHandles_ = true;
};

}  // namespace deeplink_test
