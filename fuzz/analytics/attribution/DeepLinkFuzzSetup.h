// One set of deep links for a fuzz target's whole run: the quiet library
// monitor, persisted settings in a temporary data directory, the app's shared
// preferences in memory, the test engine of the deep link tests on a manual
// clock, a main queue of its own and an app delegate that handles links while
// `delegateHandles` says so. `reset` puts every input on the same footing.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "analytics/attribution/GWLMeasurementDeepLinks.h"
#include "analytics/attribution/GWLSVTPPreviewHeaders.h"
#include "analytics/foundation/config/GWLPersistedConfig.h"
#include "analytics/wire/GWLPBAdCampaignInfo.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLUserDefaults.h"
#include "fuzz/analytics/foundation/QuietLibraryMonitor.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/storage/Paths.h"
#include "platform/storage/PreferencesStore.h"
#include "tests/analytics/attribution/DeepLinkTestEngine.h"
#include "fuzz/ScratchDirectory.h"

namespace deeplink_fuzz {

inline void check(bool condition) {
  if (!condition) std::abort();
}

struct Setup {
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
  std::shared_ptr<GWLUserDefaults> defaults;
  std::shared_ptr<GWLPersistedConfig> persistedConfig;
  std::shared_ptr<deeplink_test::DeepLinkTestEngine> engine;
  std::shared_ptr<platform::MainQueue> mainQueue = platform::MainQueue::create();
  std::shared_ptr<GWLMeasurementDeepLinks> deepLinks;
  std::atomic<bool> delegateHandles{true};
  std::atomic<int> delegateCalls{0};

  void reset() {
    engine->flush();
    mainQueue->drain();
    engine->flush();
    engine->takeEvents();
    persistedConfig->clearValues();
    defaults->clearAllData();
    GWLSVTPPreviewHeaders::replace(nullptr);
    engine->setFacts({});
    clock->setNow(1'700'000'000.0);
    delegateHandles = true;
    delegateCalls = 0;
  }
};

inline Setup& setup(const char* name) {
  static Setup* made = [name] {
    auto* s = new Setup();
    fuzz_support::installQuietLibraryMonitor();
    const auto root = fuzz_support::processScratchDirectory(name);
    platform::Paths::setCurrent(platform::Paths::open(root.string()));
    auto monitor = GWLLibraryMonitor::monitor();
    s->defaults = std::make_shared<GWLUserDefaults>(platform::PreferencesStore::create("app", "", nullptr, nullptr));
    GWLPersistedConfig::Dependencies persisted;
    persisted.clock = s->clock;
    persisted.sharedUserDefaults = s->defaults;
    persisted.monitor = monitor;
    s->persistedConfig = GWLPersistedConfig::create("com.halcyra.qrx.measurement.fuzz", persisted);
    check(s->persistedConfig != nullptr);
    s->engine = std::make_shared<deeplink_test::DeepLinkTestEngine>(s->persistedConfig, monitor, s->clock);
    GWLMeasurementDeepLinks::Dependencies dependencies;
    dependencies.engine = [engine = s->engine] { return engine; };
    dependencies.monitor = monitor;
    dependencies.userDefaults = s->defaults;
    dependencies.clock = s->clock;
    dependencies.mainQueue = s->mainQueue;
    dependencies.isAppStoreInstallation = [] { return false; };
    dependencies.openURLInAppDelegate = [s](const std::string&, const platform::Dictionary&) {
      ++s->delegateCalls;
      return s->delegateHandles.load();
    };
    s->deepLinks = GWLMeasurementDeepLinks::create(std::move(dependencies));
    return s;
  }();
  return *made;
}

// The campaign event's invariants, and the stored click details decode.
inline void checkCampaignOutcome(Setup& s) {
  auto events = s.engine->takeEvents();
  check(events.size() <= 1);
  for (const auto& event : events) {
    check(event->name() == "_cmp" || event->name() == "_cmpx");
    check(event->origin() == "auto" || event->origin() == "hs");
  }
  auto buffer = s.persistedConfig->adCampaignInfoBuffer();
  if (buffer && buffer->bytesValue()) check(GWLPBAdCampaignInfo::initWithBuffer(*buffer->bytesValue()) != nullptr);
}

}  // namespace deeplink_fuzz
