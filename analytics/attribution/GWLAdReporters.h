// GWLAdReporters — the attribution layer's side of the engine's ad reporting
// hooks (GWLAdReportingHooks): the screen-view reporter's calls go to the ad
// exposure reporter, and the engine's search-ads reporter is made, kept and
// switched here. The composition root installs one with
// GWLInstalledHook<GWLAdReportingHooks>::install.
//
// Threads: as the hooks say (screen calls from the screen-view reporter's
// thread, the search-ads calls from the worker queue); the kept reporter is
// guarded by a mutex, so `searchAdReporter` may be read on any thread.
#pragma once

#include <memory>

#include "analytics/attribution/GWLAdExposureReporter.h"
#include "analytics/attribution/GWLSearchAdReporter.h"
#include "analytics/foundation/config/GWLAdReportingHooks.h"
#include "platform/util/Mutex.h"

struct GWLAdReportersDependencies {
  // Receives the screen calls; the shared instance when null.
  std::shared_ptr<GWLAdExposureReporter> adExposureReporter;
  // What each search-ads reporter is made with (its endpoint among them).
  GWLSearchAdReporterDependencies searchAds;
};

class GWLAdReporters : public GWLAdReportingHooks {
 public:
  using Dependencies = GWLAdReportersDependencies;

  explicit GWLAdReporters(Dependencies dependencies = {}) : dependencies_(std::move(dependencies)) {}

  void handleScreenDidChangeFromScreen(std::shared_ptr<const GWLScreen> previous,
                                       std::shared_ptr<const GWLScreen> next) override;
  void handleAppDidBecomeActive() override;
  void handleAppWillResignActiveWithScreen(std::shared_ptr<const GWLScreen> screen) override;

  void startSearchAdReporter(std::shared_ptr<platform::Queue> workerQueue,
                             std::shared_ptr<GWLPersistedConfig> persistedConfig) override;
  void setSearchAdReporterEnabled(bool enabled) override;

  // The reporter the last start made; null when it made none.
  std::shared_ptr<GWLSearchAdReporter> searchAdReporter() const;

 private:
  std::shared_ptr<GWLAdExposureReporter> adExposureReporter() const;

  const Dependencies dependencies_;
  mutable platform::Mutex mutex_;
  std::shared_ptr<GWLSearchAdReporter> searchAdReporter_ ABSL_GUARDED_BY(mutex_);
};
